// The schedule input window and its dialogs: each kind's panel and
// summary, the start-time and count boxes as typed, the checks of OK, the
// repeat, months and password dialogs, and every kind saved, reopened and
// saved unchanged with the same task line and crontab block (through the
// job-scheduler component and the test's crontab stand-in).
#include <QDateEdit>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <pwd.h>
#include <unistd.h>

#include <cctype>
#include <sstream>

#include "SaveScheduledTask.h"
#include "ScheduleDialogs.h"
#include "ScheduleKit.h"
#include "UpDown.h"
#include "frmSchedule.h"
#include "frmConnect.h"
#include "frmScheduleInput.h"

using namespace sched_test;

namespace {

std::string Today() { return QDate::currentDate().toString("M/d/yyyy").toStdString(); }

std::string TaskLine(const std::string& config) {
  const auto at = config.find("VelmorcastTask.job");
  return at == std::string::npos ? std::string() : config.substr(at, config.find("\r\n", at) - at);
}

std::vector<std::string> Fields(const std::string& line) { return velmo::SplitSchedFields(line); }

}  // namespace

// Every kind shows its panel and summary; the kinds without a time hide
// or grey the start time; switching keeps what hidden controls hold.
TEST_F(ScheduleTest, KindsShowTheirPanelsAndSummaries) {
  frmScheduleInput w(nullptr);
  w.Form_Load();
  w.show();
  EXPECT_EQ(w.windowTitle(), "VelmorcastTask.job");
  EXPECT_EQ(w.txtRunas->text(), "CORP\\alice");
  EXPECT_EQ(w.cboScheduleTask->currentText(), "Daily");
  TypeTime(w, "9", "05", "PM");
  const std::string at = "At 9:05 PM ", start = " starting " + Today() + " ";
  struct Row {
    int position;
    std::string title, summary;
    std::vector<QWidget*> shown, hidden;
  };
  const std::vector<Row> rows = {
      {1, "Schedule Task Weekly", at + "every Mon of every 1 weeks" + start, {w.chkday[0], w.chkday[6]}, {w.optDay, w.cmdMonths}},
      {2, "Schedule Task Monthly", at + "on day 1 of every Month(s)" + start, {w.optDay, w.optThe, w.cmdMonths, w.cboWeek}, {w.chkday[0], w.dpOnce}},
      {3, "Schedule Task Once", at + "on " + Today() + " ", {w.dpOnce, w.lblOnce}, {w.txtEverydays, w.optDay}},
      {4, "", "Run at system startup", {}, {w.frTaskDaily, w.txtam[0], w.txtam[2]}},
      {5, "", "Run at user logon", {}, {w.frTaskDaily, w.txtam[1]}},
      {6, "Schedule Task When idle", "Run when idle", {w.txtEverydays, w.lblEvery}, {w.chkday[0], w.dpOnce}},
      {0, "Schedule Task Daily", at + "every 1 day(s)" + start, {w.txtEverydays, w.lblDays, w.txtam[0], w.txtam[2]},
       {w.chkday[0], w.optDay, w.dpOnce}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.position);
    w.cboScheduleTask->setCurrentIndex(r.position);
    Pump();
    if (!r.title.empty()) EXPECT_EQ(w.frTaskDaily->title().toStdString(), r.title);
    EXPECT_EQ(w.lblSelected->text().toStdString(), r.summary);
    for (QWidget* c : r.shown) EXPECT_TRUE(c->isVisible()) << c->objectName().toStdString();
    for (QWidget* c : r.hidden) EXPECT_FALSE(c->isVisible()) << c->objectName().toStdString();
    const bool timed = r.position < 4;
    EXPECT_EQ(w.cmdAdvanced->isEnabled(), timed);
    EXPECT_EQ(w.txtam[0]->isEnabled(), timed);
    EXPECT_EQ(w.txtStartTime->text().toStdString(), r.position == 4 || r.position == 5 ? "" : "     :");
    EXPECT_EQ(w.Advanced().dtpStartDate->isEnabled(), r.position != 3);
    if (r.position == 6) {
      EXPECT_EQ(w.lblEvery->text(), "When the computer has been idle for:");
      EXPECT_EQ(w.lblDays->text(), "Minute(s)");
    }
    if (r.position == 2) {
      EXPECT_TRUE(w.optDay->isChecked());
      EXPECT_FALSE(w.cboWeek->isEnabled());
      w.optThe->click();
      EXPECT_TRUE(w.cboWeek->isEnabled());
      EXPECT_FALSE(w.txtEverydays->isEnabled());
      w.cboWeek->setCurrentIndex(1);
      w.cboDay->setCurrentIndex(4);
      EXPECT_EQ(w.getEveryday(), "on the Second Friday of every Month(s)");
    }
    if (r.position == 1) {
      w.chkday[0]->click();
      EXPECT_EQ(w.getEveryday(), " of every 1 weeks") << "no day ticked";
      w.chkday[0]->click();
      w.chkday[2]->click();
      EXPECT_EQ(w.lblSelected->text().toStdString(), at + "every Mon,Wed of every 1 weeks" + start);
    }
    Shot(&w, "frmScheduleInput-" + std::to_string(r.position));
  }
  EXPECT_TRUE(w.chkday[2]->isChecked()) << "hidden day boxes keep their ticks";
}

