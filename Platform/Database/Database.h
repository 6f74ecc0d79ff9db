#pragma once
// The database layer: connections, recordsets and a catalog over SQLite,
// taking the Jet SQL the system writes ("text(255)", "char(3)", "memo",
// "delete * from", bracketed names) and behaving as its callers expect of a
// shared Jet file:
//  - every text column is declared with the engine's built-in NOCASE, so
//    "=", ORDER BY, DISTINCT and GROUP BY ignore the case of A-Z only
//    ("Smith" = "SMITH", but "Müller" <> "MÜLLER"), exactly as in any other
//    tool that opens the file; LIKE ignores case with Unicode folding on the
//    program's connections ("Müller" LIKE "MÜ%");
//  - a file of an earlier build, declared with the program's own collation,
//    still opens and is converted by ConvertOldTextColumns;
//  - several connections, of one process or several, use one file; a
//    recordset buffers the rows it appends and writes them in one short
//    transaction when it closes, is requeried, or holds 1,000 rows, so no
//    write transaction is held open between calls (inside BeginTrans on the
//    same connection the flush joins that transaction); the first write
//    that fails ends the recordset's writing (RowsNotWritten);
//  - every connection holds a shared lock on a companion lock file while
//    open, so compaction never runs under another user of the file;
//  - a statement that meets another writer's lock waits for it up to
//    kLockWaitSeconds, in short sleeps with the lock-wait hook called
//    between them (SetLockWaitHook), and gives the wait up at once on a
//    stop signal or when the hook asks to.
// Failures throw velmo::ComError with the provider's number and text.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ComError.h"

namespace velmo::db {

// Error numbers callers test.
inline constexpr int32_t kDbFileExists = Hr(0x80040E17);       // Catalog.Create on an existing file
inline constexpr int32_t kDbSyntaxOrExists = Hr(0x80040E14);   // bad statement; "Table 'X' already exists."
inline constexpr int32_t kDbNoSuchTable = Hr(0x80040E37);      // missing table
inline constexpr int32_t kDbItemNotFound = Hr(0x800A0CC1);     // field name or ordinal not found
inline constexpr int32_t kDbNoCurrentRecord = Hr(0x800A0BCD);  // EOF or BOF
inline constexpr int32_t kDbClosed = Hr(0x800A0E78);           // operation on a closed object
inline constexpr int32_t kDbCannotOpen = Hr(0x80004005);       // file cannot be opened or is locked
inline constexpr int32_t kDbNoValueGiven = Hr(0x80040E10);     // a name that is no column of the tables read
inline constexpr int32_t kDbNotUpdatable = Hr(0x800A0CB3);     // read-only recordset or expression field
inline constexpr int32_t kDbRowDeleted = Hr(0x80040E23);       // the current row was deleted
inline constexpr int32_t kDbRowNotFound = Hr(0x80040E38);      // the row to update is gone
inline constexpr int32_t kDbAlreadyOpen = Hr(0x800A0E79);      // Open on an open object
inline constexpr int32_t kDbNoTransaction = Hr(0x8004D00E);    // CommitTrans/RollbackTrans without BeginTrans
inline constexpr int32_t kDbIntegrity = Hr(0x80040E2F);        // a constraint of the table refused the row

// A field value: Null or text. Numbers the engine returns read as decimal
// text; all tables of the system hold text.
class Value {
 public:
  Value() = default;  // Null
  Value(std::string text) : null_(false), text_(std::move(text)) {}
  Value(const char* text) : null_(text == nullptr), text_(text ? text : "") {}
  Value(std::string_view text) : null_(false), text_(text) {}
  Value(int64_t n) : null_(false), text_(std::to_string(n)) {}
  Value(int n) : null_(false), text_(std::to_string(n)) {}
  static Value Null() { return Value(); }
  bool IsNull() const { return null_; }
  // "" for Null.
  const std::string& Text() const { return text_; }
  long Long() const;  // 0 for Null or non-numeric text
  bool operator==(const Value& o) const { return null_ == o.null_ && text_ == o.text_; }

