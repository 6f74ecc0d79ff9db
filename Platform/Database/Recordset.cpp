// Recordsets: the rows of one statement, read once when first asked for and
// kept with their keys, so a caller can update or delete while it walks
// them; rows added through a recordset are buffered and written together.
#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unordered_map>
#include <unordered_set>

#include "DbInternal.h"
#include "PageWrite.h"
#include "WriteJournal.h"

namespace velmo::db {

using detail::Throw;

namespace {

constexpr uint32_t kNullBit = 1u << 31;
constexpr size_t kBlockBytes = 2 << 20;
constexpr size_t kFlushRows = 1000;

[[noreturn]] void ThrowClosed() { Throw(kDbClosed, "Operation is not allowed when the object is closed."); }
[[noreturn]] void ThrowNoCurrent() {
  Throw(kDbNoCurrentRecord,
        "Either BOF or EOF is True, or the current record has been deleted. Requested operation requires a current "
        "record.");
}
[[noreturn]] void ThrowNotFound() {
  Throw(kDbItemNotFound, "Item cannot be found in the collection corresponding to the requested name or ordinal.");
}
[[noreturn]] void ThrowNotUpdatable() {
  Throw(kDbNotUpdatable,
        "Current Recordset does not support updating. This may be a limitation of the provider, or of the selected "
        "locktype.");
}

// The rows read, in blocks that are never moved once filled, so a grid's
// worth of rows costs no copying as it grows. Blocks are large and ask for
// huge pages: first touches of fresh memory are most of the cost of reading
// many rows.
class Arena {
 public:
  Arena() = default;
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;
  ~Arena() { Clear(); }

  // n bytes, 4-byte aligned.
  char* Alloc(size_t n) {
    n = (n + 3) & ~size_t(3);
    if (n > left_) {
      size_t size = std::max(kBlockBytes, (n + kBlockBytes - 1) / kBlockBytes * kBlockBytes);
      void* p = std::aligned_alloc(kBlockBytes, size);
      if (!p) throw std::bad_alloc();
      ::madvise(p, size, MADV_HUGEPAGE);
      blocks_.push_back(static_cast<char*>(p));
      next_ = static_cast<char*>(p);
      left_ = size;
    }
    char* p = next_;
    next_ += n;
    left_ -= n;
    return p;
  }
  void Clear() {
    for (char* b : blocks_) std::free(b);
    blocks_.clear();
    next_ = nullptr;
    left_ = 0;
  }

 private:
  std::vector<char*> blocks_;
  char* next_ = nullptr;
  size_t left_ = 0;
};

}  // namespace

struct Recordset::Impl {
  Recordset* owner = nullptr;
  Connection* conn = nullptr;
  std::unique_ptr<Connection> ownConn;
  Connection::Impl* ci = nullptr;
  bool open = false;

  // The statement, in the engine's dialect, and what it reads.
  std::string sql;
  std::vector<Value> params;
  detail::SelectShape shape;
  bool updatable = false;  // one table, its rows' keys read with them
  detail::Stmt readStmt;   // the key comes last when updatable
  size_t nf = 0;
  std::vector<std::string> baseColumn;  // per field: column of the table, "" for an expression
  std::unordered_map<std::string, int> byName;
  Fields fields;

  // Rows read: a row version lies in the arena at base, nf+1 offsets into
  // its text (the last closes the last field; kNullBit marks Null) followed
  // by the texts.
  struct Row {
    int64_t rowid = 0;
    uint64_t mark = 0;  // transaction mark of the write that added it, 0 outside one
    const char* base = nullptr;
    bool deleted = false;
    bool written = true;  // false while an added row waits in the buffer
  };
  bool loaded = false;
  Arena data;
  std::vector<Row> rows;
  long live = 0;
  long pos = 0;  // -1 before the first row, rows.size() after the last

  // The current row's values, decoded when read.
  std::vector<Value> cur;
  std::vector<char> have;
  long curPos = -2;

  enum class Mode { None, Edit, Add } mode = Mode::None;
  std::vector<Value> edit;
  std::vector<char> edited;

