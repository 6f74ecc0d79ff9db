#include "InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace velmo {

int OpenLockFile(const std::filesystem::path& lockFile, bool forWriting, bool* writable, std::error_code& error) {
  error.clear();
  constexpr int kFlags = O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
  const auto opened = [&](int fd, bool canWrite) {
    if (writable) *writable = canWrite;
    // Blocking again: only the open had to not wait.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
  };
  // Twice at most: a lock file another program creates between the two
  // opens is then opened as an existing one.
  for (int round = 0; round < 2; ++round) {
    int fd = ::open(lockFile.c_str(), (forWriting ? O_RDWR : O_RDONLY) | kFlags);
    if (fd >= 0) return opened(fd, forWriting);
    if (errno != ENOENT) {
      // A folder, or a file of another user that may only be read.
      if (forWriting) fd = ::open(lockFile.c_str(), O_RDONLY | kFlags);
      if (fd >= 0) return opened(fd, false);
      error = std::error_code(errno, std::generic_category());
      return -1;
    }
    fd = ::open(lockFile.c_str(), (forWriting ? O_RDWR : O_RDONLY) | O_CREAT | O_EXCL | kFlags, 0644);
    if (fd >= 0) return opened(fd, forWriting);
    if (errno != EEXIST) {
      error = std::error_code(errno, std::generic_category());
      return -1;
    }
  }
  // Neither there to open nor free to create: a link to nothing, which is
  // never followed.
  error = std::error_code(ENOENT, std::generic_category());
  return -1;
}

FileLock::~FileLock() { Unlock(); }

FileLock::FileLock(FileLock&& other) noexcept : fd_(other.fd_), passed_(other.passed_) { other.fd_ = -1; }

FileLock& FileLock::operator=(FileLock&& other) noexcept {
  if (this != &other) {
    Unlock();
    fd_ = other.fd_;
    passed_ = other.passed_;
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
  // flock needs no write access: a lock file that may only be read, or a
  // folder, is locked as well.
  const int fd = OpenLockFile(lockFile, false, nullptr, error);
  if (fd < 0) return Outcome::Failed;
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
  passed_ = false;
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
    if (!passed_) ::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
  }
}

void FileLock::PassToChildren() {
  if (fd_ < 0) return;
  ::fcntl(fd_, F_SETFD, ::fcntl(fd_, F_GETFD) & ~FD_CLOEXEC);
  passed_ = true;
}

}  // namespace velmo
