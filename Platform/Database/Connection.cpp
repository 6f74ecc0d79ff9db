// Connections: one engine handle on one database file, holding the file's
// companion lock shared while open, with transactions that nest.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <SQLiteCpp/Exception.h>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

#include "AppFolder.h"
#include "DbInternal.h"
#include "StopSignals.h"
#include "TextParts.h"

namespace velmo::db {

using detail::Throw;

namespace {

constexpr int kLockWaitMs = 5000;
// A lock wait sleeps this long at a time, then calls the hook.
constexpr auto kLockWaitSlice = std::chrono::milliseconds(20);

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return std::string(s.substr(b, e - b));
}

// Splits "key = value; key = value" into pairs; false when the text does
// not look like a connection string (no known key).
bool ParseConnectionString(const std::string& text, std::string& provider, std::string& source) {
  bool known = false;
  size_t at = 0;
  while (at <= text.size()) {
    size_t semi = text.find(';', at);
    std::string part = text.substr(at, semi == std::string::npos ? std::string::npos : semi - at);
    size_t eq = part.find('=');
    if (eq != std::string::npos) {
      std::string key = text::LowerAscii(Trim(part.substr(0, eq)));
      std::string value = Trim(part.substr(eq + 1));
      if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
      if (key == "data source" || key == "dbq") {
        source = value;
        known = true;
      } else if (key == "provider") {
        provider = value;
        known = true;
      }
    }
    if (semi == std::string::npos) break;
    at = semi + 1;
  }
  return known;
}

std::filesystem::path LockFileOf(const std::filesystem::path& db) {
  std::filesystem::path p = db;
  p += ".lock";
  return p;
}

std::mutex gLockWaitHookMutex;
std::shared_ptr<const std::function<bool()>> gLockWaitHook;

// The handle whose wait runs the hook on this thread (the hook is not
// called from inside itself), and whether the last wait gave up.
thread_local sqlite3* tWaitingOn = nullptr;
thread_local bool tLockWaitGivenUp = false;

// The engine's busy handler: 0 ends the wait (the statement fails as
// busy), 1 tries the lock again.
int WaitOnce(void* arg, int tries) {
  auto& wait = *static_cast<detail::LockWait*>(arg);
  const auto now = std::chrono::steady_clock::now();
  if (tries == 0) {
    wait.since = now;
    tLockWaitGivenUp = false;
  }
  if (now - wait.since >= std::chrono::seconds(kLockWaitSeconds)) return 0;
  std::this_thread::sleep_for(kLockWaitSlice);
  const bool goOn = detail::RunLockWaitHook(wait.h);
  if (!goOn) tLockWaitGivenUp = true;
  return goOn ? 1 : 0;
}

}  // namespace

void SetLockWaitHook(std::function<bool()> hook) {
  std::lock_guard<std::mutex> hold(gLockWaitHookMutex);
  gLockWaitHook = hook ? std::make_shared<const std::function<bool()>>(std::move(hook)) : nullptr;
}

namespace detail {

bool RunLockWaitHook(sqlite3* h) {
  bool goOn = velmo::StopSignal() == 0;
  std::shared_ptr<const std::function<bool()>> hook;
  if (goOn && !tWaitingOn) {
    std::lock_guard<std::mutex> hold(gLockWaitHookMutex);
    hook = gLockWaitHook;
  }
  if (hook) {
    tWaitingOn = h;
    try {
      goOn = (*hook)() && velmo::StopSignal() == 0;
    } catch (...) {
      goOn = false;
    }
    tWaitingOn = nullptr;
  }
  return goOn;
}

void WaitForLocks(sqlite3* h, LockWait& wait) {
  wait.h = h;
  sqlite3_busy_handler(h, WaitOnce, &wait);
}

void RefuseWhileWaiting(sqlite3* h) {
  if (h && h == tWaitingOn) Throw(kDbCannotOpen, "Could not update; currently locked.");
}

bool TakeLockWaitGivenUp() { return std::exchange(tLockWaitGivenUp, false); }

}  // namespace detail

