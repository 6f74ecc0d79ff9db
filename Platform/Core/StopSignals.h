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

}  // namespace velmo
