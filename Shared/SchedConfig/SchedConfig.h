#pragma once
// The schedule settings file "Schedule\SchedConfig.cfg": the header line,
// the task line that records how the scheduled task was registered, and one
// line per scheduled server. Fields are joined by "@@@"; the file is UTF-8
// with CR LF line ends. The main program writes it, both programs read it.
//
// Readers take whole lines (a comma is an ordinary character of a field);
// writers replace the file atomically (a temporary file of the same folder,
// then a rename), so a reader sees either the old or the new file.
#include <cstddef>
#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "DamagedLines.h"

namespace velmo {

inline constexpr const char* kSchedHeader = "Scheduled Servers";
inline constexpr const char* kSchedTaskJob = "VelmorcastTask.job";
inline constexpr const char* kSchedFieldSep = "@@@";
// The fixed separators of dates and times in the file, whatever the locale.
inline constexpr const char* strDateSep = "/";
inline constexpr const char* strTimeSep = ":";

// The task line, 14 fields.
struct ScheduleTaskEntry {
  std::string jobName = kSchedTaskJob;  // 0
  std::string account;                  // 1 "DOMAIN\user"
  int triggerKind = 1;                  // 2 0-7
  std::string startTime;                // 3 "hh:mm"
  std::string count = "1";              // 4
  std::string dayList;                  // 5 days or months joined by "|"
  int weekIndex = 0;                    // 6 0-3
  int weekdayIndex = 0;                 // 7 0-6, Monday first
  std::string startDate;                // 8 "mm/dd/yyyy" or empty
  std::string endDate;                  // 9 "mm/dd/yyyy" or empty
  int repeatFlag = 0;                   // 10 0 or 1
  long repeatInterval = 0;              // 11 minutes
  long repeatDuration = 0;              // 12 minutes
  std::string stopAtEnd;                // 13 "1", "0" or empty

  bool operator==(const ScheduleTaskEntry&) const = default;
};

// A server line, 8 fields.
struct ScheduledServerEntry {
  std::string serverName;    // 0
  std::string reportName;    // 1
  std::string profileName;   // 2
  std::string operation;     // 3 "Export", "Print", "Both"
  std::string printerName;   // 4
  std::string exportFormat;  // 5 "MDB", "CSV", "HTML"
  std::string outputFolder;  // 6
  std::string runStamp;      // 7 "MM_DD_YYYY_HH_MM_SS"

