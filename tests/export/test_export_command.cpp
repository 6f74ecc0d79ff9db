// The Export command through the main window's seam, answered by a scripted
// UI: the save dialog, the table-name box and the overwrite question, over
// a browse window and a custom report window.
#include <gtest/gtest.h>

#include <QWidget>
#include <filesystem>
#include <fstream>
#include <functional>

#include "ExportKit.h"
#include "ExportWriters.h"
#include "FlexGrid.h"
#include "Mdifrm.h"
#include "QtTestApp.h"
#include "TestHome.h"
#include "Ui.h"
#include "modExch.h"
#include "modExport.h"
#include "modGlobals.h"

namespace fs = std::filesystem;
using velmo::test::FillGrid;
using velmo::test::Sqlite3;

namespace {

class BrowseDouble : public ExchWindow {
 public:
  QWidget* Window() override { return &widget; }
  velmo::FlexGrid* Grd1() override { return &grid; }
  TreeNodeInfo SelectedNode() override { return {true, nodeText, "o=Org/ou=Site", 2, "Org"}; }
  bool TypeTabVisible() override { return typeVisible; }
  std::string TypeTabCaption() override { return typeCaption; }
  std::string PropTabKey() override { return typeCaption + propCaption; }
  std::string PropTabCaption() override { return propCaption; }
  void GetAllInfo(int) override {}
  void DisplayInfo(const std::string&) override {}
  QWidget widget;
  velmo::FlexGrid grid;
  std::string nodeText = "Recipients", typeCaption = "Mailboxes", propCaption = "General";
  bool typeVisible = true;
};

class ReportDouble : public CustomReportWindow {
 public:
  velmo::FlexGrid* grd1() override { return &grid; }
  TreeNodeInfo SelectedNode() override { return {true, "Sales/Europe", "k", 1, ""}; }
  bool TypeTabVisible() override { return false; }
  std::string TypeTabCaption() override { return "Summary"; }
  velmo::FlexGrid grid;
};

std::string Stem(const std::string& s, size_t n) { return s.substr(0, std::min(n, s.size())); }

class ExportCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("command -v sqlite3 >/dev/null 2>&1") != 0) GTEST_SKIP() << "the sqlite3 shell is not installed";
    ui_ = std::make_shared<velmo::ui::ScriptedUi>();
    old_ = velmo::ui::SetUi(ui_);
    FillGrid(browse_.grid, {{"Display Name", "Alias Name"}, {"Sean O'Neil", "sean"}, {"Maria Müller", "maria"}});
    FillGrid(report_.grid, {{"Display Name", "Notes"}, {"Åse Ødegård", std::string(300, 'n')}});
    OpenExchWindowSlot(&browse_);
    dir_ = home_.dir() / "Export";
    fs::create_directories(dir_);
  }
  void TearDown() override {
    CloseExchWindowSlot(&browse_);
    gfrmCurrent = nullptr;
    gbCustomReport = false;
    gfrmCustomReport = nullptr;
    if (old_) velmo::ui::SetUi(old_);
  }
  // One Export command: the save dialog answers (path, index), the boxes
  // after it take the queued inputs and answers; the texts shown return.
  std::vector<std::string> Run(const std::string& path, int index, std::vector<std::pair<std::string, bool>> inputs = {},
                               std::vector<int> answers = {}) {
    ui_->clear();
    ui_->QueueSaveFile(path, index);
    for (auto& [v, ok] : inputs) ui_->QueueInput(v, ok);
    for (int a : answers) ui_->QueueMsgBox(a);
    ASSERT_SEAM();
    Mdifrm::Seams().exportReport();
    std::vector<std::string> shown;
    for (const auto& s : ui_->shown()) shown.push_back(s.kind + ": " + s.prompt);
    return shown;
  }
  void ASSERT_SEAM() { ASSERT_TRUE(static_cast<bool>(Mdifrm::Seams().exportReport)); }

  bool app_ = (velmo::test::TestApp("test_export"), true);
  velmo::test::TestHome home_{false};
  std::shared_ptr<velmo::ui::ScriptedUi> ui_;
  std::shared_ptr<velmo::ui::UiSeam> old_;
  BrowseDouble browse_;
  ReportDouble report_;
  fs::path dir_;
};

