#pragma once
// Every row of a query run through SQLite itself, as "a|b|c" lines (Null
// as "<null>"), for tests that look at a database without the program's
// own layer.
#include <sqlite3.h>

#include <string>
#include <vector>

namespace velmo::test {

inline std::vector<std::string> SqliteRows(sqlite3* h, const std::string& sql) {
  std::vector<std::string> out;
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(h, sql.c_str(), -1, &s, nullptr);
  while (s && sqlite3_step(s) == SQLITE_ROW) {
    std::string line;
    for (int i = 0; i < sqlite3_column_count(s); ++i) {
      auto t = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
      line += (i ? "|" : "") + std::string(t ? t : "<null>");
    }
    out.push_back(line);
  }
  sqlite3_finalize(s);
  return out;
}

}  // namespace velmo::test
