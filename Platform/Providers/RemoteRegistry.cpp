// Read-only registry of named servers over registry-editor export files.
#include "RemoteRegistry.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <unordered_map>

#include "ProviderFolder.h"
#include "TextParts.h"

namespace velmo::reg {
namespace {

// ---------------------------------------------------------------- model

struct Value {
  std::string name;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  bool removed = false;  // while parsing: taken out again by "name"=-
};

// Key and value names match without regard to the case of A to Z; the
// lookup maps are keyed by the name in capitals.
using text::EqualNoCase;
using text::UpperAscii;

// A key: its subkeys and values in stored order, each also found by its
// folded name in constant time, whatever the number of siblings (a key of
// a few is searched through; past kIndexFrom it keeps an index). Keys live
// in their hive's arena and point at one another, so neither building nor
// destroying a hive recurses on the depth of its keys.
struct Key {
  std::string name;
  std::vector<Key*> subkeys;  // in stored order; null while parsing: removed
  std::unordered_map<std::string, size_t> subkeyAt;  // kept when many
  std::vector<Value> values;  // in stored order
  std::unordered_map<std::string, size_t> valueAt;   // kept when many
  bool touched = false;  // while parsing: lost a subkey or a value
};

constexpr size_t kIndexFrom = 8;
constexpr size_t kNone = static_cast<size_t>(-1);

// The registry's own limit on the depth of keys.
constexpr size_t kMaxDepth = 512;

struct Hive {
  std::deque<Key> keys;  // keys.front() is HKEY_LOCAL_MACHINE
  FILETIME stamp{};
  Hive() { keys.emplace_back(); }
  Key& Root() { return keys.front(); }
  const Key& Root() const { return keys.front(); }
};

size_t SubkeyAt(const Key& key, std::string_view name) {
  if (key.subkeys.size() > kIndexFrom) {
    auto it = key.subkeyAt.find(UpperAscii(name));
    return it == key.subkeyAt.end() ? kNone : it->second;
  }
  for (size_t i = 0; i < key.subkeys.size(); ++i)
    if (key.subkeys[i] && EqualNoCase(key.subkeys[i]->name, name)) return i;
  return kNone;
}

size_t ValueAt(const Key& key, std::string_view name) {
  if (key.values.size() > kIndexFrom) {
    auto it = key.valueAt.find(UpperAscii(name));
    return it == key.valueAt.end() ? kNone : it->second;
  }
  for (size_t i = 0; i < key.values.size(); ++i)
    if (!key.values[i].removed && EqualNoCase(key.values[i].name, name)) return i;
  return kNone;
}

// Rebuilds the indexes of a key after its lists changed size.
void Reindex(Key& key) {
  key.subkeyAt.clear();
  if (key.subkeys.size() > kIndexFrom)
    for (size_t i = 0; i < key.subkeys.size(); ++i)
      if (key.subkeys[i]) key.subkeyAt.emplace(UpperAscii(key.subkeys[i]->name), i);
  key.valueAt.clear();
  if (key.values.size() > kIndexFrom)
    for (size_t i = 0; i < key.values.size(); ++i)
      if (!key.values[i].removed) key.valueAt.emplace(UpperAscii(key.values[i].name), i);
}

const Key* FindSubkey(const Key& key, std::string_view name) {
  size_t at = SubkeyAt(key, name);
  return at == kNone ? nullptr : key.subkeys[at];
}

const Value* FindValue(const Key& key, std::string_view name) {
  size_t at = ValueAt(key, name);
  return at == kNone ? nullptr : &key.values[at];
}

// ---------------------------------------------------------------- text

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// UTF-16LE bytes to UTF-8; a lone surrogate becomes U+FFFD, an odd last
// byte is dropped.
std::string Utf16LeToUtf8(const BYTE* p, size_t n) {
  std::string out;
  out.reserve(n / 2);
  size_t units = n / 2;
  for (size_t i = 0; i < units; ++i) {
    char32_t u = p[2 * i] | (p[2 * i + 1] << 8);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
      char32_t lo = p[2 * i + 2] | (p[2 * i + 3] << 8);
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
        ++i;
        continue;
      }
    }
    if (u >= 0xD800 && u <= 0xDFFF) u = 0xFFFD;
    AppendUtf8(out, u);
  }
  return out;
}

