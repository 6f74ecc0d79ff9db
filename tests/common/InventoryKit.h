#pragma once
// What the collector tests set up and read in an application folder: an
// empty inventory database of the full schema, its rows, the fields of the
// error log's lines, and a scripted UI installed for a test's lifetime.
// Needs the main program's schema (AppSchema.h) on the include path.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "AppSchema.h"
#include "Database.h"
#include "ScriptedUi.h"
#include "Ui.h"

namespace velmo::test {

// Creates the folder's "velmo.mdb" with every table of the schema, empty.
inline void CreateInventory(const std::filesystem::path& dir) {
  velmo::db::CreateDatabaseFile(dir / "velmo.mdb");
  velmo::db::Connection conn;
  conn.Open((dir / "velmo.mdb").string());
  CreateAppTables(&conn);
  conn.Close();
}

// The rows of a table of the folder's inventory in insertion order, only
// those matching where when it is not empty.
inline std::vector<std::vector<velmo::db::Value>> InventoryRows(const std::filesystem::path& dir,
                                                                const std::string& table,
                                                                const std::string& where = "") {
  velmo::db::Connection conn;
  conn.Open((dir / "velmo.mdb").string());
  velmo::db::Recordset rs;
  rs.Open("select * from " + table + (where.empty() ? "" : " where " + where), conn, velmo::db::adOpenKeyset,
          velmo::db::adLockReadOnly);
  std::vector<std::vector<velmo::db::Value>> out;
  while (!rs.Eof()) {
    std::vector<velmo::db::Value> row;
    auto& f = rs.GetFields();
    for (long i = 0; i < f.Count(); ++i) row.push_back(f[i].Val());
    out.push_back(row);
    rs.MoveNext();
  }
  rs.Close();
  conn.Close();
  return out;
}

// The number of rows a query gives on the connection.
inline long CountRows(velmo::db::Connection& conn, const std::string& sql,
                      const std::vector<velmo::db::Value>& params = {}) {
  velmo::db::Recordset rs;
  rs.Open(sql, conn, params, velmo::db::adOpenKeyset, velmo::db::adLockOptimistic);
  const long n = rs.RecordCount();
  rs.Close();
  return n;
}

// Inserts one row: the values into the named columns, bound.
inline void InsertRow(velmo::db::Connection& conn, const std::string& table, const std::vector<std::string>& columns,
                      const std::vector<velmo::db::Value>& values) {
  std::string names, marks;
  for (const auto& c : columns) {
    names += (names.empty() ? "[" : ",[") + c + "]";
    marks += marks.empty() ? "?" : ",?";
  }
  conn.Execute("insert into " + table + " (" + names + ") values (" + marks + ")", values);
}

// The fields of an error-log line, split at the six-blank separators:
// time, number, description and context; fewer when separators are
// missing, the rest of the line always last.
inline std::vector<std::string> LogFields(const std::string& line) {
  std::vector<std::string> out;
  size_t start = 0;
  for (int i = 0; i < 3; ++i) {
    size_t at = line.find("      ", start);
    if (at == std::string::npos) break;
    out.push_back(line.substr(start, at - start));
    start = at + 6;
  }
  out.push_back(line.substr(start));
  return out;
}

// A scripted UI answering every message box while the object lives; the
// UI before it comes back afterwards.
class ScriptedUiScope {
 public:
  ScriptedUiScope() : ui_(std::make_shared<velmo::ui::ScriptedUi>()), previous_(velmo::ui::SetUi(ui_)) {}
  ~ScriptedUiScope() { velmo::ui::SetUi(previous_); }
  ScriptedUiScope(const ScriptedUiScope&) = delete;
  ScriptedUiScope& operator=(const ScriptedUiScope&) = delete;

  velmo::ui::ScriptedUi& ui() { return *ui_; }

 private:
  std::shared_ptr<velmo::ui::ScriptedUi> ui_;
  std::shared_ptr<velmo::ui::UiSeam> previous_;
};

}  // namespace velmo::test
