#include "DialogControls.h"
#include "TextParts.h"
#include "frmCustomize.h"

#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTabBar>
#include <QTreeWidget>

#include <algorithm>
#include <cctype>

#include "ComError.h"
#include "Database.h"
#include "Mdifrm.h"
#include "Ui.h"
#include "modExch.h"
#include "modExchTree.h"
#include "modGlobals.h"

frmCustomize* gfrmReportDesigner = nullptr;
std::function<void(const std::string&)> gChooseCustomReport;

namespace {

using velmo::text::Trim;
using velmo::text::Split;

namespace db = velmo::db;

void LogError(const std::string& context, const std::exception& e) {
  if (auto* com = dynamic_cast<const velmo::ComError*>(&e))
    LogFailure(context, *com);
  else
    LogFailure(context, velmo::E_FAIL_, e.what());
}

std::string Description(const std::exception& e) {
  if (auto* com = dynamic_cast<const velmo::ComError*>(&e)) return com->Description();
  return e.what();
}

QString Q(const std::string& s) { return QString::fromStdString(s); }

const char* const kDefaultRefusal =
    "Default custom report cannot be modified. Save in a different name using Save As button.";

// The object kinds of the designer's object tree: the TabName prefix, the
// pages and the type tabs of each.
struct ObjectKind {
  std::string prefix;
  std::vector<std::string> pages;
  std::vector<std::string> types;
};

const std::vector<std::string> kMailboxPages = {"Summary",          "General",
                                                "Organization",     "Phone/Notes",
                                                "Permissions",      "Distribution Lists",
                                                "E-Mail Addresses", "Delivery Restrictions",
                                                "Delivery Options", "Protocols",
                                                "Custom Attributes", "Limits",
                                                "Advanced"};

bool KindOf(const std::string& text, const std::string& parentText, ObjectKind& kind) {
  const std::vector<std::string> gp = {"General", "Permissions"};
  if (text == "Organization" || text == "Site")
    kind = {"Container1", gp, {}};
  else if (text == "Configuration" || text == "Servers" || text == "Server")
    kind = {"Container2", gp, {}};
  else if (text == "Connections")
    kind = {"Container2", gp, {"Summary", "Internet Mail Connector", "MS Mail Connector", "Site Connector", "Newsfeed"}};
  else if (text == "Recipients")
    kind = {"Container2", gp, {"Summary", "Mailboxes", "Distribution Lists", "Public Folders", "Custom Recipients"}};
  else if (text == "Protocols" && parentText == "Server")
    kind = {"ServerProtocols", gp, {"Summary", "IMAP4", "LDAP", "NNTP", "POP3"}};
  else if (text == "Protocols")
    kind = {"Protocols", gp, {"Summary", "HTTP", "IMAP4", "LDAP", "NNTP", "POP3"}};
  else if (text == "Private Information Store")
    kind = {text, {"General", "Permissions", "Mailbox Resources", "Diagnostics Logging"}, {}};
  else if (text == "Public Information Store")
    kind = {text,
            {"General", "Instances", "Permissions", "Age Limits", "E-Mail Addresses", "Advanced",
             "Diagnostics Logging", "Public Folder Resources"},
            {}};
  else if (text == "Server Recipients")
    kind = {"Mailboxes", kMailboxPages, {}};
  else if (text == "Message Transfer Agent")
    kind = {text, {"General", "Permissions", "Diagnostics Logging"}, {}};
  else if (text == "System Attendant")
    kind = {text, {"General", "Permissions", "E-Mail Addresses"}, {}};
  else
    return false;
  return true;
}

std::vector<std::string> TypePages(const std::string& type) {
  if (type == "Mailboxes") return kMailboxPages;
  if (type == "Distribution Lists")
    return {"General", "Permissions", "Distribution Lists", "E-Mail Addresses", "Delivery Restrictions", "Advanced"};
  if (type == "Public Folders")
    return {"General", "Permissions", "Distribution Lists", "E-Mail Addresses", "Limits", "Advanced"};
  if (type == "Custom Recipients")
    return {"Summary",          "General",           "Organization",          "Phone/Notes",
            "Permissions",      "Distribution Lists", "E-Mail Addresses",     "Delivery Restrictions",
            "Protocols",        "Custom Attributes",  "Advanced"};
  if (type == "HTTP") return {"General", "Permissions", "Folder Shortcuts", "Advanced"};
  if (type == "IMAP4")
    return {"General", "Permissions", "Authentication", "Anonymous", "Message Format", "Idle Time-out"};
  if (type == "LDAP")
    return {"General", "Permissions", "Authentication", "Anonymous", "Search", "Referrals", "Idle Time-out"};
  if (type == "NNTP")
    return {"General",        "Permissions",    "Newsfeeds",     "Control Messages",
            "Authentication", "Message Format", "Idle Time-out", "Anonymous"};
  if (type == "POP3") return {"General", "Permissions", "Authentication", "Message Format", "Idle Time-out"};
  if (type == "Internet Mail Connector")
    return {"General",     "Permissions",   "Connected Sites", "Address Space", "Delivery Restrictions",
            "Internet Mail", "Connections", "Routing",         "Security"};
  if (type == "MS Mail Connector")
    return {"General", "Address Space", "Interchange", "Local Postoffice", "Connections", "Connector MTAs"};
  if (type == "Site Connector") return {"General", "Permissions", "Target Servers", "Address Space", "Override"};
  if (type == "Newsfeed") return {"General", "Messages", "Hosts", "Connection", "Security"};
  return {};
}

// The window's size in twips.
constexpr int kWidth = 9720;
constexpr int kHeight = 6600;

}  // namespace

