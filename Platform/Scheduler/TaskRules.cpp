#include "TaskRules.h"

#include "TextParts.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>

namespace velmo::scheduler {

namespace {

const char* const kDayNames[] = {"MONDAY", "TUESDAY", "WEDNESDAY", "THURSDAY", "FRIDAY", "SATURDAY", "SUNDAY"};
const char* const kDayShort[] = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};
const char* const kMonthNames[] = {"JANUARY", "FEBRUARY", "MARCH",     "APRIL",   "MAY",      "JUNE",
                                   "JULY",    "AUGUST",   "SEPTEMBER", "OCTOBER", "NOVEMBER", "DECEMBER"};

std::vector<std::string> SplitOn(const std::string& text, char sep) {
  std::vector<std::string> out;
  std::string piece;
  for (char c : text) {
    if (c == sep) {
      out.push_back(piece);
      piece.clear();
    } else {
      piece += c;
    }
  }
  out.push_back(piece);
  return out;
}

std::optional<long> Number(const std::string& s) {
  if (s.empty() || s.size() > 9) return std::nullopt;
  for (char c : s)
    if (c < '0' || c > '9') return std::nullopt;
  return std::atol(s.c_str());
}

std::optional<unsigned> NameList(const std::string& text, const char* const* names, int count) {
  unsigned bits = 0;
  for (const auto& piece : SplitOn(text, '|')) {
    if (piece.empty()) continue;
    int i = 0;
    while (i < count && text::UpperAscii(piece) != names[i]) ++i;
    if (i == count) return std::nullopt;
    bits |= 1u << i;
  }
  return bits;
}

std::string IsoDate(DayNumber n) {
  int y, m, d;
  CivilOf(n, y, m, d);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
  return buf;
}

std::optional<DayNumber> ParseIsoDate(const std::string& s) {
  auto p = SplitOn(s, '-');
  if (p.size() != 3) return std::nullopt;
  auto y = Number(p[0]), m = Number(p[1]), d = Number(p[2]);
  if (!y || !m || !d || *m < 1 || *m > 12 || *d < 1 || *d > 31) return std::nullopt;
  return DayOf(static_cast<int>(*y), static_cast<int>(*m), static_cast<int>(*d));
}

std::string BitList(unsigned bits, int count, bool names) {
  std::string out;
  for (int i = 0; i < count; ++i) {
    if (!(bits & (1u << i))) continue;
    if (!out.empty()) out += ",";
    out += names ? kDayShort[i] : std::to_string(i + 1);
  }
  return out;
}

std::optional<unsigned> ParseBitList(const std::string& s, bool names, int count) {
  unsigned bits = 0;
  for (const auto& piece : SplitOn(s, ',')) {
    int i = -1;
    if (names) {
      for (int k = 0; k < count; ++k)
        if (piece == kDayShort[k]) i = k;
    } else if (auto n = Number(piece); n && *n >= 1 && *n <= count) {
      i = static_cast<int>(*n) - 1;
    }
    if (i < 0) return std::nullopt;
    bits |= 1u << i;
  }
  return bits;
}

std::string Join(const std::vector<int>& v) {
  std::string out;
  for (size_t i = 0; i < v.size(); ++i) out += (i ? "," : "") + std::to_string(v[i]);
  return out;
}

}  // namespace

// Civil-date arithmetic after H. Hinnant's days_from_civil.
DayNumber DayOf(int y, int m, int d) {
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long>(doe) - 719468;
}

void CivilOf(DayNumber z, int& year, int& month, int& day) {
  z += 719468;
  const long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long y = static_cast<long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(y + (month <= 2));
}

int WeekdayOf(DayNumber n) { return static_cast<int>(((n % 7) + 7 + 3) % 7); }

std::optional<DayNumber> ParseTaskDate(const std::string& text) {
  auto p = SplitOn(text, '/');
  if (p.size() != 3 || p[0].size() > 2 || p[1].size() > 2 || p[2].size() != 4) return std::nullopt;
  auto m = Number(p[0]), d = Number(p[1]), y = Number(p[2]);
  if (!m || !d || !y || *m < 1 || *m > 12 || *d < 1) return std::nullopt;
  DayNumber n = DayOf(static_cast<int>(*y), static_cast<int>(*m), static_cast<int>(*d));
  int cy, cm, cd;
  CivilOf(n, cy, cm, cd);
  if (cm != *m || cd != *d) return std::nullopt;  // 02/30 and the like
  return n;
}

std::optional<int> ParseTaskTime(const std::string& text) {
  auto p = SplitOn(text, ':');
  if (p.size() != 2 || p[0].size() > 2 || p[1].size() > 2) return std::nullopt;
  auto h = Number(p[0]), m = Number(p[1]);
  if (!h || !m || *h > 23 || *m > 59) return std::nullopt;
  return static_cast<int>(*h * 60 + *m);
}

std::optional<unsigned> ParseDayList(const std::string& text) { return NameList(text, kDayNames, 7); }
std::optional<unsigned> ParseMonthList(const std::string& text) { return NameList(text, kMonthNames, 12); }

bool RunsOnDay(const TaskRules& r, DayNumber day) {
  if (r.kind == kBoot) return true;
  if (r.start && day < *r.start) return false;
  if (r.end && day > *r.end) return false;
  int y, m, d;
  CivilOf(day, y, m, d);
  const bool month = r.months & (1u << (m - 1));
  switch (r.kind) {
    case kOnce:
      return r.start && day == *r.start;
    case kDaily: {
      const DayNumber from = r.start.value_or(day);
      return r.every > 0 && (day - from) % r.every == 0;
    }
    case kWeekly: {
      if (r.every <= 0 || !(r.days & (1u << WeekdayOf(day)))) return false;
      const DayNumber from = r.start.value_or(day);
      const DayNumber weeks = ((day - WeekdayOf(day)) - (from - WeekdayOf(from))) / 7;
      return weeks % r.every == 0;
    }
    case kMonthlyDate:
      return month && d == r.dayOfMonth;
    case kMonthlyDow:
      return month && WeekdayOf(day) == r.weekday && (d - 1) / 7 == r.week;
    default:
      return false;
  }
}

