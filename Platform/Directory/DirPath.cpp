#include "DirPath.h"

#include "ComError.h"
#include "Directory.h"

namespace velmo::ads::detail {

namespace {

[[noreturn]] void BadPath() {
  throw ComError(E_ADS_BAD_PATHNAME, "An invalid directory pathname was passed.");
}

using text::LowerAscii;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  // A trailing blank that is escaped ("\ ") belongs to the value.
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
    size_t backslashes = 0;
    for (size_t i = s.size() - 1; i > 0 && s[i - 1] == '\\'; --i) ++backslashes;
    if (backslashes % 2 == 1) break;
    s.remove_suffix(1);
  }
  return s;
}

// Splits at every unescaped `sep`; throws on a dangling backslash.
std::vector<std::string_view> SplitUnescaped(std::string_view s, char sep) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\') {
      if (i + 1 >= s.size()) BadPath();
      ++i;
      continue;
    }
    if (s[i] == sep) {
      parts.push_back(s.substr(start, i - start));
      start = i + 1;
    }
  }
  parts.push_back(s.substr(start));
  return parts;
}

bool HasUnescaped(std::string_view s, char c) {
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\') {
      ++i;
      continue;
    }
    if (s[i] == c) return true;
  }
  return false;
}

bool IsTypeChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == ';' || c == '_';
}

// True when the text is one "type=value" RDN with a plausible type.
bool LooksLikeRdn(std::string_view rdn) {
  rdn = Trim(rdn);
  size_t eq = rdn.find('=');
  if (eq == std::string_view::npos || eq == 0) return false;
  std::string_view type = Trim(rdn.substr(0, eq));
  if (type.empty()) return false;
  for (char c : type)
    if (!IsTypeChar(c)) return false;
  return true;
}

// "\/" becomes "/": ADSI's escape of the path separator is no DN escape.
std::string UnescapeSlash(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      if (s[i + 1] == '/') {
        out += '/';
      } else {
        out += s[i];
        out += s[i + 1];
      }
      ++i;
      continue;
    }
    out += s[i];
  }
  return out;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void CheckDn(std::string_view dn) {
  if (Trim(dn).empty()) BadPath();
  for (std::string_view rdn : SplitUnescaped(dn, ','))
    if (!LooksLikeRdn(rdn)) BadPath();
}

void CheckServer(std::string_view server) {
  if (server.empty()) BadPath();
  for (char c : server) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
              c == '.' || c == '_' || c == ':';
    if (!ok) BadPath();
  }
}

}  // namespace

ParsedPath ParsePath(const std::string& path) {
  ParsedPath out;
  std::string_view p(path);
  if (p.size() >= 6 && EqualsNoCase(p.substr(0, 6), "WinNT:")) {
    if (p.substr(0, 6) != "WinNT:") BadPath();
    out.kind = ParsedPath::Kind::WinNT;
    return out;
  }
  constexpr std::string_view prefix = "LDAP://";
  if (p.substr(0, prefix.size()) != prefix) BadPath();
  p.remove_prefix(prefix.size());
  size_t slash = p.find('/');
  std::string_view server = p.substr(0, slash);
  CheckServer(server);
  out.server = std::string(server);
  if (slash == std::string_view::npos || slash + 1 == p.size()) {
    out.kind = ParsedPath::Kind::Organisation;
    return out;
  }
  std::string_view rest = p.substr(slash + 1);
  if (EqualsNoCase(rest, "RootDSE")) {
    out.kind = ParsedPath::Kind::RootDSE;
    return out;
  }

  auto parts = SplitUnescaped(rest, '/');
  bool slashForm = parts.size() > 1 && LooksLikeRdn(parts.front());
  if (slashForm)
    for (std::string_view part : parts)
      if (HasUnescaped(part, ',')) slashForm = false;

  if (!slashForm) {
    // A comma DN, possibly read from an attribute with "/" in its values.
    std::string dn = UnescapeSlash(rest);
    CheckDn(rest);
    out.dn = std::move(dn);
    return out;
  }

  // Slash path, top-down. A piece without "=" continues the value before
  // it: "cn=Sales/Europe" written without the escape still names one RDN.
  std::vector<std::string> rdns;
  for (std::string_view part : parts) {
    if (LooksLikeRdn(part)) {
      rdns.push_back(UnescapeSlash(Trim(part)));
    } else {
      if (part.empty()) BadPath();
      rdns.back() += "/" + UnescapeSlash(part);
    }
  }
  for (auto it = rdns.rbegin(); it != rdns.rend(); ++it) {
    if (!out.dn.empty()) out.dn += ',';
    out.dn += *it;
  }
  return out;
}