bool ReadReportLine(const std::string& line, std::string& name, std::string& tabName, std::string& columns) {
  const size_t last = line.rfind('|');
  if (last == std::string::npos || last == 0) return false;
  const size_t before = line.rfind('|', last - 1);
  if (before == std::string::npos) return false;
  name = line.substr(0, before);
  tabName = line.substr(before + 1, last - before - 1);
  columns = line.substr(last + 1);
  return true;
}

frmCustomize::frmCustomize(QWidget* parent) : QDialog(parent) {
  setObjectName("frmCustomize");
  setWindowTitle("Velmorcast Customize");
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

  auto button = [&](const char* name, const char* caption) {
    auto* b = new QPushButton(caption, this);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
  };
  lblCustomReportName = new QLabel("  Custom Report: ", this);
  lblCustomReportName->setObjectName("lblCustomReportName");
  cboCustomReportName = new QComboBox(this);
  cboCustomReportName->setObjectName("cboCustomReportName");
  cboCustomReportName->setEditable(false);
  chkDefault = new QCheckBox("Set as default", this);
  chkDefault->setObjectName("chkDefault");
  cmdSave = button("cmdSave", "&Save");
  cmdSaveAs = button("cmdSaveAs", "Save &As");
  cmdOk = button("cmdOk", "&OK");
  cmdCancel = button("cmdCancel", "&Cancel");
  tvwObjects = new QTreeWidget(this);
  tvwObjects->setObjectName("tvwObjects");
  tvwObjects->setHeaderHidden(true);
  ShowWholeNodeTexts(tvwObjects);
  tabCustType = new QTabBar(this);
  tabCustType->setObjectName("tabCustType");
  tabCustType->setExpanding(false);
  tabCustProp = new QTabBar(this);
  tabCustProp->setObjectName("tabCustProp");
  tabCustProp->setExpanding(false);
  tabCustProp->setUsesScrollButtons(true);
  tabCustType->setUsesScrollButtons(true);
  tvwFields = new QTreeWidget(this);
  tvwFields->setObjectName("tvwFields");
  tvwFields->setHeaderHidden(true);
  tvwFields->setRootIsDecorated(false);
  List1 = new QListWidget(this);
  List1->setObjectName("List1");
  List1->hide();
  LayoutReportMode();

  connect(cboCustomReportName, qOverload<int>(&QComboBox::activated), this, [this] { cboCustomReportName_Click(); });
  connect(tvwObjects, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* node) {
    if (!rebuilding_ && node) tvwObjects_NodeClick(node);
  });
  connect(tabCustProp, &QTabBar::currentChanged, this, [this] {
    if (!rebuilding_) tabCustProp_Click();
  });
  connect(tabCustType, &QTabBar::currentChanged, this, [this] {
    if (!rebuilding_) tabCustType_Click();
  });
  connect(tvwFields, &QTreeWidget::itemChanged, this, [this] {
    if (!rebuilding_) tvwFields_NodeCheck();
  });
  connect(cmdOk, &QPushButton::clicked, this, [this] { cmdOk_Click(); });
  connect(cmdSave, &QPushButton::clicked, this, [this] { cmdSave_Click(); });
  connect(cmdSaveAs, &QPushButton::clicked, this, [this] { cmdSaveAs_Click(); });
  connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });
  for (QWidget* w : std::initializer_list<QWidget*>{cboCustomReportName, chkDefault, cmdSave, cmdSaveAs, cmdOk,
                                                   cmdCancel, tvwObjects, tvwFields, tabCustProp})
    w->installEventFilter(this);
}

