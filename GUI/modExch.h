#pragma once
// The main program's shared module: the browse-window slots and the current
// window, the TabName-to-table mapping, the report query builder, the grid
// print front end, the grid auto-fit, the folder picker and the browse
// window's pop-up menu. The error log's writers come with it (ErrorLog.h).
#include <cstdint>
#include <string>

#include "ErrorLog.h"
#include "ExchWindow.h"

enum class PrintJobOutcome : int;  // IVLMRPrinter.h

class QMenu;
namespace velmo {
class ComError;
class FlexGrid;
}  // namespace velmo

// ------------------------------------------------------ browse-window slots

// Gives a new browse window the first free slot of 1 to 25, sets its iFrmID,
// counts it in glngWindowCount and records it as the newest window. With
// all 25 slots taken it shows "At most 25 server windows can be open at
// once. Close one and try again." and returns 0 (the caller does not show
// the window). A window already in a slot keeps it.
long OpenExchWindowSlot(ExchWindow* window);

// A closing browse window gives its slot back: the slot is emptied, the
// count lowered, and when it was the newest window the most recently
// opened one still open becomes the newest. gfrmCurrent is cleared when it
// was this window.
void CloseExchWindowSlot(ExchWindow* window);

// The most recently opened browse window that is still open, or nullptr.
ExchWindow* NewestExchWindow();

// The browse window of the active (current) MDI child, or nullptr when the
// child is not a browse window or none is open.
ExchWindow* ActiveExchWindowOfMdi();

// gfrmCurrent = the browse window of the active MDI child, else the newest
// browse window; with none open gfrmCurrent stays as it is (nullptr once
// its window has closed), and callers do nothing.
void SetCurrentExchWindow();

// ------------------------------------------------------------ table mapping

// The data table behind a TabName. The node text (selected node of the
// current browse window's server tree, or of the custom report window's
// while gbCustomReport is set) is read for the "Limits"/"Advanced" pages.
std::string GetTableName(const std::string& strTabName);

// The same mapping with the node text given.
std::string GetTableNameFor(const std::string& strTabName, const std::string& nodeText);

// ------------------------------------------------------------ query builder

// The select statement behind the current browse window's grid. Mode 0:
// the "Default" column set, no filter. Other modes: the saved column choice
// (else the default set) and the saved filter of the current server and
// TabName. Every value in the statement is quoted; a filter item whose
// field is not a column of the table is dropped and logged. "" when no
// browse window is open.
std::string GetQuery(int iMode);

// ----------------------------------------------------------- print front end

// The Export Plus window, as the print front end reads it for source 2.
class ExportPlusPrintSource {
 public:
  virtual ~ExportPlusPrintSource() = default;
  virtual velmo::FlexGrid* Grd1() = 0;
  virtual std::string strPrinterName() = 0;  // device name chosen for Print Plus
};
// Set by the Export Plus window while it exists; nullptr otherwise (source 2
// then prints nothing).
extern ExportPlusPrintSource* gfrmExportPlusPrint;

// Previews (iMode 0) or prints (iMode 1) a grid through the print component:
// source 0 the current browse window's Grd1, 1 the custom report window's
// grd1, 2 the Export Plus window's Grd1 on its chosen printer. When the
// print component is not installed a message says so and nothing else
// happens.
// Print Plus (source 2) prints in batch mode. A job that wrote a PDF shows
// "Printed to " and its path in the main window's first status panel.
void PrintGridReport(int iMode, int iSource);
// How the last PrintGridReport's job ended (None when none ran), the file
// it wrote or could not write ("" for a print queue) and, when it failed,
// the system's reason ("" when the print component gave none).
PrintJobOutcome LastPrintOutcome();
std::string LastPrintFile();
std::string LastPrintError();

// The report title built for sources 0 and 1 (what PrintGridReport puts in
// gstrReportTitle); "" when the window it is taken from is missing.
std::string BuildReportTitle();

// ------------------------------------------------------------- grid auto-fit

// Widens the grid's columns to show short and medium texts whole: hourglass,
// redraw off, FitGridColumnWidths, redraw on.
void AutoFitGrid(velmo::FlexGrid& grid);
// The column pass (texts measured with the grid font, 15 twips per pixel)
// and its template FitColumnWidthsWith live in GridFit.h, shared with the
// scheduled collector.
void FitGridColumnWidths(velmo::FlexGrid& grid);

// ------------------------------------------------------------ folder picker

// The folder picker owned by the window lHwnd (an id of velmo::ui
// RegisterWindow); the chosen folder's full path, or "" when cancelled.
std::string BrowseForFolder(long& lHwnd);

// --------------------------------------------------------------- pop-up menu

// Sets the enable rules and the Refresh caption of the main window's pop-up
// menu "popmnuRefresh" and returns it (nullptr when the main window has
// none).
QMenu* PrepareContextMenu();
// PrepareContextMenu, then shows the menu at the mouse position (not when
// gbContextMenuNoExec is set, which tests use).
void ShowContextMenu();
extern bool gbContextMenuNoExec;
