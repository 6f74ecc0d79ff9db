#pragma once
// Text rules shared by the configuration readers of the collector
// (protocols, stores, server objects, connectors, diagnostics logging):
// trimming and splitting the way the readers cut attribute values, the
// address-space entries of the connectors, and the texts of registry
// return codes for the log.
#include <cstdint>
#include <string>
#include <vector>

#include "TextParts.h"

namespace velmo::collector {

// Leading and trailing blanks removed (blanks only, as the readers trim).
using velmo::text::Trim;

// Split at every occurrence of sep; always at least one piece, empty pieces
// kept ("a::b" gives "a", "", "b").
inline std::vector<std::string> Split(const std::string& s, const std::string& sep) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t at = s.find(sep, start);
    if (at == std::string::npos) {
      parts.push_back(s.substr(start));
      return parts;
    }
    parts.push_back(s.substr(start, at - start));
    start = at + sep.size();
  }
}

// Piece i of a split, "" past the end.
inline std::string Piece(const std::vector<std::string>& parts, size_t i) { return i < parts.size() ? parts[i] : ""; }

inline bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A registry name from the character after its first blank, trimmed; a
// name without a blank gives the whole name, trimmed ("9000 Private" ->
// "Private", "Security" -> "Security").
inline std::string AfterFirstBlank(const std::string& name) {
  size_t blank = name.find(' ');
  return Trim(blank == std::string::npos ? name : name.substr(blank + 1));
}

// Every "cn=" removed ("cn=NNTP" -> "NNTP").
inline std::string WithoutCn(std::string name) {
  for (size_t at; (at = name.find("cn=")) != std::string::npos;) name.erase(at, 3);
  return name;
}

// The section sign that separates the two pieces of an authentication
// package entry and of a target bridgehead entry (UTF-8).
inline constexpr const char* kSectionSign = "\xC2\xA7";

// One address-space entry of an Internet Mail or MS Mail connector,
// "type:address;cost": the type before the first ":", the address from
// there up to the next ":" or ";", the cost after that ";" up to the next
// ";". An entry without ":" is all type.
struct AddressSpace {
  std::string type, address, cost;
};
inline AddressSpace ParseAddressSpace(const std::string& entry) {
  auto pieces = Split(entry, ":");
  auto rest = Split(Piece(pieces, 1), ";");
  return {pieces[0], rest[0], Piece(rest, 1)};
}

// One address-space entry of a Site Connector: "type:rest" is scoped to
// the organisation; "Local:type:rest" to the site, "Subsite:type:rest" to
// the location, any other three-piece prefix to no scope. The rest is
// "address;cost"; for X400 addresses, which hold ";" themselves, the cost
// is what follows the last ";". An entry without ":" is all type.
struct SiteAddressSpace {
  std::string scope, type, address, cost;
};
inline SiteAddressSpace ParseSiteAddressSpace(const std::string& entry) {
  SiteAddressSpace out;
  auto pieces = Split(entry, ":");
  std::string rest;
  if (pieces.size() == 1) {
    out.scope = "Organization";
    out.type = entry;
  } else if (pieces.size() == 2) {
    out.scope = "Organization";
    out.type = pieces[0];
    rest = pieces[1];
  } else {
    if (pieces[0] == "Local")
      out.scope = "Site";
    else if (pieces[0] == "Subsite")
      out.scope = "Location";
    out.type = pieces[1];
    rest = pieces[2];
  }
  if (out.type == "X400") {
    size_t last = rest.rfind(';');
    if (last == std::string::npos) {
      out.address = rest;
    } else {
      out.address = rest.substr(0, last);
      out.cost = rest.substr(last + 1);
    }
  } else {
    auto parts = Split(rest, ";");
    out.address = parts[0];
    out.cost = Piece(parts, 1);
  }
  return out;
}

// The system's message for the registry return codes a remote read meets.
inline std::string RegistryErrorText(int32_t code) {
  switch (code) {
    case 2:
      return "The system cannot find the file specified.";
    case 5:
      return "Access is denied.";
    case 6:
      return "The handle is invalid.";
    case 53:
      return "The network path was not found.";
    case 87:
      return "The parameter is incorrect.";
    case 161:
      return "The specified path is invalid.";
    case 1009:
      return "The configuration registry database is corrupt.";
    default:
      return "Registry error " + std::to_string(code) + ".";
  }
}

}  // namespace velmo::collector
