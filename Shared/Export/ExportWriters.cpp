// The grid writers: comma-separated file, HTML page, database table.
#include "ExportWriters.h"

#include <signal.h>
#include <unistd.h>

#include <QByteArray>
#include <QSaveFile>
#include <QString>
#include <atomic>
#include <cerrno>
#include <limits>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <vector>

#include "ComError.h"
#include "TextFile.h"
#include "Database.h"
#include "DateText.h"
#include "FlexGrid.h"
#include "InstanceLock.h"
#include "OutputNames.h"
#include "TextParts.h"

namespace velmo::exporting {

namespace {

constexpr size_t kFlushBytes = 1 << 20;

RowPump& Pump() {
  static RowPump pump;
  return pump;
}

// False when the pump gives the write up.
bool PumpAt(int row) { return row % kRowsPerPump != 0 || !Pump() || Pump()(); }

// Writes lines to a temporary file beside the target and renames it over
// the target on Commit; dropped unfinished, it leaves nothing behind.
class AtomicTextFile {
 public:
  explicit AtomicTextFile(const std::filesystem::path& file) : file_(QString::fromStdString(file.string())) {
    // Never written in place: a folder that cannot take the temporary
    // file fails the export rather than risk a half-written target.
    file_.setDirectWriteFallback(false);
    // Unbuffered: the lines are gathered here, and every write reaches the
    // system at once, so a write that fails says why (a buffered flush
    // that the disk takes only in part fails without a reason).
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) Fail();
    buffer_.reserve(kFlushBytes + 4096);
  }
  void Line(std::string_view text) {
    buffer_.append(text);
    buffer_.append("\r\n");
    if (buffer_.size() >= kFlushBytes) Flush();
  }
  // Appends without a line end (pieces of one line).
  void Put(std::string_view text) { buffer_.append(text); }
  bool Commit(std::string& reason) {
    if (!failed_) Flush();
    // The device's own buffer is written out here, so that a write that
    // fails says why: left to the commit, a full disk's failure loses its
    // reason, and a small file's even passes as written (empty).
    if (!failed_ && !file_.flush()) Fail();
    if (failed_ || !file_.commit()) {
      reason = failed_ ? reason_ : file_.errorString().toStdString();
      if (reason.empty() || reason == "Unknown error") reason = "The file could not be written.";
      file_.cancelWriting();
      return false;
    }
    return true;
  }

 private:
  void Fail() {
    if (!failed_) reason_ = file_.errorString().toStdString();
    failed_ = true;
  }
  void Flush() {
    if (failed_ || buffer_.empty()) {
      buffer_.clear();
      return;
    }
    // A write the disk takes only in part is tried again with the rest:
    // that one fails with the system's reason (a full disk).
    const char* at = buffer_.data();
    qint64 left = static_cast<qint64>(buffer_.size());
    while (left > 0) {
      const qint64 n = file_.write(at, left);
      if (n <= 0) {
        Fail();
        break;
      }
      at += n;
      left -= n;
    }
    buffer_.clear();
  }
  QSaveFile file_;
  std::string buffer_;
  std::string reason_;  // why the first failing step failed
  bool failed_ = false;
};

std::string Cell(const FlexGrid& grid, int row, int col) { return velmo::text::Trim(grid.TextMatrix(row, col)); }

std::string DateOr(const std::string& date) { return date.empty() ? velmo::NowText() : date; }

bool NeedsQuotes(std::string_view text) {
  return text.find_first_of(",\"\r\n") != std::string_view::npos;
}

}  // namespace

void SetRowPump(RowPump pump) { Pump() = std::move(pump); }

std::string CsvField(std::string_view text) {
  if (!NeedsQuotes(text)) return std::string(text);
  std::string out;
  out.reserve(text.size() + 8);
  out += '"';
  for (char c : text) {
    out += c;
    if (c == '"') out += '"';
  }
  out += '"';
  return out;
}

std::string HtmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

