// The schedule window.
#include "frmSchedule.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTreeWidget>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "AppFolder.h"
#include "ComError.h"
#include "Database.h"
#include "DateText.h"
#include "DialogControls.h"
#include "Directory.h"
#include "Mdifrm.h"
#include "Printers.h"
#include "Profiles.h"
#include "SaveScheduledTask.h"
#include "TextPartsUnicode.h"
#include "Ui.h"
#include "WaitCursor.h"
#include "frmAutoFormat.h"
#include "frmScheduleInput.h"
#include "modExch.h"
#include "modExchTree.h"
#include "modGlobals.h"

namespace db = velmo::db;
using velmo::ui::Ui;

namespace {

constexpr const char* kRoot = "Scheduled Servers";
constexpr int kFieldsRole = Qt::UserRole + 1;
// A server node and its entry in lbHidden carry the same number, so that
// two lines of one server (two reports) stay two entries of their own.
constexpr int kEntryRole = Qt::UserRole + 3;
// An entry the user has not changed carries its line as read, end
// included, and is written back so.
constexpr int kLineRole = Qt::UserRole + 4;
// A list item added for a name of an entry that the list does not hold:
// the name itself (the caption marks it).
constexpr int kMissingRole = Qt::UserRole + 5;

void SetMainStatus(const std::string& text) {
  if (!gMdifrm) return;
  if (QLabel* panel = gMdifrm->Panel(1)) {
    panel->setText(QString::fromStdString(text));
    panel->repaint();
  }
}

const ImageList& Images() {
  if (gMdifrm) return gMdifrm->ImgListVLMR;
  static ImageList own = [] {
    ImageList list;
    FillImgListVLMR(list);
    return list;
  }();
  return own;
}

// The folder an export goes to unless another is given.
QString DefaultExportFolder() { return QString::fromStdString((velmo::AppFolder() / "Export").string()); }

std::string Chosen(const QComboBox* box) {
  if (box->currentIndex() < 0) return std::string();
  const QVariant missing = box->currentData(kMissingRole);
  return (missing.isValid() ? missing.toString() : box->currentText()).toStdString();
}

// Takes out the item added for a name the list does not hold.
void DropMissing(QComboBox* box) {
  for (int i = box->count() - 1; i >= 0; --i)
    if (box->itemData(i, kMissingRole).isValid()) box->removeItem(i);
}

// Chooses the item of that name; a name the list does not hold is added
// at its end, marked, and chosen, so that what the box shows is what the
// entry holds; an empty name chooses nothing.
void ShowName(QComboBox* box, const std::string& name, const char* mark) {
  DropMissing(box);
  if (name.empty()) {
    box->setCurrentIndex(-1);
    return;
  }
  const QString text = QString::fromStdString(name);
  int at = box->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
  if (at < 0) {
    box->addItem(text + " (" + mark + ")", text);
    at = box->count() - 1;
    box->setItemData(at, text, kMissingRole);
  }
  box->setCurrentIndex(at);
}

constexpr const char* kNoSuchReport = "no such report";
constexpr const char* kNoSuchProfile = "no such profile";
constexpr const char* kNotInstalled = "not installed";

std::string Join(const std::vector<std::string>& fields) {
  std::string line;
  for (size_t i = 0; i < fields.size(); ++i) line += (i ? "@@@" : "") + fields[i];
  return line;
}

QListWidgetItem* NewEntry(const std::vector<std::string>& fields, int entry, const std::string* line = nullptr) {
  QStringList list;
  for (const auto& f : fields) list << QString::fromStdString(f);
  auto* item = new QListWidgetItem(QString::fromStdString(Join(fields)));
  item->setData(kFieldsRole, list);
  item->setData(kEntryRole, entry);
  if (line) item->setData(kLineRole, QByteArray::fromStdString(*line));
  return item;
}

const char* const kFieldNames[8] = {"name", "report name", "profile name", "operation",
                                    "printer name", "export format", "folder", "run stamp"};

}  // namespace

