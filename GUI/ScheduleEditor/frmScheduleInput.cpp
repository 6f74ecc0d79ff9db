// The schedule input window.
#include "DialogControls.h"
#include "frmScheduleInput.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>

#include <algorithm>

#include "DateText.h"
#include "Mdifrm.h"
#include "SaveScheduledTask.h"
#include "ScheduleDates.h"
#include "ScheduleDialogs.h"
#include "UpDown.h"
#include "Ui.h"
#include "frmConnect.h"
#include "frmSchedule.h"
#include "modGlobals.h"

using velmo::ui::Ui;

namespace {

QFrame* MakeLine(QWidget* parent, const char* name, int top) {
  auto* f = MakeControl<QFrame>(parent, name, Twips(120, top, 5250, 30));
  f->setFrameShape(QFrame::HLine);
  f->setFrameShadow(QFrame::Sunken);
  return f;
}

void Move(QWidget* w, int left, int top) { w->move(left / 15, top / 15); }
void MoveTop(QWidget* w, int top) { w->move(w->x(), top / 15); }
void SetHeight(QWidget* w, int height) { w->resize(w->width(), height / 15); }

const char* const kKinds[] = {"Daily", "Weekly", "Monthly", "Once", "At System Startup", "At Logon", "When idle"};
const char* const kDayCaptions[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};

}  // namespace