  // Added rows not yet written, and their place among the rows read (-1
  // when the rows were not read yet).
  std::vector<std::vector<Value>> pending;
  std::vector<long> pendingRow;
  detail::Stmt insertStmt;
  std::string insertText;
  std::vector<int> insertFields;
  // Rows written before the first read: shown by it even when the
  // statement's condition leaves them out.
  std::vector<std::pair<int64_t, uint64_t>> writtenBeforeRead;
  // Before the first read, the last added row is the current one.
  bool atAdded = false;
  std::vector<Value> lastAdded;
  int64_t lastWrittenRowid = 0;
  // Set by the first flush that fails: nothing more is written.
  bool writeFailed = false;
  int32_t failNumber = 0;
  std::string failText;
  size_t notWritten = 0;  // added rows not written because writing failed

  // ---- life cycle ---------------------------------------------------------

  void RequireOpen() const {
    if (!open) ThrowClosed();
  }

  void RequireWritable() const {
    RequireOpen();
    if (!updatable || owner->LockType == adLockReadOnly) ThrowNotUpdatable();
  }

  void Open(const std::string& text, Connection& c, const std::vector<Value>& values, int cursorType, int lockType) {
    if (open) Throw(kDbAlreadyOpen, "Operation is not allowed when the object is open.");
    c.impl().RequireOpen();
    if (cursorType != adOpenUnspecified) owner->CursorType = cursorType;
    if (lockType != adLockUnspecified) owner->LockType = lockType;
    if (owner->CursorType == adOpenUnspecified) owner->CursorType = adOpenForwardOnly;
    if (owner->LockType == adLockUnspecified) owner->LockType = adLockReadOnly;

    Connection::Impl* cimpl = &c.impl();
    std::string translated = detail::TranslateJet(text);
    detail::SelectShape sh = detail::AnalyzeSelect(translated);
    detail::Stmt st;
    bool keyed = false;
    if (sh.singleTable) {
      std::string withKey = translated.substr(0, sh.listEnd) + ", _rowid_ " + translated.substr(sh.listEnd);
      try {
        st = cimpl->PrepareCachedQuery(withKey);
        keyed = true;
      } catch (const ComError&) {
        // A view or a table without keys: read-only.
      }
    }
    if (!keyed) st = cimpl->PrepareCachedQuery(translated);
    int columns = sqlite3_column_count(st.get());
    if (columns == 0) {
      // An action statement: run it; the recordset stays closed.
      cimpl->FlushAll();
      st.Bind(values);
      while (st.Step()) {
      }
      return;
    }
    st.Bind(values);  // checks the number of values now

    sql = std::move(translated);
    params = values;
    shape = std::move(sh);
    readStmt = std::move(st);
    nf = static_cast<size_t>(keyed ? columns - 1 : columns);
    if (keyed) {
      // The key must really be the table's own.
      const char* t = sqlite3_column_table_name(readStmt.get(), columns - 1);
      if (!t || detail::CompareNoCase(t, shape.table) != 0) {
        readStmt = cimpl->PrepareCachedQuery(sql);
        keyed = false;
        nf = static_cast<size_t>(columns);
      }
    }
    updatable = keyed;
    baseColumn.assign(nf, std::string());
    byName.clear();
    auto& list = fields.list_;
    list.clear();
    list.resize(nf);
    for (size_t i = 0; i < nf; ++i) {
      int col = static_cast<int>(i);
      Field& f = list[i];
      f.rs_ = owner;
      f.index_ = col;
      const char* name = sqlite3_column_name(readStmt.get(), col);
      f.name_ = name ? name : "";
      f.size_ = detail::WidthOfDeclType(sqlite3_column_decltype(readStmt.get(), col));
      byName.emplace(detail::FieldKey(f.name_), col);
      if (updatable) {
        const char* table = sqlite3_column_table_name(readStmt.get(), col);
        const char* origin = sqlite3_column_origin_name(readStmt.get(), col);
        if (table && origin && detail::CompareNoCase(table, shape.table) == 0) baseColumn[i] = origin;
      }
    }
    conn = &c;
    ci = cimpl;
    ci->recordsets.push_back(this);
    open = true;
    loaded = false;
    writeFailed = false;
    failNumber = 0;
    failText.clear();
    notWritten = 0;
    pos = 0;
    mode = Mode::None;
    atAdded = false;
  }

