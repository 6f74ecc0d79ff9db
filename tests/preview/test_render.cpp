// Page drawing on a recording canvas, and the page grid copy.
#include <sstream>

#include "PreviewTestSupport.h"
#include "PrintPage.h"

using namespace vlmrpreview;
using previewtest::PreviewTest;

namespace {

// Records every drawing call; a character is 10 twips a point wide, a line
// 20 twips a point high.
class RecordingCanvas : public PageCanvas {
 public:
  std::vector<std::string> calls;
  void SetFont(const std::string& name, int points, bool bold) override {
    font_ = name, size_ = points;
    (void)bold;
  }
  std::string FontName() const override { return font_; }
  double TextWidth(const std::string& t) override { return static_cast<double>(t.size()) * size_ * 10; }
  double TextHeight(const std::string&) override { return size_ * 20.0; }
  void Print(const std::string& t) override {
    std::ostringstream s;
    s << "text " << t << " @" << CurrentX << "," << CurrentY << " " << size_ << "pt";
    calls.push_back(s.str());
    CurrentX = 0;
    CurrentY += size_ * 20;
  }
  void Line(double x1, double y1, double x2, double y2) override {
    std::ostringstream s;
    s << "line " << x1 << "," << y1 << "-" << x2 << "," << y2;
    calls.push_back(s.str());
  }
  void Box(const QRectF& r) override {
    std::ostringstream s;
    s << "box " << r.x() << "," << r.y() << " " << r.width() << "x" << r.height();
    calls.push_back(s.str());
  }
  void Cells(const velmo::FlexGrid& g, const QRectF& r) override {
    std::ostringstream s;
    s << "cells " << g.Rows() << "x" << g.Cols() << " @" << r.x() << "," << r.y();
    calls.push_back(s.str());
  }

 private:
  std::string font_ = "Times New Roman";
  int size_ = 12;
};

}  // namespace

TEST_F(PreviewTest, PageDrawingOrderTitlesAndPageNumbers) {
  auto grid = previewtest::ReportGrid(4, 2, 300, 1500);
  PrintControlVariables v;
  v.SourceGrid = grid.get();
  v.FixedRowCount = 1, v.FixedColCount = 1, v.FixedRowsHeight = 300;
  v.FixedRowShade = true;
  v.TitleSeprator = true;
  v.Title1Text = "ABCD";  // centred, 16 pt: 640 wide
  v.Title2Text = "Report";
  v.Title2Alignment = 1;
  v.Title3Text = "XY";  // right, 10 pt: 200 wide
  v.Title3Alignment = 3;
  v.Title3FontName = "Arial";
  v.Title3FontSize = 10;
  v.PageNumberPosition = "Bottom Right";
  v.PageTable.push_back({1, 4, 1, 2, 1});
  v.PageCount = 1;
  auto t = NewPageGrid();
  RecordingCanvas c;
  ASSERT_TRUE(RenderPage(c, v, *t, 1, 12000, 16000, true));
  // Body: 2 columns of 1500 (100 px each) and 5 rows of 300 (20 px each),
  // centred across the page at y 1500.
  const std::vector<std::string> expected = {
      "text Page 1 of 1 @10800,15500 8pt",
      "text ABCD @5680,300 16pt",
      "text Report @100,700 12pt",
      "text XY @11700,950 10pt",  // under title 2 measured in title 3's font: 200 + 750
      "line 100,1200-12000,1200",  // 240 + 800 + 200 in the last title's font
      "cells 5x3 @4500,1500",
      "box 4500,1500 3000x1500",
  };
  EXPECT_EQ(c.calls, expected);
  EXPECT_EQ(t->FixedRows(), 1);

  // With a header source held the (empty) band pushes the body down and its
  // separator is drawn; without the border flag there is no outline.
  v.HeaderPresent = true;
  v.HeaderSeprator = true;
  v.GridBorder = false;
  RecordingCanvas h;
  ASSERT_TRUE(RenderPage(h, v, *t, 1, 12000, 16000, v.GridBorder));
  ASSERT_GE(h.calls.size(), 2u);
  EXPECT_EQ(h.calls[h.calls.size() - 2], "line 100,1550-12000,1550");
  EXPECT_EQ(h.calls.back(), "cells 5x3 @4500,1700");
  v.HeaderPresent = v.HeaderSeprator = false;

  // The four corners, an unknown position (no move), none at all, and a
  // number too long for 1200 twips ends at the printable width.
  struct Corner {
    const char* position;
    int pageCount;
    std::string call;
  };
  const std::vector<Corner> corners = {
      {"Top Left", 3, "text Page 2 of 3 @150,100 8pt"},
      {"Top Right", 3, "text Page 2 of 3 @10800,100 8pt"},
      {"Bottom Left", 3, "text Page 2 of 3 @150,15500 8pt"},
      {"Bottom Right", 3, "text Page 2 of 3 @10800,15500 8pt"},
      {"bottom right", 3, "text Page 2 of 3 @7,9 8pt"},
      {"Bottom Right", 40000, "text Page 2 of 40000 @10400,15500 8pt"},
      {"", 3, ""},
  };
  for (const Corner& k : corners) {
    RecordingCanvas pc;
    pc.CurrentX = 7, pc.CurrentY = 9;
    v.PageNumberPosition = k.position;
    v.PageCount = k.pageCount;
    PrintPageNumber(pc, v, k.pageCount == 40000 ? 40000 : 2, 12000, 16000);
    if (k.pageCount == 40000) {
      ASSERT_EQ(pc.calls.size(), 1u);
      EXPECT_EQ(pc.calls[0], "text Page 40000 of 40000 @10480,15500 8pt");  // 19 chars x 80
    } else {
      EXPECT_EQ(pc.calls, k.call.empty() ? std::vector<std::string>{} : std::vector<std::string>{k.call})
          << k.position;
    }
  }
}