bool WriteGridCsv(const FlexGrid& grid, const std::string& title, const std::filesystem::path& file,
                  std::string& reason, const std::string& date) {
  AtomicTextFile out(file);
  out.Line(CsvField(kHeadingText));
  out.Line(CsvField(kCopyrightText));
  out.Line(std::string(49, '_'));
  out.Line(CsvField(title));
  out.Line(CsvField("Date : " + DateOr(date)));
  out.Line(std::string(50, '_'));
  const int rows = grid.Rows(), cols = grid.Cols();
  std::string line;
  for (int r = 0; r < rows; ++r) {
    if (!PumpAt(r + 1)) {
      reason = kWriteGivenUp;
      return false;  // the temporary file goes with the writer
    }
    line.clear();
    for (int c = 1; c < cols; ++c) {
      if (c > 1) line += ',';
      line += CsvField(Cell(grid, r, c));
    }
    out.Line(line);
  }
  return out.Commit(reason);
}

int GetRowSpan(const FlexGrid& grid, int row, const std::string& value) {
  const int rows = grid.Rows();
  if (grid.Cols() < 2) return 0;
  int n = 0;
  for (int r = row; r >= 0 && r < rows; ++r) {
    if (Cell(grid, r, 1) != value) break;
    ++n;
  }
  return n;
}

bool WriteGridHtml(const FlexGrid& grid, const std::string& title, const std::filesystem::path& file,
                   std::string& reason, const std::string& date) {
  AtomicTextFile out(file);
  out.Line("<HTML>");
  out.Line("<META charset=\"utf-8\">");
  out.Line("<TABLE border=0 WIDTH=100%>");
  out.Line("<TR>");
  out.Line(std::string("<TD ALIGN=LEFT>") + HtmlEscape(kHeadingText) + "</TD>");
  out.Line("<TD ALIGN=RIGHT>Date: " + HtmlEscape(DateOr(date)) + "</TD>");
  out.Line("</TR>");
  out.Line("</TABLE>");
  out.Line("<HR NOSHADE SIZE=1>");
  out.Line("<TABLE border=0 WIDTH=100%>");
  out.Line("<TR><TD> " + HtmlEscape(title) + "</TD></TR>");
  out.Line("</TABLE>");
  out.Line("<BR>");
  out.Line("<TABLE BORDER=1 WIDTH=100%>");
  out.Line("<TR BGCOLOR=LIGHTGREY>");
  const int rows = grid.Rows(), cols = grid.Cols();
  if (rows > 0)
    for (int c = 1; c < cols; ++c) out.Line("<TD NOWRAP><B> " + HtmlEscape(Cell(grid, 0, c)) + "</B></TD>");
  out.Line("</TR>");
  // The run of equal column-1 texts the current row belongs to.
  int runFirst = 0, runLength = 0;
  for (int r = 1; r < rows; ++r) {
    if (!PumpAt(r)) {
      reason = kWriteGivenUp;
      return false;
    }
    out.Line("<TR>");
    if (cols > 1 && r >= runFirst + runLength) {
      const std::string first = Cell(grid, r, 1);
      runFirst = r;
      runLength = GetRowSpan(grid, r, first);
      out.Line("<TD NOWRAP ROWSPAN=" + std::to_string(runLength) + ">" + HtmlEscape(first) + "</TD>");
    }
    for (int c = 2; c < cols; ++c) out.Line("<TD NOWRAP> " + HtmlEscape(Cell(grid, r, c)) + "</TD>");
    out.Line("</TR>");
  }
  out.Line("</TABLE>");
  return out.Commit(reason);
}

std::string ExportColumnName(std::string_view caption, ColumnRule rule) {
  std::string out;
  const std::string trimmed = velmo::text::Trim(caption);
  for (char c : trimmed) {
    if (c == ' ' || c == '(' || c == ')') continue;
    if (rule == ColumnRule::ExportPlus && (c == '/' || c == '-')) continue;
    out += c;
  }
  return out;
}

std::string ExportPlusTableName(std::string_view label) {
  std::string out;
  for (char c : label)
    if (c != ' ' && c != '/' && c != '-') out += c;
  return out;
}

