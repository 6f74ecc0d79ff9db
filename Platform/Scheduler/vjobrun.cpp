// vjobrun RULES -- PROGRAM [ARGUMENTS]: what every crontab line of a
// scheduled task starts. Cron has already decided the minute and hour; this
// checks the task's day rules for the day the line's window began (today
// less the line's day offset; for windows longer than a day, any start whose
// window covers now), takes the task's lock (exiting quietly while a
// previous run is alive), runs the program as its child and, when the task
// stops at the end of its window, gives it SIGTERM then and SIGKILL 30
// seconds later. A start that cron delays past its minute still runs.
// Without a display whose set-up answers (as cron starts it) the program's
// windows draw off screen. A start skipped for a run still going is written to the
// schedule log when the program is the scheduled collector.
//
// VELMORCAST_CLOCK ("YYYY-MM-DD HH:MM[:SS]", local time) sets the clock for
// tests; it then runs on from that moment at the real pace.
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "AppFolder.h"
#include "DisplayProbe.h"
#include "InstanceLock.h"
#include "ScheduleLog.h"
#include "TaskRules.h"

extern char** environ;

namespace sch = velmo::scheduler;

namespace {

constexpr int kKillGraceSeconds = 30;

std::time_t g_clockBase = 0;   // the clock given, or 0
std::time_t g_realBase = 0;    // real time when it was read

std::time_t Now() {
  std::time_t real = std::time(nullptr);
  return g_clockBase ? g_clockBase + (real - g_realBase) : real;
}

bool ReadClock(const char* text) {
  std::tm t{};
  int y, mo, d, h, mi, s = 0;
  int n = std::sscanf(text, "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s);
  if (n < 5) return false;
  t.tm_year = y - 1900;
  t.tm_mon = mo - 1;
  t.tm_mday = d;
  t.tm_hour = h;
  t.tm_min = mi;
  t.tm_sec = s;
  t.tm_isdst = -1;
  g_clockBase = std::mktime(&t);
  g_realBase = std::time(nullptr);
  return g_clockBase != -1;
}

// The moment a day's minute falls on, in local time (a minute skipped by a
// clock change falls just after it).
std::time_t LocalMoment(sch::DayNumber day, int minute) {
  int y, m, d;
  sch::CivilOf(day, y, m, d);
  std::tm t{};
  t.tm_year = y - 1900;
  t.tm_mon = m - 1;
  t.tm_mday = d;
  t.tm_hour = minute / 60;
  t.tm_min = minute % 60;
  t.tm_isdst = -1;
  return std::mktime(&t);
}

sch::DayNumber Today(std::time_t now) {
  std::tm t{};
  ::localtime_r(&now, &t);
  return sch::DayOf(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
}

// Whether the program is due now, and the end of its window when it is to
// be stopped there.
bool Due(const sch::TaskRules& r, std::time_t now, std::optional<std::time_t>& stopAt) {
  stopAt.reset();
  if (r.kind == sch::kBoot) return true;
  const sch::DayNumber today = Today(now);
  if (r.duration <= 1440) {
    const sch::DayNumber day = today - r.offset;
    if (!sch::RunsOnDay(r, day)) return false;
    if (r.stop && r.duration > 0) {
      stopAt = LocalMoment(day, r.startMinute) + r.duration * 60;
      if (now >= *stopAt) return false;  // the window is already over
    }
    return true;
  }
  // A window longer than a day: the latest start whose window covers now.
  for (long back = 0; back <= r.duration / 1440 + 1; ++back) {
    const sch::DayNumber day = today - back;
    const std::time_t start = LocalMoment(day, r.startMinute);
    const std::time_t end = start + r.duration * 60;
    if (start <= now && now < end && sch::RunsOnDay(r, day)) {
      if (r.stop) stopAt = end;
      return true;
    }
  }
  return false;
}

int Usage(const char* why) {
  std::fprintf(stderr, "vjobrun: %s\nusage: vjobrun --task NAME --kind K --at HH:MM [rules] -- PROGRAM [ARGS]\n", why);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> ruleArgs;
  int i = 1;
  for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) ruleArgs.push_back(argv[i]);
  if (i + 1 >= argc) return Usage("no program given");
  char** program = argv + i + 1;

  sch::TaskRules rules;
  std::string error;
  if (!sch::ParseRuleArguments(ruleArgs, rules, &error)) return Usage(error.c_str());
  if (const char* c = std::getenv("VELMORCAST_CLOCK"); c && *c && !ReadClock(c))
    return Usage("VELMORCAST_CLOCK is not a time");

  std::optional<std::time_t> stopAt;
  if (!Due(rules, Now(), stopAt)) return 0;

  // The lock lives as long as the run: the child inherits it, so it holds
  // even when this program is gone. A start that can take no lock at all
  // ends as a skipped one does, saying why: it could run beside another.
  const auto lockFile = velmo::AppFolder() / (rules.task + ".lock");
  const std::string name = program[0];
  const bool scheduledCollector = name.substr(name.find_last_of('/') + 1) == "VLMRSchedule";
  velmo::FileLock lock;
  std::error_code lockError;
  switch (lock.Try(lockFile, velmo::FileLock::Mode::Exclusive, lockError)) {
    case velmo::FileLock::Outcome::Held:
      // The previous run is still going. The scheduled collector's skipped
      // start leaves the trace its own second instance would.
      if (scheduledCollector) sch::LogAlreadyRunning();
      return 0;
    case velmo::FileLock::Outcome::Failed:
      std::fprintf(stderr, "vjobrun: cannot lock %s: %s\n", lockFile.c_str(), lockError.message().c_str());
      if (scheduledCollector) sch::LogLockFileFailure(lockFile.string(), lockError.message());
      return 1;
    case velmo::FileLock::Outcome::Taken:
      lock.PassToChildren();
      break;
  }

  // Cron starts jobs without a display, and a display named may be empty,
  // gone, stopped or refusing this user; the program's windows then draw
  // off screen instead of failing to start, and otherwise use the display
  // whose set-up answered. The choice goes into the program's environment
  // only, never this one's: the host-name lookup of a display that did not
  // answer in time may still run on a thread of its own, and changing the
  // environment beside it is a race.
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  std::string chosen;
  if (!(platform && *platform))
    chosen = "QT_QPA_PLATFORM=" + velmo::ChooseDisplay(velmo::QtPlatformPluginFolders()).platform;
  std::vector<char*> childEnvironment;
  for (char** e = environ; *e; ++e)
    if (chosen.empty() || std::strncmp(*e, "QT_QPA_PLATFORM=", 16) != 0) childEnvironment.push_back(*e);
  if (!chosen.empty()) childEnvironment.push_back(chosen.data());
  childEnvironment.push_back(nullptr);

  ::prctl(PR_SET_CHILD_SUBREAPER, 1);

  sigset_t wanted, old;
  sigemptyset(&wanted);
  for (int s : {SIGCHLD, SIGTERM, SIGINT, SIGHUP}) sigaddset(&wanted, s);
  ::sigprocmask(SIG_BLOCK, &wanted, &old);

  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setsigmask(&attr, &old);
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
  pid_t child = -1;
  int rc = ::posix_spawnp(&child, program[0], nullptr, &attr, program, childEnvironment.data());
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    std::fprintf(stderr, "vjobrun: cannot start %s: %s\n", program[0], std::strerror(rc));
    return 127;
  }

  // Waits for the child, for the signals to pass on, and for the stop and
  // kill moments (0: none). Once stopped, the run is over only when every
  // process of its group is gone: what the program started and left behind
  // comes back to this process (a subreaper) and is reaped here.
  std::time_t stopMoment = stopAt.value_or(0), killMoment = 0;
  std::optional<int> childStatus;
  for (;;) {
    int status = 0;
    pid_t done;
    while ((done = ::waitpid(-1, &status, WNOHANG)) > 0)
      if (done == child) childStatus = status;
    if (childStatus && (!killMoment || ::kill(-child, 0) != 0)) {
      if (WIFEXITED(*childStatus)) return WEXITSTATUS(*childStatus);
      return 128 + (WIFSIGNALED(*childStatus) ? WTERMSIG(*childStatus) : 0);
    }
    const std::time_t now = Now();
    if (stopMoment && now >= stopMoment) {
      ::kill(-child, SIGTERM);
      stopMoment = 0;
      killMoment = now + kKillGraceSeconds;
    }
    if (killMoment && now >= killMoment) {
      ::kill(-child, SIGKILL);
      killMoment = 1;  // still stopped, nothing more to send
    }
    std::time_t next = 3600;
    if (stopMoment) next = std::min<std::time_t>(next, stopMoment - now);
    if (killMoment > 1) next = std::min<std::time_t>(next, killMoment - now);
    timespec wait{std::max<std::time_t>(next, 0), 0};
    if (next <= 0) wait = {0, 50 * 1000 * 1000};
    // Survivors of a stopped run may not signal their end; look again soon.
    if (childStatus) wait = {0, 100 * 1000 * 1000};
    siginfo_t info{};
    int sig = ::sigtimedwait(&wanted, &info, &wait);
    if (sig == SIGTERM || sig == SIGINT || sig == SIGHUP) ::kill(-child, sig);
  }
}
