#pragma once
// The schedule window: the servers of the scheduled run, each with its
// report, mail profile, output (export and/or print), printer, export
// format and folder. Its wizard button first opens the schedule input
// window, which registers the task; pressed again it writes the settings
// file (header, task line and one line per ticked server) and closes.
#include <QDialog>

#include <array>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QTreeWidget;
class QTreeWidgetItem;

class frmSchedule : public QDialog {
  Q_OBJECT

 public:
  explicit frmSchedule(QWidget* parent = nullptr);
  ~frmSchedule() override;

  QLabel* lblServerName = nullptr;
  QComboBox* cboServerName = nullptr;
  QPushButton* cmdAddServer = nullptr;
  QTreeWidget* tvwSchedServers = nullptr;
  QPushButton* cmdRemove = nullptr;
  QListWidget* lbHidden = nullptr;
  QGroupBox* frReportName = nullptr;
  QLabel* lblReportName = nullptr;
  QComboBox* cboReportName = nullptr;
  QPushButton* cmdNewReport = nullptr;
  QGroupBox* frProfiles = nullptr;
  QLabel* lblProfileName = nullptr;
  QComboBox* cboProfileName = nullptr;
  QLabel* picInfo = nullptr;
  QLabel* picWar = nullptr;
  QLabel* lblProfileStatus = nullptr;
  QGroupBox* frSettings = nullptr;
  QCheckBox* chkExport = nullptr;
  QCheckBox* chkPrint = nullptr;
  QLabel* lblFileFormat = nullptr;
  std::array<QRadioButton*, 3> optFormat{};
  QLabel* lblPath = nullptr;
  QLineEdit* txtPath = nullptr;
  QPushButton* cmdBrowse = nullptr;
  QLabel* lblPrinter = nullptr;
  QComboBox* cboPrinterName = nullptr;
  // cmdOperation(1) "&Proceed" / "&OK", cmdOperation(2) "&Cancel".
  std::array<QPushButton*, 3> cmdOperation{};

  // Set by the schedule input window: true when it was left with Cancel.
  bool blnIsCancelClicked = false;
  QTreeWidgetItem* objRootNode = nullptr;
  std::string strCurrentServer;

  void Form_Load();
  void InitScheduleWindow(int mode);
  void BuildServerEntry();
  void cboServerName_Change();
  void cmdAddServer_Click();
  void cmdRemove_Click();
  void tvwSchedServers_Click();
  void cmdBrowse_Click();
  void cmdNewReport_Click();
  void cmdOperation_Click(int index);

  // The image key of a tree node ("Servers", "Check", "Uncheck").
  static std::string NodeImage(const QTreeWidgetItem* node);
  // The entry lines of lbHidden, top to bottom.
  std::vector<std::string> Entries() const;

  // Shows the window modally.
  int ShowModal();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // A server node showing the entry numbered `entry` of lbHidden.
  QTreeWidgetItem* AddServerNode(const std::string& name, const std::string& image, int entry);
  void SetNodeImage(QTreeWidgetItem* node, const std::string& image);
  // Saves the option controls into the entry of strCurrentServer's node.
  // A field whose control still shows what the entry put there keeps the
  // entry's text; an entry with no field changed is kept as it was read.
  void SaveCurrentEntry();
  // With Export ticked and no format chosen, chooses MDB, and an empty
  // folder becomes the Export folder; with Print ticked and no printer
  // chosen, chooses the list's first printer (as Add does). Run as the user
  // ticks either box.
  void ChooseMissingOutputs();
  // Report, profile, operation, printer, format and folder as the option
  // controls show them (fields 1 to 6 of an entry).
  std::vector<std::string> ShownFields() const;
  // The row in lbHidden of the node's own entry, or -1.
  int FindEntry(const QTreeWidgetItem* node) const;
  int FindEntry(int entry) const;
  int lastEntry_ = 0;     // the number given to the newest entry
  int currentEntry_ = 0;  // the entry of strCurrentServer's node, 0 for none
  // The entry last shown in the option controls, and what they showed.
  int shownEntry_ = 0;
  std::vector<std::string> shown_;
  bool WriteServerLines();
  // Shows the entry of the node (saving the one shown before) and makes
  // it the current one.
  void ShowNode(QTreeWidgetItem* node);
};

// Opens the schedule window modally (the main window's Schedule command).
void ShowScheduleWindow();
