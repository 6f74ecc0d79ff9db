#pragma once
// The Export Plus and Print Plus window: the user picks one server, browses
// its directory objects, ticks property pages per object, and Export (or
// Print) deletes the server's rows, collects the ticked pages again and
// writes one file or table (or one printout) per page.
//
// The main window's iFromExportPlusPrintPlus, read once at load, chooses
// the mode: 0 Export Plus, anything else Print Plus.
#include <QDialog>

#include <memory>
#include <string>
#include <vector>

#include "CollectionLock.h"
#include "OutputFailures.h"
#include "modExchConnect.h"

class EscapeWatch;
class ImageList;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QTreeWidget;
class QTreeWidgetItem;
namespace velmo {
class FlexGrid;
namespace db {
class Value;
}
}  // namespace velmo

class frmExportPlus : public QDialog, public ExportPlusWindow {
  Q_OBJECT

 public:
  explicit frmExportPlus(QWidget* parent = nullptr);
  ~frmExportPlus() override;

  // --- Controls ---
  QLabel* lblInfo = nullptr;
  QFrame* frSep = nullptr;
  QLabel* lblServerName = nullptr;
  QComboBox* cboServerName = nullptr;
  QPushButton* cmdAddtoFav = nullptr;
  QTreeWidget* tvwObjects_ = nullptr;
  QTreeWidget* tvwFields = nullptr;
  QLabel* lblProfileInfo = nullptr;
  QGroupBox* Frame1 = nullptr;
  QLabel* lblFileFormat = nullptr;
  QRadioButton* optFormat[3] = {nullptr, nullptr, nullptr};
  QComboBox* cboPrinterName = nullptr;
  QLabel* lblPath = nullptr;
  QLineEdit* txtPath = nullptr;
  QPushButton* cmdBrowse = nullptr;
  QPushButton* cmdExport = nullptr;
  QPushButton* cmdClose = nullptr;
  // Beside the buttons: what the command waits for, or why it stopped.
  QLabel* lblStatus = nullptr;
  QListWidget* List1 = nullptr;  // never visible: the work list

  // --- Life cycle ---
  // Sets the mode up, loads the favourites and, over an active browse
  // window, connects to its server at once.
  void Form_Load();
  // Form_Load, then the window modally.
  void ShowModal();

  // --- Events ---
  void cboServerName_Enter();
  void cmdAddtoFav_Click();
  void cmdBrowse_Click();
  void cmdExport_Click();
  void tvwObjects_Expand(QTreeWidgetItem* node);
  void tvwObjects_NodeClick();
  void tvwFields_Click();

  // --- State read by the tests and the progress window ---
  const std::vector<std::string>& WorkList() const { return workList_; }
  std::string strEPObjectKey;
  std::string strEPObjectText;
  std::string strPFGeneralProfile;
  std::string strMailboxResourcesProfile;
  std::string strPFResourcesProfile;
  short iInitialPass = 0;
  // The outputs the last output run could not write or print.
  const std::vector<velmo::exporting::OutputFailure>& OutputFailures() const { return failures_; }

  // The data table of a TabName.
  static std::string GetTableName(const std::string& strTabName);

  // --- ExportPlusWindow ---
  velmo::FlexGrid* Grd1() override { return grd1_; }
  std::string strPrinterName() override { return printerName_; }
  void SetPrinterName(const std::string& name) override { printerName_ = name; }
  std::string cmdExportCaption() override;
  bool optFormatValue(int index) override;
  std::string optFormatCaption(int index) override;
  std::string txtPathText() override;
  std::string cboPrinterNameText() override;
  QWidget* tvwObjects() override;
  void GetAllInfo(const std::string& strServerName, const std::string& strUserName, const std::string& strPassword,
                  const std::string& strOrganizationName, const std::string& strSiteName) override;
  void DisplayInfo(const std::string& strServerName, const std::string& strOrganizationName,
                   const std::string& strSiteName, const std::string& strCustomReportName,
                   const std::string& strReportOption, const std::string& strReportFormat,
                   const std::string& strReportPath, const std::string& strReportTime) override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  // While the command checks that the server answers, closing gives the
  // check up first and the window closes once it has returned.
  void closeEvent(QCloseEvent* event) override;

 private:
  void LoadFavourites();
  void SyncList1();
  void InitialPass();
  void NodeClick(QTreeWidgetItem* node);
  void SaveDisplayedTicks();
  void ClearFieldTree();
  // The bind the collection begins with, made before anything is deleted:
  // true when the server answered. While it waits the window stays
  // painted and says so; Esc or Close gives it up (false, with the status
  // text saying so, or the window closed), as does a stop request (false).
  // A failure is logged and told in one box.
  bool ServerAnswers();
  // The status line, painted at once.
  void SetStatus(const std::string& text);
  // "" when the run can write into the folder a path names (making it,
  // one level, when it is missing); else the system's reason it cannot.
  std::string FolderProblem(const std::string& path) const;
  // Loads one output's rows into Grd1 and writes or prints them; a failure
  // is logged and added to failures_.
  void FillGridAndExport(const std::string& strServerName, const std::string& strReportOption,
                         const std::string& strReportFormat, const std::string& strReportPath,
                         const std::string& strReportTime, const std::string& statement,
                         const std::vector<velmo::db::Value>& params, const std::string& label);
  void AddBindErrors(const std::string& text);
  // One error-log line for the output, and its place in the closing list.
  void NoteFailure(const char* context, velmo::exporting::OutputFailure failure);
  // The bind errors the retrieval gathered, in one message (none: nothing).
  void ShowRetrievalBindErrors();
  // Takes the lock of the server's collection before anything of it is
  // deleted; while another program collects it the progress window waits,
  // and its Cancel gives up (false: nothing is deleted or collected, and a
  // message says so).
  bool TakeCollectionLock();
  // True once Cancel was confirmed or a stop request came: the run's loops
  // end at their next step either way.
  bool RunEnding() const;
  // The one error-log entry of a run a stop request ended, with the
  // number of its outputs written.
  void LogRunStopped() const;
  const ImageList* Images() const;

  velmo::FlexGrid* grd1_ = nullptr;
  std::vector<std::string> workList_;
  std::vector<velmo::exporting::OutputFailure> failures_;
  std::vector<std::string> usedOutputNames_;
  int outputsWritten_ = 0;  // by the run under way
  std::string printerName_;
  std::string strBindErrors_;
  // The collector found the server lost part-way through the retrieval:
  // "number:description" of that failure ("" when it was not).
  std::string collectionCut_;
  // Held from before the clearing to after the last output: another
  // program clearing the server meanwhile would empty the outputs.
  std::unique_ptr<velmo::exporting::CollectionLock> collectionLock_;
  long hwnd_ = 0;
  // The watch of the server check under way (nullptr when none).
  EscapeWatch* serverCheck_ = nullptr;
};