  void Close() {
    RequireOpen();
    std::exception_ptr err;
    try {
      if (mode != Mode::None) Update();
    } catch (...) {
      err = std::current_exception();
    }
    try {
      Flush();
    } catch (const ComError& e) {
      if (!err) {
        // One error names how many added rows the failure cost.
        std::string text = e.Description();
        if (writeFailed) text += " " + std::to_string(notWritten) + " added rows were not written.";
        err = std::make_exception_ptr(ComError(e.Number(), text));
      }
    }
    if (!err && writeFailed)
      err = std::make_exception_ptr(
          ComError(failNumber, failText + " " + std::to_string(notWritten) + " added rows were not written."));
    Release();
    if (ownConn) {
      try {
        ownConn->Close();
      } catch (...) {
        if (!err) err = std::current_exception();
      }
      ownConn.reset();
    }
    if (err) std::rethrow_exception(err);
  }

  // Lets go of the connection and everything read, without writing.
  void Release() {
    readStmt.Finalize();
    insertStmt.Finalize();
    insertFields.clear();
    insertText.clear();
    if (ci) {
      auto& v = ci->recordsets;
      for (size_t i = 0; i < v.size(); ++i)
        if (v[i] == this) {
          v.erase(v.begin() + static_cast<long>(i));
          break;
        }
    }
    ci = nullptr;
    conn = nullptr;
    open = false;
    fields.list_.clear();
    byName.clear();
    DropRows();
    pending.clear();
    pendingRow.clear();
    writtenBeforeRead.clear();
    edit.clear();
    edited.clear();
    lastAdded.clear();
    mode = Mode::None;
    atAdded = false;
  }

  void DropRows() {
    loaded = false;
    data.Clear();
    rows.clear();
    rows.shrink_to_fit();
    live = 0;
    pos = 0;
    curPos = -2;
  }

  // ---- rows ---------------------------------------------------------------

  void StoreFromStatement(sqlite3_stmt* s, Row& row) {
    thread_local std::vector<std::pair<const char*, size_t>> cells;
    cells.resize(nf);
    size_t total = 0;
    for (size_t i = 0; i < nf; ++i) {
      int col = static_cast<int>(i);
      if (sqlite3_column_type(s, col) == SQLITE_NULL) {
        cells[i] = {nullptr, 0};
      } else {
        auto text = reinterpret_cast<const char*>(sqlite3_column_text(s, col));
        size_t bytes = static_cast<size_t>(sqlite3_column_bytes(s, col));
        cells[i] = {text ? text : "", text ? bytes : 0};
        total += cells[i].second;
      }
    }
    Place(row, total, [&](size_t i) { return cells[i]; });
  }

  void StoreValues(const std::vector<Value>& v, Row& row) {
    size_t total = 0;
    for (size_t i = 0; i < nf && i < v.size(); ++i) total += v[i].Text().size();
    Place(row, total, [&](size_t i) -> std::pair<const char*, size_t> {
      if (i >= v.size() || v[i].IsNull()) return {nullptr, 0};
      return {v[i].Text().data(), v[i].Text().size()};
    });
  }

  template <class Cell>
  void Place(Row& row, size_t total, Cell cell) {
    if (total >= kNullBit) Throw(E_FAIL_, "Record is too large.");
    size_t head = (nf + 1) * sizeof(uint32_t);
    char* base = data.Alloc(head + total);
    auto* offs = reinterpret_cast<uint32_t*>(base);
    char* text = base + head;
    uint32_t at = 0;
    for (size_t i = 0; i < nf; ++i) {
      auto [p, size] = cell(i);
      if (!p) {
        offs[i] = at | kNullBit;
      } else {
        offs[i] = at;
        if (size) std::memcpy(text + at, p, size);
        at += static_cast<uint32_t>(size);
      }
    }
    offs[nf] = at;
    row.base = base;
  }

  void Decode(const Row& row, size_t i, Value& out) const {
    auto* offs = reinterpret_cast<const uint32_t*>(row.base);
    uint32_t b = offs[i], e = offs[i + 1] & ~kNullBit;
    if (b & kNullBit) {
      out = Value();
    } else {
      out = Value(std::string_view(row.base + (nf + 1) * sizeof(uint32_t) + b, e - b));
    }
  }

