// Registering the scheduled task: each kind saved through the input
// window, reopened and saved unchanged keeps its task line and crontab
// block; the settings file's server lines survive every rewrite; kinds cron
// cannot run are refused with the window left open; the schedule window's
// default task after Cancel.
#include <QDateEdit>
#include <QLabel>
#include <QRadioButton>
#include <sys/stat.h>

#include <functional>
#include <map>

#include "SaveScheduledTask.h"
#include "ScheduleDialogs.h"
#include "ScheduleKit.h"
#include "UpDown.h"
#include "frmSchedule.h"
#include "frmScheduleInput.h"

using namespace sched_test;

namespace {

const std::string kServers =
    "EX1@@@Default@@@@@@Export@@@@@@MDB@@@/srv/Reports, 2024@@@01_02_2024_03_04_05\r\n"
    "EX10@@@Mine@@@EX1 Profile@@@Both@@@Velmorcast PDF@@@CSV@@@/srv/out@@@01_02_2024_03_04_05\r\n";

std::string TaskLine(const std::string& config) {
  const auto at = config.find("VelmorcastTask.job");
  return at == std::string::npos ? std::string() : config.substr(at, config.find("\r\n", at) - at);
}

std::string Fmt(const QDate& d) { return d.toString("MM/dd/yyyy").toStdString(); }

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

void Repeat(frmScheduleInput& w, const std::string& every, bool hours, const std::string& h, const std::string& m,
            bool stop) {
  frmAdvanced& adv = w.Advanced();
  adv.show();
  adv.chkRepeatTask->click();
  Retype(adv.txtEvery, every);
  adv.cboEvery->setCurrentIndex(hours ? 1 : 0);
  Retype(adv.txtHour, h);
  Retype(adv.txtMinute, m);
  if (stop) adv.chkTask->click();
  adv.cmdOk->click();
  ASSERT_FALSE(adv.isVisible());
}

}  // namespace