frmSchedule::frmSchedule(QWidget* parent) : QDialog(parent) {
  setObjectName("frmSchedule");
  setWindowTitle("Velmorcast Schedule");
  setWindowIcon(ProgramIcon());
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setFixedSize(9435 / 15, 6825 / 15);

  lblServerName = MakeLabel(this, "lblServerName", "Server Name:", Twips(120, 180, 1800, 255));
  cboServerName = MakeControl<QComboBox>(this, "cboServerName", Twips(120, 450, 2640, 330));
  cboServerName->setEditable(true);
  cboServerName->setInsertPolicy(QComboBox::NoInsert);
  cmdAddServer = MakeButton(this, "cmdAddServer", "&Add", Twips(2880, 435, 900, 375));
  tvwSchedServers = MakeControl<QTreeWidget>(this, "tvwSchedServers", Twips(120, 960, 3660, 5160));
  tvwSchedServers->setHeaderHidden(true);
  cmdRemove = MakeButton(this, "cmdRemove", "&Remove", Twips(120, 6240, 1200, 375));
  lbHidden = MakeControl<QListWidget>(this, "lbHidden", Twips(0, 0, 100, 100));
  lbHidden->hide();

  frReportName = MakeControl<QGroupBox>(this, "frReportName", Twips(3960, 120, 5355, 960));
  frReportName->setTitle("Choose the report");
  lblReportName = MakeLabel(frReportName, "lblReportName", "Report Name:", Twips(120, 480, 1260, 255));
  cboReportName = MakeControl<QComboBox>(frReportName, "cboReportName", Twips(1440, 420, 2640, 330));
  lblReportName->setBuddy(cboReportName);
  cmdNewReport = MakeButton(frReportName, "cmdNewReport", "&New", Twips(4200, 405, 1035, 375));

  frProfiles = MakeControl<QGroupBox>(this, "frProfiles", Twips(3960, 1200, 5355, 1560));
  frProfiles->setTitle("Choose the profile");
  lblProfileName = MakeLabel(frProfiles, "lblProfileName", "Profile Name:", Twips(120, 480, 1260, 255));
  cboProfileName = MakeControl<QComboBox>(frProfiles, "cboProfileName", Twips(1440, 420, 3795, 330));
  lblProfileName->setBuddy(cboProfileName);
  picInfo = MakeControl<QLabel>(frProfiles, "picInfo", Twips(120, 900, 480, 480));
  picInfo->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32));
  picWar = MakeControl<QLabel>(frProfiles, "picWar", Twips(120, 900, 480, 480));
  picWar->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(32, 32));
  lblProfileStatus = MakeControl<QLabel>(frProfiles, "lblProfileStatus", Twips(720, 840, 4515, 660));
  lblProfileStatus->setWordWrap(true);
  lblProfileStatus->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  frSettings = MakeControl<QGroupBox>(this, "frSettings", Twips(3960, 2880, 5355, 3240));
  frSettings->setTitle("Settings");
  chkExport = MakeControl<QCheckBox>(frSettings, "chkExport", Twips(240, 420, 1800, 285));
  chkExport->setText("E&xport Data");
  chkPrint = MakeControl<QCheckBox>(frSettings, "chkPrint", Twips(2400, 420, 1500, 285));
  chkPrint->setText("Pri&nt");
  lblFileFormat = MakeLabel(frSettings, "lblFileFormat", "&File Format:", Twips(240, 960, 1200, 255));
  const char* formats[3] = {"MDB", "CSV", "HTML"};
  for (int i = 0; i < 3; ++i) {
    optFormat[i] = MakeControl<QRadioButton>(frSettings, "optFormat" + std::to_string(i), Twips(1440 + i * 1140, 940, 1080, 285));
    optFormat[i]->setText(formats[i]);
  }
  optFormat[0]->setChecked(true);
  lblFileFormat->setBuddy(optFormat[0]);
  lblPath = MakeLabel(frSettings, "lblPath", "&Path         :", Twips(240, 1500, 1200, 255));
  txtPath = MakeControl<QLineEdit>(frSettings, "txtPath", Twips(1440, 1440, 3120, 330));
  lblPath->setBuddy(txtPath);
  cmdBrowse = MakeButton(frSettings, "cmdBrowse", "&...", Twips(4620, 1425, 600, 375));
  lblPrinter = MakeLabel(frSettings, "lblPrinter", "Pr&inters      :", Twips(240, 2040, 1200, 255));
  cboPrinterName = MakeControl<QComboBox>(frSettings, "cboPrinterName", Twips(1440, 1980, 3780, 330));
  lblPrinter->setBuddy(cboPrinterName);

  cmdOperation[1] = MakeButton(this, "cmdOperation1", "&Proceed", Twips(6780, 6240, 1200, 375));
  cmdOperation[1]->setDefault(true);
  cmdOperation[2] = MakeButton(this, "cmdOperation2", "&Cancel", Twips(8115, 6240, 1200, 375));

  UpperCaseTypedLetters(cboServerName);
  connect(cboServerName, &QComboBox::editTextChanged, this, [this] { cboServerName_Change(); });
  connect(cboServerName, &QComboBox::activated, this, [this] { cboServerName_Change(); });
  connect(cmdAddServer, &QPushButton::clicked, this, [this] { cmdAddServer_Click(); });
  connect(cmdRemove, &QPushButton::clicked, this, [this] { cmdRemove_Click(); });
  connect(cmdBrowse, &QPushButton::clicked, this, [this] { cmdBrowse_Click(); });
  connect(cmdNewReport, &QPushButton::clicked, this, [this] { cmdNewReport_Click(); });
  // Ticked by the user, an output gets what it needs at once: a format
  // for the export, a printer for the printout.
  connect(chkExport, &QCheckBox::clicked, this, [this](bool ticked) {
    if (ticked) ChooseMissingOutputs();
  });
  connect(chkPrint, &QCheckBox::clicked, this, [this](bool ticked) {
    if (ticked) ChooseMissingOutputs();
  });
  connect(cmdOperation[1], &QPushButton::clicked, this, [this] { cmdOperation_Click(1); });
  connect(cmdOperation[2], &QPushButton::clicked, this, [this] { cmdOperation_Click(2); });
  tvwSchedServers->viewport()->installEventFilter(this);
  tvwSchedServers->installEventFilter(this);
}

