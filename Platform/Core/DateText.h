#pragma once
// Date and time texts in the forms every deliverable writes, in local time,
// whatever the machine's locale.
#include <chrono>
#include <ctime>
#include <string>

namespace velmo {

using Clock = std::chrono::system_clock;

// General date "M/d/yyyy h:mm:ss AP", for example "3/7/2024 4:05:09 PM".
std::string GeneralDate(Clock::time_point t);
std::string GeneralDate(const std::tm& local);
// Short date "M/d/yyyy".
std::string ShortDate(Clock::time_point t);
std::string ShortDate(const std::tm& local);
// Time "h:mm:ss AP".
std::string TimeText(Clock::time_point t);
std::string TimeText(const std::tm& local);

// The current date and time as a general date.
std::string NowText();

// Local broken-down time of a point in time.
std::tm LocalTime(Clock::time_point t);

}  // namespace velmo
