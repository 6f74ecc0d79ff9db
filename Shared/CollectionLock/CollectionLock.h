#pragma once
// One server's collection into one inventory database, across programs.
//
// Clearing a server's rows and collecting them again must not interleave
// with another program doing the same for that server in the same database
// file: the rows of both collections would add up. Each collecting program
// therefore holds this lock from before its clearing (or its "already
// collected?" look-up) until after its last collector call of that server,
// and a program that writes outputs from those rows until its last output:
// another program's clearing would empty the outputs still to be written.
//
// The lock belongs to the database file (by its real path, so two names of
// one file share it) and the server (without regard to case, as the
// database compares server names). It lives on a companion file beside the
// database, "<database>.collect.lock", never on the database itself: one
// byte of that file per server, locked with an open-file-description lock,
// so it goes with the holder when that process ends however it ends. A
// program that cannot lock a byte (the file belongs to another user and may
// only be read, or a folder has its name) takes an exclusive flock of the
// whole file instead, and then holds every server of the database: all
// programs take turns. Because flock and byte locks do not see each other,
// every holder of a byte also holds a shared flock of the file. A missing
// lock file is created, never through a dangling link (see OpenLockFile).
// Within one process the lock is re-entrant: a holder's nested take (a
// window collecting while another of the same program waits on the
// directory) is granted at once, and while the process holds the whole
// file any server is.
//
// Never wait for it inside a write transaction of the database: the holder
// could then never write its rows and finish.
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

namespace velmo::exporting {

// How a take waits while another program collects the server.
struct CollectionWait {
  // Called once, when another program is found collecting the server.
  std::function<void()> started;
  // Called between tries, at most about 20 ms apart; false gives the wait
  // up. It is where a window lets its events run.
  std::function<bool()> keepWaiting;
  // The longest wait.
  std::chrono::milliseconds limit = std::chrono::milliseconds::max();
};

class CollectionLock {
 public:
  enum class Outcome {
    Taken,      // held now (or already held by this process)
    Unguarded,  // no lock at all can be taken on the lock file (`why` says why)
    Busy,       // another program collects the server (a take without wait)
    GivenUp,    // keepWaiting said to stop
    TimedOut,   // still collected by another program after the limit
  };

  CollectionLock() = default;
  ~CollectionLock();
  CollectionLock(const CollectionLock&) = delete;
  CollectionLock& operator=(const CollectionLock&) = delete;

  // Takes the lock of the server in the database file (a path with "\" or
  // "/" separators). Without a wait it tries once. Unguarded comes with the
  // reason in `why`; `firstTime` tells whether this process has not been
  // told of that lock file before, so that callers may log it once.
  Outcome Take(const std::string& databasePath, const std::string& serverName, const CollectionWait* wait,
               std::string* why = nullptr, bool* firstTime = nullptr);
  // Gives the lock back (nothing when not held); the last of a process's
  // nested holders unlocks it.
  void Release();
  bool Held() const { return !key_.empty(); }

  // The companion file of a database file.
  static std::filesystem::path CompanionFile(const std::string& databasePath);

 private:
  std::string key_;
};

}  // namespace velmo::exporting