frmCustomize::~frmCustomize() {
  if (gfrmReportDesigner == this) gfrmReportDesigner = nullptr;
}

bool frmCustomize::ReportMode() const { return gbCustomReport; }

void frmCustomize::LayoutReportMode() {
  setFixedSize(kWidth / 15, kHeight / 15);
  lblCustomReportName->setGeometry(Twips(120, 165, 1500, 285));
  cboCustomReportName->setGeometry(Twips(1680, 120, 3600, 315));
  chkDefault->setGeometry(Twips(5520, 135, 1900, 285));
  tvwObjects->setGeometry(Twips(120, 600, 3240, 5220));
  tabCustProp->setGeometry(Twips(3480, 600, 6120, 390));
  tvwFields->setGeometry(Twips(3480, 990, 6120, 4830 - 390));
  tabCustType->setGeometry(Twips(3480, 5430, 6120, 390));
  const int top = 6000;
  cmdSave->setGeometry(Twips(3480, top, 1320, 375));
  cmdSaveAs->setGeometry(Twips(4920, top, 1320, 375));
  cmdOk->setGeometry(Twips(6840, top, 1320, 375));
  cmdCancel->setGeometry(Twips(8280, top, 1320, 375));
}

void frmCustomize::LayoutViewMode() {
  // Half the width and 0.8 of the height; the field tree with OK and
  // Cancel below it.
  const int w = kWidth / 2, h = kHeight * 8 / 10;
  setFixedSize(w / 15, h / 15);
  tvwFields->setGeometry(Twips(100, 100, w - 200, h - 100 - 375 - 300));
  cmdOk->setGeometry(Twips(w - 100 - 2 * 1120 - 50, h - 375 - 150, 1120, 375));
  cmdCancel->setGeometry(Twips(w - 100 - 1120, h - 375 - 150, 1120, 375));
}

void frmCustomize::showEvent(QShowEvent* event) {
  if (!loaded_) Form_Load();
  QDialog::showEvent(event);
}

void frmCustomize::reject() { HandleEscapeKey(27); }

void frmCustomize::Form_Load() {
  loaded_ = true;
  shownTab_.clear();
  rebuilding_ = true;
  List1->clear();
  tvwFields->clear();
  tvwObjects->clear();
  while (tabCustProp->count()) tabCustProp->removeTab(tabCustProp->count() - 1);
  while (tabCustType->count()) tabCustType->removeTab(tabCustType->count() - 1);
  blnTabUnchanged = false;
  viewMode_ = !ReportMode();
  rebuilding_ = false;

  if (!viewMode_) {
    LayoutReportMode();
    for (QWidget* w : std::initializer_list<QWidget*>{cboCustomReportName, lblCustomReportName, chkDefault,
                                                     tvwObjects, tabCustProp, cmdSave, cmdSaveAs})
      w->show();
    if (gMdifrm) BindTreeImages(*tvwObjects, &gMdifrm->ImgListTvw);
    rebuilding_ = true;
    tabCustProp->addTab("General");
    tabCustProp->addTab("Permissions");
    rebuilding_ = false;
    tabCustType->hide();
    cboCustomReportName->clear();
    if (gConn) {
      try {
        db::Recordset rs;
        rs.Open("select distinct CustomReportName from VELMORCCustomReports", *gConn, db::adOpenKeyset,
                db::adLockOptimistic);
        for (; !rs.Eof(); rs.MoveNext()) {
          const std::string name = Trim(rs[0L].Text());
          if (!name.empty()) cboCustomReportName->addItem(Q(name));
        }
      } catch (const std::exception& e) {
        LogError("Form_Load RecordsetObjectOpen Failed", e);
      }
    }
    cboCustomReportName->setCurrentIndex(-1);
    rebuilding_ = true;
    try {
      BuildTree(*tvwObjects, 2, "Organization", "Site", "Server", "UserName", "Password");
    } catch (const std::exception& e) {
      LogError("Form_Load BuildTree Failed", e);
    }
    tvwObjects->expandAll();
    tvwObjects->setCurrentItem(nullptr);
    rebuilding_ = false;
    strTabKey = "Container1General";
    return;
  }

  SetCurrentExchWindow();
  LayoutViewMode();
  for (QWidget* w : std::initializer_list<QWidget*>{cboCustomReportName, lblCustomReportName, chkDefault, tvwObjects,
                                                   tabCustProp, tabCustType, cmdSave, cmdSaveAs})
    w->hide();
  ShowObjectFields(0);
}

