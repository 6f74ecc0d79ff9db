#pragma once
// The program's entry: single instance, splash, main window.
#include <filesystem>
#include <string>

namespace velmo {
class FileLock;
}
class Mdifrm;

// The whole program: makes the application and its UI seam, runs the
// start-up and then the message loop until the main window closes.
int Main(int argc, char** argv);

// SIGTERM, SIGINT and SIGHUP (the session ending) become a stop request:
// the directory wait under way is given up (the collector call takes its
// rows back), the windows of the interface seam open now are closed as
// their Cancel, later boxes take their cautious answer (No, Cancel or
// Abort where they offer one: the escape button) without being shown, and
// once no browse window is collecting the main window closes as
// File > Exit does and the message loop ends with 128 + the signal's number.
void WatchStopSignals();

// The lock file that marks a running instance in this application folder.
std::filesystem::path InstanceLockFile();

// Takes the single-instance lock of this application folder; false when
// another instance of the program holds it.
bool TakeInstanceLock(velmo::FileLock& lock);

// The message shown when the application folder cannot hold the instance
// lock, naming the folder and the reason.
std::string InstanceLockFailureMessage(const std::string& reason);

// What the start-up came to.
struct StartUpResult {
  enum Kind { Started, AlreadyRunning, Failed, Stopped } kind = Failed;
  Mdifrm* window = nullptr;  // the shown main window when Started
};

// The start-up with an application already made: refuses a second
// instance ("Application is already opened."; a lock that cannot be made
// at all is reported and the start goes on), shows the splash for the
// given time and then the main window; a stop request during the splash
// ends it there (Stopped, no main window). The lock is kept in
// instanceLock for as long as the caller holds it. Any failure on the way shows "System is
// not configured properly.".
StartUpResult StartUp(velmo::FileLock& instanceLock, int splashMilliseconds = 1000);
