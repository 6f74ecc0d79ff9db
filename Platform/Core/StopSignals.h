#pragma once
// The signals that ask a program to stop (SIGTERM from a task's window end
// or a shutdown, SIGINT, SIGHUP from a session ending) turned into a stop
// request that the program's loops and waits read, so that it ends its
// current work cleanly instead of dying in the middle of a write.
//
// The handler only records the first signal and writes one byte to a pipe
// (both async-signal-safe); everything else happens on the program's own
// thread when it looks at StopSignal() or watches StopSignalFd().
#include <string>

namespace velmo {

// Installs the handler for SIGTERM, SIGINT and SIGHUP (once; later calls do
// nothing). A signal that arrived before is not seen.
void InstallStopSignals();
// The first stop signal received, 0 while none came.
int StopSignal();
// The read end of the pipe the handler writes a byte into; -1 before
// InstallStopSignals. It stays readable once a signal came.
int StopSignalFd();
// "SIGTERM", "SIGINT", "SIGHUP", else "signal N".
std::string StopSignalName(int signal);

// Marks a long piece of work under way on the program's own thread (a run,
// a collection, a print job) that reads StopSignal() and ends on it as on
// its own Cancel. While one lives, a program that closes its windows for a
// stop waits for it: the work's event processing would otherwise run that
// closing, and delete windows the work still holds, from inside it.
class WorkUnderWay {
 public:
  WorkUnderWay();
  ~WorkUnderWay();
  WorkUnderWay(const WorkUnderWay&) = delete;
  WorkUnderWay& operator=(const WorkUnderWay&) = delete;
  // True while any such work is on the stack.
  static bool Any();
};

}  // namespace velmo
