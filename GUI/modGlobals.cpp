#include "modGlobals.h"

std::unique_ptr<velmo::db::Connection> gConn;
std::string gstrDBPath;
ExchWindow* gfrmExchWindows[kMaxExchWindows + 1] = {};
long glngWindowCount = 0;
ExchWindow* gfrmCurrent = nullptr;
bool gbConnected = false;
bool gbShowConnectDialog = false;
bool gbCustomReport = false;
CustomReportWindow* gfrmCustomReport = nullptr;
std::string gstrReportTitle;
QWidget* gMainWindow = nullptr;
QMdiArea* gMdiArea = nullptr;
