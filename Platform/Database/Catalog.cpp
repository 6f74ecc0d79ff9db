// The catalog (new files, their tables and columns), the conversion of
// files of earlier builds, and compaction.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "DbInternal.h"
#include "StopSignals.h"

namespace velmo::db {

using detail::Throw;

// ---- Catalog --------------------------------------------------------------

Catalog::Catalog() = default;
Catalog::~Catalog() = default;

void Catalog::Create(const std::string& connectionString) {
  auto path = PathFromConnectionString(connectionString);
  CreateDatabaseFile(path, Journal::Wal);
  SetActiveConnection(connectionString);
}

void Catalog::SetActiveConnection(const std::string& connectionString) {
  auto c = std::make_unique<Connection>();
  c->Open(connectionString);
  conn_ = std::move(c);
}

void Catalog::ReleaseConnection() { conn_.reset(); }

std::vector<std::string> Catalog::TableNames() {
  if (!conn_ || !conn_->State()) Throw(kDbClosed, "Operation is not allowed when the object is closed.");
  auto& m = conn_->impl();
  detail::Stmt st = m.Prepare("SELECT name FROM sqlite_master WHERE type='table' ORDER BY rowid");
  std::vector<std::string> names;
  while (st.Step()) {
    auto t = reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 0));
    std::string name = t ? t : "";
    // The engine's own tables are never listed.
    if (name.size() >= 7 && detail::CompareNoCase(std::string_view(name).substr(0, 7), "sqlite_") == 0) continue;
    names.push_back(std::move(name));
  }
  return names;
}

std::vector<std::string> Catalog::ColumnNames(const std::string& table) {
  if (!conn_ || !conn_->State()) Throw(kDbClosed, "Operation is not allowed when the object is closed.");
  auto& m = conn_->impl();
  detail::Stmt st = m.Prepare("SELECT name FROM pragma_table_info(?)");
  st.Bind({Value(table)});
  std::vector<std::string> names;
  while (st.Step()) {
    auto t = reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 0));
    names.emplace_back(t ? t : "");
  }
  if (names.empty())
    Throw(kDbNoSuchTable, "The database engine cannot find the input table or query '" + table +
                              "'. Make sure it exists and that its name is spelled correctly.");
  return names;
}

// ---- Conversion of files of earlier builds ----------------------------------

namespace {

struct SchemaEntry {
  std::string type, name, table, sql;
};

std::string ColumnText(sqlite3_stmt* s, int col) {
  auto t = reinterpret_cast<const char*>(sqlite3_column_text(s, col));
  return t ? t : "";
}

// What every compaction checks before it starts, then the file's lock,
// taken exclusively: this system's programs hold it while they have the
// file open, so while one of them runs the compaction is refused at once.
void PrepareCompaction(const std::filesystem::path& src, const std::filesystem::path& dst, velmo::FileLock& lock) {
  std::error_code ec;
  if (src.empty() || !std::filesystem::is_regular_file(src, ec))
    Throw(kDbCannotOpen, "Could not find file '" + src.string() + "'.");
  // Compaction never overwrites: an existing target file is refused.
  if (dst.empty() || std::filesystem::exists(dst, ec)) Throw(kDbFileExists, "Database already exists.");
  // A file this user may not write is left as it is: its copy would be the
  // user's own, writable file in its place.
  if (::faccessat(AT_FDCWD, src.c_str(), W_OK, AT_EACCESS) != 0) {
    const int err = errno;
    Throw(kDbCannotOpen, "The database '" + src.string() + "' cannot be written (" + std::strerror(err) +
                             "); it is left uncompacted.");
  }
  // This thread's kept connections would hold the file.
  ReleaseThreadConnections();
  auto lockFile = src;
  lockFile += ".lock";
  lock.Unlock();
  if (!lock.TryLock(lockFile, velmo::FileLock::Mode::Exclusive))
    Throw(kDbCannotOpen, "The database is in use by another process.");
}
}  // namespace

