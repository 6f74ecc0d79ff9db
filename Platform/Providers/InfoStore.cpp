#include "InfoStore.h"

#include <atomic>
#include <cstdio>
#include <ctime>
#include <map>
#include <mutex>
#include <optional>

#include "Profiles.h"
#include "ProviderFolder.h"
#include "Ui.h"

namespace velmo::mapi {

namespace {

using providers::EqualsNoCase;

std::atomic<int> gInitialized{0};
std::atomic<int> gSessions{0};
std::atomic<int> gStores{0};
std::atomic<int> gTables{0};

// ---- Store files --------------------------------------------------------

using PropMap = std::map<uint32_t, SPropValue>;

struct StoreFile {
  std::string organization;
  std::string site;
  bool hasPrivate = false;
  bool hasPublic = false;
  std::vector<PropMap> mailboxes;
  std::vector<PropMap> folders;
};

enum class Kind { Text, Size, Long, Time };

struct Column {
  uint32_t tag;  // for Size: PR_MESSAGE_SIZE (PR_MESSAGE_SIZE_EXTENDED is added too)
  Kind kind;
};

const std::vector<Column> kMailboxColumns = {
    {PR_DISPLAY_NAME, Kind::Text},       {PR_NT_USER_NAME, Kind::Text},
    {PR_MESSAGE_SIZE, Kind::Size},       {PR_CONTENT_COUNT, Kind::Long},
    {PR_LAST_LOGON_TIME, Kind::Time},    {PR_LAST_LOGOFF_TIME, Kind::Time},
    {PR_EMAIL_ADDRESS, Kind::Text},      {PR_STORAGE_LIMIT_INFORMATION, Kind::Long},
    {PR_ASSOC_CONTENT_COUNT, Kind::Long}};

const std::vector<Column> kFolderColumns = {
    {PR_DISPLAY_NAME, Kind::Text},   {PR_MESSAGE_SIZE, Kind::Size},     {PR_CONTENT_COUNT, Kind::Long},
    {PR_CREATION_TIME, Kind::Time},  {PR_LAST_ACCESS_TIME, Kind::Time}, {PR_OWNER_COUNT, Kind::Long},
    {PR_CONTACT_COUNT, Kind::Long},  {PR_FOLDER_PATHNAME, Kind::Text},  {PR_ASSOC_CONTENT_COUNT, Kind::Long}};

// Why a row cannot be read, or "" when it was.
std::string ParseRow(const providers::Record& r, const std::vector<Column>& columns, PropMap& row) {
  for (size_t i = 0; i < columns.size(); ++i) {
    const std::string& text = r.Field(i);
    if (text.empty()) continue;  // absent property
    const Column& c = columns[i];
    auto field = [&] { return "field " + std::to_string(i + 1) + " '" + text + "'"; };
    SPropValue v;
    v.ulPropTag = c.tag;
    switch (c.kind) {
      case Kind::Text:
        v.lpszA = text;
        break;
      case Kind::Long: {
        bool negative = text[0] == '-';
        auto n = providers::ParseNumber(negative ? text.substr(1) : text);
        if (!n || *n > 0x80000000ull || (!negative && *n > 0x7FFFFFFFull)) return field() + " is not a 32-bit number";
        v.l = negative ? static_cast<int32_t>(-static_cast<int64_t>(*n)) : static_cast<int32_t>(*n);
        break;
      }
      case Kind::Size: {
        auto n = providers::ParseNumber(text);
        if (!n || *n > static_cast<uint64_t>(INT64_MAX)) return field() + " is not a size in bytes";
        SPropValue wide;
        wide.ulPropTag = PR_MESSAGE_SIZE_EXTENDED;
        wide.li = static_cast<int64_t>(*n);
        row[wide.ulPropTag] = wide;
        // The 32-bit property carries the low half, as the store gives it.
        v.l = static_cast<int32_t>(static_cast<uint32_t>(*n));
        break;
      }
      case Kind::Time:
        if (!ParseFileTime(text, v.ft)) return field() + " is not a time yyyy-mm-dd hh:mm:ss";
        break;
    }
    row[c.tag] = std::move(v);
  }
  for (size_t i = columns.size(); i < r.fields.size(); ++i)
    if (!r.fields[i].empty())
      return "a line has " + std::to_string(columns.size()) + " fields, this one " + std::to_string(r.fields.size());
  return "";
}

// A store file: a line that cannot be read is logged and left out, and the
// rest of the file is read.
StoreFile ParseStoreFile(const providers::ProviderText& text) {
  StoreFile out;
  for (const auto& s : providers::ParseSections(text.bytes, &text.bad)) {
    if (EqualsNoCase(s.name, "Server")) {
      for (const auto& r : s.records) {
        // "Key=Value" or "Key<TAB>Value"
        std::string key = r.Field(0), value = r.Field(1);
        if (auto eq = key.find('='); eq != std::string::npos) {
          value = key.substr(eq + 1);
          key = key.substr(0, eq);
        }
        while (!key.empty() && key.back() == ' ') key.pop_back();
        while (!value.empty() && value.front() == ' ') value.erase(0, 1);
        if (EqualsNoCase(key, "Organization")) out.organization = value;
        else if (EqualsNoCase(key, "Site")) out.site = value;
        else text.bad.Report(r.line, "[Server] holds Organization=... and Site=... lines");
      }
    } else if (EqualsNoCase(s.name, "Private") || EqualsNoCase(s.name, "Public")) {
      const bool isPrivate = EqualsNoCase(s.name, "Private");
      (isPrivate ? out.hasPrivate : out.hasPublic) = true;
      for (const auto& r : s.records) {
        PropMap row;
        if (std::string why = ParseRow(r, isPrivate ? kMailboxColumns : kFolderColumns, row); !why.empty())
          text.bad.Report(r.line, why);
        else
          (isPrivate ? out.mailboxes : out.folders).push_back(std::move(row));
      }
    } else {
      for (const auto& r : s.records)
        text.bad.Report(r.line, s.name.empty() ? "a line before the first section"
                                               : "a line in the unknown section [" + s.name + "]");
    }
  }
  return out;
}

// The store file of a server, as it is now; nullptr when there is none or
// it cannot be read.
std::shared_ptr<const StoreFile> LoadStoreFile(const std::string& server) {
  static providers::ProviderCache<StoreFile> cache("Information store");
  if (server.empty() || server.find_first_of("/\\") != std::string::npos) return nullptr;
  return cache.Get("stores/" + server + ".txt", ParseStoreFile);
}

// ---- Objects ------------------------------------------------------------

bool SameValue(const SPropValue& a, const SPropValue& b) {
  if (a.ulPropTag != b.ulPropTag) return false;
  switch (PROP_TYPE(a.ulPropTag)) {
    case PT_LONG: return a.l == b.l;
    case PT_I8: return a.li == b.li;
    case PT_SYSTIME: return a.ft == b.ft;
    case PT_STRING8: return EqualsNoCase(a.lpszA, b.lpszA);
    case PT_BINARY: return a.bin == b.bin;
    default: return false;
  }
}

class MemoryTable : public IMAPITable {
 public:
  explicit MemoryTable(std::vector<PropMap> rows) : rows_(std::move(rows)) { ++gTables; }
  ~MemoryTable() override { --gTables; }
  int32_t QueryAllRows(const std::vector<uint32_t>& columns, const SPropertyRestriction* restriction,
                       std::vector<SRow>& rows) override {
    rows.clear();
    if (restriction && restriction->relop != RELOP_EQ) return MAPI_E_NO_SUPPORT;
    for (const auto& r : rows_) {
      if (restriction) {
        auto it = r.find(restriction->ulPropTag);
        if (it == r.end() || !SameValue(it->second, restriction->prop)) continue;
      }
      SRow out;
      out.reserve(columns.size());
      for (uint32_t tag : columns) {
        auto it = r.find(tag);
        if (it != r.end()) {
          out.push_back(it->second);
        } else {
          SPropValue missing;
          missing.ulPropTag = CHANGE_PROP_TYPE(tag, PT_ERROR);
          missing.err = MAPI_E_NOT_FOUND;
          out.push_back(missing);
        }
      }
      rows.push_back(std::move(out));
    }
    return S_OK;
  }

