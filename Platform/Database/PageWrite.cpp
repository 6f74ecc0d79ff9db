// Pages of rows held outside the database until they are whole, then
// written in one short transaction.
#include "PageWrite.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>

#include "DbInternal.h"
#include "WriteJournal.h"

namespace velmo::db {

namespace {

// Rows held in memory before they go on to the temporary file.
constexpr size_t kBufferBytes = 1 << 20;
constexpr uint32_t kNull = 0xFFFFFFFFu;

// The database file of a connection string (or path), as pages and
// recordsets name it.
std::filesystem::path PageFile(const std::string& connectionString) {
  std::error_code ec;
  std::filesystem::path file = PathFromConnectionString(connectionString);
  if (!file.empty()) file = std::filesystem::absolute(file, ec);
  return file;
}

std::mutex gFiguresMutex;
PageWriteFigures gFigures;

char* PutU32(char* at, uint32_t v) {
  std::memcpy(at, &v, 4);
  return at + 4;
}

uint32_t GetU32(const char* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// temporary: the folder is the system's temporary folder, not the database's.
[[noreturn]] void ThrowHoldFailure(const std::filesystem::path& folder, int err, bool temporary) {
  if ((err == ENOSPC || err == EDQUOT) && temporary) detail::ThrowTemporaryFolderFull(folder);
  if (err == ENOSPC || err == EDQUOT) detail::Throw(kDbCannotOpen, "Not enough space on disk.");
  detail::Throw(kDbCannotOpen, "Could not hold the rows in a temporary file in '" + folder.string() +
                                   "': " + std::strerror(err) + ".");
}

}  // namespace

struct PageWrite::Impl {
  std::filesystem::path file;
  // The statements of the rows held, by their text, with their tables.
  struct Shape {
    std::string table;
    std::string sql;
  };
  std::vector<Shape> shapes;
  std::map<std::string, uint32_t> shapeOf;
  // Records: byte count of what follows, shape, value count, then each
  // value as its byte count (kNull for Null) and its bytes. The oldest go
  // to the file, the newest wait in the buffer.
  std::vector<char> buffer;
  int fd = -1;
  std::filesystem::path spillFolder;  // where the temporary file is
  off_t fileBytes = 0;
  size_t rows = 0;
  // Set when rows could not be held: the page cannot be whole any more.
  bool broken = false;
  int32_t brokenNumber = 0;
  std::string brokenText;

  ~Impl() { Forget(); }

  void Forget() {
    shapes.clear();
    shapeOf.clear();
    buffer.clear();
    buffer.shrink_to_fit();
    if (fd >= 0) ::close(fd);
    fd = -1;
    fileBytes = 0;
    rows = 0;
    broken = false;
  }

  // The temporary file, beside the database (its rows are the size of the
  // page they become there) or, in a folder that takes no new file, in the
  // system's temporary folder; without a name.
  void OpenSpill() {
    std::filesystem::path folder = file.parent_path();
    if (folder.empty()) folder = ".";
    std::error_code ec;
    const std::filesystem::path spare = std::filesystem::temp_directory_path(ec);
    int why = 0;
    for (const auto& f : {folder, spare}) {
      if (f.empty()) continue;
      spillFolder = f;
      fd = ::open(f.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
      if (fd >= 0) return;
      // A file system without unnamed files: a named one, unlinked at once.
      std::string name = (f / ".velmo-page-XXXXXX").string();
      fd = ::mkostemp(name.data(), O_CLOEXEC);
      if (fd >= 0) {
        ::unlink(name.c_str());
        return;
      }
      if (!why) why = errno;
    }
    ThrowHoldFailure(folder, why, false);
  }

  void Spill() {
    if (buffer.empty()) return;
    if (fd < 0) OpenSpill();
    const char* p = buffer.data();
    size_t left = buffer.size();
    while (left > 0) {
      const ssize_t n = ::pwrite(fd, p, left, fileBytes);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) ThrowHoldFailure(spillFolder, n < 0 ? errno : ENOSPC, spillFolder != file.parent_path());
      p += n;
      left -= static_cast<size_t>(n);
      fileBytes += n;
    }
    buffer.clear();
  }

