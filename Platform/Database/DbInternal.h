#pragma once
// Internals of the database layer shared by its source files: the text
// rules registered on every connection, the Jet dialect translation, error
// mapping, a statement handle, and the Impl structures of Connection and
// Recordset.
#include <sqlite3.h>

#include <SQLiteCpp/Database.h>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Database.h"
#include "InstanceLock.h"

namespace velmo::db::detail {

// ---- Text rules -----------------------------------------------------------

// The collation every text column is declared with: the engine's built-in
// NOCASE (A-Z fold to a-z), which every other tool of the engine knows too.
inline constexpr const char* kNoCaseCollation = "NOCASE";
// The collation files of earlier builds declared their text columns with;
// still defined (full Unicode case folding) so such a file opens and its
// indexes keep their order until it is converted.
inline constexpr const char* kOldNoCaseCollation = "UNICODE_NOCASE";

// The UTF-8 text with every character case folded (simple Unicode folding).
std::string Fold(std::string_view utf8);
// <0, 0, >0 comparing two UTF-8 texts without regard to case.
int CompareNoCase(std::string_view a, std::string_view b);
// LIKE with "%" and "_" wildcards, without regard to case; escape 0 = none.
bool LikeMatch(std::string_view pattern, std::string_view text, char32_t escape);
// Registers the old collation and the LIKE override on a connection (the
// built-in NOCASE is never redefined).
void RegisterTextRules(sqlite3* h);

// ---- Dialect --------------------------------------------------------------

// Rewrites the Jet forms the engine does not take: type words text(n),
// char(n) and memo in CREATE TABLE / ALTER TABLE ADD, "delete * from".
std::string TranslateJet(std::string_view sql);

// What a SELECT reads from: updatable when it reads one table with no
// DISTINCT, join, grouping or compound. Offsets are into the text given.
struct SelectShape {
  bool isSelect = false;
  bool singleTable = false;
  std::string table;       // unquoted name of that table
  size_t listBegin = 0;    // start of the select list
  size_t listEnd = 0;      // position of the FROM keyword
};
SelectShape AnalyzeSelect(std::string_view sql);

// The statement with every "COLLATE <from>" naming <to> instead.
std::string ReplaceCollation(std::string_view sql, std::string_view from, std::string_view to);
// Offset of the "(" that opens a CREATE TABLE's column list; npos when none.
size_t ColumnListOffset(std::string_view createTable);

// `name` with any backtick doubled (the public helper).
using velmo::db::QuoteIdent;
// Width in a declared type "TEXT(255)" / "char(3)"; 0 when none.
int WidthOfDeclType(const char* decl);

// ---- Errors ---------------------------------------------------------------

[[noreturn]] void Throw(int32_t number, std::string description);
// Maps the connection's last error (code rc) to the provider's number and
// text. file names the database in messages that need it.
[[noreturn]] void ThrowSqlite(sqlite3* h, int rc, const std::filesystem::path& file = {});
// Maps an engine result code and its message.
[[noreturn]] void ThrowCode(int rc, const std::string& msg, const std::filesystem::path& file);
[[noreturn]] void ThrowSqliteException(const std::exception& e, const std::filesystem::path& file);
// The folder the engine makes its temporary files in, and the failure of a
// temporary file there for want of space, naming it.
std::filesystem::path EngineTemporaryFolder();
[[noreturn]] void ThrowTemporaryFolderFull(const std::filesystem::path& folder);

// ---- Waiting for another writer's lock -------------------------------------

// One engine handle's lock wait: the handle and when its current wait
// began.
struct LockWait {
  sqlite3* h = nullptr;
  std::chrono::steady_clock::time_point since{};
};
// Makes h wait for other writers' locks as every connection of the layer
// does (kLockWaitSeconds, the hook between short sleeps, a stop); `wait`
// lives as long as the handle.
void WaitForLocks(sqlite3* h, LockWait& wait);
// What a wait on h does between its sleeps: false on a stop signal or
// when the lock-wait hook gives the wait up; the hook runs with h marked
// as waited on (RefuseWhileWaiting), and not from inside itself.
bool RunLockWaitHook(sqlite3* h);
// Fails, as locked, a statement on a handle that this thread is waiting on
// (one run by the lock-wait hook), which the engine does not allow.
void RefuseWhileWaiting(sqlite3* h);
// True, once, when the last lock wait of this thread was given up by the
// hook or a stop signal rather than ended by the bound.
bool TakeLockWaitGivenUp();

// ---- Statements -----------------------------------------------------------

// Prepared statements of one connection kept for reuse once their user is
// done with them (reset, bindings cleared): a caller that opens the same
// recordset call after call parses its statements once.
// A statement kept is used again only while the file's schema is the one
// it was prepared on ("select *" lists the columns of then), whoever
// changed it.
struct StatementCache {
  sqlite3* h = nullptr;  // the connection's handle; null once it closed
  std::vector<std::pair<std::string, sqlite3_stmt*>> idle;
  int schema = -1;  // schema version the idle statements were prepared on
  sqlite3_stmt* schemaStmt = nullptr;
  // Drops the idle statements when the schema changed since.
  void Check();
  sqlite3_stmt* Take(std::string_view sql);
  void Give(std::string sql, sqlite3_stmt* s);
  void Clear();
  // Finalizes everything (before the connection closes).
  void Close();
};

class Stmt {
 public:
  Stmt() = default;
  Stmt(sqlite3* h, std::string_view sql, const std::filesystem::path& file = {});
  ~Stmt();
  Stmt(Stmt&& o) noexcept;
  Stmt& operator=(Stmt&& o) noexcept;
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;

