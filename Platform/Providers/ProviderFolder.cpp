#include "ProviderFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <set>
#include <system_error>

#include "AppFolder.h"
#include "ComError.h"
#include "DateText.h"
#include "TextFile.h"

namespace velmo::providers {

namespace {

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return std::string(s.substr(b, e - b));
}

}  // namespace

std::filesystem::path ProviderFolder() {
  if (const char* p = std::getenv("VELMORCAST_PROVIDERS"); p && *p) return std::filesystem::path(p);
  return AppFolder() / "providers";
}

namespace {

FileStamp StampFrom(const struct stat& st) {
  FileStamp s;
  s.device = static_cast<uint64_t>(st.st_dev);
  s.inode = static_cast<uint64_t>(st.st_ino);
  s.size = static_cast<uint64_t>(st.st_size);
  s.modified = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  s.changed = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  return s;
}

// The file below `folder` (components matched without regard to case) and
// what stat says of it: the exact name costs one stat per component, another
// letter case a scan of the folder.
std::optional<std::filesystem::path> Locate(const std::filesystem::path& folder, std::string_view relative,
                                            struct stat& st) {
  std::filesystem::path current = folder;
  std::string piece;
  std::vector<std::string> pieces;
  for (char c : relative) {
    if (c == '/' || c == '\\') {
      if (!piece.empty()) pieces.push_back(piece);
      piece.clear();
    } else {
      piece += c;
    }
  }
  if (!piece.empty()) pieces.push_back(piece);
  if (pieces.empty()) return std::nullopt;

  for (const auto& name : pieces) {
    if (name == "." || name == "..") return std::nullopt;  // stays inside the folder
    auto exact = current / name;
    if (::stat(exact.c_str(), &st) == 0) {
      current = exact;
      continue;
    }
    std::error_code ec;
    std::optional<std::filesystem::path> found;
    for (std::filesystem::directory_iterator it(current, ec), end; !ec && it != end; it.increment(ec)) {
      if (EqualsNoCase(it->path().filename().string(), name)) {
        found = it->path();
        break;
      }
    }
    if (!found || ::stat(found->c_str(), &st) != 0) return std::nullopt;
    current = *found;
  }
  return current;
}

}  // namespace

std::optional<std::filesystem::path> FindFileNoCase(const std::filesystem::path& folder,
                                                    std::string_view relative) {
  struct stat st;
  return Locate(folder, relative, st);
}

std::optional<std::filesystem::path> FindProviderFile(std::string_view relative) {
  return FindFileNoCase(ProviderFolder(), relative);
}

std::optional<FileStamp> StampOf(const std::filesystem::path& file) {
  struct stat st;
  if (::stat(file.c_str(), &st) != 0) return std::nullopt;
  return StampFrom(st);
}

bool ReadProviderFile(const std::filesystem::path& file, std::string& bytes, FileStamp* stamp, std::string* error) {
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
  if (fd < 0) return fail(notRegular || err == EACCES || err == EPERM ? kAccessDenied : std::strerror(err));
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
  if (stamp) *stamp = StampFrom(st);
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

void WriteLogLine(const std::string& description, const std::string& context) {
  const std::string sep(6, ' ');
  try {
    AppendLine(AppPath("\\VelmorcastErrorLog.log"),
               NowText() + sep + NumberText(kInvalidData) + sep + description + sep + context);
  } catch (...) {
    // The line is lost; the reader goes on.
  }
}

}  // namespace

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
  reported_.emplace_back(line, std::move(why));
}

