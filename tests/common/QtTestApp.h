#pragma once
// The application object of a widget test program and the event pump the
// window tests run between steps.
#include <QApplication>
#include <QCoreApplication>
#include <QEvent>

#include <string>

#include "QtNotices.h"

namespace velmo::test {

// The program's one QApplication, made on first use under the given
// program name; closing the last window does not quit it, since the tests
// open and close windows one after another.
inline QApplication& TestApp(const char* programName) {
  static std::string name = programName;
  static int argc = 1;
  static char* argv[] = {name.data(), nullptr};
  static QApplication* app = [] {
    velmo::DropPlatformPluginWarnings();
    auto* a = new QApplication(argc, argv);
    a->setQuitOnLastWindowClosed(false);
    return a;
  }();
  return *app;
}

// Runs the queued events and the deferred deletions they cause, a few
// rounds so that events posted while handling others run too.
inline void PumpEvents() {
  for (int i = 0; i < 3; ++i) {
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
}

}  // namespace velmo::test
