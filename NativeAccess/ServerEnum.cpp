// GetDomains, GetExchangeServers and IsExchServer over the network's server
// list and the service control managers of its machines.
#include "Exch55.h"
#include "NetServers.h"

namespace velmorccom {

namespace {

using namespace velmo::net;

// Either of these running marks an Exchange server.
constexpr const char* kExchangeServices[] = {"MSExchangeDX", "MSExchangeMTA", "MSExchangeSA"};

// True when one of the services opens on an open service manager. Every
// handle is closed before returning.
bool HasExchangeService(const ScHandle& manager) {
  for (const char* name : kExchangeServices) {
    ScHandle service;
    if (OpenService(manager, name, GENERIC_READ, service) == 0) return true;
  }
  return false;
}

// The probe of one machine; false when its service manager cannot be opened.
bool IsExchangeMachine(const std::string& machine) {
  ScHandle manager;
  if (OpenSCManager(machine, GENERIC_READ, manager) != 0) return false;
  return HasExchangeService(manager);
}

}  // namespace

int32_t Exch55::GetDomains(int32_t& varNumDomains, std::vector<std::string>& varDomains) {
  ClearError();
  std::vector<SERVER_INFO_101> entries;
  uint32_t code = NetServerEnum("", SV_TYPE_DOMAIN_ENUM, "", entries);
  if (code != NERR_Success && code != ERROR_MORE_DATA) return ReportSystemError(code);
  if (entries.empty()) return 0;  // no buffer: the outputs stay as they were
  std::vector<std::string> names;
  names.reserve(entries.size());
  for (const auto& e : entries) names.push_back(e.sv101_name);
  varNumDomains = static_cast<int32_t>(names.size());
  varDomains = std::move(names);
  return 0;
}

int32_t Exch55::GetExchangeServers(const std::string& bstrDomainName, int32_t& varNumServers,
                                   std::vector<std::string>& varServers) {
  ClearError();
  std::vector<SERVER_INFO_101> entries;
  uint32_t code = NetServerEnum("", SV_TYPE_DOMAIN_CTRL | SV_TYPE_DOMAIN_BAKCTRL | SV_TYPE_SERVER_NT,
                                bstrDomainName, entries);
  if (code != NERR_Success && code != ERROR_MORE_DATA) return ReportSystemError(code);
  std::vector<std::string> found;
  for (const auto& e : entries) {
    if (!(e.sv101_type & (SV_TYPE_DOMAIN_CTRL | SV_TYPE_DOMAIN_BAKCTRL | SV_TYPE_SERVER_NT))) continue;
    if (IsExchangeMachine("\\\\" + e.sv101_name)) found.push_back(e.sv101_name);
  }
  varNumServers = static_cast<int32_t>(found.size());
  varServers = std::move(found);
  return 0;
}

int32_t Exch55::IsExchServer(const std::string& bstrServerName, int32_t& blnRetVal) {
  ClearError();
  ScHandle manager;
  uint32_t code = OpenSCManager(bstrServerName, GENERIC_READ, manager);
  if (code != 0) {
    blnRetVal = 0;
    return ReportSystemError(code);
  }
  blnRetVal = HasExchangeService(manager) ? 1 : 0;
  return 0;
}

}  // namespace velmorccom
