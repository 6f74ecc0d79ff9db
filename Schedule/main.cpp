// VLMRSchedule: started by the scheduled task with no arguments, usually
// without a display and with almost no environment.
#include <QApplication>
#include <cstdlib>

#include "Directory.h"
#include "DisplayProbe.h"
#include "ScheduleRun.h"

int main(int argc, char** argv) {
  // Qt's messages go to the schedule log from the very start, never to
  // standard output or error (cron mails whatever a job prints).
  velmo::schedule::InstallQtMessageHandler();
  // Without a display that answers (none named, an empty name, or one that
  // is gone) the status window draws off screen instead of aborting the run.
  if (!velmo::DisplayAnswers()) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  velmo::schedule::InstallUnattendedUi();
  // While the directory layer waits on a server the status window still
  // repaints.
  velmo::ads::SetWaitHook([] {
    QCoreApplication::processEvents();
    return true;
  });
  return velmo::schedule::Schedule_Main();
}
