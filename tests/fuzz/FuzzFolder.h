#pragma once
// The providers folder of a fuzz run: a temporary folder that
// VELMORCAST_PROVIDERS and VELMORCAST_HOME name, whose error log goes to
// /dev/null (bad lines are logged by the thousand). Each input is written
// with a time of its own, so the readers always see a new version of the
// file, however fast the inputs come.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace velmo::fuzz {

class FuzzFolder {
 public:
  FuzzFolder() {
    dir_ = std::filesystem::temp_directory_path() / ("velmo-fuzz-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    std::error_code ec;
    std::filesystem::create_symlink("/dev/null", dir_ / "VelmorcastErrorLog.log", ec);
    ::setenv("VELMORCAST_PROVIDERS", dir_.c_str(), 1);
    ::setenv("VELMORCAST_HOME", dir_.c_str(), 1);
  }
  ~FuzzFolder() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  const std::filesystem::path& dir() const { return dir_; }

  std::filesystem::path Write(const std::string& relative, const uint8_t* data, size_t size) {
    auto p = dir_ / relative;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data),
                                                               static_cast<std::streamsize>(size));
    ++tick_;
    struct timespec times[2] = {{tick_, 0}, {tick_, 0}};
    ::utimensat(AT_FDCWD, p.c_str(), times, 0);
    return p;
  }
  std::filesystem::path Write(const std::string& relative, const std::string& text) {
    return Write(relative, reinterpret_cast<const uint8_t*>(text.data()), text.size());
  }

 private:
  std::filesystem::path dir_;
  time_t tick_ = 1000000000;
};

}  // namespace velmo::fuzz
