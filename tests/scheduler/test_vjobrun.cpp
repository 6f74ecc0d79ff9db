// vjobrun with the clock given: the day rules of each kind, day offsets,
// late starts, the per-task lock and the stop at the window's end.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "CronTable.h"
#include "DisplayStandIns.h"
#include "SanitizerOptions.h"
#include "TestHome.h"

namespace sch = velmo::scheduler;
using velmo::test::TestHome;

extern char** environ;

namespace {

// Central European time with its change on the last Sunday of March.
const char* const kZone = "CET-1CEST,M3.5.0,M10.5.0/3";

std::string Vjobrun() { return (TestHome::BuildAppDir() / "vjobrun").string(); }

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> out;
  std::string w;
  for (char c : text) {
    if (c == ' ') {
      if (!w.empty()) out.push_back(w);
      w.clear();
    } else {
      w += c;
    }
  }
  if (!w.empty()) out.push_back(w);
  return out;
}

// argv: vjobrun, the rules, "--", then sh running the script.
std::vector<std::string> Command(const std::string& rules, const std::string& script) {
  std::vector<std::string> argv = {Vjobrun(), "--task", "T"};
  for (auto& w : Words(rules)) argv.push_back(w);
  argv.insert(argv.end(), {"--", "/bin/sh", "-c", script});
  return argv;
}

// Shell words that wait until the test makes "release" in `home` (at most
// about 30 s, so that a run waiting on this one still ends).
std::string UntilReleased(const TestHome& home) {
  return "i=0; while [ ! -e '" + (home / "release").string() + "' ] && [ $i -lt 600 ]; do sleep 0.05; i=$((i+1)); done";
}

pid_t Start(const std::vector<std::string>& argv) {
  std::vector<char*> a;
  for (auto& s : argv) a.push_back(const_cast<char*>(s.c_str()));
  a.push_back(nullptr);
  pid_t pid = -1;
  EXPECT_EQ(::posix_spawn(&pid, a[0], nullptr, nullptr, a.data(), environ), 0);
  return pid;
}

int Wait(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Env {
  Env(const char* clock) {
    ::setenv("TZ", kZone, 1);
    ::setenv("VELMORCAST_CLOCK", clock, 1);
    ::tzset();
  }
  ~Env() {
    ::unsetenv("TZ");
    ::unsetenv("VELMORCAST_CLOCK");
    ::tzset();
  }
};

}  // namespace

