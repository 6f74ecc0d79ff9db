#pragma once
// The settings and layout results of one print component object. Each
// object has its own set, so a second object cannot change a job of the
// first; the windows and the layout read and write the set of the job they
// serve.
#include <QPointer>
#include <string>
#include <vector>

#include "FlexGrid.h"
#include "IVLMRPrinter.h"

namespace vlmrpreview {

// One page: the source rows and columns it shows (fixed rows and columns
// are repeated on every page and belong to no range).
struct PageRange {
  int RowFrom = 0;
  int RowTo = 0;
  int ColFrom = 0;
  int ColTo = 0;
  int PageNo = 0;
  bool operator==(const PageRange&) const = default;
};

struct PrintControlVariables {
  std::string Title1Text, Title2Text, Title3Text;
  std::string Title1FontName = "Times New Roman", Title2FontName = "Times New Roman", Title3FontName;
  int Title1FontSize = 16, Title2FontSize = 12, Title3FontSize = 0;
  int Title1Alignment = 2, Title2Alignment = 2, Title3Alignment = 0;
  int LeftMargin = 100, RightMargin = 100;

  QPointer<velmo::FlexGrid> SourceGrid;
  QPointer<QObject> HeaderSource;
  bool HeaderPresent = false;
  int HeaderHeight = 0, HeaderWidth = 0;

  // The row before the first data row, as the caller set it (0: unset).
  int StartRow = 0;
  int FixedRowCount = 0;
  int FixedColCount = 0;
  int FixedRowsHeight = 0, FixedColsWidth = 0;

  bool FixedRowShade = false, FixedColShade = false;
  bool TitleSeprator = false, HeaderSeprator = false;
  bool HeaderBorder = true, GridBorder = true;
  bool PreviewMode = false;

  std::string ProductName;
  std::string PrinterProblemMessage;
  std::string PageNumberPosition;
  std::string PrintFontName = "Times New Roman";
  bool PrinterChanged = false;
  bool RebuildPageTable = false;
  // The page selection dialog's answer: 0 nothing, 1 all pages, 2 the page
  // shown.
  int PageSelection = 0;

  // A print job starts as soon as the status window shows (a caller
  // printing many reports in a row).
  bool BatchMode = false;
  // How the last job ended, the PDF file it wrote (or failed to write) and
  // why it failed.
  PrintJobOutcome LastJobOutcome = PrintJobOutcome::None;
  std::string LastJobFile;
  std::string LastJobError;

  // Layout results. PageTable[0] is unused; pages are 1 to PageCount.
  std::vector<PageRange> PageTable{PageRange{}};
  int PageCount = 0;
  int CurrentPage = 0;
  int PageLayoutMode = 0;
  int RowPagesNeeded = 0;
  int RowPageCount = 0;
  int ColPageCount = 0;
  std::vector<int> ColPageStarts, ColPageEnds;  // from index 1

  // The first data row of the grid: 0 without fixed rows, else the row
  // after StartRow (after the fixed rows while StartRow is unset).
  int DataStartRow(const velmo::FlexGrid& grid) const {
    if (grid.FixedRows() <= 0) return 0;
    return StartRow == 0 ? grid.FixedRows() : StartRow + 1;
  }
};

// The text of every printer-failure message of a product.
std::string PrinterProblemMessageFor(const std::string& productName);

inline constexpr const char* kNoSourceGrid = "Please assign the source grid";

// Job start: the fixed rows and columns of the source grid and their
// sizes. No grid: "Please assign the source grid" and false.
bool LoadGridMetrics(PrintControlVariables& v);

// The settings of a component object made by this library (nullptr for any
// other implementation of the interface).
PrintControlVariables* StateOf(IVLMRPrinter* printer);

}  // namespace vlmrpreview
