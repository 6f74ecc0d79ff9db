#pragma once
// Runs a program of the build as another user ("nobody"), for the cases
// where the owner's rights must not count (root writes any file).
//
// The build folder may lie where that user cannot reach it (a clone in a
// home folder of mode 0700, or in a folder made by mktemp -d), so the
// program is first copied into a fresh folder of mode 0755 under /tmp,
// together with the libraries of the application folder it loads, and runs
// from there with LD_LIBRARY_PATH naming that folder. The copy goes when the
// object does.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TestHome.h"

namespace velmo::test {

class OtherUser {
 public:
  static constexpr unsigned kId = 65534;  // nobody

  // The setpriv program on the search path (empty when there is none).
  static std::string Setpriv() {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
      const auto p = std::filesystem::path(dir.empty() ? "." : dir) / "setpriv";
      if (::access(p.c_str(), X_OK) == 0) return p.string();
    }
    return {};
  }

  // Why nothing can be run as another user here; empty when it can.
  static std::string CannotRun() {
    if (::geteuid() != 0) return "cannot run anything as another user here: the tests do not run as root";
    const std::string setpriv = Setpriv();
    if (setpriv.empty()) return "cannot run anything as another user here: there is no setpriv";
    const Result probe = Run("'" + setpriv + "' " + Ids() + " /bin/true 2>&1");
    if (probe.status != 0) return "cannot run anything as another user here: setpriv says " + probe.output;
    return {};
  }

  // Copies the program and the application folder's libraries it loads.
  explicit OtherUser(const std::filesystem::path& program) {
    char pattern[] = "/tmp/velmo-other-user-XXXXXX";
    if (!::mkdtemp(pattern)) return;
    dir_ = pattern;
    ::chmod(dir_.c_str(), 0755);
    program_ = dir_ / program.filename();
    Place(program, program_);
    for (const auto& lib : AppLibrariesOf(program)) Place(lib, dir_ / lib.filename());
  }
  ~OtherUser() {
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
  }
  OtherUser(const OtherUser&) = delete;
  OtherUser& operator=(const OtherUser&) = delete;

  const std::filesystem::path& dir() const { return dir_; }
  const std::filesystem::path& program() const { return program_; }

  // Copies the components of the build that the class registry `registry`
  // names, with the application folder's libraries they load, beside the
  // program, and points the registry at the copies: the other user's
  // program creates them by ProgID although the build lies in a folder
  // only its owner can enter.
  void PlaceComponents(const std::filesystem::path& registry) const {
    std::error_code ec;
    const auto app = std::filesystem::weakly_canonical(TestHome::BuildAppDir(), ec);
    std::ifstream in(registry);
    std::string text, line;
    while (std::getline(in, line)) {
      const auto t1 = line.find('\t');
      const auto t2 = t1 == std::string::npos ? t1 : line.find('\t', t1 + 1);
      if (line.empty() || line[0] == '#' || t2 == std::string::npos) {
        text += line + "\n";
        continue;
      }
      const std::filesystem::path lib = line.substr(t1 + 1, t2 - t1 - 1);
      if (std::filesystem::weakly_canonical(lib, ec).parent_path() != app) {
        text += line + "\n";
        continue;
      }
      Place(lib, dir_ / lib.filename());
      for (const auto& dep : AppLibrariesOf(lib)) Place(dep, dir_ / dep.filename());
      text += line.substr(0, t1 + 1) + (dir_ / lib.filename()).string() + line.substr(t2) + "\n";
    }
    in.close();
    std::ofstream(registry, std::ios::trunc) << text;
  }

  // The copy started as the other user, for a shell: arguments (quoted as
  // needed) follow.
  std::string Command() const {
    return "LD_LIBRARY_PATH='" + dir_.string() + "' '" + Setpriv() + "' " + Ids() + " '" + program_.string() + "'";
  }
  // The same as a program and its arguments, for starting it directly with
  // LD_LIBRARY_PATH set to dir().
  std::vector<std::string> Arguments() const {
    return {"--reuid=" + std::to_string(kId), "--regid=" + std::to_string(kId), "--clear-groups", program_.string()};
  }

  // A shell command's exit status (-1 when it did not end normally) and
  // what it printed (its error stream too when it says 2>&1).
  struct Result {
    int status = -1;
    std::string output;
  };
  static Result Run(const std::string& command) {
    Result r;
    if (FILE* p = ::popen(command.c_str(), "r")) {
      char buf[512];
      size_t n;
      while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
      const int status = ::pclose(p);
      if (status != -1 && WIFEXITED(status)) r.status = WEXITSTATUS(status);
    }
    return r;
  }

 private:
  static std::string Ids() {
    const std::string id = std::to_string(kId);
    return "--reuid=" + id + " --regid=" + id + " --clear-groups";
  }

  // The libraries of the application folder a program loads, as the loader
  // finds them (through the program's RUNPATH into the build).
  static std::vector<std::filesystem::path> AppLibrariesOf(const std::filesystem::path& program) {
    std::error_code ec;
    const auto app = std::filesystem::weakly_canonical(TestHome::BuildAppDir(), ec);
    std::vector<std::filesystem::path> libs;
    std::istringstream lines(Run("ldd '" + program.string() + "' 2>/dev/null").output);
    for (std::string line; std::getline(lines, line);) {
      const auto arrow = line.find(" => ");
      const auto address = line.rfind(" (0x");
      if (arrow == std::string::npos || address == std::string::npos || address < arrow) continue;
      const std::filesystem::path lib = line.substr(arrow + 4, address - arrow - 4);
      if (std::filesystem::weakly_canonical(lib, ec).parent_path() == app) libs.push_back(lib);
    }
    return libs;
  }

  // A hard link where the file system allows one, else a copy.
  static void Place(const std::filesystem::path& from, const std::filesystem::path& to) {
    std::error_code ec;
    std::filesystem::create_hard_link(from, to, ec);
    if (ec) std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, ec);
  }

  std::filesystem::path dir_;
  std::filesystem::path program_;
};

}  // namespace velmo::test