 private:
  bool null_ = true;
  std::string text_;
};

enum CursorTypeEnum : int { adOpenUnspecified = -1, adOpenForwardOnly = 0, adOpenKeyset = 1, adOpenDynamic = 2, adOpenStatic = 3 };
enum LockTypeEnum : int { adLockUnspecified = -1, adLockReadOnly = 1, adLockPessimistic = 2, adLockOptimistic = 3, adLockBatchOptimistic = 4 };
enum StateEnum : int { adStateClosed = 0, adStateOpen = 1 };

class Connection {
 public:
  Connection();
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Opens "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=<path>" (blanks
  // around "=" allowed, any provider name accepted) or a bare path. The file
  // must exist (Catalog::Create makes new ones).
  void Open(const std::string& connectionString, const std::string& user = "",
            const std::string& password = "", long options = -1);
  // Opens an export file: a self-contained database handed to other tools
  // (the stock sqlite3 shell). No companion lock file is made or held, the
  // file is switched to the rollback journal (nothing stays beside it once
  // a transaction ends), and the program's own collation and LIKE rule are
  // not registered, so nothing written through this connection can depend
  // on them; text columns it creates carry the engine's built-in NOCASE.
  // The file must exist (CreateDatabaseFile with Journal::Rollback).
  void OpenExportFile(const std::filesystem::path& path);
  void Close();
  int State() const;
  std::string ConnectionString() const;
  std::filesystem::path FilePath() const;
  void SetProvider(const std::string& provider);
  const std::string& Provider() const;

  // Runs a statement that returns no rows; returns the number of rows changed.
  long Execute(const std::string& sql);
  // The same with values bound to "?" placeholders, in order.
  long Execute(const std::string& sql, const std::vector<Value>& params);
  // Runs one statement without rows once per row, prepared once: before
  // each run fill(row, values) sets that row's values, bound as text to the
  // placeholders in order (values keeps its size between rows). For bulk
  // inserts; the caller wraps it in a transaction. The first failing row
  // throws; the rows before it stay run.
  long ExecuteEachRow(const std::string& sql, long rows,
                      const std::function<void(long row, std::vector<std::string>& values)>& fill);

  void BeginTrans();
  void CommitTrans();
  void RollbackTrans();
  bool InTransaction() const;

  struct Impl;
  Impl& impl() const { return *impl_; }

 private:
  void OpenPath(std::filesystem::path path, bool exportFile);
  std::shared_ptr<Impl> impl_;
};

// A transaction for the life of a scope: begun when made (throwing as
// BeginTrans does), kept by Commit(). Left without Commit() (by an
// exception, a failing Commit() or a return) it is rolled back, and a
// rollback that fails is ignored, so the caller sees the first failure.
class Transaction {
 public:
  explicit Transaction(Connection& conn) : conn_(conn) { conn_.BeginTrans(); }
  ~Transaction() {
    if (committed_) return;
    try {
      conn_.RollbackTrans();
    } catch (...) {
    }
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  void Commit() {
    conn_.CommitTrans();
    committed_ = true;
  }

 private:
  Connection& conn_;
  bool committed_ = false;
};

// How long a statement waits for another connection's write lock: many
// times the longest any writer of the system holds it (the clearing of a
// large server's rows, the largest page of rows), also on a busy machine.
inline constexpr int kLockWaitSeconds = 60;
// What the waiting thread does between the sleeps of a lock wait (a
// windowed program keeps its window painted): called at least every 50 ms
// or so; false gives the wait up, and the statement then fails with "The
// operation was canceled by the user.". The hook is not called from inside
// itself, and a statement it runs on the connection that waits fails as
// locked. An empty function removes it.
void SetLockWaitHook(std::function<bool()> hook);

// A connection of the calling thread to a database file, opened on first
// use and kept for the thread's later calls, for a caller that writes a few
// rows per call (the permission rows of one directory object) and would
// otherwise pay for an open every time. Each use still writes in its own
// short transaction: the connection holds no transaction and no recordset
// between calls, so other connections and processes write in between. It
// is opened anew when the file at the path was replaced, or when the
// previous user left it closed, in a transaction or with a recordset open.
// While kept it holds the file's shared lock, like any open connection, so
// compaction by another thread or process is refused meanwhile.
Connection& ThreadConnection(const std::string& connectionString);
// Closes the calling thread's kept connections (compaction does so first).
void ReleaseThreadConnections();

class Recordset;

class Field {
 public:
  const std::string& Name() const { return name_; }
  const Value& Val() const;
  const std::string& Text() const { return Val().Text(); }
  bool IsNull() const { return Val().IsNull(); }
  // Assigns the field of the current row (or of the row being added); the
  // change is written by Update.
  Field& operator=(const Value& v);
  // Width declared in the column's type (text(n), char(n)); 0 for memo or
  // expressions. Kept as metadata, never enforced.
  int DefinedSize() const { return size_; }