frmScheduleInput::frmScheduleInput(frmSchedule* schedule, QWidget* parent) : QDialog(parent), schedule_(schedule) {
  setObjectName("frmScheduleInput");
  setWindowTitle("Schedule Input");
  setWindowIcon(ProgramIcon());
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setFixedSize(5490 / 15, 6300 / 15);

  Image1 = MakeControl<QLabel>(this, "Image1", Twips(120, 120, 480, 480));
  Image1->setPixmap(style()->standardIcon(QStyle::SP_FileDialogDetailedView).pixmap(32, 32));
  lblSelected = MakeControl<QLabel>(this, "lblSelected", Twips(720, 120, 4650, 840));
  lblSelected->setWordWrap(true);
  lblSelected->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Frame6 = MakeLine(this, "Frame6", 1020);

  Label14 = MakeLabel(this, "Label14", "R&un as", Twips(120, 1200, 900, 255));
  txtRunas = MakeControl<QLineEdit>(this, "txtRunas", Twips(1080, 1140, 2640, 330));
  Label14->setBuddy(txtRunas);
  cmdSetPassword = MakeButton(this, "cmdSetPassword", "&Set Password", Twips(3840, 1125, 1530, 375));
  Label17 = MakeLabel(this, "Label17", "( Domain Name\\User Name )", Twips(1080, 1500, 2640, 255));
  Frame1 = MakeLine(this, "Frame1", 1860);

  Label1 = MakeLabel(this, "Label1", "Sc&hedule Task", Twips(120, 2000, 1800, 255));
  cboScheduleTask = MakeControl<QComboBox>(this, "cboScheduleTask", Twips(120, 2280, 1935, 330));
  Label1->setBuddy(cboScheduleTask);
  lblStartTime = MakeLabel(this, "lblStartTime", "S&tart Time", Twips(2160, 2000, 1200, 255));
  txtStartTime = MakeControl<QLineEdit>(this, "txtStartTime", Twips(2160, 2280, 1260, 330));
  txtStartTime->setText("     :");
  txtStartTime->setReadOnly(true);
  txtStartTime->setFocusPolicy(Qt::NoFocus);
  // The three parts lie over the frame box, the colon of "     :"
  // between hour and minutes.
  {
    const QFontMetrics fm(txtStartTime->font());
    const int left = txtStartTime->x() + 3;
    const int colon = left + fm.horizontalAdvance("     ");
    const int h = txtStartTime->height() - 6, top = txtStartTime->y() + 3;
    const int after = colon + fm.horizontalAdvance(":");
    const QRect parts[3] = {QRect(left + 1, top, colon - left - 1, h), QRect(after, top, fm.horizontalAdvance("00") + 4, h),
                            QRect(after + fm.horizontalAdvance("00") + 6, top, fm.horizontalAdvance("AM") + 6, h)};
    const char* initial[3] = {"1", "1", "AM"};
    for (int i = 0; i < 3; ++i) {
      txtam[i] = MakeControl<QLineEdit>(this, "txtam" + std::to_string(i), parts[i]);
      txtam[i]->setFrame(false);
      txtam[i]->setMaxLength(2);
      txtam[i]->setText(initial[i]);
      txtam[i]->setAlignment(i == 0 ? Qt::AlignRight : Qt::AlignLeft);
      txtam[i]->setTextMargins(0, 0, 0, 0);
    }
    txtStartTime->resize(parts[2].right() - txtStartTime->x() + 4, txtStartTime->height());
  }
  lblStartTime->setBuddy(txtam[0]);
  UpDownStartTime = MakeControl<UpDown>(this, "UpDownStartTime", QRect(txtStartTime->geometry().right() + 1, txtStartTime->y(), 16,
                                                                txtStartTime->height()));
  cmdAdvanced = MakeButton(this, "cmdAdvanced", "Ad&vanced", Twips(3840, 2265, 1530, 375));

  frTaskDaily = MakeControl<QGroupBox>(this, "frTaskDaily", Twips(120, 3235, 5250, 1100));
  frTaskDaily->setTitle("Schedule Task Daily");
  lblEvery = MakeLabel(frTaskDaily, "lblEvery", "Ever&y", Twips(120, 520, 500, 255));
  txtEverydays = MakeControl<QLineEdit>(frTaskDaily, "txtEverydays", Twips(720, 480, 615, 330));
  txtEverydays->setMaxLength(5);
  txtEverydays->setText("1");
  lblEvery->setBuddy(txtEverydays);
  UpDownEverydays = MakeControl<UpDown>(frTaskDaily, "UpDownEverydays", Twips(1350, 480, 240, 330));
  UpDownEverydays->SetRange(0, 99999);
  lblDays = MakeLabel(frTaskDaily, "lblDays", "day(s)", Twips(1680, 520, 1500, 255));
  for (int i = 0; i < 7; ++i) {
    chkday[i] = MakeControl<QCheckBox>(frTaskDaily, "chkday" + std::to_string(i),
                                Twips(i < 5 ? 240 : 1560, 900 + (i % 5) * 285, 900, 270));
    chkday[i]->setText(kDayCaptions[i]);
    chkday[i]->hide();
  }
  optDay = MakeControl<QRadioButton>(frTaskDaily, "optDay", Twips(120, 500, 800, 285));
  optDay->setText("day");
  optThe = MakeControl<QRadioButton>(frTaskDaily, "optThe", Twips(120, 980, 800, 285));
  optThe->setText("The");
  cboWeek = MakeControl<QComboBox>(frTaskDaily, "cboWeek", Twips(960, 950, 1200, 330));
  cboDay = MakeControl<QComboBox>(frTaskDaily, "cboDay", Twips(2280, 950, 1500, 330));
  lblmonthly = MakeLabel(frTaskDaily, "lblmonthly", "of the Month(s)", Twips(1950, 520, 1500, 255));
  cmdMonths = MakeButton(frTaskDaily, "cmdMonths", "Select &Months", Twips(120, 1480, 1800, 375));
  lblOnce = MakeLabel(frTaskDaily, "lblOnce", "Run on:", Twips(120, 520, 780, 255));
  dpOnce = MakeControl<QDateEdit>(frTaskDaily, "dpOnce", Twips(960, 480, 1800, 330));
  dpOnce->setCalendarPopup(true);
  dpOnce->setDisplayFormat("M/d/yyyy");
  dpOnce->setDate(QDate::currentDate());
  lblOnce->setBuddy(dpOnce);
  for (QWidget* w : std::initializer_list<QWidget*>{optDay, optThe, cboWeek, cboDay, lblmonthly, cmdMonths, lblOnce, dpOnce})
    w->hide();

  Frame2 = MakeLine(this, "Frame2", 5700);
  cmdok = MakeButton(this, "cmdok", "OK", Twips(2760, 5820, 1200, 375));
  cmdok->setDefault(true);
  cmdCancel = MakeButton(this, "cmdCancel", "Cancel", Twips(4170, 5820, 1200, 375));

  advanced_ = std::make_unique<frmAdvanced>(this, this);

  // Events.
  connect(cboScheduleTask, &QComboBox::currentIndexChanged, this, [this] { cboScheduleTask_Click(); });
  connect(optDay, &QRadioButton::toggled, this, [this](bool on) {
    if (on) optDay_Click();
  });
  connect(optThe, &QRadioButton::toggled, this, [this](bool on) {
    if (on) optThe_Click();
  });
  connect(cboWeek, &QComboBox::currentIndexChanged, this, [this] { RefreshSummary(); });
  connect(cboDay, &QComboBox::currentIndexChanged, this, [this] { RefreshSummary(); });
  for (QCheckBox* box : chkday) connect(box, &QCheckBox::toggled, this, [this] { RefreshSummary(); });
  connect(dpOnce, &QDateEdit::dateChanged, this, [this] { RefreshSummary(); });
  connect(txtRunas, &QLineEdit::textChanged, this, [this] { txtRunas_Change(); });
  connect(cmdAdvanced, &QPushButton::clicked, this, [this] { cmdAdvanced_Click(); });
  connect(cmdMonths, &QPushButton::clicked, this, [this] { cmdMonths_Click(); });
  connect(cmdSetPassword, &QPushButton::clicked, this, [this] { cmdSetPassword_Click(); });
  connect(cmdok, &QPushButton::clicked, this, [this] { cmdok_Click(); });
  connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });
  connect(UpDownEverydays, &UpDown::Change, this, [this] { UpDownEverydays_Change(); });
  connect(UpDownStartTime, &UpDown::UpClick, this, [this] { UpDownStartTime_Click(); });
  connect(UpDownStartTime, &UpDown::DownClick, this, [this] { UpDownStartTime_Click(); });
  txtEverydays->installEventFilter(this);
  for (int i = 0; i < 3; ++i) {
    txtam[i]->installEventFilter(this);
    connect(txtam[i], &QLineEdit::textChanged, this, [this, i] { txtam_Change(i); });
  }

  setTabOrder(txtRunas, cmdSetPassword);
  setTabOrder(cmdSetPassword, cboScheduleTask);
  setTabOrder(cboScheduleTask, txtam[0]);
  setTabOrder(txtam[0], txtam[1]);
  setTabOrder(txtam[1], txtam[2]);
  setTabOrder(txtam[2], cmdAdvanced);
  setTabOrder(cmdAdvanced, txtEverydays);
}

