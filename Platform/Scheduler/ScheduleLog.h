#pragma once
// The schedule log "Schedule\VelmorcastSchedLog.log" of the application
// folder: the scheduled run writes it, and so does vjobrun for a start it
// skips because a run is still going or its lock cannot be taken.
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

// The entry of a start that can take no lock at all on the lock file that
// keeps runs apart: "     Schedule_Main... : Lock File Failure : " FILE
// " : " REASON. Such a start ends as a second one does.
std::string LockFileFailureEntry(const std::string& lockFile, const std::string& reason);
// That start refused: the header, then the entry.
void LogLockFileFailure(const std::string& lockFile, const std::string& reason);

}  // namespace velmo::scheduler