std::string frmCustomize::SelectedPropKey() const {
  const int i = tabCustProp->currentIndex();
  return i < 0 ? std::string() : tabCustProp->tabData(i).toString().toStdString();
}

void frmCustomize::AddField(const std::string& caption) {
  auto* node = new QTreeWidgetItem(tvwFields, QStringList{Q(caption)});
  node->setFlags(node->flags() | Qt::ItemIsUserCheckable);
  node->setCheckState(0, Qt::Unchecked);
}

void frmCustomize::AddNodeTabs(const std::string& nodeText, const std::string& parentText) {
  ObjectKind kind;
  if (!KindOf(nodeText, parentText, kind)) return;
  for (const auto& t : kind.types) tabCustType->addTab(Q(t));
  for (const auto& p : kind.pages) {
    const int i = tabCustProp->addTab(Q(p));
    tabCustProp->setTabData(i, Q(kind.prefix + p));
  }
}

void frmCustomize::ShowObjectFields(int mode) {
  rebuilding_ = true;
  const bool report = !viewMode_;
  if (mode != 1) {
    while (tabCustProp->count()) tabCustProp->removeTab(tabCustProp->count() - 1);
    if (mode != 2 || !report)
      while (tabCustType->count()) tabCustType->removeTab(tabCustType->count() - 1);
  }
  tvwFields->clear();
  shownTab_.clear();

  std::string tabName;
  std::string server;
  if (!report) {
    SetCurrentExchWindow();
    if (!gfrmCurrent) {
      rebuilding_ = false;
      return;
    }
    tabName = gfrmCurrent->PropTabKey();
    server = gfrmCurrent->strServerName;
  } else {
    QTreeWidgetItem* node = tvwObjects->currentItem();
    const std::string text = node ? NodeText(node) : "";
    const std::string parentText = node && node->parent() ? NodeText(node->parent()) : "";
    if (mode != 1) {
      if (mode == 0) {
        AddNodeTabs(text, parentText);
        if (tabCustType->count()) tabCustType->setCurrentIndex(0);
      } else {
        // The type strip keeps its tabs and the chosen type; the type's
        // pages go in front of the node's own.
        ObjectKind kind;
        if (KindOf(text, parentText, kind))
          for (const auto& p : kind.pages) tabCustProp->setTabData(tabCustProp->addTab(Q(p)), Q(kind.prefix + p));
        const std::string type =
            tabCustType->currentIndex() >= 0 ? tabCustType->tabText(tabCustType->currentIndex()).toStdString() : "";
        // Under a server the protocol pages are keyed "Server" + type.
        const std::string prefix = kind.prefix == "ServerProtocols" ? "Server" + type : type;
        int at = 0;
        for (const auto& p : TypePages(type)) {
          tabCustProp->insertTab(at, Q(p));
          tabCustProp->setTabData(at, Q(prefix + p));
          ++at;
        }
      }
      if (tabCustProp->count()) tabCustProp->setCurrentIndex(0);
    }
    tabName = SelectedPropKey();
    const bool typed = text == "Recipients" || text == "Protocols" || text == "Connections";
    tabCustType->setVisible(typed);
    if (typed)
      tvwFields->setFixedHeight(tabCustType->y() - tvwFields->y());
    else
      tvwFields->setFixedHeight(tvwObjects->height() - tabCustProp->height());
  }
  rebuilding_ = false;
  if (tabName.empty() || !gConn) return;

  // The page's fields: its built-in column set without its first caption.
  try {
    db::Recordset rs;
    rs.Open("select * from VELMORCCustomReports where TabName like ? and CustomReportName='Default'", *gConn,
            {db::Value(tabName + "%")}, db::adOpenKeyset, db::adLockOptimistic);
    if (!rs.Eof()) {
      const auto pieces = Split(Trim(rs[2L].Text()), ';');
      if (pieces.size() > 1) {
        const auto captions = Split(pieces[1], ',');
        rebuilding_ = true;
        for (size_t i = 1; i < captions.size(); ++i) AddField(captions[i]);
        rebuilding_ = false;
        shownTab_ = tabName;
      }
    }
  } catch (const std::exception&) {
    rebuilding_ = false;
    return;
  }

  rebuilding_ = true;
  if (!report) {
    try {
      db::Recordset rs;
      rs.Open("select * from VELMORCFilterCustomize where ServerName=? and TabName=? and QueryType='1'", *gConn,
              {db::Value(server), db::Value(tabName)}, db::adOpenKeyset, db::adLockOptimistic);
      for (; !rs.Eof(); rs.MoveNext()) {
        const auto chosen = Split(rs[4L].Text(), ',');
        for (int i = 0; i < tvwFields->topLevelItemCount(); ++i) {
          QTreeWidgetItem* node = tvwFields->topLevelItem(i);
          if (std::find(chosen.begin(), chosen.end(), NodeText(node)) != chosen.end())
            node->setCheckState(0, Qt::Checked);
        }
      }
    } catch (const std::exception&) {
      // Nothing ticked.
    }
  } else {
    const std::string report = cboCustomReportName->currentText().toStdString();
    for (const auto& line : ReportLines()) {
      std::string lineReport, lineTab, lineColumns;
      if (!ReadReportLine(line, lineReport, lineTab, lineColumns) || lineReport != report || lineTab != tabName)
        continue;
      const auto chosen = Split(lineColumns, ',');
      for (int i = 0; i < tvwFields->topLevelItemCount(); ++i) {
        QTreeWidgetItem* node = tvwFields->topLevelItem(i);
        for (const auto& c : chosen) {
          if (c.empty()) continue;
          if (Trim(c) == Trim(NodeText(node))) {
            node->setCheckState(0, Qt::Checked);
            break;
          }
        }
      }
      break;
    }
  }
  rebuilding_ = false;
}

