// The Export Plus and Print Plus window: mode, server box, favourites,
// folder, object tree, field tree and the Export/Print command.
#include "frmExportPlus.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <system_error>

#include "AppFolder.h"
#include "ComError.h"
#include "ComFactory.h"
#include "Database.h"
#include "Directory.h"
#include "ExportPlusCatalogue.h"
#include "ExportPlusOutputs.h"
#include "ExportPlusWorkList.h"
#include "FlexGrid.h"
#include "IExch55Info.h"
#include "IVLMRPrinter.h"
#include "Mdifrm.h"
#include "Printers.h"
#include "StopSignals.h"
#include "Ui.h"
#include "WaitCursor.h"
#include "frmAutoFormat.h"
#include "modExch.h"
#include "modExchTree.h"
#include "modGlobals.h"

using velmo::ui::Ui;
namespace db = velmo::db;

namespace {

constexpr const char* kCrLf = "\r\n";

using Hourglass = velmo::ui::WaitCursor;

void Inform(const std::string& text) { Ui().MsgBox(text, velmo::ui::vbInformation, kProductTitle); }

// Every node of a tree in index order (parents before their children).
std::vector<QTreeWidgetItem*> NodesInOrder(QTreeWidget& tree) {
  std::vector<QTreeWidgetItem*> nodes;
  for (QTreeWidgetItemIterator it(&tree); *it; ++it) nodes.push_back(*it);
  return nodes;
}

// Sizes in pixels (the layout in twips divided by 15).
constexpr int kWidth = 640;
constexpr int kHeight = 500;
constexpr int kTreeTop = 104;
constexpr int kTreeHeight = 236;
constexpr int kTreeWidth = 304;

}  // namespace

