#include "AccountNames.h"

#include <filesystem>
#include <unordered_map>

#include "ProviderFolder.h"
#include "SecurityDescriptor.h"

namespace velmo::accounts {

namespace {

struct WellKnown {
  const char* sid;
  const char* domain;
  const char* name;
};

constexpr WellKnown kWellKnown[] = {
    {"S-1-1-0", "", "Everyone"},
    {"S-1-3-0", "", "CREATOR OWNER"},
    {"S-1-5-7", "NT AUTHORITY", "ANONYMOUS LOGON"},
    {"S-1-5-11", "NT AUTHORITY", "Authenticated Users"},
    {"S-1-5-18", "NT AUTHORITY", "SYSTEM"},
    {"S-1-5-32-544", "BUILTIN", "Administrators"},
    {"S-1-5-32-545", "BUILTIN", "Users"},
};

// SIDs in the map file may be written with any letter case ("s-1-5-..."),
// so both sides are normalised through the binary form.
std::string Canonical(const std::string& text) {
  auto bytes = sec::SidFromString(text);
  return bytes ? sec::SidToString(*bytes) : std::string();
}

using AccountMap = std::unordered_map<std::string, AccountName>;

// "SID <TAB> domain <TAB> name" lines; a line of another form is logged and
// left out, the first line of a SID wins.
AccountMap ParseAccounts(const providers::ProviderText& text) {
  AccountMap bySid;
  for (const auto& r : providers::ParseRecords(text.bytes, &text.bad)) {
    std::string key = Canonical(r.Field(0));
    if (key.empty()) {
      text.bad.Report(r.line, "'" + r.Field(0) + "' is not a SID");
    } else if (r.fields.size() != 3 || r.Field(2).empty()) {
      text.bad.Report(r.line, "a line holds a SID, a domain and an account name, separated by TAB");
    } else if (!bySid.count(key)) {
      bySid[key] = AccountName{r.Field(2), r.Field(1)};
    }
  }
  return bySid;
}

// The account map, read again whenever the file changes.
bool FindInMap(const std::string& sid, AccountName& account) {
  static providers::ProviderCache<AccountMap> cache("Account names");
  auto map = cache.Get("accounts.txt", ParseAccounts);
  if (!map) return false;
  auto it = map->find(sid);
  if (it == map->end()) return false;
  account = it->second;
  return true;
}

// The account of a SID in its canonical text form.
uint32_t Lookup(const std::string& sid, AccountName& account) {
  if (FindInMap(sid, account)) return ERROR_SUCCESS;
  for (const auto& w : kWellKnown) {
    if (sid == w.sid) {
      account.domain = w.domain;
      account.name = w.name;
      return ERROR_SUCCESS;
    }
  }
  return ERROR_NONE_MAPPED;
}

}  // namespace

uint32_t LookupAccountSidText(const std::string& sidText, AccountName& account) {
  const std::string sid = Canonical(sidText);
  if (sid.empty()) return ERROR_INVALID_SID;
  return Lookup(sid, account);
}

uint32_t LookupAccountSid(std::span<const uint8_t> sid, AccountName& account) {
  if (!sec::IsValidSid(sid)) return ERROR_INVALID_SID;
  // The text of a binary SID is canonical already.
  return Lookup(sec::SidToString(sid), account);
}

}  // namespace velmo::accounts
