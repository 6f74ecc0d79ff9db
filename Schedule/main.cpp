// VLMRSchedule: started by the scheduled task with no arguments, usually
// without a display and with almost no environment.
#include <QApplication>
#include <cstdlib>
#include <string>
#include <vector>

#include "Database.h"
#include "Directory.h"
#include "DisplayProbe.h"
#include "ScheduleRun.h"
#include "StopSignals.h"

int main(int argc, char** argv) {
  // SIGTERM (a task's window ending, a shutdown), SIGINT and SIGHUP become
  // a stop request: the collector call under way is given up through the
  // wait hook and taken back, the output being written is dropped, one
  // entry says so and the run ends with 128 + the signal's number.
  velmo::InstallStopSignals();
  // Qt's messages go to the schedule log from the very start, never to
  // standard output or error (cron mails whatever a job prints).
  velmo::schedule::InstallQtMessageHandler();
  // The status window uses a display only when the display's own set-up
  // answers within a bound; otherwise (none named, or one gone, stopped,
  // refusing this user or without its Qt plugin) it draws off screen
  // instead of hanging or aborting the run, and the run says why. A
  // platform named in the environment is kept while a display is usable.
  //
  // The choice reaches Qt as its "-platform" argument, which Qt takes over
  // QT_QPA_PLATFORM, and the environment is left as it is: the host-name
  // lookup of a display that did not answer in time may still run on a
  // thread of its own, and changing the environment beside it is a race.
  const velmo::DisplayChoice display = velmo::ChooseDisplay(velmo::QtPlatformPluginFolders());
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  std::vector<char*> args(argv, argv + argc);
  char platformFlag[] = "-platform";
  std::string chosen = display.platform;
  if (display.platform == "offscreen" || !(platform && *platform)) {
    args.push_back(platformFlag);
    args.push_back(chosen.data());
  }
  args.push_back(nullptr);
  int count = static_cast<int>(args.size()) - 1;
  if (!display.why.empty())
    velmo::schedule::LogEntryAfterHeader("     VLMRSchedule : Display Not Used : " + display.why);
  QApplication app(count, args.data());
  velmo::schedule::InstallUnattendedUi();
  // While the directory layer waits on a server, or a write waits for
  // another program's write lock, the status window still repaints; a stop
  // request gives the wait up.
  velmo::ads::SetWaitHook([] {
    QCoreApplication::processEvents();
    return velmo::StopSignal() == 0;
  });
  velmo::db::SetLockWaitHook(velmo::ads::PaceWaitHook);
  return velmo::schedule::Schedule_Main();
}
