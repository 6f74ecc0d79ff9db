#pragma once
// Registration of the one scheduled task "VelmorcastTask" through the
// job-scheduler component, and the task line of the settings file that
// records it.
#include <optional>
#include <string>
#include <vector>

#include "SchedConfig.h"

class QString;
class frmScheduleInput;

inline constexpr const char* kTaskName = "VelmorcastTask";
inline constexpr const char* kJobSchedulerProgId = "KORVSchedule.JobScheduler";

// The whole number a text holds (a decimal part dropped); false when it
// holds none.
bool WholeNumber(const QString& text, long& value);

// "JANUARY|FEBRUARY|...|DECEMBER".
std::string AllMonths();

// The task as the window and its advanced dialog describe it (iMode 1), or
// the default daily task of the logged-on user (iMode 0, window may be
// null). `when` is the moment of writing (clock time and today's date).
velmo::ScheduleTaskEntry TaskFromWindow(int iMode, frmScheduleInput* window, const std::tm& when);

// Whether the settings file can be rewritten: absent from a folder that
// can be written (the folder is made when missing, as the writers do), or
// a regular file that can be read and written. False otherwise, with the
// file and the reason.
bool SchedConfigCanBeRewritten(std::string* reason);

// Registers the task (iMode 1 from the window, 0 the default task) and
// rewrites the settings file's header and task line, keeping its server
// lines. A settings file that cannot be rewritten is refused before
// anything is registered. A registration failure is logged and shown, and
// leaves the file as it was; a write that fails after the registration is
// logged and shown as such. False on any of these.
bool SaveScheduledTask(int iMode, frmScheduleInput* window);

// The fields of the task line of the settings file, when it has one.
std::optional<std::vector<std::string>> ReadSavedTaskLine();