// ---- Value ----------------------------------------------------------------

long Value::Long() const {
  if (null_) return 0;
  std::string t = Trim(text_);
  if (t.empty()) return 0;
  char* end = nullptr;
  errno = 0;
  double d = std::strtod(t.c_str(), &end);
  if (end != t.c_str() + t.size() || errno == ERANGE || !std::isfinite(d)) return 0;
  if (d >= 9.2e18 || d <= -9.2e18) return 0;
  // Rounds half to even, as the conversion to a long integer does.
  return static_cast<long>(std::nearbyint(d));
}

// ---- Helpers --------------------------------------------------------------

std::string SqlQuote(std::string_view value) {
  std::string out;
  out.reserve(value.size() + 2);
  out += '\'';
  for (char c : value) {
    out += c;
    if (c == '\'') out += '\'';
  }
  out += '\'';
  return out;
}

std::filesystem::path PathFromConnectionString(const std::string& connectionString) {
  std::string provider, source;
  if (ParseConnectionString(connectionString, provider, source)) return velmo::NativePath(source);
  return velmo::NativePath(Trim(connectionString));
}

void CreateDatabaseFile(const std::filesystem::path& path, Journal journal) {
  if (path.empty()) Throw(kDbCannotOpen, "Could not find file ''.");
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (errno == EEXIST) Throw(kDbFileExists, "Database already exists.");
    Throw(kDbCannotOpen, "Could not create file '" + path.string() + "': " + std::strerror(errno) + ".");
  }
  ::close(fd);
  try {
    SQLite::Database db(path, SQLite::OPEN_READWRITE);
    detail::LockWait wait;
    detail::WaitForLocks(db.getHandle(), wait);
    // Setting the journal mode writes the file's header, so the new file
    // is a database at once.
    const char* mode = journal == Journal::Wal ? "PRAGMA journal_mode=WAL" : "PRAGMA journal_mode=DELETE";
    detail::ExecSimple(db.getHandle(), mode, path);
    detail::ExecSimple(db.getHandle(), "PRAGMA user_version=0", path);
  } catch (const ComError&) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
    throw;
  } catch (const std::exception& e) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
    detail::ThrowSqliteException(e, path);
  }
}

// ---- Connection::Impl -----------------------------------------------------

void Connection::Impl::RequireOpen() const {
  if (!h) Throw(kDbClosed, "Operation is not allowed when the object is closed.");
}