  // Reads the statement's rows (after writing everything buffered on the
  // connection, so the rows added through this recordset are among them).
  void Load() {
    ci->RequireOpen();
    ci->FlushAll();
    DropRows();
    readStmt.Reset();
    readStmt.Bind(params);
    sqlite3_stmt* s = readStmt.get();
    int keyCol = static_cast<int>(nf);
    try {
      while (readStmt.Step()) {
        Row r;
        StoreFromStatement(s, r);
        if (updatable) r.rowid = sqlite3_column_int64(s, keyCol);
        rows.push_back(r);
      }
    } catch (...) {
      readStmt.Reset();
      DropRows();
      throw;
    }
    readStmt.Reset();
    if (updatable && !writtenBeforeRead.empty()) AddRowsLeftOut();
    writtenBeforeRead.clear();
    loaded = true;
    live = static_cast<long>(rows.size());
    pos = 0;
    if (atAdded && lastWrittenRowid != 0) {
      for (size_t i = rows.size(); i-- > 0;)
        if (rows[i].rowid == lastWrittenRowid) {
          pos = static_cast<long>(i);
          break;
        }
    }
    atAdded = false;
    lastAdded.clear();
    curPos = -2;
  }

  // Rows this recordset added before its first read that the statement's
  // condition does not select: they belong to the recordset all the same.
  void AddRowsLeftOut() {
    std::unordered_set<int64_t> seen;
    seen.reserve(rows.size());
    for (auto& r : rows) seen.insert(r.rowid);
    std::string list = sql.substr(shape.listBegin, shape.listEnd - shape.listBegin);
    detail::Stmt one =
        ci->Prepare("SELECT " + list + ", _rowid_ FROM " + detail::QuoteIdent(shape.table) + " WHERE _rowid_ = ?");
    for (auto& [rowid, mark] : writtenBeforeRead) {
      if (seen.count(rowid)) continue;
      sqlite3_reset(one.get());
      sqlite3_bind_int64(one.get(), 1, rowid);
      if (one.Step()) {
        Row r;
        StoreFromStatement(one.get(), r);
        r.rowid = rowid;
        r.mark = mark;
        rows.push_back(r);
        seen.insert(rowid);
      }
    }
    one.Reset();
  }

  void EnsureLoaded() {
    if (!loaded) Load();
  }

  bool HasCurrent() const { return pos >= 0 && pos < static_cast<long>(rows.size()); }

  void RequireCurrent() const {
    if (!HasCurrent() || live == 0) ThrowNoCurrent();
    if (rows[pos].deleted)
      Throw(kDbRowDeleted, "Row handle referred to a deleted row or a row marked for deletion.");
  }

  const Value& FieldValue(int i) {
    RequireOpen();
    if (i < 0 || static_cast<size_t>(i) >= nf) ThrowNotFound();
    if (mode == Mode::Add) return edit[i];
    if (mode == Mode::Edit && edited[i]) return edit[i];
    if (!loaded) {
      if (atAdded) return pending.empty() ? lastAdded[i] : pending.back()[i];
      Load();
    }
    RequireCurrent();
    if (curPos != pos) {
      cur.assign(nf, Value());
      have.assign(nf, 0);
      curPos = pos;
    }
    if (!have[i]) {
      Decode(rows[pos], static_cast<size_t>(i), cur[i]);
      have[i] = 1;
    }
    return cur[i];
  }

  void Assign(int i, const Value& v) {
    RequireWritable();
    if (i < 0 || static_cast<size_t>(i) >= nf) ThrowNotFound();
    if (baseColumn[i].empty())
      Throw(kDbNotUpdatable,
            "Field '" + fields.list_[i].name_ + "' is based on an expression and cannot be edited.");
    if (mode == Mode::None) {
      EnsureLoaded();
      RequireCurrent();
      mode = Mode::Edit;
      edit.assign(nf, Value());
      edited.assign(nf, 0);
    }
    edit[i] = v;
    if (mode == Mode::Edit) edited[i] = 1;
  }

  // ---- adding -------------------------------------------------------------

  void BeginAdd() {
    RequireWritable();
    if (mode != Mode::None) Update();
    mode = Mode::Add;
    edit.assign(nf, Value());
  }

