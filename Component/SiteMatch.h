#pragma once
// Which computer object of a site's "cn=Servers" container is the server
// being connected to. Used by the collector's set-up, the main program's
// connect step and the scheduled collector, so all three find the same site.
//
// The computer's relative name must equal "cn=" followed by the server name,
// without regard to case: "cn=EX1" is EX1 (and ex1), never EX10. A match by
// substring would take whichever of EX1 and EX10 the directory lists first.
#include <string_view>

#include "TextParts.h"

namespace velmo {

inline bool ComputerIsServer(std::string_view computerName, std::string_view serverName) {
  constexpr std::string_view prefix = "cn=";
  if (serverName.empty() || computerName.size() != prefix.size() + serverName.size()) return false;
  return text::StartsWithNoCase(computerName, prefix) &&
         text::EqualNoCase(computerName.substr(prefix.size()), serverName);
}

}  // namespace velmo
