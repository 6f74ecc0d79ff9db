#include "DateText.h"

#include <cstdio>

namespace velmo {

std::tm LocalTime(Clock::time_point t) {
  std::time_t tt = Clock::to_time_t(t);
  std::tm out{};
  localtime_r(&tt, &out);
  return out;
}

std::string ShortDate(const std::tm& l) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d/%d/%d", l.tm_mon + 1, l.tm_mday, l.tm_year + 1900);
  return buf;
}

std::string TimeText(const std::tm& l) {
  int h = l.tm_hour % 12;
  if (h == 0) h = 12;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d:%02d:%02d %s", h, l.tm_min, l.tm_sec, l.tm_hour < 12 ? "AM" : "PM");
  return buf;
}

std::string GeneralDate(const std::tm& l) { return ShortDate(l) + " " + TimeText(l); }

std::string GeneralDate(Clock::time_point t) { return GeneralDate(LocalTime(t)); }
std::string ShortDate(Clock::time_point t) { return ShortDate(LocalTime(t)); }
std::string TimeText(Clock::time_point t) { return TimeText(LocalTime(t)); }
std::string NowText() { return GeneralDate(Clock::now()); }

}  // namespace velmo