  void PushAdded(std::vector<Value>&& row) {
    if (writeFailed) {
      ++notWritten;
      ThrowWriteFailed();
    }
    row.resize(nf);
    pending.push_back(std::move(row));
    if (loaded) {
      Row r;
      StoreValues(pending.back(), r);
      r.written = false;
      rows.push_back(r);
      ++live;
      pos = static_cast<long>(rows.size()) - 1;
      curPos = -2;
      pendingRow.push_back(pos);
    } else {
      pendingRow.push_back(-1);
      atAdded = true;
    }
    if (pending.size() >= kFlushRows) Flush();
  }

  // The statement that appends a row: every column the recordset reads
  // from its table, once.
  void PrepareInsert() {
    if (insertText.empty()) ComposeInsert();
    insertStmt = ci->PrepareCached(insertText);
  }
  void ComposeInsert() {
    std::string cols, marks;
    insertFields.clear();
    for (size_t i = 0; i < nf; ++i) {
      if (baseColumn[i].empty()) continue;
      bool dup = false;
      for (int k : insertFields)
        if (detail::CompareNoCase(baseColumn[k], baseColumn[i]) == 0) dup = true;
      if (dup) continue;
      if (!cols.empty()) {
        cols += ',';
        marks += ',';
      }
      cols += detail::QuoteIdent(baseColumn[i]);
      marks += '?';
      insertFields.push_back(static_cast<int>(i));
    }
    std::string text = cols.empty() ? "INSERT INTO " + detail::QuoteIdent(shape.table) + " DEFAULT VALUES"
                                    : "INSERT INTO " + detail::QuoteIdent(shape.table) + " (" + cols +
                                          ") VALUES (" + marks + ")";
    insertText = std::move(text);
  }

  // Writes the buffered rows in one short transaction, or inside the
  // connection's transaction when one is open. A row the table refuses (a
  // constraint) is left out and reported after the others are written. Any
  // other failure (a full disk, a file locked past the wait, a read-only
  // file) fails the whole flush and ends this recordset's writing: its rows
  // and every row added later count as not written, and later adds fail at
  // once, so a failure costs one attempt and not one per row. Rows of a
  // recordset that was not read go to the thread's page of the file when
  // one is held open (PageWrite), and reach the file with it.
  void Flush() {
    if (pending.empty()) return;
    if (writeFailed) {
      AbandonPending();
      ThrowWriteFailed();
    }
    ci->RequireOpen();
    sqlite3* h = ci->h;
    const bool own = ci->depth == 0 || sqlite3_get_autocommit(h);
    std::vector<int64_t> ids(pending.size(), 0);
    int firstRc = SQLITE_OK;
    std::string firstMsg;
    try {
      if (!loaded && own) {
        if (insertText.empty()) ComposeInsert();
        if (detail::HoldForPage(ci->path, shape.table, insertText, pending, insertFields)) {
          if (atAdded) lastAdded = std::move(pending.back());
          pending.clear();
          pendingRow.clear();
          return;
        }
      }
      if (!insertStmt) PrepareInsert();
      if (own) ci->ExecCached("BEGIN IMMEDIATE");
      sqlite3_stmt* s = insertStmt.get();
      for (size_t r = 0; r < pending.size(); ++r) {
        const auto& row = pending[r];
        int p = 1;
        for (int i : insertFields) {
          const Value& v = row[i];
          if (v.IsNull())
            sqlite3_bind_null(s, p++);
          else
            sqlite3_bind_text(s, p++, v.Text().data(), static_cast<int>(v.Text().size()), SQLITE_STATIC);
        }
        int rc = sqlite3_step(s);
        if (rc == SQLITE_DONE) {
          ids[r] = sqlite3_last_insert_rowid(h);
        } else {
          std::string msg = sqlite3_errmsg(h);
          sqlite3_reset(s);
          if ((rc & 0xFF) != SQLITE_CONSTRAINT || sqlite3_get_autocommit(h)) detail::ThrowCode(rc, msg, ci->path);
          if (firstRc == SQLITE_OK) {
            firstRc = rc;
            firstMsg = msg;
          }
        }
        sqlite3_reset(s);
      }
      sqlite3_clear_bindings(s);
      if (own) ci->ExecCached("COMMIT");
    } catch (const ComError& e) {
      if (insertStmt) {
        sqlite3_reset(insertStmt.get());
        sqlite3_clear_bindings(insertStmt.get());
      }
      if (own && !sqlite3_get_autocommit(h)) sqlite3_exec(h, "ROLLBACK", nullptr, nullptr, nullptr);
      // Rows inserted inside the caller's transaction, still open, stay in
      // it; otherwise nothing of this flush is in the file.
      if (own || sqlite3_get_autocommit(h)) std::fill(ids.begin(), ids.end(), 0);
      EndWriting(ids, e);
      ThrowWriteFailed();
    }
    NoteWrittenRows(ci->path, shape.table, ids);
    uint64_t mark = ci->CurrentMark();
    for (size_t r = 0; r < pending.size(); ++r) {
      long at = pendingRow[r];
      if (ids[r] != 0) {
        lastWrittenRowid = ids[r];
        if (at >= 0) {
          rows[at].rowid = ids[r];
          rows[at].mark = mark;
          rows[at].written = true;
        } else {
          writtenBeforeRead.emplace_back(ids[r], mark);
        }
      } else if (at >= 0 && !rows[at].deleted) {
        // The engine refused this row: it is not in the file.
        rows[at].deleted = true;
        --live;
      }
    }
    if (atAdded) lastAdded = std::move(pending.back());
    pending.clear();
    pendingRow.clear();
    if (firstRc != SQLITE_OK) detail::ThrowCode(firstRc, firstMsg, ci->path);
  }