 private:
  friend class Recordset;
  Recordset* rs_ = nullptr;
  int index_ = 0;
  std::string name_;
  int size_ = 0;
};

class Fields {
 public:
  long Count() const { return static_cast<long>(list_.size()); }
  // By position from 0, or by name without regard to case; an unknown one
  // throws kDbItemNotFound.
  Field& operator[](long index);
  Field& operator[](std::string_view name);
  Field& Item(long index) { return (*this)[index]; }
  Field& Item(std::string_view name) { return (*this)[name]; }

 private:
  friend class Recordset;
  std::vector<Field> list_;
};

class Recordset {
 public:
  Recordset();
  ~Recordset();  // closes (and so flushes) when still open
  Recordset(const Recordset&) = delete;
  Recordset& operator=(const Recordset&) = delete;

  int CursorType = adOpenForwardOnly;
  int LockType = adLockReadOnly;

  // Opens a statement on a connection, or on a connection of its own made
  // from a connection string. Opening "select * from T" only to append
  // reads nothing. Rows are read when first asked for; iteration runs over
  // the rows' keys as read then, so updating or deleting while iterating is
  // safe. A statement over one table (select ... from T [where ...]) can be
  // updated; others are read-only.
  void Open(const std::string& sql, Connection& connection, int cursorType = adOpenUnspecified,
            int lockType = adLockUnspecified);
  void Open(const std::string& sql, const std::string& connectionString, int cursorType = adOpenUnspecified,
            int lockType = adLockUnspecified);
  // With values bound to "?" placeholders.
  void Open(const std::string& sql, Connection& connection, const std::vector<Value>& params,
            int cursorType = adOpenUnspecified, int lockType = adLockUnspecified);
  void Close();
  int State() const;
  Connection* ActiveConnection() const;

  bool Eof();
  bool Bof();
  void MoveFirst();
  void MoveNext();
  void MovePrevious();
  void MoveLast();
  // Exact count of the rows of the statement (and of the rows appended
  // through this recordset), computed when asked.
  long RecordCount();

  Fields& GetFields();
  Field& operator[](long index) { return GetFields()[index]; }
  Field& operator[](std::string_view name) { return GetFields()[name]; }

  // Starts a new row; assign its fields, then Update.
  void AddNew();
  // Adds a whole row at once, values by column position (missing trailing
  // values are Null).
  void AddNew(const std::vector<Value>& valuesByPosition);
  // Adds a row from names and values.
  void AddNew(const std::vector<std::string>& names, const std::vector<Value>& values);
  // Writes the row being added (buffered) or the changed fields of the
  // current row (at once).
  void Update();
  void CancelUpdate();
  // Removes the current row.
  void Delete();
  // Writes what is buffered and reads the statement again.
  void Requery();

  // Rows added through this recordset that were not written because a
  // write failed (a full disk, a file locked past the wait, a read-only
  // file). The first failed write ends the recordset's writing: its rows
  // count here, every later add fails at once with the same error and
  // counts too, and Close reports the failure with this count. Still
  // readable after Close; 0 again when the recordset is opened anew.
  long RowsNotWritten() const;

  struct Impl;