TEST(Vjobrun, DayRulesDecideForTheDayTheWindowBegan) {
  struct Case {
    const char* clock;
    const char* rules;
    bool runs;
  };
  const char* every3 = "--kind 1 --at 02:30 --start 2026-03-26 --every 3";
  const char* every3Jan = "--kind 1 --at 09:00 --start 2026-01-29 --every 3";
  const char* biweekly = "--kind 2 --at 08:00 --start 2026-03-04 --every 2 --days mon,fri";
  const char* day31 = "--kind 3 --at 23:59 --start 2026-01-01 --day 31 --months 1,4,12";
  const char* secondFriday = "--kind 4 --at 06:00 --start 2026-01-01 --week 2 --weekday fri --months 1,2,3,4,5,6,7,8,9,10,11,12";
  const char* once = "--kind 0 --at 12:00 --start 2026-12-31";
  const char* ending = "--kind 1 --at 07:00 --start 2026-01-01 --end 2026-03-01 --every 1";
  const char* pastMidnight = "--kind 1 --at 23:00 --start 2026-01-01 --every 2 --duration 300 --offset 1";
  const char* sameDay = "--kind 1 --at 23:00 --start 2026-01-01 --every 2 --duration 300";
  const char* twoDays = "--kind 2 --at 02:15 --start 2026-01-01 --every 1 --days thu --duration 2880";
  const std::vector<Case> cases = {
      // every 3 days across the clock change (29 March) and the month end
      {"2026-03-26 02:30", every3, true},  {"2026-03-27 02:30", every3, false},
      {"2026-03-29 03:30", every3, true},  {"2026-03-30 02:30", every3, false},
      {"2026-04-01 02:30", every3, true},  {"2026-04-04 02:31", every3, true},
      {"2026-03-25 02:30", every3, false},
      {"2026-01-31 09:00", every3Jan, false}, {"2026-02-01 09:00", every3Jan, true},
      {"2026-02-04 09:00", every3Jan, true},
      // every 2 weeks on Monday and Friday, weeks counted from the start's Monday
      {"2026-03-02 08:00", biweekly, false}, {"2026-03-06 08:00", biweekly, true},
      {"2026-03-09 08:00", biweekly, false}, {"2026-03-13 08:00", biweekly, false},
      {"2026-03-16 08:00", biweekly, true},  {"2026-03-20 08:00", biweekly, true},
      {"2026-03-18 08:00", biweekly, false}, {"2026-03-30 08:00", biweekly, true},
      // day 31: never in a 30-day month, never in a month not chosen
      {"2026-01-31 23:59", day31, true}, {"2026-04-30 23:59", day31, false},
      {"2026-03-31 23:59", day31, false}, {"2026-12-31 23:59", day31, true},
      // the second Friday is among days 8 to 14
      {"2026-03-13 06:00", secondFriday, true}, {"2026-03-06 06:00", secondFriday, false},
      {"2026-03-20 06:00", secondFriday, false}, {"2026-03-12 06:00", secondFriday, false},
      {"2026-05-08 06:00", secondFriday, true},
      // once, on its date only
      {"2026-12-31 12:00", once, true}, {"2026-12-30 12:00", once, false}, {"2027-12-31 12:00", once, false},
      // the end date is the last day
      {"2026-03-01 07:00", ending, true}, {"2026-03-02 07:00", ending, false},
      // a line of offset 1 belongs to the day before
      {"2026-01-02 01:00", pastMidnight, true}, {"2026-01-03 01:00", pastMidnight, false},
      {"2026-01-02 23:00", sameDay, false}, {"2026-01-03 23:00", sameDay, true},
      // a start delayed past its minute still runs
      {"2026-03-26 03:47", every3, true},
      // windows over a day: a start whose window covers now
      {"2026-01-02 20:15", twoDays, true}, {"2026-01-03 02:14", twoDays, true},
      {"2026-01-03 08:15", twoDays, false}, {"2026-01-08 02:15", twoDays, true},
      // at start-up there is no day rule
      {"2030-06-15 10:00", "--kind 6 --at 06:00", true},
  };
  TestHome home;
  const auto ran = home / "ran";
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.clock) + " " + c.rules);
    std::filesystem::remove(ran);
    Env env(c.clock);
    EXPECT_EQ(Wait(Start(Command(c.rules, "echo ran > '" + ran.string() + "'; exit 3"))), c.runs ? 3 : 0);
    EXPECT_EQ(std::filesystem::exists(ran), c.runs);
  }
}

TEST(Vjobrun, WithoutADisplayThatAnswersTheProgramsWindowsDrawOffScreen) {
  using velmo::test::DisplayStandIn;
  using Answer = DisplayStandIn::Answer;
  TestHome home;
  velmo::test::DisplayVariables restore;
  const auto out = home / "platform";
  // Stand-ins: X servers that stay silent or grant the cookie of
  // XAUTHORITY, Wayland sockets by full path that answer or stay silent,
  // and Qt's plugins for both.
  const std::string cookie = "0123456789abcdef";
  const DisplayStandIn silentX(Answer::Silent, false);
  const DisplayStandIn granting(Answer::XSetUp, false, cookie);
  const DisplayStandIn compositor(home / "wayland-0", Answer::WaylandRoundTrip);
  const DisplayStandIn silentCompositor(home / "wayland-1", Answer::Silent);
  velmo::test::WriteXauthority(home / "Xauthority", granting.number, cookie);
  std::filesystem::create_directories(home / "platforms");
  for (const char* plugin : {"libqxcb.so", "libqwayland-generic.so"}) std::ofstream(home / "platforms" / plugin);
  ::setenv("XAUTHORITY", (home / "Xauthority").c_str(), 1);
  ::setenv("QT_QPA_PLATFORM_PLUGIN_PATH", (home / "platforms").c_str(), 1);
  const std::string gone = ":" + std::to_string(DisplayStandIn(Answer::Silent, false).number);
  const std::string screen = granting.name + ".0";
  struct Case {
    const char* display;
    const char* wayland;
    const char* platform;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {nullptr, nullptr, nullptr, "offscreen"},
      {"", nullptr, nullptr, "offscreen"},
      {"", "", nullptr, "offscreen"},
      {gone.c_str(), nullptr, nullptr, "offscreen"},  // names no display that answers
      {nullptr, "wayland-94", nullptr, "offscreen"},
      {silentX.name.c_str(), nullptr, nullptr, "offscreen"},  // accepts, never answers
      {nullptr, silentCompositor.name.c_str(), nullptr, "offscreen"},
      {granting.name.c_str(), nullptr, nullptr, "xcb"},
      {screen.c_str(), "", nullptr, "xcb"},
      {"", compositor.name.c_str(), nullptr, "wayland"},
      {nullptr, nullptr, "xcb", "xcb"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.display ? c.display : "-") + " " + (c.wayland ? c.wayland : "-") + " " +
                 (c.platform ? c.platform : "-"));
    Env env("2026-01-01 02:00");
    velmo::test::DisplayVariables::Set("WAYLAND_DISPLAY", c.wayland);
    velmo::test::DisplayVariables::Set("DISPLAY", c.display);
    velmo::test::DisplayVariables::Set("QT_QPA_PLATFORM", c.platform);
    EXPECT_EQ(Wait(Start(Command("--kind 6 --at 02:00", "echo \"$QT_QPA_PLATFORM\" > '" + out.string() + "'"))), 0);
    EXPECT_EQ(TestHome::Slurp(out), std::string(c.expected) + "\n");
  }
}