frmSchedule::~frmSchedule() = default;

std::string frmSchedule::NodeImage(const QTreeWidgetItem* node) {
  return node ? node->data(0, kNodeImageRole).toString().toStdString() : std::string();
}

void frmSchedule::SetNodeImage(QTreeWidgetItem* node, const std::string& image) {
  node->setData(0, kNodeImageRole, QString::fromStdString(image));
  node->setIcon(0, Images().Item(image));
}

QTreeWidgetItem* frmSchedule::AddServerNode(const std::string& name, const std::string& image, int entry) {
  auto* node = new QTreeWidgetItem(objRootNode);
  node->setText(0, QString::fromStdString(name));
  node->setData(0, kEntryRole, entry);
  SetNodeImage(node, image);
  return node;
}

std::vector<std::string> frmSchedule::Entries() const {
  std::vector<std::string> out;
  for (int i = 0; i < lbHidden->count(); ++i) out.push_back(lbHidden->item(i)->text().toStdString());
  return out;
}

void frmSchedule::Form_Load() {
  cmdAddServer->setEnabled(false);
  cmdRemove->setEnabled(false);
  chkExport->setChecked(true);
  txtPath->setText(DefaultExportFolder());
  picInfo->hide();
  picWar->hide();

  tvwSchedServers->clear();
  objRootNode = new QTreeWidgetItem(tvwSchedServers);
  objRootNode->setText(0, kRoot);
  SetNodeImage(objRootNode, "Servers");
  objRootNode->setExpanded(true);
  tvwSchedServers->setCurrentItem(objRootNode);

  InitScheduleWindow(0);
}

