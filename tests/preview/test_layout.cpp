// Page layout over grid shapes and page sizes, and the component's job
// start and settings.
#include <sstream>

#include "PreviewTestSupport.h"
#include "PrintGeneralFucntions.h"

using namespace vlmrpreview;
using previewtest::PreviewTest;

namespace {

// A grid shape: rows of given heights after fixedRows fixed rows of
// fixedHeight (total), columns likewise.
struct Shape {
  std::vector<int> rows, cols;
  int fixedRows = 1, fixedCols = 1;
  GridShape Get() const {
    GridShape g;
    g.Rows = static_cast<int>(rows.size());
    g.Cols = static_cast<int>(cols.size());
    g.FixedRows = fixedRows;
    g.FixedCols = fixedCols;
    g.RowHeight = [this](int r) { return rows[static_cast<size_t>(r)]; };
    g.ColWidth = [this](int c) { return cols[static_cast<size_t>(c)]; };
    return g;
  }
};
std::vector<int> Sizes(std::initializer_list<std::pair<int, int>> runs) {
  std::vector<int> v;
  for (auto [count, size] : runs) v.insert(v.end(), static_cast<size_t>(count), size);
  return v;
}
// The page table as "rows:cols rows:cols ...".
std::string Pages(const PrintControlVariables& v) {
  std::ostringstream s;
  for (int p = 1; p <= v.PageCount; ++p) {
    const PageRange& r = v.PageTable[static_cast<size_t>(p)];
    EXPECT_EQ(r.PageNo, p);
    s << (p > 1 ? " " : "") << r.RowFrom << "-" << r.RowTo << ":" << r.ColFrom << "-" << r.ColTo;
  }
  return s.str();
}
// Lays out as a job start would: fixed counts and sizes from the shape.
PrintControlVariables LayOut(const Shape& shape, int scaleWidth, int scaleHeight) {
  PrintControlVariables v;
  const GridShape g = shape.Get();
  if (g.FixedRows > 0) {
    v.FixedRowCount = g.FixedRows;
    for (int r = 0; r < g.FixedRows; ++r) v.FixedRowsHeight += g.RowHeight(r);
  }
  if (g.FixedCols > 0) {
    v.FixedColCount = g.FixedCols;
    for (int c = 0; c < g.FixedCols; ++c) v.FixedColsWidth += g.ColWidth(c);
  }
  EXPECT_TRUE(BuildPageTable(v, &g, scaleWidth, scaleHeight));
  return v;
}

}  // namespace

