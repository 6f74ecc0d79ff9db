#pragma once
// The three layouts a grid is exported in: a comma-separated file, an HTML
// page and a table of a database file. Each writer takes the grid (row 0
// the captions, column 0 never written, every cell trimmed), the report
// title and the target, and returns false with the system's reason when
// nothing was written; none of them shows anything.
//
// Text files are UTF-8 without a byte-order mark, lines ending in CR LF,
// written to a temporary file beside the target and renamed over it when
// complete: a failed write leaves no file, or the older one untouched.
//
// The database is an SQLite 3 file (named ".mdb" by its callers) that the
// stock sqlite3 shell opens: rollback journal, nothing left beside it, text
// columns with the engine's built-in NOCASE. Each table (drop on
// replace, create, every row) is one transaction of bound inserts; a new
// file is made under a temporary name in its folder and renamed into place
// when its first table has committed.
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace velmo {
class FlexGrid;
}

namespace velmo::exporting {

// Line 1 of a comma-separated file and the left cell of an HTML page.
inline constexpr const char* kHeadingText = "Velmorine for Exchange Server v1.4.2";
// The product's copyright line (line 2 of a comma-separated file; the
// splash and the About window show the same text).
inline constexpr const char* kCopyrightText = "Copyright (C) 2003-2024 Velmorcast. All rights reserved.";

// Writes the grid as a comma-separated file: the heading text, the
// copyright line, 49 underscores, the title, "Date : " + date, 50
// underscores, then one record per grid row from the captions on. Every
// line is a record: a field holding ",", '"', CR or LF is enclosed in '"'
// with each '"' doubled. date "" means now (the date helper's text).
bool WriteGridCsv(const FlexGrid& grid, const std::string& title, const std::filesystem::path& file,
                  std::string& reason, const std::string& date = "");

// Writes the grid as an HTML page: the heading table, a rule, the title,
// the caption row and one row per data row, equal neighbouring texts of
// column 1 merged into one cell with a ROWSPAN. Every text is escaped; the
// one META line after "<HTML>" tells readers the page is UTF-8.
bool WriteGridHtml(const FlexGrid& grid, const std::string& title, const std::filesystem::path& file,
                   std::string& reason, const std::string& date = "");

// The length of the run of rows, from row on, whose trimmed column-1 text
// equals value exactly (case-sensitive); 0 when row is past the last row.
int GetRowSpan(const FlexGrid& grid, int row, const std::string& value);

// Texts as the writers put them: trimmed of leading and trailing blanks;
// a CSV field; HTML with & < > " ' escaped.
std::string CsvField(std::string_view text);
std::string HtmlEscape(std::string_view text);

// How captions become column names: the interactive export removes " ",
// "(" and ")"; Export Plus also "/" and "-".
enum class ColumnRule { Interactive, ExportPlus };
std::string ExportColumnName(std::string_view caption, ColumnRule rule);
// The table name of an Export Plus category label: " ", "/" and "-" removed.
std::string ExportPlusTableName(std::string_view label);

enum class TableWrite {
  Written,      // the table holds the grid's rows
  TableExists,  // a table of that name is in the file and replace was not asked; nothing changed
  Failed,       // nothing changed; reason says why
};

// Writes the grid's data rows into a new table of the database file: made
// when missing (under a temporary name, renamed into place once the table
// has committed), extended when present. A table of the same name (names
// compared as the engine does, without regard to case) is replaced only
// when replaceExisting; otherwise TableExists with reason "Table '<name>'
// already exists.". A file that is no database, a create or an insert that
// fails: Failed, with the file as it was.
TableWrite WriteGridTable(const FlexGrid& grid, const std::filesystem::path& file, const std::string& table,
                          ColumnRule rule, bool replaceExisting, std::string& reason);

// True when the database file has a table of that name (without regard to
// case); false also when the file is missing or unreadable.
bool DatabaseHasTable(const std::filesystem::path& file, const std::string& table);

// Called by the writers on their own thread every kRowsPerPump rows, so
// a windowed program can let its events run (repaints) while a long grid
// is written; the main program lets them run as during a directory wait.
// An empty function removes it. A pump that returns false gives the write
// up: nothing of it is written (the file as it was), and the writer fails
// with kWriteGivenUp as its reason.
inline constexpr int kRowsPerPump = 512;
inline constexpr const char* kWriteGivenUp = "The write was given up.";
using RowPump = std::function<bool()>;
void SetRowPump(RowPump pump);

}  // namespace velmo::exporting
