#pragma once
// The network's domains and servers, and the services of each server: the
// stand-in for NetServerEnum (information level 101) and for the service
// control manager's OpenSCManager / OpenService / CloseServiceHandle.
//
// Backed by "network.txt" in the providers folder (ProviderFolder.h),
// TAB-separated records, one per line:
//   domain <TAB> NAME
//       a domain of the network (domains also come into being by being
//       named on a server line); the domain list keeps first-seen order.
//   server <TAB> DOMAIN <TAB> NAME <TAB> TYPE <TAB> SERVICES [<TAB> ACCESS]
//       a server of a domain, in enumeration order. TYPE: the server-type
//       bits, decimal or 0x-hex (SV_TYPE_* below). SERVICES: the installed
//       services, comma-separated ("-" for none). ACCESS: what opening the
//       server's service control manager gives: "ok" (the default),
//       "denied" (error 5), "unreachable" (error 1722) or an error number.
//   local <TAB> DOMAIN [<TAB> MACHINE]
//       the machine this program runs on: its domain (used when no domain
//       is named) and its own server entry (used when no machine is named).
//       Without it the first domain is the local one.
//   error <TAB> domains <TAB> CODE
//   error <TAB> servers <TAB> DOMAIN <TAB> CODE
//       listing the domains, or the servers of DOMAIN, answers with CODE;
//       234 (more data) still returns the entries.
// Names match without regard to case. A line of another form is logged
// once and left out (ProviderFolder.h). Without the file, or for a domain
// it does not name, listing fails with 6118; an unknown machine's service
// control manager cannot be reached (1722).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velmo::net {

// Return codes.
inline constexpr uint32_t NERR_Success = 0;
inline constexpr uint32_t ERROR_ACCESS_DENIED = 5;
inline constexpr uint32_t ERROR_INVALID_HANDLE = 6;
inline constexpr uint32_t ERROR_BAD_NETPATH = 53;
inline constexpr uint32_t ERROR_MORE_DATA = 234;
inline constexpr uint32_t ERROR_SERVICE_DOES_NOT_EXIST = 1060;
inline constexpr uint32_t RPC_S_SERVER_UNAVAILABLE = 1722;
inline constexpr uint32_t NERR_InvalidComputer = 2351;
inline constexpr uint32_t ERROR_NO_BROWSER_SERVERS_FOUND = 6118;

// Server-type bits.
inline constexpr uint32_t SV_TYPE_WORKSTATION = 0x00000001;
inline constexpr uint32_t SV_TYPE_SERVER = 0x00000002;
inline constexpr uint32_t SV_TYPE_DOMAIN_CTRL = 0x00000008;
inline constexpr uint32_t SV_TYPE_DOMAIN_BAKCTRL = 0x00000010;
inline constexpr uint32_t SV_TYPE_NT = 0x00001000;
inline constexpr uint32_t SV_TYPE_SERVER_NT = 0x00008000;
inline constexpr uint32_t SV_TYPE_DOMAIN_ENUM = 0x80000000;
inline constexpr uint32_t SV_TYPE_ALL = 0xFFFFFFFF;

inline constexpr uint32_t PLATFORM_ID_NT = 500;

struct SERVER_INFO_101 {
  uint32_t sv101_platform_id = PLATFORM_ID_NT;
  std::string sv101_name;
  uint32_t sv101_version_major = 4;
  uint32_t sv101_version_minor = 0;
  uint32_t sv101_type = 0;
  std::string sv101_comment;
};

// NetServerEnum at level 101 as asked from this machine (serverName is
// accepted and ignored). serverType SV_TYPE_DOMAIN_ENUM lists the domains;
// any other value lists the servers of `domain` ("" = the local domain)
// whose type shares a bit with it. Returns NERR_Success, ERROR_MORE_DATA
// (entries filled) or an error code (entries cleared).
uint32_t NetServerEnum(const std::string& serverName, uint32_t serverType, const std::string& domain,
                       std::vector<SERVER_INFO_101>& entries);

inline constexpr uint32_t GENERIC_READ = 0x80000000;

// A service-manager or service handle; closed by Close or when destroyed.
class ScHandle {
 public:
  ScHandle() = default;
  ~ScHandle() { Close(); }
  ScHandle(ScHandle&& o) noexcept : id_(o.id_) { o.id_ = 0; }
  ScHandle& operator=(ScHandle&& o) noexcept;
  ScHandle(const ScHandle&) = delete;
  ScHandle& operator=(const ScHandle&) = delete;
  explicit operator bool() const { return id_ != 0; }
  // CloseServiceHandle; closing an empty handle does nothing.
  void Close();

 private:
  friend uint32_t OpenSCManager(const std::string&, uint32_t, ScHandle&);
  friend uint32_t OpenService(const ScHandle&, const std::string&, uint32_t, ScHandle&);
  uint64_t id_ = 0;
};

// Opens the service control manager of a machine ("EX1" or "\\EX1"; ""
// = this machine). Returns 0 or the error code.
uint32_t OpenSCManager(const std::string& machineName, uint32_t desiredAccess, ScHandle& manager);
// Opens an installed service (names match without regard to case); 1060
// when the machine has no such service, 6 for an empty manager handle.
uint32_t OpenService(const ScHandle& manager, const std::string& serviceName, uint32_t desiredAccess,
                     ScHandle& service);

// Handles currently open, so callers can check that they close them all.
size_t OpenServiceHandleCount();

}  // namespace velmo::net