// The start-time parts and the count take digits only and repair what is
// typed out of range; the spin control steps the part holding the focus.
TEST_F(ScheduleTest, TimeAndCountBoxesAsTyped) {
  frmScheduleInput w(nullptr);
  w.Form_Load();
  w.show();
  struct Row {
    int part;
    std::string typed, expect, designator;
  };
  TypeTime(w, "1", "00", "AM");
  for (const Row& r : std::vector<Row>{{0, "17", "5", "PM"},
                                       {0, "24", "4", "PM"},
                                       {0, "x1", "1", "PM"},
                                       {1, "75", "5", "PM"},
                                       {1, "4a", "4", "PM"},
                                       {2, "AM", "PM", "PM"}}) {
    SCOPED_TRACE(r.typed);
    ASSERT_TRUE(velmo::test::FocusControl(w.txtam[r.part]));
    velmo::test::PressKey(Qt::Key_A, Qt::ControlModifier);
    velmo::test::TypeText(r.typed);
    EXPECT_EQ(w.txtam[r.part]->text().toStdString(), r.expect);
    EXPECT_EQ(w.txtam[2]->text().toStdString(), r.designator);
  }
  // Hour 12 steps up to 1 and back; the minutes stop at their ends.
  Retype(w.txtam[0], "12");
  ASSERT_TRUE(velmo::test::FocusControl(w.txtam[0]));
  w.UpDownStartTime->ClickUp();
  EXPECT_EQ(w.txtam[0]->text(), "1");
  w.UpDownStartTime->ClickDown();
  EXPECT_EQ(w.txtam[0]->text(), "12");
  Retype(w.txtam[1], "59");
  ASSERT_TRUE(velmo::test::FocusControl(w.txtam[1]));
  w.UpDownStartTime->ClickUp();
  EXPECT_EQ(w.txtam[1]->text(), "59");
  w.UpDownStartTime->ClickDown();
  EXPECT_EQ(w.txtam[1]->text(), "58");
  ASSERT_TRUE(velmo::test::FocusControl(w.txtam[2]));
  w.UpDownStartTime->ClickUp();
  EXPECT_EQ(w.txtam[2]->text(), "AM");

  // Monthly: a day above 31 reads 31 once the box is left.
  w.cboScheduleTask->setCurrentIndex(2);
  Retype(w.txtEverydays, "4x5");
  EXPECT_EQ(w.txtEverydays->text(), "45");
  velmo::test::PressKey(Qt::Key_Tab);
  EXPECT_EQ(w.txtEverydays->text(), "31");
  EXPECT_EQ(w.getEveryday(), "on day 31 of every Month(s)");
  // When idle: the count changes, the fixed summary stays.
  w.cboScheduleTask->setCurrentIndex(6);
  Retype(w.txtEverydays, "15");
  velmo::test::PressKey(Qt::Key_Tab);
  EXPECT_EQ(w.lblSelected->text(), "Run when idle");
}