  // A flush failed: the rows written before the failure (inside the
  // caller's transaction) keep their place, the others are dropped and
  // counted, and nothing more is written through this recordset.
  void EndWriting(const std::vector<int64_t>& ids, const ComError& e) {
    writeFailed = true;
    failNumber = e.Number();
    failText = e.Description();
    uint64_t mark = ci->CurrentMark();
    for (size_t r = 0; r < pending.size(); ++r) {
      if (ids[r] == 0) continue;
      long at = pendingRow[r];
      lastWrittenRowid = ids[r];
      if (at >= 0) {
        rows[at].rowid = ids[r];
        rows[at].mark = mark;
        rows[at].written = true;
        pendingRow[r] = -2;  // written: not abandoned below
      } else {
        writtenBeforeRead.emplace_back(ids[r], mark);
        pendingRow[r] = -2;
      }
    }
    AbandonPending();
  }

  // Drops the buffered rows that were not written, counting them.
  void AbandonPending() {
    for (size_t r = 0; r < pending.size(); ++r) {
      long at = pendingRow[r];
      if (at == -2) continue;
      ++notWritten;
      if (at >= 0 && !rows[at].deleted) {
        rows[at].deleted = true;
        --live;
      }
    }
    if (atAdded && !pending.empty()) lastAdded = std::move(pending.back());
    pending.clear();
    pendingRow.clear();
    curPos = -2;
  }

  [[noreturn]] void ThrowWriteFailed() const { Throw(failNumber, failText); }

  // ---- changing -----------------------------------------------------------

  void Update() {
    RequireOpen();
    if (mode == Mode::Add) {
      mode = Mode::None;
      PushAdded(std::move(edit));
      edit.clear();
    } else if (mode == Mode::Edit) {
      WriteEdit();
    }
  }

  // Writes the assigned fields of the current row. A failure that retrying
  // cannot mend (the row is gone) drops the change; a locked file keeps it.
  void WriteEdit() {
    ci->FlushAll();
    if (!HasCurrent() || live == 0 || rows[pos].deleted) {
      DropEdit();
      RequireCurrent();
    }
    Row& r = rows[pos];
    std::string set;
    std::vector<Value> values;
    for (size_t i = 0; i < nf; ++i) {
      if (!edited[i]) continue;
      if (!set.empty()) set += ',';
      set += detail::QuoteIdent(baseColumn[i]) + "=?";
      values.push_back(edit[i]);
    }
    if (set.empty()) {
      DropEdit();
      return;
    }
    detail::Stmt st = ci->PrepareCached("UPDATE " + detail::QuoteIdent(shape.table) + " SET " + set + " WHERE _rowid_=?");
    values.push_back(Value(static_cast<int64_t>(r.rowid)));
    // The key binds as a number.
    st.Bind(values);
    sqlite3_bind_int64(st.get(), static_cast<int>(values.size()), r.rowid);
    while (st.Step()) {
    }
    if (sqlite3_changes(ci->h) == 0) {
      DropEdit();
      Throw(kDbRowNotFound,
            "Row cannot be located for updating. Some values may have been changed since it was last read.");
    }
    std::vector<Value> merged(nf);
    for (size_t i = 0; i < nf; ++i) {
      if (edited[i])
        merged[i] = edit[i];
      else
        Decode(r, i, merged[i]);
    }
    StoreValues(merged, r);
    curPos = -2;
    DropEdit();
  }

