#include "PrintPage.h"

#include <QFontMetricsF>
#include <QPen>
#include <cmath>
#include <cstdlib>

namespace vlmrpreview {

using velmo::FlexGrid;

// ------------------------------------------------------------ PainterCanvas

PainterCanvas::PainterCanvas(QPainter& p) : p_(p) { SetFont("Times New Roman", 12, false); }

void PainterCanvas::SetFont(const std::string& name, int points, bool bold) {
  fontName_ = name;
  font_ = QFont(QString::fromStdString(name));
  font_.setPixelSize(std::max(1, points) * 20);
  font_.setBold(bold);
}

double PainterCanvas::TextWidth(const std::string& text) {
  return QFontMetricsF(font_).horizontalAdvance(QString::fromStdString(text));
}

double PainterCanvas::TextHeight(const std::string&) { return QFontMetricsF(font_).height(); }

void PainterCanvas::Print(const std::string& text) {
  const QFontMetricsF m(font_);
  p_.setFont(font_);
  p_.setPen(Qt::black);
  p_.drawText(QPointF(CurrentX, CurrentY + m.ascent()), QString::fromStdString(text));
  CurrentX = 0;
  CurrentY += m.height();
}

void PainterCanvas::Line(double x1, double y1, double x2, double y2) {
  p_.setPen(QPen(Qt::black, 15));
  p_.drawLine(QPointF(x1, y1), QPointF(x2, y2));
  CurrentX = x2;
  CurrentY = y2;
}

void PainterCanvas::Box(const QRectF& rect) {
  p_.setPen(QPen(Qt::black, 15));
  p_.setBrush(Qt::NoBrush);
  p_.drawRect(rect);
}

void PainterCanvas::Cells(const FlexGrid& grid, const QRectF& target) {
  if (grid.Rows() == 0 || grid.Cols() == 0) return;
  grid.RenderCells(p_, target, 0, 0, grid.Rows() - 1, grid.Cols() - 1);
}

// ------------------------------------------------------------ titles, number

void PrintTitles(PageCanvas& c, const PrintControlVariables& v, int scaleWidth) {
  struct Title {
    const std::string& text;
    const std::string& font;
    int size, alignment, n;
  };
  const Title titles[] = {{v.Title1Text, v.Title1FontName, v.Title1FontSize, v.Title1Alignment, 1},
                          {v.Title2Text, v.Title2FontName, v.Title2FontSize, v.Title2Alignment, 2},
                          {v.Title3Text, v.Title3FontName, v.Title3FontSize, v.Title3Alignment, 3}};
  for (const Title& t : titles) {
    if (t.text.empty()) continue;
    c.SetFont(t.font, t.size, true);
    c.CurrentY = t.n == 1 ? 300 : t.n == 2 ? 700 : c.TextHeight(v.Title2Text) + 750;
    if (t.alignment == 1)
      c.CurrentX = v.LeftMargin;
    else if (t.alignment == 2)
      c.CurrentX = scaleWidth / 2.0 - c.TextWidth(t.text) / 2.0;
    else if (t.alignment == 3)
      c.CurrentX = scaleWidth - (c.TextWidth(t.text) + v.RightMargin);
    c.Print(t.text);
  }
  if (v.TitleSeprator) {
    c.CurrentX = v.LeftMargin;
    c.CurrentY = c.TextHeight(v.Title2Text) + 800 + c.TextHeight(v.Title3Text);
    c.Line(c.CurrentX, c.CurrentY, scaleWidth + c.CurrentX - v.RightMargin, c.CurrentY);
  }
}

void PrintPageNumber(PageCanvas& c, const PrintControlVariables& v, int pageNo, int scaleWidth,
                     int scaleHeight) {
  const std::string& pos = v.PageNumberPosition;
  if (pos.empty()) return;
  c.SetFont(c.FontName(), 8, false);
  const std::string text = "Page " + std::to_string(pageNo) + " of " + std::to_string(v.PageCount);
  // A right-hand number starts 1200 twips from the edge, or further left
  // when it is wider, so that it is never cut.
  const double right = scaleWidth - std::max(1200.0, c.TextWidth(text));
  if (pos == "Top Left") {
    c.CurrentX = 150, c.CurrentY = 100;
  } else if (pos == "Top Right") {
    c.CurrentX = right, c.CurrentY = 100;
  } else if (pos == "Bottom Left") {
    c.CurrentX = 150, c.CurrentY = scaleHeight - 500;
  } else if (pos == "Bottom Right") {
    c.CurrentX = right, c.CurrentY = scaleHeight - 500;
  }
  c.Print(text);
}

// ------------------------------------------------------------ page grid copy

bool CopyGridRangeToGrid(FlexGrid& t, const FlexGrid& s, const PrintControlVariables& v, int colFrom, int colTo,
                         int rowFrom, int rowTo, std::string* failure) {
  try {
    const int fr = v.FixedRowCount, fc = v.FixedColCount;
    const int sfr = s.FixedRows(), sfc = s.FixedCols();
    const int rows = std::max(0, (rowTo - rowFrom) + fr + 1);
    const int cols = std::abs(colTo - colFrom) + fc + 1;
    // Texts first, all at once: one change of the page grid per page.
    std::vector<std::vector<std::string>> cells(static_cast<size_t>(rows),
                                                std::vector<std::string>(static_cast<size_t>(cols)));
    auto rowText = [&](int tr, int sr) {
      auto& out = cells[static_cast<size_t>(tr)];
      for (int c = 0; c < fc; ++c) out[static_cast<size_t>(c)] = s.TextMatrix(sr, c);
      for (int c = fc, sc = colFrom; c < cols; ++c, ++sc) out[static_cast<size_t>(c)] = s.TextMatrix(sr, sc);
    };
    for (int r = 0; r < fr && r < rows; ++r) rowText(r, r);
    for (int r = fr, sr = rowFrom; r < rows; ++r, ++sr) rowText(r, sr);

    t.Clear();
    t.FixedRows(0);
    t.FixedCols(0);
    t.SetData(std::move(cells));
    t.Rows(rows);
    t.Cols(cols);
    t.MergeCells(velmo::flexMergeFree);
    t.FontName(s.FontName());
    t.FontSize(s.FontSize());
    t.WordWrap(s.WordWrap());
    t.HighLight(s.HighLight());
    t.GridLines(s.GridLines());

    // Fixed columns of the source are copied to the same columns.
    const bool withFixedCols = sfc > 0;
    auto copyCol = [&](int a, int b, bool full) {
      t.ColWidth(b, s.ColWidth(a));
      if (!full) return;
      t.ColAlignment(b, s.ColAlignment(a));
      if (s.MergeCol(a)) t.MergeCol(b, true);
    };
    auto copyRow = [&](int a, int b, bool full) {
      if (full && s.MergeRow(a)) t.MergeRow(b, true);
      t.RowHeight(b, s.RowHeight(a));
    };
    // A source with fixed columns but no fixed rows passes on widths and
    // heights only, without alignment or merging.
    const bool full = !(sfr == 0 && sfc > 0);
    if (withFixedCols)
      for (int c = 0; c < fc && c < cols; ++c) copyCol(c, c, full);
    for (int c = withFixedCols ? fc : 0, sc = colFrom; c < cols; ++c, ++sc) copyCol(sc, c, full);
    for (int r = 0; r < fr && r < rows; ++r) copyRow(r, r, full);
    for (int r = fr, sr = rowFrom; r < rows; ++r, ++sr) copyRow(sr, r, full);

    int tfr = 0, tfc = 0;
    if (v.FixedRowShade) tfr = std::min(sfr, rows);
    if (v.FixedColShade) tfc = std::min(sfc, cols);
    t.FixedRows(tfr);
    t.FixedCols(tfc);
    return true;
  } catch (const std::exception& e) {
    if (failure) *failure = e.what();
    return false;
  }
}

// ------------------------------------------------------------ body and page

void PrepareHeaderGrid(FlexGrid*) {}

void PrintPageBody(PageCanvas& c, const PrintControlVariables& v, const FlexGrid& t, int scaleWidth, bool border) {
  QSizeF size;
  if (t.Rows() > 0 && t.Cols() > 0)
    size = QSizeF(t.CellsSize(0, 0, t.Rows() - 1, t.Cols() - 1)) * velmo::kTwipsPerPixel;
  double top = kBodyTop;
  if (v.HeaderPresent) {
    // The header band has no picture; only its separator is drawn.
    if (v.HeaderSeprator) {
      c.CurrentX = v.LeftMargin;
      c.CurrentY = v.HeaderHeight + 1550;
      c.Line(c.CurrentX, c.CurrentY, scaleWidth + c.CurrentX - v.RightMargin, c.CurrentY);
    }
    top = v.HeaderHeight + 1700;
  }
  const double x = std::fabs(std::floor(scaleWidth / 2.0 - size.width() / 2.0));
  const QRectF body(QPointF(x, top), size);
  if (!size.isEmpty()) c.Cells(t, body);
  if (border) c.Box(body);
}

bool RenderPage(PageCanvas& c, const PrintControlVariables& v, FlexGrid& t, int page, int scaleWidth,
                int scaleHeight, bool border, std::string* failure) {
  if (!v.SourceGrid || page < 1 || page >= static_cast<int>(v.PageTable.size())) {
    if (failure) *failure = "There is no such page";
    return false;
  }
  return RenderRange(c, v, t, v.PageTable[static_cast<size_t>(page)], page, scaleWidth, scaleHeight, border,
                     failure);
}

bool RenderRange(PageCanvas& c, const PrintControlVariables& v, FlexGrid& t, const PageRange& r, int page,
                 int scaleWidth, int scaleHeight, bool border, std::string* failure) {
  if (!v.SourceGrid) {
    if (failure) *failure = kNoSourceGrid;
    return false;
  }
  PrintPageNumber(c, v, page, scaleWidth, scaleHeight);
  PrintTitles(c, v, scaleWidth);
  if (!CopyGridRangeToGrid(t, *v.SourceGrid, v, r.ColFrom, r.ColTo, r.RowFrom, r.RowTo, failure)) return false;
  PrintPageBody(c, v, t, scaleWidth, border);
  return true;
}

bool PrintAllPages(velmo::printers::Job& job, const PrintControlVariables& v, FlexGrid& t,
                   const PrintProgress& progress, std::string* failure) {
  PainterCanvas canvas(job.Painter());
  canvas.SetFont(v.PrintFontName, 12, false);
  const auto& g = job.Geometry();
  const int count = v.PageCount;
  for (int i = 1; i <= count; ++i) {
    if (i > 1 && !job.NewPage()) {
      if (failure) *failure = job.Failure();
      return false;
    }
    if (progress.beforePage) progress.beforePage(i, count);
    if (!RenderPage(canvas, v, t, i, g.ScaleWidth, g.ScaleHeight, v.GridBorder, failure)) {
      job.Abort();
      return false;
    }
    if (progress.cancelled && progress.cancelled()) {
      job.Abort();
      if (failure) failure->clear();
      return false;
    }
  }
  if (!job.Finish()) {
    if (failure) *failure = job.Failure();
    return false;
  }
  return true;
}

bool PrintOnePage(velmo::printers::Job& job, const PrintControlVariables& v, FlexGrid& t, int page, bool border,
                  std::string* failure, const std::function<bool()>& cancelled) {
  PainterCanvas canvas(job.Painter());
  canvas.SetFont(v.PrintFontName, 12, false);
  const auto& g = job.Geometry();
  if (!RenderPage(canvas, v, t, page, g.ScaleWidth, g.ScaleHeight, border, failure)) {
    job.Abort();
    return false;
  }
  if (cancelled && cancelled()) {
    job.Abort();
    if (failure) failure->clear();
    return false;
  }
  if (!job.Finish()) {
    if (failure) *failure = job.Failure();
    return false;
  }
  return true;
}

std::unique_ptr<FlexGrid> NewPageGrid(QWidget* parent) {
  auto g = std::make_unique<FlexGrid>(parent);
  g->FixedRows(0);
  g->FixedCols(0);
  g->Visible(false);
  return g;
}

}  // namespace vlmrpreview