frmScheduleInput::~frmScheduleInput() = default;

void frmScheduleInput::Form_Load() {
  blnIsLoading = false;
  setWindowTitle("VelmorcastTask.job");
  txtRunas->setText(QString::fromStdString(DefaultConnectUser()));
  cmdSetPassword->setEnabled(!txtRunas->text().isEmpty());
  cboWeek->clear();
  cboWeek->addItems({"First", "Second", "Third", "Fourth"});
  cboWeek->setCurrentIndex(0);
  cboDay->clear();
  cboDay->addItems({"Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"});
  cboDay->setCurrentIndex(0);
  cboScheduleTask->blockSignals(true);
  cboScheduleTask->clear();
  for (const char* kind : kKinds) cboScheduleTask->addItem(kind);
  cboScheduleTask->setCurrentIndex(-1);
  cboScheduleTask->blockSignals(false);
  cboScheduleTask->setCurrentIndex(0);
  // The separators of the fixed date and time forms the settings file uses.
  strDateSep = "/";
  strTimeSep = ":";

  // The clock as "h:mm:ss AP".
  blnIsLoading = true;
  const QString now = QString::fromStdString(velmo::TimeText(velmo::Clock::now()));
  const QStringList pieces = now.split(' ');
  txtam[2]->setText(pieces.size() > 1 ? pieces[1] : QString());
  const QStringList clock = pieces[0].split(QString::fromStdString(strTimeSep));
  txtam[1]->setText(clock.size() > 1 ? clock[1] : QString());
  txtam[0]->setText(clock[0]);
  blnIsLoading = false;
  strAmPm = "AM";

  if (auto saved = ReadSavedTaskLine()) RestoreTask(*saved);
  RefreshSummary();
}