 private:
  std::vector<PropMap> rows_;
};

// "/o=ORG/ou=SITE/cn=Configuration/cn=Servers/cn=SERVER" -> its parts.
bool ParseServerDn(const std::string& dn, std::string& org, std::string& site, std::string& server) {
  std::vector<std::string> parts;
  std::string piece;
  for (size_t i = 0; i <= dn.size(); ++i) {
    if (i == dn.size() || dn[i] == '/') {
      if (!piece.empty()) parts.push_back(piece);
      piece.clear();
    } else {
      piece += dn[i];
    }
  }
  auto value = [](const std::string& p, const char* type) -> std::optional<std::string> {
    auto eq = p.find('=');
    if (eq == std::string::npos || !EqualsNoCase(p.substr(0, eq), type)) return std::nullopt;
    return p.substr(eq + 1);
  };
  if (parts.size() != 5) return false;
  auto o = value(parts[0], "o"), ou = value(parts[1], "ou"), conf = value(parts[2], "cn"),
       servers = value(parts[3], "cn"), cn = value(parts[4], "cn");
  if (!o || !ou || !conf || !servers || !cn) return false;
  if (!EqualsNoCase(*conf, "Configuration") || !EqualsNoCase(*servers, "Servers")) return false;
  org = *o;
  site = *ou;
  server = *cn;
  return true;
}

class FileManageStore : public IExchangeManageStore {
 public:
  FileManageStore() { ++gStores; }
  ~FileManageStore() override { --gStores; }
  int32_t GetMailboxTable(const std::string& dn, std::unique_ptr<IMAPITable>& table, uint32_t) override {
    return Open(dn, true, table);
  }
  int32_t GetPublicFolderTable(const std::string& dn, std::unique_ptr<IMAPITable>& table, uint32_t) override {
    return Open(dn, false, table);
  }

