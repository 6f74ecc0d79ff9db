// Unique output names of a run.
#include "OutputNames.h"

#include <QString>

namespace velmo::exporting {

namespace {
std::string Folded(const std::string& name) { return QString::fromStdString(name).toCaseFolded().toStdString(); }
}  // namespace

std::string OutputNames::Unique(const std::string& name) {
  std::string chosen = name;
  for (int n = 2; used_.count(Folded(chosen)); ++n) chosen = name + "_" + std::to_string(n);
  used_.insert(Folded(chosen));
  return chosen;
}

}  // namespace velmo::exporting
