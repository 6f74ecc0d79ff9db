#pragma once
// frmExch: the browse window of one connected Exchange server. On the left
// its site tree ("Exchange Servers") and the favourite servers ("Favorite
// Servers"); on the right the property tabs, the grid of collected data and
// the object-type tabs. Selecting a node or a tab collects that page's rows
// through the directory collector on first use and shows them.
//
// Life of a window: create it (it places itself in the main window's MDI
// area when there is one), give it a slot with OpenExchWindowSlot, fill
// strServerName, strOrganizationName, strSiteName, strUserName and
// strPassword, then show it. Its Load (Form_Load) runs before it is first
// shown, or when called: it builds the site tree (BuildTree mode 0) unless
// the tree already holds nodes or the main window's List Exchange Servers
// command is creating it. Closing it gives its slot back.
#include <QWidget>

#include <cstdint>
#include <string>
#include <vector>

#include "ExchWindow.h"

class QTabBar;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;
class _Exch55Info;
namespace velmo::exporting {
class CollectionLock;
}

// What the selected tree node stands for.
enum NodeKind : int32_t {
  RecipientContainer = 0,
  SiteProtocols = 1,
  ConnectionsContainer = 3,
  PrivateStore = 4,
  ServerProtocols = 5,
  PublicStore = 6,
  ServerRecipients = 7,
  MessageTransferAgent = 8,
  SystemAttendant = 9,
  OrganizationOrSite = 10,
  SiteContainer = 11,
  ServerNode = 12,
};

class frmExch : public QWidget, public ExchWindow {
  Q_OBJECT

 public:
  explicit frmExch(QWidget* parent = nullptr);
  ~frmExch() override;

  // --- Public fields (iFrmID, strServerName, strUserName, strPassword and
  // frmCustom are ExchWindow's)
  std::string strOrganizationName;
  std::string strSiteName;

  // --- Controls
  QWidget* pbTreeview = nullptr;    // left pane, holds sstabObject
  QTabWidget* sstabObject = nullptr;  // "Exchange Servers", "Favorite Servers"
  QTreeWidget* tvwServers = nullptr;
  QTreeWidget* tvwFavorites = nullptr;
  QWidget* pbSep = nullptr;         // the splitter bar
  QTabBar* tabType = nullptr;       // object-type tabs
  QWidget* pbGrd = nullptr;         // right pane, holds the grid
  QTabBar* tabProp = nullptr;       // property tabs; each tab's data is its TabName

  // --- Events
  void Form_Load();  // runs once
  void Form_Resize();
  // GetAllInfo's origin: 0 node click or refresh, 1 property tab, 2 type tab.
  void GetAllInfo(int iFromWhere) override;
  // Runs a select statement and shows its rows in the grid; lMode and
  // iFromWhere change nothing.
  void DisplayInfo(long lMode, const std::string& strInputQuery, int iFromWhere);
  // An empty grid, for a page whose rows must not be shown.
  void ShowNoRows();
  // The column chooser's and the filter wizard's query of the page shown:
  // no rows that an unfinished collection left are shown (UnfinishedRowsCheck).
  void DisplayInfo(const std::string& strInputQuery) override;

  void tvwServers_NodeClick(QTreeWidgetItem* node);
  void tvwServers_Expand(QTreeWidgetItem* node);
  void tabProp_Click();
  void tabType_Click();
  void Grd1_Click(int mouseRow, int mouseCol);
  void Grd1_DblClick();
  // The tab shown before the click: 0 the first, 1 the second.
  void sstabObject_Click(int previousTab);
  void tvwFavorites_NodeClick(QTreeWidgetItem* node);
  // The splitter bar dropped on a control, at x pixels from its left edge.
  void SplitterDropped(QWidget* target, int x);

  // Selects a tab as a click does (raising its Click).
  void ClickTypeTab(int index);
  void ClickPropTab(int index);

  // The image key of a type tab.
  std::string TypeTabImage(int index) const;

  // The id passed as lWinHwnd to the collector and the native access class.
  long WindowHandle() const { return hwnd_; }

  // The size the window opens at and the least size that keeps the panes
  // usable.
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

  // --- ExchWindow
  // The MDI sub-window holding the window, or the window itself outside
  // an MDI area: what is shown and closed.
  QWidget* Window() override;
  velmo::FlexGrid* Grd1() override { return grd1_; }
  TreeNodeInfo SelectedNode() override;
  bool TypeTabVisible() override;
  std::string TypeTabCaption() override;
  std::string PropTabKey() override;
  std::string PropTabCaption() override;

  // The node kind of a tree node, or -1 when it has none.
  static int ClassifyNode(const QTreeWidgetItem* node);
  // True while GetAllInfo runs (a page is being looked up or collected).
  bool Busy() const { return busy_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void SetupInfoTabs(int32_t nodeKind, int32_t iFromWhere);
  void Collect(QTreeWidgetItem* node, const std::string& table, std::string& strRetErrorMsg);
  void CollectForContainer(_Exch55Info& info, const std::string& table, const std::string& path,
                           std::string& strRetErrorMsg);
  void CollectStoreResources(long lMode);
  void FitTreePane();
  void LayoutRightSide(int left, bool setWidths);
  void Form_Unload();
  void SetReportCommands();

  velmo::FlexGrid* grd1_ = nullptr;
  QWidget* subWindow_ = nullptr;
  std::vector<std::string> typeImages_;
  bool gridFilled_ = false;   // DisplayInfo has filled the grid once
  long hwnd_ = 0;
  bool loaded_ = false;
  bool unloaded_ = false;
  bool busy_ = false;         // GetAllInfo is running
  bool rebuilding_ = false;   // tab strips are being refilled
  short sortOrder_ = 0;       // 1 ascending, 2 descending, 0 before the first sort
  short sortedCol_ = 0;       // the grid column last sorted
};

// Takes the lock of the server's collection into the inventory, for the
// browse window and the main window's Refresh. While another program
// collects that server the main window waits, painted, with the reason in
// its status text, until that program is done (true) or the user presses
// Escape (false; the status text then says the wait was given up). A lock
// file that cannot be made is logged once and the caller goes on without
// it (true).
bool WaitForCollectionLock(velmo::exporting::CollectionLock& lock, const std::string& server);
