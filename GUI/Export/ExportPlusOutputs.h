#pragma once
// What the Export Plus run takes from the export library shared with the
// scheduled collector: the category query rules, the clearing of a
// server's rows, unique output names and the three writers.
#include <string>
#include <vector>

namespace exportplus {

// The data table of a TabName ("" when no rule matches).
std::string TableOfTab(const std::string& tab);
// The bracketed column list of a column-set value for a report.
std::string ColumnListOf(const std::string& value, const std::string& report);
// The terms that restrict a protocol or connector page (constant texts).
std::string ProtocolConnectorTerms(const std::string& tab);
// The term that restricts a diagnostics-logging page to its object's
// directory names (" and [Directory Name] like ..."), its prefix matched
// literally.
std::string DiagnosticsTermOf(const std::string& tab, const std::string& server);

// Deletes every row of the server from the data tables. False with the
// reason when the clearing could not be done.
bool ClearServer(const std::string& server, std::string& reason);

// name, or name with "_2", "_3"... when the run used it already (compared
// without regard to case); the result is recorded in used.
std::string UniqueName(std::vector<std::string>& used, const std::string& name);

// The table name of a label in a run's database file.
std::string TableNameOfLabel(const std::string& label);

// The writers of the Export Plus window's grid under gstrReportTitle,
// silent: "" when written, else the reason.
std::string WriteCsv(const std::string& file);
std::string WriteHtml(const std::string& file);
std::string WriteDatabaseTable(const std::string& file, const std::string& table);

}  // namespace exportplus
