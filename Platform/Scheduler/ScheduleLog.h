#pragma once
// The schedule log "Schedule\VelmorcastSchedLog.log" of the application
// folder: the scheduled run writes it, and so does vjobrun for a start it
// skips because a run is still going.
#include <string>

namespace velmo::scheduler {

inline constexpr const char* kScheduleLogName = "Schedule\\VelmorcastSchedLog.log";

// The run header: CR LF first, then the product, copyright, title, date and
// column lines, without a final line end.
std::string ScheduleLogHeader();

// Appends the message and CR LF to the schedule log, making the folder
// "Schedule" first; a message that cannot be written is lost.
void AppendScheduleLog(const std::string& message);

// A start refused because a run is going: the header, then the entry
// "     Schedule_Main... : Application is already running :".
void LogAlreadyRunning();

}  // namespace velmo::scheduler
