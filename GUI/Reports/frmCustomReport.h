#pragma once
// frmCustomReport: the modal "Custom Report" window. A connected server's
// site tree on the left, the report grid with the object-type tabs on the
// right, six buttons below. Every node click and tab click runs the
// report chosen in the designer (strCustomReportName, "Default" at first)
// for the selected node: one multi-table statement, or recipient by
// recipient for a recipient container's type tabs.
//
// The connect step fills the strCR fields and shows the window; its
// Connect button connects to another server, whose tree then replaces the
// shown one.
#include <QDialog>

#include <string>

#include "modExchConnect.h"

namespace velmo::db {
class Recordset;
}
class QFrame;
class QPushButton;
class QTabBar;
class QTreeWidget;
class QTreeWidgetItem;

class frmCustomReport : public QDialog, public CustomReportConnectTarget {
  Q_OBJECT

 public:
  explicit frmCustomReport(QWidget* parent = nullptr);
  ~frmCustomReport() override;

  std::string strCustomReportName;  // "" until a report runs: the built-in "Default"
  bool blnProtocolsNode = false;
  int iSortOrder = 0;
  int iLastSortCol = 0;

  QWidget* pbTreeview = nullptr;
  QTreeWidget* tvwServers = nullptr;
  QWidget* pbSep = nullptr;
  QWidget* pbGrd = nullptr;
  QTabBar* tabType = nullptr;  // each tab's data is its key
  QFrame* Frame1 = nullptr;
  QPushButton* cmdConnect = nullptr;
  QPushButton* cmdShow = nullptr;
  QPushButton* cmdExport = nullptr;
  QPushButton* cmdPreview = nullptr;
  QPushButton* cmdPrint = nullptr;
  QPushButton* cmdClose = nullptr;

  // --- CustomReportConnectTarget
  velmo::FlexGrid* grd1() override { return grd1_; }
  TreeNodeInfo SelectedNode() override;
  bool TypeTabVisible() override;
  std::string TypeTabCaption() override;
  std::vector<std::string> ServerNodeTexts() override;
  void ClearServerNodes() override;
  void ShowModal() override;

  // --- Events
  void Form_Load();
  void Form_Resize();
  void Form_Activate();
  void Form_Unload();
  void tvwServers_NodeClick(QTreeWidgetItem* node);
  void tvwServers_Expand(QTreeWidgetItem* node);
  void tabType_Click();
  void grd1_Click(int mouseCol);
  void grd1_DblClick();
  // The splitter dropped on the tree, the grid panel or the grid, x pixels
  // from that control's left edge.
  void SplitterDropped(QWidget* target, int x);
  void cmdConnect_Click();
  void cmdShow_Click();
  void cmdExport_Click();
  void cmdPreview_Click();
  void cmdPrint_Click();
  void cmdClose_Click();
  void HandleEscapeKey(int keyCode);

  // --- Reports
  // 0 the node changed (the type tabs are rebuilt), other values run the
  // report again for the selected node and tab.
  void RefreshReportView(long lTabMode);
  void ShowCustomReport(const std::string& strType);
  void ShowRecipientDetailReport(const std::string& strType);
  // The type word and engine the last run used ("custom" or "detail").
  std::string lastType;
  std::string lastEngine;
  // Statements the last run sent to the database.
  long lastStatementCount = 0;

  // Opens the rows of the report strCustomReportName whose TabName begins
  // with the prefix; true when rs is open afterwards (a failure throws).
  bool OpenCustomReportRows(velmo::db::Recordset& rs, const std::string& strTabPrefix);

  // Selects a type tab as a click does.
  void ClickTypeTab(int index);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  struct Context;
  void AddServerTree();
  // Lets the window repaint during a long read; false once a stop request
  // came, and the read ends there.
  bool KeepPainted();
  std::vector<struct ReportDefinitionRow> DefinitionRows(const std::string& strType, bool& builtInForm,
                                                         const char* logPrefix);

  velmo::FlexGrid* grd1_ = nullptr;
  bool loaded_ = false;
  bool quiet_ = false;  // changes made by code fire no clicks
  bool unloaded_ = false;
  bool selectionMoved_ = false;  // the last press moved the selection
  long lastPaint_ = 0;
};

// Installs the window as the connect step's custom report target.
void InstallCustomReportSeam();