BadLines::~BadLines() {
  std::stable_sort(reported_.begin(), reported_.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> lines;
  {
    std::lock_guard g(gLoggedMutex);
    Logged& logged = LoggedFiles()[file_.string()];
    if (!(logged.stamp == stamp_)) logged = Logged{stamp_, {}, false};
    for (const auto& [line, why] : reported_) {
      if (logged.capped || !logged.lines.insert(line).second) continue;
      if (static_cast<int>(logged.lines.size()) > kMaxLoggedLines) {
        logged.capped = true;
        lines.push_back("'" + file_.string() + "' has more lines that cannot be read; they are not logged");
      } else if (line > 0) {
        lines.push_back("Line " + std::to_string(line) + " of '" + file_.string() + "' cannot be read: " + why);
      } else {
        lines.push_back("'" + file_.string() + "' cannot be read: " + why);
      }
    }
  }
  for (const auto& l : lines) WriteLogLine(l, context_);
}

const std::string& Record::Field(size_t i) const {
  static const std::string empty;
  return i < fields.size() ? fields[i] : empty;
}

namespace {

// Whether a line is text: valid UTF-8 without control characters but TAB.
const char* NotText(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      if ((c < 0x20 && c != '\t') || c == 0x7F) return "it holds control characters (not a text line)";
      ++i;
      continue;
    }
    size_t extra;
    char32_t min;
    if ((c & 0xE0) == 0xC0) {
      extra = 1;
      min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2;
      min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3;
      min = 0x10000;
    } else {
      return "it is not UTF-8 text";
    }
    if (i + extra >= s.size()) return "it is not UTF-8 text";
    char32_t cp = c & (0x3F >> extra);
    for (size_t k = 1; k <= extra; ++k) {
      auto d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return "it is not UTF-8 text";
      cp = (cp << 6) | (d & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return "it is not UTF-8 text";
    i += extra + 1;
  }
  return nullptr;
}

// Calls f(number, line, trimmed) for each meaningful line: byte-order mark
// and trailing CR removed, blank and "#" lines skipped, lines that are not
// text reported and skipped.
template <class F>
void ForEachLine(std::string_view text, BadLines* bad, F f) {
  if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  int number = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    std::string_view line = text.substr(start, nl == std::string_view::npos ? std::string_view::npos : nl - start);
    start = nl == std::string_view::npos ? text.size() : nl + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] == '#') continue;
    if (const char* why = NotText(line)) {
      if (bad) bad->Report(number, why);
      continue;
    }
    f(number, line, trimmed);
  }
}

Record Split(int number, std::string_view line) {
  Record r;
  r.line = number;
  size_t start = 0;
  while (true) {
    size_t tab = line.find('\t', start);
    r.fields.push_back(Trim(line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start)));
    if (tab == std::string_view::npos) break;
    start = tab + 1;
  }
  return r;
}

}  // namespace

std::vector<Record> ParseRecords(std::string_view text, BadLines* bad) {
  std::vector<Record> records;
  ForEachLine(text, bad, [&](int number, std::string_view line, const std::string&) {
    records.push_back(Split(number, line));
  });
  return records;
}

std::vector<Section> ParseSections(std::string_view text, BadLines* bad) {
  std::vector<Section> sections(1);
  ForEachLine(text, bad, [&](int number, std::string_view line, const std::string& trimmed) {
    if (trimmed.front() == '[' && trimmed.back() == ']' && trimmed.find('\t') == std::string::npos) {
      Section s;
      s.name = Trim(std::string_view(trimmed).substr(1, trimmed.size() - 2));
      s.line = number;
      sections.push_back(std::move(s));
      return;
    }
    sections.back().records.push_back(Split(number, line));
  });
  if (sections.front().records.empty()) sections.erase(sections.begin());
  return sections;
}

bool ReadRecords(const std::filesystem::path& file, std::vector<Record>& records) {
  records.clear();
  std::string bytes;
  if (!ReadProviderFile(file, bytes)) return false;
  records = ParseRecords(bytes);
  return true;
}

bool ReadSections(const std::filesystem::path& file, std::vector<Section>& sections) {
  sections.clear();
  std::string bytes;
  if (!ReadProviderFile(file, bytes)) return false;
  sections = ParseSections(bytes);
  return true;
}

namespace {
std::atomic<uint64_t> gNextRound{1};
thread_local uint64_t tRound = 0;
thread_local int tRoundDepth = 0;
}  // namespace

