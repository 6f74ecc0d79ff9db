#pragma once
// A small file system of its own over a folder for the life of a test,
// filled to its last block or made read-only while mounted, so that writes
// fail as on a full or read-only disk. Mounting needs the right to mount
// (root); Why() says what refused it.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

namespace velmo::test {

class SmallFileSystem {
 public:
  explicit SmallFileSystem(const std::filesystem::path& at, const char* size = "256k") : at_(at) {
    std::filesystem::create_directories(at);
    mounted_ = ::mount("tmpfs", at.c_str(), "tmpfs", 0, (std::string("size=") + size).c_str()) == 0;
    if (!mounted_) why_ = std::strerror(errno);
  }
  SmallFileSystem(const SmallFileSystem&) = delete;
  ~SmallFileSystem() {
    if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
  }
  bool Mounted() const { return mounted_; }
  const std::string& Why() const { return why_; }
  // One file "filler" written until no block is left, or until about
  // `leave` bytes are.
  void Fill(unsigned long long leave = 0) {
    const int fd = ::open((at_ / "filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const std::string block(4096, 'x');
    struct statvfs fs {};
    while (fd >= 0 && (!leave || (::statvfs(at_.c_str(), &fs) == 0 && fs.f_bavail * fs.f_frsize > leave)) &&
           ::write(fd, block.data(), block.size()) > 0) {
    }
    if (fd >= 0) ::close(fd);
  }
  bool MakeReadOnly() { return ::mount(nullptr, at_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0; }

 private:
  std::filesystem::path at_;
  bool mounted_ = false;
  std::string why_;
};

}  // namespace velmo::test
