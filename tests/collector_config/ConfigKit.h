#pragma once
// What the configuration-reader tests share: a fresh application folder
// with an empty inventory database of the full schema, a copy of the sample
// provider files that a test may change (registry snapshots above all), the
// collector created by ProgID, a scripted UI, readers for rows and log
// lines, and sample directories changed for one test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "AppFolder.h"
#include "AppSchema.h"
#include "ComFactory.h"
#include "Database.h"
#include "Directory.h"
#include "IExch55Info.h"
#include "InventoryKit.h"
#include "RemoteRegistry.h"
#include "SampleDirectory.h"
#include "TestHome.h"
#include "TextFile.h"
#include "ScriptedUi.h"
#include "Ui.h"

namespace config_test {

namespace fs = std::filesystem;
using Cells = std::vector<velmo::db::Value>;
using Texts = std::vector<std::string>;

inline const std::string kOrg = "o=Velmor";
inline const std::string kLake = "o=Velmor/ou=Lakeside";
inline const std::string kHill = "o=Velmor/ou=Hilltop";
inline const std::string kLakeConnections = kLake + "/cn=Configuration/cn=Connections";
inline const std::string kHillConnections = kHill + "/cn=Configuration/cn=Connections";
inline const std::string kAdmin = "dc=CORP,cn=Administrator";  // the sample's Connect As account
inline const std::string kAdminPassword = "secret";
inline const std::string kNoSuchObject = "-2147016656  @@   There is no such object on the server.";

inline Texts TextsOf(const Cells& row) {
  Texts out;
  for (const auto& v : row) out.push_back(v.Text());
  return out;
}

inline Texts operator+(Texts a, const Texts& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline Texts Column(const std::vector<Cells>& rows, size_t i) {
  Texts out;
  for (const auto& r : rows) out.push_back(i < r.size() ? r[i].Text() : "<missing>");
  return out;
}

// Cells [from, to) of a row as texts (to -1: the end).
inline Texts Slice(const Cells& row, size_t from, long to = -1) {
  auto t = TextsOf(row);
  size_t end = to < 0 ? t.size() : static_cast<size_t>(to);
  return Texts(t.begin() + static_cast<long>(from), t.begin() + static_cast<long>(end));
}

class Kit {
 public:
  Kit() {
    velmo::test::CreateInventory(home_.dir());
    fs::copy(velmo::test::TestHome::SourceDir() / "sample" / "providers", providers(), fs::copy_options::recursive);
    ::setenv("VELMORCAST_PROVIDERS", providers().c_str(), 1);
  }
  ~Kit() { ::unsetenv("VELMORCAST_PROVIDERS"); }

  const fs::path& dir() const { return home_.dir(); }
  fs::path providers() const { return home_.dir() / "providers"; }
  fs::path registryFile(const std::string& server) const { return providers() / "registry" / (server + ".reg"); }
  velmo::ui::ScriptedUi& ui() { return ui_.ui(); }

  std::shared_ptr<_Exch55Info> NewCollector() { return velmo::com::CreateObject<_Exch55Info>("VELMO.Exch55Info"); }

  // Rows of a table in insertion order, optionally restricted.
  std::vector<Cells> Rows(const std::string& table, const std::string& where = "") {
    return velmo::test::InventoryRows(home_.dir(), table, where);
  }
  std::vector<Cells> RowsWhere(const std::string& table, const std::string& column, const std::string& value) {
    return Rows(table, "[" + column + "] = " + velmo::db::SqlQuote(value));
  }
  // Cells [from, to) of every row whose column holds value.
  std::vector<Texts> SlicesWhere(const std::string& table, const std::string& column, const std::string& value,
                                 size_t from, long to = -1) {
    std::vector<Texts> out;
    for (const auto& r : RowsWhere(table, column, value)) out.push_back(Slice(r, from, to));
    return out;
  }

  // Calls one collecting method of a new collector and returns the message
  // it leaves; "not touched" shows a method that never set it.
  using CollectMethod = void (_Exch55Info::*)(const std::string&, const std::string&, const std::string&,
                                              std::string*);
  std::string Run(CollectMethod method, const std::string& server, const std::string& user,
                  const std::string& password) {
    std::string err = "not touched";
    ((*NewCollector()).*method)(server, user, password, &err);
    return err;
  }

  Texts LogLines() {
    Texts lines;
    velmo::ReadLines(velmo::WinPath(home_.dir(), "VelmorcastErrorLog.log"), lines);
    return lines;
  }
  // Context (the last field) of every log line.
  Texts Contexts() {
    Texts out;
    for (const auto& l : LogLines()) out.push_back(Fields(l).back());
    return out;
  }
  // The four fields of a log line: time, number, description, context.
  static Texts Fields(const std::string& line) { return velmo::test::LogFields(line); }
  // The log lines whose context is exactly this one.
  std::vector<Texts> LinesOf(const std::string& context) {
    std::vector<Texts> out;
    for (const auto& l : LogLines())
      if (Fields(l).back() == context) out.push_back(Fields(l));
    return out;
  }

 private:
  velmo::test::TestHome home_;
  velmo::test::ScriptedUiScope ui_;
};

// The distinguished names of the sample organisation (velmor.ldif).
inline Texts SampleDns() {
  static const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  auto decode = [](const std::string& in) {
    std::string out;
    int bits = 0, value = 0;
    for (char c : in) {
      auto at = kAlphabet.find(c);
      if (at == std::string::npos) continue;
      value = (value << 6) | static_cast<int>(at);
      bits += 6;
      if (bits >= 8) {
        bits -= 8;
        out += static_cast<char>((value >> bits) & 0xFF);
      }
    }
    return out;
  };
  std::ifstream in(velmo::test::TestHome::SourceDir() / "sample" / "directory" / "velmor.ldif");
  Texts dns;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("dn:: ", 0) == 0)
      dns.push_back(decode(line.substr(5)));
    else if (line.rfind("dn: ", 0) == 0)
      dns.push_back(line.substr(4));
  }
  return dns;
}

