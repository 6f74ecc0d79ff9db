#include "modStartup.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFont>
#include <QGuiApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <memory>

#include "AppFolder.h"
#include "Database.h"
#include "Directory.h"
#include "InstanceLock.h"
#include "Mdifrm.h"
#include "QtUi.h"
#include "Ui.h"
#include "frmAutoFormat.h"
#include "frmSplash.h"
#include "modGlobals.h"
#include "QtNotices.h"
#include "StopSignals.h"
#include "frmExch.h"

using velmo::ui::Ui;

std::filesystem::path InstanceLockFile() { return velmo::AppPath("\\VELMORC.lock"); }

bool TakeInstanceLock(velmo::FileLock& lock) {
  return lock.TryLock(InstanceLockFile(), velmo::FileLock::Mode::Exclusive);
}

std::string InstanceLockFailureMessage(const std::string& reason) {
  return "The application folder \"" + velmo::AppFolderText() +
         "\" cannot hold the lock that keeps a second copy of the program from starting: " + reason +
         ".\r\nThe program starts without that check.";
}

StartUpResult StartUp(velmo::FileLock& instanceLock, int splashMilliseconds) {
  StartUpResult result;
  try {
    // Only a lock that another running copy holds means a second
    // instance; a folder where the lock file cannot be made (read-only,
    // missing) is said as such, and the program goes on.
    std::error_code lockError;
    switch (instanceLock.Try(InstanceLockFile(), velmo::FileLock::Mode::Exclusive, lockError)) {
      case velmo::FileLock::Outcome::Held:
        Ui().MsgBox("Application is already opened.", velmo::ui::vbCritical, "");
        result.kind = StartUpResult::AlreadyRunning;
        return result;
      case velmo::FileLock::Outcome::Failed:
        Ui().MsgBox(InstanceLockFailureMessage(lockError.message()), velmo::ui::vbExclamation, kProductTitle);
        break;
      case velmo::FileLock::Outcome::Taken:
        break;
    }

    {
      frmSplash splash;
      splash.Form_Load();
      splash.show();
      // The splash's second passes with events running, so the window is
      // mapped and painted as soon as the display shows it.
      QElapsedTimer shown;
      shown.start();
      QCoreApplication::processEvents();
      // A stop during the splash ends the start-up: no main window is made.
      while (shown.elapsed() < splashMilliseconds && velmo::StopSignal() == 0) {
        QThread::msleep(static_cast<unsigned long>(std::min<qint64>(20, splashMilliseconds - shown.elapsed())));
        QCoreApplication::processEvents();
      }
      splash.close();
    }
    if (velmo::StopSignal() != 0) {
      result.kind = StartUpResult::Stopped;
      return result;
    }

    auto* window = new Mdifrm();
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
    result.kind = StartUpResult::Started;
    result.window = window;
    return result;
  } catch (...) {
    Ui().MsgBox("System is not configured properly.", velmo::ui::vbCritical, "");
    instanceLock.Unlock();
    result.kind = StartUpResult::Failed;
    return result;
  }
}

namespace {
// Closes the program for a stop request once no work is under way: each
// long operation ends on the stop as on its Cancel and returns to the event
// loop first, so no window it holds (Export Plus's window lives on the
// stack of the menu command that opened it) is deleted under it. Then a
// modal window is closed, and, once none is left, the main window as File >
// Exit closes it; true when the main window is closed.
bool CloseForStop() {
  static bool closing = false;
  // A window's closing may let events run; the timer does not start the
  // next step inside it.
  if (closing) return false;
  if (velmo::WorkUnderWay::Any()) {
    // A window that asks the user something is closed as its Cancel (a
    // message box takes its escape button, the cautious answer); the work
    // waiting on it then reads the stop. Every other window waits for the
    // work.
    velmo::QtUi::CancelOpenQuestions();
    return false;
  }
  for (ExchWindow* w : gfrmExchWindows)
    if (auto* browse = dynamic_cast<frmExch*>(w); browse && browse->Busy()) return false;
  closing = true;
  struct Reset {
    ~Reset() { closing = false; }
  } reset;
  if (QWidget* modal = QApplication::activeModalWidget()) {
    modal->close();
    return false;
  }
  if (gMdifrm && gMdifrm->isVisible()) gMdifrm->mnuExit_Click();
  if (gMdifrm && gMdifrm->isVisible()) return false;
  // Before the main loop runs this exit is lost; Main reads the stop itself
  // once the start-up returns.
  QCoreApplication::exit(128 + velmo::StopSignal());
  return true;
}
}  // namespace

void WatchStopSignals() {
  velmo::InstallStopSignals();
  if (velmo::StopSignalFd() < 0) return;
  auto* notifier = new QSocketNotifier(velmo::StopSignalFd(), QSocketNotifier::Read, qApp);
  QObject::connect(notifier, &QSocketNotifier::activated, notifier, [notifier] {
    notifier->setEnabled(false);
    // Nobody is there to answer a box any more: its text goes to the
    // standard error stream and it takes its cautious answer (No, Cancel
    // or Abort where it offers one).
    velmo::ui::SetUi(std::make_shared<velmo::ui::UnattendedUi>([](const std::string& what) {
      std::fprintf(stderr, "%s\n", what.c_str());
      std::fflush(stderr);
    }));
    auto* timer = new QTimer(qApp);
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, timer, [timer] {
      if (CloseForStop()) timer->stop();
    });
    timer->start();
  });
}

int Main(int argc, char** argv) {
  // First of all: a stop from the very start is a stop request, not the
  // signal's default end.
  velmo::InstallStopSignals();
  velmo::DropPlatformPluginWarnings();
  QApplication app(argc, argv);
  QApplication::setApplicationName("VELMORC");
  // The windows are laid out in twips for an 8-point dialog font; a larger
  // desktop default would clip their captions.
  QFont dialogFont = QApplication::font();
  dialogFont.setPointSize(8);
  QApplication::setFont(dialogFont);

  // On a screen the user answers the message boxes; without one (the
  // offscreen platform) nobody can, so every box takes its cautious answer
  // (No, Cancel or Abort where it offers one) and its text goes to the
  // standard error stream.
  if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
    velmo::ui::SetUi(std::make_shared<velmo::ui::UnattendedUi>([](const std::string& what) {
      std::fprintf(stderr, "%s\n", what.c_str());
      std::fflush(stderr);
    }));
  } else {
    velmo::ui::SetUi(std::make_shared<velmo::QtUi>());
  }
  // Directory calls let events run while they wait on a server, and so do
  // database writes while another program holds the write lock.
  velmo::ads::SetWaitHook(DirectoryWaitHook);
  velmo::db::SetLockWaitHook(DatabaseLockWaitHook);
  WatchStopSignals();

  velmo::FileLock instanceLock;
  StartUpResult started = StartUp(instanceLock);
  if (velmo::StopSignal() != 0) {
    // Stopped before the main loop began: the main window, if made, closes
    // as File > Exit closes it.
    if (started.window) started.window->mnuExit_Click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 128 + velmo::StopSignal();
  }
  if (started.kind == StartUpResult::AlreadyRunning) return 0;
  if (started.kind == StartUpResult::Failed) return 1;
  return app.exec();
}
