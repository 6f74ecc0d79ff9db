// FormatSystemError: message texts of the codes the platform services
// hand to this library.
#include <map>

#include "Exch55.h"

namespace velmorccom {

std::string FormatSystemError(uint32_t code) {
  if (code == 2351) return "This Computer Name is Invalid";
  static const std::map<uint32_t, const char*> kTexts = {
      // Network, service manager and account lookup.
      {5, "Access is denied."},
      {6, "The handle is invalid."},
      {53, "The network path was not found."},
      {234, "More data is available."},
      {1060, "The specified service does not exist as an installed service."},
      {1332, "No mapping between account names and security IDs was done."},
      {1337, "The security ID structure is invalid."},
      {1722, "The RPC server is unavailable."},
      {6118, "The list of servers for this workgroup is not currently available"},
      // Messaging.
      {0x80004002, "No such interface supported"},
      {0x80004005, "Unspecified error"},
      {0x80070057, "The parameter is incorrect."},
      {0x80040102, "The information store does not support this operation."},
      {0x8004010F, "The requested object was not found."},
      {0x80040111, "The logon to the mail profile failed."},
      {0x80040115, "The server could not be reached over the network."},
      {0x8004011B, "The information store returned data that could not be read."},
      {0x80040605, "The messaging subsystem is not initialized."},
      {0x800B0001, "The profile has no information store of the requested kind."},
  };
  auto it = kTexts.find(code);
  return it == kTexts.end() ? std::string() : std::string(it->second);
}

}  // namespace velmorccom
