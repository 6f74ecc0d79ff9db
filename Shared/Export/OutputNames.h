#pragma once
// Unique names for the outputs of one run: two categories that would write
// the same table or file ("Protocols General" of the site and of the
// server, two containers of one name) get "Name", "Name_2", "Name_3"...,
// names compared without regard to case. The caller applies it to the
// table name or to the label part of a file name.
#include <set>
#include <string>

namespace velmo::exporting {

class OutputNames {
 public:
  // The name itself the first time; afterwards name + "_" + n with the
  // smallest n from 2 that no earlier output of the run uses.
  std::string Unique(const std::string& name);
  void Clear() { used_.clear(); }

 private:
  std::set<std::string> used_;  // folded names
};

}  // namespace velmo::exporting
