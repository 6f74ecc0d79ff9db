#include "InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace velmo {

FileLock::~FileLock() { Unlock(); }

FileLock::FileLock(FileLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

FileLock& FileLock::operator=(FileLock&& other) noexcept {
  if (this != &other) {
    Unlock();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

bool FileLock::TryLock(const std::filesystem::path& lockFile, Mode mode) {
  std::error_code error;
  return Try(lockFile, mode, error) == Outcome::Taken;
}

FileLock::Outcome FileLock::Try(const std::filesystem::path& lockFile, Mode mode, std::error_code& error) {
  Unlock();
  error.clear();
  int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  // A lock file that exists but may not be written (a read-only folder or
  // file) still takes a lock: flock needs no write access.
  if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) {
    const int openError = errno;
    fd = ::open(lockFile.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) errno = openError;
  }
  if (fd < 0) {
    error = std::error_code(errno, std::generic_category());
    return Outcome::Failed;
  }
  // flock locks belong to the open file description, so two handles of one
  // process exclude each other just as two processes do.
  if (::flock(fd, (mode == Mode::Shared ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0) {
    const int lockError = errno;
    ::close(fd);
    if (lockError == EWOULDBLOCK) return Outcome::Held;
    error = std::error_code(lockError, std::generic_category());
    return Outcome::Failed;
  }
  fd_ = fd;
  return Outcome::Taken;
}

bool FileLock::Lock(const std::filesystem::path& lockFile, Mode mode, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (true) {
    if (TryLock(lockFile, mode)) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

void FileLock::Unlock() {
  if (fd_ >= 0) {
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
  }
}

}  // namespace velmo