std::vector<std::string> frmCustomize::ReportLines() const {
  std::vector<std::string> lines;
  for (int i = 0; i < List1->count(); ++i) lines.push_back(List1->item(i)->text().toStdString());
  return lines;
}

std::vector<std::string> frmCustomize::TickedFields() const {
  std::vector<std::string> out;
  for (int i = 0; i < tvwFields->topLevelItemCount(); ++i) {
    QTreeWidgetItem* node = tvwFields->topLevelItem(i);
    if (node->checkState(0) == Qt::Checked) out.push_back(Trim(NodeText(node)));
  }
  return out;
}

bool frmCustomize::SaveFieldSelection(const std::string& nameIn) {
  const std::string combo = cboCustomReportName->currentText().toStdString();
  if (nameIn.empty()) {
    // Only the page the field tree lists has ticks to store: after a load
    // or on a page without fields nothing is shown, and storing would drop
    // the page's line.
    if (blnTabUnchanged || strTabKey.empty() || shownTab_ != strTabKey) return true;
    const auto ticked = TickedFields();
    auto sameTicks = [&](const std::string& columns) {
      std::vector<std::string> had;
      for (const auto& c : Split(columns, ','))
        if (!Trim(c).empty()) had.push_back(Trim(c));
      std::vector<std::string> now = ticked;
      std::sort(had.begin(), had.end());
      std::sort(now.begin(), now.end());
      return had == now;
    };
    // One line per report and page: the page's old lines go first, but the
    // first whose ticks are the same, which stays as it was read.
    bool kept = false;
    for (int i = 0; i < List1->count();) {
      std::string lineReport, lineTab, lineColumns;
      if (!ReadReportLine(List1->item(i)->text().toStdString(), lineReport, lineTab, lineColumns) ||
          lineReport != combo || lineTab != strTabKey) {
        ++i;
        continue;
      }
      if (!kept && sameTicks(lineColumns)) {
        kept = true;
        ++i;
      } else {
        delete List1->takeItem(i);
      }
    }
    if (kept) return true;
    std::string captions;
    for (const auto& c : ticked) captions += (captions.empty() ? "" : ",") + c;
    if (!captions.empty()) List1->addItem(Q(combo + "|" + strTabKey + "|" + captions));
    return true;
  }

  std::string name = nameIn;
  if (chkDefault->isChecked()) name += "-Default";
  if (!gConn) return false;
  // The rows to write, one per page: the line the page shows, the first of
  // the current report's (a report read with two rows for a page shows the
  // first); for a page without one, the line made last.
  std::vector<std::pair<std::string, std::string>> rows;
  std::vector<std::string> shownPages;
  for (const auto& line : ReportLines()) {
    std::string lineReport, lineTab, lineColumns;
    if (!ReadReportLine(line, lineReport, lineTab, lineColumns) || lineTab.empty()) continue;
    if (std::find(shownPages.begin(), shownPages.end(), lineTab) != shownPages.end()) continue;
    if (lineReport == combo) shownPages.push_back(lineTab);
    auto same = std::find_if(rows.begin(), rows.end(), [&](const auto& r) { return r.first == lineTab; });
    if (same != rows.end())
      same->second = lineColumns;
    else
      rows.emplace_back(lineTab, lineColumns);
  }
  try {
    db::Transaction transaction(*gConn);
    gConn->Execute("delete from VELMORCCustomReports where CustomReportName=?", {db::Value(name)});
    for (const auto& [tab, value] : rows)
      gConn->Execute("insert into VELMORCCustomReports values(?,?,?)",
                     {db::Value(tab), db::Value(name), db::Value(value)});
    transaction.Commit();
  } catch (const std::exception& e) {
    LogError("SaveFieldSelection Save Failed", e);
    velmo::ui::Ui().MsgBox("Custom Report " + name + " could not be saved.\r\n" + Description(e),
                           velmo::ui::vbInformation, kProductTitle);
    return false;
  }
  // Lines made while the built-in report was current become lines of the
  // saved report.
  for (int i = 0; i < List1->count(); ++i) {
    std::string lineReport, lineTab, lineColumns;
    if (ReadReportLine(List1->item(i)->text().toStdString(), lineReport, lineTab, lineColumns) &&
        lineReport == "Default")
      List1->item(i)->setText(Q(name + "|" + lineTab + "|" + lineColumns));
  }
  velmo::ui::Ui().MsgBox("Custom Report " + name + " saved successfully", velmo::ui::vbInformation, kProductTitle);
  return true;
}