bool IsUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    auto c = static_cast<unsigned char>(s[i]);
    size_t extra;
    char32_t min;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1;
      min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2;
      min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3;
      min = 0x10000;
    } else {
      return false;
    }
    if (i + extra >= s.size()) return false;
    char32_t cp = c & (0x3F >> extra);
    for (size_t k = 1; k <= extra; ++k) {
      auto d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

// Windows-1252, the code page the registry editor's 8-bit exports are
// written in on Western systems.
std::string Cp1252ToUtf8(std::string_view s) {
  static const char16_t k80[32] = {
      0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};
  std::string out;
  out.reserve(s.size());
  for (char ch : s) {
    auto c = static_cast<unsigned char>(ch);
    AppendUtf8(out, (c >= 0x80 && c < 0xA0) ? k80[c - 0x80] : c);
  }
  return out;
}

// 8-bit text: taken as UTF-8 when it is valid UTF-8, else as Windows-1252.
std::string EightBitToUtf8(std::string_view s) { return IsUtf8(s) ? std::string(s) : Cp1252ToUtf8(s); }

std::string_view Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualNoCase(s.substr(0, prefix.size()), prefix);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// 1 to maxDigits hex digits, nothing else.
bool ParseHexNumber(std::string_view s, size_t maxDigits, std::uint64_t& out) {
  if (s.empty() || s.size() > maxDigits) return false;
  out = 0;
  for (char c : s) {
    int d = HexDigit(c);
    if (d < 0) return false;
    out = (out << 4) | static_cast<unsigned>(d);
  }
  return true;
}

// ---------------------------------------------------------------- parser

class Parser {
 public:
  explicit Parser(Hive& hive) : hive_(hive) {}

  bool Parse(const std::string& text, std::string& error) {
    SplitLines(text);
    size_t i = 0;
    while (i < lines_.size() && Trim(lines_[i]).empty()) ++i;
    if (i == lines_.size()) return Fail(error, 1, "empty file");
    std::string_view head = Trim(lines_[i]);
    if (head == "Windows Registry Editor Version 5.00")
      unicodeHex_ = true;
    else if (head != "REGEDIT4")
      return Fail(error, i + 1, "not a registry editor export");
    for (++i; i < lines_.size(); ++i) {
      std::string_view t = Trim(lines_[i]);
      if (t.empty() || t[0] == ';') continue;
      std::string why;
      bool ok = t[0] == '[' ? Header(t, why) : ValueLine(t, i, why);
      if (!ok) return Fail(error, i + 1, why);
    }
    Compact();
    return true;
  }

 private:
  static bool Fail(std::string& error, size_t line, const std::string& why) {
    error = "line " + std::to_string(line) + ": " + why;
    return false;
  }

  void SplitLines(const std::string& text) {
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\r' || text[i] == '\n') {
        lines_.emplace_back(text.data() + start, i - start);
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
      }
    }
    if (start < text.size()) lines_.emplace_back(text.data() + start, text.size() - start);
  }

  // "[HKEY_LOCAL_MACHINE\A\B]" selects (and creates) the key; "[-...]"
  // removes it; sections of other hives are read and ignored.
  bool Header(std::string_view t, std::string& why) {
    size_t close = t.rfind(']');
    if (close == std::string_view::npos || close == 0) {
      why = "key name without closing ']'";
      return false;
    }
    if (!Trim(t.substr(close + 1)).empty()) {
      why = "text after the key name";
      return false;
    }
    std::string_view path = t.substr(1, close - 1);
    bool remove = !path.empty() && path[0] == '-';
    if (remove) path.remove_prefix(1);
    std::vector<std::string_view> components;
    size_t b = 0;
    for (size_t k = 0; k <= path.size(); ++k) {
      if (k == path.size() || path[k] == '\\') {
        if (k > b) components.push_back(path.substr(b, k - b));
        b = k + 1;
      }
    }
    inSection_ = true;
    current_ = nullptr;
    if (components.empty() || !EqualNoCase(components[0], "HKEY_LOCAL_MACHINE")) return true;
    if (components.size() - 1 > kMaxDepth) {
      why = "key nested deeper than the registry's limit of " + std::to_string(kMaxDepth) + " levels";
      return false;
    }
    if (remove) {
      Key* parent = &hive_.Root();
      for (size_t k = 1; parent && k + 1 < components.size(); ++k)
        parent = const_cast<Key*>(FindSubkey(*parent, components[k]));
      if (parent && components.size() > 1) {
        size_t at = SubkeyAt(*parent, components.back());
        if (at != kNone) {
          parent->subkeys[at] = nullptr;
          parent->subkeyAt.erase(UpperAscii(components.back()));
          Touch(parent);
        }
      }
      return true;
    }
    Key* key = &hive_.Root();
    for (size_t k = 1; k < components.size(); ++k) key = &SubkeyFor(*key, components[k]);
    current_ = key;
    return true;
  }

  Key& SubkeyFor(Key& key, std::string_view name) {
    if (key.subkeys.size() > kIndexFrom) {
      // One look at the index finds the key or makes room for it.
      auto [it, added] = key.subkeyAt.try_emplace(UpperAscii(name), key.subkeys.size());
      if (!added) return *key.subkeys[it->second];
    } else if (size_t at = SubkeyAt(key, name); at != kNone) {
      return *key.subkeys[at];
    }
    Key& child = hive_.keys.emplace_back();
    child.name = std::string(name);
    key.subkeys.push_back(&child);
    if (key.subkeys.size() == kIndexFrom + 1) Reindex(key);
    return child;
  }

  // A quoted text starting at s[pos] == '"': \\ and \" are escapes, any
  // other backslash stands for itself. pos ends after the closing quote.
  static bool Quoted(std::string_view s, size_t& pos, std::string& out) {
    out.clear();
    for (size_t k = pos + 1; k < s.size(); ++k) {
      char c = s[k];
      if (c == '"') {
        pos = k + 1;
        return true;
      }
      if (c == '\\' && k + 1 < s.size() && (s[k + 1] == '\\' || s[k + 1] == '"')) c = s[++k];
      out.push_back(c);
    }
    return false;
  }

  bool ValueLine(std::string_view t, size_t& lineIndex, std::string& why) {
    if (!inSection_) {
      why = "value before the first key";
      return false;
    }
    std::string name;
    size_t pos = 0;
    if (t[0] == '@') {
      pos = 1;
    } else if (t[0] == '"') {
      if (!Quoted(t, pos, name)) {
        why = "value name without closing quote";
        return false;
      }
    } else {
      why = "neither a key nor a value";
      return false;
    }
    std::string_view rest = Trim(t.substr(pos));
    if (rest.empty() || rest[0] != '=') {
      why = "'=' missing after the value name";
      return false;
    }
    rest = Trim(rest.substr(1));

    Value v;
    v.name = name;
    if (rest == "-") {
      if (current_) Remove(name);
      return true;
    }
    if (!rest.empty() && rest[0] == '"') {
      std::string s;
      size_t p = 0;
      if (!Quoted(rest, p, s)) {
        why = "string without closing quote";
        return false;
      }
      if (!Trim(rest.substr(p)).empty()) {
        why = "text after the string";
        return false;
      }
      v.type = REG_SZ;
      v.data.assign(s.begin(), s.end());
      v.data.push_back(0);
    } else if (StartsWithNoCase(rest, "dword:")) {
      std::uint64_t n;
      if (!ParseHexNumber(rest.substr(6), 8, n)) {
        why = "dword value is not 1 to 8 hex digits";
        return false;
      }
      v.type = REG_DWORD;
      for (int k = 0; k < 4; ++k) v.data.push_back(static_cast<BYTE>(n >> (8 * k)));
    } else if (StartsWithNoCase(rest, "hex")) {
      if (!HexValue(rest, lineIndex, v, why)) return false;
    } else {
      why = "unknown value data";
      return false;
    }
    if (current_) Store(std::move(v));
    return true;
  }

  // hex:.. or hex(n):.., comma-separated bytes; a line ending in "\" goes
  // on in the next line.
  bool HexValue(std::string_view rest, size_t& lineIndex, Value& v, std::string& why) {
    size_t p = 3;
    v.type = REG_BINARY;
    if (p < rest.size() && rest[p] == '(') {
      size_t close = rest.find(')', p);
      std::uint64_t n;
      if (close == std::string_view::npos || !ParseHexNumber(rest.substr(p + 1, close - p - 1), 8, n)) {
        why = "bad type in hex(...)";
        return false;
      }
      v.type = static_cast<DWORD>(n);
      p = close + 1;
    }
    if (p >= rest.size() || rest[p] != ':') {
      why = "':' missing after hex";
      return false;
    }
    std::string list(Trim(rest.substr(p + 1)));
    while (!list.empty() && list.back() == '\\') {
      list.pop_back();
      if (++lineIndex >= lines_.size()) {
        why = "continuation line missing at the end of the file";
        return false;
      }
      list += Trim(lines_[lineIndex]);
    }
    std::vector<BYTE> bytes;
    std::string_view l = Trim(list);
    size_t b = 0;
    while (b < l.size()) {
      size_t comma = l.find(',', b);
      std::string_view tok = Trim(l.substr(b, comma == std::string_view::npos ? l.npos : comma - b));
      std::uint64_t n;
      if (!ParseHexNumber(tok, 2, n)) {
        why = "bad byte '" + std::string(tok) + "' in hex data";
        return false;
      }
      bytes.push_back(static_cast<BYTE>(n));
      if (comma == std::string_view::npos) break;
      b = comma + 1;
    }
    if (v.type == REG_SZ || v.type == REG_EXPAND_SZ || v.type == REG_MULTI_SZ) {
      // Stored as the export wrote it: UTF-16LE in version 5 files, the
      // 8-bit code page in REGEDIT4 files. Handed out as UTF-8.
      std::string s = unicodeHex_
                          ? Utf16LeToUtf8(bytes.data(), bytes.size())
                          : EightBitToUtf8(std::string_view(reinterpret_cast<const char*>(bytes.data()),
                                                            bytes.size()));
      if (s.empty() || s.back() != '\0') s.push_back('\0');
      v.data.assign(s.begin(), s.end());
    } else {
      v.data = std::move(bytes);
    }
    return true;
  }

  // A value named again replaces the earlier data in the earlier place.
  void Store(Value v) {
    Key& key = *current_;
    size_t at = ValueAt(key, v.name);
    if (at != kNone) {
      key.values[at].type = v.type;
      key.values[at].data = std::move(v.data);
      return;
    }
    std::string name = v.name;
    key.values.push_back(std::move(v));
    if (key.values.size() == kIndexFrom + 1)
      Reindex(key);
    else if (key.values.size() > kIndexFrom)
      key.valueAt.emplace(UpperAscii(name), key.values.size() - 1);
  }

  // Marked now, taken out when the file is read (Compact), so that removing
  // stays constant in time.
  void Remove(const std::string& name) {
    size_t at = ValueAt(*current_, name);
    if (at == kNone) return;
    current_->values[at].removed = true;
    current_->valueAt.erase(UpperAscii(name));
    Touch(current_);
  }

  void Touch(Key* key) {
    if (!key->touched) touched_.push_back(key);
    key->touched = true;
  }

  // Takes out the keys and values removed while parsing.
  void Compact() {
    for (Key* key : touched_) {
      key->touched = false;
      std::erase(key->subkeys, nullptr);
      std::erase_if(key->values, [](const Value& v) { return v.removed; });
      Reindex(*key);
    }
    touched_.clear();
  }

  Hive& hive_;
  std::vector<std::string_view> lines_;  // into the text being parsed
  bool unicodeHex_ = false;
  bool inSection_ = false;
  Key* current_ = nullptr;
  std::vector<Key*> touched_;  // keys that lost a subkey or a value
};

