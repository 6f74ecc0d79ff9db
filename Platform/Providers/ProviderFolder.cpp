#include "ProviderFolder.h"

#include <cstdlib>
#include <fstream>
#include <system_error>

#include "AppFolder.h"

namespace velmo::providers {

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

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

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

std::string UpperAscii(std::string_view s) {
  std::string out(s);
  for (auto& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

std::optional<std::filesystem::path> FindFileNoCase(const std::filesystem::path& folder,
                                                    std::string_view relative) {
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
    std::error_code ec;
    // The exact name first, then a scan for another letter case.
    auto exact = current / name;
    if (std::filesystem::exists(exact, ec)) {
      current = exact;
      continue;
    }
    std::optional<std::filesystem::path> found;
    for (std::filesystem::directory_iterator it(current, ec), end; !ec && it != end; it.increment(ec)) {
      if (EqualsNoCase(it->path().filename().string(), name)) {
        found = it->path();
        break;
      }
    }
    if (!found) return std::nullopt;
    current = *found;
  }
  return current;
}

std::optional<std::filesystem::path> FindProviderFile(std::string_view relative) {
  return FindFileNoCase(ProviderFolder(), relative);
}

const std::string& Record::Field(size_t i) const {
  static const std::string empty;
  return i < fields.size() ? fields[i] : empty;
}

namespace {

// Calls f(number, line) for each meaningful line: byte-order mark and
// trailing CR removed, blank and "#" lines skipped.
template <class F>
bool ForEachLine(const std::filesystem::path& file, F f) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (number == 1 && line.size() >= 3 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] == '#') continue;
    f(number, line, trimmed);
  }
  return true;
}

Record Split(int number, const std::string& line) {
  Record r;
  r.line = number;
  size_t start = 0;
  while (true) {
    size_t tab = line.find('\t', start);
    r.fields.push_back(Trim(std::string_view(line).substr(start, tab == std::string::npos ? std::string::npos : tab - start)));
    if (tab == std::string::npos) break;
    start = tab + 1;
  }
  return r;
}

}  // namespace

bool ReadRecords(const std::filesystem::path& file, std::vector<Record>& records) {
  records.clear();
  return ForEachLine(file, [&](int number, const std::string& line, const std::string&) {
    records.push_back(Split(number, line));
  });
}

bool ReadSections(const std::filesystem::path& file, std::vector<Section>& sections) {
  sections.clear();
  sections.push_back(Section{});
  bool ok = ForEachLine(file, [&](int number, const std::string& line, const std::string& trimmed) {
    if (trimmed.front() == '[' && trimmed.back() == ']' && trimmed.find('\t') == std::string::npos) {
      Section s;
      s.name = Trim(std::string_view(trimmed).substr(1, trimmed.size() - 2));
      s.line = number;
      sections.push_back(std::move(s));
      return;
    }
    sections.back().records.push_back(Split(number, line));
  });
  if (!ok) {
    sections.clear();
    return false;
  }
  if (sections.front().records.empty()) sections.erase(sections.begin());
  return true;
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
