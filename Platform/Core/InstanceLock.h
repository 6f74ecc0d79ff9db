#pragma once
// An advisory lock on a file, held while the object lives: the single-instance
// check of a program, and the shared/exclusive guard of a database file.
#include <filesystem>

namespace velmo {

class FileLock {
 public:
  enum class Mode { Shared, Exclusive };
  FileLock() = default;
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  FileLock(FileLock&& other) noexcept;
  FileLock& operator=(FileLock&& other) noexcept;

  // Takes the lock without waiting; false when another holder prevents it.
  // The lock file is created when missing.
  bool TryLock(const std::filesystem::path& lockFile, Mode mode);
  // Waits up to the given number of milliseconds.
  bool Lock(const std::filesystem::path& lockFile, Mode mode, int timeoutMs);
  void Unlock();
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace velmo
