#pragma once
// What the collector tests share: a fresh application folder with an empty
// inventory database of the full schema, the collector created by ProgID,
// a scripted UI, and readers for the rows and the log.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "AppFolder.h"
#include "AppSchema.h"
#include "ComFactory.h"
#include "Database.h"
#include "IExch55Info.h"
#include "TestHome.h"
#include "TextFile.h"
#include "Ui.h"

namespace collector_test {

using Cells = std::vector<velmo::db::Value>;

inline void SetEnv(const char* name, const std::string& value) { ::setenv(name, value.c_str(), 1); }

class Kit {
 public:
  Kit() {
    velmo::db::CreateDatabaseFile(home_.dir() / "velmo.mdb");
    velmo::db::Connection conn;
    conn.Open((home_.dir() / "velmo.mdb").string());
    CreateAppTables(&conn);
    conn.Close();
    ui_ = std::make_shared<velmo::ui::ScriptedUi>();
    previousUi_ = velmo::ui::SetUi(ui_);
  }
  ~Kit() { velmo::ui::SetUi(previousUi_); }

  const velmo::test::TestHome& home() const { return home_; }
  velmo::ui::ScriptedUi& ui() { return *ui_; }

  std::shared_ptr<_Exch55Info> NewCollector(const std::string& logName = "") {
    auto c = velmo::com::CreateObject<_Exch55Info>("VELMO.Exch55Info");
    if (!logName.empty()) c->ErrorLogFileName(logName);
    return c;
  }

  // Rows of a table in insertion order, optionally restricted.
  std::vector<Cells> Rows(const std::string& table, const std::string& where = "") {
    velmo::db::Connection conn;
    conn.Open((home_.dir() / "velmo.mdb").string());
    velmo::db::Recordset rs;
    rs.Open("select * from " + table + (where.empty() ? "" : " where " + where), conn, velmo::db::adOpenKeyset,
            velmo::db::adLockReadOnly);
    std::vector<Cells> out;
    while (!rs.Eof()) {
      Cells row;
      auto& f = rs.GetFields();
      for (long i = 0; i < f.Count(); ++i) row.push_back(f[i].Val());
      out.push_back(row);
      rs.MoveNext();
    }
    rs.Close();
    conn.Close();
    return out;
  }

  std::vector<std::string> LogLines(const std::string& relative = "VelmorcastErrorLog.log") {
    std::vector<std::string> lines;
    velmo::ReadLines(velmo::WinPath(home_.dir(), relative), lines);
    return lines;
  }

  // The context (last field) and the number of each log line.
  static std::string Context(const std::string& line) {
    auto at = line.rfind("      ");
    return at == std::string::npos ? line : line.substr(at + 6);
  }
  static std::vector<std::string> Fields(const std::string& line) {
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

 private:
  velmo::test::TestHome home_;
  std::shared_ptr<velmo::ui::ScriptedUi> ui_;
  std::shared_ptr<velmo::ui::UiSeam> previousUi_;
};

inline std::vector<std::string> Texts(const Cells& row) {
  std::vector<std::string> out;
  for (const auto& v : row) out.push_back(v.Text());
  return out;
}

}  // namespace collector_test