TEST_F(ScheduleTest, EachKindSavedReopenedAndSavedUnchanged) {
  const std::string today = Fmt(QDate::currentDate());
  const QDate once(2027, 3, 14), end(2027, 1, 31);
  struct Row {
    std::string name;
    std::function<void(frmScheduleInput&)> setUp;
    std::map<int, std::string> fields;
    std::function<void(frmScheduleInput&)> restored;
  };
  const std::vector<Row> rows = {
      {"daily every 3 days at 12:30 AM",
       [](frmScheduleInput& w) { TypeTime(w, "12", "30", "AM"); Retype(w.txtEverydays, "3"); },
       {{1, "CORP\\alice"}, {2, "1"}, {3, "00:30"}, {4, "3"}, {5, ""}, {8, today}, {9, ""}, {10, "0"}, {12, "0"}, {13, ""}},
       [](frmScheduleInput& w) {
         EXPECT_EQ(w.txtam[0]->text(), "12");
         EXPECT_EQ(w.txtam[1]->text(), "30");
         EXPECT_EQ(w.txtam[2]->text(), "AM");
         EXPECT_EQ(w.txtEverydays->text(), "3");
       }},
      {"weekly Tue and Fri every 2 weeks at 1:05 PM",
       [](frmScheduleInput& w) {
         w.cboScheduleTask->setCurrentIndex(1);
         TypeTime(w, "1", "05", "PM");
         Retype(w.txtEverydays, "2");
         w.chkday[0]->click();
         w.chkday[1]->click();
         w.chkday[4]->click();
         Retype(w.txtRunas, "  CORP\\svc  ");
       },
       {{1, "CORP\\svc"}, {2, "2"}, {3, "13:05"}, {4, "2"}, {5, "|TUESDAY|FRIDAY"}},
       [](frmScheduleInput& w) {
         EXPECT_EQ(w.cboScheduleTask->currentIndex(), 1);
         for (int i = 0; i < 7; ++i) EXPECT_EQ(w.chkday[i]->isChecked(), i == 1 || i == 4) << "day " << i;
         EXPECT_EQ(w.txtam[0]->text(), "1");
         EXPECT_EQ(w.txtam[2]->text(), "PM");
       }},
      {"monthly day 15 of February and April at 12:00 PM",
       [](frmScheduleInput& w) {
         w.cboScheduleTask->setCurrentIndex(2);
         TypeTime(w, "12", "00", "PM");
         Retype(w.txtEverydays, "15");
         WhenModal<frmMonths>([](frmMonths& m) {
           for (int i = 0; i < 12; ++i)
             if (m.chkmonths[i]->isChecked() != (i == 1 || i == 3)) m.chkmonths[i]->click();
           m.cmdOk->click();
         });
         w.cmdMonths->click();
       },
       {{2, "3"}, {3, "12:00"}, {4, "15"}, {5, "FEBRUARY|APRIL"}, {6, "0"}, {7, "0"}},
       [](frmScheduleInput& w) {
         EXPECT_TRUE(w.optDay->isChecked());
         EXPECT_EQ(w.strSelectedMonths, "FEBRUARY|APRIL");
         EXPECT_EQ(w.txtam[2]->text(), "PM");
         EXPECT_EQ(w.txtEverydays->text(), "15");
       }},
      {"monthly on the second Friday, no months chosen",
       [](frmScheduleInput& w) {
         w.cboScheduleTask->setCurrentIndex(2);
         Retype(w.txtEverydays, "");
         w.optThe->click();
         w.cboWeek->setCurrentIndex(1);
         w.cboDay->setCurrentIndex(4);
       },
       {{2, "4"}, {4, ""}, {5, AllMonths()}, {6, "1"}, {7, "4"}},
       [](frmScheduleInput& w) {
         EXPECT_TRUE(w.optThe->isChecked());
         EXPECT_EQ(w.cboWeek->currentText(), "Second");
         EXPECT_EQ(w.cboDay->currentText(), "Friday");
       }},
      {"once on its date at 09:05 AM",
       [&](frmScheduleInput& w) {
         w.cboScheduleTask->setCurrentIndex(3);
         TypeTime(w, "09", "05", "AM");
         w.dpOnce->setDate(once);
       },
       {{2, "0"}, {3, "09:05"}, {8, Fmt(once)}, {9, ""}},
       [&](frmScheduleInput& w) {
         EXPECT_EQ(w.dpOnce->date(), once);
         EXPECT_EQ(w.txtam[0]->text(), "09");
       }},
      {"at system startup", [](frmScheduleInput& w) { w.cboScheduleTask->setCurrentIndex(4); },
       {{2, "6"}, {8, ""}, {9, ""}, {11, "0"}, {12, "0"}, {13, ""}},
       [](frmScheduleInput& w) { EXPECT_EQ(w.lblSelected->text(), "Run at system startup"); }},
      {"daily every 2 hours for 5 hours until an end date, stopped at the end",
       [&](frmScheduleInput& w) {
         Repeat(w, "2", true, "5", "", true);
         w.Advanced().chkEndDate->click();
         w.Advanced().dtpEndDate->setDate(end);
       },
       {{2, "1"}, {9, Fmt(end)}, {10, "1"}, {11, "120"}, {12, "300"}, {13, "1"}},
       [&](frmScheduleInput& w) {
         frmAdvanced& adv = w.Advanced();
         EXPECT_TRUE(adv.chkRepeatTask->isChecked());
         EXPECT_EQ(adv.txtEvery->text(), "120");
         EXPECT_EQ(adv.cboEvery->currentText(), "minutes");
         EXPECT_EQ(adv.txtHour->text(), "5");
         EXPECT_EQ(adv.txtMinute->text(), "");
         EXPECT_TRUE(adv.chkTask->isChecked());
         EXPECT_TRUE(adv.chkEndDate->isChecked());
         EXPECT_EQ(adv.dtpEndDate->date(), end);
       }},
      {"daily every 7 minutes for 45 minutes",
       [](frmScheduleInput& w) { Repeat(w, "7", false, "", "45", false); },
       {{10, "1"}, {11, "7"}, {12, "45"}, {13, "0"}},
       [](frmScheduleInput& w) {
         EXPECT_EQ(w.Advanced().txtHour->text(), "");
         EXPECT_EQ(w.Advanced().txtMinute->text(), "45");
         EXPECT_NE(w.lblSelected->text().toStdString().find(" for 45 minute(s) every 1 day(s)"), std::string::npos)
             << w.lblSelected->text().toStdString();
       }},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    WriteConfig("Scheduled Servers\r\n" + kServers);
    std::string line, cron;
    for (int pass = 0; pass < 2; ++pass) {
      ui->clear();
      frmScheduleInput w(nullptr);
      w.Form_Load();
      w.show();
      if (pass == 0) r.setUp(w);
      if (pass == 1) r.restored(w);
      w.cmdok->click();
      ASSERT_EQ(Prompts(), std::vector<std::string>{});
      ASSERT_EQ(w.result(), QDialog::Accepted);
      const std::string config = Config();
      EXPECT_EQ(config.substr(config.find("\r\n", config.find("VelmorcastTask.job")) + 2), kServers)
          << "server lines kept";
      const std::string cronNow = velmo::test::TestHome::Slurp(home->CrontabFile());
      EXPECT_EQ(Count(cronNow, "# BEGIN job-scheduler task VelmorcastTask\n"), 1u) << cronNow;
      if (pass == 0) {
        line = TaskLine(config);
        cron = cronNow;
        const auto f = velmo::SplitSchedFields(line);
        ASSERT_EQ(f.size(), 14u) << line;
        for (const auto& [i, v] : r.fields) EXPECT_EQ(f[i], v) << "field " << i << " of " << line;
      } else {
        EXPECT_EQ(TaskLine(config), line);
        EXPECT_EQ(cronNow, cron);
      }
    }
  }
}