void frmSchedule::InitScheduleWindow(int mode) {
  // Report list, and the favourite servers on the first fill.
  const std::string previousReport = Chosen(cboReportName);
  cboReportName->clear();
  try {
    if (!gConn) throw velmo::ComError(db::kDbClosed, "The connection to the database is not open.");
    db::Recordset rs;
    rs.Open("Select distinct CustomReportName from VELMORCCustomReports", *gConn, db::adOpenKeyset,
            db::adLockOptimistic);
    if (rs.RecordCount() > 0) {
      for (rs.MoveFirst(); !rs.Eof(); rs.MoveNext())
        cboReportName->addItem(QString::fromStdString(rs[0L].Text()).trimmed());
    } else {
      cboReportName->addItem("Default");
    }
    rs.Close();
  } catch (const velmo::ComError& e) {
    LogFailure("InitScheduleWindow RecordsetObjectOpen Failed", e);
  }
  // A report the designer just saved is listed; the one chosen stays chosen.
  if (mode == 1 && !previousReport.empty()) ShowName(cboReportName, previousReport, kNoSuchReport);
  if (mode != 0) return;

  try {
    if (!gConn) throw velmo::ComError(db::kDbClosed, "The connection to the database is not open.");
    db::Recordset rs;
    rs.Open("select * from VELMORCFavourites where IsFavouriteSrv='Yes'", *gConn, db::adOpenKeyset,
            db::adLockOptimistic);
    if (rs.RecordCount() > 0)
      for (rs.MoveFirst(); !rs.Eof(); rs.MoveNext()) {
        const std::string name = rs[0L].Text();
        if (!name.empty()) cboServerName->addItem(QString::fromStdString(name));
      }
    rs.Close();
  } catch (const velmo::ComError& e) {
    LogFailure("InitScheduleWindow RecordsetObjectOpen Failed", e);
  }
  cboServerName->setCurrentIndex(-1);
  cboServerName->setEditText("");

  // Printers, the PDF device included.
  cboPrinterName->clear();
  for (const std::string& device : velmo::printers::DeviceNames()) cboPrinterName->addItem(QString::fromStdString(device));
  if (cboPrinterName->count() > 0) cboPrinterName->setCurrentIndex(0);

  // Mail profiles.
  cboProfileName->clear();
  const auto profiles = velmo::mapi::ReadProfiles();
  if (profiles.empty()) {
    picInfo->hide();
    picWar->show();
    lblProfileStatus->setText(
        "Unable to retrieve profile information. Install Outlook 97+/Exchange 5.5+ to retrieve Mailbox/Public Folder "
        "Resources information.");
  } else {
    for (const auto& p : profiles) cboProfileName->addItem(QString::fromStdString(p.name));
    cboProfileName->setCurrentIndex(0);
    picInfo->hide();
    picWar->hide();
    lblProfileStatus->setText(
        "Choose any profile to retrieve Mailbox Resources/Public Folder Resources information for the selected server.");
  }

  // The servers of the settings file, every one ticked. A line that
  // cannot be shown is named in the error log and kept in the file.
  std::vector<velmo::SchedRawLine> lines;
  std::string error;
  if (velmo::ReadSchedConfigLines(velmo::SchedConfigPath(), lines, &error)) {
    velmo::DamagedLines<velmo::SchedSkippedLine> skipped;
    for (const auto& line : lines) {
      if (line.kind == velmo::SchedRawLine::Kind::Unreadable) {
        const std::string text = line.Text();
        skipped.Add({line.number, line.why, text.substr(0, 1024), {}});
      }
      if (line.kind != velmo::SchedRawLine::Kind::Server) continue;
      const velmo::ScheduledServerEntry server = velmo::ParseServerLine(line.Text());
      lbHidden->addItem(NewEntry(velmo::SplitSchedFields(velmo::FormatServerLine(server)), ++lastEntry_, &line.bytes));
      AddServerNode(server.serverName, "Check", lastEntry_);
    }
    for (const auto& line : skipped)
      WriteErrorLog(velmo::NowText(), "Schedule Form_Load Config File Line Skipped", "13",
                    velmo::SkippedLineText(velmo::SchedConfigPath(), line));
    if (skipped.More() > 0)
      WriteErrorLog(velmo::NowText(), "Schedule Form_Load Config File Line Skipped", "13",
                    velmo::SkippedLinesMoreText(velmo::SchedConfigPath(), skipped.More()));
    if (skipped.Count() > 0)
      Ui().MsgBox("The schedule settings file holds " + std::to_string(skipped.Count()) +
                      (skipped.Count() == 1 ? " line that cannot be shown here (damaged, or not UTF-8 text). It is "
                                              "kept in the file as it is; the error log names it.\r\n"
                                            : " lines that cannot be shown here (damaged, or not UTF-8 text). They "
                                              "are kept in the file as they are; the error log names them.\r\n") +
                      velmo::SchedConfigPath().string(),
                  velmo::ui::vbExclamation, kProductTitle);
  } else {
    // A file that is there but cannot be read (a named pipe, a folder, no
    // access) is 75, a missing one 53. Only a missing file is made anew:
    // one that cannot be read may hold the task and servers of another
    // account, and is left as it is.
    const auto path = velmo::SchedConfigPath();
    std::error_code exists;
    const bool there = std::filesystem::symlink_status(path, exists).type() != std::filesystem::file_type::not_found;
    WriteErrorLog(velmo::NowText(), "Schedule Form_Load Config File Open Failure", there ? "75" : "53",
                  path.string() + ": " + error);
    if (there) {
      Ui().MsgBox("The schedule settings file cannot be read and is left as it is.\r\n" + path.string() + ": " +
                      error,
                  velmo::ui::vbExclamation, kProductTitle);
      return;
    }
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    if (!velmo::WriteSchedConfig(path, nullptr, {}, &error)) {
      WriteErrorLog(velmo::NowText(), "Schedule Form_Load Config File Write Failure", "75", path.string() + ": " + error);
      Ui().MsgBox("The schedule settings file could not be made.\r\n" + path.string() + ": " + error,
                  velmo::ui::vbExclamation, kProductTitle);
    }
  }
}