// The whole file as UTF-8 text: UTF-16LE after its byte-order mark, UTF-8
// after its mark, otherwise 8-bit text.
std::string DecodeFile(const std::string& bytes) {
  if (bytes.size() >= 2 && static_cast<BYTE>(bytes[0]) == 0xFF && static_cast<BYTE>(bytes[1]) == 0xFE)
    return Utf16LeToUtf8(reinterpret_cast<const BYTE*>(bytes.data()) + 2, bytes.size() - 2);
  if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return bytes.substr(3);
  return EightBitToUtf8(bytes);
}

// Parses export bytes; on failure `error` says why and `line` where (0:
// the file as a whole).
bool ParseHive(const std::string& bytes, Hive& hive, std::string& error, size_t& line) {
  if (Parser(hive).Parse(DecodeFile(bytes), error)) return true;
  // "line N: why"
  line = 0;
  if (error.rfind("line ", 0) == 0) line = std::strtoul(error.c_str() + 5, nullptr, 10);
  return false;
}

FILETIME ToFileTime(int64_t nanoseconds) {
  // 100-nanosecond ticks since 1601-01-01.
  int64_t ticks = nanoseconds / 100 + 11644473600LL * 10000000LL;
  auto u = static_cast<std::uint64_t>(ticks < 0 ? 0 : ticks);
  return FILETIME{static_cast<DWORD>(u), static_cast<DWORD>(u >> 32)};
}

