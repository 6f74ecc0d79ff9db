#pragma once
// The MDI main window: its life cycle (Initialize, Load, first Activate,
// Unload), its menus, pop-up menu, toolbar, status bar and image lists, and
// the commands behind them.
#include <QMainWindow>
#include <QIcon>

#include <functional>
#include <string>
#include <utility>
#include <vector>

class QAction;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QProgressBar;
class QTimer;
class QToolBar;
class QWidget;
class ExchWindow;

// A keyed list of pictures, as the windows' tree, tab strip and toolbar
// controls look them up.
class ImageList {
 public:
  void Add(const std::string& key, const QIcon& icon);
  bool Has(const std::string& key) const;
  // A null icon when the key is not in the list.
  QIcon Item(const std::string& key) const;
  const std::vector<std::string>& Keys() const { return keys_; }
  int Count() const { return static_cast<int>(keys_.size()); }

 private:
  std::vector<std::string> keys_;
  std::vector<QIcon> icons_;
};

// The pictures of the three image lists, drawn at run time.
void FillImgListVLMR(ImageList& list);
void FillImgListTvw(ImageList& list);
void FillImgListTab(ImageList& list);

// The program's own icon: the product picture, in the sizes title bars and
// task bars ask for. Every window of the program carries it.
QIcon ProgramIcon();

// The windows the main window opens, each through an entry that the window's
// own module installs when the program starts. Tests stand in for windows by
// setting these entries; a command whose entry is empty does nothing.
struct MdifrmSeams {
  // frmConnect, shown modally and unloaded when it returns.
  std::function<void()> showConnectDialog;
  // frmAutoFormat in its connect mode, shown modally: connects to
  // Mdifrm::strFavoriteORDefaultServer and sets gbConnected.
  std::function<void()> connectInProgressWindow;
  // ShowConnectedWindow, after a connect.
  std::function<void()> showConnectedWindow;
  // frmFavourites, shown modally.
  std::function<void()> showFavourites;
  // frmFilterWizard, shown modally.
  std::function<void()> showFilterWizard;
  // A new frmCustomize for a browse window (the main window keeps it in the
  // window's frmCustom and shows it modally).
  std::function<QWidget*(ExchWindow& owner)> newCustomize;
  // ExportReport.
  std::function<void()> exportReport;
  // frmExportPlus, shown modally (it reads iFromExportPlusPrintPlus).
  std::function<void()> showExportPlus;
  // frmSchedule, shown modally.
  std::function<void()> showSchedule;
  // The report designer in report mode, shown modally (the caller sets
  // gbCustomReport around it).
  std::function<void()> showReportDesigner;
  // A new browse window frmExch, not yet in a slot and not yet shown.
  std::function<ExchWindow*()> newExchWindow;
};

class Mdifrm : public QMainWindow {
  Q_OBJECT

 public:
  // Builds the window and runs its Initialize and Load; Activate follows
  // the first time the window is shown.
  explicit Mdifrm(QWidget* parent = nullptr);
  ~Mdifrm() override;

  // The seams every main window uses.
  static MdifrmSeams& Seams();

  // --- Public fields read and written by the other windows ---
  short iConnectCount = 0;                  // 1 once the first activation has run
  std::string strFavoriteORDefaultServer;   // server of the pending connect
  short iFavoriteORDefaultServer = 0;       // kind of the pending connect
  short iFromCustomReport = 0;              // target of the pending connect
  bool blnFromListServers = false;          // true while List Exchange Servers opens a window
  bool blnFromRefresh = false;              // true while Refresh shows the connect dialog
  bool blnClickedOK = false;                // the connect dialog's last answer
  short iFromExportPlusPrintPlus = 0;       // 0 Export Plus, 1 Print Plus

  // --- Life cycle ---
  void MDIForm_Initialize();
  void MDIForm_Load();
  void MDIForm_Activate();
  void MDIForm_Unload();

  // --- Controls ---
  QMdiArea* MdiArea() const { return mdiArea_; }
  QToolBar* tbVELMORC = nullptr;
  QStatusBar* sbVELMORC = nullptr;
  QProgressBar* progBar = nullptr;
  QWidget* Picture1 = nullptr;
  ImageList ImgListVLMR;
  ImageList ImgListTvw;
  ImageList ImgListTab;

  // Panels of sbVELMORC, 1 to 5 (4 the date, 5 the time).
  QLabel* Panel(int index) const;
  // Toolbar buttons by index 1 to 13, or by key.
  QAction* Button(int index) const;
  QAction* Button(const std::string& key) const;

