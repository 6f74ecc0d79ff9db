#pragma once
// A fresh application folder for one test: a temporary directory that
// VELMORCAST_HOME points at while the object lives, with the build's class
// registry copied in (library names made absolute) so objects can be
// created by ProgID.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <unistd.h>

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
    if (withClassRegistry) CopyRegistry();
  }
  ~TestHome() {
    if (hadOld_)
      ::setenv("VELMORCAST_HOME", old_.c_str(), 1);
    else
      ::unsetenv("VELMORCAST_HOME");
    std::error_code ec;
    if (!std::getenv("VELMO_KEEP_TEST_HOME")) std::filesystem::remove_all(dir_, ec);
  }
  TestHome(const TestHome&) = delete;
  TestHome& operator=(const TestHome&) = delete;

  const std::filesystem::path& dir() const { return dir_; }
  std::filesystem::path operator/(const std::string& name) const { return dir_ / name; }

  static std::filesystem::path BuildAppDir() { return VELMO_APP_DIR; }
  static std::filesystem::path SourceDir() { return VELMO_SOURCE_DIR; }

  // Reads a whole file (empty when missing).
  static std::string Slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }

 private:
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
};

}  // namespace velmo::test