  void Hold(const std::string& table, const std::string& sql, const std::vector<std::vector<Value>>& values,
            const std::vector<int>& fields) {
    if (broken) detail::Throw(brokenNumber, brokenText);
    auto [at, added] = shapeOf.emplace(sql, static_cast<uint32_t>(shapes.size()));
    if (added) shapes.push_back({table, sql});
    rows += values.size();
    try {
      for (const auto& row : values) {
        size_t bytes = 8 + 4 * fields.size();
        for (int f : fields) bytes += row[static_cast<size_t>(f)].Text().size();
        const size_t start = buffer.size();
        buffer.resize(start + 4 + bytes);
        char* p = PutU32(buffer.data() + start, static_cast<uint32_t>(bytes));
        p = PutU32(p, at->second);
        p = PutU32(p, static_cast<uint32_t>(fields.size()));
        for (int f : fields) {
          const Value& v = row[static_cast<size_t>(f)];
          p = PutU32(p, v.IsNull() ? kNull : static_cast<uint32_t>(v.Text().size()));
          std::memcpy(p, v.Text().data(), v.Text().size());
          p += v.Text().size();
        }
      }
      if (buffer.size() >= kBufferBytes) Spill();
    } catch (const ComError& e) {
      // Rows lost: nothing of the page is written, and every later hold
      // fails the same way.
      broken = true;
      brokenNumber = e.Number();
      brokenText = e.Description();
      throw;
    }
  }

  // Calls each(record, bytes) for every record held, oldest first.
  template <typename Each>
  void ForEachRecord(Each&& each) {
    std::vector<char> chunk;
    size_t begin = 0;
    off_t read = 0;
    // Makes n bytes from begin available in the chunk.
    auto need = [&](size_t n) {
      while (chunk.size() - begin < n) {
        if (read >= fileBytes) detail::Throw(kDbCannotOpen, "Disk or network error.");
        chunk.erase(chunk.begin(), chunk.begin() + static_cast<long>(begin));
        begin = 0;
        const size_t want = std::max(kBufferBytes, n);
        const size_t have = chunk.size();
        chunk.resize(have + want);
        ssize_t got;
        do got = ::pread(fd, chunk.data() + have, want, read);
        while (got < 0 && errno == EINTR);
        if (got <= 0) {
          chunk.resize(have);
          detail::Throw(kDbCannotOpen, "Disk or network error.");
        }
        chunk.resize(have + static_cast<size_t>(got));
        read += got;
      }
    };
    while (read < fileBytes || begin < chunk.size()) {
      need(4);
      const uint32_t bytes = GetU32(chunk.data() + begin);
      need(4 + size_t(bytes));
      each(chunk.data() + begin + 4, bytes);
      begin += 4 + size_t(bytes);
    }
    for (size_t at = 0; at < buffer.size();) {
      const uint32_t bytes = GetU32(buffer.data() + at);
      each(buffer.data() + at + 4, bytes);
      at += 4 + size_t(bytes);
    }
  }

