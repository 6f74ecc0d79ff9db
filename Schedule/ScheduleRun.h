#pragma once
// VLMRSchedule: the unattended run the scheduled task starts. For every
// server line of "Schedule\SchedConfig.cfg" it finds the server's
// organisation and site, lists the site's containers, clears and collects
// the server again and exports or prints the line's custom report. Nothing
// is ever shown to a user: failures become entries of the schedule log
// "Schedule\VelmorcastSchedLog.log".
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <QWidget>

class QLabel;

namespace velmo {
class FlexGrid;
namespace db {
class Connection;
}
namespace exporting {
class CollectionLock;
}
}  // namespace velmo

namespace velmo::schedule {

inline constexpr const char* kProductName = "Velmorine for Exchange Server";
inline constexpr const char* kProductTitle = "Velmorine for Exchange Server (Velmorcast)";
inline constexpr const char* kTaskName = "VelmorcastTask";
inline constexpr const char* kScheduleLog = "Schedule\\VelmorcastSchedLog.log";
inline constexpr const char* kStatusCaption = "Velmorcast  [Schedule]";

// The status window: the current step in lblStatus, the report grid Grd1
// (hidden). It has no behaviour of its own.
class StatusWindow : public QWidget {
 public:
  StatusWindow();
  QLabel* lblStatus;
  velmo::FlexGrid* Grd1;
};

// The run's globals.
extern std::string gstrDBPath;
extern std::unique_ptr<velmo::db::Connection> gConn;
extern StatusWindow* frmStatus;
extern std::vector<std::string> gstrContainerPaths;
extern std::vector<std::string> gstrContainerNames;
extern std::string gstrReportTitle;

// Appends the message and CR LF to the schedule log, making the "Schedule"
// folder first; a message that cannot be written is lost.
void WriteScheduleLog(const std::string& message);
// The run header's text (it begins with CR LF).
std::string ScheduleLogHeader();
// An entry: the current date and time followed by the message; nothing
// once a stop signal came.
void LogEntry(const std::string& message);
// The one entry of a run ended by a stop signal, naming the server line
// under way ("" before any).
void LogStopped(const std::string& server);
// "number:description" of an error.
std::string ErrorText(int32_t number, const std::string& description);

// Writes the entry now when the run header has been written, else right
// after it.
void LogEntryAfterHeader(const std::string& message);
// Routes Qt's own messages: critical and fatal ones to the schedule log as
// "     VLMRSchedule : Qt : " + text (a fatal one at once, after a run
// header), the rest nowhere.
void InstallQtMessageHandler();
// The UI seam of the run: every box given its cautious answer and logged as
// "     VLMRSchedule : Message : " + text (line breaks as blanks).
void InstallUnattendedUi();

// Reads the task's credentials file and makes its account the process's
// current logon; logs a refused file or an account without a bind name.
void UseTaskCredentials();

// The whole run; returns the process exit code: 0 when every server line
// did all its work, 1 when one did not (its server skipped or lost, an
// output not written: entries say why), when the database or the settings
// file could not be opened or an error no step handled ended the run, or
// 128 + the signal's number when a stop signal ended it.
int Schedule_Main();

// Status label and window caption, repainted at once.
void SetStatus(const std::string& text);
void SetCaption(const std::string& text);

// Collection of one server.
bool ConnectToExchangeServer(const std::string& strServerName, const std::string& strUserName,
                             const std::string& strPassword, std::string& strOrganizationName,
                             std::string& strSiteName);
// The eight fixed entries of a server's container list.
void ResetContainerList(const std::string& server, const std::string& organisation, const std::string& site);
void GetChildContainerInfo(const std::string& strParentPath, const std::string& strServerName,
                           const std::string& strOrganizationName, const std::string& strSiteName,
                           const std::string& strUserName, const std::string& strPassword);
// Deletes the server's rows; false, logged and with nothing deleted, when
// that failed.
bool DeleteExistingRecords(const std::string& strServerName);
// Clears and collects the server; false when it was skipped because
// another program kept collecting it into the same database past the
// bound, because no lock at all could be taken on the lock file, because
// the collector could not be created or because its rows could not be
// deleted (its rows are then left as they are, and the caller makes no
// report of it). The server's collection lock is taken
// into `held`, which the caller keeps until the server's report is written
// (its sections read these rows); without one the lock is given back on
// return. True with `unfinished` set to "number:description" when the
// collector found the server lost part-way: the rows are then not the
// server's whole inventory.
bool GetAllInfo(const std::string& strServerName, const std::string& strUserName, const std::string& strPassword,
                const std::string& strOrganizationName, const std::string& strSiteName,
                const std::string& strProfileName, exporting::CollectionLock* held = nullptr,
                std::string* unfinished = nullptr);
// The longest wait for another program's collection of a server: ten
// minutes, or VELMORCAST_COLLECT_WAIT_SECONDS when set (at most a day).
std::chrono::milliseconds CollectionWaitLimit();

// Report and output of one server line; false when a section or the
// line's database could not be written, or the report was not found (the
// entries say why).
bool DisplayInfo(const std::string& server, const std::string& organisation, const std::string& site,
                 const std::string& reportName, const std::string& operation, const std::string& printer,
                 const std::string& format, const std::string& folder, const std::string& runStamp);
void ProcessReportOutput(const std::string& server, const std::string& organisation, const std::string& site,
                         const std::string& reportName, const std::string& operation, const std::string& printer,
                         const std::string& format, const std::string& folder, const std::string& runStamp,
                         const std::string& statement, const std::string& label);

// One report section as DisplayInfo builds it.
struct ReportSection {
  std::string statement;
  std::string label;
};
// The sections of one report row (TabName and column set) for a server,
// from the current container list. The home-server section of a recipient
// page is made only when its table has that column (lists, public folders
// and custom recipients have no home server: the statement could only
// fail).
std::vector<ReportSection> SectionsOf(const std::string& tabName, const std::string& columnSet,
                                      const std::string& reportName, const std::string& server,
                                      const std::string& organisation, const std::string& site,
                                      bool tableHasHomeServer = true);
// True when the table of the run's database has the column.
bool TableHasColumn(const std::string& table, const std::string& column);
// The word a container or server-object section's label ends with.
std::string PageWord(const std::string& tabName);

// The output file of a section: folder, then server + "_" + label + "_" +
// stamp + extension with "/" and "\" turned into "_" in that file name only.
std::string OutputFileName(const std::string& folder, const std::string& server, const std::string& label,
                           const std::string& runStamp, const std::string& extension);
std::string MdbFileName(const std::string& folder, const std::string& server, const std::string& runStamp);

// The writers over the status grid; each false when nothing was written,
// with the reason when one is asked for.
bool ExportToMDBFormat(const std::string& file, const std::string& label);
bool ExportToCSVFormat(const std::string& file, std::string* reason = nullptr);
bool ExportToHTMLFormat(const std::string& file, std::string* reason = nullptr);
int GetRowSpan(int row, const std::string& value);
// Prints the status grid on the printer of that exact name; false (after
// its entry) when the component or the printer is missing or the job
// failed. A failed job's entry names the section, the file (or printer)
// and the reason, and is the only entry the job leaves.
bool PrintReportGrid(int printFlag, const std::string& printerName, const std::string& label);
void AutoSizeGrid(velmo::FlexGrid& grid);

// Per server line state of the output: unique labels and the database
// file's replacement. Reset by DisplayInfo.
void BeginServerOutput();
void EndServerOutput(const std::string& server, const std::string& operation, const std::string& format,
                     const std::string& folder, const std::string& runStamp);

}  // namespace velmo::schedule
