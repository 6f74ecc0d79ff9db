#pragma once
// What the shell tests share: the Qt application, a browse window made of
// plain fields, and a fresh inventory database in a temporary application
// folder.
#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "AppFolder.h"
#include "AppSchema.h"
#include "Database.h"
#include "DefaultColumnSets.h"
#include "FlexGrid.h"
#include "TestHome.h"
#include "TextFile.h"
#include "ScriptedUi.h"
#include "Ui.h"
#include "modExch.h"
#include "modGlobals.h"

namespace shelltest {

// A browse window whose tree, tabs and grid are plain fields.
class FakeExchWindow : public ExchWindow {
 public:
  explicit FakeExchWindow(std::string server = "EX1") { strServerName = std::move(server); }
  // Gives back the slot a case registered it in, so no slot outlives it.
  ~FakeExchWindow() override { CloseExchWindowSlot(this); }
  QWidget* Window() override { return widget; }
  velmo::FlexGrid* Grd1() override { return grid; }
  TreeNodeInfo SelectedNode() override { return node; }
  bool TypeTabVisible() override { return typeVisible; }
  std::string TypeTabCaption() override { return typeCaption; }
  std::string PropTabKey() override { return propKey; }
  std::string PropTabCaption() override { return propCaption; }
  void GetAllInfo(int mode) override { getAllInfoCalls.push_back(mode); }
  void DisplayInfo(const std::string& query) override { shown.push_back(query); }

  // A recipients-container node with the given key.
  void SelectNode(std::string text, std::string key, int index = 3, std::string parent = "Lakeside") {
    node.valid = true;
    node.text = std::move(text);
    node.key = std::move(key);
    node.index = index;
    node.parentText = std::move(parent);
  }

  QWidget* widget = nullptr;
  velmo::FlexGrid* grid = nullptr;
  TreeNodeInfo node;
  bool typeVisible = true;
  std::string typeCaption = "Summary";
  std::string propKey;
  std::string propCaption;
  std::vector<int> getAllInfoCalls;
  std::vector<std::string> shown;
};

class FakeCustomReportWindow : public CustomReportWindow {
 public:
  velmo::FlexGrid* grd1() override { return grid; }
  TreeNodeInfo SelectedNode() override { return node; }
  bool TypeTabVisible() override { return typeVisible; }
  std::string TypeTabCaption() override { return typeCaption; }
  velmo::FlexGrid* grid = nullptr;
  TreeNodeInfo node;
  bool typeVisible = true;
  std::string typeCaption = "Summary";
};

// Every test starts with empty module state and a scripted UI, in its own
// application folder.
class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui_ = std::make_shared<velmo::ui::ScriptedUi>();
    previousUi_ = velmo::ui::SetUi(ui_);
    ResetGlobals();
  }
  void TearDown() override {
    for (int i = 1; i <= kMaxExchWindows; ++i)
      if (gfrmExchWindows[i]) CloseExchWindowSlot(gfrmExchWindows[i]);
    ResetGlobals();
    if (gConn) gConn.reset();
    velmo::ui::SetUi(previousUi_);
  }
  static void ResetGlobals() {
    gfrmCurrent = nullptr;
    gbCustomReport = false;
    gfrmCustomReport = nullptr;
    gstrReportTitle.clear();
    gMainWindow = nullptr;
    gMdiArea = nullptr;
    gfrmExportPlusPrint = nullptr;
    gbContextMenuNoExec = true;
  }

  // velmo.mdb in the test's application folder, with every table, opened
  // as gConn.
  void OpenDatabase(bool withTables = true) {
    gstrDBPath = velmo::AppFolderText() + "\\velmo.mdb";
    velmo::db::CreateDatabaseFile(velmo::NativePath(gstrDBPath));
    gConn = std::make_unique<velmo::db::Connection>();
    gConn->Open("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + gstrDBPath);
    if (withTables) CreateAppTables(gConn.get());
  }

  // All values of one column of a query, in order.
  static std::vector<std::string> Column(const std::string& sql, long field = 0) {
    std::vector<std::string> out;
    velmo::db::Recordset rs;
    rs.Open(sql, *gConn);
    for (; !rs.Eof(); rs.MoveNext()) out.push_back(rs[field].Text());
    rs.Close();
    return out;
  }
  static long Count(const std::string& sql) { return static_cast<long>(Column(sql).size()); }

  // Lines of the error log (empty when it does not exist).
  static std::vector<std::string> LogLines() {
    std::vector<std::string> lines;
    velmo::ReadLines(velmo::AppPath("\\VelmorcastErrorLog.log"), lines);
    return lines;
  }
  static bool LogHas(const std::string& context) {
    for (const auto& l : LogLines())
      if (l.size() >= context.size() && l.compare(l.size() - context.size(), context.size(), context) == 0)
        return true;
    return false;
  }

  velmo::test::TestHome home_;
  std::shared_ptr<velmo::ui::ScriptedUi> ui_;
  std::shared_ptr<velmo::ui::UiSeam> previousUi_;
};

}  // namespace shelltest
