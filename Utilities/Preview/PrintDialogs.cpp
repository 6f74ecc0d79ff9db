// The page selection and page-number option dialogs, the printer set-up
// step and the print status window.
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>

#include <filesystem>
#include <system_error>

#include "PrintGeneralFucntions.h"
#include "PrintPage.h"
#include "PrintWindows.h"
#include "StopSignals.h"
#include "Ui.h"
#include "WaitCursor.h"

namespace vlmrpreview {

namespace {
constexpr auto Px = velmo::TwipsToPx;

void Centre(QWidget* w) {
  if (const QScreen* s = QGuiApplication::primaryScreen()) {
    const QRect r = s->availableGeometry();
    w->move(r.center() - QPoint(w->width() / 2, w->height() / 2));
  }
}
}  // namespace

void ShowPrinterProblem(const PrintControlVariables& v, const std::string& why) {
  velmo::ui::Ui().MsgBox(v.PrinterProblemMessage + why, velmo::ui::vbInformation, v.ProductName);
}

void ShowPrinterDialog(QWidget* owner, PrintControlVariables& v) {
  velmo::ui::PrinterSettings settings = velmo::printers::Current();
  const long id = owner ? velmo::ui::RegisterWindow(owner) : 0;
  const bool ok = velmo::ui::Ui().PrinterSetup(settings, id);
  if (id) velmo::ui::UnregisterWindow(id);
  if (!ok) return;
  velmo::printers::SetCurrent(settings);
  v.PrinterChanged = true;
}

// ------------------------------------------------------------ frmPageSelection

frmPageSelection::frmPageSelection(PrintControlVariables& v, QWidget* parent) : QDialog(parent), v_(v) {
  setObjectName("frmPageSelection");
  setWindowTitle("Page Selection");
  setFixedSize(Px(3675), Px(1650));
  opPageSelection1_ = new QRadioButton("Print All Pages", this);
  opPageSelection1_->setObjectName("opPageSelection1");
  opPageSelection1_->setGeometry(Px(240), Px(240), Px(2000), Px(300));
  opPageSelection2_ = new QRadioButton("Print Current Page", this);
  opPageSelection2_->setObjectName("opPageSelection2");
  opPageSelection2_->setGeometry(Px(240), Px(660), Px(2000), Px(300));
  OKButton_ = new QPushButton("OK", this);
  OKButton_->setObjectName("OKButton");
  OKButton_->setGeometry(Px(2400), Px(180), Px(1095), Px(375));
  OKButton_->setDefault(true);
  auto* cancel = new QPushButton("Cancel", this);
  cancel->setObjectName("CancelButton");
  cancel->setGeometry(Px(2400), Px(660), Px(1095), Px(375));
  opPageSelection1_->setChecked(true);
  v_.PageSelection = 0;
  connect(OKButton_, &QPushButton::clicked, this, [this] {
    v_.PageSelection = opPageSelection1_->isChecked() ? 1 : 2;
    accept();
  });
  connect(cancel, &QPushButton::clicked, this, [this] {
    v_.PageSelection = 0;
    reject();
  });
  Centre(this);
}

void frmPageSelection::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  OKButton_->setFocus();
  v_.RebuildPageTable = false;
}

void frmPageSelection::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Escape) {
    v_.PageSelection = 0;
    reject();
    return;
  }
  QDialog::keyPressEvent(e);
}

// ------------------------------------------------------------ frmPageSettings

