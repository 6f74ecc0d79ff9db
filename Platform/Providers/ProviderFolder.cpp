#include "ProviderFolder.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <system_error>

#include "AppFolder.h"
#include "TextParts.h"

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

const std::string& Record::Field(size_t i) const {
  static const std::string empty;
  return i < fields.size() ? fields[i] : empty;
}

namespace {

// Whether a line is text: valid UTF-8 without control characters but TAB.
const char* NotText(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    if ((c < 0x20 && c != '\t') || c == 0x7F) return "it holds control characters (not a text line)";
    const size_t n = text::Utf8CharLength(s, i);
    if (n == 0) return "it is not UTF-8 text";
    i += n;
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
    if (it->second.settled && it->second.stamp == StampOf(st)) return it->second.value;
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
    if (it->second.value && it->second.settled && it->second.stamp == StampOf(st)) return it->second.value;
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
  if (ReadRegularFile(file, bytes, &stamp, &why)) {
    entry.settled = readAt - std::max(stamp.modified, stamp.changed) > kSettle;
    entry.stamp = stamp;
    BadLines bad(file, stamp, context_);
    entry.value = parse(ProviderText{file, bytes, bad});
  } else {
    // A refused or unreadable file serves nothing; it is logged once per
    // version, as its bad lines would be.
    entry.stamp = StampOf(st);
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