TEST_F(ExportCommand, EachFilterAndAnswerEndsAsTheUserAsked) {
  const std::string folder = dir_.string();
  const std::string mdb = (dir_ / "EX1.mdb").string();
  const std::string saved = "MsgBox: Report has been exported successfully.";
  const std::string question = "MsgBox: Table 'Mailboxes' already exists.Do you want to overwrite it?";
  const std::string nameBox = "InputBox: Enter the table name";
  const std::string dialog = "SaveFile: " + folder;
  struct Case {
    const char* what;
    std::string path;
    int index;
    std::vector<std::pair<std::string, bool>> inputs;
    std::vector<int> answers;
    std::vector<std::string> shown;
    std::function<void()> check;
  };
  const Case cases[] = {
      {"cancel", "", 0, {}, {}, {dialog}, [&] { EXPECT_TRUE(fs::is_empty(dir_)); }},
      {"name box cancelled: no empty file", mdb, 1, {{"", false}}, {}, {dialog, nameBox},
       [&] { EXPECT_FALSE(fs::exists(mdb)); }},
      {"blank name is cancel", mdb, 1, {{"   ", true}}, {}, {dialog, nameBox}, [&] { EXPECT_FALSE(fs::exists(mdb)); }},
      {"new database", mdb, 1, {{"Mailboxes", true}}, {}, {dialog, nameBox, saved},
       [&] {
         EXPECT_EQ(Sqlite3(mdb, "select DisplayName||'|'||AliasName from Mailboxes order by DisplayName;\n"),
                   "Maria Müller|maria\nSean O'Neil|sean\n");
       }},
      {"extended, not replaced", mdb, 1, {{"Second", true}}, {}, {dialog, nameBox, saved},
       [&] { EXPECT_EQ(Sqlite3(mdb, "select count(*) from Mailboxes; select count(*) from Second;\n"), "2\n2\n"); }},
      {"overwrite refused: asked again", mdb, 1, {{"Mailboxes", true}, {"Third", true}}, {velmo::ui::vbNo},
       {dialog, nameBox, question, nameBox, saved},
       [&] { EXPECT_EQ(Sqlite3(mdb, "select count(*) from sqlite_master where type='table';\n"), "3\n"); }},
      {"overwrite accepted", mdb, 1, {{"  Mailboxes ", true}}, {velmo::ui::vbYes}, {dialog, nameBox, question, saved},
       [&] { EXPECT_EQ(Sqlite3(mdb, "select count(*) from Mailboxes;\n"), "2\n"); }},
      {"HTML", (dir_ / "r.html").string(), 2, {}, {}, {dialog, "MsgBox: Report exported successfully."},
       [&] { EXPECT_TRUE(velmo::test::TestHome::Slurp(dir_ / "r.html").starts_with("<HTML>\r\n")); }},
      {"CSV under an .html name", (dir_ / "c.html").string(), 3, {}, {}, {dialog, "MsgBox: Report exported successfully."},
       [&] {
         const std::string text = velmo::test::TestHome::Slurp(dir_ / "c.html");
         EXPECT_TRUE(text.starts_with(std::string(velmo::exporting::kHeadingText) + "\r\n"));
         EXPECT_NE(text.find("\r\nSean O'Neil,sean\r\n"), std::string::npos);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto shown = Run(c.path, c.index, c.inputs, c.answers);
    EXPECT_EQ(shown, c.shown);
    c.check();
  }
  // The dialog offers the three formats, the database first.
  const auto dialogShown = ui_->shown().front();
  EXPECT_EQ(dialogShown.title, "SQLite database (*.mdb)|HTML Files(*.html)|Comma delimited(*.csv)");
  EXPECT_EQ(dialogShown.buttons, 1);
}

TEST_F(ExportCommand, FailuresAreToldWithTheSystemsReasonNeverAsSuccess) {
  std::ofstream(dir_ / "plain") << "not a folder";
  std::ofstream(dir_ / "text.mdb") << "this file is text, not a database of any kind at all, long enough.";
  struct Case {
    std::string path;
    int index;
    std::vector<std::pair<std::string, bool>> inputs;
  };
  const Case cases[] = {
      {(dir_ / "plain" / "r.csv").string(), 3, {}},
      {(dir_ / "plain" / "r.html").string(), 2, {}},
      {(dir_ / "plain" / "r.mdb").string(), 1, {{"T", true}}},
      {(dir_ / "text.mdb").string(), 1, {{"T", true}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const auto shown = Run(c.path, c.index, c.inputs);
    ASSERT_FALSE(shown.empty());
    const std::string head = "MsgBox: The report could not be exported to '" + c.path + "'.\n";
    EXPECT_EQ(Stem(shown.back(), head.size()), head);
    EXPECT_GT(shown.back().size(), head.size()) << "the reason follows";
    for (const auto& s : shown) EXPECT_EQ(s.find("successfully"), std::string::npos) << s;
  }
  EXPECT_EQ(velmo::test::TestHome::Slurp(dir_ / "text.mdb").substr(0, 9), "this file");
}

TEST_F(ExportCommand, TitlesComeFromTheWindowTheGridIsTakenFrom) {
  struct Case {
    bool custom;
    bool typeVisible;
    std::string typeCaption;
    std::string title;
    std::string firstRow;
  };
  const Case cases[] = {
      {false, true, "Mailboxes", "Mailboxes General - 'EX1'", "Sean O'Neil,sean"},
      {false, true, "Summary", "Recipients General - 'EX1'", "Sean O'Neil,sean"},
      {false, false, "Mailboxes", "Recipients General - 'EX1'", "Sean O'Neil,sean"},
      {true, false, "", "Sales/Europe - 'EX2'", "Åse Ødegård," + std::string(300, 'n')},
  };
  browse_.strServerName = "EX1";
  report_.strCRServerName = "EX2";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    browse_.typeVisible = c.typeVisible;
    browse_.typeCaption = c.typeCaption;
    gbCustomReport = c.custom;
    gfrmCustomReport = c.custom ? &report_ : nullptr;
    const fs::path file = dir_ / "t.csv";
    Run(file.string(), 3);
    EXPECT_EQ(gstrReportTitle, c.title);
    const std::string text = velmo::test::TestHome::Slurp(file);
    EXPECT_NE(text.find("\r\n" + c.title + "\r\n"), std::string::npos) << text.substr(0, 300);
    EXPECT_NE(text.find("\r\n" + c.firstRow + "\r\n"), std::string::npos);
  }
}

}  // namespace
