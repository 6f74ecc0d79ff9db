#include "AccountNames.h"

#include <filesystem>
#include <map>
#include <mutex>

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

// The account map, read again whenever the file changes.
struct MapCache {
  std::mutex mutex;
  std::filesystem::path file;
  std::filesystem::file_time_type time{};
  uintmax_t size = 0;
  std::map<std::string, AccountName> bySid;
};

bool FindInMap(const std::string& sid, AccountName& account) {
  static MapCache cache;
  auto file = providers::FindProviderFile("accounts.txt");
  std::lock_guard g(cache.mutex);
  if (!file) {
    cache.file.clear();
    cache.bySid.clear();
    return false;
  }
  std::error_code ec;
  auto time = std::filesystem::last_write_time(*file, ec);
  auto size = std::filesystem::file_size(*file, ec);
  if (*file != cache.file || time != cache.time || size != cache.size) {
    cache.bySid.clear();
    std::vector<providers::Record> records;
    providers::ReadRecords(*file, records);
    for (const auto& r : records) {
      std::string key = Canonical(r.Field(0));
      if (!key.empty() && !cache.bySid.count(key)) cache.bySid[key] = AccountName{r.Field(2), r.Field(1)};
    }
    cache.file = *file;
    cache.time = time;
    cache.size = size;
  }
  auto it = cache.bySid.find(sid);
  if (it == cache.bySid.end()) return false;
  account = it->second;
  return true;
}

}  // namespace

uint32_t LookupAccountSidText(const std::string& sidText, AccountName& account) {
  const std::string sid = Canonical(sidText);
  if (sid.empty()) return ERROR_INVALID_SID;

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

uint32_t LookupAccountSid(std::span<const uint8_t> sid, AccountName& account) {
  if (!sec::IsValidSid(sid)) return ERROR_INVALID_SID;
  return LookupAccountSidText(sec::SidToString(sid), account);
}

}  // namespace velmo::accounts