LONG LoadHive(const std::filesystem::path& file, std::shared_ptr<Hive>& out, std::string* error) {
  std::string bytes, why;
  providers::FileStamp stamp;
  // Only a regular file is read: a named pipe would block the reader.
  if (!providers::ReadRegularFile(file, bytes, &stamp, &why)) {
    if (error) *error = why;
    return ERROR_ACCESS_DENIED;
  }
  auto hive = std::make_shared<Hive>();
  size_t line = 0;
  if (!ParseHive(bytes, *hive, why, line)) {
    if (error) *error = why;
    return ERROR_BADDB;
  }
  hive->stamp = ToFileTime(stamp.modified);
  out = std::move(hive);
  return ERROR_SUCCESS;
}

// ---------------------------------------------------------------- handles

struct OpenKey {
  std::shared_ptr<const Hive> hive;
  const Key* key = nullptr;
};

// A snapshot as read for one version of its file: the hive, or why it was
// refused.
struct CachedHive {
  providers::FileStamp stamp;
  LONG rc = ERROR_SUCCESS;
  std::shared_ptr<const Hive> hive;
};

struct State {
  std::mutex mutex;
  std::unordered_map<std::uintptr_t, OpenKey> handles;
  std::uintptr_t next = 0x1000;  // handles are never reused
  std::map<std::string, CachedHive> cache;
};

