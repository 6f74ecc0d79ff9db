// The error log, browse-window slots, grid auto-fit, print front end,
// folder picker and pop-up menu.
#include <QAction>
#include <QFontMetrics>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <map>

#include "ComFactory.h"
#include "GridFit.h"
#include "RecordingPrinter.h"
#include <fstream>
#include "ShellTestSupport.h"

namespace shelltest {
namespace {

using Module = ShellTest;

// ------------------------------------------------------------------ log

TEST_F(Module, ErrorLogLineHasItsFieldsInLineOrder) {
  const auto file = home_ / "VelmorcastErrorLog.log";
  ASSERT_FALSE(std::filesystem::exists(file));
  WriteErrorLog("3/7/2024 4:05:09 PM", "MDIForm_Load RecordsetObjectOpen Failed", "-2147467259",
                "Unspecified error");
  WriteErrorLog("3/7/2024 4:05:10 PM", "X Failed", "0", "");
  EXPECT_EQ(velmo::test::TestHome::Slurp(file),
            "3/7/2024 4:05:09 PM      -2147467259      Unspecified error      MDIForm_Load RecordsetObjectOpen "
            "Failed\r\n"
            "3/7/2024 4:05:10 PM      0            X Failed\r\n");
  LogFailure("Y Failed", velmo::ComError(velmo::Hr(0x80040E37), "missing"));
  EXPECT_TRUE(LogLines().back().ends_with("      -2147217865      missing      Y Failed"));
}

// ---------------------------------------------------------------- slots

TEST_F(Module, SlotsAreReusedAndTheTwentySixthWindowIsRefused) {
  std::vector<std::unique_ptr<FakeExchWindow>> windows;
  for (int i = 0; i < 26; ++i) windows.push_back(std::make_unique<FakeExchWindow>("EX" + std::to_string(i)));
  for (int i = 0; i < 25; ++i) {
    EXPECT_EQ(OpenExchWindowSlot(windows[i].get()), i + 1);
    EXPECT_EQ(windows[i]->iFrmID, i + 1);
  }
  EXPECT_EQ(glngWindowCount, 25);
  EXPECT_EQ(OpenExchWindowSlot(windows[25].get()), 0);
  EXPECT_EQ(windows[25]->iFrmID, 0);
  ASSERT_EQ(ui_->shown().size(), 1u);
  EXPECT_EQ(ui_->shown()[0].prompt, "At most 25 server windows can be open at once. Close one and try again.");
  EXPECT_EQ(ui_->shown()[0].title, kProductTitle);
  EXPECT_EQ(NewestExchWindow(), windows[24].get());

  // A closed slot is taken by the next window; the open ones keep theirs.
  CloseExchWindowSlot(windows[2].get());
  EXPECT_EQ(glngWindowCount, 24);
  EXPECT_EQ(gfrmExchWindows[2 + 1], nullptr);
  EXPECT_EQ(OpenExchWindowSlot(windows[25].get()), 3);
  EXPECT_EQ(gfrmExchWindows[25], windows[24].get());
  EXPECT_EQ(NewestExchWindow(), windows[25].get());
  EXPECT_EQ(OpenExchWindowSlot(windows[25].get()), 3);  // already open
  EXPECT_EQ(glngWindowCount, 25);

  // Closing the newest makes the most recently opened one still open the newest.
  CloseExchWindowSlot(windows[25].get());
  EXPECT_EQ(NewestExchWindow(), windows[24].get());
  CloseExchWindowSlot(windows[10].get());
  EXPECT_EQ(NewestExchWindow(), windows[24].get());
  SetCurrentExchWindow();
  EXPECT_EQ(gfrmCurrent, windows[24].get());
  CloseExchWindowSlot(windows[24].get());
  EXPECT_EQ(gfrmCurrent, nullptr);  // never left pointing at a closed window
  EXPECT_EQ(NewestExchWindow(), windows[23].get());
  for (auto& w : windows) CloseExchWindowSlot(w.get());
  EXPECT_EQ(glngWindowCount, 0);
  SetCurrentExchWindow();
  EXPECT_EQ(gfrmCurrent, nullptr);
  EXPECT_EQ(NewestExchWindow(), nullptr);
}

TEST_F(Module, CurrentWindowIsTheActiveMdiChildElseTheNewest) {
  QMainWindow main;
  auto* area = new QMdiArea(&main);
  main.setCentralWidget(area);
  gMainWindow = &main;
  gMdiArea = area;
  FakeExchWindow older("EX1"), newer("EX2");
  older.widget = new QWidget;
  newer.widget = new QWidget;
  QMdiSubWindow* subOlder = area->addSubWindow(older.widget);
  QMdiSubWindow* subNewer = area->addSubWindow(newer.widget);
  OpenExchWindowSlot(&older);
  OpenExchWindowSlot(&newer);
  main.show();
  subOlder->show();
  subNewer->show();
  area->setActiveSubWindow(subOlder);
  SetCurrentExchWindow();
  EXPECT_EQ(gfrmCurrent, &older);
  area->setActiveSubWindow(subNewer);
  SetCurrentExchWindow();
  EXPECT_EQ(gfrmCurrent, &newer);

  // A child that is no browse window: the newest browse window.
  QMdiSubWindow* other = area->addSubWindow(new QWidget);
  other->show();
  area->setActiveSubWindow(other);
  gfrmCurrent = nullptr;
  SetCurrentExchWindow();
  EXPECT_EQ(gfrmCurrent, &newer);
  CloseExchWindowSlot(&older);
  CloseExchWindowSlot(&newer);
}

// ------------------------------------------------------------- auto-fit

// A grid of one row per text in one column, measured from a table.
struct TableGrid {
  std::vector<std::vector<std::string>> cells;
  std::vector<long> widths;
  long Rows() const { return static_cast<long>(cells.size()); }
  long Cols() const { return static_cast<long>(widths.size()); }
  std::string TextMatrix(long r, long c) const { return cells[r][c]; }
  long ColWidth(long c) const { return widths[c]; }
  void ColWidth(long c, long w) { widths[c] = w; }
};

long FitOne(long width, std::vector<long> textWidths) {
  TableGrid g;
  g.widths = {width};
  for (long w : textWidths) g.cells.push_back({std::to_string(w)});
  FitColumnWidthsWith(
      g, [](const std::string& t) { return std::stod(t); }, 15);
  return g.widths[0];
}

TEST_F(Module, AutoFitArithmeticAtFifteenTwipsPerPixel) {
  EXPECT_EQ(FitOne(1000, {1500}), 1875);  // at most the minimum: the minimum
  EXPECT_EQ(FitOne(1000, {2200}), 2290);  // text plus a 45-twip margin each side
  EXPECT_EQ(FitOne(1000, {6000}), 1000);  // too far short: left alone
  EXPECT_EQ(FitOne(1000, {5949}), 6039);  // short by less than 4995: widened
  EXPECT_EQ(FitOne(1000, {5950}), 1000);
  EXPECT_EQ(FitOne(2600, {3000}), 2600);  // wide columns never change
  EXPECT_EQ(FitOne(2549, {3000}), 3090);
  EXPECT_EQ(FitOne(1000, {955}), 1000);   // fits inside the margins
  EXPECT_EQ(FitOne(1900, {1870}), 1875);  // the one narrowing: at most the minimum
  // Row by row: 1875, then 2290, then 2590, then it is wide and stays.
  EXPECT_EQ(FitOne(1000, {1500, 2200, 2500, 4000}), 2590);
  EXPECT_EQ(FitOne(1000, {}), 1000);
}

TEST_F(Module, AutoFitMeasuresWithTheGridFontBeyond32767Rows) {
  velmo::FlexGrid grid;
  grid.Cols(3);
  std::vector<std::vector<std::string>> rows(40000, std::vector<std::string>{"Mailbox General", "b", ""});
  const std::string longText = "A text near the end of a long grid";
  rows[39999][1] = longText;
  rows[0][2] = std::string(400, 'W');  // far too long: column left alone
  grid.SetData(std::move(rows));
  for (int c = 0; c < 3; ++c) grid.ColWidth(c, 1000);
  AutoFitGrid(grid);
  const QFontMetrics metrics(grid.font());
  const int shortTwips = metrics.horizontalAdvance("Mailbox General") * 15;
  const int textTwips = metrics.horizontalAdvance(QString::fromStdString(longText)) * 15;
  ASSERT_GT(shortTwips, 955);
  ASSERT_LE(shortTwips, 1875);
  ASSERT_GT(textTwips, 1875);
  ASSERT_LT(textTwips, 5900);
  EXPECT_EQ(grid.ColWidth(0), 1875);
  EXPECT_EQ(grid.ColWidth(1), textTwips + 90);
  EXPECT_EQ(grid.ColWidth(2), 1000);
  EXPECT_TRUE(grid.Redraw());
}

// -------------------------------------------------------- print front end

class Print : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    w_.grid = &grid_;
    w_.strServerName = "SRV1";
    w_.typeCaption = "Mailboxes";
    w_.propCaption = "General";
    w_.SelectNode("Recipients", "K");
    OpenExchWindowSlot(&w_);
  }
  void TearDown() override {
    UninstallRecordingPrinter();
    ShellTest::TearDown();
  }
  static void Install() { InstallRecordingPrinter(); }
  velmo::FlexGrid grid_;
  FakeExchWindow w_;
};