void frmSchedule::cboServerName_Change() {
  const bool any = !cboServerName->currentText().isEmpty();
  cmdAddServer->setEnabled(any);
  cmdRemove->setEnabled(any);
}

int frmSchedule::FindEntry(const QTreeWidgetItem* node) const {
  return FindEntry(node ? node->data(0, kEntryRole).toInt() : 0);
}

int frmSchedule::FindEntry(int entry) const {
  if (entry == 0) return -1;
  for (int i = 0; i < lbHidden->count(); ++i)
    if (lbHidden->item(i)->data(kEntryRole).toInt() == entry) return i;
  return -1;
}

std::vector<std::string> frmSchedule::ShownFields() const {
  std::string operation;
  if (chkExport->isChecked() && chkPrint->isChecked())
    operation = "Both";
  else if (chkExport->isChecked())
    operation = "Export";
  else if (chkPrint->isChecked())
    operation = "Print";
  const char* format = optFormat[2]->isChecked() ? "HTML"
                       : optFormat[1]->isChecked() ? "CSV"
                       : optFormat[0]->isChecked() ? "MDB"
                                                   : "";
  return {Chosen(cboReportName), Chosen(cboProfileName), operation, Chosen(cboPrinterName), format,
          txtPath->text().toStdString()};
}

void frmSchedule::ChooseMissingOutputs() {
  if (chkExport->isChecked()) {
    if (std::none_of(optFormat.begin(), optFormat.end(), [](const QRadioButton* b) { return b->isChecked(); }))
      optFormat[0]->setChecked(true);
    if (txtPath->text().isEmpty()) txtPath->setText(DefaultExportFolder());
  }
  if (chkPrint->isChecked() && cboPrinterName->currentIndex() < 0 && cboPrinterName->count() > 0)
    cboPrinterName->setCurrentIndex(0);
}

