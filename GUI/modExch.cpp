// The main program's shared module.
#include "modExch.h"
#include "TextParts.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QFontMetrics>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <algorithm>
#include <cctype>
#include <unordered_map>
#include <vector>

#include "AppFolder.h"
#include "ComError.h"
#include "ComFactory.h"
#include "Database.h"
#include "DateText.h"
#include "FilterItem.h"
#include "FlexGrid.h"
#include "IVLMRPrinter.h"
#include "Mdifrm.h"
#include "Printers.h"
#include "TextFile.h"
#include "Ui.h"
#include "WaitCursor.h"
#include "modGlobals.h"

ExportPlusPrintSource* gfrmExportPlusPrint = nullptr;
bool gbContextMenuNoExec = false;

namespace {

using velmo::text::Trim;
using velmo::text::Split;

bool Contains(const std::string& text, const char* literal) { return text.find(literal) != std::string::npos; }

// The hourglass while an operation runs (only where there is a screen).
using WaitCursor = velmo::ui::WaitCursor;

// Open browse windows, oldest first; the last is the newest.
std::vector<ExchWindow*>& OpenOrder() {
  static std::vector<ExchWindow*> order;
  return order;
}

long CountOpenSlots() {
  long n = 0;
  for (int i = 1; i <= kMaxExchWindows; ++i)
    if (gfrmExchWindows[i]) ++n;
  return n;
}

}  // namespace

namespace {
void LogException(const std::string& Context, const std::exception& error) {
  if (auto* com = dynamic_cast<const velmo::ComError*>(&error))
    LogFailure(Context, *com);
  else
    LogFailure(Context, velmo::E_FAIL_, error.what());
}
}  // namespace

// ======================================================= browse-window slots

long OpenExchWindowSlot(ExchWindow* window) {
  if (!window) return 0;
  for (int i = 1; i <= kMaxExchWindows; ++i)
    if (gfrmExchWindows[i] == window) return i;
  for (int i = 1; i <= kMaxExchWindows; ++i) {
    if (gfrmExchWindows[i]) continue;
    gfrmExchWindows[i] = window;
    window->iFrmID = i;
    OpenOrder().push_back(window);
    glngWindowCount = CountOpenSlots();
    return i;
  }
  velmo::ui::Ui().MsgBox("At most 25 server windows can be open at once. Close one and try again.",
                         velmo::ui::vbInformation, kProductTitle);
  return 0;
}

void CloseExchWindowSlot(ExchWindow* window) {
  if (!window) return;
  for (int i = 1; i <= kMaxExchWindows; ++i)
    if (gfrmExchWindows[i] == window) gfrmExchWindows[i] = nullptr;
  auto& order = OpenOrder();
  order.erase(std::remove(order.begin(), order.end(), window), order.end());
  if (gfrmCurrent == window) gfrmCurrent = nullptr;
  window->iFrmID = 0;
  glngWindowCount = CountOpenSlots();
}

ExchWindow* NewestExchWindow() { return OpenOrder().empty() ? nullptr : OpenOrder().back(); }

ExchWindow* ActiveExchWindowOfMdi() {
  if (!gMdiArea) return nullptr;
  // The current sub-window stays current while a modal dialog of the
  // program has the focus, as the active MDI child does.
  QMdiSubWindow* sub = gMdiArea->currentSubWindow();
  if (!sub) return nullptr;
  QWidget* child = sub->widget();
  for (int i = 1; i <= kMaxExchWindows; ++i) {
    ExchWindow* w = gfrmExchWindows[i];
    if (w && (w->Window() == child || w->Window() == sub)) return w;
  }
  return nullptr;
}

void SetCurrentExchWindow() {
  ExchWindow* w = ActiveExchWindowOfMdi();
  if (!w) w = NewestExchWindow();
  if (w) gfrmCurrent = w;
}

// ============================================================ table mapping

