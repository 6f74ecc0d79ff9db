// The Export command through the main window's seam, answered by a scripted
// UI: the save dialog, the table-name box and the overwrite question, over
// a browse window and a custom report window.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>
#include <filesystem>
#include <fstream>
#include <functional>

#include "ExportKit.h"
#include "ExportWriters.h"
#include "OutputNames.h"
#include "QtUi.h"
#include "UserInput.h"
#include "FlexGrid.h"
#include "Mdifrm.h"
#include "QtTestApp.h"
#include "TestHome.h"
#include "ScriptedUi.h"
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

class ExportPlusDouble : public ExportPlusPrintSource {
 public:
  velmo::FlexGrid* Grd1() override { return &grid; }
  std::string strPrinterName() override { return ""; }
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
  const std::string exported = "MsgBox: Report exported successfully.";
  const std::string week = (dir_ / "week").string();
  // A file of another run, outside the folder the dialog opens on.
  const fs::path earlier = home_.dir() / "Earlier";
  fs::create_directories(earlier);
  std::ofstream(earlier / "kept.csv") << "earlier";
  const std::string keptQuestion =
      "MsgBox: '" + (earlier / "kept.csv").string() + "' already exists.\r\nDo you want to replace it?";
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
      // A name typed without an extension gets the chosen type's.
      {"database named without an extension", week, 1, {{"Mailboxes", true}}, {}, {dialog, nameBox, saved},
       [&] {
         EXPECT_FALSE(fs::exists(week));
         EXPECT_EQ(Sqlite3(week + ".mdb", "select count(*) from Mailboxes;\n"), "2\n");
       }},
      {"HTML named without an extension", week, 2, {}, {}, {dialog, exported},
       [&] { EXPECT_TRUE(velmo::test::TestHome::Slurp(week + ".html").starts_with("<HTML>\r\n")); }},
      {"CSV named without an extension", week, 3, {}, {}, {dialog, exported},
       [&] {
         EXPECT_TRUE(velmo::test::TestHome::Slurp(week + ".csv").starts_with(velmo::exporting::kHeadingText));
         EXPECT_FALSE(fs::exists(week));
       }},
      // The file it names then is replaced only when the user agrees.
      {"existing file of the extended name kept", (earlier / "kept").string(), 3, {}, {velmo::ui::vbNo},
       {dialog, keptQuestion}, [&] { EXPECT_EQ(velmo::test::TestHome::Slurp(earlier / "kept.csv"), "earlier"); }},
      {"existing file of the extended name replaced", (earlier / "kept").string(), 3, {}, {velmo::ui::vbYes},
       {dialog, keptQuestion, exported},
       [&] {
         EXPECT_NE(velmo::test::TestHome::Slurp(earlier / "kept.csv").find("Sean O'Neil,sean"), std::string::npos);
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
    EXPECT_EQ(shown.back().find(".new-"), std::string::npos) << "named by the user's file: " << shown.back();
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

TEST_F(ExportCommand, ExportPlusOutputsAreSilentAndHandFailuresBack) {
  ExportPlusDouble plus;
  gfrmExportPlusPrint = &plus;
  ui_->clear();
  // Two categories of one label in one run file: the later table is numbered.
  velmo::exporting::OutputNames names;
  const std::string mdb = (dir_ / "EX1_12_09_2026_10_00_00.mdb").string();
  std::string failure;
  for (const char* owner : {"Site", "Server"}) {
    FillGrid(plus.grid, {{"Display Name", "E-mail (SMTP)"}, {std::string("Protocols of ") + owner, "a@b"}});
    const std::string table = names.Unique(velmo::exporting::ExportPlusTableName("Protocols General"));
    EXPECT_TRUE(ExportPlusGridToMdb(mdb, table, &failure)) << failure;
  }
  EXPECT_EQ(Sqlite3(mdb, "select DisplayName||'|'||EmailSMTP from ProtocolsGeneral union all "
                         "select DisplayName||'|'||EmailSMTP from ProtocolsGeneral_2;\n"),
            "Protocols of Site|a@b\nProtocols of Server|a@b\n");
  // The same table again is a failure, handed back, the file unchanged.
  EXPECT_FALSE(ExportPlusGridToMdb(mdb, "Protocols General", &failure));
  EXPECT_EQ(failure, "Table 'ProtocolsGeneral' already exists.");
  EXPECT_TRUE(ExportGridToCsv("1", (dir_ / "EX1_Protocols General_x.csv").string(), &failure));
  EXPECT_TRUE(ExportGridToHtml("1", (dir_ / "EX1_Protocols General_x.html").string(), &failure));
  failure.clear();
  EXPECT_FALSE(ExportGridToCsv("1", (dir_ / "missing" / "deeper" / "x.csv").string(), &failure));
  EXPECT_FALSE(failure.empty());
  EXPECT_TRUE(ui_->shown().empty()) << ui_->shown().front().prompt;
  gfrmExportPlusPrint = nullptr;
  EXPECT_FALSE(ExportGridToCsv("1", (dir_ / "none.csv").string(), &failure));
  EXPECT_FALSE(fs::exists(dir_ / "none.csv"));
}

// The windowed save dialog: the user picks a format, types a name and is
// asked before an existing file is chosen.
TEST_F(ExportCommand, SaveDialogTakesTheTypedNameAndTheChosenFormat) {
  velmo::QtUi qtUi;
  std::ofstream(dir_ / "old.csv") << "old";
  struct Step {
    int filterDowns;       // Down presses on the format list
    std::string typed;     // the name typed
    int overwriteAnswer;   // 0: no question expected
    std::string expected;  // the path returned ("" = cancelled)
    int index;
  };
  const Step steps[] = {
      {2, "report.csv", 0, (dir_ / "report.csv").string(), 3},
      {1, "page.html", 0, (dir_ / "page.html").string(), 2},
      {2, "old.csv", QMessageBox::Yes, (dir_ / "old.csv").string(), 3},
      {2, "old.csv", QMessageBox::No, "", 0},
  };
  for (const auto& st : steps) {
    SCOPED_TRACE(st.typed);
    bool asked = false;
    auto* tick = new QTimer;
    int state = 0, waited = 0;
    QObject::connect(tick, &QTimer::timeout, [&] {
      QWidget* modal = QApplication::activeModalWidget();
      if (++waited > 1000) {  // fail rather than hang
        if (modal) modal->close();
        tick->stop();
        return;
      }
      if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        asked = true;
        box->button(static_cast<QMessageBox::StandardButton>(st.overwriteAnswer))->click();
        state = 3;
        return;
      }
      auto* dlg = qobject_cast<QFileDialog*>(modal);
      if (!dlg) return;
      if (state == 3) {  // refused: the dialog stays; the user gives up
        velmo::test::FocusControl(dlg->findChild<QLineEdit*>("fileNameEdit"));
        velmo::test::PressKey(Qt::Key_Escape);
        state = 4;
        return;
      }
      if (state != 0) return;
      state = 1;
      ASSERT_TRUE(velmo::test::FocusControl(dlg->findChild<QComboBox*>("fileTypeCombo")));
      for (int i = 0; i < st.filterDowns; ++i) velmo::test::PressKey(Qt::Key_Down);
      ASSERT_TRUE(velmo::test::FocusControl(dlg->findChild<QLineEdit*>("fileNameEdit")));
      velmo::test::PressKey(Qt::Key_A, Qt::ControlModifier);
      for (QChar c : QString::fromStdString(st.typed)) velmo::test::PressKey(velmo::test::KeyOf(c), {}, QString(c));
      // Enter from a timer of its own: the question it may raise is
      // answered by this one.
      QTimer::singleShot(0, [] { velmo::test::PressKey(Qt::Key_Return); });
      state = 2;
    });
    tick->start(5);
    velmo::ui::SaveFileRequest request;
    request.folder = dir_.string();
    request.filters = {kExportFilterMdb, kExportFilterHtml, kExportFilterCsv};
    const std::string chosen = qtUi.SaveFileName(request, 0);
    tick->stop();
    delete tick;
    EXPECT_EQ(chosen, st.expected);
    EXPECT_EQ(asked, st.overwriteAnswer != 0);
    if (!chosen.empty()) EXPECT_EQ(request.filterIndex, st.index);
  }
  EXPECT_EQ(velmo::test::TestHome::Slurp(dir_ / "old.csv"), "old");
}

}  // namespace