frmExportPlus::frmExportPlus(QWidget* parent) : QDialog(parent) {
  setObjectName("frmExportPlus");
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setFixedSize(kWidth, kHeight);
  if (parent) setWindowIcon(ProgramIcon());

  lblInfo = new QLabel(this);
  lblInfo->setObjectName("lblInfo");
  lblInfo->setGeometry(12, 8, kWidth - 24, 44);
  lblInfo->setWordWrap(true);

  frSep = new QFrame(this);
  frSep->setObjectName("frSep");
  frSep->setFrameShape(QFrame::HLine);
  frSep->setFrameShadow(QFrame::Sunken);
  frSep->setGeometry(12, 56, kWidth - 24, 4);

  lblServerName = new QLabel("Server Name:", this);
  lblServerName->setObjectName("lblServerName");
  lblServerName->setGeometry(12, 70, 90, 24);

  cboServerName = new QComboBox(this);
  cboServerName->setObjectName("cboServerName");
  cboServerName->setEditable(true);
  cboServerName->setInsertPolicy(QComboBox::NoInsert);
  cboServerName->setGeometry(104, 70, 300, 24);
  cboServerName->installEventFilter(this);
  if (QLineEdit* edit = cboServerName->lineEdit()) edit->installEventFilter(this);

  cmdAddtoFav = new QPushButton("&Add to Favorites", this);
  cmdAddtoFav->setObjectName("cmdAddtoFav");
  cmdAddtoFav->setGeometry(kWidth - 12 - 140, 69, 140, 26);
  connect(cmdAddtoFav, &QPushButton::clicked, this, [this] { cmdAddtoFav_Click(); });

  tvwObjects_ = new QTreeWidget(this);
  tvwObjects_->setObjectName("tvwObjects");
  tvwObjects_->setHeaderHidden(true);
  tvwObjects_->setGeometry(12, kTreeTop, kTreeWidth, kTreeHeight);
  connect(tvwObjects_, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* n) { tvwObjects_Expand(n); });
  connect(tvwObjects_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* n) {
    tvwObjects_->setCurrentItem(n);
    tvwObjects_NodeClick();
  });

  tvwFields = new QTreeWidget(this);
  tvwFields->setObjectName("tvwFields");
  tvwFields->setHeaderHidden(true);
  tvwFields->setGeometry(kWidth - 12 - kTreeWidth, kTreeTop, kTreeWidth, kTreeHeight);
  connect(tvwFields, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* n) {
    tvwFields->setCurrentItem(n);
    tvwFields_Click();
  });

  lblProfileInfo = new QLabel(this);
  lblProfileInfo->setObjectName("lblProfileInfo");
  lblProfileInfo->setWordWrap(true);
  lblProfileInfo->setGeometry(kWidth - 12 - kTreeWidth, kTreeTop + kTreeHeight - 30, kTreeWidth, 30);

  Frame1 = new QGroupBox("Settings", this);
  Frame1->setObjectName("Frame1");
  Frame1->setGeometry(12, kTreeTop + kTreeHeight + 10, kWidth - 24, 86);

  lblFileFormat = new QLabel(Frame1);
  lblFileFormat->setObjectName("lblFileFormat");
  lblFileFormat->setGeometry(12, 22, 100, 24);
  static const char* const kFormats[3] = {"MDB", "CSV", "HTML"};
  for (int i = 0; i < 3; ++i) {
    optFormat[i] = new QRadioButton(kFormats[i], Frame1);
    optFormat[i]->setObjectName(QString("optFormat%1").arg(i));
    optFormat[i]->setGeometry(116 + i * 80, 22, 76, 24);
  }
  optFormat[0]->setChecked(true);
  cboPrinterName = new QComboBox(Frame1);
  cboPrinterName->setObjectName("cboPrinterName");
  cboPrinterName->setGeometry(116, 22, 300, 24);

  lblPath = new QLabel("&Path         :", Frame1);
  lblPath->setObjectName("lblPath");
  lblPath->setGeometry(12, 52, 100, 24);
  txtPath = new QLineEdit(Frame1);
  txtPath->setObjectName("txtPath");
  txtPath->setGeometry(116, 52, kWidth - 24 - 116 - 60, 24);
  lblPath->setBuddy(txtPath);
  cmdBrowse = new QPushButton("&...", Frame1);
  cmdBrowse->setObjectName("cmdBrowse");
  cmdBrowse->setGeometry(kWidth - 24 - 52, 51, 40, 26);
  connect(cmdBrowse, &QPushButton::clicked, this, [this] { cmdBrowse_Click(); });

  cmdExport = new QPushButton("&Export", this);
  cmdExport->setObjectName("cmdExport");
  cmdExport->setGeometry(kWidth - 12 - 2 * 100 - 8, kHeight - 40, 100, 28);
  connect(cmdExport, &QPushButton::clicked, this, [this] { cmdExport_Click(); });
  cmdClose = new QPushButton("&Close", this);
  cmdClose->setObjectName("cmdClose");
  cmdClose->setGeometry(kWidth - 12 - 100, kHeight - 40, 100, 28);
  connect(cmdClose, &QPushButton::clicked, this, [this] { close(); });
  for (QPushButton* b : {cmdAddtoFav, cmdBrowse, cmdExport, cmdClose}) b->setAutoDefault(false);
  lblStatus = new QLabel(this);
  lblStatus->setObjectName("lblStatus");
  lblStatus->setGeometry(12, kHeight - 42, cmdExport->x() - 12 - 12, 32);
  lblStatus->setWordWrap(true);

  List1 = new QListWidget(this);
  List1->setObjectName("List1");
  List1->hide();
  grd1_ = new velmo::FlexGrid(this);
  grd1_->setObjectName("Grd1");
  grd1_->hide();

  setTabOrder(cboServerName, cmdAddtoFav);
  hwnd_ = velmo::ui::RegisterWindow(this);
  gfrmExportPlus = this;
  gfrmExportPlusPrint = this;
}

frmExportPlus::~frmExportPlus() {
  if (gfrmExportPlus == this) gfrmExportPlus = nullptr;
  if (gfrmExportPlusPrint == this) gfrmExportPlusPrint = nullptr;
  velmo::ui::UnregisterWindow(hwnd_);
}

