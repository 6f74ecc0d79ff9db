#pragma once
// The 50 tables of the inventory database "velmo.mdb": 3 application tables
// and 47 data tables, and the procedure that creates them.
#include <string>
#include <vector>

namespace velmo::db {
class Connection;
}

struct AppColumn {
  std::string name;  // as the table knows it, without brackets
  std::string type;  // the type word as the create statement writes it: "char(255)", "Memo", "text(50)"
};

struct AppTable {
  std::string name;
  std::vector<AppColumn> columns;  // in table order (the collector writes by position)
};

// The tables in creation order.
const std::vector<AppTable>& AppTables();

// The table of that name (compared without regard to case), or nullptr.
const AppTable* FindAppTable(const std::string& name);

// The 50 create statements, in creation order.
const std::vector<std::string>& AppTableStatements();

// Runs the 50 create statements on the connection in order; a statement
// that fails (above all, a table that exists already) is passed over.
// With no open connection it writes one log line, "CreateAppTables
// ConnectionObject not opened", and creates nothing.
void CreateAppTables(velmo::db::Connection* conn);

// Indexes for the keyed reads of the pages and reports: ([Alias Name],
// ServerName) on every recipient table, for reads of one recipient, and
// ([Object Path], ServerName) on the other data tables with a path. The
// key column leads, so reads by server alone keep their stored order.
// Made in new and existing files alike (CreateAppTables calls it); an index
// that cannot be made is logged and passed over.
void CreateReportIndexes(velmo::db::Connection* conn);