// OK refuses what would register a task that never runs or a wrong
// account, each with its box, the window staying open; what passes is
// registered and closes the window.
TEST_F(ScheduleTest, OkChecksBeforeRegistering) {
  struct Row {
    std::string name;
    std::function<void(frmScheduleInput&)> setUp;
    std::string prompt;  // "" when the task is saved
  };
  auto kind = [](int position, std::string count) {
    return [position, count](frmScheduleInput& w) {
      w.cboScheduleTask->setCurrentIndex(position);
      Retype(w.txtEverydays, count);
    };
  };
  auto monthly = [](std::string day, std::string months) {
    return [day, months](frmScheduleInput& w) {
      w.cboScheduleTask->setCurrentIndex(2);
      Retype(w.txtEverydays, day);
      w.strSelectedMonths = months;
    };
  };
  const std::string never = "The day of the month specified does not occur in any of the months specified.";
  const std::string zero = "Please enter a number greater than 0.";
  const std::vector<Row> rows = {
      {"no account", [](frmScheduleInput& w) { Retype(w.txtRunas, ""); }, "Please enter Run as account."},
      {"no domain", [](frmScheduleInput& w) { Retype(w.txtRunas, "alice"); },
       "Please enter Run as account in DOMAIN\\USERNAME format."},
      {"daily empty", kind(0, ""), zero},
      {"daily zero", kind(0, "0"), zero},
      {"weekly zero", kind(1, "00"), zero},
      {"monthly zero", kind(2, "0"), zero},
      {"weekly no day", [](frmScheduleInput& w) { w.cboScheduleTask->setCurrentIndex(1); w.chkday[0]->click(); },
       "Please select at least one day of the week."},
      {"day 45", monthly("45", ""),
       "The day of the month specified is greated than the max allowed. It will be set to the maximum value(31)."},
      {"day 31 Feb Apr", monthly("31", "FEBRUARY|APRIL"), never},
      {"day 30 Feb", monthly("30", "FEBRUARY"), never},
      {"day 31 no months", monthly("31", ""), ""},
      {"day 31 Feb Mar", monthly("31", "FEBRUARY|MARCH"), ""},
      {"day 29 Feb", monthly("29", "FEBRUARY"), ""},
      {"by weekday, empty count", [](frmScheduleInput& w) { w.cboScheduleTask->setCurrentIndex(2); Retype(w.txtEverydays, ""); w.optThe->click(); }, ""},
      {"once, empty count", [&](frmScheduleInput& w) { kind(0, "")(w); w.cboScheduleTask->setCurrentIndex(3); }, ""},
      {"lone backslash", [](frmScheduleInput& w) { Retype(w.txtRunas, "\\"); }, ""},
      {"daily 40000", kind(0, "40000"), ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ui->clear();
    frmSchedule schedule;
    schedule.blnIsCancelClicked = true;
    frmScheduleInput w(&schedule);
    w.Form_Load();
    w.show();
    r.setUp(w);
    // Enter presses OK, the default button, without leaving the box.
    if (!w.isAncestorOf(QApplication::focusWidget())) ASSERT_TRUE(velmo::test::FocusControl(w.txtRunas));
    velmo::test::PressKey(Qt::Key_Return);
    EXPECT_FALSE(schedule.blnIsCancelClicked);
    if (r.prompt.empty()) {
      EXPECT_TRUE(Prompts().empty()) << (Prompts().empty() ? "" : Prompts()[0]);
      EXPECT_FALSE(w.isVisible());
      EXPECT_EQ(w.result(), QDialog::Accepted);
      EXPECT_FALSE(TaskLine(Config()).empty());
      if (r.name == "once, empty count") EXPECT_EQ(Fields(TaskLine(Config()))[4], "");
      if (r.name == "daily 40000") EXPECT_EQ(Fields(TaskLine(Config()))[4], "32767");
    } else {
      EXPECT_EQ(Prompts(), std::vector<std::string>{r.prompt});
      EXPECT_TRUE(w.isVisible());
      w.reject();
    }
  }
  // Cancel sets the flag; Esc leaves it.
  frmSchedule schedule;
  for (bool esc : {false, true}) {
    frmScheduleInput w(&schedule);
    w.Form_Load();
    w.show();
    schedule.blnIsCancelClicked = false;
    if (esc) {
      ASSERT_TRUE(velmo::test::FocusControl(w.txtRunas));
      velmo::test::PressKey(Qt::Key_Escape);
    } else {
      w.cmdCancel->click();
    }
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(schedule.blnIsCancelClicked, !esc);
  }
}

// The default run-as account, with the Windows variables set or, as on a
// Linux login, unset: always "DOMAIN\\name" (the domain of a local logon is
// its computer's name), and OK takes it as it stands.
TEST_F(ScheduleTest, DefaultAccountIsAcceptedWithOrWithoutTheWindowsVariables) {
  char host[256] = {};
  ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
  std::string computer = host;
  computer = computer.substr(0, computer.find('.'));
  for (char& c : computer) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  struct Row {
    const char* domain;
    const char* name;
    const char* user;
    std::string account;
  };
  const std::vector<Row> rows = {
      {"CORP", "alice", "user1", "CORP\\alice"},
      {nullptr, nullptr, "user1", computer + "\\user1"},
      {nullptr, "bob", "user1", computer + "\\bob"},
      {"CORP", nullptr, "user1", "CORP\\user1"},
      {"", "", "user1", computer + "\\user1"},
      // Without USER too, the name the account database gives this process.
      {nullptr, nullptr, nullptr, computer + "\\" + ::getpwuid(::getuid())->pw_name},
  };
  const char* const oldUser = std::getenv("USER");
  const std::string savedUser = oldUser ? oldUser : "";
  for (const Row& r : rows) {
    SCOPED_TRACE(r.account);
    r.domain ? ::setenv("USERDOMAIN", r.domain, 1) : ::unsetenv("USERDOMAIN");
    r.name ? ::setenv("USERNAME", r.name, 1) : ::unsetenv("USERNAME");
    r.user ? ::setenv("USER", r.user, 1) : ::unsetenv("USER");
    EXPECT_EQ(DefaultConnectUser(), r.account);
    std::filesystem::remove(ConfigFile());  // no saved task to restore
    ui->clear();
    frmSchedule schedule;
    frmScheduleInput w(&schedule);
    w.Form_Load();
    w.show();
    EXPECT_EQ(w.txtRunas->text().toStdString(), r.account);
    if (!r.domain && !r.name) Shot(&w, "frmScheduleInput-host-account");
    ASSERT_TRUE(velmo::test::FocusControl(w.txtRunas));
    velmo::test::PressKey(Qt::Key_Return);
    EXPECT_TRUE(Prompts().empty()) << (Prompts().empty() ? "" : Prompts()[0]);
    EXPECT_EQ(w.result(), QDialog::Accepted);
    EXPECT_EQ(Fields(TaskLine(Config()))[1], r.account);
  }
  oldUser ? ::setenv("USER", savedUser.c_str(), 1) : ::unsetenv("USER");
}

// The repeat options: OK only with an interval shorter than the duration,
// the spinners and boxes following each other, the minutes box refusing a
// second digit after 6 to 9 but always taking Backspace; the months and
// password dialogs and their checks.
TEST_F(ScheduleTest, OptionDialogs) {
  frmScheduleInput w(nullptr);
  w.Form_Load();
  w.show();
  TypeTime(w, "12", "00", "AM");
  frmAdvanced& adv = w.Advanced();
  adv.show();
  EXPECT_FALSE(adv.txtEvery->isEnabled());
  adv.chkRepeatTask->click();
  EXPECT_TRUE(adv.txtEvery->isEnabled());
  EXPECT_EQ(adv.cboEvery->currentText(), "minutes");
  EXPECT_TRUE(adv.OptDuration->isChecked());
  EXPECT_EQ(adv.txtEvery->text(), "10");
  EXPECT_EQ(adv.txtHour->text(), "1");
  EXPECT_EQ(adv.txtMinute->text(), "");
  struct Row {
    std::string every, unit, hours, minutes;
    bool passes;
    std::string summary;
  };
  const char* warn = "The duration must be greater than the repetition interval.";
  for (const Row& r : std::vector<Row>{{"2", "hours", "1", "", false, ""},
                                       {"60", "minutes", "1", "", false, ""},
                                       {"", "minutes", "1", "", false, ""},
                                       {"10", "minutes", "", "", false, ""},
                                       {"10", "minutes", "1", "", true, " Every 10 minutes from 12:00 AM for 1 hour(s) "},
                                       {"7", "minutes", "", "45", true, " Every 7 minutes from 12:00 AM for 45 minute(s) "},
                                       {"2", "hours", "5", "", true, " Every 2 hours from 12:00 AM for 5 hour(s) "}}) {
    SCOPED_TRACE(r.every + r.unit + r.hours + "h" + r.minutes);
    ui->clear();
    adv.show();
    Retype(adv.txtEvery, r.every);
    adv.cboEvery->setCurrentIndex(r.unit == "hours" ? 1 : 0);
    Retype(adv.txtHour, r.hours);
    Retype(adv.txtMinute, r.minutes);
    adv.cmdOk->click();
    EXPECT_EQ(Prompts(), r.passes ? std::vector<std::string>{} : std::vector<std::string>{warn});
    EXPECT_EQ(adv.isVisible(), !r.passes);
    if (r.passes) EXPECT_EQ(adv.getAdvancedSet(), r.summary);
    if (r.passes)
      EXPECT_EQ(w.lblSelected->text().toStdString(), r.summary + "every 1 day(s) starting " + Today() + " ");
  }
  adv.show();
  Retype(adv.txtEvery, "0");
  EXPECT_EQ(adv.txtEvery->text(), "10") << "an interval of 0 becomes 10";
  Retype(adv.txtMinute, "7");
  velmo::test::TypeText("5");
  EXPECT_EQ(adv.txtMinute->text(), "7");
  velmo::test::PressKey(Qt::Key_Backspace, Qt::NoModifier, QString(QChar(8)));
  EXPECT_EQ(adv.txtMinute->text(), "") << "Backspace is always taken";
  velmo::test::TypeText("59");
  EXPECT_EQ(adv.txtMinute->text(), "59");
  adv.chkEndDate->click();
  EXPECT_TRUE(adv.dtpEndDate->isEnabled());
  EXPECT_EQ(adv.getStartTime(), "starting " + Today() + "  and ending " + Today());
  Shot(&adv, "frmAdvanced");
  adv.cmdCancel->click();
  EXPECT_FALSE(adv.isVisible());
  EXPECT_EQ(adv.txtMinute->text(), "59") << "Cancel undoes nothing";

  // Months: loaded from the list, none refused, OK builds the list.
  w.strSelectedMonths = "MARCH|MAY";
  {
    frmMonths months(&w);
    months.Form_Load();
    for (int i = 0; i < 12; ++i) EXPECT_EQ(months.chkmonths[i]->isChecked(), i == 2 || i == 4) << i;
    months.show();
    Shot(&months, "frmMonths");
    months.chkmonths[2]->click();
    months.chkmonths[4]->click();
    ui->clear();
    months.cmdOk->click();
    EXPECT_EQ(Prompts(), std::vector<std::string>{"Please select at least one month."});
    EXPECT_TRUE(months.isVisible());
    EXPECT_EQ(w.strSelectedMonths, "MARCH|MAY");
    months.chkmonths[1]->click();
    months.chkmonths[11]->click();
    months.cmdOk->click();
    EXPECT_EQ(w.strSelectedMonths, "FEBRUARY|DECEMBER");
  }
  // Password: typed twice, compared exactly.
  {
    WhenModal<frmPassword>([&](frmPassword& p) {
      Shot(&p, "frmPassword");
      Retype(p.txtPassword, "Secret");
      Retype(p.txtCfmPassword, "secret");
      p.cmdOK->click();
      EXPECT_TRUE(p.isVisible());
      Retype(p.txtCfmPassword, "Secret");
      velmo::test::PressKey(Qt::Key_Return);
    });
    ui->clear();
    w.cmdSetPassword->click();
    EXPECT_EQ(Prompts(), std::vector<std::string>{"Please check the confirmation password."});
    EXPECT_EQ(w.strPassword, "Secret");
  }
  Retype(w.txtRunas, "alice");
  ui->clear();
  w.cmdSetPassword->click();
  EXPECT_EQ(Prompts(), std::vector<std::string>{"Please enter Run as account in DOMAIN\\USERNAME format."});
  Retype(w.txtRunas, "");
  EXPECT_FALSE(w.cmdSetPassword->isEnabled());
}

// However "Advanced Schedule Options" is left, Cancel undoes nothing and the
// summary then shows what OK registers: the times of the crontab lines.
TEST_F(ScheduleTest, TheSummaryAfterTheAdvancedDialogIsWhatOkRegisters) {
  const std::string repeated = " Every 10 minutes from 2:00 AM for 1 hour(s) every 1 day(s) starting " + Today() + " ";
  // The duration stays chosen when the tick is cleared, and is still named.
  const std::string once = "At 2:00 AM 1 hour(s) every 1 day(s) starting " + Today() + " ";
  struct Row {
    std::string name;
    bool ticked;  // the repetition as the dialog opens; it is toggled there
    std::function<void(frmAdvanced&)> leave;
    std::string summary, cronTimes;
  };
  const std::vector<Row> rows = {
      {"Cancel", false, [](frmAdvanced& a) { a.cmdCancel->click(); }, repeated, "0,10,20,30,40,50 2"},
      {"Esc", false,
       [](frmAdvanced& a) {
         ASSERT_TRUE(velmo::test::FocusControl(a.txtEvery));
         velmo::test::PressKey(Qt::Key_Escape);
       },
       repeated, "0,10,20,30,40,50 2"},
      {"close box", false, [](frmAdvanced& a) { a.close(); }, repeated, "0,10,20,30,40,50 2"},
      {"Cancel after clearing the tick", true, [](frmAdvanced& a) { a.cmdCancel->click(); }, once, "0 2"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::filesystem::remove(ConfigFile());  // no task to restore
    frmScheduleInput w(nullptr);
    w.Form_Load();
    w.show();
    TypeTime(w, "2", "00", "AM");
    if (r.ticked) {
      WhenModal<frmAdvanced>([](frmAdvanced& a) {
        a.chkRepeatTask->click();
        a.cmdOk->click();
      });
      w.cmdAdvanced->click();
      ASSERT_EQ(w.lblSelected->text().toStdString(), repeated);
    }
    WhenModal<frmAdvanced>([&](frmAdvanced& a) {
      a.chkRepeatTask->click();
      r.leave(a);
    });
    w.cmdAdvanced->click();
    EXPECT_EQ(w.lblSelected->text().toStdString(), r.summary);
    if (r.name == "Cancel") Shot(&w, "frmScheduleInput-after-advanced-cancel");
    ui->clear();
    w.cmdok->click();
    ASSERT_EQ(Prompts(), std::vector<std::string>{});
    std::string times;
    std::istringstream cron(velmo::test::TestHome::Slurp(home->CrontabFile()));
    for (std::string line; std::getline(cron, line);)
      if (line.find("./vjobrun") != std::string::npos)
        times += (times.empty() ? "" : "; ") + line.substr(0, line.find(' ', line.find(' ') + 1));
    EXPECT_EQ(times, r.cronTimes);
  }
}