TEST(Vjobrun, BadRulesAreRefusedAndNothingRuns) {
  TestHome home;
  const auto ran = home / "ran";
  for (const char* rules : {"--kind 9 --at 02:00", "--kind 1 --at 24:00", "--kind 1 --at 02:00 --start 2026-13-01",
                            "--kind 2 --at 02:00 --days mon,xyz", "--kind 1 --at 02:00 --every 0", "--kind 1 --at"}) {
    SCOPED_TRACE(rules);
    Env env("2026-01-01 02:00");
    EXPECT_EQ(Wait(Start(Command(rules, "echo ran > '" + ran.string() + "'"))), 2);
    EXPECT_FALSE(std::filesystem::exists(ran));
  }
  std::string out, err;
  EXPECT_EQ(sch::RunProgram({Vjobrun(), "--task", "T", "--kind", "6"}, "", out, err), 2);
  EXPECT_NE(err.find("no program"), std::string::npos);
}

TEST(Vjobrun, ASecondStartWhileTheFirstRunsExitsQuietly) {
  TestHome home;
  Env env("2026-01-01 02:00");
  const auto log = home / "log";
  // The first run goes on until the test lets it end.
  const std::string script = "echo start >> '" + log.string() + "'; " + UntilReleased(home) + "; echo end >> '" +
                             log.string() + "'";
  pid_t first = Start(Command("--kind 1 --at 02:00", script));
  while (TestHome::Slurp(log).empty()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(Wait(Start(Command("--kind 1 --at 02:00", script))), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, velmo::test::HangBound(std::chrono::seconds(10)));
  std::ofstream(home / "release");
  EXPECT_EQ(Wait(first), 0);
  EXPECT_EQ(TestHome::Slurp(log), "start\nend\n");
  // Once it is over, the next start runs.
  EXPECT_EQ(Wait(Start(Command("--kind 1 --at 02:00", "echo again >> '" + log.string() + "'"))), 0);
  EXPECT_EQ(TestHome::Slurp(log), "start\nend\nagain\n");
  // Another program's skipped start writes no schedule log.
  EXPECT_FALSE(std::filesystem::exists(home / "Schedule"));
}

// The scheduled collector's start skipped for a run still going leaves the
// trace its own second instance would: the run header, then the entry.
TEST(Vjobrun, ASkippedStartOfTheScheduledCollectorIsLogged) {
  TestHome home;
  Env env("2026-01-01 02:00");
  const auto log = home / "log";
  const auto program = home / "VLMRSchedule";
  {
    std::ofstream(program) << "#!/bin/sh\necho start >> '" << log.string() << "'; " << UntilReleased(home) << "\n";
  }
  std::filesystem::permissions(program, std::filesystem::perms::owner_all);
  const std::vector<std::string> argv = {Vjobrun(), "--task", "T", "--kind", "1", "--at", "02:00", "--", program.string()};
  pid_t first = Start(argv);
  while (TestHome::Slurp(log).empty()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(Wait(Start(argv)), 0);
  std::ofstream(home / "release");
  EXPECT_EQ(Wait(first), 0);
  EXPECT_EQ(TestHome::Slurp(log), "start\n");
  std::vector<std::string> lines;
  {
    std::ifstream in(home / "Schedule" / "VelmorcastSchedLog.log", std::ios::binary);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
  }
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[0], "\r");
  EXPECT_EQ(lines[1], "Velmorine for Exchange Server\r");
  EXPECT_EQ(lines[3], "Velmorcast Schedule Error Log.\r");
  EXPECT_EQ(lines[4].rfind("Date   : ", 0), 0u);
  EXPECT_EQ(lines[6], "Date  Function Name   Description     Error Number    Error Description\r");
  const auto at = lines[8].find("     ");
  ASSERT_NE(at, std::string::npos);
  EXPECT_GT(at, 0u);
  EXPECT_EQ(lines[8].substr(at), "     Schedule_Main... : Application is already running :\r");
}

// A folder as the task's lock file is locked all the same; a link to
// nothing is never followed: the start runs nothing and says why.
TEST(Vjobrun, ATaskLockFileThatIsAFolderOrALinkToNothing) {
  namespace fs = std::filesystem;
  TestHome home;
  Env env("2026-01-01 02:00");
  const auto lock = home / "T.lock", ran = home / "ran", program = home / "VLMRSchedule";
  std::ofstream(program) << "#!/bin/sh\necho ran >> '" << ran.string() << "'\n";
  fs::permissions(program, fs::perms::owner_all);
  const std::vector<std::string> argv = {Vjobrun(), "--task", "T", "--kind", "1", "--at", "02:00", "--", program.string()};
  fs::create_directory(lock);
  EXPECT_EQ(Wait(Start(argv)), 0);
  fs::remove(lock);
  fs::create_symlink(home / "gone", lock);
  EXPECT_EQ(Wait(Start(argv)), 1);
  EXPECT_EQ(TestHome::Slurp(ran), "ran\n");
  EXPECT_FALSE(fs::exists(home / "gone"));
  EXPECT_NE(TestHome::Slurp(home / "Schedule" / "VelmorcastSchedLog.log")
                .find("     Schedule_Main... : Lock File Failure : " + lock.string() + " : No such file or directory\r\n"),
            std::string::npos);
}

TEST(Vjobrun, TheStopAtTheWindowsEndEndsTheWholeRun) {
  TestHome home;
  const auto log = home / "log";
  struct Case {
    const char* name;
    const char* script;
    int seconds;  // about how long until the run ends
    int status;
  };
  // The window 02:00 + 1 minute ends 2 seconds after the clock's start.
  const std::vector<Case> cases = {
      {"a sleeping program and its child get SIGTERM", "sleep 100; echo not stopped", 2, 128 + SIGTERM},
      {"ones that ignore it get SIGKILL 30 seconds later", "trap '' TERM; (sleep 100) & sleep 100", 32,
       128 + SIGKILL},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    {
      Env env("2026-01-01 02:00:58");
      auto t0 = std::chrono::steady_clock::now();
      int status = Wait(Start(Command("--kind 1 --at 02:00 --duration 1 --stop", c.script)));
      auto took = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - t0).count();
      EXPECT_EQ(status, c.status);
      EXPECT_GE(took, c.seconds - 1);
      EXPECT_LE(took, c.seconds + 3);
    }
    // Nothing of the run is left to hold the task's lock: the next start runs.
    std::filesystem::remove(log);
    Env env("2026-01-02 02:00:00");
    EXPECT_EQ(Wait(Start(Command("--kind 1 --at 02:00 --duration 1 --stop", "echo ran > '" + log.string() + "'"))), 0);
    EXPECT_TRUE(std::filesystem::exists(log));
  }
  // A window already over: nothing runs.
  std::filesystem::remove(log);
  Env env("2026-01-01 02:01:30");
  EXPECT_EQ(Wait(Start(Command("--kind 1 --at 02:00 --duration 1 --stop", "echo ran > '" + log.string() + "'"))), 0);
  EXPECT_FALSE(std::filesystem::exists(log));
}