void frmScheduleInput::RestoreTask(const std::vector<std::string>& field) {
  auto f = [&](size_t i) { return i < field.size() ? field[i] : std::string(); };
  long n = 0;
  if (!f(1).empty()) txtRunas->setText(QString::fromStdString(f(1)));
  const int kind = WholeNumber(QString::fromStdString(f(2)), n) ? static_cast<int>(n) : -1;
  static const int kPosition[8] = {3, 0, 1, 2, 2, 6, 4, 5};
  if (kind < 0 || kind > 7) return;
  if (cboScheduleTask->currentIndex() == kPosition[kind])
    cboScheduleTask_Click();
  else
    cboScheduleTask->setCurrentIndex(kPosition[kind]);
  const QString list = QString::fromStdString(f(5));
  if (kind == 2) {
    // Every day box follows the saved list, Monday included.
    for (int i = 0; i < 7; ++i) chkday[i]->setChecked(list.contains(QString(kDayCaptions[i]).toUpper()));
  } else if (kind == 3 || kind == 4) {
    (kind == 3 ? optDay : optThe)->setChecked(true);
    if (!list.isEmpty()) strSelectedMonths = f(5);
    if (kind == 4) {
      if (WholeNumber(QString::fromStdString(f(6)), n) && n >= 0 && n < 4) cboWeek->setCurrentIndex(static_cast<int>(n));
      if (WholeNumber(QString::fromStdString(f(7)), n) && n >= 0 && n < 7) cboDay->setCurrentIndex(static_cast<int>(n));
    }
  }

  // Start time "HH:MM" on the 12-hour clock: 00 is 12 AM, 12 is 12 PM.
  const QString time = QString::fromStdString(f(3));
  if (!time.isEmpty()) {
    const QStringList hm = time.split(':');
    long hours = 0;
    if (hm.size() > 1 && WholeNumber(hm[0], hours)) {
      txtam[1]->setText(hm[1]);
      QString hourText = hm[0];
      strAmPm = hours >= 12 ? "PM" : "AM";
      if (hours > 12) hourText = QString::number(hours - 12);
      if (hours == 0) hourText = "12";
      txtam[2]->setText(QString::fromStdString(strAmPm));
      txtam[0]->setText(hourText);
    }
  }
  txtEverydays->setText(QString::fromStdString(f(4)));

  auto toDate = [](const std::string& text) { return QDate::fromString(QString::fromStdString(text), "MM/dd/yyyy"); };
  frmAdvanced& adv = Advanced();
  if (!f(8).empty() && toDate(f(8)).isValid()) {
    adv.dtpStartDate->setDate(toDate(f(8)));
    if (kind == 0) dpOnce->setDate(toDate(f(8)));
  }
  if (!f(9).empty() && toDate(f(9)).isValid()) {
    adv.chkEndDate->setChecked(true);
    adv.dtpEndDate->setDate(toDate(f(9)));
  }
  adv.chkRepeatTask->setChecked(f(10) == "1");
  if (adv.chkRepeatTask->isChecked()) {
    adv.txtEvery->setText(QString::fromStdString(f(11)));
    // Whole hours into the hour box, the rest into the minutes box; a
    // part of zero leaves its box empty.
    long duration = 0;
    WholeNumber(QString::fromStdString(f(12)), duration);
    adv.txtHour->setText(duration / 60 ? QString::number(duration / 60) : QString());
    adv.txtMinute->setText(duration % 60 ? QString::number(duration % 60) : QString());
    adv.chkTask->setChecked(f(13) == "1");
  }
}

// ------------------------------------------------------------- kind switch

