// The export library as Export Plus uses it.
#include "ExportPlusOutputs.h"

#include "CategoryRules.h"
#include "Database.h"
#include "ExportWriters.h"
#include "OutputNames.h"
#include "ServerDataClear.h"
#include "modExport.h"
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

// The main program's mode "1" writers: the Export Plus window's grid,
// gstrReportTitle as the title, silent.
std::string WriteCsv(const std::string& file) {
  std::string reason;
  return ExportGridToCsv("1", file, &reason) ? std::string() : (reason.empty() ? "not written" : reason);
}
std::string WriteHtml(const std::string& file) {
  std::string reason;
  return ExportGridToHtml("1", file, &reason) ? std::string() : (reason.empty() ? "not written" : reason);
}
std::string WriteDatabaseTable(const std::string& file, const std::string& table) {
  // The table name is already free of the characters the writer removes.
  std::string reason;
  return ExportPlusGridToMdb(file, table, &reason) ? std::string() : (reason.empty() ? "not written" : reason);
}

}  // namespace exportplus