frmPageSettings::frmPageSettings(PrintControlVariables& v, QWidget* parent) : QDialog(parent), v_(v) {
  setObjectName("frmPageSettings");
  setWindowTitle("Printer Option");
  setFixedSize(Px(3945), Px(1440));
  chkPageNo_ = new QCheckBox("Page No", this);
  chkPageNo_->setObjectName("chkPageNo");
  chkPageNo_->setGeometry(Px(240), Px(200), Px(1200), Px(300));
  cbPageAlign_ = new QComboBox(this);
  cbPageAlign_->setObjectName("cbPageAlign");
  cbPageAlign_->setGeometry(Px(1560), Px(180), Px(2160), Px(315));
  const char* captions[2] = {"&Ok", "&Cancel"};
  QPushButton* buttons[2];
  for (int i = 0; i < 2; ++i) {
    buttons[i] = new QPushButton(captions[i], this);
    buttons[i]->setObjectName("cmdOption");
    buttons[i]->setProperty("Index", i);
    buttons[i]->setGeometry(Px(1320 + i * 1200), Px(840), Px(1095), Px(375));
  }
  buttons[0]->setDefault(true);
  for (const char* t : {"Top Left", "Top Right", "Bottom Left", "Bottom Right"}) cbPageAlign_->addItem(t);
  connect(chkPageNo_, &QCheckBox::toggled, cbPageAlign_, &QWidget::setEnabled);
  cbPageAlign_->setEnabled(false);
  cbPageAlign_->setCurrentIndex(0);
  // Opens on the position in force.
  if (!v_.PageNumberPosition.empty()) chkPageNo_->setChecked(true);
  const int at = cbPageAlign_->findText(QString::fromStdString(v_.PageNumberPosition), Qt::MatchExactly | Qt::MatchCaseSensitive);
  if (at >= 0) cbPageAlign_->setCurrentIndex(at);
  v_.RebuildPageTable = false;
  connect(buttons[0], &QPushButton::clicked, this, [this] {
    v_.PageNumberPosition = chkPageNo_->isChecked() ? cbPageAlign_->currentText().toStdString() : "";
    v_.RebuildPageTable = true;
    accept();
  });
  connect(buttons[1], &QPushButton::clicked, this, [this] {
    v_.RebuildPageTable = false;
    reject();
  });
  Centre(this);
}

void frmPageSettings::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Escape) {
    v_.RebuildPageTable = false;
    reject();
    return;
  }
  QDialog::keyPressEvent(e);
}

// ------------------------------------------------------------ frmPrintStatus

frmPrintStatus::frmPrintStatus(PrintControlVariables& v, QWidget* parent) : QDialog(parent), v_(v) {
  setObjectName("frmPrintStatus");
  setWindowTitle("Printer Status");
  setFixedSize(Px(4725), Px(1260));
  lblStatus_ = new QLabel("Loading Please Wait ....", this);
  lblStatus_->setObjectName("lblStatus");
  lblStatus_->setGeometry(Px(240), Px(180), Px(4245), Px(300));
  ProgBar_ = new QProgressBar(this);
  ProgBar_->setObjectName("ProgBar");
  ProgBar_->setGeometry(Px(240), Px(600), Px(4245), Px(375));
  ProgBar_->setRange(0, 100);
  ProgBar_->setValue(0);
  ProgBar_->setTextVisible(false);
  Timer1_ = new QTimer(this);
  Timer1_->setObjectName("Timer1");
  // A single job gives the user a second in which Esc prints nothing; a
  // job of a batch starts on the first turn of the event loop.
  Timer1_->setInterval(v_.BatchMode ? 0 : 1000);
  connect(Timer1_, &QTimer::timeout, this, [this] { Timer1_Timer(); });
  sData_ = NewPageGrid(this);
  sData_->setObjectName("sData");
  sHeader_ = NewPageGrid(this);
  sHeader_->setObjectName("sHeader");
  pbSource_ = new QWidget(this);
  pbSource_->setObjectName("pbSource");
  pbSource_->hide();
  v_.PrintFontName = "Times New Roman";
  jobPending_ = true;
  Centre(this);
  if (v_.BatchMode) {
    // One job of many lives for a moment: the keyboard stays with the
    // window the batch runs under (a key cannot fall between two jobs'
    // windows), and Run shows this one without modality, so that window
    // is not blocked: Esc pressed there is delivered while this job prints
    // and stops it as Esc here does.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setWindowFlag(Qt::WindowDoesNotAcceptFocus);
    if (parent) parent->window()->installEventFilter(this);
  }
}

void frmPrintStatus::Run() {
  if (!v_.BatchMode) {
    exec();
    return;
  }
  QEventLoop loop;
  connect(this, &QDialog::finished, &loop, &QEventLoop::quit);
  show();
  loop.exec(QEventLoop::DialogExec);
}

bool frmPrintStatus::eventFilter(QObject* watched, QEvent* e) {
  // Only while this window shows: once it has gone, the key is the other
  // window's own (it stops the batch before its next job).
  if (isVisible() && e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->key() == Qt::Key_Escape)
    reject();
  return QDialog::eventFilter(watched, e);
}

frmPrintStatus::~frmPrintStatus() {
  if (v_.HeaderPresent) v_.HeaderSource = nullptr;
}

void frmPrintStatus::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  lblStatus_->repaint();
  if (jobPending_) Timer1_->start();
}

