#pragma once
// Small text rules the modules share: blanks trimmed, lists split at one
// separator, names compared without regard to the case of A to Z.
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

inline bool EqualNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace velmo::text
