#pragma once
// An advisory lock on a file, held while the object lives: the single-instance
// check of a program, and the shared/exclusive guard of a database file.
#include <filesystem>
#include <system_error>

namespace velmo {

// Opens a lock file without ever making one elsewhere: a missing lock file
// is created exclusively (O_CREAT|O_EXCL, which refuses to create through
// a dangling link); an existing one, a link to one included, is opened as
// it is. With forWriting it is opened for reading and writing where this
// user may; a file this user may only read, and a folder, are opened for
// reading, as much as an flock needs. *writable tells which was given. The
// open never waits (a named pipe in its place) and the descriptor closes
// on exec. -1, with the error, when the lock file cannot be opened at all.
int OpenLockFile(const std::filesystem::path& lockFile, bool forWriting, bool* writable, std::error_code& error);

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
  // or the lock file cannot be opened. The lock file is opened as
  // OpenLockFile does.
  bool TryLock(const std::filesystem::path& lockFile, Mode mode);
  // As TryLock, telling a lock that another holder has from a lock file
  // that cannot be used (a folder that is not writable or does not exist,
  // a dangling link): only Held means someone else holds it. A lock file
  // that may only be read, or a folder in its place, is still locked.
  Outcome Try(const std::filesystem::path& lockFile, Mode mode, std::error_code& error);
  // Waits up to the given number of milliseconds.
  bool Lock(const std::filesystem::path& lockFile, Mode mode, int timeoutMs);
  // Gives the lock back; after PassToChildren only this process's
  // descriptor is closed, and the programs it started keep the lock.
  void Unlock();
  // Keeps the lock's descriptor open in the programs this process starts
  // from now on, so that the lock holds as long as any of them runs.
  void PassToChildren();
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
  bool passed_ = false;
};

}  // namespace velmo
