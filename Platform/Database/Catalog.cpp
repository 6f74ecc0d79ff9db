// The catalog (new files, their tables and columns), the conversion of
// files of earlier builds, and compaction.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "DbInternal.h"

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

JetEngine::JetEngine() : impl_(std::make_unique<Impl>()) {}
JetEngine::~JetEngine() = default;

void JetEngine::Release() { impl_->lock.Unlock(); }

void JetEngine::CompactDatabase(const std::string& sourceConnectionString, const std::string& destConnectionString) {
  auto src = PathFromConnectionString(sourceConnectionString);
  auto dst = PathFromConnectionString(destConnectionString);
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
  struct stat original {};
  if (::stat(src.c_str(), &original) != 0) Throw(kDbCannotOpen, "Could not find file '" + src.string() + "'.");
  // This thread's kept connections would hold the file.
  ReleaseThreadConnections();

  auto lockFile = src;
  lockFile += ".lock";
  impl_->lock.Unlock();
  if (!impl_->lock.TryLock(lockFile, velmo::FileLock::Mode::Exclusive))
    Throw(kDbCannotOpen, "The database is in use by another process.");

  sqlite3* h = nullptr;
  detail::LockWait wait;
  auto fail = [&](std::exception_ptr e) {
    if (h) sqlite3_close_v2(h);
    // Nothing of a failed copy stays behind, its journal included.
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
      auto p = dst;
      p += suffix;
      std::error_code ignore;
      std::filesystem::remove(p, ignore);
    }
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