void Connection::Impl::FlushAll() {
  // A flush may fail (the file locked for longer than the busy timeout);
  // every recordset is tried, the first failure is reported.
  std::exception_ptr first;
  auto list = recordsets;
  for (auto* rs : list) {
    try {
      detail::FlushRecordset(rs);
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  if (first) std::rethrow_exception(first);
}

detail::Stmt Connection::Impl::Prepare(std::string_view sql) const {
  RequireOpen();
  return detail::Stmt(h, sql, path);
}

detail::Stmt Connection::Impl::PrepareCachedQuery(std::string_view sql) const {
  RequireOpen();
  return detail::Stmt::Cached(cache, sql, true, path);
}

detail::Stmt Connection::Impl::PrepareCached(std::string_view sql) const {
  RequireOpen();
  return detail::Stmt::Cached(cache, sql, false, path);
}

void Connection::Impl::ExecCached(std::string_view sql) const {
  detail::Stmt st = PrepareCached(sql);
  while (st.Step()) {
  }
}

void Connection::Impl::CloseAll() {
  if (!h) return;
  std::exception_ptr first;
  auto list = recordsets;
  for (auto* rs : list) {
    try {
      detail::CloseRecordsetForConnection(rs);
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  recordsets.clear();
  if (depth > 0 && !sqlite3_get_autocommit(h)) {
    try {
      detail::ExecSimple(h, "ROLLBACK", path);
    } catch (...) {
    }
  }
  depth = 0;
  marks.clear();
  cache->Close();
  db.reset();
  h = nullptr;
  lock.Unlock();
  if (first) std::rethrow_exception(first);
}

// ---- Connection -----------------------------------------------------------

Connection::Connection() : impl_(std::make_shared<Impl>()) { impl_->owner = this; }

Connection::~Connection() {
  try {
    impl_->CloseAll();
  } catch (...) {
  }
}

void Connection::Open(const std::string& connectionString, const std::string&, const std::string&, long) {
  Impl& m = *impl_;
  if (m.h) Throw(kDbAlreadyOpen, "Operation is not allowed when the object is open.");
  std::string provider, source;
  std::filesystem::path path;
  if (ParseConnectionString(connectionString, provider, source)) {
    if (!provider.empty()) m.provider = provider;
    path = velmo::NativePath(source);
  } else {
    path = velmo::NativePath(Trim(connectionString));
  }
  OpenPath(path, false);
}

void Connection::OpenExportFile(const std::filesystem::path& file) {
  if (impl_->h) Throw(kDbAlreadyOpen, "Operation is not allowed when the object is open.");
  OpenPath(file, true);
}

void Connection::OpenPath(std::filesystem::path path, bool exportFile) {
  Impl& m = *impl_;
  std::error_code ec;
  if (!path.empty()) path = std::filesystem::absolute(path, ec);
  // The file is named from now on, also when this open fails: later uses
  // of the connection string name it in their errors.
  m.path = path;
  m.connectionString.clear();
  if (path.empty()) Throw(kDbCannotOpen, "Could not find file ''.");
  const auto kind = std::filesystem::status(path, ec).type();
  if (kind == std::filesystem::file_type::not_found || kind == std::filesystem::file_type::none)
    Throw(kDbCannotOpen, "Could not find file '" + path.string() + "'.");
  if (kind != std::filesystem::file_type::regular)
    Throw(kDbCannotOpen, "Could not use '" + path.string() + "'; it is not a file.");

  // The shared lock keeps compaction away while this connection lives; a
  // compaction in progress is waited for, briefly. A lock file that cannot
  // be used (a link to nothing, a folder this user cannot write a missing
  // one into) fails at once with its reason; none is ever made through a
  // link.
  if (!exportFile) {
    const auto lockFile = LockFileOf(path);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLockWaitMs);
    for (std::error_code why;;) {
      const auto outcome = m.lock.Try(lockFile, velmo::FileLock::Mode::Shared, why);
      if (outcome == velmo::FileLock::Outcome::Taken) break;
      if (outcome == velmo::FileLock::Outcome::Failed)
        Throw(kDbCannotOpen, "Could not use '" + path.string() + "'; its lock file '" + lockFile.string() +
                                 "' cannot be used: " + std::strerror(why.value()) + ".");
      if (std::chrono::steady_clock::now() >= deadline)
        Throw(kDbCannotOpen, "Could not use '" + path.string() + "'; file already in use.");
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  try {
    m.db = std::make_unique<SQLite::Database>(path, SQLite::OPEN_READWRITE);
    m.h = m.db->getHandle();
    detail::WaitForLocks(m.h, m.lockWait);
    m.cache->h = m.h;
    if (exportFile) {
      // One self-contained file: whatever journal it had, the rollback
      // journal from now on, removed at the end of every transaction.
      detail::ExecSimple(m.h, "PRAGMA journal_mode=DELETE", path);
    } else {
      detail::RegisterTextRules(m.h);
      // The file keeps the journal mode it was created with.
      detail::ExecSimple(m.h, "PRAGMA synchronous=NORMAL", path);
    }
    // Reads the header: a file that is no database fails here.
    detail::ExecSimple(m.h, "PRAGMA schema_version", path);
  } catch (...) {
    m.cache->Close();
    m.db.reset();
    m.h = nullptr;
    m.lock.Unlock();
    // Every reason names the file.
    try {
      try {
        throw;
      } catch (const ComError&) {
        throw;
      } catch (const std::exception& e) {
        detail::ThrowSqliteException(e, path);
      }
    } catch (const ComError& e) {
      if (e.Description().find(path.string()) != std::string::npos) throw;
      Throw(e.Number(), e.Description() + " ('" + path.string() + "')");
    }
  }
  m.connectionString = "Provider=" + m.provider + ";Data Source=" + path.string();
}

void Connection::Close() {
  impl_->RequireOpen();
  impl_->CloseAll();
}

int Connection::State() const { return impl_->h ? adStateOpen : adStateClosed; }

std::string Connection::ConnectionString() const {
  if (impl_->h) return impl_->connectionString;
  if (impl_->path.empty()) return "";
  return "Provider=" + impl_->provider + ";Data Source=" + impl_->path.string();
}

std::filesystem::path Connection::FilePath() const { return impl_->path; }

void Connection::SetProvider(const std::string& provider) {
  if (impl_->h) Throw(kDbAlreadyOpen, "Operation is not allowed when the object is open.");
  impl_->provider = provider;
}

const std::string& Connection::Provider() const { return impl_->provider; }

long Connection::Execute(const std::string& sql) { return Execute(sql, {}); }

long Connection::Execute(const std::string& sql, const std::vector<Value>& params) {
  Impl& m = *impl_;
  m.RequireOpen();
  // Rows the recordsets of this connection buffered come first, so the
  // statement sees (and acts after) everything added before it.
  m.FlushAll();
  std::string text = detail::TranslateJet(sql);
  detail::Stmt st = m.Prepare(text);
  st.Bind(params);
  bool changes = !sqlite3_stmt_readonly(st.get());
  while (st.Step()) {
  }
  return changes ? static_cast<long>(sqlite3_changes(m.h)) : 0;
}

long Connection::ExecuteEachRow(const std::string& sql, long rows,
                                const std::function<void(long row, std::vector<std::string>& values)>& fill) {
  Impl& m = *impl_;
  m.RequireOpen();
  m.FlushAll();
  detail::Stmt st = m.Prepare(detail::TranslateJet(sql));
  const int count = sqlite3_bind_parameter_count(st.get());
  std::vector<std::string> values(static_cast<size_t>(count));
  static const std::string kEmpty;
  long done = 0;
  for (long r = 0; r < rows; ++r) {
    fill(r, values);
    // The texts stay put until the row has run: bound without a copy.
    for (int i = 0; i < count; ++i) {
      const std::string& v = i < static_cast<int>(values.size()) ? values[static_cast<size_t>(i)] : kEmpty;
      int rc = sqlite3_bind_text(st.get(), i + 1, v.data(), static_cast<int>(v.size()), SQLITE_STATIC);
      if (rc != SQLITE_OK) detail::ThrowSqlite(m.h, rc, m.path);
    }
    while (st.Step()) {
    }
    st.Reset();
    ++done;
  }
  return done;
}

void Connection::BeginTrans() {
  Impl& m = *impl_;
  m.RequireOpen();
  m.FlushAll();
  if (m.depth > 0 && sqlite3_get_autocommit(m.h)) {
    // The engine ended the transaction on an error of its own.
    m.depth = 0;
    m.marks.clear();
  }
  if (m.depth == 0)
    detail::ExecSimple(m.h, "BEGIN", m.path);
  else
    detail::ExecSimple(m.h, ("SAVEPOINT velmo_level_" + std::to_string(m.depth)).c_str(), m.path);
  ++m.depth;
  m.marks.push_back(m.nextMark++);
}

void Connection::CommitTrans() {
  Impl& m = *impl_;
  m.RequireOpen();
  if (m.depth == 0) Throw(kDbNoTransaction, "No transaction is active.");
  m.FlushAll();
  if (sqlite3_get_autocommit(m.h)) {
    uint64_t mark = m.marks.front();
    m.depth = 0;
    m.marks.clear();
    for (auto* rs : std::vector<Recordset::Impl*>(m.recordsets)) detail::RollBackRecordsetRows(rs, mark);
    Throw(E_FAIL_, "The transaction was rolled back by the database engine after an error.");
  }
  if (m.depth == 1)
    detail::ExecSimple(m.h, "COMMIT", m.path);
  else
    detail::ExecSimple(m.h, ("RELEASE velmo_level_" + std::to_string(m.depth - 1)).c_str(), m.path);
  --m.depth;
  m.marks.pop_back();
}

void Connection::RollbackTrans() {
  Impl& m = *impl_;
  m.RequireOpen();
  if (m.depth == 0) Throw(kDbNoTransaction, "No transaction is active.");
  // Rows still buffered were all added inside this level (BeginTrans
  // writes what is buffered before it starts one): they go with it.
  uint64_t mark = m.marks.back();
  if (sqlite3_get_autocommit(m.h)) {
    mark = m.marks.front();
    m.depth = 0;
    m.marks.clear();
  } else {
    if (m.depth == 1) {
      detail::ExecSimple(m.h, "ROLLBACK", m.path);
    } else {
      std::string name = "velmo_level_" + std::to_string(m.depth - 1);
      detail::ExecSimple(m.h, ("ROLLBACK TO " + name).c_str(), m.path);
      detail::ExecSimple(m.h, ("RELEASE " + name).c_str(), m.path);
    }
    --m.depth;
    m.marks.pop_back();
  }
  for (auto* rs : std::vector<Recordset::Impl*>(m.recordsets)) detail::RollBackRecordsetRows(rs, mark);
}

bool Connection::InTransaction() const { return impl_->h && impl_->depth > 0; }

// ---- Connections kept per thread ---------------------------------------------

namespace {

struct KeptConnection {
  std::filesystem::path path;
  dev_t device = 0;
  ino_t inode = 0;
  std::unique_ptr<Connection> conn;
};

thread_local std::vector<KeptConnection> tKept;
constexpr size_t kMaxKeptPerThread = 4;

}  // namespace

Connection& ThreadConnection(const std::string& connectionString) {
  std::error_code ec;
  std::filesystem::path path = PathFromConnectionString(connectionString);
  if (!path.empty()) path = std::filesystem::absolute(path, ec);
  struct stat now {};
  const bool exists = !path.empty() && ::stat(path.c_str(), &now) == 0;
  for (auto it = tKept.begin(); it != tKept.end(); ++it) {
    if (it->path != path) continue;
    const Connection::Impl& m = it->conn->impl();
    // Reused only when it still has the file now at that path open (not a
    // file moved over it since) and holds nothing of an earlier call.
    if (exists && now.st_dev == it->device && now.st_ino == it->inode && m.IsOpen() && m.depth == 0 &&
        m.recordsets.empty() && sqlite3_get_autocommit(m.h))
      return *it->conn;
    tKept.erase(it);
    break;
  }
  // Connections to files that are gone, or moved away, are let go; a
  // thread keeps a few at most.
  std::erase_if(tKept, [](const KeptConnection& k) {
    struct stat st {};
    return ::stat(k.path.c_str(), &st) != 0 || st.st_dev != k.device || st.st_ino != k.inode;
  });
  if (tKept.size() >= kMaxKeptPerThread) tKept.erase(tKept.begin());
  auto conn = std::make_unique<Connection>();
  conn->Open(connectionString);
  // A file that cannot be looked at now is opened afresh next time.
  struct stat opened {};
  if (::stat(conn->FilePath().c_str(), &opened) != 0) opened = {};
  tKept.push_back({path, opened.st_dev, opened.st_ino, std::move(conn)});
  return *tKept.back().conn;
}

void ReleaseThreadConnections() { tKept.clear(); }

}  // namespace velmo::db
