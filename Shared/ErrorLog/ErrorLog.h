#pragma once
// The error log "VelmorcastErrorLog.log" in the application folder, written
// by the main program's windows and by the database procedures below them.
#include <cstdint>
#include <string>

namespace velmo {
class ComError;
}

// Appends one line to "VelmorcastErrorLog.log" in the application folder:
// When, six blanks, Number, six blanks, Description, six blanks, Context,
// CR LF. A line that cannot be written is lost; the caller is not told.
void WriteErrorLog(const std::string& When, const std::string& Context, const std::string& Number,
                   const std::string& Description);

// WriteErrorLog with the current date and time and the number as signed
// decimal text.
void LogFailure(const std::string& Context, int32_t Number, const std::string& Description);
void LogFailure(const std::string& Context, const velmo::ComError& error);
