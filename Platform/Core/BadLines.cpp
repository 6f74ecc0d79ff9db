#include "BadLines.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <set>

#include "AppFolder.h"
#include "ComError.h"
#include "DateText.h"
#include "TextFile.h"

namespace velmo {

FileStamp StampOf(const struct stat& st) {
  FileStamp s;
  s.device = static_cast<uint64_t>(st.st_dev);
  s.inode = static_cast<uint64_t>(st.st_ino);
  s.size = static_cast<uint64_t>(st.st_size);
  s.modified = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  s.changed = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  return s;
}

std::optional<FileStamp> StampOf(const std::filesystem::path& file) {
  struct stat st;
  if (::stat(file.c_str(), &st) != 0) return std::nullopt;
  return StampOf(st);
}

bool ReadRegularFile(const std::filesystem::path& file, std::string& bytes, FileStamp* stamp, std::string* error) {
  bytes.clear();
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  // Anything but a regular file is refused unopened (or, swapped in
  // meanwhile, at once after an open that does not wait).
  int err = 0;
  bool notRegular = false;
  const int fd = OpenRegularFile(file, &err, &notRegular);
  if (fd < 0) {
    struct stat st;
    if (notRegular && ::stat(file.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return fail(std::strerror(EISDIR));
    return fail(notRegular || err == EACCES || err == EPERM ? kAccessDenied : std::strerror(err));
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    const std::string why = std::strerror(errno);
    ::close(fd);
    return fail(why);
  }
  bytes.reserve(static_cast<size_t>(st.st_size));
  char buf[65536];
  while (true) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      std::string why = std::strerror(errno);
      ::close(fd);
      bytes.clear();
      return fail(why);
    }
    bytes.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  if (stamp) *stamp = StampOf(st);
  return true;
}

// ---- bad lines ------------------------------------------------------------

namespace {

// What was logged of each file: the version and its logged lines.
struct Logged {
  FileStamp stamp;
  std::set<int> lines;
  bool capped = false;
};
std::mutex gLoggedMutex;
std::map<std::string, Logged>& LoggedFiles() {
  static std::map<std::string, Logged> files;
  return files;
}

constexpr int32_t kInvalidData = 13;  // "The data is invalid."

std::mutex gLogMutex;
BadLinesLog gLog;

void WriteLogLine(const std::string& description, const std::string& context) {
  {
    std::lock_guard g(gLogMutex);
    if (gLog) {
      gLog(description, context);
      return;
    }
  }
  const std::string sep(6, ' ');
  try {
    AppendLine(AppPath("\\VelmorcastErrorLog.log"),
               NowText() + sep + NumberText(kInvalidData) + sep + description + sep + context);
  } catch (...) {
    // The line is lost; the reader goes on.
  }
}

}  // namespace

void SetBadLinesLog(BadLinesLog log) {
  std::lock_guard g(gLogMutex);
  gLog = std::move(log);
}

BadLines::BadLines(std::filesystem::path file, FileStamp stamp, std::string context)
    : file_(std::move(file)), stamp_(stamp), context_(std::move(context)) {}

void BadLines::Report(int line, const std::string& reason) {
  // A reason quotes the field it could not read: a long one is cut, at a
  // character boundary.
  std::string why = reason;
  if (why.size() > 200) {
    size_t cut = 200;
    while (cut > 0 && (static_cast<unsigned char>(why[cut]) & 0xC0) == 0x80) --cut;
    why = why.substr(0, cut) + "...";
  }
  reported_.Add({line, std::move(why)});
}

BadLines::~BadLines() {
  std::vector<std::string> lines;
  {
    std::lock_guard g(gLoggedMutex);
    Logged& logged = LoggedFiles()[file_.string()];
    if (!(logged.stamp == stamp_)) logged = Logged{stamp_, {}, false};
    const std::string more = "'" + file_.string() + "' has more lines that cannot be read; they are not logged";
    for (const auto& [line, why] : reported_) {
      if (logged.capped || !logged.lines.insert(line).second) continue;
      if (static_cast<int>(logged.lines.size()) > kMaxLoggedLines) {
        logged.capped = true;
        lines.push_back(more);
      } else if (line > 0) {
        lines.push_back("Line " + std::to_string(line) + " of '" + file_.string() + "' cannot be read: " + why);
      } else {
        lines.push_back("'" + file_.string() + "' cannot be read: " + why);
      }
    }
    if (reported_.More() > 0 && !logged.capped) {
      logged.capped = true;
      lines.push_back(more);
    }
  }
  for (const auto& l : lines) WriteLogLine(l, context_);
}

}  // namespace velmo