void frmCustomize::cboCustomReportName_Click() {
  const std::string name = cboCustomReportName->currentText().toStdString();
  if (name != "Default" && gConn) {
    try {
      db::Recordset rs;
      rs.Open("select * from VELMORCCustomReports where CustomReportName=?", *gConn, {db::Value(name)},
              db::adOpenKeyset, db::adLockOptimistic);
      if (rs.RecordCount() > 0) {
        List1->clear();
        for (; !rs.Eof(); rs.MoveNext()) List1->addItem(Q(name + "|" + rs[0L].Text() + "|" + rs[2L].Text()));
      }
    } catch (const std::exception& e) {
      LogError("cboCustomReportName_Click RecordsetObjectOpen Failed", e);
    }
  }
  ShowObjectFields(1);
}

void frmCustomize::tvwObjects_NodeClick(QTreeWidgetItem* node) {
  if (!node) return;
  SaveFieldSelection("");
  blnTabUnchanged = true;
  ShowObjectFields(0);
  strTabKey = SelectedPropKey();
}

void frmCustomize::tabCustProp_Click() {
  SaveFieldSelection("");
  blnTabUnchanged = false;
  ShowObjectFields(1);
  strTabKey = SelectedPropKey();
}

void frmCustomize::tabCustType_Click() {
  SaveFieldSelection("");
  blnTabUnchanged = false;
  ShowObjectFields(2);
  strTabKey = SelectedPropKey();
}