int ConvertOldTextColumns(Connection& connection) {
  auto& m = connection.impl();
  m.RequireOpen();
  m.FlushAll();
  if (m.depth > 0) Throw(E_FAIL_, "The database cannot be converted inside a transaction.");
  const std::string oldName = detail::kOldNoCaseCollation;
  auto convert = [&](const std::string& sql) {
    return detail::ReplaceCollation(sql, oldName, detail::kNoCaseCollation);
  };

  std::vector<SchemaEntry> entries;
  {
    detail::Stmt st = m.Prepare("SELECT type, name, tbl_name, sql FROM sqlite_master WHERE sql IS NOT NULL ORDER BY rowid");
    while (st.Step())
      entries.push_back({ColumnText(st.get(), 0), ColumnText(st.get(), 1), ColumnText(st.get(), 2),
                         ColumnText(st.get(), 3)});
  }
  // Tables declared with the old collation are made anew; an index or
  // trigger goes with its table (or alone, when it names the old collation
  // itself) and is made again afterwards.
  std::vector<const SchemaEntry*> tables, dependents;
  auto isConverted = [&](const std::string& table) {
    for (auto* t : tables)
      if (detail::CompareNoCase(t->name, table) == 0) return true;
    return false;
  };
  for (auto& e : entries)
    if (e.type == "table" && convert(e.sql) != e.sql && detail::ColumnListOffset(e.sql) != std::string::npos)
      tables.push_back(&e);
  for (auto& e : entries)
    if ((e.type == "index" || e.type == "trigger") && (isConverted(e.table) || convert(e.sql) != e.sql))
      dependents.push_back(&e);
  if (tables.empty() && dependents.empty()) return 0;

  sqlite3* h = m.h;
  // Waits for other writers as any write does (the connection's busy
  // timeout).
  detail::ExecSimple(h, "BEGIN IMMEDIATE", m.path);
  try {
    for (auto* e : dependents)
      if (!isConverted(e->table))
        detail::ExecSimple(h, ("DROP " + std::string(e->type == "index" ? "INDEX " : "TRIGGER ") +
                               detail::QuoteIdent(e->name)).c_str(),
                           m.path);
    for (auto* t : tables) {
      std::string columns;
      {
        detail::Stmt st = m.Prepare("SELECT name FROM pragma_table_info(?)");
        st.Bind({Value(t->name)});
        while (st.Step()) {
          if (!columns.empty()) columns += ',';
          columns += detail::QuoteIdent(ColumnText(st.get(), 0));
        }
      }
      const std::string fresh = detail::QuoteIdent("velmo_converting_" + t->name);
      const std::string old = detail::QuoteIdent(t->name);
      const std::string create = "CREATE TABLE " + fresh + " " + convert(t->sql.substr(detail::ColumnListOffset(t->sql)));
      detail::ExecSimple(h, create.c_str(), m.path);
      // Row ids are kept: the rows read back in the same order, and row ids
      // recorded elsewhere still name the same rows.
      const std::string copy = "INSERT INTO " + fresh + " (_rowid_," + columns + ") SELECT _rowid_," + columns +
                               " FROM " + old + " ORDER BY _rowid_";
      detail::ExecSimple(h, copy.c_str(), m.path);
      detail::ExecSimple(h, ("DROP TABLE " + old).c_str(), m.path);
      detail::ExecSimple(h, ("ALTER TABLE " + fresh + " RENAME TO " + old).c_str(), m.path);
    }
    for (auto* e : dependents) detail::ExecSimple(h, convert(e->sql).c_str(), m.path);
    detail::ExecSimple(h, "COMMIT", m.path);
  } catch (...) {
    if (!sqlite3_get_autocommit(h)) sqlite3_exec(h, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
  return static_cast<int>(tables.size());
}

// ---- Compaction -----------------------------------------------------------

struct JetEngine::Impl {
  velmo::FileLock lock;
};

void RemoveDatabaseFiles(const std::filesystem::path& file) {
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
    auto p = file;
    p += suffix;
    std::error_code ignore;
    std::filesystem::remove(p, ignore);
  }
}

JetEngine::JetEngine() : impl_(std::make_unique<Impl>()) {}
JetEngine::~JetEngine() = default;

void JetEngine::Release() { impl_->lock.Unlock(); }

void JetEngine::CompactDatabase(const std::string& sourceConnectionString, const std::string& destConnectionString) {
  auto src = PathFromConnectionString(sourceConnectionString);
  auto dst = PathFromConnectionString(destConnectionString);
  PrepareCompaction(src, dst, impl_->lock);
  struct stat original {};
  if (::stat(src.c_str(), &original) != 0) {
    impl_->lock.Unlock();
    Throw(kDbCannotOpen, "Could not find file '" + src.string() + "'.");
  }

  sqlite3* h = nullptr;
  detail::LockWait wait;
  auto fail = [&](std::exception_ptr e) {
    if (h) sqlite3_close_v2(h);
    // Nothing of a failed copy stays behind, its journal included.
    RemoveDatabaseFiles(dst);
    impl_->lock.Unlock();
    std::rethrow_exception(e);
  };
  try {
    int rc = sqlite3_open_v2(src.c_str(), &h, SQLITE_OPEN_READWRITE, nullptr);
    if (rc != SQLITE_OK) detail::ThrowSqlite(h, rc, src);
    detail::WaitForLocks(h, wait);
    detail::RegisterTextRules(h);
    std::string journal;
    {
      detail::Stmt st(h, "PRAGMA journal_mode", src);
      if (st.Step()) {
        auto t = reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 0));
        journal = t ? t : "";
      }
    }
    // Everything in the write-ahead log goes into the file first.
    if (journal == "wal") detail::ExecSimple(h, "PRAGMA wal_checkpoint(TRUNCATE)", src);
    {
      detail::Stmt st(h, "VACUUM INTO ?", src);
      st.Bind({Value(dst.string())});
      while (st.Step()) {
      }
    }
    sqlite3_close_v2(h);
    h = nullptr;
    if (journal == "wal") {
      // The copy keeps the original's journal mode.
      rc = sqlite3_open_v2(dst.c_str(), &h, SQLITE_OPEN_READWRITE, nullptr);
      if (rc != SQLITE_OK) detail::ThrowSqlite(h, rc, dst);
      detail::ExecSimple(h, "PRAGMA journal_mode=WAL", dst);
      sqlite3_close_v2(h);
      h = nullptr;
    }
    // The copy takes the original's place: it gets its permissions, and
    // its owner where this user may give it.
    if (::chmod(dst.c_str(), original.st_mode & 07777) != 0) {
      const int err = errno;
      Throw(kDbCannotOpen, "Could not give '" + dst.string() + "' the permissions of '" + src.string() +
                               "': " + std::strerror(err) + ".");
    }
    if (::chown(dst.c_str(), original.st_uid, original.st_gid) != 0) {
      // Only a privileged user may give a file away; the copy is then this
      // user's, as the original was.
    }
  } catch (...) {
    fail(std::current_exception());
  }
  // The exclusive lock stays until Release(), so the copy can replace the
  // original before anybody opens it again.
}