TEST(Layout, PageTablesOverGridAndPageSizes) {
  struct Case {
    const char* what;
    Shape shape;
    int scaleWidth, scaleHeight;
    int mode;
    std::string pages;
  };
  const std::vector<Case> cases = {
      {"rows split at the usable height, 48 rows a band", {Sizes({{1, 300}, {100, 240}}), Sizes({{1, 0}, {3, 1500}})},
       11000, 15000, kRowsSplit, "1-48:1-3 49-96:1-3 97-100:1-3"},
      {"a band whose sum is exactly the limit keeps its last row",
       {Sizes({{1, 240}, {60, 240}}), Sizes({{1, 0}, {3, 1500}})}, 11000, 15000, kRowsSplit, "1-49:1-3 50-60:1-3"},
      {"10 columns of 1500 and 3 row bands: across, then down",
       {Sizes({{1, 300}, {100, 240}}), Sizes({{1, 0}, {10, 1500}})}, 11000, 15000, kRowsAndColumnsSplit,
       "1-48:1-5 1-48:6-10 49-96:1-5 49-96:6-10 97-100:1-5 97-100:6-10"},
      {"columns only", {Sizes({{1, 300}, {5, 240}}), Sizes({{1, 0}, {10, 1500}})}, 11000, 15000, kColumnsSplit,
       "1-5:1-5 1-5:6-10"},
      {"a grid between ScaleWidth - 3000 and ScaleWidth stays whole",
       {Sizes({{1, 300}, {5, 240}}), Sizes({{1, 0}, {5, 2000}})}, 11000, 15000, kOnePage, "1-5:1-5"},
      {"one page", {Sizes({{1, 300}, {3, 240}}), Sizes({{1, 0}, {3, 1500}})}, 11000, 15000, kOnePage, "1-3:1-3"},
      {"a row taller than the page has a band of its own",
       {Sizes({{1, 300}, {10, 240}, {1, 20000}, {10, 240}}), Sizes({{1, 0}, {3, 1500}})}, 11000, 5000, kRowsSplit,
       "1-7:1-3 8-10:1-3 11-11:1-3 12-18:1-3 19-21:1-3"},
      {"no fixed rows: data from row 0", {Sizes({{100, 240}}), Sizes({{1, 0}, {3, 1500}}), 0, 1}, 11000, 15000,
       kRowsSplit, "0-49:1-3 50-99:1-3"},
      {"no fixed columns: data from column 0", {Sizes({{1, 300}, {3, 240}}), Sizes({{3, 1500}}), 1, 0}, 11000, 15000,
       kOnePage, "1-3:0-2"},
      {"a 40,000-twip page", {Sizes({{1, 300}, {400, 240}}), Sizes({{1, 0}, {3, 1500}})}, 11000, 40000, kRowsSplit,
       "1-152:1-3 153-304:1-3 305-400:1-3"},
      {"printable size of 3000 or less: one row and one column a band",
       {Sizes({{1, 300}, {3, 240}}), Sizes({{1, 0}, {3, 1500}})}, 2000, 3000, kRowsAndColumnsSplit,
       "1-1:1-1 1-1:2-2 1-1:3-3 2-2:1-1 2-2:2-2 2-2:3-3 3-3:1-1 3-3:2-2 3-3:3-3"},
      {"only the caption row", {Sizes({{1, 300}}), Sizes({{1, 0}, {3, 1500}})}, 11000, 15000, kOnePage, "1-0:1-3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const PrintControlVariables v = LayOut(c.shape, c.scaleWidth, c.scaleHeight);
    EXPECT_EQ(v.PageLayoutMode, c.mode);
    EXPECT_EQ(Pages(v), c.pages);
    EXPECT_EQ(v.CurrentPage, 1);
    EXPECT_EQ(static_cast<int>(v.PageTable.size()), v.PageCount + 1);
  }
}

TEST(Layout, MoreThan32767PagesAndNoGrid) {
  // 100,000 rows, one a page.
  Shape tall{Sizes({{1, 300}, {100000, 240}}), Sizes({{1, 0}, {3, 1500}})};
  const PrintControlVariables v = LayOut(tall, 11000, 3300);
  EXPECT_EQ(v.PageLayoutMode, kRowsSplit);
  ASSERT_EQ(v.PageCount, 100000);
  EXPECT_EQ(v.PageTable[100000], (PageRange{100000, 100000, 1, 3, 100000}));
  EXPECT_EQ(ShowPageNoCaption(v), "Page 1 of 100000");

  // A failed layout leaves no pages, not the previous table.
  PrintControlVariables again = v;
  EXPECT_FALSE(BuildPageTable(again, nullptr, 11000, 15000));
  EXPECT_EQ(again.PageCount, 0);
  EXPECT_EQ(again.PageTable.size(), 1u);
}

// ------------------------------------------------------------ the component

TEST_F(PreviewTest, ComponentSettingsAndJobStart) {
  auto p = NewPrinter();
  PrintControlVariables* v = StateOf(p.get());
  ASSERT_NE(v, nullptr);

  // Setters ignore "" and 0.
  p->Title1("Report", 3, "Arial", 20);
  p->Title1("", 0, "", 0);
  EXPECT_EQ(v->Title1Text, "Report");
  EXPECT_EQ(v->Title1Alignment, 3);
  EXPECT_EQ(v->Title1FontName, "Arial");
  EXPECT_EQ(v->Title1FontSize, 20);
  p->Title3("Now", 1);
  EXPECT_EQ(v->Title3FontName, "Times New Roman");
  EXPECT_EQ(v->Title3FontSize, 12);
  p->StartRow(0);
  p->StartRow(-3);
  EXPECT_EQ(p->StartRow(), 0);
  p->StartRow(5);
  EXPECT_EQ(p->StartRow(), 4);
  EXPECT_TRUE(p->IsDefaultPrinter());
  EXPECT_EQ(p->FixedRows(), 0);
  EXPECT_TRUE(p->GridBorder());
  EXPECT_TRUE(p->HeaderBorder());
  EXPECT_FALSE(p->TitleSeprator());

  // The exact printer-problem message.
  EXPECT_EQ(p->ProductName(), "Velmorine for Exchange Server (Velmorcast)");
  EXPECT_EQ(v->PrinterProblemMessage,
            "Velmorine for Exchange Server (Velmorcast) cannot print or preview due to a problem with the current "
            "printer setup.\r\nTry one or more of the following:\r\n\r\n*Check the printer by printing a test page "
            "from windows.\r\n*Make sure printer is turned on and online.\r\n*Reinstall the printer driver.\r\n");

  // Two objects are independent: a second one resets nothing of the first.
  auto q = NewPrinter();
  q->Title1("Other");
  EXPECT_EQ(v->Title1Text, "Report");
  EXPECT_EQ(p->StartRow(), 4);
  EXPECT_EQ(StateOf(q.get())->Title1Text, "Other");

  // No grid: the message, and the job ends with no pages.
  p->PrintReport();
  EXPECT_EQ(Messages(), std::vector<std::string>{"Please assign the source grid"});
  EXPECT_EQ(ui_->shown()[0].buttons, velmo::ui::vbCritical);
  EXPECT_EQ(v->PageCount, 0);
}

TEST_F(PreviewTest, DataStartRowsAndFixedCountsOverTwoJobs) {
  const int usableSw = 11000, sh = 15000;
  for (int fixedRows : {1, 2}) {
    SCOPED_TRACE(fixedRows);
    auto grid = previewtest::ReportGrid(10, 3);
    grid->FixedRows(fixedRows);
    auto p = NewPrinter();
    PrintControlVariables& v = *StateOf(p.get());
    p->SourceGrid(grid.get());
    for (int job = 1; job <= 2; ++job) {
      ASSERT_TRUE(LoadGridMetrics(v));
      ASSERT_TRUE(BuildPageTable(v, usableSw, sh));
      EXPECT_EQ(v.PageTable[1].RowFrom, fixedRows) << "job " << job;
      EXPECT_EQ(p->FixedRows(), fixedRows);
      EXPECT_EQ(p->StartRow(), 0);
    }
  }
  // A second job on a grid without fixed columns gets no extra column; one
  // without fixed rows starts at row 0.
  auto withFixed = previewtest::ReportGrid(5, 3);
  auto plain = previewtest::ReportGrid(5, 3);
  plain->FixedCols(0);
  plain->FixedRows(0);
  auto p = NewPrinter();
  PrintControlVariables& v = *StateOf(p.get());
  p->SourceGrid(withFixed.get());
  ASSERT_TRUE(LoadGridMetrics(v));
  p->SourceGrid(plain.get());
  ASSERT_TRUE(LoadGridMetrics(v));
  EXPECT_EQ(v.FixedColCount, 0);
  EXPECT_EQ(v.FixedRowCount, 0);
  ASSERT_TRUE(BuildPageTable(v, usableSw, sh));
  EXPECT_EQ(v.PageTable[1], (PageRange{0, 5, 0, 3, 1}));
  // A start row set by the caller: data after it.
  p->SourceGrid(withFixed.get());
  p->StartRow(3);
  ASSERT_TRUE(LoadGridMetrics(v));
  ASSERT_TRUE(BuildPageTable(v, usableSw, sh));
  EXPECT_EQ(v.PageTable[1].RowFrom, 3);
  EXPECT_EQ(p->StartRow(), 2);
}
