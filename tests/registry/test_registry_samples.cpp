// The sample servers' registry snapshots: they load, and they hold the keys
// and values the collector reads, with the cases it has to cope with.
#include <algorithm>
#include <set>

#include "RegistryTestUtil.h"
#include "TestHome.h"

namespace velmo::test {
namespace {

const std::string kServices = "SYSTEM\\CurrentControlSet\\Services\\";
const std::filesystem::path kSamples = std::filesystem::path(VELMO_SOURCE_DIR) / "sample" / "providers";

// Subkey names read with a 32-character buffer; names that do not fit are
// read again with the size asked for and listed in tooLong.
std::vector<std::string> Subkeys32(HKEY key, std::vector<std::string>& tooLong) {
  std::vector<std::string> names;
  for (DWORD i = 0;; ++i) {
    std::vector<char> buf(32);
    DWORD n = 32;
    LONG rc = RegEnumKeyExA(key, i, buf.data(), &n, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_MORE_DATA) {
      buf.resize(n);
      rc = RegEnumKeyExA(key, i, buf.data(), &n, nullptr, nullptr, nullptr, nullptr);
      tooLong.emplace_back(buf.data(), n);
    }
    if (rc != ERROR_SUCCESS) return names;
    names.emplace_back(buf.data(), n);
  }
}

// The values of a diagnostics key: the numbers, and "key|name" of the others.
void ReadLevels(HKEY root, const std::string& path, std::multiset<DWORD>& levels,
                std::vector<std::string>& notNumbers) {
  HKEY key = Open(root, path);
  auto names = Names(key, true);
  EXPECT_FALSE(names.empty()) << path;
  for (const auto& name : names) {
    DWORD level = 0;
    if (QueryDword(key, name.c_str(), level) == ERROR_SUCCESS)
      levels.insert(level);
    else
      notNumbers.push_back(path + "|" + name);
  }
  RegCloseKey(key);
}

class Samples : public RegistryTest {
 protected:
  ProvidersFolder folder{kSamples};
};

TEST_F(Samples, OneSnapshotPerServerInBothFormats) {
  std::set<std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(kSamples / "registry"))
    if (e.path().extension() == ".reg") files.insert(e.path().filename().string());
  EXPECT_EQ(files, (std::set<std::string>{"EX1.reg", "EX2.reg", "EX10.reg"}));
  for (const auto& f : files) {
    std::string error;
    EXPECT_TRUE(ValidateSnapshot(kSamples / "registry" / f, &error)) << f << ": " << error;
  }
  EXPECT_EQ(TestHome::Slurp(kSamples / "registry" / "EX1.reg").substr(0, 8), "REGEDIT4");
  EXPECT_EQ(TestHome::Slurp(kSamples / "registry" / "EX10.reg").substr(0, 10), Utf16File("Wind"));
}

TEST_F(Samples, DiagnosticsKeys) {
  for (const char* server : {"EX1", "EX2", "EX10"}) {
    SCOPED_TRACE(server);
    HKEY root = Connect(server);
    HKEY diag = Open(root, kServices + "MSExchangeIS\\Diagnostics");
    std::vector<std::string> tooLong, inner;
    auto categories = Subkeys32(diag, tooLong);
    RegCloseKey(diag);
    // Store categories, one name too long for 32 characters, and categories
    // after "Internet Protocols" and after the long name.
    auto at = [&](const std::string& tail) {
      return std::find_if(categories.begin(), categories.end(),
                          [&](const std::string& s) { return s.size() > tail.size() && s.ends_with(" " + tail); }) -
             categories.begin();
    };
    for (const char* c : {"Private", "Public", "System"}) EXPECT_LT(at(c), static_cast<long>(categories.size()));
    ASSERT_EQ(tooLong.size(), 1u);
    EXPECT_GT(tooLong[0].size(), 31u);
    auto longAt = std::find(categories.begin(), categories.end(), tooLong[0]) - categories.begin();
    EXPECT_LT(at("Internet Protocols"), longAt);
    EXPECT_LT(longAt + 1, static_cast<long>(categories.size()));

    std::multiset<DWORD> levels;
    std::vector<std::string> notNumbers;
    for (const auto& c : categories) {
      std::string path = kServices + "MSExchangeIS\\Diagnostics\\" + c;
      if (c.find("Internet Protocols") == std::string::npos) {
        ReadLevels(root, path, levels, notNumbers);
        continue;
      }
      HKEY ip = Open(root, path);
      auto protocols = Subkeys32(ip, inner);
      RegCloseKey(ip);
      EXPECT_EQ(protocols.size(), 3u);
      for (const auto& p : protocols) ReadLevels(root, path + "\\" + p, levels, notNumbers);
    }
    // One value that is not a number, between numbers of its key.
    ASSERT_EQ(notNumbers.size(), 1u);
    HKEY k = Open(root, notNumbers[0].substr(0, notNumbers[0].find('|')));
    auto names = Names(k, true);
    RegCloseKey(k);
    auto pos = std::find(names.begin(), names.end(), notNumbers[0].substr(notNumbers[0].find('|') + 1)) - names.begin();
    EXPECT_GT(pos, 0);
    EXPECT_LT(pos + 1, static_cast<long>(names.size()));

    // The services with one Diagnostics key; EX2 has no MS Mail connector.
    bool msmi = std::string(server) != "EX2";
    for (const char* service : {"MSExchangeMTA", "MSExchangeIMC", "MSExchangeMSMI"}) {
      std::string path = kServices + service + "\\Diagnostics";
      HKEY h = nullptr;
      LONG rc = RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &h);
      if (h) RegCloseKey(h);
      EXPECT_EQ(rc, (msmi || std::string(service) != "MSExchangeMSMI") ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
      if (rc == ERROR_SUCCESS) ReadLevels(root, path, levels, notNumbers);
    }
    EXPECT_EQ(notNumbers.size(), 1u);
    for (DWORD level : {0u, 1u, 3u, 5u}) EXPECT_GT(levels.count(level), 0u) << level;
    EXPECT_TRUE(std::any_of(levels.begin(), levels.end(), [](DWORD l) { return l == 2 || l == 4 || l > 5; }));
    RegCloseKey(root);
  }
}

TEST_F(Samples, SystemAttendantAndMsMailParameters) {
  const struct {
    const char* server;
    LONG cleaningRc;
    DWORD cleaning;
    LONG msmiRc;
    const char* admin;
    DWORD language, compat, tracking;
  } expects[] = {
      {"EX1", ERROR_SUCCESS, 7, ERROR_SUCCESS, "Administrator", 0, 1, 0},
      {"EX2", ERROR_SUCCESS, 0, ERROR_FILE_NOT_FOUND, "", 0, 0, 0},
      {"EX10", ERROR_FILE_NOT_FOUND, 0, ERROR_SUCCESS, "Rob Stone", 2, 0, 1},
  };
  for (const auto& e : expects) {
    SCOPED_TRACE(e.server);
    HKEY root = Connect(e.server);
    HKEY sa = Open(root, kServices + "MSExchangeSA\\Parameters");
    DWORD cleaning = 0;
    EXPECT_EQ(QueryDword(sa, "OldLogsCleaningInterval(Days)", cleaning), e.cleaningRc);
    EXPECT_EQ(cleaning, e.cleaning);
    RegCloseKey(sa);

    HKEY msmi = nullptr;
    EXPECT_EQ(RegOpenKeyExA(root, (kServices + "MSExchangeMSMI\\Parameters").c_str(), 0, KEY_READ, &msmi),
              e.msmiRc);
    if (msmi) {
      // As the connector reads them: a 256-byte text and three numbers.
      char admin[256];
      DWORD size = sizeof admin, n = 0;
      EXPECT_EQ(RegQueryValueExA(msmi, "AdminAccount", nullptr, nullptr, reinterpret_cast<BYTE*>(admin), &size),
                ERROR_SUCCESS);
      EXPECT_STREQ(admin, e.admin);
      const std::pair<const char*, DWORD> numbers[] = {
          {"ClientLanguage", e.language}, {"Max 3.X Compatibility", e.compat}, {"EnableMessageTracking", e.tracking}};
      for (auto [name, want] : numbers) {
        EXPECT_EQ(QueryDword(msmi, name, n), ERROR_SUCCESS) << name;
        EXPECT_EQ(n, want) << name;
      }
      RegCloseKey(msmi);
    }
    RegCloseKey(root);
  }
}

}  // namespace
}  // namespace velmo::test
