// The repeat options, months and password dialogs of the schedule input
// window.
#include "DialogControls.h"
#include "ScheduleDialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "Mdifrm.h"
#include "ScheduleDates.h"
#include "UpDown.h"
#include "Ui.h"
#include "frmScheduleInput.h"
#include "modGlobals.h"

using velmo::ui::Ui;

namespace {

QDateEdit* MakeDate(QWidget* parent, const char* name, const QRect& geometry) {
  auto* d = MakeControl<QDateEdit>(parent, name, geometry);
  d->setCalendarPopup(true);
  d->setDisplayFormat("M/d/yyyy");
  d->setDate(QDate::currentDate());
  return d;
}

std::string Text(const QLineEdit* box) { return box->text().toStdString(); }

// The whole number a box holds (0 when it holds none).
long Number(const QLineEdit* box) {
  bool ok = false;
  const long n = box->text().trimmed().toLong(&ok);
  return ok ? n : 0;
}

void SetFixedDialog(QDialog* dialog, const char* name, const char* title, int widthTwips, int heightTwips) {
  dialog->setObjectName(name);
  dialog->setWindowTitle(title);
  dialog->setWindowIcon(ProgramIcon());
  dialog->setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint);
  dialog->setFixedSize(widthTwips / 15, heightTwips / 15);
}

// A spinner and its box follow each other: the spinner's value is written
// into the box; a non-empty box sets the spinner through `toSpin`.
template <class F>
void Pair(QDialog* dialog, UpDown* spin, QLineEdit* box, F toSpin) {
  QObject::connect(spin, &UpDown::Change, dialog, [spin, box] {
    const QString text = QString::number(spin->Value());
    if (box->text() != text) box->setText(text);
  });
  QObject::connect(box, &QLineEdit::textChanged, dialog, [spin, box, toSpin] {
    if (box->text().isEmpty()) return;
    spin->SetValue(toSpin(Number(box)));
  });
}

}  // namespace

// ------------------------------------------------------------ frmAdvanced

frmAdvanced::frmAdvanced(frmScheduleInput* input, QWidget* parent) : QDialog(parent), input_(input) {
  SetFixedDialog(this, "frmAdvanced", "Advanced Schedule Options", 5700, 3330);

  Label2 = MakeLabel(this, "Label2", "St&art Date", Twips(120, 180, 900, 255));
  dtpStartDate = MakeDate(this, "dtpStartDate", Twips(1110, 120, 1500, 330));
  Label2->setBuddy(dtpStartDate);
  chkEndDate = MakeControl<QCheckBox>(this, "chkEndDate", Twips(2700, 150, 1230, 285));
  chkEndDate->setText("&End Date");
  dtpEndDate = MakeDate(this, "dtpEndDate", Twips(3960, 120, 1560, 330));
  dtpEndDate->setEnabled(false);

  FrameRepeatTask = MakeControl<QGroupBox>(this, "FrameRepeatTask", Twips(120, 600, 5460, 2100));
  FrameRepeatTask->setTitle(QString(25, QLatin1Char(' ')));
  chkRepeatTask = MakeControl<QCheckBox>(this, "chkRepeatTask", Twips(240, 570, 1500, 285));
  chkRepeatTask->setText("Re&peat task");

  Label3 = MakeLabel(this, "Label3", "E&very", Twips(300, 1000, 540, 255));
  txtEvery = MakeControl<QLineEdit>(this, "txtEvery", Twips(900, 940, 600, 330));
  txtEvery->setMaxLength(4);
  txtEvery->setText("10");
  Label3->setBuddy(txtEvery);
  UpDownEvery = MakeControl<UpDown>(this, "UpDownEvery", Twips(1500, 940, 240, 330));
  cboEvery = MakeControl<QComboBox>(this, "cboEvery", Twips(1860, 940, 1260, 330));

  Label1 = MakeLabel(this, "Label1", "Until:", Twips(300, 1440, 540, 255));
  OptDuration = MakeControl<QRadioButton>(this, "OptDuration", Twips(900, 1420, 1200, 285));
  OptDuration->setText("&Duration");

  txtHour = MakeControl<QLineEdit>(this, "txtHour", Twips(900, 1800, 600, 330));
  txtHour->setMaxLength(4);
  txtHour->setText("1");
  UpDownHour = MakeControl<UpDown>(this, "UpDownHour", Twips(1500, 1800, 240, 330));
  Label4 = MakeLabel(this, "Label4", "H&our(s)", Twips(1800, 1840, 780, 255));
  Label4->setBuddy(txtHour);
  txtMinute = MakeControl<QLineEdit>(this, "txtMinute", Twips(2640, 1800, 480, 330));
  txtMinute->setMaxLength(2);
  UpDownMinute = MakeControl<UpDown>(this, "UpDownMinute", Twips(3120, 1800, 240, 330));
  Label5 = MakeLabel(this, "Label5", "M&inute(s)", Twips(3420, 1840, 960, 255));
  Label5->setBuddy(txtMinute);

  chkTask = MakeControl<QCheckBox>(this, "chkTask", Twips(300, 2280, 5200, 285));
  chkTask->setText("If the task is &still running, stop it at this time.");

  cmdOk = MakeButton(this, "cmdOk", "OK", Twips(3000, 2850, 1200, 375));
  cmdOk->setDefault(true);
  cmdCancel = MakeButton(this, "cmdCancel", "Cancel", Twips(4320, 2850, 1200, 375));

  // Load.
  cboEvery->addItems({"minutes", "hours"});
  cboEvery->setCurrentIndex(-1);
  SetRepeatControlsEnabled(false);
  Label1->setEnabled(true);

  for (QLineEdit* box : {txtEvery, txtHour, txtMinute}) box->installEventFilter(this);
  Pair(this, UpDownEvery, txtEvery, [](long n) { return static_cast<int>(n == 0 ? 10 : n); });
  Pair(this, UpDownHour, txtHour, [](long n) { return static_cast<int>(n); });
  Pair(this, UpDownMinute, txtMinute, [](long n) { return static_cast<int>(n >= 60 ? 59 : n); });

  connect(chkRepeatTask, &QCheckBox::toggled, this, [this] { chkRepeatTask_Click(); });
  connect(chkEndDate, &QCheckBox::toggled, this, [this] { chkEndDate_Click(); });
  connect(OptDuration, &QRadioButton::toggled, this, [this](bool on) {
    if (on) OptDuration_Click();
  });
  connect(cmdOk, &QPushButton::clicked, this, [this] { cmdOk_Click(); });
  connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });
}

