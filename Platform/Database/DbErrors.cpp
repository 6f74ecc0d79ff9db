// Engine failures as the provider's numbers and texts, and the statement
// handle every part of the layer uses.
#include <SQLiteCpp/Exception.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "DbInternal.h"

namespace velmo::db::detail {

namespace {

// Strips brackets, quotes and a "main." prefix from a name in an engine message.
std::string CleanName(std::string name) {
  while (!name.empty() && (name.back() == ' ' || name.back() == '.')) name.pop_back();
  if (name.rfind("main.", 0) == 0) name.erase(0, 5);
  if (name.size() >= 2 && ((name.front() == '[' && name.back() == ']') || (name.front() == '"' && name.back() == '"') ||
                           (name.front() == '`' && name.back() == '`')))
    name = name.substr(1, name.size() - 2);
  return name;
}

std::string FileText(const std::filesystem::path& file) { return file.empty() ? std::string() : file.string(); }

}  // namespace

void Throw(int32_t number, std::string description) { throw ComError(number, std::move(description)); }

void ThrowCode(int rc, const std::string& msg, const std::filesystem::path& file) {
  int primary = rc & 0xFF;
  const std::string f = FileText(file);
  switch (primary) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      if (TakeLockWaitGivenUp()) Throw(Hr(0x800704C7), "The operation was canceled by the user.");
      Throw(kDbCannotOpen, "Could not update; currently locked.");
    case SQLITE_READONLY:
      Throw(kDbCannotOpen, "Cannot update. Database or object is read-only.");
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
      Throw(kDbCannotOpen, "Unrecognized database format '" + f + "'.");
    case SQLITE_CANTOPEN:
      Throw(kDbCannotOpen, "Could not find file '" + f + "'.");
    case SQLITE_FULL:
      Throw(kDbCannotOpen, "Not enough space on disk.");
    case SQLITE_IOERR:
      Throw(kDbCannotOpen, "Disk or network error.");
    case SQLITE_CONSTRAINT:
      Throw(kDbIntegrity, msg);
    case SQLITE_TOOBIG:
    case SQLITE_NOMEM:
      Throw(kDbCannotOpen, "Not enough memory to complete the operation.");
    default:
      break;
  }
  static const std::string kNoTable = "no such table: ";
  static const std::string kNoColumn = "no such column: ";
  if (msg.rfind(kNoTable, 0) == 0) {
    std::string name = CleanName(msg.substr(kNoTable.size()));
    Throw(kDbNoSuchTable, "The database engine cannot find the input table or query '" + name +
                              "'. Make sure it exists and that its name is spelled correctly.");
  }
  if (msg.rfind("table ", 0) == 0 && msg.size() > 21 && msg.compare(msg.size() - 15, 15, " already exists") == 0) {
    std::string name = CleanName(msg.substr(6, msg.size() - 6 - 15));
    Throw(kDbSyntaxOrExists, "Table '" + name + "' already exists.");
  }
  if (msg.rfind(kNoColumn, 0) == 0) Throw(kDbNoValueGiven, "No value given for one or more required parameters.");
  if (primary == SQLITE_ERROR) Throw(kDbSyntaxOrExists, "Syntax error in SQL statement (" + msg + ").");
  Throw(E_FAIL_, msg.empty() ? std::string("Unspecified error") : msg);
}

void ThrowSqlite(sqlite3* h, int rc, const std::filesystem::path& file) {
  std::string msg = h ? sqlite3_errmsg(h) : sqlite3_errstr(rc);
  ThrowCode(rc, msg, file);
}

void ThrowSqliteException(const std::exception& e, const std::filesystem::path& file) {
  if (auto* se = dynamic_cast<const SQLite::Exception*>(&e)) ThrowCode(se->getExtendedErrorCode(), se->what(), file);
  Throw(E_FAIL_, e.what());
}

Stmt::Stmt(sqlite3* h, std::string_view sql, const std::filesystem::path& file) : h_(h), file_(file) {
  RefuseWhileWaiting(h);
  const char* tail = nullptr;
  int rc = sqlite3_prepare_v2(h, sql.data(), static_cast<int>(sql.size()), &s_, &tail);
  if (rc != SQLITE_OK) {
    sqlite3_finalize(s_);
    s_ = nullptr;
    ThrowSqlite(h, rc, file);
  }
  if (!s_) Throw(kDbSyntaxOrExists, "Syntax error in SQL statement (empty statement).");
}

Stmt::~Stmt() { Finalize(); }

Stmt::Stmt(Stmt&& o) noexcept
    : h_(o.h_), s_(o.s_), file_(std::move(o.file_)), home_(std::move(o.home_)), key_(std::move(o.key_)) {
  o.s_ = nullptr;
}

Stmt& Stmt::operator=(Stmt&& o) noexcept {
  if (this != &o) {
    Finalize();
    h_ = o.h_;
    s_ = o.s_;
    file_ = std::move(o.file_);
    home_ = std::move(o.home_);
    key_ = std::move(o.key_);
    o.s_ = nullptr;
  }
  return *this;
}

Stmt Stmt::Cached(const std::shared_ptr<StatementCache>& cache, std::string_view sql, bool checkSchema,
                  const std::filesystem::path& file) {
  Stmt st;
  if (checkSchema) cache->Check();
  if (sqlite3_stmt* s = cache->Take(sql)) {
    st.h_ = cache->h;
    st.s_ = s;
    st.file_ = file;
  } else {
    st = Stmt(cache->h, sql, file);
  }
  st.home_ = cache;
  st.key_ = std::string(sql);
  return st;
}