namespace {

bool HasTable(velmo::db::Connection& conn, const std::string& table) {
  velmo::db::Recordset rs;
  rs.Open("select count(*) from sqlite_master where type in ('table','view') and name = ? collate nocase", conn,
          {velmo::db::Value(table)});
  const bool found = !rs.Eof() && rs[0L].Val().Long() > 0;
  rs.Close();
  return found;
}

// The hidden name of the new file beside the target, up to the writer's
// process id.
std::string TemporaryPrefix(const std::filesystem::path& file) { return "." + file.filename().string() + ".new-"; }

// A name for the new file beside the target, unique to this process.
std::filesystem::path TemporaryBeside(const std::filesystem::path& file) {
  static std::atomic<unsigned> counter{0};
  std::filesystem::path tmp = file;
  tmp.replace_filename(TemporaryPrefix(file) + std::to_string(::getpid()) + "-" + std::to_string(++counter));
  return tmp;
}

// The process id in the name of a temporary beside file ("<pid>-<n>" or
// "<pid>-<n>-journal" after the prefix); 0 when the name is none of them.
pid_t WriterOf(const std::string& name, const std::string& prefix) {
  if (name.compare(0, prefix.size(), prefix) != 0) return 0;
  std::string_view rest(name);
  rest.remove_prefix(prefix.size());
  if (rest.size() > 8 && rest.substr(rest.size() - 8) == "-journal") rest.remove_suffix(8);
  const size_t dash = rest.find('-');
  const auto digits = [](std::string_view t) {
    return !t.empty() && t.size() < 11 && t.find_first_not_of("0123456789") == std::string_view::npos;
  };
  if (dash == std::string_view::npos || !digits(rest.substr(0, dash)) || !digits(rest.substr(dash + 1))) return 0;
  const long pid = std::stol(std::string(rest.substr(0, dash)));
  return pid > 0 && pid <= std::numeric_limits<pid_t>::max() ? static_cast<pid_t>(pid) : 0;
}

// A writer killed before its rename leaves its temporary database and
// journal beside the target, where nothing else would ever remove them.
// The next writer of that name does, but only those of a writer that is
// gone: its process id names no running process here, and the lock that a
// writer holds on its temporary while it works is free (a writer on
// another machine sharing the folder has a process id that means nothing
// here). Once a process and target name.
void RemoveTemporariesOfGoneWriters(const std::filesystem::path& file) {
  static std::mutex mutex;
  static std::set<std::string> swept;
  {
    std::lock_guard<std::mutex> hold(mutex);
    std::error_code ec;
    if (!swept.insert(std::filesystem::absolute(file, ec).string()).second) return;
  }
  const std::string prefix = TemporaryPrefix(file);
  std::filesystem::path folder = file.parent_path();
  if (folder.empty()) folder = ".";
  std::error_code ec;
  std::vector<std::filesystem::path> gone;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    const pid_t pid = WriterOf(entry.path().filename().string(), prefix);
    if (pid == 0 || pid == ::getpid()) continue;
    if (::kill(pid, 0) == 0 || errno == EPERM) continue;  // still running
    gone.push_back(entry.path());
  }
  for (const auto& path : gone) {
    FileLock lock;
    std::error_code lockError;
    const std::string name = path.filename().string();
    const bool journal = name.size() > 8 && name.compare(name.size() - 8, 8, "-journal") == 0;
    // A journal goes with its database; the database only while its lock
    // is free.
    if (!journal && lock.Try(path, FileLock::Mode::Exclusive, lockError) == FileLock::Outcome::Held) continue;
    if (journal) {
      std::filesystem::path database = path;
      database.replace_filename(name.substr(0, name.size() - 8));
      FileLock owner;
      if (std::filesystem::exists(database, ec) &&
          owner.Try(database, FileLock::Mode::Exclusive, lockError) == FileLock::Outcome::Held)
        continue;
    }
    std::filesystem::remove(path, ec);
  }
}

}  // namespace

