#pragma once
// The cells a recordset gives a grid, for the windows that show a query's
// rows and for the scheduled run's report sections.
#include <functional>
#include <string>
#include <vector>

namespace velmo::db {
class Recordset;
}

namespace velmo::exporting {

// The recordset's rows, read to its end: row 0 the field names, then one
// row per record; column 0 left empty, each text trimmed of blanks, a
// missing value shown as " ". `paint` runs after every 5,000 rows, so a
// window can repaint during a long read.
std::vector<std::vector<std::string>> RecordsetGridRows(velmo::db::Recordset& rs,
                                                        const std::function<void()>& paint = {});

}  // namespace velmo::exporting
