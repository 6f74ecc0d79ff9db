// The write journal: rows noted per thread as the recordsets write them,
// taken back by row id.
#include "WriteJournal.h"

#include <algorithm>
#include <unordered_set>

#include "Database.h"
#include "DbInternal.h"

namespace velmo::db {

namespace {

// The journals alive on this thread, innermost last.
thread_local std::vector<WriteJournal*> tJournals;

// Rows deleted per statement: each statement is its own short transaction.
constexpr size_t kRowsPerDelete = 500;

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

}  // namespace velmo::db