// Kinds cron cannot run are refused by the component: the message and
// log line, the window open, the old task and file untouched. A password
// goes to the credentials file only.
TEST_F(ScheduleTest, RegistrationFailuresKeepTheWindowAndTheOldTask) {
  WriteConfig("Scheduled Servers\r\n" + kServers);
  {
    frmScheduleInput w(nullptr);
    w.Form_Load();
    w.show();
    w.strPassword = "S3cret-pw";
    w.cmdok->click();
    ASSERT_EQ(w.result(), QDialog::Accepted);
  }
  const std::string config = Config(), cron = velmo::test::TestHome::Slurp(home->CrontabFile());
  const auto credFile = home->dir() / "VelmorcastTask.cred";
  const std::string cred = velmo::test::TestHome::Slurp(credFile);
  ASSERT_FALSE(TaskLine(config).empty());
  EXPECT_TRUE(std::filesystem::exists(credFile));
  const std::string refused = "The schedule settings could not be saved.\r\n";
  struct Row {
    std::string name;
    std::function<void(frmScheduleInput&)> setUp;
    std::string prompt;
  };
  const std::vector<Row> rows = {
      {"idle", [](frmScheduleInput& w) { w.cboScheduleTask->setCurrentIndex(6); },
       "The scheduled task could not be registered.\r\nA task that runs when the computer is idle cannot be "
       "scheduled with cron."},
      {"logon", [](frmScheduleInput& w) { w.cboScheduleTask->setCurrentIndex(5); },
       "The scheduled task could not be registered.\r\nA task that runs at user logon cannot be scheduled with cron."},
      // A value the settings file cannot carry is refused before anything
      // is registered.
      {"account ending with @",
       [](frmScheduleInput& w) {
         Retype(w.txtRunas, "CORP\\ops@");
         w.strPassword = "0ther-pw";
       },
       refused + "A field holds @@@, a line break or a control character, or ends with @: CORP\\ops@"},
      {"account holding @@@", [](frmScheduleInput& w) { Retype(w.txtRunas, "CORP\\a@@@b"); },
       refused + "A field holds @@@, a line break or a control character, or ends with @: CORP\\a@@@b"},
      {"account holding a control character", [](frmScheduleInput& w) { w.txtRunas->setText("CORP\\a\x1b"); },
       refused + "A field holds @@@, a line break or a control character, or ends with @: CORP\\a\\x1B"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ui->clear();
    frmSchedule schedule;
    frmScheduleInput w(&schedule);
    w.Form_Load();
    w.show();
    r.setUp(w);
    w.cmdok->click();
    EXPECT_EQ(Prompts(), std::vector<std::string>{r.prompt});
    EXPECT_EQ(velmo::test::TestHome::Slurp(credFile), cred);
    EXPECT_EQ(ui->shown()[0].buttons, velmo::ui::vbExclamation);
    EXPECT_EQ(ui->shown()[0].title, kProductTitle);
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(Config(), config);
    EXPECT_EQ(velmo::test::TestHome::Slurp(home->CrontabFile()), cron);
  }
  EXPECT_EQ(Count(ErrorLog(), "SaveScheduledTask Registration Failure"), 2u) << ErrorLog();
  for (const std::string& text : {Config(), cron, ErrorLog()})
    EXPECT_EQ(text.find("S3cret-pw"), std::string::npos);
}

// A settings file that cannot be rewritten is refused before anything is
// registered; one that becomes so while the task is being registered is
// reported as such, the task left registered.
TEST_F(ScheduleTest, TheSettingsFileIsCheckedBeforeTheTaskIsRegistered) {
  const std::string path = ConfigFile().string();
  // A crontab program that swaps the settings file for a named pipe while
  // it installs the table, then does what the stand-in does.
  const auto swapper = home->dir() / "crontab-swapping";
  std::ofstream(swapper) << "#!/bin/sh\nif [ \"$1\" = - ]; then rm -f '" << path << "' && mkfifo '" << path
                         << "'; fi\nexec '" << velmo::test::TestHome::CrontabStandIn().string() << "' \"$@\"\n";
  std::filesystem::permissions(swapper, std::filesystem::perms::owner_all);
  struct Row {
    std::string name;
    bool swapNow;  // else while registering
    std::string prompt;
  };
  for (const Row& r : std::vector<Row>{
           {"a named pipe before OK", true,
            "The schedule settings could not be saved.\r\n" + path + ": The file is not a regular file."},
           {"a named pipe while registering", false,
            "The scheduled task was registered, but the schedule settings could not be saved.\r\n" + path +
                ": The file is not a regular file."}}) {
    SCOPED_TRACE(r.name);
    std::filesystem::remove(ConfigFile());
    std::filesystem::remove(home->CrontabFile());
    WriteConfig("Scheduled Servers\r\n" + kServers);
    ui->clear();
    frmScheduleInput w(nullptr);
    w.Form_Load();
    w.show();
    if (r.swapNow) {
      std::filesystem::remove(ConfigFile());
      ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
    } else {
      ::setenv("VELMORCAST_CRONTAB", swapper.c_str(), 1);
    }
    w.cmdok->click();
    ::setenv("VELMORCAST_CRONTAB", velmo::test::TestHome::CrontabStandIn().c_str(), 1);
    EXPECT_EQ(Prompts(), std::vector<std::string>{r.prompt});
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(std::filesystem::is_fifo(ConfigFile()));
    EXPECT_NE(ErrorLog().find(path + ": The file is not a regular file.      SaveScheduledTask Config File Write Failure"),
              std::string::npos);
    const std::string cron = velmo::test::TestHome::Slurp(home->CrontabFile());
    EXPECT_EQ(Count(cron, "# BEGIN job-scheduler task VelmorcastTask\n"), r.swapNow ? 0u : 1u) << cron;
  }
}

// Proceed, OK in the input window, then Cancel here keeps the server
// lines; Cancel in the input window, then "&OK" registers the default
// daily task and writes every ticked server once.
TEST_F(ScheduleTest, ScheduleWindowKeepsServerLinesThroughTheWizard) {
  WriteConfig("Scheduled Servers\r\n" + kServers);
  {
    frmSchedule w;
    w.Form_Load();
    w.show();
    WhenModal<frmScheduleInput>([](frmScheduleInput& input) {
      Retype(input.txtEverydays, "4");
      input.cmdok->click();
    });
    w.cmdOperation[1]->click();
    EXPECT_FALSE(w.blnIsCancelClicked);
    EXPECT_EQ(velmo::SplitSchedFields(TaskLine(Config()))[4], "4");
    w.cmdOperation[2]->click();
    EXPECT_FALSE(w.isVisible());
    EXPECT_NE(Config().find(kServers), std::string::npos) << Config();
  }
  frmSchedule w;
  w.Form_Load();
  w.show();
  WhenModal<frmScheduleInput>([](frmScheduleInput& input) { input.cmdCancel->click(); });
  w.cmdOperation[1]->click();
  EXPECT_TRUE(w.blnIsCancelClicked);
  w.cmdOperation[1]->click();
  EXPECT_FALSE(w.isVisible());
  const std::string config = Config();
  const auto f = velmo::SplitSchedFields(TaskLine(config));
  ASSERT_EQ(f.size(), 14u);
  EXPECT_EQ(f[1], "CORP\\alice");
  EXPECT_EQ(f[2], "1");
  EXPECT_EQ(f[4], "1");
  EXPECT_EQ(f[12], "10");
  EXPECT_EQ(f[13], "0");
  EXPECT_EQ(Count(config, "EX1@@@"), 1u) << config;
  EXPECT_EQ(Count(config, "EX10@@@"), 1u) << config;
  EXPECT_EQ(Count(config, "Scheduled Servers"), 1u);
}

// A default task that cannot be registered (the crontab program fails) is
// reported; the schedule window then writes its servers under the task
// line the file already had.
TEST_F(ScheduleTest, FailedDefaultTaskStillWritesTheServers) {
  const std::string oldTask = "VelmorcastTask.job@@@CORP\\bob@@@1@@@09:05@@@2@@@@@@0@@@0@@@03/01/2024@@@@@@0@@@0@@@0@@@";
  WriteConfig("Scheduled Servers\r\n" + oldTask + "\r\n" + kServers);
  ::setenv("VELMORCAST_CRONTAB", "/bin/false", 1);
  frmSchedule w;
  w.Form_Load();
  w.show();
  WhenModal<frmScheduleInput>([](frmScheduleInput& input) { input.cmdCancel->click(); });
  w.cmdOperation[1]->click();
  w.cmdOperation[1]->click();
  ASSERT_EQ(Prompts().size(), 1u);
  EXPECT_EQ(Prompts()[0].rfind("The scheduled task could not be registered.\r\n", 0), 0u) << Prompts()[0];
  EXPECT_NE(ErrorLog().find("SaveScheduledTask Registration Failure"), std::string::npos);
  EXPECT_FALSE(w.isVisible());
  EXPECT_EQ(TaskLine(Config()), oldTask);
  EXPECT_EQ(Count(Config(), "EX1@@@"), 1u);
  EXPECT_EQ(Count(Config(), "EX10@@@"), 1u);
}