void frmScheduleInput::cboScheduleTask_Click() {
  const int pos = cboScheduleTask->currentIndex();
  frmAdvanced& adv = Advanced();
  adv.dtpStartDate->setEnabled(true);
  adv.chkEndDate->setEnabled(true);
  cmdAdvanced->setEnabled(true);
  txtStartTime->setText("     :");
  txtStartTime->setVisible(true);
  txtStartTime->setEnabled(true);
  UpDownStartTime->setEnabled(true);
  for (QLineEdit* part : txtam) part->setEnabled(true);
  for (QLineEdit* part : txtam) part->setVisible(true);
  cmdMonths->hide();
  frTaskDaily->setVisible(true);
  frTaskDaily->setTitle("Schedule Task " + cboScheduleTask->currentText());

  auto countLimits = [this](int length, int max) {
    txtEverydays->setMaxLength(length);
    UpDownEverydays->SetRange(0, max);
  };
  switch (pos) {
    case 0:
      SetIdle(false), SetMonthly(false), SetOnce(false), SetDaily(true);
      countLimits(5, 99999);
      break;
    case 1:
      SetIdle(false), SetDaily(true), SetMonthly(false), SetOnce(false), SetWeekly(true);
      countLimits(5, 99999);
      break;
    case 2:
      SetIdle(false), SetDaily(false), SetWeekly(false), SetOnce(false), SetMonthly(true);
      if (optDay->isChecked()) countLimits(2, 31);
      break;
    case 3:
      SetIdle(false), SetDaily(false), SetMonthly(false), SetWeekly(false), SetOnce(true);
      adv.dtpStartDate->setEnabled(false);
      adv.chkEndDate->setEnabled(false);
      adv.dtpEndDate->setEnabled(false);
      break;
    case 4:
    case 5:
      lblSelected->setText(pos == 4 ? "Run at system startup" : "Run at user logon");
      frTaskDaily->hide();
      cmdAdvanced->setEnabled(false);
      txtStartTime->setText("");
      txtStartTime->setEnabled(false);
      UpDownStartTime->setEnabled(false);
      for (QLineEdit* part : txtam) part->setEnabled(false);
      for (QLineEdit* part : txtam) part->hide();
      SetIdle(false), SetDaily(false), SetWeekly(false), SetOnce(false);
      break;
    case 6:
      lblSelected->setText("Run when idle");
      SetDaily(false), SetWeekly(false), SetOnce(false), SetMonthly(false), SetIdle(true);
      countLimits(5, 99999);
      break;
    default:
      break;
  }
  if (pos >= 0 && pos <= 3) RefreshSummary();
}

void frmScheduleInput::SetDaily(bool blnShow) {
  SetHeight(frTaskDaily, 1100);
  for (QWidget* w : std::initializer_list<QWidget*>{txtEverydays, lblEvery, lblDays, UpDownEverydays})
    w->setVisible(blnShow);
  for (QCheckBox* box : chkday) box->hide();
  if (!blnShow) return;
  txtEverydays->setEnabled(true);
  MoveTop(lblDays, 520);
  lblDays->setText("day(s)");
  Move(UpDownEverydays, 1350, 480);
  UpDownEverydays->SetValue(1);
  if (txtEverydays->text() != "1") txtEverydays->setText("1");
  UpDownEverydays->setEnabled(true);
  Move(lblEvery, 120, 520);
  lblEvery->setText("Ever&y");
}

void frmScheduleInput::SetWeekly(bool blnShow) {
  cmdMonths->hide();
  for (QCheckBox* box : chkday) box->setVisible(blnShow);
  if (!blnShow) return;
  chkday[0]->setChecked(true);
  Move(frTaskDaily, 120, 3235);
  SetHeight(frTaskDaily, 2400);
  Move(lblDays, 1680, 520);
  lblDays->setText("Week(s) on:");
  Move(UpDownEverydays, 1350, 480);
  UpDownEverydays->SetValue(1);
  if (txtEverydays->text() != "1") txtEverydays->setText("1");
  UpDownEverydays->setEnabled(true);
  Move(lblEvery, 120, 520);
  lblEvery->setText("Ever&y");
}