  bool operator==(const ScheduledServerEntry&) const = default;
};

// The longest line a reader takes, without its line end.
inline constexpr size_t kSchedMaxLine = 64 * 1024;

// A line the readers left out: longer than kSchedMaxLine, holding a
// control character other than the CR of its CR LF end, or bytes that are
// not UTF-8 (a damaged file); for the scheduled run also a server line it
// cannot carry out: an operation that is not empty and none of "Export",
// "Print" and "Both", or a line of fewer than its eight fields (a file cut
// short), an export without a format of "MDB", "CSV" or "HTML", a printout
// without a printer, an export into a folder not named in full, or a line
// without a server.
struct SchedSkippedLine {
  enum class Why { TooLong, Control, NotUtf8, NoOperation, NoExportFormat, NoPrinter, NotFullPath, NoServer };
  int line = 0;      // from 1
  Why why = Why::Control;
  std::string text;   // the start of the line, as it stands
  std::string value;  // the field named by `why`, for NoExportFormat and NotFullPath
};

struct SchedConfigContents {
  bool hasTask = false;  // a well-formed task line was read
  ScheduleTaskEntry task;
  std::vector<ScheduledServerEntry> servers;  // in file order
  DamagedLines<SchedSkippedLine> skipped;     // the first ones, the rest counted
};

// AppPath("Schedule\SchedConfig.cfg").
std::filesystem::path SchedConfigPath();

// Splits a line at every "@@@".
std::vector<std::string> SplitSchedFields(std::string_view line);

// The lines as written (no line end).
std::string FormatTaskLine(const ScheduleTaskEntry& task);
std::string FormatServerLine(const ScheduledServerEntry& server);

// Reads a task line: false when field 0 is not the job name, the line has
// fewer than 14 fields or field 2 is not a kind 0-7. Number fields that hold
// no number read as 0.
bool ParseTaskLine(std::string_view line, ScheduleTaskEntry& task);
// Reads a server line: missing fields are empty, fields past 8 are ignored.
ScheduledServerEntry ParseServerLine(std::string_view line, size_t* fields = nullptr);

// Reads the file. Lines may end in CR LF or LF; blank lines and the header
// are skipped; a line whose field 0 is the job name is the task line (the
// last well-formed one counts; a malformed one is ignored whole); every
// other line is a server line. Lines too long, holding control characters
// or not UTF-8 are left out and noted in `skipped`; memory stays bounded
// whatever the file holds, however many lines are damaged. Only a regular
// file is read, and the open never waits (a named pipe is refused at once,
// *notRegular then set). False (with the reason) when the file cannot be
// opened or read. With `forRun`, as the scheduled run reads it, a server
// line the run cannot carry out is damaged too, left out and noted in
// `skipped`: an empty server; its operation neither empty (collect only)
// nor "Export", "Print" or "Both"; fewer than eight fields; "Export" or
// "Both" with a format other than "MDB", "CSV" and "HTML" (compared
// exactly) or a folder not named in full; "Print" or "Both" with no
// printer.
bool ReadSchedConfig(const std::filesystem::path& file, SchedConfigContents& out, std::string* error = nullptr,
                     bool* notRegular = nullptr, bool forRun = false);

// True when an export folder as a line gives it ("\" or "/" separating)
// is a full path of this machine: files are never written relative to
// wherever a program happens to stand.
bool SchedFolderIsFullPath(std::string_view folder);

// True when the value can stand in a field: UTF-8 text without "@@@", a
// line break or other control character, and no "@" at its end (it would
// join the separator that follows). A leading "@" is carried: fields are
// split from the left.
bool SchedFieldCarries(std::string_view value);

// Every field of the task line carries (as above); false with the reason.
bool SchedTaskCarries(const ScheduleTaskEntry& task, std::string* error = nullptr);

// The text with control characters and bytes that are not UTF-8 shown as
// \xNN, cut to `limit` characters ("..." marks a cut).
std::string EscapedSchedText(std::string_view text, size_t limit = 200);

// How a log names a skipped line: the file, "line N", why, and its text
// escaped and cut as above.
std::string SkippedLineText(const std::filesystem::path& file, const SchedSkippedLine& skipped);
// How a log counts the skipped lines it does not name one by one.
std::string SkippedLinesMoreText(const std::filesystem::path& file, size_t more);

// Writes header, task line (when given) and the server lines, replacing the
// file atomically. The folder must exist. Refuses (writing nothing) a field
// that cannot be carried, or a server named as the job or the header.
// False with the reason on any failure; the old file is then untouched.
bool WriteSchedConfig(const std::filesystem::path& file, const ScheduleTaskEntry* task,
                      const std::vector<ScheduledServerEntry>& servers, std::string* error = nullptr);

// One line of the file as it stands, for the writers that keep what they
// do not change byte for byte.
struct SchedRawLine {
  enum class Kind { Blank, Header, Task, Server, Unreadable };
  Kind kind = Kind::Blank;
  int number = 0;     // from 1
  std::string bytes;  // with its own end (CR LF, LF or none); a leading byte-order mark dropped
  SchedSkippedLine::Why why = SchedSkippedLine::Why::Control;  // for Unreadable, as the readers name it
  // The line without its end, as the readers take it.
  std::string Text() const;
};

// The largest file read whole by the writers that keep its lines.
inline constexpr size_t kSchedMaxKeptFile = 64 * 1024 * 1024;

// Reads every line of the file as it stands, classed as the readers class
// it (a line the readers leave out is Unreadable). Same opening as
// ReadSchedConfig; false with the reason as well when the file is larger
// than kSchedMaxKeptFile.
bool ReadSchedConfigLines(const std::filesystem::path& file, std::vector<SchedRawLine>& lines,
                          std::string* error = nullptr, bool* notRegular = nullptr);

// Replaces the file with its first header line and its task lines as they
// stand (the header when it has none), then `serverLines` (each given with
// its line end), then the lines of the file the readers leave out, as they
// stand. A missing file has no lines to keep. Fails as WriteSchedConfig
// does, or when the file is there but cannot be read.
bool WriteSchedServersKeepingLines(const std::filesystem::path& file, const std::vector<std::string>& serverLines,
                                   std::string* error = nullptr);

// Rewrites header and task line and keeps every other line of the current
// file as it stands, byte for byte, the server lines and the lines the
// readers leave out (a missing file has none). Same failures as above, plus
// a file that exists but cannot be read.
bool WriteSchedTaskKeepingServers(const std::filesystem::path& file, const ScheduleTaskEntry& task,
                                  std::string* error = nullptr);

// The fixed forms of the file, from a local broken-down time.
std::string SchedDateText(const std::tm& local);   // "mm/dd/yyyy"
std::string SchedTimeText(const std::tm& local);   // "hh:mm", 24-hour
std::string RunStampText(const std::tm& local);    // "MM_DD_YYYY_HH_MM_SS"

}  // namespace velmo
