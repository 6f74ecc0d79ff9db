// The catalog (new files, their tables and columns) and compaction.
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
  // Like the engine it stands in for, compaction never overwrites.
  if (dst.empty() || std::filesystem::exists(dst, ec)) Throw(kDbFileExists, "Database already exists.");

  auto lockFile = src;
  lockFile += ".lock";
  impl_->lock.Unlock();
  if (!impl_->lock.TryLock(lockFile, velmo::FileLock::Mode::Exclusive))
    Throw(kDbCannotOpen, "The database is in use by another process.");

  sqlite3* h = nullptr;
  auto fail = [&](std::exception_ptr e) {
    if (h) sqlite3_close_v2(h);
    std::error_code ignore;
    std::filesystem::remove(dst, ignore);
    impl_->lock.Unlock();
    std::rethrow_exception(e);
  };
  try {
    int rc = sqlite3_open_v2(src.c_str(), &h, SQLITE_OPEN_READWRITE, nullptr);
    if (rc != SQLITE_OK) detail::ThrowSqlite(h, rc, src);
    sqlite3_busy_timeout(h, 5000);
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
