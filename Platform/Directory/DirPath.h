#pragma once
// Path and distinguished-name handling of the directory layer: splitting an
// ADSI path into provider, server and DN, turning slash paths into DNs, and
// the DN forms used for names, parents and cache keys.
#include <string>
#include <string_view>
#include <vector>

#include "TextParts.h"

namespace velmo::ads::detail {

struct ParsedPath {
  enum class Kind { RootDSE, Organisation, Entry, WinNT };
  Kind kind = Kind::Entry;
  std::string server;  // as the caller wrote it ("EX1", "ex1:3890")
  std::string dn;      // the DN to send to the server (Entry only)
};

// Parses "LDAP://SERVER[/RootDSE | /slash path | /comma DN]" and "WinNT:...".
// Throws ComError 0x80005000 when the text is not a usable path.
ParsedPath ParsePath(const std::string& path);

// The first RDN of a DN and the rest ("" when the DN has one RDN).
std::string FirstRdn(std::string_view dn);
std::string ParentDn(std::string_view dn);

// A DN as a case-insensitive lookup key: types and values lower-cased
// (ASCII), value escapes resolved, blanks around separators removed.
std::string NormalizeDn(std::string_view dn);

// The relative name ADSI shows for an RDN: the type lower-cased, the value
// as the server wrote it, "/" written "\/" so that the name can be appended
// to a slash path.
std::string DisplayRdn(std::string_view rdn);

// "/" written "\/" (for paths built from DNs).
std::string EscapeSlash(std::string_view text);

// The ASCII lower-case form of a text, and texts equal but for the case
// of A to Z.
inline std::string Lower(std::string_view s) { return text::LowerAscii(s); }
inline bool EqualsNoCase(std::string_view a, std::string_view b) { return text::EqualNoCase(a, b); }

}  // namespace velmo::ads::detail
