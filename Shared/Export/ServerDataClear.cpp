// The clearing of one server's rows.
#include "ServerDataClear.h"

#include <cctype>
#include <vector>

#include "ComError.h"
#include "Database.h"
#include "TextParts.h"

namespace velmo::exporting {

namespace {

struct TableInfo {
  std::string name;
  bool hasServerName = false;
};

// The tables of the connection's file in creation order, and whether each
// has a ServerName column.
std::vector<TableInfo> ListTables(velmo::db::Connection& conn) {
  std::vector<TableInfo> tables;
  {
    velmo::db::Recordset rs;
    rs.Open("select name from sqlite_master where type='table' and name not like 'sqlite\\_%' escape '\\' "
            "order by rowid",
            conn);
    for (; !rs.Eof(); rs.MoveNext()) tables.push_back({rs[0L].Text(), false});
    rs.Close();
  }
  for (auto& t : tables) {
    velmo::db::Recordset rs;
    rs.Open("select name from pragma_table_info(?)", conn, {velmo::db::Value(t.name)});
    for (; !rs.Eof(); rs.MoveNext())
      if (text::EqualNoCase(rs[0L].Text(), "ServerName")) t.hasServerName = true;
    rs.Close();
  }
  return tables;
}

}  // namespace

bool IsKeptTable(const std::string& name) {
  static const char* const kept[] = {"MSysACEs",           "MSysObjects",       "MSysQueries",
                                     "MSysRelationships",  "tblDefaultViewInfo", "VELMORCFavourites",
                                     "VELMORCCustomReports"};
  for (const char* k : kept)
    if (name == k) return true;
  return false;
}

ClearResult ClearServerRows(velmo::db::Connection& conn, const std::string& serverName) {
  ClearResult result;
  std::vector<TableInfo> tables;
  try {
    tables = ListTables(conn);
  } catch (const velmo::ComError& e) {
    return {false, "Catalog", e.Number(), e.Description(), 0};
  } catch (const std::exception& e) {
    return {false, "Catalog", velmo::E_FAIL_, e.what(), 0};
  }
  std::string step;
  try {
    conn.BeginTrans();
    for (const auto& t : tables) {
      if (IsKeptTable(t.name) || !t.hasServerName) continue;
      step = t.name;
      conn.Execute("delete from " + velmo::db::QuoteIdent(t.name) + " where ServerName=?",
                   {velmo::db::Value(serverName)});
      ++result.tablesCleared;
    }
    step = "Commit";
    conn.CommitTrans();
    return result;
  } catch (const velmo::ComError& e) {
    result = {false, step, e.Number(), e.Description(), 0};
  } catch (const std::exception& e) {
    result = {false, step, velmo::E_FAIL_, e.what(), 0};
  }
  try {
    if (conn.InTransaction()) conn.RollbackTrans();
  } catch (const std::exception&) {
  }
  return result;
}

}  // namespace velmo::exporting
