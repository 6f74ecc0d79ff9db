#pragma once
// What the tests of windows opened over the main window share: an
// application folder with the main window open on it (its own database,
// tables and default column sets; no start-up connect), the sample
// directory and its provider files, a scripted UI, and readers for rows,
// prompts and the error log. The test's QApplication is made first (by the
// kit that derives from this). Needs the main program's headers on the
// include path.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "Database.h"
#include "InventoryKit.h"
#include "Mdifrm.h"
#include "QtTestApp.h"
#include "SampleDirectory.h"
#include "TestHome.h"
#include "ScriptedUi.h"
#include "Ui.h"
#include "modGlobals.h"

namespace velmo::test {

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!UseSampleDirectory::Available()) GTEST_SKIP() << "the sample directory is not running";
    ::setenv("VELMORCAST_PROVIDERS", (TestHome::SourceDir() / "sample" / "providers").c_str(), 1);
    ui = std::make_shared<velmo::ui::ScriptedUi>();
    previousUi = velmo::ui::SetUi(ui);
    main = new Mdifrm();
    main->iConnectCount = 1;  // no start-up connect
    main->show();
    PumpEvents();
  }
  // The kit closes its own windows first.
  void TearDown() override {
    if (main) {
      main->close();
      delete main;
      main = nullptr;
      PumpEvents();
    }
    gConn.reset();
    if (previousUi) velmo::ui::SetUi(previousUi);
    ::unsetenv("VELMORCAST_PROVIDERS");
  }

  long Count(const std::string& sql, const std::vector<velmo::db::Value>& params = {}) {
    return CountRows(*gConn, sql, params);
  }
  void Insert(const std::string& table, const std::vector<std::string>& columns,
              const std::vector<velmo::db::Value>& values) {
    InsertRow(*gConn, table, columns, values);
  }
  // The prompts of the boxes of that kind shown so far.
  std::vector<std::string> Prompts(const std::string& kind = "MsgBox") const {
    std::vector<std::string> out;
    for (const auto& s : ui->shown())
      if (s.kind == kind) out.push_back(s.prompt);
    return out;
  }
  long Shown(const std::string& kind) const { return static_cast<long>(Prompts(kind).size()); }
  std::string ErrorLog() const { return TestHome::Slurp(home / "VelmorcastErrorLog.log"); }

  TestHome home;
  UseSampleDirectory directory;
  std::shared_ptr<velmo::ui::ScriptedUi> ui;
  std::shared_ptr<velmo::ui::UiSeam> previousUi;
  Mdifrm* main = nullptr;
};

}  // namespace velmo::test