std::string GetTableNameFor(const std::string& tab, const std::string& nodeText) {
  auto has = [&](const char* literal) { return Contains(tab, literal); };

  std::string result;
  if (has("Mailboxes"))
    result = "Mailbox";
  else if (has("Distribution Lists"))
    result = "DL";
  else if (has("Public Folders"))
    result = "PF";
  else if (has("Custom Recipients"))
    result = "CR";
  else if (has("IMAP4") || has("HTTP") || has("LDAP") || has("NNTP") || has("POP3"))
    result = "Protocol";
  else if (has("Private Information Store"))
    result = "ServerPrivateIS";
  else if (has("Public Information Store"))
    result = "ServerPublicIS";
  else if (has("Internet Mail Connector") || has("Connector for cc:Mail") || has("MS Mail Connector") ||
           has("Site Connector"))
    result = "Connector";
  else if (has("Newsfeed"))
    result = "ConnectorNewsfeed";

  if (!Contains(result, "ConnectorNewsfeed")) {
    if (has("General") || has("Summary"))
      result += "General";
    else if (has("Organization") || has("Phone/Notes"))
      result += "OrgnPhoneNotes";
    else if (has("Permissions"))
      result += "Perm";
    else if (has("Protocols"))
      result += "Protocols";
    else if (has("Custom Attributes"))
      result += "CustomAttr";
    else if (has("Advanced") || has("Limits")) {
      if (nodeText == "Protocols")
        result += "General";
      else if (nodeText == "Servers")
        result += "MiscInfo";
      else if (has("Public Information Store"))
        result += "MiscInfo";
      else
        result += "Advanced";
    } else if (has("Delivery Options") || has("Delivery Restrictions"))
      result += "DelivRestr";
    else if (has("E-Mail Addresses") || has("Distribution Lists"))
      result += has("Public Information Store") ? "MiscInfo" : "DLEMailAddr";
    else if (has("Folder Replication Status"))
      result += "Folder Replication Status";
    else if (has("Replication Schedule"))
      result += "Replication Schedule";
    else if (has("Replicas"))
      result += "Replicas";
    else if (has("Search") || has("Folder Shortcuts") || has("Referrals") || has("Newsfeeds") ||
             has("Control Messages"))
      result += "MiscInfo";
    else if (has("Message Format") || has("Authentication"))
      result += "AuthFormat";
    else if (has("Idle Time-out") || has("Anonymous"))
      result += "General";
    else if (has("Logons") || has("Mailbox Resources") || has("Public Folder Resources"))
      result += "Resources";
    else if (has("Instances") || has("Age Limits"))
      result += "MiscInfo";
    else if (has("Address Space") || has("Connected Sites") || has("Target Servers") || has("Override") ||
             has("Internet Mail") || has("Routing") || has("Security") || has("Local Postoffice") ||
             has("Connections") || has("Connector MTAs"))
      result += "MiscInfo";
    else if (has("Interchange"))
      result += "General";
  }

  if (has("Diagnostics Logging")) result = "DiagLogging";
  if (has("System Attendant") || has("Message Transfer Agent")) {
    if (has("Diagnostics Logging"))
      result = "DiagLogging";
    else if (has("Permissions"))
      result = "ServerObjectsPerm";
    else
      result = "ServerObjectsInfo";
  }
  if (has("ServerGeneral") || has("Container") || has("ServerPermissions")) {
    if (has("General"))
      result = "ContainerInfo";
    else if (has("Permissions"))
      result = "ServerObjectsPerm";
  }
  if (has("Protocols")) {
    if (has("General"))
      result = "ContainerInfo";
    else if (has("Permissions"))
      result = "ServerObjectsPerm";
  }
  return result;
}

std::string GetTableName(const std::string& strTabName) {
  std::string nodeText;
  if (gbCustomReport) {
    if (gfrmCustomReport) nodeText = gfrmCustomReport->SelectedNode().text;
  } else {
    SetCurrentExchWindow();
    if (gfrmCurrent) nodeText = gfrmCurrent->SelectedNode().text;
  }
  return GetTableNameFor(strTabName, nodeText);
}

// ============================================================ query builder

