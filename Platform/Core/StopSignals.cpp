#include "StopSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace velmo {

namespace {
std::atomic<int> gSignal{0};
int gPipe[2] = {-1, -1};
std::atomic<bool> gInstalled{false};
int gWorkUnderWay = 0;  // read and written on the program's own thread only

extern "C" void OnStopSignal(int signal) {
  const int saved = errno;
  int none = 0;
  gSignal.compare_exchange_strong(none, signal);
  if (gPipe[1] >= 0) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(gPipe[1], &byte, 1);
  }
  errno = saved;
}
}  // namespace

void InstallStopSignals() {
  if (gInstalled.exchange(true)) return;
  if (::pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0) gPipe[0] = gPipe[1] = -1;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // Waits the program is in (a poll, a read) end with EINTR or go on; the
  // program looks at the request at its own pace either way.
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

int StopSignal() { return gSignal.load(); }

WorkUnderWay::WorkUnderWay() { ++gWorkUnderWay; }
WorkUnderWay::~WorkUnderWay() { --gWorkUnderWay; }
bool WorkUnderWay::Any() { return gWorkUnderWay > 0; }

int StopSignalFd() { return gPipe[0]; }

std::string StopSignalName(int signal) {
  switch (signal) {
    case SIGTERM:
      return "SIGTERM";
    case SIGINT:
      return "SIGINT";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "signal " + std::to_string(signal);
  }
}

}  // namespace velmo