TEST_F(Print, WithoutThePrintComponentAMessageSaysSo) {
  // A class registry without the print component's library.
  const auto reg = home_ / "VelmorcastClasses.reg";
  std::vector<std::string> lines;
  velmo::ReadLines(reg, lines);
  std::ofstream out(reg, std::ios::trunc);
  for (const auto& l : lines)
    if (l.rfind("VLMRPreview.", 0) != 0) out << l << "\n";
  out.close();
  PrintGridReport(0, 0);
  PrintGridReport(1, 0);
  ASSERT_EQ(ui_->shown().size(), 2u);
  EXPECT_EQ(ui_->shown()[0].prompt, "The print component is not installed. Preview and Print are not available.");
  EXPECT_EQ(ui_->shown()[0].title, kProductTitle);
  EXPECT_TRUE(LogHas("PrintGridReport PrintObjectCreation Failed"));
}

TEST_F(Print, TitlesAndCallsOfPreviewAndPrint) {
  Install();
  PrintGridReport(0, 0);
  const std::vector<std::string> preview = {std::string("ProductName=") + kProductTitle,
                                            "Title1(Velmorine for Exchange Server v1.4.2,2,Times New Roman,14)",
                                            "TitleSeprator=1",
                                            "Title2(Mailboxes General - 'SRV1',1,Times New Roman,12)",
                                            "Title3(<now>,1,Times New Roman,12)",
                                            "FixedRowShade=1",
                                            "ShowPreview"};
  EXPECT_EQ(RecordingPrinter::calls, preview);
  EXPECT_EQ(RecordingPrinter::grid, &grid_);
  EXPECT_EQ(gstrReportTitle, "Mailboxes General - 'SRV1'");

  // "Summary" or a hidden type strip: the tree node's text comes first.
  RecordingPrinter::calls.clear();
  w_.typeCaption = "Summary";
  PrintGridReport(1, 0);
  EXPECT_EQ(RecordingPrinter::calls.back().rfind("PrintReport=", 0), 0u);
  EXPECT_EQ(gstrReportTitle, "Recipients General - 'SRV1'");
  w_.typeCaption = "Mailboxes";
  w_.typeVisible = false;
  PrintGridReport(1, 0);
  EXPECT_EQ(gstrReportTitle, "Recipients General - 'SRV1'");
  EXPECT_TRUE(ui_->shown().empty());
}