void frmScheduleInput::SetMonthly(bool blnShow) {
  optThe->setVisible(blnShow);
  optDay->setVisible(blnShow);
  optDay->setChecked(true);
  optDay_Click();
  cmdMonths->setVisible(blnShow);
  cboWeek->setVisible(blnShow);
  cboWeek->setCurrentIndex(0);
  cboDay->setVisible(blnShow);
  cboDay->setCurrentIndex(0);
  lblmonthly->setVisible(blnShow);
  if (!blnShow) return;
  SetHeight(frTaskDaily, 2000);
  Move(txtEverydays, 960, 480);
  txtEverydays->setVisible(true);
  Move(UpDownEverydays, 1570, 480);
  UpDownEverydays->SetValue(1);
  if (txtEverydays->text() != "1") txtEverydays->setText("1");
  UpDownEverydays->setVisible(true);
  Move(lblmonthly, 1950, 520);
  lblmonthly->setText("of the Month(s)");
}

void frmScheduleInput::SetOnce(bool blnShow) {
  lblOnce->setVisible(blnShow);
  dpOnce->setVisible(blnShow);
  if (blnShow) SetHeight(frTaskDaily, 1100);
}

void frmScheduleInput::SetIdle(bool blnShow) {
  if (blnShow) {
    cmdAdvanced->setEnabled(false);
    UpDownStartTime->setEnabled(false);
    for (QLineEdit* part : txtam) part->setEnabled(false);
    // The caption takes two lines when the window's font needs them.
    lblEvery->setGeometry(Twips(120, 400, 2800, 500));
    lblEvery->setWordWrap(true);
    lblEvery->setText("When the computer has been idle for:");
    lblEvery->setVisible(true);
    Move(txtEverydays, 2950, 480);
    txtEverydays->setVisible(true);
    txtEverydays->setEnabled(true);
    Move(UpDownEverydays, 3550, 480);
    UpDownEverydays->setVisible(true);
    UpDownEverydays->setEnabled(true);
    Move(lblDays, 3880, 520);
    lblDays->resize(1250 / 15, lblDays->height());
    lblDays->setText("Minute(s)");
    lblDays->setVisible(true);
    SetHeight(frTaskDaily, 1100);
  } else {
    lblEvery->setWordWrap(false);
    lblEvery->setGeometry(Twips(120, 520, 600, 255));
    lblEvery->setText("Ever&y");
    Move(txtEverydays, 720, 480);
    Move(UpDownEverydays, 1350, 480);
    Move(lblDays, 1680, 520);
    lblDays->resize(1500 / 15, lblDays->height());
    lblDays->setText("day(s)");
    lblDays->setVisible(true);
  }
}

void frmScheduleInput::optDay_Click() {
  RefreshSummary();
  cboWeek->setEnabled(false);
  cboDay->setEnabled(false);
  txtEverydays->setEnabled(true);
  UpDownEverydays->setEnabled(true);
}

void frmScheduleInput::optThe_Click() {
  RefreshSummary();
  cboWeek->setEnabled(true);
  cboDay->setEnabled(true);
  txtEverydays->setEnabled(false);
  UpDownEverydays->setEnabled(false);
}

// --------------------------------------------------------------- summary

std::string frmScheduleInput::getEveryday() const {
  const std::string N = txtEverydays->text().toStdString();
  switch (cboScheduleTask->currentIndex()) {
    case 0:
      return "every " + N + " day(s)";
    case 1: {
      std::string days;
      for (int i = 0; i < 7; ++i)
        if (chkday[i]->isChecked()) days += (days.empty() ? "" : ",") + std::string(kDayCaptions[i]);
      return (days.empty() ? "" : "every " + days) + " of every " + N + " weeks";
    }
    case 2:
      if (optThe->isChecked())
        return "on the " + cboWeek->currentText().toStdString() + " " + cboDay->currentText().toStdString() +
               " of every Month(s)";
      return "on day " + N + " of every Month(s)";
    case 3:
      return "on " + PickerShortDate(dpOnce->date());
    default:
      return "";
  }
}

void frmScheduleInput::RefreshSummary() {
  if (!advanced_) return;
  const int pos = cboScheduleTask->currentIndex();
  if (pos >= 4) return;  // the fixed texts of the kinds without a time
  lblSelected->setText(
      QString::fromStdString(Advanced().getAdvancedSet() + getEveryday() + " " + Advanced().getStartTime()));
}

// ---------------------------------------------------------------- buttons

