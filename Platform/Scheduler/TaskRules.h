#pragma once
// How a scheduled task becomes crontab lines, and the day rules vjobrun
// checks when cron starts one of them.
//
// Cron decides the minute and hour: a line holds the start time or, with
// repetition, every start + k * interval (k * interval < duration), modulo a
// day, hours with equal minute sets sharing one line; the day fields are
// always "* * *". Each line carries the day offset of its times (1 for times
// past midnight of a window that began the day before), and vjobrun checks
// the task's day rules for the day the window began.
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace velmo::scheduler {

// Trigger kinds, numbered as the settings file stores them.
enum TriggerKind : int {
  kOnce = 0,
  kDaily = 1,
  kWeekly = 2,
  kMonthlyDate = 3,
  kMonthlyDow = 4,
  kIdle = 5,
  kBoot = 6,
  kLogon = 7
};

// A civil date as a count of days since 1970-01-01.
using DayNumber = long;
DayNumber DayOf(int year, int month, int day);
void CivilOf(DayNumber n, int& year, int& month, int& day);
int WeekdayOf(DayNumber n);  // 0 Monday .. 6 Sunday

// "mm/dd/yyyy" (one-digit parts accepted); nullopt when it is no date.
std::optional<DayNumber> ParseTaskDate(const std::string& text);
// "h:mm" or "hh:mm" (one-digit minutes as typed accepted), hours 0-23;
// minute of the day, nullopt when no time.
std::optional<int> ParseTaskTime(const std::string& text);
// "MONDAY|FRIDAY", "|TUESDAY" (bit 0 Monday); nullopt on an unknown name.
std::optional<unsigned> ParseDayList(const std::string& text);
// "JANUARY|MARCH" (bit 0 January); nullopt on an unknown name.
std::optional<unsigned> ParseMonthList(const std::string& text);

struct TaskRules {
  std::string task;
  int kind = kDaily;
  int startMinute = 0;             // minute of the day the window begins
  std::optional<DayNumber> start;  // first day (the date of a one-time task)
  std::optional<DayNumber> end;    // last day
  int every = 1;                   // days (daily) or weeks (weekly)
  unsigned days = 0;               // weekly: bit 0 Monday
  int dayOfMonth = 0;              // monthly by date
  int week = 0;                    // monthly by weekday: 0 first .. 3 fourth
  int weekday = 0;                 // monthly by weekday: 0 Monday
  unsigned months = 0;             // monthly: bit 0 January
  long duration = 0;               // minutes of the repetition window, 0 none
  bool stop = false;               // end the run at the window's end
  int offset = 0;                  // days between the window's start and the line's times

  bool operator==(const TaskRules&) const = default;
};

// True when a window of the task begins on that day.
bool RunsOnDay(const TaskRules& rules, DayNumber day);

// The arguments vjobrun takes for the rules (task name first).
std::vector<std::string> RuleArguments(const TaskRules& rules);
// Reads them back; false with the reason on a bad argument.
bool ParseRuleArguments(const std::vector<std::string>& args, TaskRules& rules, std::string* error = nullptr);

// The times of one crontab line: minute and hour fields and the day offset.
struct CronTimes {
  std::string minutes;
  std::string hours;
  int offset = 0;
  bool operator==(const CronTimes&) const = default;
};
// The lines for a start minute and, when both are above 0, a repetition.
// Durations over a day give offset 0 throughout (vjobrun then looks for the
// window that covers the moment it runs).
std::vector<CronTimes> MapCronTimes(int startMinute, long interval, long duration);

// Single-quotes a text for sh.
std::string ShellQuote(const std::string& text);

}  // namespace velmo::scheduler