namespace {

using velmo::db::Recordset;
using velmo::db::SqlQuote;
using velmo::db::Value;

// "[a],[b]" from captions; a caption that cannot be a column name (empty,
// or holding "]") is left out rather than break the statement.
void AppendColumn(std::string& list, const std::string& caption) {
  if (caption.empty() || caption.find(']') != std::string::npos) return;
  if (!list.empty()) list += ",";
  list += "[" + caption + "]";
}

// The column names of a table, or an empty list when it cannot be read.
std::vector<std::string> TableColumns(const std::string& table) {
  std::vector<std::string> names;
  if (!gConn || table.empty() || table.find(']') != std::string::npos) return names;
  try {
    Recordset rs;
    rs.Open("select * from [" + table + "] where 1=0", *gConn, velmo::db::adOpenKeyset,
            velmo::db::adLockOptimistic);
    auto& fields = rs.GetFields();
    for (long i = 0; i < fields.Count(); ++i) names.push_back(fields[i].Name());
  } catch (const std::exception&) {
    names.clear();
  }
  return names;
}

// The condition of one stored filter ("" when no item is usable). Items
// that cannot be used are dropped; their parentheses move to the items
// beside them so that the rest stays balanced.
std::string FilterCondition(const std::string& filterValue, const std::vector<std::string>& columns) {
  std::vector<FilterItem> kept;
  int pendingOpens = 0;
  for (const auto& text : SplitFilterValue(filterValue)) {
    FilterItem item;
    const bool parsed = ParseFilterItem(text, item);
    const bool known = parsed && std::any_of(columns.begin(), columns.end(),
                                             [&](const std::string& c) { return velmo::text::EqualNoCase(c, item.field); });
    if (!known) {
      LogFailure(
          "GetQuery FilterField Failed", velmo::E_FAIL_,
          parsed ? "'" + item.field + "' is not a field of the report" : "Filter item not understood: " + text);
      pendingOpens += item.opens;
      if (!kept.empty())
        kept.back().closes += item.closes;
      else
        pendingOpens = std::max(0, pendingOpens - item.closes);
      continue;
    }
    item.opens += pendingOpens;
    pendingOpens = 0;
    kept.push_back(item);
  }
  if (kept.empty()) return "";
  int depth = 0;
  for (auto& k : kept) {
    depth += k.opens;
    k.closes = std::min(k.closes, depth);
    depth -= k.closes;
  }
  kept.back().closes += depth;

  std::string text;
  for (size_t n = 0; n < kept.size(); ++n) {
    const auto& k = kept[n];
    text += " ";
    if (n > 0) text += (k.connector.empty() ? std::string("AND") : k.connector) + " ";
    text += std::string(k.opens, '(') + "[" + k.field + "] " + k.op + " " + SqlQuote(k.value) +
            std::string(k.closes, ')');
  }
  return " and (" + text + ")";
}

const char* const kDefaultSetSql =
    "select * from VELMORCCustomReports where TabName=? and CustomReportName='Default'";

}  // namespace

std::string GetQuery(int iMode) {
  SetCurrentExchWindow();
  ExchWindow* win = gfrmCurrent;
  if (!win) return "";
  const std::string tabName = win->PropTabKey();
  const std::string table = GetTableName(tabName);
  const std::string server = win->strServerName;
  std::string columns;

  // Column list: the default set, or in modes other than 0 the saved choice.
  {
    Recordset rs;
    bool defaultSet = iMode == 0;
    bool opened = false;
    try {
      if (!gConn) throw velmo::ComError(velmo::db::kDbClosed, "The connection is not open.");
      if (defaultSet)
        rs.Open(kDefaultSetSql, *gConn, {Value(tabName)}, velmo::db::adOpenKeyset, velmo::db::adLockOptimistic);
      else
        rs.Open("select * from VELMORCFilterCustomize where ServerName=? and TabName=? and QueryType='1'", *gConn,
                {Value(server), Value(tabName)}, velmo::db::adOpenKeyset, velmo::db::adLockOptimistic);
      opened = true;
    } catch (const std::exception& e) {
      LogException("GetQuery RecordsetObjectOpen Failed", e);
    }
    if (opened && !defaultSet) {
      try {
        if (rs.RecordCount() <= 0) {
          rs.Close();
          defaultSet = true;
          opened = false;
          rs.Open(kDefaultSetSql, *gConn, {Value(tabName)}, velmo::db::adOpenKeyset, velmo::db::adLockOptimistic);
          opened = true;
        }
      } catch (const std::exception& e) {
        LogException("GetQuery Inner RecordsetObjectOpen Failed", e);
      }
    }
    try {
      if (opened && !rs.Eof()) {
        if (defaultSet) {
          const auto pieces = Split(Trim(rs[2].Text()), ';');
          if (pieces.size() > 1 && !pieces[1].empty())
            for (const auto& caption : Split(pieces[1], ',')) AppendColumn(columns, caption);
        } else {
          AppendColumn(columns, "Display Name");
          const std::string chosen = Trim(rs[4].Text());
          if (!chosen.empty())
            for (const auto& caption : Split(chosen, ',')) AppendColumn(columns, caption);
        }
      }
    } catch (const std::exception& e) {
      LogException("GetQuery RecordsetObjectOpen Failed", e);
    }
    if (rs.State() == velmo::db::adStateOpen) rs.Close();
  }
  if (columns.empty()) columns = "[Display Name]";

  std::string sql = "select distinct " + columns + " from " + table + " where ServerName = " + SqlQuote(server);

  // Node condition.
  const TreeNodeInfo node = win->SelectedNode();
  if (node.text == "Protocols" || node.text == "Connections") {
    const std::string typeCaption = win->TypeTabCaption();
    const std::string x = typeCaption == "Summary" ? node.text : typeCaption;
    sql += " and [Directory Name] like " + SqlQuote(x + "%");
  }
  if (node.index != 1) {
    if (node.text == "Protocols" && node.parentText == "Configuration")
      sql += " and Level='Site'";
    else if (node.text == "Protocols")
      sql += " and Level='Server'";
  }
  if (node.text == "Server Recipients")
    sql += " and [Home Server]=" + SqlQuote(server);
  else
    sql += " and [Object Path]=" + SqlQuote(node.key);

  // Saved filter.
  if (iMode != 0 && gConn) {
    std::vector<std::string> filters;
    try {
      Recordset rs;
      rs.Open("select * from VELMORCFilterCustomize where ServerName=? and TabName=? and QueryType='0'", *gConn,
              {Value(server), Value(tabName)}, velmo::db::adOpenKeyset, velmo::db::adLockOptimistic);
      for (; !rs.Eof(); rs.MoveNext()) {
        const std::string value = rs[3].Text();
        if (!Trim(value).empty()) filters.push_back(value);
      }
      rs.Close();
    } catch (const std::exception&) {
      filters.clear();  // no filter
    }
    if (!filters.empty()) {
      const auto tableColumns = TableColumns(table);
      for (const auto& f : filters) sql += FilterCondition(f, tableColumns);
    }
  }
  return sql;
}

