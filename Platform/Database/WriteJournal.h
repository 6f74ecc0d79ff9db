#pragma once
// A record of the rows a task appended, so that a task which ends
// half done can take back exactly what it wrote.
//
// While a WriteJournal lives, every row that a recordset on this thread
// writes to a database file (its buffered rows reaching the file) is noted
// as (file, table, row id), whichever connection wrote it: a connection the
// journal's owner opened itself, or one opened by a library it called on
// the same thread. Journals nest: a row is noted by every journal alive on
// the thread. Rows changed or deleted, and rows written by statements
// (Connection::Execute), are not noted. Rows written inside a BeginTrans
// transaction are noted when written: work that rolls such a transaction
// back clears its journal rather than undoing it (the freed row ids may be
// given to other rows). Rows held by a page (PageWrite) are noted when its
// commit writes them.
//
// Undo deletes the noted rows by row id, never by any column value, so
// rows of the same server or object that other work wrote stay; each
// table's rows go in short transactions of a few hundred rows, so no lock
// is held for long. Rows undone are also forgotten by the enclosing
// journals, which would otherwise delete their ids again (a row id can be
// given to a new row once its row is gone).
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

struct sqlite3;

namespace velmo::db {

class Connection;

class WriteJournal {
 public:
  WriteJournal();
  ~WriteJournal();
  WriteJournal(const WriteJournal&) = delete;
  WriteJournal& operator=(const WriteJournal&) = delete;

  // Rows noted and not undone yet.
  size_t Count() const;

  // What Undo could not do.
  struct UndoFailure {
    std::filesystem::path file;
    std::string table;
    size_t rowsLeft = 0;  // noted rows of that table still in the file
    int32_t number = 0;
    std::string description;
  };
  // Deletes every noted row and forgets it; true when all are gone. A table
  // whose delete fails keeps its remaining rows noted (a later Undo tries
  // again) and gives one failure; the other tables are still undone.
  bool Undo(std::vector<UndoFailure>* failures = nullptr);

  // Forgets the noted rows without deleting them.
  void Clear();

 private:
  friend void NoteWrittenRows(const std::filesystem::path& file, const std::string& table,
                              const std::vector<int64_t>& rowIds);
  std::map<std::pair<std::string, std::string>, std::vector<int64_t>> rows_;
  size_t count_ = 0;
};

// Called by the recordsets when rows reached the file: notes the ids that
// are not 0 in every journal alive on this thread.
void NoteWrittenRows(const std::filesystem::path& file, const std::string& table, const std::vector<int64_t>& rowIds);

// ---- Rows of unfinished work, recorded in the file ------------------------
//
// Work that commits several pages of what readers take for one page (the
// recipients of every container of a server, one container at a time)
// must not leave the pages it committed looking collected when it ends
// before its last one: killed between two commits, or its take-back
// (WriteJournal::Undo) refused because another program held the file's
// write lock past the wait. While an UnfinishedRows record lives on a
// thread, every page commit (PageWrite) of that thread into the record's
// file also writes, in the same transaction, the row ids it wrote, by
// table, under the record's server into the file's table
// kUnfinishedRowsTable: the rows and their record reach the file together.
// Finish removes the record once the work is whole or its rows are taken
// back. A record still in the file names rows that no reader may take for
// a collected page: RemoveUnfinishedRows deletes them, with the record.
// The table has a ServerName column, so clearing a server's rows from
// every table clears its records too.
inline constexpr const char* kUnfinishedRowsTable = "VELMORCUnfinishedRows";

namespace detail {
// Called by a page commit before it commits: writes on h the runs of row
// ids by table into the records alive on this thread for the file.
void RecordUnfinishedRows(sqlite3* h, const std::filesystem::path& file,
                          const std::map<std::string, std::vector<std::pair<int64_t, int64_t>>>& written);
}  // namespace detail

class UnfinishedRows {
 public:
  // The database file by its connection string (or path).
  UnfinishedRows(const std::string& connectionString, const std::string& server);
  ~UnfinishedRows();  // the record stays in the file
  UnfinishedRows(const UnfinishedRows&) = delete;
  UnfinishedRows& operator=(const UnfinishedRows&) = delete;

  // Removes the record from the file (nothing to do when no commit wrote
  // any of it). Throws ComError; the record then stays.
  void Finish();
  // Ends work that wrote a server's whole page of one table (every
  // container's rows): in one transaction, the rows of the record's server
  // in that table that the record does not name (what other work wrote
  // there before, one container at a time) are deleted, the record is
  // removed, and the page is marked collected whole (PageCollectedWhole).
  // Throws ComError; then nothing of it is done and the record stays.
  void FinishWholePage(const std::string& table);
  // Whether a commit wrote rows under this record that Finish has not
  // removed yet.
  bool InFile() const { return inFile_; }

 private:
  friend void detail::RecordUnfinishedRows(
      sqlite3* h, const std::filesystem::path& file,
      const std::map<std::string, std::vector<std::pair<int64_t, int64_t>>>& written);
  std::filesystem::path file_;
  std::string server_;
  std::string collection_;  // what tells this record's entries from others'
  bool inFile_ = false;
};

// Deletes the rows that records left in the file name (of one server, or of
// every server when server is empty), keeping to rows of the record's
// server, and the records, in one transaction; returns the rows deleted.
// Without wait, a file that another connection holds locked fails at once
// instead of being waited for. The records are looked for first: a file
// without any is not locked for writing. Throws ComError.
long RemoveUnfinishedRows(const std::string& connectionString, const std::string& server, bool wait = true);
// Whether records in the file of the connection name rows of the server (of
// that table, when one is given). False when there is no such record or it
// cannot be read.
bool HasUnfinishedRows(Connection& conn, const std::string& server, const std::string& table = "");

// ---- Pages collected whole, recorded in the file ---------------------------
//
// A server's page that one task writes for every container at once
// (its Server Recipients) shares its table with the pages of single
// containers, so rows in that table say nothing of whether the whole page
// was ever collected. UnfinishedRows::FinishWholePage marks it, by server
// and table, in kCollectedPagesTable. The table has a ServerName column, so
// clearing a server's rows from every table clears its marks too; a file
// without the table (made before it was used) has no page marked.
inline constexpr const char* kCollectedPagesTable = "VELMORCCollectedPages";

// Whether the file of the connection marks the server's page of that table
// collected whole. Throws ComError when the file cannot be read.
bool PageCollectedWhole(Connection& conn, const std::string& server, const std::string& table);

}  // namespace velmo::db