State& S() {
  static State s;
  return s;
}

HKEY NewHandle(OpenKey k) {
  State& s = S();
  std::lock_guard lock(s.mutex);
  std::uintptr_t h = s.next;
  s.next += 4;
  s.handles.emplace(h, std::move(k));
  return reinterpret_cast<HKEY>(h);
}

bool Resolve(HKEY h, OpenKey& out) {
  State& s = S();
  std::lock_guard lock(s.mutex);
  auto it = s.handles.find(reinterpret_cast<std::uintptr_t>(h));
  if (it == s.handles.end()) return false;
  out = it->second;
  return true;
}

// The snapshot of a server, parsed again only when its file changed. A
// snapshot that is refused is logged once per version of its file, with
// the line that could not be read.
LONG HiveFor(const std::filesystem::path& file, std::shared_ptr<const Hive>& out) {
  const std::string key = file.string();
  State& s = S();
  auto now = providers::StampOf(file);
  if (now) {
    std::lock_guard lock(s.mutex);
    auto it = s.cache.find(key);
    if (it != s.cache.end() && it->second.stamp == *now) {
      out = it->second.hive;
      return it->second.rc;
    }
  }
  std::string bytes, why;
  providers::FileStamp stamp;
  CachedHive cached;
  size_t line = 0;
  if (!providers::ReadRegularFile(file, bytes, &stamp, &why)) {
    cached.rc = ERROR_ACCESS_DENIED;
    if (!now) return cached.rc;  // gone meanwhile: nothing to keep
    stamp = *now;
  } else {
    auto hive = std::make_shared<Hive>();
    if (ParseHive(bytes, *hive, why, line)) {
      hive->stamp = ToFileTime(stamp.modified);
      cached.hive = std::move(hive);
    } else {
      cached.rc = ERROR_BADDB;
      // "line N: why" becomes "why" on the logged line, which names the line.
      if (auto colon = why.find(": "); line && colon != std::string::npos) why = why.substr(colon + 2);
    }
  }
  if (cached.rc != ERROR_SUCCESS) providers::BadLines(file, stamp, "Registry").Report(static_cast<int>(line), why);
  cached.stamp = stamp;
  out = cached.hive;
  LONG rc = cached.rc;
  std::lock_guard lock(s.mutex);
  s.cache[key] = std::move(cached);
  return rc;
}

// The snapshot file of a server, its name matched without regard to case.
bool FindSnapshot(std::string_view server, std::filesystem::path& out) {
  std::string wanted = std::string(server) + ".reg";
  std::error_code ec;
  std::filesystem::directory_iterator it(SnapshotFolder(), ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (EqualNoCase(name, wanted)) {
      out = it->path();
      return true;
    }
  }
  return false;
}