 private:
  static int32_t Open(const std::string& dn, bool mailboxes, std::unique_ptr<IMAPITable>& table) {
    std::string org, site, server;
    if (!ParseServerDn(dn, org, site, server)) return MAPI_E_INVALID_PARAMETER;
    auto file = LoadStoreFile(server);
    if (!file) return MAPI_E_NOT_FOUND;
    if ((!file->organization.empty() && !EqualsNoCase(file->organization, org)) ||
        (!file->site.empty() && !EqualsNoCase(file->site, site)))
      return MAPI_E_NOT_FOUND;
    if (mailboxes ? !file->hasPrivate : !file->hasPublic) return MAPI_E_NOT_FOUND;
    table = std::make_unique<MemoryTable>(mailboxes ? file->mailboxes : file->folders);
    return S_OK;
  }
};

class FileMsgStore : public IMsgStore {
 public:
  FileMsgStore() { ++gStores; }
  ~FileMsgStore() override { --gStores; }
  int32_t QueryInterface(const Guid& iid, std::unique_ptr<IExchangeManageStore>& out) override {
    if (iid != IID_IExchangeManageStore) return E_NOINTERFACE;
    out = std::make_unique<FileManageStore>();
    return S_OK;
  }
  int32_t StoreLogoff(uint32_t) override { return S_OK; }
};

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

class FileSession : public IMAPISession {
 public:
  explicit FileSession(Profile profile) : profile_(std::move(profile)) { ++gSessions; }
  ~FileSession() override = default;  // a session never logged off stays counted

  int32_t GetMsgStoresTable(uint32_t, std::unique_ptr<IMAPITable>& table) override {
    if (loggedOff_) return MAPI_E_CALL_FAILED;
    auto file = LoadStoreFile(profile_.homeServer);
    std::vector<PropMap> rows;
    auto add = [&](const std::string& entry, const Guid& provider, const std::string& name) {
      PropMap r;
      SPropValue id, prov, display;
      id.ulPropTag = PR_ENTRYID;
      id.bin = Bytes(entry);
      prov.ulPropTag = PR_MDB_PROVIDER;
      prov.bin.assign(provider.begin(), provider.end());
      display.ulPropTag = PR_DISPLAY_NAME;
      display.lpszA = name;
      r[id.ulPropTag] = id;
      r[prov.ulPropTag] = prov;
      r[display.ulPropTag] = display;
      rows.push_back(std::move(r));
    };
    add("private:" + profile_.homeServer, pbExchangeProviderPrimaryUserGuid, "Mailbox - " + profile_.name);
    if (file && file->hasPublic) add("public:" + profile_.homeServer, pbExchangeProviderPublicGuid, "Public Folders");
    table = std::make_unique<MemoryTable>(std::move(rows));
    return S_OK;
  }