std::vector<std::string> RuleArguments(const TaskRules& r) {
  char at[16];
  std::snprintf(at, sizeof at, "%02d:%02d", r.startMinute / 60, r.startMinute % 60);
  std::vector<std::string> a = {"--task", r.task, "--kind", std::to_string(r.kind), "--at", at};
  if (r.start) a.insert(a.end(), {"--start", IsoDate(*r.start)});
  if (r.end) a.insert(a.end(), {"--end", IsoDate(*r.end)});
  switch (r.kind) {
    case kDaily:
      a.insert(a.end(), {"--every", std::to_string(r.every)});
      break;
    case kWeekly:
      a.insert(a.end(), {"--every", std::to_string(r.every), "--days", BitList(r.days, 7, true)});
      break;
    case kMonthlyDate:
      a.insert(a.end(), {"--day", std::to_string(r.dayOfMonth), "--months", BitList(r.months, 12, false)});
      break;
    case kMonthlyDow:
      a.insert(a.end(), {"--week", std::to_string(r.week + 1), "--weekday", kDayShort[r.weekday % 7], "--months",
                         BitList(r.months, 12, false)});
      break;
    default:
      break;
  }
  if (r.duration > 0) a.insert(a.end(), {"--duration", std::to_string(r.duration)});
  if (r.stop) a.push_back("--stop");
  if (r.offset) a.insert(a.end(), {"--offset", std::to_string(r.offset)});
  return a;
}

bool ParseRuleArguments(const std::vector<std::string>& args, TaskRules& out, std::string* error) {
  TaskRules r;
  r.task.clear();
  auto fail = [&](const std::string& what) {
    if (error) *error = what;
    return false;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& k = args[i];
    if (k == "--stop") {
      r.stop = true;
      continue;
    }
    if (i + 1 >= args.size()) return fail("missing value after " + k);
    const std::string& v = args[++i];
    auto num = Number(v);
    if (k == "--task") {
      r.task = v;
    } else if (k == "--kind" && num && *num <= 7) {
      r.kind = static_cast<int>(*num);
    } else if (k == "--at") {
      auto t = ParseTaskTime(v);
      if (!t) return fail("bad time " + v);
      r.startMinute = *t;
    } else if (k == "--start" || k == "--end") {
      auto d = ParseIsoDate(v);
      if (!d) return fail("bad date " + v);
      (k == "--start" ? r.start : r.end) = d;
    } else if (k == "--every" && num && *num > 0) {
      r.every = static_cast<int>(*num);
    } else if (k == "--days" || k == "--months") {
      auto bits = ParseBitList(v, k == "--days", k == "--days" ? 7 : 12);
      if (!bits) return fail("bad list " + v);
      (k == "--days" ? r.days : r.months) = *bits;
    } else if (k == "--day" && num && *num >= 1 && *num <= 31) {
      r.dayOfMonth = static_cast<int>(*num);
    } else if (k == "--week" && num && *num >= 1 && *num <= 4) {
      r.week = static_cast<int>(*num) - 1;
    } else if (k == "--weekday") {
      auto bits = ParseBitList(v, true, 7);
      if (!bits || std::count(v.begin(), v.end(), ',')) return fail("bad weekday " + v);
      int i = 0;
      while (!(*bits & (1u << i))) ++i;
      r.weekday = i;
    } else if (k == "--duration" && num) {
      r.duration = *num;
    } else if (k == "--offset" && num && *num <= 1) {
      r.offset = static_cast<int>(*num);
    } else {
      return fail("bad argument " + k + " " + v);
    }
  }
  if (r.task.empty()) return fail("no task name");
  out = r;
  return true;
}

std::vector<CronTimes> MapCronTimes(int startMinute, long interval, long duration) {
  // offset -> hour -> minutes
  std::map<int, std::map<int, std::set<int>>> times;
  if (interval <= 0 || duration <= 0) {
    times[0][startMinute / 60].insert(startMinute % 60);
  } else {
    // Past 1440 steps the minutes of the day repeat, so longer durations
    // need not be walked to their end.
    const long limit = std::min(duration, 1440L * interval);
    const bool multiDay = duration > 1440;
    for (long t = 0; t < limit; t += interval) {
      const long at = startMinute + t;
      const int offset = multiDay ? 0 : static_cast<int>(at / 1440);
      const int minuteOfDay = static_cast<int>(at % 1440);
      times[offset][minuteOfDay / 60].insert(minuteOfDay % 60);
    }
  }
  std::vector<CronTimes> out;
  for (const auto& [offset, hours] : times) {
    // Hours with the same minute set share a line, in order of their first hour.
    std::vector<std::pair<std::set<int>, std::vector<int>>> groups;
    for (const auto& [hour, minutes] : hours) {
      auto g = std::find_if(groups.begin(), groups.end(), [&](auto& p) { return p.first == minutes; });
      if (g == groups.end()) groups.push_back({minutes, {hour}});
      else g->second.push_back(hour);
    }
    for (const auto& [minutes, hs] : groups)
      out.push_back({Join(std::vector<int>(minutes.begin(), minutes.end())), Join(hs), offset});
  }
  return out;
}

std::string ShellQuote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}

}  // namespace velmo::scheduler