// ========================================================== print front end

std::string BuildReportTitle() {
  if (gbCustomReport) {
    if (!gfrmCustomReport) return "";
    const std::string caption = gfrmCustomReport->TypeTabCaption();
    const std::string a = gfrmCustomReport->TypeTabVisible() && caption != "Summary"
                              ? caption
                              : gfrmCustomReport->SelectedNode().text;
    return a + " - '" + gfrmCustomReport->strCRServerName + "'";
  }
  if (!gfrmCurrent) return "";
  const std::string caption = gfrmCurrent->TypeTabCaption();
  const std::string a =
      gfrmCurrent->TypeTabVisible() && caption != "Summary" ? caption : gfrmCurrent->SelectedNode().text;
  return a + " " + gfrmCurrent->PropTabCaption() + " - '" + gfrmCurrent->strServerName + "'";
}

namespace {
PrintJobOutcome gLastPrintOutcome = PrintJobOutcome::None;
std::string gLastPrintFile, gLastPrintError;

// A job that wrote a PDF says where in the main window's status bar; after
// one that was cancelled or failed the bar no longer names an earlier file.
void ShowWhereItPrinted(const IVLMRPrinter& printer) {
  gLastPrintOutcome = printer.LastJobOutcome();
  gLastPrintFile = printer.LastJobFile();
  gLastPrintError = printer.LastJobError();
  QLabel* panel = gMdifrm ? gMdifrm->Panel(1) : nullptr;
  if (!panel) return;
  if (gLastPrintOutcome == PrintJobOutcome::Cancelled || gLastPrintOutcome == PrintJobOutcome::Failed) {
    panel->clear();
  } else if (gLastPrintOutcome == PrintJobOutcome::Printed && !printer.LastJobFile().empty()) {
    panel->setText(QString::fromStdString("Printed to " + printer.LastJobFile()));
    panel->repaint();
  }
}
}  // namespace

PrintJobOutcome LastPrintOutcome() { return gLastPrintOutcome; }
std::string LastPrintFile() { return gLastPrintFile; }
std::string LastPrintError() { return gLastPrintError; }