void frmAdvanced::SetRepeatControlsEnabled(bool on) {
  for (QWidget* w : std::initializer_list<QWidget*>{txtEvery, UpDownEvery, cboEvery, OptDuration, txtHour, txtMinute,
                                                    UpDownHour, UpDownMinute, Label3, Label4, Label5, chkTask})
    w->setEnabled(on);
}

void frmAdvanced::Enable_UDEvery() {
  UpDownEvery->SetRange(1, 9999);
  UpDownEvery->SetValue(1);
}

void frmAdvanced::Enable_UDHour() {
  UpDownHour->SetRange(1, 9999);
  UpDownHour->SetValue(1);
}

void frmAdvanced::Enable_UDMinute() {
  UpDownMinute->SetRange(0, 59);
  UpDownMinute->SetValue(0);
}

void frmAdvanced::chkRepeatTask_Click() {
  if (chkRepeatTask->isChecked()) {
    Enable_UDEvery();
    Enable_UDHour();
    Enable_UDMinute();
    cboEvery->setCurrentIndex(0);
    SetRepeatControlsEnabled(true);
    OptDuration->setChecked(true);
  } else {
    SetRepeatControlsEnabled(false);
  }
}

void frmAdvanced::chkEndDate_Click() { dtpEndDate->setEnabled(chkEndDate->isChecked()); }

void frmAdvanced::OptDuration_Click() {
  for (QWidget* w : std::initializer_list<QWidget*>{UpDownHour, UpDownMinute, txtHour, txtMinute}) w->setEnabled(true);
}

std::string frmAdvanced::getAdvancedSet() const {
  const std::string H = Text(input_->txtam[0]), M = Text(input_->txtam[1]), P = Text(input_->txtam[2]);
  std::string s;
  if (chkRepeatTask->isChecked())
    s = " Every " + Text(txtEvery) + " " + cboEvery->currentText().toStdString() + " from " + H + ":" + M + " " + P +
        " for ";
  else
    s = "At " + H + ":" + M + " " + P + " ";
  if (OptDuration->isChecked()) {
    if (!txtHour->text().isEmpty()) s += std::to_string(Number(txtHour)) + " hour(s) ";
    if (!txtMinute->text().isEmpty()) s += std::to_string(Number(txtMinute)) + " minute(s) ";
  }
  return s;
}

std::string frmAdvanced::getStartTime() const {
  if (!dtpStartDate->isEnabled()) return "";
  std::string s = "starting " + PickerShortDate(dtpStartDate->date()) + " ";
  if (chkEndDate->isChecked()) s += " and ending " + PickerShortDate(dtpEndDate->date());
  return s;
}

void frmAdvanced::cmdOk_Click() {
  const char* kTooShort = "The duration must be greater than the repetition interval.";
  if (txtEvery->text().isEmpty() || (txtHour->text().isEmpty() && txtMinute->text().isEmpty())) {
    Ui().MsgBox(kTooShort, velmo::ui::vbExclamation, kProductTitle);
    return;
  }
  long interval = Number(txtEvery);
  if (cboEvery->currentText() == "hours") interval *= 60;
  long duration = 0;
  if (!txtHour->text().isEmpty()) duration += Number(txtHour) * 60;
  if (!txtMinute->text().isEmpty()) duration += Number(txtMinute);
  if (interval >= duration) {
    Ui().MsgBox(kTooShort, velmo::ui::vbExclamation, kProductTitle);
    return;
  }
  input_->lblSelected->setText(
      QString::fromStdString(getAdvancedSet() + input_->getEveryday() + " " + getStartTime()));
  done(QDialog::Accepted);
}