  void DropEdit() {
    mode = Mode::None;
    edit.clear();
    edited.clear();
  }

  void Delete() {
    RequireWritable();
    if (mode != Mode::None) {
      // Deleting the row being added or edited drops the change.
      bool adding = mode == Mode::Add;
      mode = Mode::None;
      edit.clear();
      edited.clear();
      if (adding) return;
    }
    EnsureLoaded();
    RequireCurrent();
    ci->FlushAll();
    Row& r = rows[pos];
    if (r.deleted) return;  // refused by the engine when written
    detail::Stmt st = ci->PrepareCached("DELETE FROM " + detail::QuoteIdent(shape.table) + " WHERE _rowid_=?");
    sqlite3_bind_int64(st.get(), 1, r.rowid);
    while (st.Step()) {
    }
    r.deleted = true;
    --live;
    curPos = -2;
  }

  void CancelUpdate() {
    RequireOpen();
    mode = Mode::None;
    edit.clear();
    edited.clear();
  }

  // ---- moving -------------------------------------------------------------

  void BeforeMove() {
    RequireOpen();
    if (mode != Mode::None) Update();
    EnsureLoaded();
  }

  long NextLive(long from) const {
    for (long i = std::max(from, 0L); i < static_cast<long>(rows.size()); ++i)
      if (!rows[i].deleted) return i;
    return static_cast<long>(rows.size());
  }

  long PrevLive(long from) const {
    for (long i = std::min(from, static_cast<long>(rows.size()) - 1); i >= 0; --i)
      if (!rows[i].deleted) return i;
    return -1;
  }

  bool IsEof() {
    RequireOpen();
    if (!loaded) {
      if (atAdded) return false;
      Load();
      pos = NextLive(pos);
    }
    return live == 0 || pos >= static_cast<long>(rows.size());
  }

  bool IsBof() {
    RequireOpen();
    if (!loaded) {
      if (atAdded) return false;
      Load();
      pos = NextLive(pos);
    }
    return live == 0 || pos < 0;
  }

  void MoveFirst() {
    BeforeMove();
    pos = NextLive(0);
  }

  void MoveLast() {
    BeforeMove();
    long p = PrevLive(static_cast<long>(rows.size()) - 1);
    pos = p < 0 ? static_cast<long>(rows.size()) : p;
  }

  void MoveNext() {
    BeforeMove();
    if (live == 0 || pos >= static_cast<long>(rows.size())) ThrowNoCurrent();
    pos = NextLive(pos + 1);
  }

  void MovePrevious() {
    BeforeMove();
    if (live == 0 || pos < 0) ThrowNoCurrent();
    pos = PrevLive(pos - 1);
  }

  long Count() {
    RequireOpen();
    EnsureLoaded();
    return live;
  }

  void Requery() {
    RequireOpen();
    if (mode != Mode::None) Update();
    ci->FlushAll();
    DropRows();
    writtenBeforeRead.clear();
    atAdded = false;
    lastAdded.clear();
  }