void frmScheduleInput::txtRunas_Change() { cmdSetPassword->setEnabled(!txtRunas->text().isEmpty()); }

void frmScheduleInput::cmdAdvanced_Click() {
  Advanced().ShowModal();
  // However the dialog was left, what it holds is what OK registers (Cancel
  // undoes nothing), so the summary is taken from it again.
  RefreshSummary();
}

void frmScheduleInput::cmdMonths_Click() {
  frmMonths months(this, this);
  months.Form_Load();
  months.setWindowModality(Qt::ApplicationModal);
  months.exec();
}

void frmScheduleInput::cmdSetPassword_Click() {
  if (!txtRunas->text().contains('\\')) {
    Ui().MsgBox("Please enter Run as account in DOMAIN\\USERNAME format.", velmo::ui::vbInformation, kProductTitle);
    return;
  }
  frmPassword password(this, this);
  password.setWindowModality(Qt::ApplicationModal);
  password.exec();
}

bool frmScheduleInput::Refuse(const std::string& prompt, int icon) {
  Ui().MsgBox(prompt, icon, kProductTitle);
  return false;
}

void frmScheduleInput::cmdok_Click() {
  using namespace velmo::ui;
  if (schedule_) schedule_->blnIsCancelClicked = false;
  if (txtRunas->text().isEmpty()) {
    Refuse("Please enter Run as account.", vbInformation);
    return;
  }
  if (!txtRunas->text().contains('\\')) {
    Refuse("Please enter Run as account in DOMAIN\\USERNAME format.", vbInformation);
    return;
  }
  const int pos = cboScheduleTask->currentIndex();
  const bool byDay = pos == 2 && optDay->isChecked();
  long count = 0;
  const bool numeric = WholeNumber(txtEverydays->text(), count);
  // A count of days, weeks or a day of the month must be a number above 0.
  if ((pos == 0 || pos == 1 || byDay) && (!numeric || count <= 0)) {
    Refuse("Please enter a number greater than 0.", vbExclamation);
    return;
  }
  if (pos == 1) {
    bool any = false;
    for (QCheckBox* box : chkday) any = any || box->isChecked();
    if (!any) {
      Refuse("Please select at least one day of the week.", vbExclamation);
      return;
    }
  }
  if (byDay) {
    // No months chosen means all twelve, as the task is saved.
    const std::string months = strSelectedMonths.empty() ? AllMonths() : strSelectedMonths;
    if (count > 31) {
      Refuse("The day of the month specified is greated than the max allowed. It will be set to the maximum value(31).",
             vbExclamation);
      return;
    }
    const char* kNever = "The day of the month specified does not occur in any of the months specified.";
    if (count > 30) {
      bool found = false;
      for (const char* m : {"JANUARY", "MARCH", "MAY", "JULY", "AUGUST", "OCTOBER", "DECEMBER"})
        found = found || months.find(m) != std::string::npos;
      if (!found) {
        Refuse(kNever, vbExclamation);
        return;
      }
    } else if (count > 29 && months == "FEBRUARY") {
      Refuse(kNever, vbExclamation);
      return;
    }
  }
  // A registration that failed has been reported; the window stays open.
  if (!SaveScheduledTask(1, this)) return;
  Unload();
  done(QDialog::Accepted);
}

void frmScheduleInput::cmdCancel_Click() {
  if (schedule_) schedule_->blnIsCancelClicked = true;
  Unload();
  done(QDialog::Rejected);
}

void frmScheduleInput::Unload() {
  if (advanced_ && advanced_->isVisible()) advanced_->hide();
}

void frmScheduleInput::reject() {
  // Esc or the close box: nothing saved, the flag left as it is.
  Unload();
  QDialog::reject();
}

void frmScheduleInput::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    reject();
    return;
  }
  QDialog::keyPressEvent(event);
}

int frmScheduleInput::ShowModal() {
  setWindowModality(Qt::ApplicationModal);
  return exec();
}

// ------------------------------------------------------------ count field

