#pragma once
// frmCustomize: the column chooser of a browse window's page (view mode,
// gbCustomReport false) and the designer of named custom reports (report
// mode, gbCustomReport true).
//
// View mode: each browse window owns one instance (its frmCustom). It
// shows the page's fields ticked as the page's saved column choice has
// them; OK stores the ticks as that choice (VELMORCFilterCustomize,
// QueryType "1") and refills the browse window through GetQuery(1).
//
// Report mode: one shared instance, shown by ShowReportDesigner. The user
// chooses a report, walks object kinds, types and pages, ticks fields and
// saves the report lines (report name|TabName|columns, in List1) as rows
// of VELMORCCustomReports; OK hands the chosen name to the custom report
// window.
#include <QDialog>

#include <functional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class QTabBar;
class QTreeWidget;
class QTreeWidgetItem;

class frmCustomize : public QDialog {
  Q_OBJECT

 public:
  explicit frmCustomize(QWidget* parent = nullptr);
  ~frmCustomize() override;

  QComboBox* cboCustomReportName = nullptr;
  QLabel* lblCustomReportName = nullptr;
  QCheckBox* chkDefault = nullptr;
  QPushButton* cmdSave = nullptr;
  QPushButton* cmdSaveAs = nullptr;
  QPushButton* cmdOk = nullptr;
  QPushButton* cmdCancel = nullptr;
  QTreeWidget* tvwObjects = nullptr;
  QTabBar* tabCustType = nullptr;
  QTabBar* tabCustProp = nullptr;  // each tab's data is its TabName
  QTreeWidget* tvwFields = nullptr;
  QListWidget* List1 = nullptr;  // hidden: the report lines

  std::string strTabKey;
  bool blnTabUnchanged = false;

  // Loads the window in the mode gbCustomReport gives (runs when the
  // window is shown, once per showing).
  void Form_Load();
  bool Loaded() const { return loaded_; }

  // 0 object chosen (or view-mode load), 1 page tab or report chosen, 2
  // type tab chosen.
  void ShowObjectFields(int mode);
  // "" stores the current page's ticks as a report line; a name saves all
  // report lines as that report. False when a save failed.
  bool SaveFieldSelection(const std::string& name);

  void cboCustomReportName_Click();
  void tvwObjects_NodeClick(QTreeWidgetItem* node);
  void tabCustProp_Click();
  void tabCustType_Click();
  void tvwFields_NodeCheck();
  void cmdOk_Click();
  void cmdSave_Click();
  void cmdSaveAs_Click();
  void cmdCancel_Click();
  // 27 (Escape) and 1000 (the Cancel button) close the window.
  void HandleEscapeKey(int keyCode);

  // The report lines, in order.
  std::vector<std::string> ReportLines() const;
  // The captions of the ticked fields, in tree order.
  std::vector<std::string> TickedFields() const;

 protected:
  void showEvent(QShowEvent* event) override;
  // The close box and Escape on a control without a key handler: Cancel.
  void reject() override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool ReportMode() const;
  void LayoutReportMode();
  void LayoutViewMode();
  void Unload();
  void AddField(const std::string& caption);
  void AddNodeTabs(const std::string& nodeText, const std::string& parentText);
  std::string SelectedPropKey() const;

  // The TabName whose fields tvwFields lists ("" while it lists none):
  // only that page's ticks can be stored.
  std::string shownTab_;
  bool loaded_ = false;
  bool rebuilding_ = false;
  bool viewMode_ = false;
};

// A report line read from its end: the column set after the last "|", the
// TabName before it, the report name (which may itself hold "|") what is
// left. False when the line has fewer than two "|".
bool ReadReportLine(const std::string& line, std::string& name, std::string& tabName, std::string& columns);

// Shows the program's shared report designer modally (the caller sets
// gbCustomReport around it). Mdifrm::blnClickedOK tells how it closed.
void ShowReportDesigner();
// The shared designer while it is shown, nullptr otherwise.
extern frmCustomize* gfrmReportDesigner;
// Where the designer's OK hands the chosen report name (the custom report
// window sets it while it is open; empty otherwise).
extern std::function<void(const std::string&)> gChooseCustomReport;

// Installs the column chooser as the main window's Customize command.
void InstallCustomizeSeam();