  // A statement taken from (or prepared for) a connection's cache; it goes
  // back there when finalized.
  // A statement whose columns are fixed by its prepare ("select *") asks
  // for the schema check; one naming its columns is re-prepared by the
  // engine when the schema changed.
  static Stmt Cached(const std::shared_ptr<StatementCache>& cache, std::string_view sql, bool checkSchema,
                     const std::filesystem::path& file = {});

  explicit operator bool() const { return s_ != nullptr; }
  sqlite3_stmt* get() const { return s_; }
  void Bind(const std::vector<Value>& params);
  // True for a row, false when done; throws on failure (after a reset).
  bool Step();
  void Reset();
  void Finalize();

 private:
  sqlite3* h_ = nullptr;
  sqlite3_stmt* s_ = nullptr;
  std::filesystem::path file_;
  std::weak_ptr<StatementCache> home_;
  std::string key_;
};

// Runs a statement without rows (pragmas, BEGIN/COMMIT).
void ExecSimple(sqlite3* h, const char* sql, const std::filesystem::path& file = {});

// Folded key used to find fields by name.
std::string FieldKey(std::string_view name);

}  // namespace velmo::db::detail

namespace velmo::db {

struct Connection::Impl {
  Connection* owner = nullptr;
  std::unique_ptr<SQLite::Database> db;
  sqlite3* h = nullptr;
  std::filesystem::path path;
  std::string connectionString;
  std::string provider = "Microsoft.Jet.OLEDB.4.0";
  velmo::FileLock lock;
  detail::LockWait lockWait;

  // Transactions: depth of BeginTrans, and the mark of each level, so rows a
  // recordset wrote inside a level are known when that level rolls back.
  int depth = 0;
  std::vector<uint64_t> marks;
  uint64_t nextMark = 1;

  // Open recordsets using this connection.
  std::vector<Recordset::Impl*> recordsets;
  std::shared_ptr<detail::StatementCache> cache = std::make_shared<detail::StatementCache>();

  bool IsOpen() const { return h != nullptr; }
  void RequireOpen() const;
  uint64_t CurrentMark() const { return marks.empty() ? 0 : marks.back(); }
  // Writes the rows every recordset of this connection has buffered.
  void FlushAll();
  // Prepares a statement already in the engine's dialect.
  detail::Stmt Prepare(std::string_view sql) const;
  // The same, reusing a statement of the same text prepared before: a
  // query whose result columns are read (checked against the schema), or a
  // statement that names its columns.
  detail::Stmt PrepareCachedQuery(std::string_view sql) const;
  detail::Stmt PrepareCached(std::string_view sql) const;
  // Runs a statement without rows (BEGIN, COMMIT) through the statement
  // cache, so a connection that writes call after call parses it once.
  void ExecCached(std::string_view sql) const;
  // Closes every recordset, ends any transaction and the file.
  void CloseAll();
};

namespace detail {
// What a connection asks of the recordsets that use it.
void FlushRecordset(Recordset::Impl* rs);
// Closes a recordset because its connection closes; throws when its
// buffered rows could not be written.
void CloseRecordsetForConnection(Recordset::Impl* rs);
// Forgets the rows a recordset wrote inside a transaction level that
// rolled back (marks at or above the level's).
void RollBackRecordsetRows(Recordset::Impl* rs, uint64_t mark);
}  // namespace detail

}  // namespace velmo::db