  void Commit(const std::function<bool()>& meanwhile) {
    if (rows == 0) return;
    const size_t count = rows;
    if (broken) {
      const std::string why = brokenText;
      const int32_t number = brokenNumber;
      Forget();
      detail::Throw(number, why + " " + std::to_string(count) + " added rows were not written.");
    }
    // Row ids by table, as runs of consecutive ids (a page's rows get one
    // run per table), so noting them costs no memory per row here.
    std::map<std::string, std::vector<std::pair<int64_t, int64_t>>> written;
    std::chrono::steady_clock::time_point locked;
    try {
      // A connection of the commit's own: the call back may run other work
      // of the thread, which must not close it under the transaction.
      Connection conn;
      conn.Open(file.string());
      Connection::Impl& ci = conn.impl();
      std::vector<detail::Stmt> statements;
      for (const auto& s : shapes) statements.push_back(ci.PrepareCached(s.sql));
      std::vector<std::vector<std::pair<int64_t, int64_t>>*> ids;
      for (const auto& s : shapes) ids.push_back(&written[s.table]);
      detail::ExecSimple(ci.h, "BEGIN IMMEDIATE", ci.path);
      locked = std::chrono::steady_clock::now();
      try {
        size_t done = 0;
        ForEachRecord([&](const char* p, uint32_t) {
          if (meanwhile && ++done % 64 == 0 && !meanwhile())
            detail::Throw(Hr(0x800704C7), "The operation was canceled by the user.");
          const uint32_t shape = GetU32(p + 0), n = GetU32(p + 4);
          p += 8;
          sqlite3_stmt* s = statements[shape].get();
          for (uint32_t i = 0; i < n; ++i) {
            const uint32_t len = GetU32(p);
            p += 4;
            if (len == kNull) {
              sqlite3_bind_null(s, static_cast<int>(i) + 1);
            } else {
              sqlite3_bind_text(s, static_cast<int>(i) + 1, p, static_cast<int>(len), SQLITE_STATIC);
              p += len;
            }
          }
          const int rc = sqlite3_step(s);
          if (rc != SQLITE_DONE) {
            const std::string msg = sqlite3_errmsg(ci.h);
            sqlite3_reset(s);
            detail::ThrowCode(rc, msg, ci.path);
          }
          sqlite3_reset(s);
          const int64_t id = sqlite3_last_insert_rowid(ci.h);
          auto& runs = *ids[shape];
          if (!runs.empty() && runs.back().second + 1 == id)
            runs.back().second = id;
          else
            runs.emplace_back(id, id);
        });
        for (auto& st : statements) sqlite3_clear_bindings(st.get());
        // Work of several pages records what this one wrote with it.
        detail::RecordUnfinishedRows(ci.h, file, written);
        detail::ExecSimple(ci.h, "COMMIT", ci.path);
      } catch (...) {
        for (auto& st : statements) {
          sqlite3_reset(st.get());
          sqlite3_clear_bindings(st.get());
        }
        if (!sqlite3_get_autocommit(ci.h)) sqlite3_exec(ci.h, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
      }
    } catch (const std::exception&) {
      Forget();
      const ComError why = AsComError(std::current_exception());
      detail::Throw(why.Number(), why.Description() + " " + std::to_string(count) + " added rows were not written.");
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - locked).count();
    {
      std::lock_guard<std::mutex> hold(gFiguresMutex);
      ++gFigures.pages;
      gFigures.lastSeconds = seconds;
      if (seconds > gFigures.longestSeconds) {
        gFigures.longestSeconds = seconds;
        gFigures.longestRows = count;
      }
    }
    std::vector<int64_t> some;
    for (const auto& [table, runs] : written) {
      for (const auto& [first, last] : runs)
        for (int64_t id = first; id <= last; ++id) {
          some.push_back(id);
          if (some.size() == 65536) {
            NoteWrittenRows(file, table, some);
            some.clear();
          }
        }
      NoteWrittenRows(file, table, some);
      some.clear();
    }
    Forget();
  }
};

namespace {
// The pages alive on this thread, innermost last.
thread_local std::vector<PageWrite::Impl*> tPages;
}  // namespace

PageWrite::PageWrite(const std::string& connectionString) : impl_(std::make_unique<Impl>()) {
  impl_->file = PageFile(connectionString);
  tPages.push_back(impl_.get());
}

PageWrite::~PageWrite() {
  auto at = std::find(tPages.begin(), tPages.end(), impl_.get());
  if (at != tPages.end()) tPages.erase(at);
}

size_t PageWrite::Count() const { return impl_->rows; }

void PageWrite::Commit(const std::function<bool()>& meanwhile) { impl_->Commit(meanwhile); }

void PageWrite::Discard() { impl_->Forget(); }

PageWriteFigures PageWritesSoFar() {
  std::lock_guard<std::mutex> hold(gFiguresMutex);
  return gFigures;
}

bool HoldRows(const std::string& connectionString, const std::string& table, const std::vector<std::string>& columns,
              const std::vector<std::vector<Value>>& rows) {
  if (tPages.empty()) return false;
  std::string names, marks;
  std::vector<int> fields;
  for (const auto& c : columns) {
    names += (names.empty() ? "" : ",") + QuoteIdent(c);
    marks += marks.empty() ? "?" : ",?";
    fields.push_back(static_cast<int>(fields.size()));
  }
  const std::string sql = "INSERT INTO " + QuoteIdent(table) + " (" + names + ") VALUES (" + marks + ")";
  return detail::HoldForPage(PageFile(connectionString), table, sql, rows, fields);
}

namespace detail {

bool HoldForPage(const std::filesystem::path& file, const std::string& table, const std::string& insertSql,
                 const std::vector<std::vector<Value>>& rows, const std::vector<int>& fields) {
  for (auto it = tPages.rbegin(); it != tPages.rend(); ++it) {
    if ((*it)->file.empty() || (*it)->file != file) continue;
    (*it)->Hold(table, insertSql, rows, fields);
    return true;
  }
  return false;
}

}  // namespace detail

}  // namespace velmo::db
