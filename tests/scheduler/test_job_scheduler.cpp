// The crontab layer and the job-scheduler component over the test crontab
// stand-in: foreign lines kept, blocks added, replaced and removed, each
// kind mapped to cron times and vjobrun rules, credentials kept beside.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <fstream>
#include <functional>

#include "AppFolder.h"
#include "ComFactory.h"
#include "CronTable.h"
#include "IJobScheduler.h"
#include "TaskCredentials.h"
#include "TestHome.h"

namespace sch = velmo::scheduler;
using sch::CronTable;
using velmo::ComError;
using velmo::test::TestHome;

namespace {

const std::string kTask = "VelmorcastTask";

void Put(const std::filesystem::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }

int32_t ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const ComError& e) {
    return e.Number();
  }
  return 0;
}

std::string DescriptionOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const ComError& e) {
    return e.Description();
  }
  return "";
}

struct Registration {
  int16_t kind = 1;
  std::string account = "CORP\\ops";
  std::string password;
  std::function<void(sch::IJob&)> setUp;
};

// Registers the way the schedule editor does: add, on "exists" delete and
// add again, set up the job, save.
void Register(const Registration& r) {
  auto js = velmo::com::CreateObject<sch::IJobScheduler>(sch::kJobSchedulerProgId);
  int16_t kind = r.kind, repeat = 0;
  const std::string program = velmo::AppFolderText() + "\\VLMRSchedule.exe";
  try {
    js->AddTaskToScheduler(kTask, program, "", r.account, r.password, kind, repeat);
  } catch (const ComError& e) {
    if (e.Number() != sch::kTaskExists) throw;
    js->DeleteTask(kTask);
    js->AddTaskToScheduler(kTask, program, "", r.account, r.password, kind, repeat);
  }
  if (r.setUp) r.setUp(*js->Job(kTask));
  js->SaveTask();
}

std::vector<std::string> Block(const TestHome& home) {
  auto lines = CronTable::TaskLines(TestHome::Slurp(home.CrontabFile()), kTask);
  return lines ? *lines : std::vector<std::string>{"<no block>"};
}

std::string Cd(const TestHome& home) { return "cd '" + home.dir().string() + "' && exec ./vjobrun --task VelmorcastTask "; }

}  // namespace

