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

namespace velmo::db {

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

}  // namespace velmo::db
