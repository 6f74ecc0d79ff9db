#pragma once
// A fresh application folder for one test: a temporary directory that
// VELMORCAST_HOME points at while the object lives, with the build's class
// registry copied in (library names made absolute) so objects can be
// created by ProgID. The crontab is the test stand-in keeping its table in
// the home's "crontab.txt", so no test reaches the user's real crontab.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <unistd.h>

#include <utility>
#include <vector>

namespace velmo::test {

class TestHome {
 public:
  explicit TestHome(bool withClassRegistry = true) {
    std::random_device rd;
    std::ostringstream name;
    name << "velmo-test-" << ::getpid() << "-" << std::hex << rd() << rd();
    dir_ = std::filesystem::temp_directory_path() / name.str();
    std::filesystem::create_directories(dir_);
    if (const char* old = std::getenv("VELMORCAST_HOME")) {
      hadOld_ = true;
      old_ = old;
    }
    ::setenv("VELMORCAST_HOME", dir_.c_str(), 1);
    SetCrontab();
    if (withClassRegistry) CopyRegistry();
  }
  ~TestHome() {
    if (hadOld_)
      ::setenv("VELMORCAST_HOME", old_.c_str(), 1);
    else
      ::unsetenv("VELMORCAST_HOME");
    for (auto& [name, value] : oldCron_) {
      if (value) ::setenv(name, value->c_str(), 1);
      else ::unsetenv(name);
    }
    std::error_code ec;
    if (!std::getenv("VELMO_KEEP_TEST_HOME")) std::filesystem::remove_all(dir_, ec);
  }
  TestHome(const TestHome&) = delete;
  TestHome& operator=(const TestHome&) = delete;

  const std::filesystem::path& dir() const { return dir_; }
  std::filesystem::path operator/(const std::string& name) const { return dir_ / name; }

  static std::filesystem::path BuildAppDir() { return VELMO_APP_DIR; }
  static std::filesystem::path SourceDir() { return VELMO_SOURCE_DIR; }
  // The crontab stand-in and the file that holds its table.
  static std::filesystem::path CrontabStandIn() { return SourceDir() / "tests" / "common" / "crontab-standin.sh"; }
  std::filesystem::path CrontabFile() const { return dir_ / "crontab.txt"; }

  // The environment entry that gives a program this test starts its
  // temporary folder inside this home: whatever it makes there (a test
  // home of its own included) goes with this home, however it ends.
  std::string ChildTmpdir() const {
    std::filesystem::create_directories(dir_ / "tmp");
    return "TMPDIR=" + (dir_ / "tmp").string();
  }
  // The test homes process `pid` left in this process's temporary folder.
  static std::vector<std::filesystem::path> HomesLeftBy(long pid) {
    std::vector<std::filesystem::path> left;
    const std::string prefix = "velmo-test-" + std::to_string(pid) + "-";
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(std::filesystem::temp_directory_path(), ec))
      if (e.path().filename().string().rfind(prefix, 0) == 0) left.push_back(e.path());
    return left;
  }

  // Reads a whole file (empty when missing).
  static std::string Slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }

 private:
  void SetCrontab() {
    for (const char* name : {"VELMORCAST_CRONTAB", "VELMORCAST_CRONTAB_FILE"}) {
      const char* v = std::getenv(name);
      oldCron_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
    }
    ::setenv("VELMORCAST_CRONTAB", CrontabStandIn().c_str(), 1);
    ::setenv("VELMORCAST_CRONTAB_FILE", CrontabFile().c_str(), 1);
  }

  void CopyRegistry() {
    std::ifstream in(BuildAppDir() / "VelmorcastClasses.reg");
    std::ofstream out(dir_ / "VelmorcastClasses.reg");
    std::string line;
    while (std::getline(in, line)) {
      if (line.empty() || line[0] == '#') {
        out << line << "\n";
        continue;
      }
      auto t1 = line.find('\t');
      auto t2 = line.find('\t', t1 + 1);
      if (t1 == std::string::npos || t2 == std::string::npos) continue;
      std::string lib = line.substr(t1 + 1, t2 - t1 - 1);
      if (!lib.empty() && lib[0] != '/') lib = (BuildAppDir() / lib).string();
      out << line.substr(0, t1) << '\t' << lib << line.substr(t2) << "\n";
    }
  }

  std::filesystem::path dir_;
  bool hadOld_ = false;
  std::string old_;
  std::vector<std::pair<const char*, std::optional<std::string>>> oldCron_;
};

}  // namespace velmo::test
