#pragma once
// The sample organisation (sample/directory) for tests that read a
// directory.
//
// The shared instance: tests/directory/CMakeLists.txt starts one slapd per
// ctest run as the fixture "sample_ldap" (tests "sample_slapd_start" and
// "sample_slapd_stop") in the folder ${CMAKE_BINARY_DIR}/sample-ldap. A test
// that needs it says `FIXTURES sample_ldap` in velmo_add_test and creates a
// UseSampleDirectory, which points VELMORCAST_LDAP_HOSTS at that folder's
// host map (EX1, EX2 and EX10 mapped to the instance) while it lives. The
// variable is set by the helper, not by CTest, so a test program run by hand
// after a ctest run finds the server the same way.
//
// A private instance: PrivateSlapd starts its own slapd through
// scripts/sample-slapd.sh in a temporary folder (for variants such as
// "--no-anonymous" or "--sizelimit 5") and stops it when destroyed.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace velmo::test {

inline std::filesystem::path SampleLdapDir() { return std::filesystem::path(VELMO_BINARY_DIR) / "sample-ldap"; }
inline std::filesystem::path SampleHostsFile() { return SampleLdapDir() / "ldaphosts.conf"; }
// The port the shared instance's host map gives a server name, 0 when it
// names none.
inline int SamplePort(const std::string& server) {
  std::ifstream map(SampleHostsFile());
  std::string name, url;
  while (map >> name >> url)
    if (name == server) return std::stoi(url.substr(url.rfind(':') + 1));
  return 0;
}
inline std::filesystem::path SampleSlapdScript() {
  return std::filesystem::path(VELMO_SOURCE_DIR) / "scripts" / "sample-slapd.sh";
}

// A recipient container of the Lakeside site whose name needs escaping in
// a directory name, for PrivateSlapd(OddNamesOption()): its name as a
// person reads it, and its relative name as slapd writes it.
inline const std::string kOddName = "Odd \"Names\", <\u00c5l> \\x";
inline const std::string kOddRdn = "cn=Odd \\22Names\\22\\2C \\3C\u00c5l\\3E \\5Cx";
inline std::string OddNamesOption() {
  return "--add '" + (std::filesystem::path(VELMO_SOURCE_DIR) / "tests" / "common" / "odd-names.ldif").string() + "'";
}

// Sets VELMORCAST_LDAP_HOSTS to a host map for the life of the object
// (the shared instance's map by default) and restores the old value.
class UseSampleDirectory {
 public:
  explicit UseSampleDirectory(const std::filesystem::path& hostsFile = SampleHostsFile()) {
    if (const char* old = std::getenv("VELMORCAST_LDAP_HOSTS")) {
      hadOld_ = true;
      old_ = old;
    }
    ::setenv("VELMORCAST_LDAP_HOSTS", hostsFile.c_str(), 1);
  }
  ~UseSampleDirectory() {
    if (hadOld_)
      ::setenv("VELMORCAST_LDAP_HOSTS", old_.c_str(), 1);
    else
      ::unsetenv("VELMORCAST_LDAP_HOSTS");
  }
  UseSampleDirectory(const UseSampleDirectory&) = delete;
  UseSampleDirectory& operator=(const UseSampleDirectory&) = delete;

  // True when the shared instance's host map exists (the fixture ran).
  static bool Available() { return std::filesystem::exists(SampleHostsFile()); }

 private:
  bool hadOld_ = false;
  std::string old_;
};

// A slapd of its own, serving the sample organisation with the given
// options of "sample-slapd.sh start".
class PrivateSlapd {
 public:
  explicit PrivateSlapd(const std::string& options = "") {
    std::random_device rd;
    std::ostringstream name;
    name << "velmo-slapd-" << ::getpid() << "-" << std::hex << rd();
    dir_ = std::filesystem::temp_directory_path() / name.str();
    std::filesystem::create_directories(dir_);
    if (Run("start " + Quote(dir_.string()) + " " + options) != 0)
      throw std::runtime_error("sample-slapd.sh start failed in " + dir_.string());
    std::ifstream in(dir_ / "port");
    in >> port_;
  }
  ~PrivateSlapd() {
    Stop();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  PrivateSlapd(const PrivateSlapd&) = delete;
  PrivateSlapd& operator=(const PrivateSlapd&) = delete;

  int port() const { return port_; }
  std::string url() const { return "ldap://127.0.0.1:" + std::to_string(port_); }
  std::filesystem::path hostsFile() const { return dir_ / "ldaphosts.conf"; }
  const std::filesystem::path& dir() const { return dir_; }

  // Stops the server and starts it again on the same port with its data.
  void Restart() {
    if (Run("restart " + Quote(dir_.string())) != 0) throw std::runtime_error("sample-slapd.sh restart failed");
  }
  void Stop() { Run("stop " + Quote(dir_.string())); }

 private:
  static std::string Quote(const std::string& s) { return "'" + s + "'"; }
  static int Run(const std::string& args) {
    std::string cmd = "bash " + Quote(SampleSlapdScript().string()) + " " + args + " >/dev/null";
    return std::system(cmd.c_str());
  }

  std::filesystem::path dir_;
  int port_ = 0;
};

}  // namespace velmo::test
