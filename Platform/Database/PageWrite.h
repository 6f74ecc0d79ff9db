#pragma once
// A page of rows that other readers of the file see whole or not at all.
//
// While a PageWrite lives, every recordset of this thread that appends to
// the page's file hands the rows it would write (when it closes, is
// requeried or holds a buffer's worth) to the page instead, whichever
// connection it uses: one its owner opened, or one a library called on the
// same thread opened. Rows of a recordset that was read, or that writes
// inside a BeginTrans of its connection, are written as before. Pages
// nest: the rows go to the innermost page of the thread for that file.
//
// The rows held are kept in a buffer of a fixed size and, beyond it, in a
// temporary file beside the database that has no name (nothing of it stays
// when the program dies), so holding a page costs no lock of the database
// and memory that does not grow with the page. Commit writes them in the
// order they were added, in one transaction on a connection of its own:
// the write lock is held only for that, and a program killed before the
// commit ends leaves nothing of the page (the engine takes back an
// unfinished transaction). Rows written are noted by the write journals
// alive on the thread then (WriteJournal), as rows written by a recordset
// are.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace velmo::db {

class Value;

class PageWrite {
 public:
  // The database file by its connection string (or path).
  explicit PageWrite(const std::string& connectionString);
  ~PageWrite();  // drops what was not written
  PageWrite(const PageWrite&) = delete;
  PageWrite& operator=(const PageWrite&) = delete;

  // Rows held and not written yet.
  size_t Count() const;
  // Writes every row held in one transaction and forgets them: all of them
  // reach the file, or none does and ComError says why, ending with
  // "<n> added rows were not written.". Either way nothing stays held.
  // meanwhile, when given, is called every few rows while the rows are
  // written (a windowed program processes its events there; it paces its
  // own work); false gives the commit up, as "The operation was canceled
  // by the user.".
  void Commit(const std::function<bool()>& meanwhile = nullptr);
  // Forgets the rows held without writing them.
  void Discard();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// What the commits of this process took so far: how many wrote rows, the
// longest one's transaction (from taking the write lock to the end of the
// commit) with its rows, and the last one's. For the benchmarks.
struct PageWriteFigures {
  size_t pages = 0;
  double longestSeconds = 0;
  size_t longestRows = 0;
  double lastSeconds = 0;
};
PageWriteFigures PageWritesSoFar();

// Hands rows straight to the innermost page of this thread for the file
// (each row's values in the order of columns, every one a column of table;
// the others stay Null), as a recordset appending them would: for a
// writer of a few rows per call that would otherwise open a recordset per
// call. False when no page of this thread is for that file: nothing is
// done, and the caller writes its rows itself. Throws ComError when the
// rows cannot be held. A table or column that is not there fails the
// page's commit.
bool HoldRows(const std::string& connectionString, const std::string& table, const std::vector<std::string>& columns,
              const std::vector<std::vector<Value>>& rows);

namespace detail {
// Called by a recordset about to write rows to a file: true when a page of
// this thread took them (the values of fields, in order, for the statement
// insertSql of table), false when none holds rows of that file. Throws
// ComError when the rows cannot be held (the temporary file cannot be made
// or written).
bool HoldForPage(const std::filesystem::path& file, const std::string& table, const std::string& insertSql,
                 const std::vector<std::vector<Value>>& rows, const std::vector<int>& fields);
}  // namespace detail

}  // namespace velmo::db
