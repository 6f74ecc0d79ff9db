// The export library as Export Plus uses it.
#include "ExportPlusOutputs.h"

#include "CategoryRules.h"
#include "Database.h"
#include "ExportWriters.h"
#include "FlexGrid.h"
#include "OutputNames.h"
#include "ServerDataClear.h"
#include "modGlobals.h"

namespace ex = velmo::exporting;

namespace exportplus {

std::string TableOfTab(const std::string& tab) { return ex::CategoryTableName(tab); }
std::string ColumnListOf(const std::string& value, const std::string& report) {
  return ex::CategoryColumnList(value, report);
}
std::string ProtocolConnectorTerms(const std::string& tab) {
  return ex::CategoryRestriction(ex::CategoryTableName(tab), tab);
}
std::string DiagnosticsTermOf(const std::string& tab, const std::string& server) {
  return ex::DiagnosticsTerm(ex::DiagnosticsPrefix(tab, server));
}

bool ClearServer(const std::string& server, std::string& reason) {
  if (!gConn) {
    reason = "The connection to the database is not open.";
    return false;
  }
  const ex::ClearResult r = ex::ClearServerRows(*gConn, server);
  if (r.ok) return true;
  reason = r.failedStep + ": " + r.description;
  return false;
}

std::string UniqueName(std::vector<std::string>& used, const std::string& name) {
  ex::OutputNames names;
  for (const auto& u : used) names.Unique(u);
  std::string unique = names.Unique(name);
  used.push_back(unique);
  return unique;
}

std::string TableNameOfLabel(const std::string& label) { return ex::ExportPlusTableName(label); }

std::string WriteCsv(velmo::FlexGrid& grid, const std::string& title, const std::string& file) {
  std::string reason;
  return ex::WriteGridCsv(grid, title, file, reason) ? std::string() : (reason.empty() ? "not written" : reason);
}
std::string WriteHtml(velmo::FlexGrid& grid, const std::string& title, const std::string& file) {
  std::string reason;
  return ex::WriteGridHtml(grid, title, file, reason) ? std::string() : (reason.empty() ? "not written" : reason);
}
std::string WriteDatabaseTable(velmo::FlexGrid& grid, const std::string& file, const std::string& table) {
  std::string reason;
  const ex::TableWrite w = ex::WriteGridTable(grid, file, table, ex::ColumnRule::ExportPlus, false, reason);
  if (w == ex::TableWrite::Written) return "";
  return reason.empty() ? "not written" : reason;
}

}  // namespace exportplus