void frmCustomize::tvwFields_NodeCheck() { blnTabUnchanged = false; }

void frmCustomize::cmdOk_Click() {
  if (gMdifrm) gMdifrm->blnClickedOK = true;
  if (!viewMode_) {
    hide();
    const std::string name = cboCustomReportName->currentText().toStdString();
    if (gChooseCustomReport) gChooseCustomReport(name);
    Unload();
    return;
  }
  SetCurrentExchWindow();
  hide();
  ExchWindow* win = gfrmCurrent;
  if (!win || !gConn) {
    Unload();
    return;
  }
  const std::string server = win->strServerName;
  const std::string tab = win->PropTabKey();
  std::string columns;
  for (const auto& c : TickedFields()) columns += (columns.empty() ? "" : ",") + c;
  // The old choice goes only together with the new one being written.
  const char* step = "cmdOk_Click Delete Failed";
  try {
    db::Transaction transaction(*gConn);
    gConn->Execute("delete from VELMORCFilterCustomize where ServerName=? and TabName=? and QueryType='1'",
                   {db::Value(server), db::Value(tab)});
    step = "cmdOk_Click Insert Failed";
    if (!columns.empty())
      gConn->Execute("insert into VELMORCFilterCustomize values(?,?,'1','',?)",
                     {db::Value(server), db::Value(tab), db::Value(columns)});
    transaction.Commit();
  } catch (const std::exception& e) {
    LogError(step, e);
  }
  win->DisplayInfo(GetQuery(1));
  Unload();
}

void frmCustomize::cmdSave_Click() {
  const std::string name = cboCustomReportName->currentText().toStdString();
  if (name == "Default") {
    velmo::ui::Ui().MsgBox(kDefaultRefusal, velmo::ui::vbInformation, kProductTitle);
    return;
  }
  SaveFieldSelection("");
  if (!name.empty()) SaveFieldSelection(name);
}

void frmCustomize::cmdSaveAs_Click() {
  std::string typed;
  if (!velmo::ui::Ui().InputBox("Enter the custom report name to save", kProductTitle, typed)) return;
  const std::string name = Trim(typed);
  if (name.empty()) return;
  // Saving under the built-in report's name would replace its rows.
  if (velmo::text::EqualNoCase(name, "Default")) {
    velmo::ui::Ui().MsgBox(kDefaultRefusal, velmo::ui::vbInformation, kProductTitle);
    return;
  }
  SaveFieldSelection("");
  if (SaveFieldSelection(name)) {
    rebuilding_ = true;
    const int current = cboCustomReportName->currentIndex();
    cboCustomReportName->addItem(Q(name));
    cboCustomReportName->setCurrentIndex(current);
    rebuilding_ = false;
  }
}

void frmCustomize::cmdCancel_Click() { HandleEscapeKey(1000); }

void frmCustomize::HandleEscapeKey(int keyCode) {
  if (keyCode != 27 && keyCode != 1000) return;
  if (gMdifrm) gMdifrm->blnClickedOK = false;
  Unload();
}

void frmCustomize::Unload() {
  // The window is kept (a browse window's chooser lives as long as its
  // window); the next showing loads it again.
  if (isVisible()) done(QDialog::Rejected);
  loaded_ = false;
  rebuilding_ = true;
  tvwFields->clear();
  List1->clear();
  rebuilding_ = false;
}

bool frmCustomize::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    HandleEscapeKey(27);
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void ShowReportDesigner() {
  frmCustomize designer(gMainWindow);
  gfrmReportDesigner = &designer;
  designer.Form_Load();
  designer.setWindowModality(Qt::ApplicationModal);
  designer.exec();
  gfrmReportDesigner = nullptr;
}

void InstallCustomizeSeam() {
  Mdifrm::Seams().newCustomize = [](ExchWindow& owner) -> QWidget* { return new frmCustomize(owner.Window()); };
  Mdifrm::Seams().showReportDesigner = ShowReportDesigner;
}

namespace {
const bool kCustomizeSeam = (InstallCustomizeSeam(), true);
}  // namespace
