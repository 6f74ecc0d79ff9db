#pragma once
// The built-in report "Default" of VELMORCCustomReports: one column set per
// TabName, 141 rows, which every view shows until the user chooses
// otherwise.
#include <string>
#include <vector>

namespace velmo::db {
class Connection;
}

struct DefaultColumnSet {
  std::string tabName;
  std::string value;  // ";" followed by the column captions joined by ","
};

// The 141 rows in insertion order.
const std::vector<DefaultColumnSet>& DefaultColumnSets();

// Writes the 141 "Default" rows. The caller runs it only when
// VELMORCCustomReports holds no row at all. With no open connection it
// writes one log line, "WriteCustomFieldNamesToDB ConnectionObject not
// opened", and nothing else.
void WriteCustomFieldNamesToDB(velmo::db::Connection* conn);
