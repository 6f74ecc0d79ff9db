// Unique output names of a run.
#include "OutputNames.h"

#include "TextPartsUnicode.h"

namespace velmo::exporting {

std::string OutputNames::Unique(const std::string& name) {
  std::string chosen = name;
  for (int n = 2; used_.count(text::FoldUnicode(chosen)); ++n) chosen = name + "_" + std::to_string(n);
  used_.insert(text::FoldUnicode(chosen));
  return chosen;
}

}  // namespace velmo::exporting
