// The shared modal progress window.
#include "frmAutoFormat.h"

#include <QApplication>
#include <QCloseEvent>
#include <QThread>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTreeWidget>

#include <ctime>

#include "Directory.h"
#include "Mdifrm.h"
#include "OutputFailures.h"
#include "StopSignals.h"
#include "Ui.h"
#include "frmConnect.h"
#include "modExchConnect.h"
#include "modGlobals.h"

using velmo::ui::Ui;

frmAutoFormat* gfrmAutoFormat = nullptr;

namespace {
// Sizes in pixels (the layout in twips divided by 15).
constexpr int kWidth = 400;
constexpr int kHeight = 104;
constexpr int kCancelTop = 64;
}  // namespace

frmAutoFormat::frmAutoFormat(QWidget* parent) : QDialog(parent) {
  setObjectName("frmAutoFormat");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setFixedSize(kWidth, kHeight);

  lblStatus = new QLabel(this);
  lblStatus->setObjectName("lblStatus");
  lblStatus->setGeometry(12, 12, kWidth - 24, 40);
  lblStatus->setWordWrap(true);

  cmdCancel = new QPushButton("Cancel", this);
  cmdCancel->setObjectName("cmdCancel");
  cmdCancel->setGeometry((kWidth - 90) / 2, kCancelTop, 90, 26);
  cmdCancel->setAutoDefault(false);
  connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });

  lblAutoFormat = new QLabel(this);
  lblAutoFormat->setObjectName("lblAutoFormat");
  lblAutoFormat->hide();
}

frmAutoFormat::~frmAutoFormat() {
  if (gfrmAutoFormat == this) gfrmAutoFormat = nullptr;
}

void frmAutoFormat::SetStatus(const std::string& text) {
  lblStatus->setText(QString::fromStdString(text));
  lblStatus->repaint();
}

void SetProgressStatus(const std::string& text) {
  if (gfrmAutoFormat) gfrmAutoFormat->SetStatus(text);
}