const ImageList* frmExportPlus::Images() const { return gMdifrm ? &gMdifrm->ImgListTvw : nullptr; }

// ================================================================== load

void frmExportPlus::Form_Load() {
  const bool print = gMdifrm && gMdifrm->iFromExportPlusPrintPlus != 0;
  if (print) {
    setWindowTitle("Velmorcast PrintPlus");
    lblInfo->setText(
        "PrintPlus tool allows you to print Exchange server related information with the desired properties to a "
        "local/network printer configured on the local computer. Please select the properties to be printed and "
        "the printer destination.");
    cmdExport->setText("&Print");
    lblFileFormat->setText("Printer Name: ");
    for (QRadioButton* o : optFormat) o->hide();
    cboPrinterName->show();
    lblPath->hide();
    txtPath->hide();
    cmdBrowse->hide();
    try {
      for (const std::string& name : velmo::printers::DeviceNames())
        cboPrinterName->addItem(QString::fromStdString(name));
    } catch (const std::exception& e) {
      LogFailure("ExportPlus_Form_Load Printers Failed", velmo::E_FAIL_, e.what());
    }
    if (cboPrinterName->count() > 0) cboPrinterName->setCurrentIndex(0);
  } else {
    setWindowTitle("Velmorcast ExportPlus");
    lblInfo->setText(
        "ExportPlus tool allows you to export Exchange server related information with the desired properties to "
        "a file. Please select the properties to be exported, file format of the export file and the export file "
        "location.");
    cmdExport->setText("&Export");
    lblFileFormat->setText("File Format  : ");
    for (QRadioButton* o : optFormat) o->show();
    cboPrinterName->hide();
    lblPath->show();
    txtPath->show();
    cmdBrowse->show();
  }
  cmdAddtoFav->setEnabled(false);
  cmdExport->setEnabled(false);
  txtPath->setText(QString::fromStdString(velmo::AppPath("Export").string()));
  lblProfileInfo->hide();
  tvwFields->resize(tvwFields->width(), tvwObjects_->height());
  BindTreeImages(*tvwObjects_, Images());
  BindTreeImages(*tvwFields, Images());

  LoadFavourites();

  if (ExchWindow* active = ActiveExchWindowOfMdi()) {
    if (!active->strServerName.empty()) cboServerName->setEditText(QString::fromStdString(active->strServerName));
    cboServerName_Enter();
  }
}

void frmExportPlus::ShowModal() {
  Form_Load();
  exec();
}

void frmExportPlus::LoadFavourites() {
  if (!gConn) {
    LogFailure("ExportPlus_Form_Load RecordsetObjectOpen Failed", db::kDbClosed,
               "The connection to the database is not open.");
    return;
  }
  try {
    db::Recordset rs;
    rs.Open("select * from VELMORCFavourites where IsFavouriteSrv='Yes'", *gConn, db::adOpenKeyset,
            db::adLockOptimistic);
    for (; !rs.Eof(); rs.MoveNext()) {
      const db::Value& v = rs[0L].Val();
      if (!v.IsNull() && !v.Text().empty()) cboServerName->addItem(QString::fromStdString(v.Text()));
    }
    rs.Close();
  } catch (const velmo::ComError& e) {
    LogFailure("ExportPlus_Form_Load RecordsetObjectOpen Failed", e);
  } catch (const std::exception& e) {
    LogFailure("ExportPlus_Form_Load RecordsetObjectOpen Failed", velmo::E_FAIL_, e.what());
  }
}

// ================================================================== keys

