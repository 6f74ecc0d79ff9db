#pragma once
// An advisory lock on a file, held while the object lives: the single-instance
// check of a program, and the shared/exclusive guard of a database file.
#include <filesystem>
#include <system_error>

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

  // What an attempt to take the lock came to.
  enum class Outcome {
    Taken,   // the lock is held now
    Held,    // another holder has it
    Failed,  // the lock file cannot be opened or locked; the error says why
  };

  // Takes the lock without waiting; false when another holder prevents it
  // or the lock file cannot be opened. The lock file is created when
  // missing.
  bool TryLock(const std::filesystem::path& lockFile, Mode mode);
  // As TryLock, telling a lock that another holder has from a lock file
  // that cannot be used (a folder that is not writable or does not exist):
  // only Held means someone else holds it. An existing lock file that may
  // only be read is still locked.
  Outcome Try(const std::filesystem::path& lockFile, Mode mode, std::error_code& error);
  // Waits up to the given number of milliseconds.
  bool Lock(const std::filesystem::path& lockFile, Mode mode, int timeoutMs);
  void Unlock();
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace velmo