TEST_F(Print, CustomReportAndExportPlusSources) {
  Install();
  velmo::FlexGrid crGrid;
  FakeCustomReportWindow cr;
  cr.grid = &crGrid;
  cr.strCRServerName = "EX2";
  cr.typeCaption = "Mailboxes";
  cr.node.text = "Sales";
  gfrmCustomReport = &cr;
  gbCustomReport = true;
  PrintGridReport(1, 1);
  EXPECT_EQ(RecordingPrinter::grid, &crGrid);
  EXPECT_EQ(gstrReportTitle, "Mailboxes - 'EX2'");
  cr.typeCaption = "Summary";
  PrintGridReport(0, 1);
  EXPECT_EQ(gstrReportTitle, "Sales - 'EX2'");
  gbCustomReport = false;

  // Export Plus: its own title stays; no such window, or a printer that is
  // not installed, prints nothing.
  RecordingPrinter::calls.clear();
  gstrReportTitle = "Batch title";
  PrintGridReport(1, 2);
  EXPECT_TRUE(RecordingPrinter::calls.empty());
  struct ExportPlus : ExportPlusPrintSource {
    velmo::FlexGrid* g = nullptr;
    std::string printerName = "No Such Printer 42";
    velmo::FlexGrid* Grd1() override { return g; }
    std::string strPrinterName() override { return printerName; }
  } ep;
  ep.g = &crGrid;
  gfrmExportPlusPrint = &ep;
  PrintGridReport(1, 2);
  EXPECT_EQ(gstrReportTitle, "Batch title");
  EXPECT_EQ(std::count_if(RecordingPrinter::calls.begin(), RecordingPrinter::calls.end(),
                          [](const std::string& c) { return c.rfind("PrintReport", 0) == 0; }),
            0);
  // The PDF device is always in the printer list: it becomes current and
  // the grid is printed on it.
  const std::string before = CurrentPrinterName();
  ep.printerName = "Velmorcast PDF";
  PrintGridReport(1, 2);
  EXPECT_EQ(RecordingPrinter::calls.back(), "PrintReport=Velmorcast PDF");
  CurrentPrinterName() = before;
  EXPECT_NE(std::find(RecordingPrinter::calls.begin(), RecordingPrinter::calls.end(),
                      "Title2(Batch title,1,Times New Roman,12)"),
            RecordingPrinter::calls.end());
  PrintGridReport(0, 2);
  EXPECT_EQ(RecordingPrinter::calls.back(), "ShowPreview");
  EXPECT_TRUE(ui_->shown().empty());

  // No browse window: nothing to print.
  RecordingPrinter::calls.clear();
  CloseExchWindowSlot(&w_);
  PrintGridReport(0, 0);
  EXPECT_TRUE(RecordingPrinter::calls.empty());
}