void Stmt::Finalize() {
  if (!s_) return;
  auto home = home_.lock();
  if (home && home->h == h_ && h_)
    home->Give(std::move(key_), s_);
  else
    sqlite3_finalize(s_);
  s_ = nullptr;
  home_.reset();
  key_.clear();
}

sqlite3_stmt* StatementCache::Take(std::string_view sql) {
  for (size_t i = idle.size(); i-- > 0;)
    if (idle[i].first == sql) {
      sqlite3_stmt* s = idle[i].second;
      idle.erase(idle.begin() + static_cast<long>(i));
      return s;
    }
  return nullptr;
}

void StatementCache::Give(std::string sql, sqlite3_stmt* s) {
  constexpr size_t kKept = 16;
  sqlite3_reset(s);
  sqlite3_clear_bindings(s);
  idle.emplace_back(std::move(sql), s);
  if (idle.size() > kKept) {
    sqlite3_finalize(idle.front().second);
    idle.erase(idle.begin());
  }
}

void StatementCache::Check() {
  if (!h) return;
  if (!schemaStmt && sqlite3_prepare_v2(h, "PRAGMA schema_version", -1, &schemaStmt, nullptr) != SQLITE_OK) {
    sqlite3_finalize(schemaStmt);
    schemaStmt = nullptr;
  }
  int now = -2;  // unknown: nothing kept is trusted
  if (schemaStmt && sqlite3_step(schemaStmt) == SQLITE_ROW) now = sqlite3_column_int(schemaStmt, 0);
  if (schemaStmt) sqlite3_reset(schemaStmt);
  if (now != schema || now == -2) {
    Clear();
    // A statement that reads a table makes the connection load the schema
    // anew; statements prepared before that would list the old columns.
    sqlite3_exec(h, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
  }
  schema = now;
}

void StatementCache::Clear() {
  for (auto& [sql, s] : idle) sqlite3_finalize(s);
  idle.clear();
}

void StatementCache::Close() {
  Clear();
  if (schemaStmt) sqlite3_finalize(schemaStmt);
  schemaStmt = nullptr;
  schema = -1;
  h = nullptr;
}

void Stmt::Bind(const std::vector<Value>& params) {
  int expected = sqlite3_bind_parameter_count(s_);
  if (static_cast<int>(params.size()) != expected)
    Throw(kDbNoValueGiven, "No value given for one or more required parameters.");
  for (int i = 0; i < expected; ++i) {
    const Value& v = params[i];
    int rc = v.IsNull() ? sqlite3_bind_null(s_, i + 1)
                        : sqlite3_bind_text(s_, i + 1, v.Text().data(), static_cast<int>(v.Text().size()),
                                            SQLITE_TRANSIENT);
    if (rc != SQLITE_OK) ThrowSqlite(h_, rc, file_);
  }
}

namespace {
// A statement that reads rows only: read-only and no transaction control
// (which the engine counts as read-only too; a COMMIT writes the file).
bool IsQuery(sqlite3_stmt* s) {
  if (!sqlite3_stmt_readonly(s)) return false;
  std::string_view sql = sqlite3_sql(s) ? sqlite3_sql(s) : "";
  while (!sql.empty() && (sql.front() == ' ' || sql.front() == '\t' || sql.front() == '\r' || sql.front() == '\n' ||
                          sql.front() == '('))
    sql.remove_prefix(1);
  for (std::string_view word : {"select", "with", "values"})
    if (sql.size() >= word.size() && sqlite3_strnicmp(sql.data(), word.data(), static_cast<int>(word.size())) == 0)
      return true;
  return false;
}
}  // namespace

bool Stmt::Step() {
  RefuseWhileWaiting(h_);
  int rc = sqlite3_step(s_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  std::string msg = sqlite3_errmsg(h_);
  sqlite3_reset(s_);
  // A query writes nothing into its database: what filled up is the
  // folder of its temporary files (sorting, distinct).
  if ((rc & 0xFF) == SQLITE_FULL && IsQuery(s_)) ThrowTemporaryFolderFull(EngineTemporaryFolder());
  ThrowCode(rc, msg, file_);
}

std::filesystem::path EngineTemporaryFolder() {
  // The engine's own order: its set folder, SQLITE_TMPDIR, TMPDIR, then
  // the usual folders, the first that is a folder this process may write.
  if (sqlite3_temp_directory && *sqlite3_temp_directory) return sqlite3_temp_directory;
  const char* candidates[] = {std::getenv("SQLITE_TMPDIR"), std::getenv("TMPDIR"), "/var/tmp", "/usr/tmp", "/tmp"};
  for (const char* dir : candidates) {
    struct stat st {};
    if (dir && *dir && ::stat(dir, &st) == 0 && S_ISDIR(st.st_mode) && ::access(dir, W_OK | X_OK) == 0) return dir;
  }
  return ".";
}

void ThrowTemporaryFolderFull(const std::filesystem::path& folder) {
  Throw(kDbCannotOpen, "Not enough space on disk. The temporary folder '" + folder.string() + "' is full.");
}

void Stmt::Reset() {
  if (s_) sqlite3_reset(s_);
}

void ExecSimple(sqlite3* h, const char* sql, const std::filesystem::path& file) {
  RefuseWhileWaiting(h);
  char* err = nullptr;
  int rc = sqlite3_exec(h, sql, nullptr, nullptr, &err);
  if (rc != SQLITE_OK) {
    std::string msg = err ? err : sqlite3_errstr(rc);
    sqlite3_free(err);
    ThrowCode(rc, msg, file);
  }
}

}  // namespace velmo::db::detail