void frmScheduleInput::txtEverydays_Validate() {
  const int pos = cboScheduleTask->currentIndex();
  if (pos != 6) RefreshSummary();
  long value = 0;
  if (txtEverydays->text().isEmpty() || !WholeNumber(txtEverydays->text(), value)) return;
  if (pos == 2 && value > 31) {
    UpDownEverydays->SetValue(31);
    if (txtEverydays->text() != "31") txtEverydays->setText("31");
    if (pos != 6) RefreshSummary();
    return;
  }
  UpDownEverydays->SetValue(static_cast<int>(value));
  const QString text = QString::number(UpDownEverydays->Value());
  if (value == UpDownEverydays->Value() && txtEverydays->text() != text) txtEverydays->setText(text);
}

void frmScheduleInput::UpDownEverydays_Change() {
  const QString text = QString::number(UpDownEverydays->Value());
  if (txtEverydays->text() != text) txtEverydays->setText(text);
  if (cboScheduleTask->currentIndex() != 6) RefreshSummary();
}

// ------------------------------------------------------------- start time

void frmScheduleInput::txtam_GotFocus(int i) {
  long v = 0;
  const bool numeric = WholeNumber(txtam[i]->text(), v);
  if (i == 2) {
    UpDownStartTime->SetRange(0, 1);
    UpDownStartTime->SetWrap(true);
    iTimePart = 2;
  } else if (i == 1 && numeric && v >= 0 && v <= 59) {
    UpDownStartTime->SetRange(0, 59);
    UpDownStartTime->SetWrap(false);
    iTimePart = 1;
    UpDownStartTime->SetValue(static_cast<int>(v));
  } else if (i == 0 && numeric && v >= 1 && v <= 12) {
    UpDownStartTime->SetRange(1, 12);
    UpDownStartTime->SetWrap(true);
    iTimePart = 0;
    UpDownStartTime->SetValue(static_cast<int>(v));
  }
}

void frmScheduleInput::txtam_Change(int i) {
  if (blnIsLoading) return;
  const QString text = txtam[i]->text();
  if (text.isEmpty()) return;
  long w = 0;
  if (i == 2) {
    if (text == "AM") UpDownStartTime->SetValue(0);
    if (text == "PM") UpDownStartTime->SetValue(1);
  } else if (i == 1 && iTimePart == 1 && WholeNumber(text, w)) {
    if (w <= 59)
      UpDownStartTime->SetValue(static_cast<int>(w));
    else
      txtam[1]->setText(text.mid(1));
  } else if (i == 0 && iTimePart == 0 && WholeNumber(text, w)) {
    if (w >= 13 && w <= 23) {
      txtam[0]->setText(QString::number(w - 12));
      strAmPm = "PM";
      txtam[2]->setText("PM");
    } else if (w > 23) {
      txtam[0]->setText(text.mid(1));
    }
    if (WholeNumber(txtam[0]->text(), w) && w <= 12) UpDownStartTime->SetValue(static_cast<int>(w));
  }
}

void frmScheduleInput::UpDownStartTime_Click() {
  if (iTimePart == 0 || iTimePart == 1) {
    txtam[iTimePart]->setText(QString::number(UpDownStartTime->Value()));
  } else {
    strAmPm = UpDownStartTime->Value() == 0 ? "AM" : "PM";
    txtam[2]->setText(QString::fromStdString(strAmPm));
  }
}

bool frmScheduleInput::eventFilter(QObject* watched, QEvent* event) {
  if (watched == txtEverydays) {
    if (event->type() == QEvent::KeyPress && RefusedByDigitRule(*static_cast<QKeyEvent*>(event))) return true;
    if (event->type() == QEvent::FocusOut) txtEverydays_Validate();
  }
  for (int i = 0; i < 3; ++i) {
    if (watched != txtam[i]) continue;
    if (event->type() == QEvent::KeyPress && RefusedByDigitRule(*static_cast<QKeyEvent*>(event))) return true;
    if (event->type() == QEvent::FocusIn) txtam_GotFocus(i);
    // The designator cannot be typed over: it changes only through the
    // spin control and the hour rule.
    if (event->type() == QEvent::KeyRelease && i == 2) txtam[2]->setText(strAmPm == "AM" ? "AM" : "PM");
  }
  return QDialog::eventFilter(watched, event);
}
