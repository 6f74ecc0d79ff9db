// The sample servers' registry snapshots: they load, and they hold the keys
// and values the collector reads, with the cases it has to cope with.
#include <algorithm>
#include <map>
#include <set>

#include "RegistryTestUtil.h"
#include "TestHome.h"

namespace velmo::test {
namespace {

const std::string kServices = "SYSTEM\\CurrentControlSet\\Services\\";

std::filesystem::path SampleProviders() { return std::filesystem::path(VELMO_SOURCE_DIR) / "sample" / "providers"; }

// Subkey names as a caller with a 32-character buffer sees them: the names
// that did not fit are read again with the size the call asked for.
struct Walk {
  std::vector<std::string> names;
  std::vector<std::string> tooLong;
};

Walk Subkeys32(HKEY key) {
  Walk w;
  for (DWORD i = 0;; ++i) {
    std::vector<char> buf(32);
    DWORD n = 32;
    LONG rc = RegEnumKeyExA(key, i, buf.data(), &n, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_MORE_DATA) {
      buf.resize(n);
      rc = RegEnumKeyExA(key, i, buf.data(), &n, nullptr, nullptr, nullptr, nullptr);
      EXPECT_EQ(rc, ERROR_SUCCESS);
      w.tooLong.emplace_back(buf.data(), n);
    }
    if (rc == ERROR_NO_MORE_ITEMS) break;
    EXPECT_EQ(rc, ERROR_SUCCESS);
    if (rc != ERROR_SUCCESS) break;
    w.names.emplace_back(buf.data(), n);
  }
  return w;
}

std::string AfterFirstBlank(const std::string& s) {
  auto p = s.find(' ');
  return p == std::string::npos ? s : s.substr(p + 1);
}

// What the diagnostics keys of one server hold.
struct Diagnostics {
  std::map<std::string, std::vector<std::string>> valuesByKey;  // key path -> value names
  std::multiset<DWORD> levels;
  std::vector<std::string> notDword;  // "key path|value name"
  std::vector<std::string> namesWithoutBlank;
};

void ReadDiagnosticsKey(HKEY root, const std::string& path, Diagnostics& d) {
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS) << path;
  auto& names = d.valuesByKey[path];
  for (DWORD i = 0;; ++i) {
    char name[2000];
    DWORD n = sizeof name;
    DWORD type = 0;
    if (RegEnumValueA(key, i, name, &n, nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, n);
    if (names.back().find(' ') == std::string::npos) d.namesWithoutBlank.push_back(names.back());
    DWORD level = 0;
    if (type == REG_DWORD) {
      EXPECT_EQ(QueryDword(key, name, level), ERROR_SUCCESS);
      d.levels.insert(level);
    } else {
      d.notDword.push_back(path + "|" + names.back());
    }
  }
  RegCloseKey(key);
}

class Samples : public RegistryTest {
 protected:
  ProvidersFolder folder{SampleProviders()};
};

TEST_F(Samples, OneSnapshotPerSampleServerInBothFormats) {
  std::set<std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(SampleProviders() / "registry"))
    if (e.path().extension() == ".reg") files.insert(e.path().filename().string());
  EXPECT_EQ(files, (std::set<std::string>{"EX1.reg", "EX2.reg", "EX10.reg"}));
  for (const auto& f : files) {
    std::string error;
    EXPECT_TRUE(ValidateSnapshot(SampleProviders() / "registry" / f, &error)) << f << ": " << error;
  }
  auto head = [](const char* f) { return TestHome::Slurp(SampleProviders() / "registry" / f).substr(0, 10); };
  EXPECT_EQ(head("EX1.reg").substr(0, 8), "REGEDIT4");
  EXPECT_EQ(head("EX10.reg"), Utf16File("Wind").substr(0, 10));
}

TEST_F(Samples, InformationStoreDiagnostics) {
  for (const char* server : {"EX1", "EX2", "EX10"}) {
    SCOPED_TRACE(server);
    HKEY root = Connect(server);
    HKEY diag = Open(root, (kServices + "MSExchangeIS\\Diagnostics").c_str());
    Walk w = Subkeys32(diag);
    std::vector<std::string> categories;
    for (const auto& s : w.names) categories.push_back(AfterFirstBlank(s));
    // The stores' categories, one name too long for a 32-character buffer,
    // and categories after "Internet Protocols" and after the long one.
    for (const char* c : {"Private", "Public", "System", "Internet Protocols"})
      EXPECT_NE(std::find(categories.begin(), categories.end(), c), categories.end()) << c;
    ASSERT_EQ(w.tooLong.size(), 1u);
    EXPECT_GT(w.tooLong[0].size(), 31u);
    auto protocols = std::find(categories.begin(), categories.end(), "Internet Protocols");
    auto longOne = std::find(w.names.begin(), w.names.end(), w.tooLong[0]);
    EXPECT_LT(protocols - categories.begin(), longOne - w.names.begin());
    EXPECT_LT(longOne - w.names.begin() + 1, static_cast<long>(w.names.size()));

    Diagnostics d;
    for (const auto& s : w.names) {
      std::string path = kServices + "MSExchangeIS\\Diagnostics\\" + s;
      if (s.find("Internet Protocols") == std::string::npos) {
        ReadDiagnosticsKey(root, path, d);
        continue;
      }
      HKEY ip = Open(root, path.c_str());
      Walk inner = Subkeys32(ip);
      RegCloseKey(ip);
      std::set<std::string> protocolNames;
      for (const auto& t : inner.names) {
        protocolNames.insert(AfterFirstBlank(t));
        ReadDiagnosticsKey(root, path + "\\" + t, d);
      }
      EXPECT_EQ(protocolNames, (std::set<std::string>{"IMAP4", "POP3", "NNTP"}));
    }
    for (const auto& [path, names] : d.valuesByKey) EXPECT_FALSE(names.empty()) << path;
    // One value that is not a number, in the middle of its key.
    ASSERT_EQ(d.notDword.size(), 1u);
    auto bar = d.notDword[0].find('|');
    const auto& names = d.valuesByKey[d.notDword[0].substr(0, bar)];
    auto pos = std::find(names.begin(), names.end(), d.notDword[0].substr(bar + 1)) - names.begin();
    EXPECT_GT(pos, 0);
    EXPECT_LT(pos + 1, static_cast<long>(names.size()));
    RegCloseKey(diag);
    RegCloseKey(root);
  }
}

TEST_F(Samples, ServiceDiagnosticsAndLevels) {
  for (const char* server : {"EX1", "EX2", "EX10"}) {
    SCOPED_TRACE(server);
    HKEY root = Connect(server);
    Diagnostics d;
    ReadDiagnosticsKey(root, kServices + "MSExchangeMTA\\Diagnostics", d);
    ReadDiagnosticsKey(root, kServices + "MSExchangeIMC\\Diagnostics", d);
    bool msmi = std::string(server) != "EX2";
    HKEY h = nullptr;
    EXPECT_EQ(RegOpenKeyExA(root, (kServices + "MSExchangeMSMI\\Diagnostics").c_str(), 0, KEY_READ, &h),
              msmi ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
    if (h) RegCloseKey(h);
    if (msmi) ReadDiagnosticsKey(root, kServices + "MSExchangeMSMI\\Diagnostics", d);
    for (const auto& [path, names] : d.valuesByKey) EXPECT_GE(names.size(), 5u) << path;
    EXPECT_TRUE(d.notDword.empty());
    EXPECT_EQ(d.namesWithoutBlank, std::vector<std::string>{"Security"});

    // Across the server: every named level and some number that is none.
    ReadDiagnosticsKey(root, kServices + "MSExchangeIS\\Diagnostics\\9000 Private", d);
    for (DWORD level : {0u, 1u, 3u, 5u}) EXPECT_GT(d.levels.count(level), 0u) << level;
    EXPECT_TRUE(std::any_of(d.levels.begin(), d.levels.end(),
                            [](DWORD l) { return l != 0 && l != 1 && l != 3 && l != 5; }));
    RegCloseKey(root);
  }
}

TEST_F(Samples, SystemAttendantAndMsMailParameters) {
  struct Expect {
    const char* server;
    LONG cleaningRc;
    DWORD cleaning;
    LONG msmiRc;
    const char* admin;
    DWORD language, compat, tracking;
  };
  const Expect expects[] = {
      {"EX1", ERROR_SUCCESS, 7, ERROR_SUCCESS, "Administrator", 0, 1, 0},
      {"EX2", ERROR_SUCCESS, 0, ERROR_FILE_NOT_FOUND, "", 0, 0, 0},
      {"EX10", ERROR_FILE_NOT_FOUND, 0, ERROR_SUCCESS, "Rob Stone", 2, 0, 1},
  };
  for (const auto& e : expects) {
    SCOPED_TRACE(e.server);
    HKEY root = Connect(e.server);
    HKEY sa = Open(root, (kServices + "MSExchangeSA\\Parameters").c_str());
    DWORD cleaning = 0;
    EXPECT_EQ(QueryDword(sa, "OldLogsCleaningInterval(Days)", cleaning), e.cleaningRc);
    EXPECT_EQ(cleaning, e.cleaning);
    RegCloseKey(sa);

    HKEY msmi = nullptr;
    EXPECT_EQ(RegOpenKeyExA(root, (kServices + "MSExchangeMSMI\\Parameters").c_str(), 0, KEY_READ, &msmi),
              e.msmiRc);
    if (msmi) {
      // Read as the connector reads them: a 256-byte text and three numbers.
      char admin[256];
      DWORD size = sizeof admin, type = 0;
      EXPECT_EQ(RegQueryValueExA(msmi, "AdminAccount", nullptr, &type, reinterpret_cast<BYTE*>(admin), &size),
                ERROR_SUCCESS);
      EXPECT_EQ(type, REG_SZ);
      EXPECT_STREQ(admin, e.admin);
      DWORD n = 0;
      EXPECT_EQ(QueryDword(msmi, "ClientLanguage", n), ERROR_SUCCESS);
      EXPECT_EQ(n, e.language);
      EXPECT_EQ(QueryDword(msmi, "Max 3.X Compatibility", n), ERROR_SUCCESS);
      EXPECT_EQ(n, e.compat);
      EXPECT_EQ(QueryDword(msmi, "EnableMessageTracking", n), ERROR_SUCCESS);
      EXPECT_EQ(n, e.tracking);
      RegCloseKey(msmi);
    }
    RegCloseKey(root);
  }
}

}  // namespace
}  // namespace velmo::test
