#include "PrintGeneralFucntions.h"

namespace vlmrpreview {

GridShape ShapeOf(const velmo::FlexGrid& grid) {
  GridShape g;
  g.Rows = grid.Rows();
  g.Cols = grid.Cols();
  g.FixedRows = grid.FixedRows();
  g.FixedCols = grid.FixedCols();
  g.RowHeight = [&grid](int r) { return grid.RowHeight(r); };
  g.ColWidth = [&grid](int c) { return grid.ColWidth(c); };
  return g;
}

int DataStartRow(const PrintControlVariables& v, const GridShape& g) {
  if (g.FixedRows <= 0) return 0;
  return v.StartRow == 0 ? g.FixedRows : v.StartRow + 1;
}

namespace {
int FixedAndHeader(const PrintControlVariables& v) {
  return v.FixedRowsHeight + (v.HeaderPresent ? v.HeaderHeight + 200 : 0);
}
}  // namespace

int64_t GetTotalRowHeight(const PrintControlVariables& v, const GridShape& g, int usableHeight) {
  int64_t sum = FixedAndHeader(v);
  for (int r = DataStartRow(v, g); r < g.Rows; ++r) {
    sum += g.RowHeight(r);
    if (sum > usableHeight) break;
  }
  return sum;
}

int64_t GetTotalColumnWidth(const GridShape& g) {
  int64_t sum = 0;
  for (int c = 0; c < g.Cols; ++c) sum += g.ColWidth(c);
  return sum;
}

void ComputeRowPageCount(PrintControlVariables& v, const GridShape& g, int usableHeight) {
  const int64_t estimate = GetTotalRowHeight(v, g, usableHeight);
  if (estimate <= usableHeight)
    v.RowPagesNeeded = 1;
  else
    v.RowPagesNeeded = usableHeight > 0 ? static_cast<int>(estimate / usableHeight) + 1 : 2;
}

void BuildRowPageBreaks(PrintControlVariables& v, const GridShape& g, int usableHeight) {
  const int last = g.Rows - 1;
  int band = 0;
  for (int r = DataStartRow(v, g); r <= last; ++r) {
    const int first = r;
    int64_t used = FixedAndHeader(v) + g.RowHeight(r);
    while (r + 1 <= last && used + g.RowHeight(r + 1) <= usableHeight) used += g.RowHeight(++r);
    ++band;
    if (v.PageLayoutMode == kRowsSplit) {
      v.PageTable.push_back({first, r, v.FixedColCount, g.Cols - 1, band});
    } else {
      for (int k = 1; k < static_cast<int>(v.ColPageStarts.size()); ++k)
        v.PageTable.push_back({first, r, v.ColPageStarts[k], v.ColPageEnds[k], static_cast<int>(v.PageTable.size())});
    }
  }
  v.RowPageCount = band;
}

void BuildColumnPageBreaks(PrintControlVariables& v, const GridShape& g, int usableWidth) {
  const int last = g.Cols - 1;
  const int dataStart = DataStartRow(v, g);
  v.ColPageStarts.assign(1, 0);
  v.ColPageEnds.assign(1, 0);
  int band = 0;
  for (int c = v.FixedColCount; c <= last; ++c) {
    const int first = c;
    int64_t used = v.FixedColsWidth + g.ColWidth(c);
    while (c + 1 <= last && used + g.ColWidth(c + 1) <= usableWidth) used += g.ColWidth(++c);
    ++band;
    if (v.PageLayoutMode == kColumnsSplit) {
      v.PageTable.push_back({dataStart, g.Rows - 1, first, c, band});
    } else {
      v.ColPageStarts.push_back(first);
      v.ColPageEnds.push_back(c);
    }
  }
  v.ColPageCount = band;
}

bool BuildPageTable(PrintControlVariables& v, const GridShape* g, int scaleWidth, int scaleHeight) {
  v.PageTable.assign(1, PageRange{});
  v.PageCount = 0;
  v.CurrentPage = 0;
  v.RowPageCount = v.ColPageCount = 0;
  v.ColPageStarts.clear();
  v.ColPageEnds.clear();
  if (!g) return false;
  const int usableHeight = scaleHeight - kReservedTwips;
  const int usableWidth = scaleWidth - kReservedTwips;
  ComputeRowPageCount(v, *g, usableHeight);
  const int64_t width = GetTotalColumnWidth(*g);
  if (width <= scaleWidth) {
    if (v.RowPagesNeeded < 2) {
      v.PageLayoutMode = kOnePage;
      v.PageTable.push_back({DataStartRow(v, *g), g->Rows - 1, v.FixedColCount, g->Cols - 1, 1});
      v.PageCount = 1;
    } else {
      v.PageLayoutMode = kRowsSplit;
      BuildRowPageBreaks(v, *g, usableHeight);
      v.PageCount = v.RowPageCount;
    }
  } else if (v.RowPagesNeeded == 1) {
    v.PageLayoutMode = kColumnsSplit;
    BuildColumnPageBreaks(v, *g, usableWidth);
    v.PageCount = v.ColPageCount;
  } else {
    v.PageLayoutMode = kRowsAndColumnsSplit;
    BuildColumnPageBreaks(v, *g, usableWidth);
    BuildRowPageBreaks(v, *g, usableHeight);
    v.PageCount = v.ColPageCount * v.RowPageCount;
  }
  v.CurrentPage = 1;
  return true;
}

bool BuildPageTable(PrintControlVariables& v, int scaleWidth, int scaleHeight) {
  if (!v.SourceGrid) return BuildPageTable(v, nullptr, scaleWidth, scaleHeight);
  const GridShape g = ShapeOf(*v.SourceGrid);
  return BuildPageTable(v, &g, scaleWidth, scaleHeight);
}

std::string ShowPageNoCaption(const PrintControlVariables& v) {
  return "Page " + std::to_string(v.CurrentPage) + " of " + std::to_string(v.PageCount);
}

}  // namespace vlmrpreview
