#pragma once
// Small text rules the modules share: blanks trimmed, lists split at one
// separator, names compared and cased by the letters A to Z alone.
#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>
#include <vector>

namespace velmo::text {

// Removes leading and trailing blanks (spaces only, as the stored
// fixed-width values are padded).
inline std::string Trim(std::string_view s) {
  const auto b = s.find_first_not_of(' ');
  if (b == std::string_view::npos) return "";
  const auto e = s.find_last_not_of(' ');
  return std::string(s.substr(b, e - b + 1));
}

// The parts between separators; an empty text is one empty part.
inline std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const auto at = s.find(sep, start);
    parts.push_back(s.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) break;
    start = at + 1;
  }
  return parts;
}

// The length of the UTF-8 character that starts at s[i] (i < s.size()): 1
// for an ASCII byte, 2 to 4 for a well-formed sequence, 0 when the bytes
// there are not UTF-8 (a stray continuation byte, a cut or overlong
// sequence, a surrogate, a value past U+10FFFF).
inline size_t Utf8CharLength(std::string_view s, size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) return 1;
  const size_t extra = (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 0;
  if (extra == 0 || s.size() - i <= extra) return 0;
  char32_t cp = c & (0x3F >> extra);
  for (size_t k = 1; k <= extra; ++k) {
    const auto d = static_cast<unsigned char>(s[i + k]);
    if ((d & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (d & 0x3F);
  }
  static constexpr char32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kLeast[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return extra + 1;
}

inline bool IsUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    const size_t n = Utf8CharLength(s, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

// Case by the letters A to Z alone, as the engine's NOCASE compares text:
// every other byte (those of UTF-8 characters too) stays as it is, and the
// result does not depend on the locale. For names the program, the engine
// or a file format defines. TextPartsUnicode.h holds the Unicode rules.
constexpr char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

inline std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = LowerAscii(c);
  return out;
}

inline std::string UpperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = UpperAscii(c);
  return out;
}

inline bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

inline bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualNoCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace velmo::text
