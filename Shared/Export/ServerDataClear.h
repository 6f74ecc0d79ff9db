#pragma once
// Deleting every row of one server before it is collected again from
// scratch: every table of the inventory database but the kept ones
// (favourites, report column sets, the engine's own), including that
// server's saved filters and column choices. Server names match as the
// database compares text, without regard to case. Used by the main
// program's Refresh and Export Plus and by the scheduled collector.
#include <cstdint>
#include <string>

namespace velmo::db {
class Connection;
}

namespace velmo::exporting {

// Tables whose rows belong to no one server (exact, case-sensitive names).
bool IsKeptTable(const std::string& table);

struct ClearResult {
  bool ok = true;
  // Where it failed ("" when ok): "Catalog" when the tables could not be
  // listed (nothing deleted), else the table whose delete failed.
  std::string failedStep;
  int32_t number = 0;
  std::string description;
  int tablesCleared = 0;  // tables a delete ran on
};

// Deletes the server's rows from every table of the open connection's
// database that has a ServerName column, in one transaction: a failure
// deletes nothing and is returned. A table without a ServerName column is
// passed over, as nothing of a server can be in it.
ClearResult ClearServerRows(velmo::db::Connection& conn, const std::string& serverName);

}  // namespace velmo::exporting
