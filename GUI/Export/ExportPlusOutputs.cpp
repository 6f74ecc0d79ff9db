// The export library as Export Plus uses it.
#include "ExportPlusOutputs.h"

namespace exportplus {

std::string TableOfTab(const std::string&) { return ""; }
std::string ColumnListOf(const std::string&, const std::string&) { return ""; }
std::string ProtocolConnectorTerms(const std::string&) { return ""; }
std::string DiagnosticsPrefixOf(const std::string& tab, const std::string&) { return tab; }
bool ClearServer(const std::string&, std::string& reason) {
  reason = "The clearing of a server's rows is not part of this build.";
  return false;
}
std::string UniqueName(std::vector<std::string>& used, const std::string& name) {
  used.push_back(name);
  return name;
}
std::string TableNameOfLabel(const std::string& label) { return label; }
std::string WriteCsv(velmo::FlexGrid&, const std::string&, const std::string&) { return "not built"; }
std::string WriteHtml(velmo::FlexGrid&, const std::string&, const std::string&) { return "not built"; }
std::string WriteDatabaseTable(velmo::FlexGrid&, const std::string&, const std::string&) { return "not built"; }

}  // namespace exportplus
