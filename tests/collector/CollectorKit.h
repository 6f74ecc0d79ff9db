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
#include "InventoryKit.h"
#include "TestHome.h"
#include "TextFile.h"
#include "ScriptedUi.h"
#include "Ui.h"

namespace collector_test {

using Cells = std::vector<velmo::db::Value>;

inline void SetEnv(const char* name, const std::string& value) { ::setenv(name, value.c_str(), 1); }

class Kit {
 public:
  Kit() { velmo::test::CreateInventory(home_.dir()); }

  const velmo::test::TestHome& home() const { return home_; }
  velmo::ui::ScriptedUi& ui() { return ui_.ui(); }

  std::shared_ptr<_Exch55Info> NewCollector(const std::string& logName = "") {
    auto c = velmo::com::CreateObject<_Exch55Info>("VELMO.Exch55Info");
    if (!logName.empty()) c->ErrorLogFileName(logName);
    return c;
  }

  // Rows of a table in insertion order, optionally restricted.
  std::vector<Cells> Rows(const std::string& table, const std::string& where = "") {
    return velmo::test::InventoryRows(home_.dir(), table, where);
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
  static std::vector<std::string> Fields(const std::string& line) { return velmo::test::LogFields(line); }

 private:
  velmo::test::TestHome home_;
  velmo::test::ScriptedUiScope ui_;
};

inline std::vector<std::string> Texts(const Cells& row) {
  std::vector<std::string> out;
  for (const auto& v : row) out.push_back(v.Text());
  return out;
}

}  // namespace collector_test