bool frmExportPlus::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress &&
      (watched == cboServerName || watched == cboServerName->lineEdit())) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      cboServerName_Enter();
      return true;
    }
    if (key->key() == Qt::Key_Escape) {
      close();
      return true;
    }
    const QString text = key->text();
    if (text.size() == 1 && text[0] >= QLatin1Char('a') && text[0] <= QLatin1Char('z')) {
      // The server box shows names in capitals.
      QKeyEvent upper(QEvent::KeyPress, key->key(), key->modifiers() | Qt::ShiftModifier, text.toUpper(),
                      key->isAutoRepeat(), static_cast<ushort>(key->count()));
      QObject* target = cboServerName->lineEdit() ? static_cast<QObject*>(cboServerName->lineEdit()) : watched;
      cboServerName->lineEdit()->removeEventFilter(this);
      QCoreApplication::sendEvent(target, &upper);
      cboServerName->lineEdit()->installEventFilter(this);
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void frmExportPlus::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    close();
    return;
  }
  QDialog::keyPressEvent(event);
}

void frmExportPlus::closeEvent(QCloseEvent* event) {
  if (serverCheck_) {
    serverCheck_->pressed = true;
    serverCheck_->stopClicked = true;
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

// =============================================================== connect

void frmExportPlus::ClearFieldTree() {
  tvwFields->clear();
  lblProfileInfo->hide();
  tvwFields->resize(tvwFields->width(), tvwObjects_->height());
}

void frmExportPlus::cboServerName_Enter() {
  tvwObjects_->clear();
  // A new connect starts afresh: no entry or object of an earlier server
  // may go out under this one.
  workList_.clear();
  SyncList1();
  strEPObjectKey.clear();
  strEPObjectText.clear();
  strEPServerName = cboServerName->currentText().toStdString();
  SetStatus("");
  if (gMdifrm) {
    gMdifrm->strFavoriteORDefaultServer = strEPServerName;
    gMdifrm->iFavoriteORDefaultServer = 6;
    gMdifrm->iFromCustomReport = 3;
  }
  ConnectInProgressWindow();

  Hourglass hourglass;
  setUpdatesEnabled(false);
  if (gbConnected) {
    try {
      BuildTree(*tvwObjects_, 3, strEPOrganizationName, strEPSiteName, strEPServerName, "", "");
    } catch (const std::exception& e) {
      LogFailure("ExportPlus BuildTree Failed", velmo::E_FAIL_, e.what());
    }
    cmdAddtoFav->setEnabled(true);
    cmdExport->setEnabled(true);
    InitialPass();
  } else {
    // Nothing of an earlier server stays usable under the name that failed.
    cmdAddtoFav->setEnabled(false);
    cmdExport->setEnabled(false);
    ClearFieldTree();
  }
  setUpdatesEnabled(true);
}

void frmExportPlus::cmdAddtoFav_Click() {
  if (!gConn) {
    LogFailure("cmdAddtoFav_Click RecordsetObjectCreation Failed", db::kDbClosed,
               "The connection to the database is not open.");
    return;
  }
  try {
    db::Recordset rs;
    rs.Open("select * from VELMORCFavourites where ServerName=? and IsFavouriteSrv='Yes'", *gConn,
            {db::Value(strEPServerName)}, db::adOpenKeyset, db::adLockOptimistic);
    if (rs.RecordCount() == 0) {
      rs.AddNew({db::Value(strEPServerName), db::Value(std::string("No")), db::Value(std::string("Yes"))});
      rs.Update();
    }
    rs.Close();
  } catch (const velmo::ComError& e) {
    LogFailure("cmdAddtoFav_Click RecordsetObjectOpen Failed", e);
  } catch (const std::exception& e) {
    LogFailure("cmdAddtoFav_Click RecordsetObjectOpen Failed", velmo::E_FAIL_, e.what());
  }
  const QString typed = cboServerName->currentText();
  cboServerName->clear();
  LoadFavourites();
  cboServerName->setEditText(typed);
  if (cboServerName->count() > 0) cmdAddtoFav->setEnabled(false);
}

void frmExportPlus::cmdBrowse_Click() {
  long handle = hwnd_;
  const std::string folder = BrowseForFolder(handle);
  if (!folder.empty()) txtPath->setText(QString::fromStdString(folder));
}

// ============================================================ object tree

void frmExportPlus::tvwObjects_Expand(QTreeWidgetItem* node) {
  // As the window connected, built its tree and collects: as the current
  // logon. Its sub-containers cannot be expanded further.
  ExpandContainerNode(*tvwObjects_, node, strEPServerName, "", "", {});
}

void frmExportPlus::SaveDisplayedTicks() {
  SaveFieldTicks(workList_, *tvwFields, strEPObjectKey, strEPObjectText);
  SyncList1();
}

void frmExportPlus::tvwObjects_NodeClick() { NodeClick(tvwObjects_->currentItem()); }

void frmExportPlus::NodeClick(QTreeWidgetItem* s) {
  if (!s) return;
  SaveDisplayedTicks();
  strEPObjectText = NodeText(s);
  strEPObjectKey = NodeKey(s);

  const std::string text = NodeText(s);
  const std::string image = NodeImage(s);
  QTreeWidgetItem* parent = s->parent();
  const std::string parentText = NodeText(parent);
  int kind = -1;
  if (IsFirstTreeNode(s) || IsFirstTreeNode(parent))
    kind = 10;
  else if (image == "Recipients" && text == "Server Recipients")
    kind = 7;
  else if (image == "Recipients")
    kind = 0;
  else if (parent && IsFirstTreeNode(parent->parent()))
    kind = 11;
  else if (parentText == "Servers")
    kind = 12;
  else if (text == "Servers")
    kind = 11;
  else if (text == "Protocols" && parentText == "Configuration")
    kind = 1;
  else if (text == "Connections")
    kind = 3;
  else if (text == "Private Information Store")
    kind = 4;
  else if (text == "Protocols")
    kind = 5;
  else if (text == "Public Information Store")
    kind = 6;
  else if (text == "Message Transfer Agent")
    kind = 8;
  else if (text == "System Attendant")
    kind = 9;
  if (kind < 0) return;  // the field tree keeps what it shows
  FillFieldTree(*tvwFields, *tvwObjects_, *lblProfileInfo, kind, Images());
  if (iInitialPass != 1) RestoreFieldTicks(workList_, *tvwFields, strEPObjectKey, Images());
}

void frmExportPlus::tvwFields_Click() {
  QTreeWidgetItem* f = tvwFields->currentItem();
  if (!f) return;
  const std::string image = FieldImage(f);
  const std::string text = NodeText(f);
  if (image == "Check") {
    SetFieldImage(f, "Uncheck", Images());
  } else if (image == "Uncheck") {
    if (text.find('*') == std::string::npos) {
      SetFieldImage(f, "Check", Images());
      return;
    }
    std::string name;
    for (char c : text)
      if (c != '*') name += c;
    std::string answer;
    if (!Ui().InputBox("Enter any valid profile name to retrieve " + name + "information.", kProductTitle, answer) ||
        answer.empty())
      return;
    if (text == "General *")
      strPFGeneralProfile = answer;
    else if (text == "Mailbox Resources *")
      strMailboxResourcesProfile = answer;
    else if (text == "Public Folder Resources *")
      strPFResourcesProfile = answer;
    SetFieldImage(f, "Check", Images());
  }
}

void frmExportPlus::InitialPass() {
  iInitialPass = 1;
  const std::vector<QTreeWidgetItem*> nodes = NodesInOrder(*tvwObjects_);
  // Each node as if clicked; the selection itself moves only at the end.
  // A container's placeholder child stands for no directory object: an
  // entry under its key would only fail to bind.
  for (QTreeWidgetItem* node : nodes)
    if (NodeText(node) != "Childnodetext") NodeClick(node);
  if (tvwObjects_->topLevelItemCount() > 0) {
    tvwObjects_->setCurrentItem(tvwObjects_->topLevelItem(0));
    tvwObjects_NodeClick();
  }
  iInitialPass = 0;
}

void frmExportPlus::SyncList1() {
  List1->clear();
  for (const auto& item : workList_) List1->addItem(QString::fromStdString(item));
}

// ================================================================ export

std::string frmExportPlus::FolderProblem(const std::string& text) const {
  namespace fs = std::filesystem;
  // Trailing separators name the same folder ("/a/new/" is "/a/new").
  std::string folder = text;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  const fs::path path(folder);
  if (!path.is_absolute()) return "not a full path (one starts with \"/\")";
  auto writableFolder = [](const fs::path& p) -> std::string {
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0) return std::strerror(errno);
    if (!S_ISDIR(st.st_mode)) return std::strerror(ENOTDIR);
    if (::access(p.c_str(), W_OK | X_OK) != 0) return std::strerror(errno);
    return "";
  };
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 || errno != ENOENT) return writableFolder(path);
  // A folder that does not exist yet is made, one level, by the output run.
  return writableFolder(path.parent_path());
}

