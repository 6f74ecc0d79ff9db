#pragma once
// The main program's shared state, in one place.
#include <memory>
#include <string>

#include "Database.h"
#include "ExchWindow.h"

class QWidget;
class QMdiArea;

inline constexpr const char* kProductTitle = "Velmorine for Exchange Server (Velmorcast)";
inline constexpr const char* kVersionText = "v1.4.2";
// What a window says when the user stopped its wait for another program's
// collection of the server, and when Escape gave its own collection up.
inline constexpr const char* kStoppedWaitingText = "Stopped waiting for another program; nothing was collected.";
inline constexpr const char* kStoppedCollectingText = "Collecting stopped at Esc; nothing was collected.";
// What a collecting browse window says while its database statement waits
// for another program's write lock, and once Escape gave that wait up.
inline constexpr const char* kLockWaitText =
    "Another program has the database locked. Waiting for it; Esc stops waiting.";
inline constexpr const char* kStoppedLockWaitText =
    "Stopped waiting for another program's database lock; nothing was collected.";

inline constexpr int kMaxExchWindows = 25;

// The one open connection of the main program to the inventory database.
extern std::unique_ptr<velmo::db::Connection> gConn;
// Application folder + "\velmo.mdb".
extern std::string gstrDBPath;

// Browse-window slots 1 to 25 (slot 0 unused), the number open, and the
// window report commands act on.
extern ExchWindow* gfrmExchWindows[kMaxExchWindows + 1];
extern long glngWindowCount;
extern ExchWindow* gfrmCurrent;

extern bool gbConnected;
extern bool gbShowConnectDialog;

// Set while a command of the custom report window runs: shared procedures
// then work on that window.
extern bool gbCustomReport;
extern CustomReportWindow* gfrmCustomReport;
// The second title line of a printout or export.
extern std::string gstrReportTitle;

// The main window and its MDI area, set when the main window is created.
extern QWidget* gMainWindow;
extern QMdiArea* gMdiArea;