LONG PutName(const std::string& name, char* buf, DWORD* chars) {
  if (name.size() + 1 > *chars) {
    *chars = static_cast<DWORD>(name.size() + 1);
    return ERROR_MORE_DATA;
  }
  std::memcpy(buf, name.data(), name.size());
  buf[name.size()] = '\0';
  *chars = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

LONG PutData(const Value& v, DWORD* type, BYTE* data, DWORD* cb) {
  if (type) *type = v.type;
  if (!cb) return ERROR_SUCCESS;
  auto size = static_cast<DWORD>(v.data.size());
  if (data) {
    if (*cb < size) {
      *cb = size;
      return ERROR_MORE_DATA;
    }
    if (size) std::memcpy(data, v.data.data(), size);
  }
  *cb = size;
  return ERROR_SUCCESS;
}

// A value of an open key, for the typed reads.
LONG Lookup(HKEY hKey, const char* name, OpenKey& k, const Value*& v) {
  if (!Resolve(hKey, k)) return ERROR_INVALID_HANDLE;
  v = FindValue(*k.key, name ? name : "");
  return v ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

}  // namespace

// ---------------------------------------------------------------- API

std::filesystem::path SnapshotFolder() {
  return velmo::providers::ProviderFolder() / "registry";
}

bool ValidateSnapshot(const std::filesystem::path& file, std::string* error) {
  std::shared_ptr<Hive> hive;
  return LoadHive(file, hive, error) == ERROR_SUCCESS;
}

std::size_t OpenHandleCount() {
  State& s = S();
  std::lock_guard lock(s.mutex);
  return s.handles.size();
}

LONG RegConnectRegistryA(const char* lpMachineName, HKEY hKey, HKEY* phkResult) {
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  if (hKey != HKEY_LOCAL_MACHINE) return ERROR_INVALID_HANDLE;
  std::string_view server = lpMachineName ? lpMachineName : "";
  for (int k = 0; k < 2 && !server.empty() && server[0] == '\\'; ++k) server.remove_prefix(1);
  // A server name names one file of the snapshot folder, never a path.
  if (server.empty() || server == "." || server == ".." ||
      server.find_first_of("\\/") != std::string_view::npos)
    return ERROR_BAD_NETPATH;
  std::filesystem::path file;
  if (!FindSnapshot(server, file)) return ERROR_BAD_NETPATH;
  std::shared_ptr<const Hive> hive;
  LONG rc = HiveFor(file, hive);
  if (rc != ERROR_SUCCESS) return rc;
  const Key* root = &hive->Root();
  *phkResult = NewHandle(OpenKey{std::move(hive), root});
  return ERROR_SUCCESS;
}

LONG RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD, REGSAM samDesired, HKEY* phkResult) {
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  OpenKey k;
  if (!Resolve(hKey, k)) return ERROR_INVALID_HANDLE;
  // Reading, the 32/64-bit view flags, and the generic forms of reading.
  constexpr REGSAM kReadable = KEY_READ | 0x0100 | 0x0200 | 0x02000000 | 0x80000000;
  if (samDesired & ~kReadable) return ERROR_ACCESS_DENIED;
  std::string_view path = lpSubKey ? lpSubKey : "";
  if (!path.empty() && path[0] == '\\') return ERROR_BAD_PATHNAME;
  const Key* key = k.key;
  size_t b = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '\\') {
      if (i > b) {
        key = FindSubkey(*key, path.substr(b, i - b));
        if (!key) return ERROR_FILE_NOT_FOUND;
      }
      b = i + 1;
    }
  }
  *phkResult = NewHandle(OpenKey{std::move(k.hive), key});
  return ERROR_SUCCESS;
}

LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName, DWORD*, char* lpClass,
                   DWORD* lpcchClass, FILETIME* lpftLastWriteTime) {
  OpenKey k;
  if (!Resolve(hKey, k)) return ERROR_INVALID_HANDLE;
  if (!lpName || !lpcchName || (lpClass && !lpcchClass)) return ERROR_INVALID_PARAMETER;
  if (dwIndex >= k.key->subkeys.size()) return ERROR_NO_MORE_ITEMS;
  LONG rc = PutName(k.key->subkeys[dwIndex]->name, lpName, lpcchName);
  if (rc != ERROR_SUCCESS) return rc;
  if (lpClass) {
    if (*lpcchClass < 1) {
      *lpcchClass = 1;
      return ERROR_MORE_DATA;
    }
    lpClass[0] = '\0';
  }
  if (lpcchClass) *lpcchClass = 0;
  if (lpftLastWriteTime) *lpftLastWriteTime = k.hive->stamp;
  return ERROR_SUCCESS;
}

LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName, DWORD*,
                   DWORD* lpType, BYTE* lpData, DWORD* lpcbData) {
  OpenKey k;
  if (!Resolve(hKey, k)) return ERROR_INVALID_HANDLE;
  if (!lpValueName || !lpcchValueName || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
  if (dwIndex >= k.key->values.size()) return ERROR_NO_MORE_ITEMS;
  const Value& v = k.key->values[dwIndex];
  LONG rc = PutName(v.name, lpValueName, lpcchValueName);
  if (rc != ERROR_SUCCESS) return rc;
  return PutData(v, lpType, lpData, lpcbData);
}

LONG RegQueryValueExA(HKEY hKey, const char* lpValueName, DWORD*, DWORD* lpType, BYTE* lpData,
                      DWORD* lpcbData) {
  OpenKey k;
  if (!Resolve(hKey, k)) return ERROR_INVALID_HANDLE;
  if (lpData && !lpcbData) return ERROR_INVALID_PARAMETER;
  const Value* v = FindValue(*k.key, lpValueName ? lpValueName : "");
  if (!v) return ERROR_FILE_NOT_FOUND;
  return PutData(*v, lpType, lpData, lpcbData);
}

LONG RegCloseKey(HKEY hKey) {
  if (hKey == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
  State& s = S();
  std::lock_guard lock(s.mutex);
  return s.handles.erase(reinterpret_cast<std::uintptr_t>(hKey)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG QueryDword(HKEY hKey, const char* lpValueName, DWORD& value) {
  OpenKey k;
  const Value* v;
  if (LONG rc = Lookup(hKey, lpValueName, k, v)) return rc;
  if (v->type != REG_DWORD) return ERROR_UNSUPPORTED_TYPE;
  if (v->data.size() != 4) return ERROR_INVALID_DATA;
  value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | v->data[i];
  return ERROR_SUCCESS;
}

LONG QueryQword(HKEY hKey, const char* lpValueName, std::uint64_t& value) {
  OpenKey k;
  const Value* v;
  if (LONG rc = Lookup(hKey, lpValueName, k, v)) return rc;
  if (v->type != REG_QWORD) return ERROR_UNSUPPORTED_TYPE;
  if (v->data.size() != 8) return ERROR_INVALID_DATA;
  value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | v->data[i];
  return ERROR_SUCCESS;
}

LONG QueryString(HKEY hKey, const char* lpValueName, std::string& value) {
  OpenKey k;
  const Value* v;
  if (LONG rc = Lookup(hKey, lpValueName, k, v)) return rc;
  if (v->type != REG_SZ && v->type != REG_EXPAND_SZ) return ERROR_UNSUPPORTED_TYPE;
  std::string_view s(reinterpret_cast<const char*>(v->data.data()), v->data.size());
  value = std::string(s.substr(0, s.find('\0')));
  return ERROR_SUCCESS;
}

LONG QueryMultiString(HKEY hKey, const char* lpValueName, std::vector<std::string>& value) {
  OpenKey k;
  const Value* v;
  if (LONG rc = Lookup(hKey, lpValueName, k, v)) return rc;
  if (v->type != REG_MULTI_SZ) return ERROR_UNSUPPORTED_TYPE;
  std::vector<std::string> out;
  std::string_view s(reinterpret_cast<const char*>(v->data.data()), v->data.size());
  while (!s.empty()) {
    size_t nul = s.find('\0');
    std::string_view item = s.substr(0, nul);
    if (item.empty()) break;
    out.emplace_back(item);
    if (nul == std::string_view::npos) break;
    s.remove_prefix(nul + 1);
  }
  value = std::move(out);
  return ERROR_SUCCESS;
}

LONG QueryBinary(HKEY hKey, const char* lpValueName, std::vector<BYTE>& value) {
  OpenKey k;
  const Value* v;
  if (LONG rc = Lookup(hKey, lpValueName, k, v)) return rc;
  if (v->type != REG_BINARY) return ERROR_UNSUPPORTED_TYPE;
  value = v->data;
  return ERROR_SUCCESS;
}

}  // namespace velmo::reg