void frmSchedule::SaveCurrentEntry() {
  if (strCurrentServer.empty() || strCurrentServer == kRoot || currentEntry_ == 0) return;
  // Nothing is chosen here for the user: a format or printer the entry
  // lacks is given only when the user ticks its box, so an entry whose
  // outputs were not touched is saved as read.
  std::vector<std::string> fields = ShownFields();
  fields.insert(fields.begin(), strCurrentServer);
  fields.push_back(RunStamp(std::chrono::system_clock::now()));
  if (const int at = FindEntry(currentEntry_); at >= 0) {
    // What the user left as it was shown stays as the entry holds it (a
    // format the run does not know, say); an entry with nothing changed
    // stays whole, its line as read.
    QStringList kept = lbHidden->item(at)->data(kFieldsRole).toStringList();
    while (kept.size() < 8) kept << QString();
    bool same = true;
    for (size_t k = 1; k < 7; ++k) {
      const std::string read = kept[static_cast<int>(k)].toStdString();
      if (shownEntry_ == currentEntry_ && shown_.size() == 6 && fields[k] == shown_[k - 1]) fields[k] = read;
      same = same && fields[k] == read;
    }
    if (same) return;
    delete lbHidden->takeItem(at);
  }
  lbHidden->addItem(NewEntry(fields, currentEntry_));
}

void frmSchedule::BuildServerEntry() {
  SaveCurrentEntry();
  shownEntry_ = 0;
  QTreeWidgetItem* node = tvwSchedServers->currentItem();
  if (!node || node == objRootNode || node->text(0) == kRoot || lbHidden->count() == 0) return;
  const int at = FindEntry(node);
  if (at < 0) return;
  QStringList f = lbHidden->item(at)->data(kFieldsRole).toStringList();
  while (f.size() < 8) f << QString();
  // Every field is shown as the entry holds it, an empty one empty, so
  // that nothing of the server shown before stays on screen or is saved
  // into this entry. A report, profile or printer the lists do not hold is
  // shown marked as such.
  ShowName(cboReportName, f[1].toStdString(), kNoSuchReport);
  ShowName(cboProfileName, f[2].toStdString(), kNoSuchProfile);
  chkExport->setChecked(f[3] == "Both" || f[3] == "Export");
  chkPrint->setChecked(f[3] == "Both" || f[3] == "Print");
  ShowName(cboPrinterName, f[4].toStdString(), kNotInstalled);
  // A format the run does not know (or none) shows no button chosen.
  const int format = f[5] == "MDB" ? 0 : f[5] == "CSV" ? 1 : f[5] == "HTML" ? 2 : -1;
  if (format == -1) {
    // No button chosen: each is let go of its group for a moment.
    for (QRadioButton* button : optFormat) {
      button->setAutoExclusive(false);
      button->setChecked(false);
      button->setAutoExclusive(true);
    }
  } else {
    optFormat[static_cast<size_t>(format)]->setChecked(true);
  }
  txtPath->setText(f[6]);
  shownEntry_ = node->data(0, kEntryRole).toInt();
  shown_ = ShownFields();
}