bool DatabaseHasTable(const std::filesystem::path& file, const std::string& table) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) return false;
  try {
    velmo::db::Connection conn;
    conn.OpenExportFile(file);
    return HasTable(conn, table);
  } catch (const std::exception&) {
    return false;
  }
}

TableWrite WriteGridTable(const FlexGrid& grid, const std::filesystem::path& file, const std::string& table,
                          ColumnRule rule, bool replaceExisting, std::string& reason) {
  const int rows = grid.Rows(), cols = grid.Cols();
  if (table.empty()) {
    reason = "The table name is empty.";
    return TableWrite::Failed;
  }
  if (cols < 2 || rows < 1) {
    reason = "The report has no columns.";
    return TableWrite::Failed;
  }
  // Every column gets a name of its own: a caption empty after the
  // removals is "Column" + its number, and a name the table already has
  // (without regard to case) takes "_2", "_3"... as output names do.
  OutputNames names;
  std::string columns, marks;
  for (int c = 1; c < cols; ++c) {
    if (c > 1) {
      columns += ',';
      marks += ',';
    }
    std::string name = ExportColumnName(grid.TextMatrix(0, c), rule);
    if (name.empty()) name = "Column" + std::to_string(c);
    columns += velmo::db::QuoteIdent(names.Unique(name)) + " text(255)";
    marks += '?';
  }
  const std::string quoted = velmo::db::QuoteIdent(table);

  std::error_code ec;
  const bool isNew = !std::filesystem::exists(std::filesystem::symlink_status(file, ec));
  ec.clear();
  if (isNew) RemoveTemporariesOfGoneWriters(file);
  const std::filesystem::path target = isNew ? TemporaryBeside(file) : file;
  velmo::db::Connection conn;
  // Held on the temporary while it is written: a writer of this name in
  // another program leaves it alone.
  FileLock writing;
  try {
    if (isNew) {
      velmo::db::CreateDatabaseFile(target, velmo::db::Journal::Rollback);
      std::error_code lockError;
      writing.Try(target, FileLock::Mode::Exclusive, lockError);
    }
    conn.OpenExportFile(target);
    if (!isNew && HasTable(conn, table) && !replaceExisting) {
      reason = "Table '" + table + "' already exists.";
      return TableWrite::TableExists;
    }
    conn.BeginTrans();
    if (!isNew && replaceExisting && HasTable(conn, table)) conn.Execute("drop table " + quoted);
    conn.Execute("create table " + quoted + " (" + columns + ")");
    std::string cell;
    conn.ExecuteEachRow("insert into " + quoted + " values(" + marks + ")", rows - 1,
                        [&](long i, std::vector<std::string>& values) {
                          const int r = static_cast<int>(i) + 1;
                          if (!PumpAt(r)) throw std::runtime_error(kWriteGivenUp);
                          for (int c = 1; c < cols; ++c) values[static_cast<size_t>(c - 1)] = Cell(grid, r, c);
                        });
    conn.CommitTrans();
    conn.Close();
    if (isNew) {
      std::filesystem::rename(target, file, ec);
      if (ec) {
        reason = ec.message();
        velmo::db::RemoveDatabaseFiles(target);
        return TableWrite::Failed;
      }
      SyncFolderOf(file);
    }
    return TableWrite::Written;
  } catch (const velmo::ComError& e) {
    reason = e.Description();
  } catch (const std::exception& e) {
    reason = e.what();
  }
  try {
    if (conn.InTransaction()) conn.RollbackTrans();
    if (conn.State() == velmo::db::adStateOpen) conn.Close();
  } catch (const std::exception&) {
  }
  if (isNew) {
    velmo::db::RemoveDatabaseFiles(target);
    // The user knows the file by its own name, not the temporary one.
    const std::string tmp = target.string();
    for (size_t at; (at = reason.find(tmp)) != std::string::npos;) reason.replace(at, tmp.size(), file.string());
  }
  return TableWrite::Failed;
}

}  // namespace velmo::exporting