// ------------------------------------------------------------ pop-up menu

class ContextMenu : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    main_.setObjectName("Mdifrm");
    auto* menu = new QMenu(&main_);
    menu->setObjectName("popmnuRefresh");
    for (const char* name : {"popmnuRefreshServer", "popmnuConnect", "popmnuFavExchServer", "popmnuFilter",
                             "popmnuCustomize", "popmnuExport", "popmnuPreview", "popmnuPrint"}) {
      QAction* a = menu->addAction(name);
      a->setObjectName(name);
    }
    gMainWindow = &main_;
    grid_.Rows(3);
    w_.grid = &grid_;
  }
  bool On(const char* name) { return main_.findChild<QAction*>(name)->isEnabled(); }
  QString Caption() { return main_.findChild<QAction*>("popmnuRefreshServer")->text(); }
  bool ReportItems(bool on) {
    for (const char* n : {"popmnuFilter", "popmnuCustomize", "popmnuExport", "popmnuPreview", "popmnuPrint"})
      if (On(n) != on) return false;
    return true;
  }
  QMainWindow main_;
  velmo::FlexGrid grid_;
  FakeExchWindow w_;
};

TEST_F(ContextMenu, ServerNodeEnablesRefreshWithItsName) {
  OpenExchWindowSlot(&w_);
  w_.SelectNode("EX1 & Co", "o=Velmor/ou=Lakeside/cn=Configuration/cn=Servers/cn=EX1", 6, "Servers");
  QMenu* menu = PrepareContextMenu();
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(menu->objectName(), "popmnuRefresh");
  EXPECT_EQ(Caption(), "Refresh 'EX1 && Co'");
  EXPECT_TRUE(On("popmnuRefreshServer"));
  EXPECT_TRUE(On("popmnuFavExchServer"));
  EXPECT_TRUE(ReportItems(true));
  ShowContextMenu();  // tests never open the menu modally
}

TEST_F(ContextMenu, OtherNodesSmallGridsAndNoWindowDisable) {
  OpenExchWindowSlot(&w_);
  w_.SelectNode("Servers", "o=Velmor/ou=Lakeside/cn=Configuration/cn=Servers", 5, "Configuration");
  PrepareContextMenu();
  EXPECT_EQ(Caption(), "Refresh");
  EXPECT_FALSE(On("popmnuRefreshServer"));
  w_.SelectNode("Velmor", "o=Velmor", 1, "Servers");  // the root is never refreshed
  PrepareContextMenu();
  EXPECT_FALSE(On("popmnuRefreshServer"));

  grid_.Rows(1);
  PrepareContextMenu();
  EXPECT_TRUE(ReportItems(false));
  grid_.Rows(2);
  grid_.Visible(false);
  PrepareContextMenu();
  EXPECT_TRUE(ReportItems(false));
  grid_.Visible(true);
  PrepareContextMenu();
  EXPECT_TRUE(ReportItems(true));

  CloseExchWindowSlot(&w_);
  PrepareContextMenu();
  EXPECT_FALSE(On("popmnuFavExchServer"));
  EXPECT_FALSE(On("popmnuRefreshServer"));
  EXPECT_TRUE(ReportItems(false));
}

}  // namespace
}  // namespace shelltest