void PrintGridReport(int iMode, int iSource) {
  gLastPrintOutcome = PrintJobOutcome::None;
  gLastPrintFile.clear();
  gLastPrintError.clear();
  velmo::FlexGrid* grid = nullptr;
  if (iSource == 0) {
    SetCurrentExchWindow();
    if (gfrmCurrent) grid = gfrmCurrent->Grd1();
  } else if (iSource == 1) {
    if (gfrmCustomReport) grid = gfrmCustomReport->grd1();
  } else if (iSource == 2) {
    if (gfrmExportPlusPrint) grid = gfrmExportPlusPrint->Grd1();
  }
  if (!grid) return;  // nothing to print

  WaitCursor wait;
  std::shared_ptr<IVLMRPrinter> printer;
  try {
    printer = velmo::com::CreateObject<IVLMRPrinter>("VLMRPreview.IVLMRPrinter");
  } catch (const velmo::ComError& e) {
    wait.Release();
    LogFailure("PrintGridReport PrintObjectCreation Failed", e);
    velmo::ui::Ui().MsgBox("The print component is not installed. Preview and Print are not available.",
                           velmo::ui::vbInformation, kProductTitle);
    return;
  }
  try {
    printer->ProductName(kProductTitle);
    printer->SourceGrid(grid);
    if (iSource == 0 || iSource == 1) gstrReportTitle = BuildReportTitle();
    printer->Title1(std::string("Velmorine for Exchange Server") + " " + kVersionText, ALIGNCENTRE,
                    "Times New Roman", 14);
    printer->TitleSeprator(true);
    printer->Title2(gstrReportTitle, ALIGNLEFT);
    printer->Title3(velmo::NowText(), ALIGNLEFT);
    printer->FixedRowShade(true);
    if (iMode == 0) {
      wait.Release();
      printer->ShowPreview();
      ShowWhereItPrinted(*printer);
    } else if (iSource != 2) {
      wait.Release();
      printer->PrintReport();
      ShowWhereItPrinted(*printer);
    } else {
      // Print Plus prints on the printer chosen in its window when the
      // printer list has it; otherwise nothing is printed.
      const std::string wanted = gfrmExportPlusPrint->strPrinterName();
      for (const std::string& name : velmo::printers::DeviceNames()) {
        if (name == wanted) {
          CurrentPrinterName() = wanted;
          wait.Release();
          // One job of many: no idle second before each.
          printer->BatchMode(true);
          printer->PrintReport();
          ShowWhereItPrinted(*printer);
          break;
        }
      }
    }
  } catch (const std::exception& e) {
    wait.Release();
    LogException("PrintGridReport Print Failed", e);
    velmo::ui::Ui().MsgBox(e.what(), velmo::ui::vbInformation, kProductTitle);
  }
}

// ============================================================ grid auto-fit

void AutoFitGrid(velmo::FlexGrid& grid) {
  WaitCursor wait;
  grid.SetRedrawMode(0);
  try {
    FitGridColumnWidths(grid);
  } catch (const std::exception& e) {
    LogException("AutoFitGrid FitGridColumnWidths Failed", e);
  }
  grid.SetRedrawMode(3);
}

// ============================================================ folder picker

std::string BrowseForFolder(long& lHwnd) {
  std::string path = velmo::ui::Ui().BrowseForFolder(lHwnd);
  const auto nul = path.find('\0');
  if (nul != std::string::npos) path.resize(nul);
  return path;
}

// ============================================================== pop-up menu

QMenu* PrepareContextMenu() {
  if (!gMainWindow) return nullptr;
  QMenu* menu = gMainWindow->findChild<QMenu*>("popmnuRefresh");
  if (!menu) return nullptr;
  auto item = [&](const char* name) -> QAction* {
    if (QAction* a = gMainWindow->findChild<QAction*>(name)) return a;
    for (QAction* a : menu->actions())
      if (a->objectName() == name) return a;
    return nullptr;
  };
  auto enable = [&](const char* name, bool on) {
    if (QAction* a = item(name)) a->setEnabled(on);
  };

  SetCurrentExchWindow();
  bool reports = false;
  if (gfrmCurrent) {
    velmo::FlexGrid* grid = gfrmCurrent->Grd1();
    reports = grid && grid->Rows() >= 2 && grid->Visible();
  }
  enable("popmnuFavExchServer", gfrmCurrent != nullptr);
  for (const char* name : {"popmnuFilter", "popmnuCustomize", "popmnuExport", "popmnuPreview", "popmnuPrint"})
    enable(name, reports);

  if (QAction* refresh = item("popmnuRefreshServer")) {
    QString caption = "Refresh";
    bool on = false;
    if (gfrmCurrent) {
      const TreeNodeInfo node = gfrmCurrent->SelectedNode();
      if (node.valid && node.index != 1 && node.parentText == "Servers") {
        // "&" in a server name is shown as itself, not as an access key.
        caption += " '" + QString::fromStdString(node.text).replace("&", "&&") + "'";
        on = true;
      }
    }
    refresh->setText(caption);
    refresh->setEnabled(on);
  }
  return menu;
}

void ShowContextMenu() {
  QMenu* menu = PrepareContextMenu();
  if (menu && !gbContextMenuNoExec) menu->exec(QCursor::pos());
}