void frmSchedule::cmdAddServer_Click() {
  const std::string name = cboServerName->currentText().toStdString();
  QTreeWidgetItemIterator it(tvwSchedServers);
  for (; *it; ++it)
    if ((*it)->text(0).toStdString() == name) return;

  velmo::ui::WaitCursor hourglass;
  SetMainStatus("Connecting to server '" + name + "'");
  try {
    velmo::ads::GetObject("LDAP://" + name + "/RootDSE");
    // The options of the server shown until now are kept before the new
    // server's defaults replace them on screen.
    SaveCurrentEntry();
    QTreeWidgetItem* node = AddServerNode(name, "Check", ++lastEntry_);
    tvwSchedServers->setCurrentItem(node);
    strCurrentServer = name;
    currentEntry_ = lastEntry_;
    for (QComboBox* box : {cboReportName, cboProfileName, cboPrinterName}) DropMissing(box);
    if (cboReportName->count() > 0) cboReportName->setCurrentIndex(0);
    if (cboProfileName->count() > 0) cboProfileName->setCurrentIndex(0);
    chkExport->setChecked(true);
    optFormat[0]->setChecked(true);
    txtPath->setText(DefaultExportFolder());
    if (cboPrinterName->count() > 0) cboPrinterName->setCurrentIndex(0);
    BuildServerEntry();
    cboServerName->setEditText("");
  } catch (const velmo::ComError& e) {
    hourglass.Release();
    SetMainStatus("Done");
    Ui().MsgBox("Unable to connect to '" + velmo::text::UpperUnicode(name) + "'.\r\n" +
                    e.Description() + "\r\n\r\nPlease enter valid server.",
                velmo::ui::vbInformation, kProductTitle);
    return;
  }
  SetMainStatus("Done");
}

void frmSchedule::cmdRemove_Click() {
  QTreeWidgetItem* node = tvwSchedServers->currentItem();
  if (!node || node == objRootNode || node->text(0) == kRoot) return;
  // What the controls show of the removed server goes with it. The node
  // below it is highlighted then (above it at the end, the root when none
  // is left), and its entry is shown, to be saved from then on.
  if (node->data(0, kEntryRole).toInt() == currentEntry_) {
    currentEntry_ = 0;
    strCurrentServer.clear();
  }
  const int at = objRootNode->indexOfChild(node);
  delete node;
  QTreeWidgetItem* next = objRootNode->childCount() == 0 ? objRootNode
                          : objRootNode->child(std::min(at, objRootNode->childCount() - 1));
  tvwSchedServers->setCurrentItem(next);
  ShowNode(next);
}

void frmSchedule::ShowNode(QTreeWidgetItem* node) {
  BuildServerEntry();
  strCurrentServer = node->text(0).toStdString();
  currentEntry_ = node->data(0, kEntryRole).toInt();
}

void frmSchedule::tvwSchedServers_Click() {
  QTreeWidgetItem* node = tvwSchedServers->currentItem();
  if (!node) return;
  if (NodeImage(node) != "Servers") {
    cmdRemove->setEnabled(true);
    SetNodeImage(node, NodeImage(node) == "Check" ? "Uncheck" : "Check");
  }
  ShowNode(node);
}

void frmSchedule::cmdBrowse_Click() {
  long id = velmo::ui::RegisterWindow(this);
  const std::string folder = BrowseForFolder(id);
  velmo::ui::UnregisterWindow(id);
  if (!folder.empty()) txtPath->setText(QString::fromStdString(folder));
}

void frmSchedule::cmdNewReport_Click() {
  gbCustomReport = true;
  if (Mdifrm::Seams().showReportDesigner) Mdifrm::Seams().showReportDesigner();
  gbCustomReport = false;
  InitScheduleWindow(1);
}