std::string RunStamp(std::chrono::system_clock::time_point when) {
  const std::time_t t = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  localtime_r(&t, &local);
  char text[64];
  std::snprintf(text, sizeof text, "%02d_%02d_%04d_%02d_%02d_%02d", local.tm_mon + 1, local.tm_mday,
                local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

void frmAutoFormat::ShowModal() {
  // From its showing: a stop's closing does not close this window before
  // its operation has even started.
  const velmo::WorkUnderWay work;
  frmAutoFormat* previous = gfrmAutoFormat;
  gfrmAutoFormat = this;
  setWindowModality(Qt::ApplicationModal);
  show();
  raise();
  QCoreApplication::processEvents();
  running_ = true;
  Form_Activate();
  running_ = false;
  gfrmAutoFormat = previous;
  hide();
}

void frmAutoFormat::Form_Activate() {
  switch (iEPInfo) {
    case 0:
      Connect();
      break;
    case 1:
      Retrieve();
      break;
    case 2:
      ExportOrPrint();
      break;
    case 3:
      WaitForCollection();
      break;
    default:
      break;
  }
}

void frmAutoFormat::Connect() {
  // Cancel stays: a server that is slow to answer can be given up.
  connectCancelled_ = false;
  cmdCancel->setVisible(true);
  cmdCancel->setEnabled(true);
  if (!gMdifrm) {
    gbConnected = false;
    return;
  }
  std::string user;
  std::string password;
  short kind = gMdifrm->iFavoriteORDefaultServer;
  const std::string server = gMdifrm->strFavoriteORDefaultServer;
  std::string caption;
  switch (kind) {
    case 0:
      caption = "Connecting to Default Server - '" + server + "'";
      break;
    case 1:
      caption = "Connecting to Favorite Server - '" + server + "'";
      break;
    default:
      caption = "Connecting to Server - '" + server + "'";
      break;
  }
  setWindowTitle(QString::fromStdString(caption));
  SetStatus(caption);

  if (kind != 0 && kind != 1 && kind != 6 && gfrmConnect) {
    const frmConnect& dialog = *gfrmConnect;
    if (dialog.ConnectAsTicked()) {
      if (!ConnectAsDistinguishedName(dialog.UserNameText(), user)) {
        Ui().MsgBox(kConnectAsFormatMessage, velmo::ui::vbInformation, kProductTitle);
        gbConnected = false;
        return;
      }
      password = dialog.PasswordText();
    }
    const bool favourite = dialog.FavoritesTicked();
    const bool makeDefault = dialog.DefaultTicked();
    kind = favourite && makeDefault ? 5 : makeDefault ? 4 : favourite ? 3 : 2;
    gMdifrm->iFavoriteORDefaultServer = kind;
  }

  lblStatus->repaint();
  QCoreApplication::processEvents();
  gbConnected = ConnectToExchangeServer(gMdifrm->iFavoriteORDefaultServer, gMdifrm->strFavoriteORDefaultServer,
                                        user, password);
}

void frmAutoFormat::Retrieve() {
  ExportPlusWindow* ep = gfrmExportPlus;
  if (!ep) return;
  ep->iCancelClicked = 0;
  cmdCancel->setVisible(true);
  cancelQuestion_ = "Cancel Retrieving ?";
  setWindowTitle(QString::fromStdString("Retrieving Information from '" + ep->strEPServerName + "'"));
  ep->GetAllInfo(ep->strEPServerName, "", "", ep->strEPOrganizationName, ep->strEPSiteName);
}

void frmAutoFormat::ExportOrPrint() {
  ExportPlusWindow* ep = gfrmExportPlus;
  if (!ep) return;
  ep->iCancelClicked = 0;
  cmdCancel->setVisible(true);
  const std::string caption = ep->cmdExportCaption();
  if (caption == "&Export") {
    setWindowTitle(QString::fromStdString("Exporting Information of '" + ep->strEPServerName + "'"));
    cancelQuestion_ = "Cancel Exporting ?";
    std::string format;
    for (int i = 0; i < 3; ++i)
      if (ep->optFormatValue(i)) {
        format = ep->optFormatCaption(i);
        break;
      }
    const std::string stamp = RunStamp(std::chrono::system_clock::now());
    ep->DisplayInfo(ep->strEPServerName, ep->strEPOrganizationName, ep->strEPSiteName, "Default", "Export", format,
                    ep->txtPathText(), stamp);
  } else if (caption == "&Print") {
    setWindowTitle(QString::fromStdString("Printing Information of '" + ep->strEPServerName + "'"));
    // Over the Export Plus object tree, so the window being printed from
    // stays in view.
    if (QWidget* tree = ep->tvwObjects()) {
      const QPoint at = tree->mapToGlobal(QPoint(0, 0));
      move(at.x() + (tree->width() - width()) / 2, at.y() + (tree->height() - height()) / 2);
    }
    cancelQuestion_ = "Cancel Printing ?";
    ep->SetPrinterName(ep->cboPrinterNameText());
    const std::string stamp = RunStamp(std::chrono::system_clock::now());
    ep->DisplayInfo(ep->strEPServerName, ep->strEPOrganizationName, ep->strEPSiteName, "Default", "Print", "",
                    ep->txtPathText(), stamp);
  }
}

void frmAutoFormat::WaitForCollection() {
  ExportPlusWindow* ep = gfrmExportPlus;
  if (!ep || !collectionLock) return;
  waitCancelled_ = false;
  cmdCancel->setVisible(true);
  cmdCancel->setEnabled(true);
  const std::string& server = ep->strEPServerName;
  setWindowTitle(QString::fromStdString("Retrieving Information from '" + server + "'"));
  SetStatus("Another program is collecting '" + server + "'. Waiting for it to finish; Cancel stops waiting.");
  velmo::exporting::CollectionWait wait;
  // A stop request gives the wait up as Cancel does.
  wait.keepWaiting = [this] {
    QCoreApplication::processEvents();
    return !waitCancelled_ && velmo::StopSignal() == 0;
  };
  collectionOutcome = collectionLock->Take(gstrDBPath, server, &wait);
}

void frmAutoFormat::cmdCancel_Click() {
  if (running_ && iEPInfo == 3) {
    waitCancelled_ = true;
    cmdCancel->setEnabled(false);
    return;
  }
  if (running_ && iEPInfo == 0) {
    connectCancelled_ = true;
    cmdCancel->setEnabled(false);
    return;
  }
  // Asked also while a print job runs, whose own messages are kept for the
  // run's closing message: this one the user waits for.
  const int answer = velmo::exporting::KeptMessages::Ask(cancelQuestion_, velmo::ui::vbYesNo + velmo::ui::vbQuestion,
                                                         kProductTitle);
  if (answer != velmo::ui::vbYes) return;
  if (gfrmExportPlus) gfrmExportPlus->iCancelClicked = 1;
  hide();
}

void frmAutoFormat::keyPressEvent(QKeyEvent* event) {
  // The window closes itself when its operation ends; Escape does not
  // end an operation half way, except a Print Plus run: between its jobs
  // this window holds the keyboard, and Esc stops the run before the next
  // job as Esc in a job's status window does, without the Cancel question.
  if (event->key() == Qt::Key_Escape) {
    if (running_ && iEPInfo == 2 && gfrmExportPlus && gfrmExportPlus->cmdExportCaption() == "&Print")
      gfrmExportPlus->iCancelClicked = 1;
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void frmAutoFormat::closeEvent(QCloseEvent* event) {
  if (running_) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

bool frmAutoFormat::WaitsGivenUp() const {
  return connectCancelled_ || (iEPInfo != 0 && gfrmExportPlus && gfrmExportPlus->iCancelClicked == 1);
}

EscapeWatch* gCollectionEscape = nullptr;

void EscapeWatch::ProcessEvents() {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return;
  app->installEventFilter(this);
  QCoreApplication::processEvents();
  app->removeEventFilter(this);
}

bool EscapeWatch::eventFilter(QObject*, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress:
      if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) pressed = true;
      return true;
    case QEvent::MouseButtonRelease: {
      // Seen where it first arrives (the window, or the button itself):
      // the button is hit when the release is over it.
      const auto* mouse = static_cast<QMouseEvent*>(event);
      if (alsoStops && alsoStops->isVisible() && mouse->button() == Qt::LeftButton &&
          alsoStops->rect().contains(alsoStops->mapFromGlobal(mouse->globalPosition().toPoint()))) {
        pressed = true;
        stopClicked = true;
      }
      return true;
    }
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::KeyRelease:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
      return true;
    default:
      return false;
  }
}

void SetStatusText(const std::string& text) {
  if (!gMdifrm) return;
  if (QLabel* panel = gMdifrm->Panel(1)) {
    panel->setText(QString::fromStdString(text));
    panel->repaint();
  }
}

void ClearStoppedStatusText() {
  if (!gMdifrm) return;
  QLabel* panel = gMdifrm->Panel(1);
  if (!panel) return;
  const std::string text = panel->text().toStdString();
  if (text == kStoppedWaitingText || text == kStoppedCollectingText || text == kStoppedLockWaitText ||
      text.rfind("The rows of an unfinished collection of '", 0) == 0)
    SetStatusText("");
}

void EndLockWaitText(EscapeWatch& escape) {
  if (!escape.lockWaitShown) return;
  escape.lockWaitShown = false;
  SetStatusText(escape.beforeLockWait);
}

namespace {
// True while DatabaseLockWaitHook runs the wait hook.
bool gInLockWait = false;
}  // namespace

bool DatabaseLockWaitHook() {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || QThread::currentThread() != app->thread() || velmo::ads::PacingWork())
    return velmo::ads::PaceWaitHook();
  EscapeWatch* escape = gCollectionEscape;
  if (escape && !escape->lockWaitShown) {
    if (QLabel* panel = gMdifrm ? gMdifrm->Panel(1) : nullptr) escape->beforeLockWait = panel->text().toStdString();
    escape->lockWaitShown = true;
    SetStatusText(kLockWaitText);
  }
  gInLockWait = true;
  const bool goOn = velmo::ads::OutsideWaitHook();
  gInLockWait = false;
  if (!goOn && escape && escape == gCollectionEscape) escape->lockWaitGivenUp = true;
  return goOn;
}

bool DirectoryWaitHook() {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || QThread::currentThread() != app->thread()) return true;
  // A lock wait that ended: the collection's own status text again.
  if (gCollectionEscape && !gInLockWait) EndLockWaitText(*gCollectionEscape);
  frmAutoFormat* progress = gfrmAutoFormat;
  const bool progressOnTop = progress && qobject_cast<QApplication*>(app) && progress->isVisible() &&
                             QApplication::activeModalWidget() == static_cast<QWidget*>(progress);
  // Whatever call waits here is on the stack: a stop's closing waits until
  // it has returned, so no window it uses is deleted under it.
  const velmo::WorkUnderWay work;
  if (velmo::ads::PacingWork())
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  else if (progressOnTop)
    QCoreApplication::processEvents();
  else if (gCollectionEscape)
    gCollectionEscape->ProcessEvents();
  else
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  progress = gfrmAutoFormat;
  const bool escaped = gCollectionEscape && gCollectionEscape->pressed;
  return !(progress && progress->WaitsGivenUp()) && !escaped && velmo::StopSignal() == 0;
}

void ConnectInProgressWindow() {
  frmAutoFormat window(gMdifrm);
  window.iEPInfo = 0;
  window.ShowModal();
}