  int32_t OpenMsgStore(long, const std::vector<uint8_t>& entryId, uint32_t,
                       std::unique_ptr<IMsgStore>& store) override {
    if (loggedOff_) return MAPI_E_CALL_FAILED;
    const std::string id(entryId.begin(), entryId.end());
    const std::string privateId = "private:" + profile_.homeServer, publicId = "public:" + profile_.homeServer;
    if (id != privateId && id != publicId) return MAPI_E_NOT_FOUND;
    // The home server must be there to open a store on it.
    if (!LoadStoreFile(profile_.homeServer)) return MAPI_E_NETWORK_ERROR;
    store = std::make_unique<FileMsgStore>();
    return S_OK;
  }

  int32_t Logoff(long, uint32_t) override {
    if (!loggedOff_) {
      loggedOff_ = true;
      --gSessions;
    }
    return S_OK;
  }

 private:
  Profile profile_;
  bool loggedOff_ = false;
};

class FileMapi : public MapiSubsystem {
 public:
  int32_t Initialize(uint32_t) override {
    ++gInitialized;
    return S_OK;
  }
  void Uninitialize() override {
    if (gInitialized > 0) --gInitialized;
  }
  int32_t LogonEx(long uiParam, const std::string& profileName, const std::string&, uint32_t flags,
                  std::unique_ptr<IMAPISession>& session) override {
    if (gInitialized <= 0) return MAPI_E_NOT_INITIALIZED;
    std::string name = profileName;
    if (name.empty()) {
      if (!(flags & MAPI_LOGON_UI)) return MAPI_E_LOGON_FAILED;
      std::vector<std::string> names;
      for (const auto& p : ReadProfiles()) names.push_back(p.name);
      if (!ui::Ui().ChooseProfile(names, uiParam, name)) return MAPI_E_USER_CANCEL;
    }
    auto profile = FindProfile(name);
    if (!profile) return MAPI_E_LOGON_FAILED;
    session = std::make_unique<FileSession>(*profile);
    return S_OK;
  }
};

std::mutex gSubsystemMutex;
std::shared_ptr<MapiSubsystem>& Installed() {
  static std::shared_ptr<MapiSubsystem> s = std::make_shared<FileMapi>();
  return s;
}
std::shared_ptr<MapiSubsystem> Current() {
  std::lock_guard g(gSubsystemMutex);
  return Installed();
}

}  // namespace

const SPropValue* PpropFindProp(const SRow& row, uint32_t tag) {
  for (const auto& v : row)
    if (v.ulPropTag == tag) return &v;
  return nullptr;
}

int32_t MAPIInitialize(uint32_t flags) { return Current()->Initialize(flags); }
void MAPIUninitialize() { Current()->Uninitialize(); }
int32_t MAPILogonEx(long uiParam, const std::string& profileName, const std::string& password, uint32_t flags,
                    std::unique_ptr<IMAPISession>& session) {
  return Current()->LogonEx(uiParam, profileName, password, flags, session);
}

std::shared_ptr<MapiSubsystem> SetMapiSubsystem(std::shared_ptr<MapiSubsystem> subsystem) {
  std::lock_guard g(gSubsystemMutex);
  auto previous = Installed();
  Installed() = subsystem ? std::move(subsystem) : std::make_shared<FileMapi>();
  return previous;
}

OpenCounts FileMapiOpenCounts() { return {gInitialized.load(), gSessions.load(), gStores.load(), gTables.load()}; }

bool ParseFileTime(const std::string& text, uint64_t& fileTime) {
  int y, mo, d, h = 0, mi = 0, s = 0;
  char tail = 0;
  int n = std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail);
  if (n != 3 && n != 6) return false;
  if (y < 1601 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60) return false;
  // Days from 1970-01-01 (proleptic Gregorian calendar).
  auto days = [](int64_t yy, unsigned mm, unsigned dd) {
    yy -= mm <= 2;
    const int64_t era = (yy >= 0 ? yy : yy - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(yy - era * 400);
    const unsigned doy = (153 * (mm + (mm > 2 ? -3 : 9)) + 2) / 5 + dd - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
  };
  const int64_t seconds = days(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * 86400 + h * 3600 + mi * 60 + s;
  constexpr int64_t kEpochDiff = 11644473600;  // seconds from 1601 to 1970
  fileTime = static_cast<uint64_t>(seconds + kEpochDiff) * 10000000ull;
  return true;
}

int64_t FileTimeToUnixSeconds(uint64_t fileTime) {
  return static_cast<int64_t>(fileTime / 10000000ull) - 11644473600;
}

}  // namespace velmo::mapi
