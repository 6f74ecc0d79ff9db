// The permissions bridge: finds the DACL in an object's security
// descriptor and hands it to the native access class, which writes one
// permission row per access-control entry.
#include <span>

#include "ComFactory.h"
#include "Exch55Info.h"
#include "IExch55.h"
#include "SecurityDescriptor.h"

void Exch55Info::GetObjectPermissions(DirObject& obj, const std::string& level, const std::string& displayName,
                                      const std::string& alias, const std::string& table,
                                      const std::string& /*modeText*/, const std::string& homeServer,
                                      const std::string& objectPath) {
  auto writeRows = [&](int32_t aceCount, std::span<const uint8_t> dacl) {
    if (Stopped()) return;
    try {
      if (!callExch55_) callExch55_ = velmo::com::CreateObject<IExch55>("VELMORCCom.Exch55");
      IExch55* exch = callExch55_.get();
      // The native class writes on this thread, so its rows join the
      // call's page (written with the page's other rows, and noted by the
      // call's journal then). A database failure there (it logs its own
      // line) stops the call as a refused write of the collector's does.
      const int32_t hr = exch->GetPermissions(BoundServer, level, displayName, alias, DatabasePath, table, aceCount,
                                              dacl, homeServer, objectPath);
      if (hr < 0) NoteWriteFailure(hr, exch->GetErrorInfo().description, false);
    } catch (...) {
      // A native class that cannot be created is its own matter.
    }
  };

  // A descriptor that cannot be loaded (no right to read it, or none on
  // the object) gives the one row with empty account and role.
  DirValue descriptor;
  bool loaded = true;
  try {
    if (Stopped()) return;
    obj.GetInfoEx({"NT-Security-Descriptor;binary"}, 0);
  } catch (const velmo::ComError& e) {
    // A server gone is no descriptor to write an empty row for.
    NoteDirectoryFailure(e);
    if (Stopped()) return;
    loaded = false;
  } catch (...) {
    loaded = false;
  }
  if (loaded) loaded = ReadValue(obj, "NT-Security-Descriptor", descriptor);
  if (!loaded) {
    writeRows(0, {});
    return;
  }

  // A descriptor without a DACL, or with an empty one, gives no row.
  const std::vector<uint8_t> bytes = descriptor.Bytes();
  bool daclPresent = false, daclDefaulted = false;
  velmo::sec::Bytes dacl;
  if (!velmo::sec::GetSecurityDescriptorDacl(bytes, daclPresent, dacl, daclDefaulted)) return;
  if (!daclPresent || dacl.empty()) return;
  velmo::sec::AclSizeInformation info;
  if (!velmo::sec::GetAclInformation(dacl, info)) return;
  if (info.AceCount < 1) return;
  writeRows(static_cast<int32_t>(info.AceCount), dacl);
}