  void ForgetRolledBack(uint64_t mark) {
    for (long at : pendingRow)
      if (at >= 0 && !rows[at].deleted) {
        rows[at].deleted = true;
        --live;
      }
    pending.clear();
    pendingRow.clear();
    for (auto& r : rows)
      if (r.written && r.mark >= mark && r.mark != 0 && !r.deleted) {
        r.deleted = true;
        --live;
      }
    std::erase_if(writtenBeforeRead, [&](const auto& w) { return w.second >= mark && w.second != 0; });
    atAdded = false;
    lastAdded.clear();
    curPos = -2;
  }
};

namespace detail {

void FlushRecordset(Recordset::Impl* rs) { rs->Flush(); }

void CloseRecordsetForConnection(Recordset::Impl* rs) {
  try {
    rs->Close();
  } catch (...) {
    if (rs->open) rs->Release();
    throw;
  }
}

void RollBackRecordsetRows(Recordset::Impl* rs, uint64_t mark) { rs->ForgetRolledBack(mark); }

}  // namespace detail

// ---- Field / Fields ---------------------------------------------------------

const Value& Field::Val() const {
  if (!rs_) ThrowClosed();
  return rs_->impl_->FieldValue(index_);
}

Field& Field::operator=(const Value& v) {
  if (!rs_) ThrowClosed();
  rs_->impl_->Assign(index_, v);
  return *this;
}

Field& Fields::operator[](long index) {
  if (index < 0 || index >= Count()) ThrowNotFound();
  return list_[static_cast<size_t>(index)];
}

Field& Fields::operator[](std::string_view name) {
  // Few fields: a walk comparing without regard to case beats a lookup that
  // folds the name first.
  for (auto& f : list_)
    if (detail::CompareNoCase(f.Name(), name) == 0) return f;
  ThrowNotFound();
}

// ---- Recordset ----------------------------------------------------------------

Recordset::Recordset() : impl_(std::make_unique<Impl>()) { impl_->owner = this; }

Recordset::~Recordset() {
  if (impl_->open) {
    try {
      impl_->Close();
    } catch (...) {
    }
  }
}

void Recordset::Open(const std::string& sql, Connection& connection, int cursorType, int lockType) {
  impl_->Open(sql, connection, {}, cursorType, lockType);
}

void Recordset::Open(const std::string& sql, Connection& connection, const std::vector<Value>& params,
                     int cursorType, int lockType) {
  impl_->Open(sql, connection, params, cursorType, lockType);
}

void Recordset::Open(const std::string& sql, const std::string& connectionString, int cursorType, int lockType) {
  if (impl_->open) Throw(kDbAlreadyOpen, "Operation is not allowed when the object is open.");
  auto own = std::make_unique<Connection>();
  own->Open(connectionString);
  impl_->Open(sql, *own, {}, cursorType, lockType);
  if (impl_->open) impl_->ownConn = std::move(own);
}

void Recordset::Close() { impl_->Close(); }
int Recordset::State() const { return impl_->open ? adStateOpen : adStateClosed; }
Connection* Recordset::ActiveConnection() const { return impl_->open ? impl_->conn : nullptr; }
bool Recordset::Eof() { return impl_->IsEof(); }
bool Recordset::Bof() { return impl_->IsBof(); }
void Recordset::MoveFirst() { impl_->MoveFirst(); }
void Recordset::MoveNext() { impl_->MoveNext(); }
void Recordset::MovePrevious() { impl_->MovePrevious(); }
void Recordset::MoveLast() { impl_->MoveLast(); }
long Recordset::RecordCount() { return impl_->Count(); }
long Recordset::RowsNotWritten() const { return static_cast<long>(impl_->notWritten); }

Fields& Recordset::GetFields() {
  impl_->RequireOpen();
  return impl_->fields;
}

void Recordset::AddNew() { impl_->BeginAdd(); }

void Recordset::AddNew(const std::vector<Value>& valuesByPosition) {
  impl_->RequireWritable();
  if (valuesByPosition.size() > impl_->nf) ThrowNotFound();
  if (impl_->mode != Impl::Mode::None) impl_->Update();
  impl_->PushAdded(std::vector<Value>(valuesByPosition));
}

void Recordset::AddNew(const std::vector<std::string>& names, const std::vector<Value>& values) {
  impl_->RequireWritable();
  std::vector<Value> row(impl_->nf);
  for (size_t k = 0; k < names.size(); ++k) {
    auto it = impl_->byName.find(detail::FieldKey(names[k]));
    if (it == impl_->byName.end()) ThrowNotFound();
    row[static_cast<size_t>(it->second)] = k < values.size() ? values[k] : Value();
  }
  if (impl_->mode != Impl::Mode::None) impl_->Update();
  impl_->PushAdded(std::move(row));
}

void Recordset::Update() { impl_->Update(); }
void Recordset::CancelUpdate() { impl_->CancelUpdate(); }
void Recordset::Delete() { impl_->Delete(); }
void Recordset::Requery() { impl_->Requery(); }

}  // namespace velmo::db