LookupRound::LookupRound() {
  if (tRoundDepth++ == 0) tRound = gNextRound.fetch_add(1);
}

LookupRound::~LookupRound() {
  if (--tRoundDepth == 0) tRound = 0;
}

uint64_t LookupRound::Current() { return tRound; }

std::shared_ptr<const void> ParsedFiles::Get(std::string_view relative, const Parse& parse) {
  const std::string key = UpperAscii(relative);
  const uint64_t round = tRound;
  std::lock_guard g(mutex_);
  auto it = entries_.find(key);
  // Looked at already in this round (found or not): served as it was then.
  if (round != 0 && it != entries_.end() && it->second.round == round) return it->second.value;
  const std::filesystem::path folder = ProviderFolder();
  struct stat st;
  // Notes the round on the entry the lookup leaves behind.
  struct MarkRound {
    std::map<std::string, Entry>& entries;
    const std::string& key;
    uint64_t round;
    ~MarkRound() {
      if (round == 0) return;
      auto at = entries.find(key);
      if (at != entries.end()) at->second.round = round;
    }
  } mark{entries_, key, round};
  // The file found last time, looked at once; found again (a scan when its
  // letter case differs) only when it is gone or the folder changed.
  if (it != entries_.end() && it->second.folder == folder && ::stat(it->second.file.c_str(), &st) == 0) {
    if (it->second.settled && it->second.stamp == StampFrom(st)) return it->second.value;
  } else {
    auto found = Locate(folder, relative, st);
    if (!found) {
      // Kept inside a round as "not there", so the round does not search
      // the folder again; outside one it is forgotten.
      if (round != 0)
        entries_.insert_or_assign(key, Entry{folder, {}, FileStamp{}, nullptr});
      else
        entries_.erase(key);
      return nullptr;
    }
    if (it == entries_.end() || it->second.file != *found) {
      entries_.erase(key);
      it = entries_.emplace(key, Entry{folder, *found, FileStamp{}, nullptr}).first;
    }
    it->second.folder = folder;
    if (it->second.value && it->second.settled && it->second.stamp == StampFrom(st)) return it->second.value;
  }
  return Load(it->second, st, parse);
}

std::shared_ptr<const void> ParsedFiles::Load(Entry& entry, const struct stat& st, const Parse& parse) {
  const std::filesystem::path file = entry.file;
  std::string bytes, why;
  FileStamp stamp;
  entry.value = nullptr;
  const int64_t readAt = std::chrono::duration_cast<std::chrono::nanoseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
  constexpr int64_t kSettle = 2'000'000'000;  // ns
  if (ReadProviderFile(file, bytes, &stamp, &why)) {
    entry.settled = readAt - std::max(stamp.modified, stamp.changed) > kSettle;
    entry.stamp = stamp;
    BadLines bad(file, stamp, context_);
    entry.value = parse(ProviderText{file, bytes, bad});
  } else {
    // A refused or unreadable file serves nothing; it is logged once per
    // version, as its bad lines would be.
    entry.stamp = StampFrom(st);
    entry.settled = readAt - std::max(entry.stamp.modified, entry.stamp.changed) > kSettle;
    BadLines(file, entry.stamp, context_).Report(0, why);
  }
  return entry.value;
}

const Section* FindSection(const std::vector<Section>& sections, std::string_view name) {
  for (const auto& s : sections)
    if (EqualsNoCase(s.name, name)) return &s;
  return nullptr;
}

std::optional<uint64_t> ParseNumber(std::string_view text) {
  std::string t = Trim(text);
  if (t.empty()) return std::nullopt;
  int base = 10;
  size_t i = 0;
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    base = 16;
    i = 2;
  }
  uint64_t v = 0;
  for (; i < t.size(); ++i) {
    char c = t[i];
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return std::nullopt;
    if (v > (UINT64_MAX - static_cast<uint64_t>(d)) / static_cast<uint64_t>(base)) return std::nullopt;
    v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
  }
  return v;
}

}  // namespace velmo::providers