TEST(CronTable, BlocksChangeByNameAndEveryOtherLineStaysByteForByte) {
  const std::string foreign = "MAILTO=ops\r\n# mine\n*/5 * * * * backup %weekly\n\n";
  const std::string other = "# BEGIN job-scheduler task Other\n1 2 * * * other\n# END job-scheduler task Other\n";
  struct Case {
    const char* name;
    std::string table;
    std::function<std::string(const std::string&)> change;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"add to an empty table", "", [](auto& t) { return CronTable::WithTask(t, "T", {"a", "b"}); },
       "# BEGIN job-scheduler task T\na\nb\n# END job-scheduler task T\n"},
      {"add after foreign lines", foreign, [](auto& t) { return CronTable::WithTask(t, "T", {"a"}); },
       foreign + "# BEGIN job-scheduler task T\na\n# END job-scheduler task T\n"},
      {"add after a last line without its end", "x y", [](auto& t) { return CronTable::WithTask(t, "T", {"a"}); },
       "x y\n# BEGIN job-scheduler task T\na\n# END job-scheduler task T\n"},
      {"replace in place", foreign + "# BEGIN job-scheduler task T\nold1\nold2\n# END job-scheduler task T\n" + other,
       [](auto& t) { return CronTable::WithTask(t, "T", {"new"}); },
       foreign + "# BEGIN job-scheduler task T\nnew\n# END job-scheduler task T\n" + other},
      {"delete between foreign lines", foreign + "# BEGIN job-scheduler task T\nold\n# END job-scheduler task T\n" + other,
       [](auto& t) { return CronTable::WithoutTask(t, "T"); }, foreign + other},
      // A block that lost its end marker takes only the task's own lines
      // with it; the user's lines after them stay.
      {"delete a block cut short", foreign + "# BEGIN job-scheduler task T\n1 2 * * * cd /x && exec ./vjobrun a\n",
       [](auto& t) { return CronTable::WithoutTask(t, "T"); }, foreign},
      {"delete a block without its end before the user's lines",
       "# BEGIN job-scheduler task T\n@reboot cd /x && exec ./vjobrun a\n" + foreign + other,
       [](auto& t) { return CronTable::WithoutTask(t, "T"); }, foreign + other},
      {"replace a block without its end before the user's lines",
       foreign + "# BEGIN job-scheduler task T\n1 2 * * * cd /x && exec ./vjobrun a\nold",
       [](auto& t) { return CronTable::WithTask(t, "T", {"new"}); },
       foreign + "# BEGIN job-scheduler task T\nnew\n# END job-scheduler task T\nold"},
      {"delete a missing block", foreign + other, [](auto& t) { return CronTable::WithoutTask(t, "T"); },
       foreign + other},
      {"a name that prefixes another is its own", other,
       [](auto& t) { return CronTable::WithTask(t, "Oth", {"z"}); },
       other + "# BEGIN job-scheduler task Oth\nz\n# END job-scheduler task Oth\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.change(c.table), c.expected);
  }
  const std::string two = other + foreign + "# BEGIN job-scheduler task T\r\nx\r\n# END job-scheduler task T\r\n";
  EXPECT_EQ(CronTable::TaskNames(two), (std::vector<std::string>{"Other", "T"}));
  EXPECT_EQ(*CronTable::TaskLines(two, "T"), std::vector<std::string>{"x"});
  EXPECT_FALSE(CronTable::TaskLines(two, "Oth"));
}

TEST(CronTable, ReadsAndWritesThroughTheNamedProgram) {
  TestHome home;
  EXPECT_EQ(CronTable::Program(), TestHome::CrontabStandIn().string());
  EXPECT_EQ(CronTable::Read(), "");  // "no crontab for" the user
  const std::string table = "MAILTO=ops\r\n# BEGIN job-scheduler task T\n1 2 * * * x %d\n# END job-scheduler task T\n";
  CronTable::Write(table);
  EXPECT_EQ(TestHome::Slurp(home.CrontabFile()), table);
  EXPECT_EQ(CronTable::Read(), table);
  std::string big(200000, 'x');  // more than a pipe holds, both ways
  CronTable::Write("# " + big + "\n");
  EXPECT_EQ(CronTable::Read(), "# " + big + "\n");

  // Failing programs: their own words reach the error.
  Put(home / "broken", "#!/bin/sh\necho 'crontab: cannot connect to daemon' >&2\nexit 1\n");
  ::chmod((home / "broken").c_str(), 0755);
  struct Case {
    std::string program;
    const char* words;
  };
  for (const Case& c : std::vector<Case>{{(home / "broken").string(), "cannot connect to daemon"},
                                         {"/bin/false", "exit status 1"},
                                         {(home / "missing-program").string(), "No such file"}}) {
    SCOPED_TRACE(c.program);
    ::setenv("VELMORCAST_CRONTAB", c.program.c_str(), 1);
    EXPECT_NE(DescriptionOf([] { CronTable::Read(); }).find(c.words), std::string::npos);
    EXPECT_NE(DescriptionOf([] { CronTable::Write("x\n"); }).find(c.words), std::string::npos);
  }
  // The stand-in refuses to work without a file named.
  ::setenv("VELMORCAST_CRONTAB", TestHome::CrontabStandIn().c_str(), 1);
  ::unsetenv("VELMORCAST_CRONTAB_FILE");
  EXPECT_NE(DescriptionOf([] { CronTable::Read(); }).find("VELMORCAST_CRONTAB_FILE is not set"), std::string::npos);
  EXPECT_NE(ErrorOf([] { CronTable::Write("x\n"); }), 0);
}