bool frmSchedule::WriteServerLines() {
  // The ticked servers in the tree's order, each entry the user did not
  // change as its line was read; the file's header, task lines and the
  // lines it holds that cannot be shown are kept as they stand.
  const auto path = velmo::SchedConfigPath();
  std::vector<std::string> lines;
  for (int i = 0; i < objRootNode->childCount(); ++i) {
    QTreeWidgetItem* node = objRootNode->child(i);
    if (NodeImage(node) != "Check") continue;
    const int at = FindEntry(node);
    if (at < 0) continue;
    const QVariant read = lbHidden->item(at)->data(kLineRole);
    if (read.isValid()) {
      lines.push_back(read.toByteArray().toStdString());
      if (lines.back().empty() || lines.back().back() != '\n') lines.back() += "\r\n";
      continue;
    }
    std::vector<std::string> fields;
    for (const QString& f : lbHidden->item(at)->data(kFieldsRole).toStringList()) fields.push_back(f.toStdString());
    std::string refused;
    for (size_t k = 0; k < fields.size() && refused.empty(); ++k)
      if (!velmo::SchedFieldCarries(fields[k]))
        refused = std::string("The ") + kFieldNames[k < 8 ? k : 7] + " of server " + velmo::EscapedSchedText(fields[0]) +
                  " cannot contain @@@ or a line break, or end with @.";
    const velmo::ScheduledServerEntry entry = velmo::ParseServerLine(Join(fields));
    // An export folder that is not a full path would be found from
    // wherever the scheduled run happens to start.
    const bool exports = entry.operation == "Export" || entry.operation == "Both";
    if (refused.empty() && exports && !velmo::SchedFolderIsFullPath(entry.outputFolder))
      refused = "The folder of server " + velmo::EscapedSchedText(fields[0]) + " is not a full path: '" +
                velmo::EscapedSchedText(entry.outputFolder) + "'. Give the whole path, such as " +
                DefaultExportFolder().toStdString() + ".";
    if (!refused.empty()) {
      // The entry refused is shown, for the user to mend.
      if (tvwSchedServers->currentItem() != node) {
        tvwSchedServers->setCurrentItem(node);
        ShowNode(node);
      }
      Ui().MsgBox(refused, velmo::ui::vbExclamation, kProductTitle);
      return false;
    }
    lines.push_back(velmo::FormatServerLine(entry) + "\r\n");
  }
  std::error_code ec;
  std::filesystem::create_directories(path.parent_path(), ec);
  if (std::string error; !velmo::WriteSchedServersKeepingLines(path, lines, &error)) {
    WriteErrorLog(velmo::NowText(), "Schedule cmdOperation Config File Write Failure", "75", error);
    Ui().MsgBox("The schedule settings could not be saved.\r\n" + error, velmo::ui::vbExclamation, kProductTitle);
    return false;
  }
  return true;
}

void frmSchedule::cmdOperation_Click(int index) {
  if (index == 2) {
    reject();
    return;
  }
  if (objRootNode->childCount() == 0) {
    Ui().MsgBox("Please select atleast one server to schedule.", velmo::ui::vbInformation, kProductTitle);
    return;
  }
  if (cmdOperation[1]->text() == "&Proceed") {
    cmdOperation[1]->setText("&OK");
    frmScheduleInput input(this, this);
    input.Form_Load();
    input.ShowModal();
    return;
  }
  // A settings file that cannot be rewritten is refused before the
  // default task is registered. A registration failure of that task has
  // been reported; the servers are written all the same.
  if (std::string error; !SchedConfigCanBeRewritten(&error)) {
    WriteErrorLog(velmo::NowText(), "Schedule cmdOperation Config File Write Failure", "75", error);
    Ui().MsgBox("The schedule settings could not be saved.\r\n" + error, velmo::ui::vbExclamation, kProductTitle);
    return;
  }
  if (blnIsCancelClicked) SaveScheduledTask(0, nullptr);
  BuildServerEntry();
  if (!WriteServerLines()) return;
  accept();
}

int frmSchedule::ShowModal() {
  setWindowModality(Qt::ApplicationModal);
  return exec();
}

bool frmSchedule::eventFilter(QObject* watched, QEvent* event) {
  if (watched == tvwSchedServers->viewport() && event->type() == QEvent::MouseButtonRelease) tvwSchedServers_Click();
  return QDialog::eventFilter(watched, event);
}

void ShowScheduleWindow() {
  frmSchedule window(gMainWindow);
  window.Form_Load();
  window.ShowModal();
}

namespace {
const bool kScheduleSeam = (Mdifrm::Seams().showSchedule = ShowScheduleWindow, true);
}  // namespace
