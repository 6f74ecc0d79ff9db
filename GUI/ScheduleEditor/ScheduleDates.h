#pragma once
// A date picker's date in the program's date forms.
#include <QDate>

#include <ctime>
#include <string>

#include "DateText.h"
#include "SchedConfig.h"

inline std::tm PickerDay(const QDate& date) {
  std::tm t{};
  t.tm_year = date.year() - 1900;
  t.tm_mon = date.month() - 1;
  t.tm_mday = date.day();
  t.tm_hour = 12;
  t.tm_isdst = -1;
  return t;
}

// "M/d/yyyy", as summaries show dates.
inline std::string PickerShortDate(const QDate& date) { return velmo::ShortDate(PickerDay(date)); }
// "mm/dd/yyyy", as the settings file and the job scheduler take dates.
inline std::string PickerFileDate(const QDate& date) { return velmo::SchedDateText(PickerDay(date)); }