void frmPrintStatus::Timer1_Timer() {
  if (!jobPending_) return;
  Timer1_->stop();
  jobPending_ = false;
  running_ = true;
  // A program closing for a stop request waits for the job to end.
  const velmo::WorkUnderWay work;
  velmo::ui::WaitCursor hourglass;
  bool problem = false;
  PrintJobOutcome outcome = PrintJobOutcome::None;
  std::string file, failure, reason;
  // Asked after each page: lets Esc and a close reach the window. A stop
  // request ends the job there as Esc does: the pages drawn are dropped.
  auto cancelled = [this] {
    ProgBar_->setValue(ProgBar_->maximum());
    QCoreApplication::processEvents();
    return cancel_ || velmo::StopSignal() != 0;
  };
  try {
    if (v_.HeaderPresent) PrepareHeaderGrid(sHeader_.get());
    const velmo::ui::PrinterSettings printer = velmo::printers::Current();
    const velmo::printers::PageGeometry page = velmo::printers::GeometryOf(printer);
    BuildPageTable(v_, page.ScaleWidth, page.ScaleHeight);
    velmo::printers::Job job(printer);
    bool ok = false;
    if (v_.PageCount < 1) {
      // Nothing to print.
    } else if (!job.Begin(v_.Title2Text.empty() ? v_.ProductName : v_.Title2Text, v_.Title2Text)) {
      problem = true;
      failure = job.Failure();
    } else if (v_.PageLayoutMode == kOnePage && v_.PageCount == 1) {
      lblStatus_->setText("Page 1 of 1 is Printing");
      ProgBar_->setValue(ProgBar_->maximum() / 2);
      ok = PrintOnePage(job, v_, *sData_, v_.CurrentPage, v_.GridBorder, &failure, cancelled);
      problem = !ok && !failure.empty();
    } else {
      PrintProgress progress;
      progress.beforePage = [this](int i, int n) {
        lblStatus_->setText(QString("Page  %1 of  %2").arg(i).arg(n));
        ProgBar_->setValue(ProgBar_->minimum());
        ProgBar_->setValue(ProgBar_->maximum() / 2);
      };
      progress.cancelled = cancelled;
      ok = PrintAllPages(job, v_, *sData_, progress, &failure);
      problem = !ok && !failure.empty();
    }
    if (ok) {
      outcome = PrintJobOutcome::Printed;
      file = job.OutputFile().string();
    } else if (v_.PageCount >= 1) {
      outcome = problem ? PrintJobOutcome::Failed : PrintJobOutcome::Cancelled;
    }
    if (problem) {
      file = job.OutputFile().string();
      reason = job.Reason().empty() ? failure : job.Reason();
    }
  } catch (const std::exception& e) {
    problem = true;
    outcome = PrintJobOutcome::Failed;
    failure = reason = e.what();
  }
  v_.LastJobOutcome = outcome;
  v_.LastJobFile = file;
  v_.LastJobError = reason;
  hourglass.Release();
  running_ = false;
  // The reason stands on a last line of its own under the printer message.
  if (problem) ShowPrinterProblem(v_, failure);
  accept();
  QCoreApplication::processEvents();
}

void frmPrintStatus::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Escape) {
    reject();
    return;
  }
  QDialog::keyPressEvent(e);
}

// Esc or closing before the job starts ends the window with nothing
// printed; once printing runs, they end the job after the current page.
void frmPrintStatus::reject() {
  if (running_) {
    cancel_ = true;
    return;
  }
  StopPendingOrEndedJob();
  QDialog::reject();
}

void frmPrintStatus::closeEvent(QCloseEvent* e) {
  if (running_) {
    cancel_ = true;
    e->ignore();
    return;
  }
  StopPendingOrEndedJob();
  QDialog::closeEvent(e);
}

// A job that has not started prints nothing. One that has just ended, its
// window not yet gone (it lets events run as it closes), counts as stopped
// too, as the user still saw it printing: its PDF file is deleted (pages
// already sent to a print queue cannot be called back).
void frmPrintStatus::StopPendingOrEndedJob() {
  if (jobPending_) {
    v_.LastJobOutcome = PrintJobOutcome::Cancelled;
  } else if (v_.LastJobOutcome == PrintJobOutcome::Printed) {
    std::error_code ec;
    if (!v_.LastJobFile.empty()) std::filesystem::remove(v_.LastJobFile, ec);
    v_.LastJobFile.clear();
    v_.LastJobOutcome = PrintJobOutcome::Cancelled;
  }
  jobPending_ = false;
  Timer1_->stop();
}

}  // namespace vlmrpreview