void frmAdvanced::cmdCancel_Click() { done(QDialog::Rejected); }

void frmAdvanced::reject() { cmdCancel_Click(); }

void frmAdvanced::ShowModal() {
  setWindowModality(Qt::ApplicationModal);
  exec();
}

bool frmAdvanced::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (RefusedByDigitRule(*key)) return true;
    // A minutes box holding 6 to 9 takes no second digit (Backspace and
    // typing over a selection still work).
    if (watched == txtMinute && !key->text().isEmpty() && key->text().at(0).isDigit() &&
        !txtMinute->hasSelectedText() && !txtMinute->text().isEmpty() && Number(txtMinute) > 5)
      return true;
  }
  return QDialog::eventFilter(watched, event);
}

// ------------------------------------------------------------- frmMonths

namespace {
const char* const kMonthCaptions[12] = {"&January", "&February", "&March",     "&April",   "Ma&y",      "J&une",
                                        "Ju&ly",    "Au&gust",   "&September", "&October", "&November", "&December"};
}

std::string frmMonths::MonthName(int index) {
  return QString(kMonthCaptions[index]).remove('&').toUpper().toStdString();
}

frmMonths::frmMonths(frmScheduleInput* input, QWidget* parent) : QDialog(parent), input_(input) {
  SetFixedDialog(this, "frmMonths", "Select Months", 4305, 4125);
  Label1 = MakeLabel(this, "Label1", "Please select the months you would like the task to run",
                     Twips(120, 120, 4080, 480));
  Label1->setWordWrap(true);
  for (int i = 0; i < 12; ++i) {
    const std::string name = "chkmonths" + std::to_string(i);
    chkmonths[i] = MakeControl<QCheckBox>(this, name.c_str(),
                                   Twips(i < 6 ? 480 : 2280, 720 + (i % 6) * 420, 1680, 285));
    chkmonths[i]->setText(kMonthCaptions[i]);
    chkmonths[i]->setChecked(true);
  }
  cmdOk = MakeButton(this, "cmdOk", "OK", Twips(1560, 3480, 1200, 375));
  cmdOk->setDefault(true);
  cmdCancel = MakeButton(this, "cmdCancel", "Cancel", Twips(2880, 3480, 1200, 375));
  connect(cmdOk, &QPushButton::clicked, this, [this] { cmdOk_Click(); });
  connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });
}

void frmMonths::Form_Load() {
  const std::string& chosen = input_->strSelectedMonths;
  if (chosen.empty()) return;
  for (int i = 0; i < 12; ++i) chkmonths[i]->setChecked(chosen.find(MonthName(i)) != std::string::npos);
}

void frmMonths::cmdOk_Click() {
  std::string months;
  for (int i = 0; i < 12; ++i)
    if (chkmonths[i]->isChecked()) months += (months.empty() ? "" : "|") + MonthName(i);
  // A monthly task without a month would never run.
  if (months.empty()) {
    Ui().MsgBox("Please select at least one month.", velmo::ui::vbExclamation, kProductTitle);
    return;
  }
  input_->strSelectedMonths = months;
  done(QDialog::Accepted);
}

void frmMonths::cmdCancel_Click() { done(QDialog::Rejected); }

// ----------------------------------------------------------- frmPassword

frmPassword::frmPassword(frmScheduleInput* input, QWidget* parent) : QDialog(parent), input_(input) {
  SetFixedDialog(this, "frmPassword", "Set Password", 4710, 1590);
  Label15 = MakeLabel(this, "Label15", "Pass&word", Twips(120, 180, 1620, 255));
  txtPassword = MakeControl<QLineEdit>(this, "txtPassword", Twips(1800, 120, 2760, 330));
  txtPassword->setEchoMode(QLineEdit::Password);
  Label15->setBuddy(txtPassword);
  Label16 = MakeLabel(this, "Label16", "Con&firm Password", Twips(120, 600, 1620, 255));
  txtCfmPassword = MakeControl<QLineEdit>(this, "txtCfmPassword", Twips(1800, 540, 2760, 330));
  txtCfmPassword->setEchoMode(QLineEdit::Password);
  Label16->setBuddy(txtCfmPassword);
  cmdOK = MakeButton(this, "cmdOK", "OK", Twips(2040, 1080, 1200, 375));
  cmdOK->setDefault(true);
  cmdcancel = MakeButton(this, "cmdcancel", "Cancel", Twips(3360, 1080, 1200, 375));
  connect(cmdOK, &QPushButton::clicked, this, [this] { cmdOK_Click(); });
  connect(cmdcancel, &QPushButton::clicked, this, [this] { cmdcancel_Click(); });
}

void frmPassword::cmdOK_Click() {
  if (txtPassword->text() != txtCfmPassword->text()) {
    Ui().MsgBox("Please check the confirmation password.", velmo::ui::vbInformation, kProductTitle);
    return;
  }
  input_->strPassword = txtPassword->text().toStdString();
  done(QDialog::Accepted);
}

void frmPassword::cmdcancel_Click() { done(QDialog::Rejected); }