  // Menu bar.
  QMenu* mnuReport = nullptr;
  QAction* mnuNewReport = nullptr;
  QAction* mnuSep1 = nullptr;
  QAction* mnuFilter = nullptr;
  QAction* mnuCustomize = nullptr;
  QAction* mnuExport = nullptr;
  QAction* mnuSep2 = nullptr;
  QAction* mnuPreview = nullptr;
  QAction* mnuPrint = nullptr;
  QAction* mnuSep3 = nullptr;
  QAction* mnuExit = nullptr;
  QMenu* mnuTools = nullptr;
  QAction* mnuConnectToServer = nullptr;
  QAction* mnuListAllServers = nullptr;
  QAction* mnuSep4 = nullptr;
  QAction* mnuSep5 = nullptr;
  QAction* mnuAddRemoveFav = nullptr;
  QAction* mnuFavSep = nullptr;
  QAction* mnuCustomReport = nullptr;
  QAction* mnuSep6 = nullptr;
  QAction* mnuSchedule = nullptr;
  QAction* mnuPlusSep = nullptr;
  QAction* mnuExportPlus = nullptr;
  QAction* mnuPrintPlusSep = nullptr;
  QAction* mnuPrintPlus = nullptr;
  QMenu* mnuView = nullptr;
  QAction* mnuViewAll[2] = {};
  QMenu* mnuWindow = nullptr;
  QAction* mnuSubWindow[3] = {};
  QAction* mnuSep7 = nullptr;
  QAction* mnuAll[3] = {};
  QMenu* mnuHelp = nullptr;
  QAction* mnuContents = nullptr;
  QAction* mnuSep8 = nullptr;
  QAction* mnuReadme = nullptr;
  QAction* mnuSep9 = nullptr;
  QAction* mnuLicense = nullptr;
  QAction* mnuSep10 = nullptr;
  QAction* mnuAbout = nullptr;

  // Pop-up menu shown on a browse window's server tree.
  QMenu* popmnuRefresh = nullptr;
  QAction* popmnuRefreshServer = nullptr;
  QAction* popmnuSep1 = nullptr;
  QAction* popmnuConnect = nullptr;
  QAction* popmnuSep2 = nullptr;
  QAction* popmnuFavExchServer = nullptr;
  QAction* popmnuAddRemoveFav = nullptr;
  QAction* popmnuSep3 = nullptr;
  QAction* popmnuCustomReport = nullptr;
  QAction* popmnuSep4 = nullptr;
  QAction* popmnuSchedule = nullptr;
  QAction* popmnuSep5 = nullptr;
  QAction* popmnuFilter = nullptr;
  QAction* popmnuCustomize = nullptr;
  QAction* popmnuExport = nullptr;
  QAction* popmnuSep6 = nullptr;
  QAction* popmnuPreview = nullptr;
  QAction* popmnuPrint = nullptr;
  QAction* popmnuSep7 = nullptr;
  QAction* popmnuExportPlus = nullptr;
  QAction* popmnuPrintPlus = nullptr;
  QAction* popmnuSep8 = nullptr;
  QAction* popmnuExit = nullptr;

  // --- Child window arrangement. Every child keeps at least its minimum
  // size and, where the client area has room, lies wholly inside it.
  // Places a child just added to the MDI area: its preferred size (bounded
  // by the client area), one title bar down and right from the newest
  // child before it, back at the top left when it would not fit there.
  void PlaceNewChild(QMdiSubWindow* child);
  // Cascade: each child at its preferred size, one title bar down and
  // right from the one below it, the active child on top.
  void CascadeChildren();
  // Tiles the children one above the other (horizontally) or side by
  // side; when the client area cannot give each its minimum size in one
  // row or column, they are tiled in a grid.
  void TileChildren(bool horizontally);

  // Enables or disables toolbar buttons 2 to 6 and the report menu items
  // Filter, Customize, Export, Preview and Print together.
  void SetReportCommandsEnabled(bool enabled);

  // --- Commands (each menu item, pop-up item and toolbar button runs one
  // of these through RunCommand) ---
  void mnuFilter_Click();
  void mnuCustomize_Click();
  void mnuExport_Click();
  void mnuPreview_Click();
  void mnuPrint_Click();
  void mnuExit_Click();
  void mnuConnectToServer_Click();
  void mnuListAllServers_Click();
  void mnuAddRemoveFav_Click();
  void mnuCustomReport_Click();
  void mnuSchedule_Click();
  void mnuExportPlus_Click();
  void mnuPrintPlus_Click();
  void mnuViewAll_Click(int index);
  void mnuSubWindow_Click(int index);
  void mnuAll_Click(int index);
  void mnuContents_Click();
  void mnuReadme_Click();
  void mnuLicense_Click();
  void mnuAbout_Click();
  void popmnuRefreshServer_Click();
  void tbVELMORC_ButtonClick(int index);

  // Runs a command; a failure is reported to the user and logged, and the
  // program carries on.
  void RunCommand(const char* name, const std::function<void()>& command);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void BuildMenus();
  void BuildPopupMenu();
  void BuildToolbar();
  void BuildStatusBar();
  QAction* AddItem(QMenu* menu, const char* name, const char* caption, const char* shortcut,
                   void (Mdifrm::*handler)());
  QAction* AddSeparator(QMenu* menu, const char* name);
  void ConnectCommand(QAction* action, const std::string& context, std::function<void()> command);
  void FillWindowList();
  void UpdateClock();
  void ShowReadme(short mode);
  // Shows a browse window's own column chooser modally.
  static void ShowModally(QWidget* window);

  QMdiArea* mdiArea_ = nullptr;
  std::vector<QAction*> buttons_;  // index 0 is button 1
  QLabel* panels_[5] = {};
  QTimer* clock_ = nullptr;
  std::vector<QAction*> windowListItems_;
  bool viewChecked_[2] = {true, true};
  bool activating_ = false;
  bool unloaded_ = false;
};

// The one main window of the program (nullptr before it is made and after
// it is gone).
extern Mdifrm* gMdifrm;
