#pragma once
// Page layout: how a grid is cut into printer pages. Pure code over the
// grid's shape and the printable size; it fills the page table of a
// PrintControlVariables and touches no window.
//
// The top 1500 and bottom 1500 twips of the printable height hold the
// titles, the header band and the page number, and 3000 twips of the width
// are kept free the same way: a band of rows (columns) takes rows while the
// fixed rows and the band stay within that usable height (width), and
// always at least one, so a printable size of 3000 twips or less still
// lays out one row (column) per band.
#include <cstdint>
#include <functional>
#include <string>

#include "PrintControlVariables.h"

namespace vlmrpreview {

// What layout reads of a grid.
struct GridShape {
  int Rows = 0, Cols = 0, FixedRows = 0, FixedCols = 0;
  std::function<int(int)> RowHeight, ColWidth;
};
GridShape ShapeOf(const velmo::FlexGrid& grid);

inline constexpr int kReservedTwips = 3000;

// Layout modes.
enum : int { kRowsSplit = 1, kOnePage = 2, kColumnsSplit = 3, kRowsAndColumnsSplit = 4 };

int DataStartRow(const PrintControlVariables& v, const GridShape& g);
// The fixed rows and the rows from the first data row, summed until the
// sum passes usableHeight (only whether it does is used).
int64_t GetTotalRowHeight(const PrintControlVariables& v, const GridShape& g, int usableHeight);
int64_t GetTotalColumnWidth(const GridShape& g);
void ComputeRowPageCount(PrintControlVariables& v, const GridShape& g, int usableHeight);
void BuildRowPageBreaks(PrintControlVariables& v, const GridShape& g, int usableHeight);
void BuildColumnPageBreaks(PrintControlVariables& v, const GridShape& g, int usableWidth);
// Fills PageTable, PageCount, PageLayoutMode and the band counts for a
// printable area of scaleWidth x scaleHeight; CurrentPage becomes 1. No
// grid: false, and no pages.
bool BuildPageTable(PrintControlVariables& v, const GridShape* g, int scaleWidth, int scaleHeight);
bool BuildPageTable(PrintControlVariables& v, int scaleWidth, int scaleHeight);

// "Page n of m" for the page shown.
std::string ShowPageNoCaption(const PrintControlVariables& v);

}  // namespace vlmrpreview