std::string FirstRdn(std::string_view dn) {
  for (size_t i = 0; i < dn.size(); ++i) {
    if (dn[i] == '\\') {
      ++i;
      continue;
    }
    if (dn[i] == ',') return std::string(Trim(dn.substr(0, i)));
  }
  return std::string(Trim(dn));
}

std::string ParentDn(std::string_view dn) {
  for (size_t i = 0; i < dn.size(); ++i) {
    if (dn[i] == '\\') {
      ++i;
      continue;
    }
    if (dn[i] == ',') return std::string(Trim(dn.substr(i + 1)));
  }
  return {};
}

std::string NormalizeDn(std::string_view dn) {
  // One pass: types and values lower-cased, escapes resolved, blanks around
  // "," and "=" and unescaped trailing blanks of a value dropped.
  std::string out;
  out.reserve(dn.size());
  const size_t n = dn.size();
  size_t i = 0;
  while (i < n) {
    while (i < n && dn[i] == ' ') ++i;
    while (i < n && dn[i] != '=' && dn[i] != ',') {
      if (dn[i] != ' ') out += LowerAscii(dn[i]);
      ++i;
    }
    if (i < n && dn[i] == '=') {
      out += '=';
      ++i;
      while (i < n && dn[i] == ' ') ++i;
      size_t keep = out.size();
      while (i < n && dn[i] != ',') {
        char c = dn[i];
        if (c == '\\' && i + 1 < n) {
          int h1 = HexValue(dn[i + 1]);
          int h2 = i + 2 < n ? HexValue(dn[i + 2]) : -1;
          if (h1 >= 0 && h2 >= 0) {
            c = static_cast<char>(h1 * 16 + h2);
            i += 3;
          } else {
            c = dn[i + 1];
            i += 2;
          }
          out += LowerAscii(c);
          keep = out.size();
          continue;
        }
        out += LowerAscii(c);
        if (c != ' ') keep = out.size();
        ++i;
      }
      out.resize(keep);
    }
    if (i < n && dn[i] == ',') {
      out += ',';
      ++i;
    }
  }
  return out;
}

std::string DisplayRdn(std::string_view rdn) {
  size_t eq = rdn.find('=');
  if (eq == std::string_view::npos) return EscapeSlash(rdn);
  return Lower(rdn.substr(0, eq)) + "=" + EscapeSlash(rdn.substr(eq + 1));
}

std::string EscapeSlash(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      out += text[i];
      out += text[i + 1];
      ++i;
      continue;
    }
    if (text[i] == '/') out += '\\';
    out += text[i];
  }
  return out;
}

}  // namespace velmo::ads::detail

namespace velmo::ads {

std::string NameShown(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (size_t i = 0; i < name.size(); ++i) {
    if (name[i] != '\\') {
      out += name[i];
      continue;
    }
    if (i + 1 == name.size()) return std::string(name);  // a dangling escape
    const int h1 = detail::HexValue(name[i + 1]);
    const int h2 = i + 2 < name.size() ? detail::HexValue(name[i + 2]) : -1;
    if (h1 >= 0 && h2 >= 0) {
      out += static_cast<char>(h1 * 16 + h2);
      i += 2;
    } else {
      out += name[++i];
    }
  }
  for (size_t i = 0; i < out.size();) {
    const size_t n = text::Utf8CharLength(out, i);
    if (n == 0) return std::string(name);
    const auto c = static_cast<unsigned char>(out[i]);
    const bool c1 = n == 2 && c == 0xC2 && static_cast<unsigned char>(out[i + 1]) < 0xA0;
    if (c < 0x20 || c == 0x7F || c1) return std::string(name);
    i += n;
  }
  return out;
}

}  // namespace velmo::ads
