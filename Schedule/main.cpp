// VLMRSchedule: started by the scheduled task with no arguments, usually
// without a display and with almost no environment.
#include <QApplication>
#include <cstdlib>

#include "ScheduleRun.h"

int main(int argc, char** argv) {
  // Qt's messages go to the schedule log from the very start, never to
  // standard output or error (cron mails whatever a job prints).
  velmo::schedule::InstallQtMessageHandler();
  if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  velmo::schedule::InstallUnattendedUi();
  return velmo::schedule::Schedule_Main();
}