TEST(JobScheduler, EachKindMapsToCronTimesAndDayRules) {
  using Job = sch::IJob;
  struct Case {
    const char* name;
    Registration reg;
    std::vector<std::string> expected;  // after the "cd ... --task VelmorcastTask " part
  };
  const std::vector<Case> cases = {
      {"once", {0, "CORP\\ops", "", [](Job& j) { j.StartTime("9:05"); j.StartDate("12/31/2026"); }},
       {"5 9 * * * |--kind 0 --at 09:05 --start 2026-12-31 -- ./VLMRSchedule"}},
      {"minutes typed as one digit", {0, "CORP\\ops", "", [](Job& j) { j.StartTime("00:5"); j.StartDate("1/2/2026"); }},
       {"5 0 * * * |--kind 0 --at 00:05 --start 2026-01-02 -- ./VLMRSchedule"}},
      {"daily every 3 days until an end",
       {1, "CORP\\ops", "", [](Job& j) { j.SetDaysInterval(3); j.StartTime("00:30"); j.StartDate("01/30/2026"); j.EndDate("03/01/2026"); }},
       {"30 0 * * * |--kind 1 --at 00:30 --start 2026-01-30 --end 2026-03-01 --every 3 -- ./VLMRSchedule"}},
      {"weekly every 2 weeks on Tuesday and Friday",
       {2, "CORP\\ops", "", [](Job& j) { j.SetWeekInfo(2, "|TUESDAY|FRIDAY"); j.StartTime("13:05"); j.StartDate("03/04/2026"); }},
       {"5 13 * * * |--kind 2 --at 13:05 --start 2026-03-04 --every 2 --days tue,fri -- ./VLMRSchedule"}},
      {"monthly on day 31",
       {3, "CORP\\ops", "", [](Job& j) { j.SetMonthlyDateInfo(31, "JANUARY|APRIL|DECEMBER"); j.StartTime("23:59"); j.StartDate("01/01/2026"); }},
       {"59 23 * * * |--kind 3 --at 23:59 --start 2026-01-01 --day 31 --months 1,4,12 -- ./VLMRSchedule"}},
      {"monthly on the second Friday",
       {4, "CORP\\ops", "", [](Job& j) { j.SetMonthlyDOWInfo(1, 4, "JANUARY|FEBRUARY|MARCH|APRIL|MAY|JUNE|JULY|AUGUST|SEPTEMBER|OCTOBER|NOVEMBER|DECEMBER"); j.StartTime("06:00"); j.StartDate("01/01/2026"); }},
       {"0 6 * * * |--kind 4 --at 06:00 --start 2026-01-01 --week 2 --weekday fri --months 1,2,3,4,5,6,7,8,9,10,11,12 -- ./VLMRSchedule"}},
      {"at start-up", {6, "CORP\\ops", "", [](Job& j) { j.StartTime("06:00"); }},
       {"@reboot |--kind 6 --at 06:00 -- ./VLMRSchedule"}},
      {"every 2 hours for 5 hours past midnight",
       {1, "CORP\\ops", "", [](Job& j) { j.SetDaysInterval(1); j.StartTime("23:00"); j.StartDate("01/01/2026"); j.RepeatTask(300, 120, 1); }},
       {"0 23 * * * |--kind 1 --at 23:00 --start 2026-01-01 --every 1 --duration 300 --stop -- ./VLMRSchedule",
        "0 1,3 * * * |--kind 1 --at 23:00 --start 2026-01-01 --every 1 --duration 300 --stop --offset 1 -- ./VLMRSchedule"}},
      {"every 7 minutes for an hour",
       {1, "CORP\\ops", "", [](Job& j) { j.StartTime("02:30"); j.StartDate("01/01/2026"); j.RepeatTask(60, 7); }},
       {"30,37,44,51,58 2 * * * |--kind 1 --at 02:30 --start 2026-01-01 --every 1 --duration 60 -- ./VLMRSchedule",
        "5,12,19,26 3 * * * |--kind 1 --at 02:30 --start 2026-01-01 --every 1 --duration 60 -- ./VLMRSchedule"}},
      {"every 6 hours for two days",
       {1, "CORP\\ops", "", [](Job& j) { j.StartTime("02:15"); j.StartDate("01/01/2026"); j.RepeatTask(2880, 360, 0); }},
       {"15 2,8,14,20 * * * |--kind 1 --at 02:15 --start 2026-01-01 --every 1 --duration 2880 -- ./VLMRSchedule"}},
      {"every 10 minutes all day: one line for all hours",
       {1, "CORP\\ops", "", [](Job& j) { j.StartTime("00:00"); j.StartDate("01/01/2026"); j.RepeatTask(1440, 10); }},
       {"0,10,20,30,40,50 0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23 * * * |--kind 1 --at 00:00 "
        "--start 2026-01-01 --every 1 --duration 1440 -- ./VLMRSchedule"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestHome home;
    Register(c.reg);
    std::vector<std::string> expected;
    for (auto e : c.expected) expected.push_back(e.replace(e.find('|'), 1, Cd(home)));
    EXPECT_EQ(Block(home), expected);
    // Registered again unchanged, the block is the same.
    Register(c.reg);
    EXPECT_EQ(Block(home), expected);
  }
}

TEST(JobScheduler, RegistrationReplacesInPlaceAndRefusalsChangeNothing) {
  TestHome home;
  const std::string before = "MAILTO=ops\n# BEGIN job-scheduler task Other\n1 2 * * * x\n# END job-scheduler task Other\n";
  const std::string after = "*/5 * * * * backup \\%H\n";
  Put(home.CrontabFile(), before);
  auto daily = [](const char* time) {
    return Registration{1, "CORP\\ops", "pw1", [time](sch::IJob& j) { j.StartTime(time); j.StartDate("01/01/2026"); }};
  };
  Register(daily("08:00"));
  Put(home.CrontabFile(), TestHome::Slurp(home.CrontabFile()) + after);
  Register(daily("09:00"));
  const std::string table = TestHome::Slurp(home.CrontabFile());
  EXPECT_EQ(table, before + CronTable::BeginLine(kTask) + "\n0 9 * * * " + Cd(home) +
                       "--kind 1 --at 09:00 --start 2026-01-01 --every 1 -- ./VLMRSchedule\n" +
                       CronTable::EndLine(kTask) + "\n" + after);

  // Kinds 5 and 7 are refused with their texts; table and credentials stay.
  const std::string cred = TestHome::Slurp(home / "VelmorcastTask.cred");
  for (auto [kind, text] : std::vector<std::pair<int16_t, std::string>>{
           {5, "A task that runs when the computer is idle cannot be scheduled with cron."},
           {7, "A task that runs at user logon cannot be scheduled with cron."}}) {
    SCOPED_TRACE(kind);
    Registration r = daily("10:00");
    r.kind = kind;
    r.password = "other";
    EXPECT_EQ(ErrorOf([&] { Register(r); }), sch::kKindNotSupported);
    EXPECT_EQ(DescriptionOf([&] { Register(r); }), text);
    EXPECT_EQ(TestHome::Slurp(home.CrontabFile()), table);
    EXPECT_EQ(TestHome::Slurp(home / "VelmorcastTask.cred"), cred);
  }

  // Values the job cannot take fail the call that gives them, before any change.
  using J = sch::IJob;
  const std::vector<std::function<void(J&)>> bad = {
      [](J& j) { j.StartTime("24:00"); },        [](J& j) { j.StartTime("9"); },
      [](J& j) { j.StartTime("9:"); },           [](J& j) { j.StartTime("9:123"); },
      [](J& j) { j.StartDate("02/30/2026"); },   [](J& j) { j.EndDate("2026-01-01"); },
      [](J& j) { j.SetDaysInterval(0); },        [](J& j) { j.SetWeekInfo(1, ""); },
      [](J& j) { j.SetWeekInfo(0, "MONDAY"); },  [](J& j) { j.SetWeekInfo(1, "MONDAY|FUNDAY"); },
      [](J& j) { j.SetMonthlyDateInfo(32, "MAY"); }, [](J& j) { j.SetMonthlyDateInfo(1, ""); },
      [](J& j) { j.SetMonthlyDOWInfo(4, 0, "MAY"); }, [](J& j) { j.SetMonthlyDOWInfo(0, 7, "MAY"); },
      [](J& j) { j.RepeatTask(60, 60); },        [](J& j) { j.RepeatTask(60, 0, 1); },
  };
  for (size_t i = 0; i < bad.size(); ++i) {
    SCOPED_TRACE(i);
    Registration r = daily("11:00");
    r.setUp = bad[i];
    EXPECT_EQ(ErrorOf([&] { Register(r); }), sch::kBadTaskValue);
    EXPECT_EQ(TestHome::Slurp(home.CrontabFile()), table);
  }

  // Calls out of order.
  auto js = velmo::com::CreateObject<sch::IJobScheduler>(sch::kJobSchedulerProgId);
  EXPECT_EQ(ErrorOf([&] { js->Job(kTask); }), sch::kTaskNotFound);
  EXPECT_EQ(ErrorOf([&] { js->DeleteTask("Nothing"); }), sch::kTaskNotFound);
  int16_t kind = 1, repeat = 0;
  EXPECT_EQ(ErrorOf([&] { js->AddTaskToScheduler(kTask, "VLMRSchedule", "", "a", "", kind, repeat); }),
            sch::kTaskExists);
  EXPECT_NO_THROW(js->SaveTask());  // nothing pending: nothing happens
  EXPECT_EQ(TestHome::Slurp(home.CrontabFile()), table);

  // Delete alone removes the block and the credentials.
  js->DeleteTask(kTask);
  EXPECT_EQ(TestHome::Slurp(home.CrontabFile()), table);
  js->SaveTask();
  EXPECT_EQ(TestHome::Slurp(home.CrontabFile()), before + after);
  EXPECT_FALSE(std::filesystem::exists(home / "VelmorcastTask.cred"));
}

TEST(JobScheduler, WithoutSetUpTheTaskRunsDailyFromTheTimeOfRegistration) {
  TestHome home;
  auto stamp = [] {
    std::time_t now = std::time(nullptr);
    std::tm t{};
    ::localtime_r(&now, &t);
    char buf[256];
    std::strftime(buf, sizeof buf, "%M %H * * * |--kind 1 --at %H:%M --start %Y-%m-%d --every 1 -- ./VLMRSchedule", &t);
    std::string s = buf;
    // cron's fields carry no leading zeros
    auto m = std::to_string(t.tm_min), h = std::to_string(t.tm_hour);
    return m + " " + h + s.substr(5);
  };
  std::string early = stamp();
  Register({1, "CORP\\ops", "", nullptr});
  std::string late = stamp();
  auto block = Block(home);
  ASSERT_EQ(block.size(), 1u);
  auto expect = [&](std::string e) { return e.replace(e.find('|'), 1, Cd(home)); };
  EXPECT_TRUE(block[0] == expect(early) || block[0] == expect(late)) << block[0];
}

TEST(JobScheduler, AFolderWithABlankAQuoteAndPercentStillStartsVjobrun) {
  TestHome home;
  auto js = velmo::com::CreateObject<sch::IJobScheduler>(sch::kJobSchedulerProgId);
  const auto folder = home / "Velmo app's 100%";
  std::filesystem::create_directories(folder);
  ::setenv("VELMORCAST_HOME", folder.c_str(), 1);
  int16_t kind = 1, repeat = 0;
  js->AddTaskToScheduler(kTask, "C:\\Program Files\\Velmo\\VLMRSchedule.exe", "", "CORP\\ops", "", kind, repeat);
  js->Job(kTask)->StartTime("07:45");
  js->SaveTask();
  ::setenv("VELMORCAST_HOME", home.dir().c_str(), 1);
  auto block = Block(home);
  ASSERT_EQ(block.size(), 1u);
  EXPECT_EQ(block[0].find("45 7 * * * cd '" + home.dir().string() + "/Velmo app'\\''s 100\\%' && exec ./vjobrun"), 0u)
      << block[0];
  // What cron hands to sh (each "\%" becomes "%") reaches a vjobrun of that
  // folder with the rules as separate arguments.
  Put(folder / "vjobrun", "#!/bin/sh\npwd > got\nfor a in \"$@\"; do echo \"$a\" >> got; done\n");
  ::chmod((folder / "vjobrun").c_str(), 0755);
  std::string command = block[0].substr(std::string("45 7 * * * ").size());
  std::string unescaped;
  for (size_t i = 0; i < command.size(); ++i) {
    if (command[i] == '\\' && i + 1 < command.size() && command[i + 1] == '%') continue;
    unescaped += command[i];
  }
  std::string out, err;
  ASSERT_EQ(sch::RunProgram({"/bin/sh", "-c", unescaped}, "", out, err), 0) << err;
  const std::string got = TestHome::Slurp(folder / "got");
  EXPECT_EQ(got.substr(0, got.find('\n')), folder.string());
  EXPECT_NE(got.find("\n--task\nVelmorcastTask\n--kind\n1\n--at\n07:45\n"), std::string::npos) << got;
  EXPECT_NE(got.find("\n--\n./VLMRSchedule\n"), std::string::npos) << got;
}

TEST(JobScheduler, CredentialsAreWrittenFirstAndKeptOutOfTheCrontab) {
  TestHome home;
  const std::string secret = "Tr0ub4dor&3 %x";
  const auto cred = home / "VelmorcastTask.cred";
  auto reg = [&](const std::string& account, const std::string& password) {
    Register({1, account, password, [](sch::IJob& j) { j.StartTime("05:00"); }});
  };
  reg("CORP\\ops", secret);
  struct stat st {};
  ASSERT_EQ(::stat(cred.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(TestHome::Slurp(cred), "CORP\\ops\n" + secret + "\n");
  EXPECT_EQ(TestHome::Slurp(home.CrontabFile()).find("Tr0ub4dor"), std::string::npos);
  reg("CORP\\ops", "");  // the same account without a password keeps it
  EXPECT_EQ(TestHome::Slurp(cred), "CORP\\ops\n" + secret + "\n");
  const std::string table = TestHome::Slurp(home.CrontabFile());

  // A credentials file that cannot be written fails the registration and
  // leaves the old task.
  std::filesystem::remove(cred);
  std::filesystem::create_directories(cred / "blocked");
  EXPECT_EQ(ErrorOf([&] { reg("CORP\\ops", "new"); }), sch::kTaskNotSaved);
  EXPECT_EQ(TestHome::Slurp(home.CrontabFile()), table);
  std::filesystem::remove_all(cred);
  reg("CORP\\ops", secret);

  // A crontab that cannot be written fails it too, and the stored
  // credentials are put back.
  auto js = velmo::com::CreateObject<sch::IJobScheduler>(sch::kJobSchedulerProgId);
  int16_t kind = 1, repeat = 0;
  js->DeleteTask(kTask);
  js->AddTaskToScheduler(kTask, "VLMRSchedule", "", "CORP\\other", "changed", kind, repeat);
  ::setenv("VELMORCAST_CRONTAB", "/bin/false", 1);
  EXPECT_NE(ErrorOf([&] { js->SaveTask(); }), 0);
  ::setenv("VELMORCAST_CRONTAB", TestHome::CrontabStandIn().c_str(), 1);
  EXPECT_EQ(TestHome::Slurp(cred), "CORP\\ops\n" + secret + "\n");
  EXPECT_EQ(TestHome::Slurp(home.CrontabFile()), table);

  // Another account without a password: no file is left to use.
  reg("CORP\\other", "");
  EXPECT_FALSE(std::filesystem::exists(cred));
}
