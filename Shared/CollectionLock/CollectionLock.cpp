// The lock of one server's collection into one database file.
#include "CollectionLock.h"

#include <fcntl.h>
#include <unistd.h>

#include <QString>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "AppFolder.h"
#include "TextPartsUnicode.h"

namespace velmo::exporting {

namespace {

constexpr auto kTryEvery = std::chrono::milliseconds(20);

// The locks this process holds: one descriptor of the companion file per
// database and server, with the number of nested holders.
struct Holding {
  int fd = -1;
  int holders = 0;
};
std::mutex gMu;
std::map<std::string, Holding> gHeld;
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

Try LockByte(int fd, off_t at, std::string& why) {
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = at;
  fl.l_len = 1;
  if (::fcntl(fd, F_OFD_SETLK, &fl) == 0) return Try::Locked;
  if (errno == EAGAIN || errno == EACCES) return Try::Busy;
  why = std::strerror(errno);
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
  for (;;) {
    {
      std::lock_guard lock(gMu);
      // Held here already: a nested take of this process.
      if (auto it = gHeld.find(key); it != gHeld.end()) {
        ++it->second.holders;
        if (fd >= 0) ::close(fd);
        key_ = key;
        return Outcome::Taken;
      }
    }
    if (fd < 0) {
      fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
      if (fd < 0) return unguarded(std::strerror(errno));
    }
    std::string failure;
    switch (LockByte(fd, at, failure)) {
      case Try::Locked: {
        std::lock_guard lock(gMu);
        gHeld[key] = {fd, 1};
        key_ = key;
        return Outcome::Taken;
      }
      case Try::Failed:
        ::close(fd);
        return unguarded(failure);
      case Try::Busy:
        break;
    }
    if (!wait) {
      ::close(fd);
      return Outcome::Busy;
    }
    if (!told) {
      told = true;
      if (wait->started) wait->started();
    }
    const auto waited =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    if (waited >= wait->limit) {
      ::close(fd);
      return Outcome::TimedOut;
    }
    const auto stepStart = std::chrono::steady_clock::now();
    if (wait->keepWaiting && !wait->keepWaiting()) {
      ::close(fd);
      return Outcome::GivenUp;
    }
    // The caller's own work counts towards the pause between tries.
    const auto spent = std::chrono::steady_clock::now() - stepStart;
    if (spent < kTryEvery) std::this_thread::sleep_for(kTryEvery - spent);
  }
}

void CollectionLock::Release() {
  if (key_.empty()) return;
  std::lock_guard lock(gMu);
  if (auto it = gHeld.find(key_); it != gHeld.end() && --it->second.holders == 0) {
    ::close(it->second.fd);  // closing the descriptor unlocks its byte
    gHeld.erase(it);
  }
  key_.clear();
}

}  // namespace velmo::exporting