namespace {

// Runs a statement to its end; its result code, and the first column of
// its first row in `first` when given.
int StepAll(sqlite3* h, const std::string& sql, std::string* first = nullptr) {
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(h, sql.c_str(), -1, &st, nullptr);
  bool row = false;
  while (rc == SQLITE_OK && (rc = sqlite3_step(st)) == SQLITE_ROW) {
    if (first && !row) {
      auto t = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
      *first = t ? t : "";
    }
    row = true;
    rc = SQLITE_OK;
  }
  sqlite3_finalize(st);
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

// Between the engine's steps of a long compaction: a stop ends it at once,
// and the lock-wait hook runs at the first step and every 20 ms or so after
// (the window stays painted).
struct Pace {
  sqlite3* h = nullptr;
  std::chrono::steady_clock::time_point next{};
  bool givenUp = false;
  bool GoOn() {
    const auto now = std::chrono::steady_clock::now();
    if (velmo::StopSignal() == 0 && now < next) return true;
    next = now + std::chrono::milliseconds(20);
    givenUp = !detail::RunLockWaitHook(h);
    return !givenUp;
  }
  static int Step(void* arg) { return static_cast<Pace*>(arg)->GoOn() ? 0 : 1; }
};

unsigned DataVersion(sqlite3* h) {
  unsigned version = 0;
  sqlite3_file_control(h, "main", SQLITE_FCNTL_DATA_VERSION, &version);
  return version;
}

}  // namespace

void JetEngine::CompactInPlace(const std::string& connectionString, const std::string& copyConnectionString) {
  const auto file = PathFromConnectionString(connectionString);
  const auto copy = PathFromConnectionString(copyConnectionString);
  PrepareCompaction(file, copy, impl_->lock);
  struct Done {
    velmo::FileLock& lock;
    const std::filesystem::path& copy;
    sqlite3* h = nullptr;
    sqlite3* source = nullptr;
    sqlite3_backup* backup = nullptr;
    ~Done() {
      if (backup) sqlite3_backup_finish(backup);  // unfinished: nothing of it is written
      if (source) sqlite3_close_v2(source);
      if (h) sqlite3_close_v2(h);
      RemoveDatabaseFiles(copy);
      lock.Unlock();
    }
  } done{impl_->lock, copy};

  const int rc = sqlite3_open_v2(file.c_str(), &done.h, SQLITE_OPEN_READWRITE, nullptr);
  sqlite3* h = done.h;
  if (rc != SQLITE_OK) detail::ThrowSqlite(h, rc, file);
  // No busy handler: a lock another program holds (a writer, or in the
  // rollback journal a reader) is never waited for; the file is then used
  // as it is.
  detail::RegisterTextRules(h);
  int failed = SQLITE_OK, failedErrno = 0;
  std::string failedText;
  auto note = [&](int stepRc, sqlite3* on) {
    if (stepRc != SQLITE_OK && stepRc != SQLITE_DONE && failed == SQLITE_OK) {
      failed = stepRc;
      failedErrno = sqlite3_system_errno(on);
      failedText = sqlite3_errmsg(on);
    }
    return stepRc == SQLITE_OK || stepRc == SQLITE_DONE;
  };
  auto step = [&](const std::string& sql, std::string* first = nullptr) { return note(StepAll(h, sql, first), h); };
  Pace pace{h};
  bool wal = false, written = false;
  auto fail = [&] {
    const int primary = failed & 0xFF;
    if (pace.givenUp) Throw(Hr(0x800704C7), "The operation was canceled by the user.");
    if (written)
      Throw(kDbCannotOpen, "The database '" + file.string() +
                               "' was written by another program while it was compacted; it is used as it is, "
                               "uncompacted.");
    if (primary == SQLITE_OK || primary == SQLITE_BUSY || primary == SQLITE_LOCKED)
      Throw(kDbCannotOpen, "The database '" + file.string() +
                               "' is locked by another program; it is used as it is, uncompacted.");
    if (primary == SQLITE_FULL || failedErrno == ENOSPC) {
      std::error_code ec;
      const auto bytes = std::filesystem::file_size(file, ec);
      Throw(kDbCannotOpen, "Not enough space on disk. Compacting needs room for a compacted copy of the database "
                           "(up to " + std::to_string(ec ? 0 : (bytes + (1 << 20) - 1) >> 20) + " MB) and for its " +
                               (wal ? "log" : "journal") + " (as much again) beside '" + file.string() +
                               "'; the database is left as it was.");
    }
    detail::ThrowCode(failed, failedText, file);
  };
  std::string journal, checkpointBusy;
  if (!step("PRAGMA journal_mode", &journal)) fail();
  wal = journal == "wal";
  // The log is emptied into the file first; a writer, or a reader of what
  // the log holds, keeps it from being emptied.
  if (wal && (!step("PRAGMA wal_checkpoint(TRUNCATE)", &checkpointBusy) || checkpointBusy != "0")) fail();

  // The compacted copy, as the engine makes one: every row keeps its row
  // id.
  sqlite3_progress_handler(h, 1000, &Pace::Step, &pace);
  const bool copied = step("VACUUM INTO " + SqlQuote(copy.string()));
  sqlite3_progress_handler(h, 0, nullptr, nullptr);
  if (!copied) fail();
  const unsigned version = DataVersion(h);

  // The copy's pages are written over the file's in one write transaction
  // of the engine: every connection to the file, of any program, goes on
  // with the compacted file, and a failure or a stop leaves it as it was.
  // The write lock comes first; a commit by anybody since the copy was
  // read gives the compaction up.
  if (!note(sqlite3_open_v2(copy.c_str(), &done.source, SQLITE_OPEN_READONLY, nullptr), done.source)) fail();
  done.backup = sqlite3_backup_init(h, "main", done.source, "main");
  if (!done.backup) {
    note(sqlite3_errcode(h), h);
    fail();
  }
  if (!note(sqlite3_backup_step(done.backup, 0), h)) fail();
  written = DataVersion(h) != version;
  if (written) fail();
  int stepRc = SQLITE_OK;
  while (stepRc == SQLITE_OK && pace.GoOn()) stepRc = sqlite3_backup_step(done.backup, 1024);
  if (stepRc == SQLITE_OK) fail();  // given up
  note(stepRc, h);
  stepRc = sqlite3_backup_finish(done.backup);
  done.backup = nullptr;
  if (!note(stepRc, h) || failed != SQLITE_OK) {
    if (wal) StepAll(h, "PRAGMA wal_checkpoint(TRUNCATE)");  // the log gives back the room it took
    fail();
  }
  // The compacted pages go from the log into the file, which shrinks. A
  // reader that still reads the earlier pages only delays this.
  if (wal) StepAll(h, "PRAGMA wal_checkpoint(TRUNCATE)");
}

bool MoveDatabaseFile(const std::filesystem::path& from, const std::filesystem::path& to, int32_t& number,
                      std::string& description) {
  number = 0;
  description.clear();
  if (::rename(from.c_str(), to.c_str()) != 0) {
    int err = errno;
    if (err != EXDEV) {
      number = err;
      description = std::strerror(err);
      return false;
    }
    // Another file system: copy, then remove the source.
    std::error_code ec;
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, ec);
    if (!ec) std::filesystem::remove(from, ec);
    if (ec) {
      number = ec.value();
      description = ec.message();
      return false;
    }
  }
  // The replaced file's log and shared-memory index belong to the old
  // contents.
  for (const char* suffix : {"-wal", "-shm"}) {
    auto p = to;
    p += suffix;
    std::error_code ec;
    std::filesystem::remove(p, ec);
  }
  return true;
}

}  // namespace velmo::db