void frmExportPlus::cmdExport_Click() {
  // The run ends on a stop request as on Cancel, and the program closes
  // this window only once the run has returned.
  const velmo::WorkUnderWay work;
  ClearStoppedStatusText();
  outputsWritten_ = 0;
  // The ticks on display count as much as those of earlier objects.
  SaveDisplayedTicks();

  const bool print = cmdExportCaption() == "&Print";
  if (!print) {
    const std::string path = txtPath->text().toStdString();
    if (path.empty()) {
      Inform("Please specify the path to store the report.");
      return;
    }
    if (const std::string why = FolderProblem(path); !why.empty()) {
      LogFailure("frmExportPlus cmdExport Export Folder Failed ", velmo::E_FAIL_, path + " : " + why);
      Inform("Please specify valid path to store the report." + std::string(kCrLf) + path + " : " + why);
      return;
    }
  } else {
    if (cboPrinterName->count() == 0) {
      Inform("No printers attached. Please add a printer to use this feature.");
      return;
    }
    try {
      velmo::com::CreateObject<IVLMRPrinter>("VLMRPreview.IVLMRPrinter");
    } catch (const velmo::ComError&) {
      Inform("The print component is not installed. Preview and Print are not available.");
      return;
    }
  }

  // Nothing is deleted unless the collection can run: the collector must
  // exist and the server must answer.
  try {
    velmo::com::CreateObject<_Exch55Info>("VELMO.Exch55Info");
  } catch (const velmo::ComError& e) {
    LogFailure("frmExportPlus cmdExport Create Object Collector Failed ", e);
    Inform(e.Description());
    return;
  }
  if (!ServerAnswers()) return;

  if (!TakeCollectionLock() || velmo::StopSignal() != 0) {
    // Stopped before the clearing: the server's rows stay as they were.
    collectionLock_.reset();
    if (velmo::StopSignal() != 0) LogRunStopped();
    return;
  }
  Hourglass hourglass;
  std::string reason;
  if (!exportplus::ClearServer(strEPServerName, reason)) {
    collectionLock_.reset();
    hourglass.Release();
    LogFailure("frmExportPlus cmdExport ClearServerData Failed ", velmo::E_FAIL_, reason);
    Inform("The earlier information of '" + strEPServerName + "' could not be deleted." + kCrLf + reason);
    return;
  }

  failures_.clear();
  usedOutputNames_.clear();
  {
    frmAutoFormat progress(this);
    progress.iEPInfo = 1;
    progress.ShowModal();
  }
  hourglass.Release();

  if (velmo::StopSignal() != 0) {
    collectionLock_.reset();
    LogRunStopped();
  } else if (iCancelClicked == 1) {
    collectionLock_.reset();
    Inform("Information Retrival process for ExportPlus canceled in the middle.");
  } else {
    {
      frmAutoFormat progress(this);
      progress.iEPInfo = 2;
      progress.ShowModal();
    }
    // The last output is written: another program may clear and collect
    // the server now, while the messages wait for the user.
    collectionLock_.reset();
    ShowRetrievalBindErrors();
    if (velmo::StopSignal() != 0) {
      LogRunStopped();  // no box: nobody is left to answer it
    } else if (iCancelClicked == 1) {
      Inform(print ? "Information Print process for ExportPlus canceled in the middle."
                   : "Information Export process for ExportPlus canceled in the middle.");
    } else if (!collectionCut_.empty() || !failures_.empty()) {
      // Outputs of a collection the server broke off hold only what came
      // before: they are no whole export.
      std::string text;
      if (!collectionCut_.empty()) {
        LogFailure("frmExportPlus cmdExport Collection Not Finished ", velmo::E_FAIL_,
                   strEPServerName + " : " + collectionCut_);
        text = "Exported with errors. The export is incomplete: the collection of '" + strEPServerName +
               "' did not finish." + kCrLf + collectionCut_;
      }
      if (!failures_.empty())
        text += (text.empty() ? std::string() : std::string(kCrLf) + kCrLf) +
                velmo::exporting::FailureSummary(text.empty()
                                                     ? "Exported with errors. These outputs could not be written:"
                                                     : "These outputs could not be written:",
                                                 failures_, "VelmorcastErrorLog.log");
      Inform(text);
    } else {
      Inform("Exported successfully.");
    }
  }
  iCancelClicked = 0;
}