TEST_F(PreviewTest, CopyGridRangeToGridCases) {
  // Source: 6 rows x 5 columns; fixed rows and columns vary by case.
  struct Case {
    int fixedRows, fixedCols;
    bool rowShade, colShade;
    int colFrom, colTo, rowFrom, rowTo;
    std::vector<std::string> texts;  // the page grid's rows, cells joined by "|"
    int tFixedRows, tFixedCols;
  };
  const std::vector<Case> cases = {
      {1, 1, true, false, 3, 4, 2, 3, {"|Cap03|Cap04", "|R00002C03|R00002C04", "|R00003C03|R00003C04"}, 1, 0},
      {0, 1, false, true, 2, 2, 0, 1, {"|Cap02", "|R00001C02"}, 0, 1},
      {1, 0, true, false, 1, 2, 4, 5, {"Cap01|Cap02", "R00004C01|R00004C02", "R00005C01|R00005C02"}, 1, 0},
      {0, 0, false, false, 3, 4, 1, 2, {"R00001C03|R00001C04", "R00002C03|R00002C04"}, 0, 0},
      {1, 1, true, true, 2, 2, 5, 5, {"|Cap02", "|R00005C02"}, 1, 1},  // a 1 x 1 range
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(::testing::Message() << "fixed " << k.fixedRows << "," << k.fixedCols);
    auto s = previewtest::ReportGrid(5, 4);
    s->FixedRows(k.fixedRows);
    s->FixedCols(k.fixedCols);
    s->ColWidth(k.colFrom, 2345);
    s->RowHeight(k.rowFrom, 456);
    s->ColAlignment(k.colFrom, velmo::flexAlignRightCenter);
    PrintControlVariables v;
    v.FixedRowCount = k.fixedRows;
    v.FixedColCount = k.fixedCols;
    v.FixedRowShade = k.rowShade;
    v.FixedColShade = k.colShade;
    auto t = NewPageGrid();
    std::string failure;
    ASSERT_TRUE(CopyGridRangeToGrid(*t, *s, v, k.colFrom, k.colTo, k.rowFrom, k.rowTo, &failure)) << failure;
    std::vector<std::string> texts;
    for (int r = 0; r < t->Rows(); ++r) {
      std::string line;
      for (int c = 0; c < t->Cols(); ++c) line += (c ? "|" : "") + t->TextMatrix(r, c);
      texts.push_back(line);
    }
    EXPECT_EQ(texts, k.texts);
    EXPECT_EQ(t->FixedRows(), k.tFixedRows);
    EXPECT_EQ(t->FixedCols(), k.tFixedCols);
    const int firstDataCol = k.fixedCols, firstDataRow = k.fixedRows;
    EXPECT_EQ(t->ColWidth(firstDataCol), 2345);
    EXPECT_EQ(t->RowHeight(firstDataRow), 456);
    // Fixed columns without fixed rows pass on widths, not alignment.
    EXPECT_EQ(t->ColAlignment(firstDataCol) == velmo::flexAlignRightCenter, !(k.fixedRows == 0 && k.fixedCols > 0));
  }
}
