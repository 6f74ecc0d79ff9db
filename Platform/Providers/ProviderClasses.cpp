// The stand-in classes of this library that callers create by ProgID: the
// mail session and ACL object, and account management. DllRegisterServer
// enters them in the application folder's class registry (the build runs it
// after linking).
#include <string>
#include <utility>
#include <vector>

#include "AcctMgmt.h"
#include "Cdo.h"
#include "ComFactory.h"

VELMO_COM_LIBRARY((std::vector<std::pair<std::string, std::string>>{{"MAPI.Session", "Session"},
                                                                    {"MSExchange.aclobject", "AclObject"},
                                                                    {"MSExchange.AcctMgmt", "AcctMgmt"}}),
                  ([](std::string_view cls) -> velmo::com::ComObject* {
                    if (cls == "Session") return velmo::cdo::NewSession();
                    if (cls == "AclObject") return velmo::cdo::NewAclObject();
                    if (cls == "AcctMgmt") return velmo::acct::NewAcctMgmt();
                    return nullptr;
                  }))