bool frmExportPlus::ServerAnswers() {
  const std::string& server = strEPServerName;
  SetStatus("Checking that '" + server + "' answers; Esc stops waiting.");
  // The user's keys and clicks wait, as during a collection, but Esc and a
  // click on Close (or closing the window) give the check up.
  EscapeWatch escape;
  escape.alsoStops = cmdClose;
  std::optional<velmo::ComError> failure;
  {
    struct Watching {
      frmExportPlus* window;
      EscapeWatch* outer = gCollectionEscape;
      Watching(frmExportPlus* w, EscapeWatch* watch) : window(w) {
        gCollectionEscape = watch;
        window->serverCheck_ = watch;
      }
      ~Watching() {
        gCollectionEscape = outer;
        window->serverCheck_ = nullptr;
      }
    } watching(this, &escape);
    Hourglass hourglass;
    try {
      velmo::ads::GetObject("LDAP://" + server + "/RootDSE");
    } catch (const velmo::ComError& e) {
      failure = e;
    }
  }
  SetStatus("");
  if (velmo::StopSignal() != 0) {
    LogRunStopped();  // a bind given up for it did not fail
    return false;
  }
  if (escape.pressed) {
    // Whether or not the answer came meanwhile: nothing is deleted.
    LogFailure("frmExportPlus cmdExport Checking '" + server + "' stopped.", velmo::ads::E_CANCELLED,
               "The operation was canceled by the user.");
    SetStatus("Stopped checking that '" + server + "' answers; nothing was deleted.");
    if (escape.stopClicked) close();
    return false;
  }
  if (failure) {
    LogFailure("frmExportPlus cmdExport Server Bind Failed ", *failure);
    ShowBindErrors(0, "Unable to connect to '" + server + "'.@@" + velmo::NumberText(failure->Number()) + "@@" +
                          failure->Description());
    return false;
  }
  return true;
}

void frmExportPlus::SetStatus(const std::string& text) {
  lblStatus->setText(QString::fromStdString(text));
  lblStatus->repaint();
}

// ============================================================ seam values

std::string frmExportPlus::cmdExportCaption() { return cmdExport->text().toStdString(); }
bool frmExportPlus::optFormatValue(int index) { return index >= 0 && index < 3 && optFormat[index]->isChecked(); }
std::string frmExportPlus::optFormatCaption(int index) {
  return index >= 0 && index < 3 ? optFormat[index]->text().toStdString() : std::string();
}
std::string frmExportPlus::txtPathText() { return txtPath->text().toStdString(); }
std::string frmExportPlus::cboPrinterNameText() { return cboPrinterName->currentText().toStdString(); }
QWidget* frmExportPlus::tvwObjects() { return tvwObjects_; }
std::string frmExportPlus::GetTableName(const std::string& strTabName) { return exportplus::TableOfTab(strTabName); }

namespace {
const bool kSeamInstalled = [] {
  Mdifrm::Seams().showExportPlus = [] {
    frmExportPlus window(gMainWindow);
    window.ShowModal();
  };
  return true;
}();
}  // namespace
