#pragma once
// The Export command and the writers as the main program calls them.
// Mode "0": the grid of the window the command acts on (the custom report
// window's grd1 while gbCustomReport is set, else the current browse
// window's Grd1), with messages: "Report exported successfully." or, on any
// failure, "The report could not be exported to '<path>'." with the
// system's reason on the next line. Mode "1": the Export Plus window's grid
// (gfrmExportPlusPrint), silent; the reason of a failure is handed back.
// The report title is gstrReportTitle, set by the caller.
#include <string>

namespace velmo {
class FlexGrid;
}

// The database file chosen in the Export command's dialog.
extern std::string gstrExportFile;

// Texts of the save dialog's filters, in filter-index order.
inline constexpr const char* kExportFilterMdb = "SQLite database (*.mdb)";
inline constexpr const char* kExportFilterHtml = "HTML Files(*.html)";
inline constexpr const char* kExportFilterCsv = "Comma delimited(*.csv)";

// True when the file was written; failure (may be null) gets the reason.
bool ExportGridToCsv(const std::string& mode, const std::string& file, std::string* failure = nullptr);
bool ExportGridToHtml(const std::string& mode, const std::string& file, std::string* failure = nullptr);

// The run of equal column-1 texts from row on, in the mode-"0" grid.
int GetRowSpan(int row, const std::string& value);

// Asks for a table name and writes the mode-"0" grid into that table of
// gstrExportFile (made when missing, extended when present). "No" when the
// table exists and the user would not have it replaced (the caller asks
// again); "Yes" when the export is over: written, cancelled (an empty name
// is Cancel) or failed (with its message).
std::string ExportGridToMdbTable();

// Writes the Export Plus grid as a table of the database file (made when
// missing); the table is the label with " ", "/" and "-" removed. Callers
// keep the tables of one run apart (OutputNames on ExportPlusTableName).
// An existing table of that name is not touched and is a failure.
bool ExportPlusGridToMdb(const std::string& file, const std::string& label, std::string* failure = nullptr);

// The Export command: the save dialog, the title, the writer the chosen
// filter names.
void ExportReport();

// The grid mode "0" writes, or nullptr when there is none.
velmo::FlexGrid* ExportSourceGrid(const std::string& mode);
