// The lock of one server's collection into one database file.
#include "CollectionLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QString>

#include <cerrno>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "AppFolder.h"
#include "InstanceLock.h"
#include "TextPartsUnicode.h"

namespace velmo::exporting {

namespace {

constexpr auto kTryEvery = std::chrono::milliseconds(20);

// The locks this process holds: per database and server, its descriptor
// of the companion file (its byte locked) and the number of nested
// holders. A server held under the whole file's lock has no descriptor of
// its own.
struct Holding {
  int fd = -1;
  int holders = 0;
  std::string file;
};
// The companion files this process holds whole (where no byte can be
// locked), with the number of servers held under each.
struct WholeFile {
  velmo::FileLock lock;
  int servers = 0;
};
std::mutex gMu;
std::map<std::string, Holding> gHeld;
std::map<std::string, WholeFile> gWhole;
std::set<std::string> gToldUnguarded;

// The server's byte of the companion file: a 64-bit FNV-1a hash of its
// folded name, kept within the range a lock may start at.
off_t ServerByte(const std::string& folded) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : folded) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return static_cast<off_t>(h & 0x3fffffffffffffffull);
}

enum class Try { Locked, Busy, Failed };

// The server's byte, on a descriptor open for writing. Its holder also
// holds a shared flock of the whole file, which keeps out a program that
// could only take the whole file (flock and byte locks do not see each
// other).
Try LockByte(int fd, off_t at) {
  if (::flock(fd, LOCK_SH | LOCK_NB) != 0) return errno == EWOULDBLOCK ? Try::Busy : Try::Failed;
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = at;
  fl.l_len = 1;
  if (::fcntl(fd, F_OFD_SETLK, &fl) == 0) return Try::Locked;
  const int error = errno;
  ::flock(fd, LOCK_UN);
  return error == EAGAIN || error == EACCES ? Try::Busy : Try::Failed;
}

// The whole file, exclusively: the lock of every server at once, for a
// program that cannot lock a byte of it (the file may only be read, or is
// a folder).
Try LockWholeFile(velmo::FileLock& lock, const std::filesystem::path& file, std::string& why) {
  std::error_code error;
  switch (lock.Try(file, velmo::FileLock::Mode::Exclusive, error)) {
    case velmo::FileLock::Outcome::Taken:
      return Try::Locked;
    case velmo::FileLock::Outcome::Held:
      return Try::Busy;
    case velmo::FileLock::Outcome::Failed:
      break;
  }
  why = error.message();
  return Try::Failed;
}

}  // namespace

std::filesystem::path CollectionLock::CompanionFile(const std::string& databasePath) {
  std::error_code ec;
  std::filesystem::path db = std::filesystem::absolute(NativePath(databasePath), ec);
  auto real = std::filesystem::weakly_canonical(db, ec);
  if (!ec) db = real;
  db += ".collect.lock";
  return db;
}

CollectionLock::~CollectionLock() { Release(); }

CollectionLock::Outcome CollectionLock::Take(const std::string& databasePath, const std::string& serverName,
                                             const CollectionWait* wait, std::string* why, bool* firstTime) {
  Release();
  const std::filesystem::path file = CompanionFile(databasePath);
  const std::string folded = text::FoldUnicode(serverName);
  const std::string key = file.string() + '\n' + folded;
  const off_t at = ServerByte(folded);

  auto unguarded = [&](const std::string& reason) {
    if (why) *why = reason;
    std::lock_guard lock(gMu);
    const bool first = gToldUnguarded.insert(file.string()).second;
    if (firstTime) *firstTime = first;
    return Outcome::Unguarded;
  };

  const auto start = std::chrono::steady_clock::now();
  bool told = false;
  int fd = -1;
  bool byteLocks = true;  // false once only the whole file can be locked
  velmo::FileLock whole;
  const auto stop = [&](Outcome outcome) {
    if (fd >= 0) ::close(fd);
    return outcome;
  };
  for (;;) {
    {
      std::lock_guard lock(gMu);
      // Held here already (a nested take of this process), or the whole
      // file is: granted at once.
      if (auto it = gHeld.find(key); it != gHeld.end()) {
        ++it->second.holders;
        key_ = key;
        return stop(Outcome::Taken);
      }
      if (auto it = gWhole.find(file.string()); it != gWhole.end()) {
        ++it->second.servers;
        gHeld[key] = {-1, 1, file.string()};
        key_ = key;
        return stop(Outcome::Taken);
      }
    }
    std::string failure;
    if (byteLocks && fd < 0) {
      std::error_code error;
      bool writable = false;
      fd = velmo::OpenLockFile(file, true, &writable, error);
      if (fd < 0) return unguarded(error.message());
      if (!writable) {
        ::close(fd);
        fd = -1;
        byteLocks = false;
      }
    }
    Try tried = Try::Failed;
    if (byteLocks) {
      tried = LockByte(fd, at);
      if (tried == Try::Failed) {
        // A file system without byte locks: the whole file then.
        ::close(fd);
        fd = -1;
        byteLocks = false;
      }
    }
    if (!byteLocks) tried = LockWholeFile(whole, file, failure);
    switch (tried) {
      case Try::Locked: {
        std::lock_guard lock(gMu);
        if (byteLocks) {
          gHeld[key] = {fd, 1, file.string()};
        } else {
          gWhole[file.string()] = {std::move(whole), 1};
          gHeld[key] = {-1, 1, file.string()};
        }
        key_ = key;
        return Outcome::Taken;
      }
      case Try::Failed:
        return unguarded(failure);
      case Try::Busy:
        break;
    }
    if (!wait) return stop(Outcome::Busy);
    if (!told) {
      told = true;
      if (wait->started) wait->started();
    }
    const auto waited =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    if (waited >= wait->limit) return stop(Outcome::TimedOut);
    const auto stepStart = std::chrono::steady_clock::now();
    if (wait->keepWaiting && !wait->keepWaiting()) return stop(Outcome::GivenUp);
    // The caller's own work counts towards the pause between tries.
    const auto spent = std::chrono::steady_clock::now() - stepStart;
    if (spent < kTryEvery) std::this_thread::sleep_for(kTryEvery - spent);
  }
}

void CollectionLock::Release() {
  if (key_.empty()) return;
  std::lock_guard lock(gMu);
  if (auto it = gHeld.find(key_); it != gHeld.end() && --it->second.holders == 0) {
    if (it->second.fd >= 0) {
      ::close(it->second.fd);  // closing the descriptor unlocks its byte and its flock
    } else if (auto w = gWhole.find(it->second.file); w != gWhole.end() && --w->second.servers == 0) {
      gWhole.erase(w);  // the last server held under the whole file's lock gives it back
    }
    gHeld.erase(it);
  }
  key_.clear();
}

}  // namespace velmo::exporting
