// The write journal: rows noted per thread as the recordsets write them,
// taken back by row id.
#include "WriteJournal.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <unordered_set>

#include "Database.h"
#include "DbInternal.h"

namespace velmo::db {

using detail::ExecSimple;
using detail::Stmt;

namespace {

// The journals alive on this thread, innermost last.
thread_local std::vector<WriteJournal*> tJournals;

// Rows deleted per statement: each statement is its own short transaction.
constexpr size_t kRowsPerDelete = 500;

// The records of unfinished work alive on this thread.
thread_local std::vector<UnfinishedRows*> tRecords;

std::filesystem::path RecordFile(const std::string& connectionString) {
  std::error_code ec;
  std::filesystem::path file = PathFromConnectionString(connectionString);
  if (!file.empty()) file = std::filesystem::absolute(file, ec);
  return file;
}

const std::string kCreateRecords = std::string("CREATE TABLE IF NOT EXISTS ") + kUnfinishedRowsTable +
                                   " (ServerName TEXT COLLATE NOCASE, TableName TEXT COLLATE NOCASE, "
                                   "FirstRow INTEGER, LastRow INTEGER, Collection TEXT)";

const std::string kCreateCollected = std::string("CREATE TABLE IF NOT EXISTS ") + kCollectedPagesTable +
                                     " (ServerName TEXT COLLATE NOCASE, TableName TEXT COLLATE NOCASE)";

}  // namespace

WriteJournal::WriteJournal() { tJournals.push_back(this); }

WriteJournal::~WriteJournal() {
  auto at = std::find(tJournals.begin(), tJournals.end(), this);
  if (at != tJournals.end()) tJournals.erase(at);
}

size_t WriteJournal::Count() const { return count_; }

void WriteJournal::Clear() {
  rows_.clear();
  count_ = 0;
}

void NoteWrittenRows(const std::filesystem::path& file, const std::string& table, const std::vector<int64_t>& rowIds) {
  if (tJournals.empty()) return;
  const auto key = std::make_pair(file.string(), table);
  for (WriteJournal* j : tJournals) {
    auto& ids = j->rows_[key];
    for (int64_t id : rowIds)
      if (id != 0) {
        ids.push_back(id);
        ++j->count_;
      }
  }
}

bool WriteJournal::Undo(std::vector<UndoFailure>* failures) {
  bool allGone = true;
  for (auto it = rows_.begin(); it != rows_.end();) {
    const auto& [file, table] = it->first;
    std::vector<int64_t>& ids = it->second;
    std::unordered_set<int64_t> gone;
    try {
      Connection conn;
      conn.Open(file);
      while (!ids.empty()) {
        const size_t n = std::min(kRowsPerDelete, ids.size());
        std::string sql = "delete from " + detail::QuoteIdent(table) + " where _rowid_ in (";
        std::vector<Value> params;
        params.reserve(n);
        for (size_t i = 0; i < n; ++i) {
          sql += i ? ",?" : "?";
          params.emplace_back(static_cast<int64_t>(ids[ids.size() - n + i]));
        }
        sql += ")";
        conn.Execute(sql, params);
        for (size_t i = 0; i < n; ++i) gone.insert(ids[ids.size() - n + i]);
        ids.resize(ids.size() - n);
      }
      conn.Close();
    } catch (const ComError& e) {
      allGone = false;
      if (failures) failures->push_back({file, table, ids.size(), e.Number(), e.Description()});
    } catch (const std::exception& e) {
      allGone = false;
      if (failures) failures->push_back({file, table, ids.size(), Hr(0x80004005), e.what()});
    }
    count_ -= gone.size();
    // The enclosing journals must not delete these ids again.
    if (!gone.empty())
      for (WriteJournal* j : tJournals) {
        if (j == this) continue;
        auto other = j->rows_.find(it->first);
        if (other == j->rows_.end()) continue;
        auto& v = other->second;
        const size_t before = v.size();
        v.erase(std::remove_if(v.begin(), v.end(), [&](int64_t id) { return gone.count(id) != 0; }), v.end());
        j->count_ -= before - v.size();
      }
    if (ids.empty())
      it = rows_.erase(it);
    else
      ++it;
  }
  return allGone;
}

// ---- Rows of unfinished work ------------------------------------------------

UnfinishedRows::UnfinishedRows(const std::string& connectionString, const std::string& server)
    : file_(RecordFile(connectionString)), server_(server) {
  static std::atomic<uint64_t> made{0};
  collection_ = std::to_string(::getpid()) + "-" +
                std::to_string(std::chrono::system_clock::now().time_since_epoch().count()) + "-" +
                std::to_string(++made);
  tRecords.push_back(this);
}

UnfinishedRows::~UnfinishedRows() {
  auto at = std::find(tRecords.begin(), tRecords.end(), this);
  if (at != tRecords.end()) tRecords.erase(at);
}

void UnfinishedRows::Finish() {
  if (!inFile_) return;
  Connection conn;
  conn.Open(file_.string());
  conn.Execute(std::string("delete from ") + kUnfinishedRowsTable + " where Collection = ?", {Value(collection_)});
  conn.Close();
  inFile_ = false;
}

void UnfinishedRows::FinishWholePage(const std::string& table) {
  Connection conn;
  conn.Open(file_.string());
  Connection::Impl& ci = conn.impl();
  try {
    ExecSimple(ci.h, "BEGIN IMMEDIATE", ci.path);
    const std::string quoted = QuoteIdent(table);
    std::string earlier = "delete from " + quoted + " where ServerName = ?";
    std::vector<Value> params{Value(server_)};
    if (inFile_) {
      earlier += std::string(" and not exists (select 1 from ") + kUnfinishedRowsTable +
                 " u where u.Collection = ? and u.TableName = ? and " + quoted +
                 "._rowid_ between u.FirstRow and u.LastRow)";
      params.emplace_back(collection_);
      params.emplace_back(table);
    }
    conn.Execute(earlier, params);
    if (inFile_)
      conn.Execute(std::string("delete from ") + kUnfinishedRowsTable + " where Collection = ?",
                   {Value(collection_)});
    ExecSimple(ci.h, kCreateCollected.c_str(), ci.path);
    conn.Execute(std::string("delete from ") + kCollectedPagesTable + " where ServerName = ? and TableName = ?",
                 {Value(server_), Value(table)});
    conn.Execute(std::string("insert into ") + kCollectedPagesTable + " (ServerName, TableName) values (?, ?)",
                 {Value(server_), Value(table)});
    ExecSimple(ci.h, "COMMIT", ci.path);
  } catch (...) {
    if (!sqlite3_get_autocommit(ci.h)) sqlite3_exec(ci.h, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
  conn.Close();
  inFile_ = false;
}

namespace detail {

void RecordUnfinishedRows(sqlite3* h, const std::filesystem::path& file,
                          const std::map<std::string, std::vector<std::pair<int64_t, int64_t>>>& written) {
  for (UnfinishedRows* r : tRecords) {
    if (r->file_ != file) continue;
    ExecSimple(h, kCreateRecords.c_str(), file);
    Stmt insert(h,
                std::string("INSERT INTO ") + kUnfinishedRowsTable +
                    " (ServerName, TableName, FirstRow, LastRow, Collection) VALUES (?, ?, ?, ?, ?)",
                file);
    for (const auto& [table, runs] : written)
      for (const auto& [first, last] : runs) {
        insert.Bind({Value(r->server_), Value(table), Value(first), Value(last), Value(r->collection_)});
        insert.Step();
        insert.Reset();
      }
    r->inFile_ = true;
  }
}

}  // namespace detail

bool HasUnfinishedRows(Connection& conn, const std::string& server, const std::string& table) {
  try {
    std::string sql = std::string("select count(*) from ") + kUnfinishedRowsTable + " where ServerName = ?";
    std::vector<Value> params{Value(server)};
    if (!table.empty()) {
      sql += " and TableName = ?";
      params.emplace_back(table);
    }
    Recordset rs;
    rs.Open(sql, conn, params, adOpenForwardOnly, adLockReadOnly);
    const bool any = !rs.Eof() && rs[0L].Val().Long() > 0;
    rs.Close();
    return any;
  } catch (const ComError&) {
    // No record was ever made in this file (no table), or the file cannot
    // be read now: then the look-up and the display that follow the
    // caller's question fail on it too, and show nothing of the server.
    return false;
  }
}

long RemoveUnfinishedRows(const std::string& connectionString, const std::string& server, bool wait) {
  Connection conn;
  conn.Open(RecordFile(connectionString).string());
  Connection::Impl& ci = conn.impl();
  {
    Stmt exists(ci.h, "select 1 from sqlite_master where type='table' and name=?", ci.path);
    exists.Bind({Value(kUnfinishedRowsTable)});
    if (!exists.Step()) return 0;
  }
  if (!wait) sqlite3_busy_handler(ci.h, nullptr, nullptr);
  {
    // A read first: a file without records is left alone, and another
    // program's write lock on it is then no failure.
    std::string sql = std::string("select 1 from ") + kUnfinishedRowsTable;
    if (!server.empty()) sql += " where ServerName = ?";
    sql += " limit 1";
    Stmt any(ci.h, sql, ci.path);
    if (!server.empty()) any.Bind({Value(server)});
    if (!any.Step()) return 0;
  }
  long removed = 0;
  try {
    // The write lock first: the records read are the ones deleted.
    ExecSimple(ci.h, "BEGIN IMMEDIATE", ci.path);
    struct Entry {
      std::string server, table;
      int64_t first, last;
    };
    std::vector<Entry> entries;
    {
      std::string sql = std::string("select ServerName, TableName, FirstRow, LastRow from ") + kUnfinishedRowsTable;
      if (!server.empty()) sql += " where ServerName = ?";
      Stmt read(ci.h, sql, ci.path);
      if (!server.empty()) read.Bind({Value(server)});
      auto text = [&](int i) {
        const unsigned char* t = sqlite3_column_text(read.get(), i);
        return std::string(t ? reinterpret_cast<const char*>(t) : "");
      };
      while (read.Step())
        entries.push_back({text(0), text(1), sqlite3_column_int64(read.get(), 2), sqlite3_column_int64(read.get(), 3)});
    }
    for (const auto& e : entries) {
      try {
        removed += conn.Execute("delete from " + QuoteIdent(e.table) + " where _rowid_ between ? and ? and ServerName = ?",
                                {Value(e.first), Value(e.last), Value(e.server)});
      } catch (const ComError& err) {
        // A table that is gone holds none of the rows.
        if (err.Number() != kDbNoSuchTable) throw;
      }
    }
    if (server.empty())
      conn.Execute(std::string("delete from ") + kUnfinishedRowsTable);
    else
      conn.Execute(std::string("delete from ") + kUnfinishedRowsTable + " where ServerName = ?", {Value(server)});
    ExecSimple(ci.h, "COMMIT", ci.path);
  } catch (...) {
    if (!sqlite3_get_autocommit(ci.h)) sqlite3_exec(ci.h, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
  conn.Close();
  return removed;
}

bool PageCollectedWhole(Connection& conn, const std::string& server, const std::string& table) {
  try {
    Recordset rs;
    rs.Open(std::string("select count(*) from ") + kCollectedPagesTable + " where ServerName = ? and TableName = ?",
            conn, {Value(server), Value(table)}, adOpenForwardOnly, adLockReadOnly);
    const bool marked = !rs.Eof() && rs[0L].Val().Long() > 0;
    rs.Close();
    return marked;
  } catch (const ComError& e) {
    // A file that never had a page marked has no such table.
    if (e.Number() == kDbNoSuchTable) return false;
    throw;
  }
}

}  // namespace velmo::db
