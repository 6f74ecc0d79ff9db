// The fuzz targets create the mail-session and ACL objects directly
// (NewSession, NewAclObject), so the class factory's registration is not
// needed: registering does nothing here.
#include "ComFactory.h"

namespace velmo::com {
void RegisterBuiltin(const std::string&, std::function<ComObject*()>) {}
}  // namespace velmo::com