// Change records deleting entries with everything below them, the deepest
// first.
inline std::string DeleteSubtrees(const Texts& bases) {
  auto lower = [](std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  std::vector<std::pair<size_t, std::string>> doomed;
  for (const auto& dn : SampleDns()) {
    const std::string l = lower(dn);
    for (const auto& base : bases) {
      const std::string b = lower(base);
      if (l == b || (l.size() > b.size() && l.compare(l.size() - b.size() - 1, std::string::npos, "," + b) == 0)) {
        doomed.emplace_back(static_cast<size_t>(std::count(dn.begin(), dn.end(), ',')), dn);
        break;
      }
    }
  }
  std::stable_sort(doomed.begin(), doomed.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  std::string out;
  for (const auto& [depth, dn] : doomed) out += "dn: " + dn + "\nchangetype: delete\n\n";
  return out;
}

// A sample directory of its own, changed before a test: LDIF change
// records applied to the organisation and access rules added in front of
// the sample's "read for everyone". The host map points at it while the
// object lives.
class ChangedDirectory {
 public:
  ChangedDirectory(const std::string& changes, const std::string& accessRules = "") {
    slapd_.Stop();
    if (!changes.empty()) {
      std::ofstream(slapd_.dir() / "changes.ldif") << changes;
      std::string cmd = "/usr/sbin/slapmodify -q -f '" + (slapd_.dir() / "slapd.conf").string() +
                        "' -b o=Velmor -l '" + (slapd_.dir() / "changes.ldif").string() + "' >'" +
                        (slapd_.dir() / "slapmodify.log").string() + "' 2>&1";
      if (std::system(cmd.c_str()) != 0)
        throw std::runtime_error("slapmodify failed: " + velmo::test::TestHome::Slurp(slapd_.dir() / "slapmodify.log"));
    }
    if (!accessRules.empty()) {
      const fs::path conf = slapd_.dir() / "slapd.conf";
      std::string text = velmo::test::TestHome::Slurp(conf);
      const std::string anchor = "access to * by * read";
      auto at = text.find(anchor);
      if (at == std::string::npos) throw std::runtime_error("no catch-all access rule in slapd.conf");
      text.insert(at, accessRules + "\n");
      std::ofstream(conf, std::ios::trunc) << text;
    }
    slapd_.Restart();
    velmo::ads::ResetSessions();
    hosts_ = std::make_unique<velmo::test::UseSampleDirectory>(slapd_.hostsFile());
  }
  ~ChangedDirectory() {
    hosts_.reset();
    velmo::ads::ResetSessions();
  }

 private:
  velmo::test::PrivateSlapd slapd_;
  std::unique_ptr<velmo::test::UseSampleDirectory> hosts_;
};

// Against the shared sample directory; skipped when it is not running.
class SampleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!velmo::test::UseSampleDirectory::Available()) GTEST_SKIP() << "the sample directory is not running";
    velmo::ads::ResetSessions();
    handlesBefore_ = velmo::reg::OpenHandleCount();
  }
  void TearDown() override {
    // Every registry handle a reader opens is closed again.
    EXPECT_EQ(velmo::reg::OpenHandleCount(), handlesBefore_);
  }

  velmo::test::UseSampleDirectory directory_;
  Kit kit_;
  size_t handlesBefore_ = 0;
};

}  // namespace config_test
