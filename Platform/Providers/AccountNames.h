#pragma once
// Account names of SIDs: the stand-in for LookupAccountSidW, and for the
// account-management component's GetNameFromSid.
//
// Well-known SIDs are built in, with the domain names Windows gives them:
//   S-1-1-0 "Everyone" (no domain), S-1-3-0 "CREATOR OWNER" (no domain),
//   S-1-5-7 "ANONYMOUS LOGON", S-1-5-11 "Authenticated Users",
//   S-1-5-18 "SYSTEM" (all three in "NT AUTHORITY"),
//   S-1-5-32-544 "Administrators", S-1-5-32-545 "Users" (in "BUILTIN").
// Every other SID comes from the organisation's account map, the file
// "accounts.txt" of the providers folder (ProviderFolder.h): lines
//   SID <TAB> domain <TAB> account name
// e.g. "S-1-5-21-1004336348-1177238915-682003330-1106<TAB>CORP<TAB>jsmith".
// The domain may be empty. An entry of the map replaces a built-in one.
// A line of another form is logged once and left out (ProviderFolder.h).
// A SID found in neither fails with ERROR_NONE_MAPPED (1332), an invalid
// SID with ERROR_INVALID_SID (1337).
#include <cstdint>
#include <span>
#include <string>

namespace velmo::accounts {

inline constexpr uint32_t ERROR_SUCCESS = 0;
inline constexpr uint32_t ERROR_NONE_MAPPED = 1332;
inline constexpr uint32_t ERROR_INVALID_SID = 1337;

struct AccountName {
  std::string name;
  std::string domain;
};

// The SID's account, looked up on this machine (no system name).
// Returns ERROR_SUCCESS or the error code; the output is set on success only.
uint32_t LookupAccountSid(std::span<const uint8_t> sid, AccountName& account);
// The same for a SID written as text ("S-1-5-18").
uint32_t LookupAccountSidText(const std::string& sidText, AccountName& account);

}  // namespace velmo::accounts