 private:
  friend class Field;
  std::unique_ptr<Impl> impl_;
};

// The one quoting helper for SQL text that is passed around as text:
// 'value' with every quote doubled ("O'Neil" -> 'O''Neil').
std::string SqlQuote(std::string_view value);
// Its twin for table and column names: `name` with every backtick doubled,
// so any name a user types names exactly that table, and a column the table
// lacks fails the statement (a double-quoted one would read as a text).
std::string QuoteIdent(std::string_view name);

// Creates database files and lists their tables.
class Catalog {
 public:
  Catalog();
  ~Catalog();
  // Writes a new, empty database file at once; an existing file throws
  // kDbFileExists "Database already exists.".
  void Create(const std::string& connectionString);
  // Opens the catalog's own connection to an existing file.
  void SetActiveConnection(const std::string& connectionString);
  // Releases the file ("set the active connection to nothing").
  void ReleaseConnection();
  // Names of the tables, in creation order; the engine's own tables are
  // never listed.
  std::vector<std::string> TableNames();
  // Column names of a table, in order.
  std::vector<std::string> ColumnNames(const std::string& table);

 private:
  std::unique_ptr<Connection> conn_;
};

// Converts a file made by an earlier build, whose text columns were
// declared with a collation only this program defined ("UNICODE_NOCASE"),
// to the engine's built-in NOCASE, so every tool can query it. One
// transaction: each such table is created anew with the new declarations,
// its rows copied in row-id order keeping their row ids, and its indexes and
// triggers made again. A busy file is waited for as for any write. Returns
// the number of tables converted (0 for a file of the current form); on
// failure the file is left as it was and ComError is thrown.
int ConvertOldTextColumns(Connection& connection);

// Removes a database file and what SQLite keeps beside it (its journal, its
// log and the log's index), each when it is there; nothing is reported.
void RemoveDatabaseFiles(const std::filesystem::path& file);

// The compaction of a database file, as the Jet engine's object offers it,
// in two ways: CompactDatabase compacts the file into a new one and keeps
// the database's lock exclusively until Release() or destruction, so the
// caller can move the copy over the file before anybody opens it
// again; CompactInPlace compacts the file itself, through a copy whose
// pages it writes back, and holds nothing once it returns. Either one
// first takes that lock exclusively, so it fails while a connection made
// through this layer, in any process, has the file open.
class JetEngine {
 public:
  JetEngine();
  ~JetEngine();
  // Throws ComError when the source is in use (kDbCannotOpen, "The database
  // is in use by another process."), when this user may not write it (a
  // copy would put the user's own writable file in its place), when the
  // destination exists, or when the copy fails; a failed copy leaves no
  // file behind, its journal included. The copy gets the source's
  // permissions, and its owner where this user may give it. The calling
  // thread's kept connections (ThreadConnection) are closed first.
  void CompactDatabase(const std::string& sourceConnectionString, const std::string& destConnectionString);
  // Compacts the file itself: the source is compacted into the copy as
  // above (every row keeps its row id), and the copy's pages are then
  // written over the file's in one write transaction of the engine, through
  // its own locking, so every other connection to the file, of any
  // program, goes on with the compacted file and whatever they commit later
  // is in it; the file is never replaced, and the copy is removed. Throws
  // ComError, the file left as it was, when a connection of the program's
  // own holds it ("The database is in use by another process."), at once
  // when another program holds a lock on it or commits to it meanwhile (no
  // wait), when this user may not write it, when the copy exists, when
  // there is no room for the copy or the log, and on a stop signal or the
  // lock-wait hook's giving up ("The operation was canceled by the user.").
  // The hook runs every 20 ms or so while it works. The calling thread's
  // kept connections are closed first; nothing is held once it returns.
  void CompactInPlace(const std::string& connectionString, const std::string& copyConnectionString);
  void Release();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// Moves a database file over another, replacing it, and removes stale
// "-wal" and "-shm" files of the target. False with errno's number and text
// on failure.
bool MoveDatabaseFile(const std::filesystem::path& from, const std::filesystem::path& to, int32_t& number,
                      std::string& description);

// The path named by a connection string ("...;Data Source=<path>" or a bare
// path), "\" taken as a separator.
std::filesystem::path PathFromConnectionString(const std::string& connectionString);

// Journal mode of database files the program creates: WAL for the inventory
// database (the default), the rollback journal for export files, which must
// stay one self-contained file.
enum class Journal { Wal, Rollback };
void CreateDatabaseFile(const std::filesystem::path& path, Journal journal = Journal::Wal);

}  // namespace velmo::db
