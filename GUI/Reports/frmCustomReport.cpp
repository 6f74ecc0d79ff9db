#include "frmCustomReport.h"
#include "TextParts.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFrame>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QTabBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cctype>
#include <unordered_map>

#include "ComError.h"
#include "CustomReportQuery.h"
#include "Database.h"
#include "DatabaseMaintenance.h"
#include "DialogControls.h"
#include "Directory.h"
#include "FlexGrid.h"
#include "Mdifrm.h"
#include "SplitterBar.h"
#include "StopSignals.h"
#include "Ui.h"
#include "WaitCursor.h"
#include "frmConnect.h"
#include "frmCustomize.h"
#include "modExch.h"
#include "modExchTree.h"
#include "modGlobals.h"

namespace {

using velmo::text::Trim;

namespace db = velmo::db;

frmCustomReport* gInstance = nullptr;

using velmo::text::LowerAscii;
using velmo::text::UpperAscii;

void LogError(const std::string& context, const std::exception& e) {
  if (auto* com = dynamic_cast<const velmo::ComError*>(&e))
    LogFailure(context, *com);
  else
    LogFailure(context, velmo::E_FAIL_, e.what());
}

// Sets a flag for the time of one call and puts it back however it ends.
class FlagOn {
 public:
  explicit FlagOn(bool& flag) : flag_(flag) { flag_ = true; }
  ~FlagOn() { flag_ = false; }

 private:
  bool& flag_;
};

using Hourglass = velmo::ui::WaitCursor;

constexpr auto Px = velmo::TwipsToPx;

constexpr int kInnerWidth = 11880;
constexpr int kInnerHeight = 7725;
constexpr int kSplitterWidth = 3;  // 50 twips
constexpr int kMinPanel = 20;      // 300 twips: no panel narrower

QString Q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

frmCustomReport::frmCustomReport(QWidget* parent) : QDialog(parent) {
  setObjectName("frmCustomReport");
  setWindowTitle("Custom Report");
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setFixedSize(Px(kInnerWidth), Px(kInnerHeight));

  auto button = [&](const char* name, const char* caption, int left) {
    auto* b = new QPushButton(caption, this);
    b->setObjectName(name);
    b->setAutoDefault(false);
    b->setGeometry(Px(left), Px(7200), Px(1120), Px(375));
    b->installEventFilter(this);
    connect(b, &QPushButton::clicked, this, [this, b] {
      if (b == cmdConnect) cmdConnect_Click();
      if (b == cmdShow) cmdShow_Click();
      if (b == cmdExport) cmdExport_Click();
      if (b == cmdPreview) cmdPreview_Click();
      if (b == cmdPrint) cmdPrint_Click();
      if (b == cmdClose) cmdClose_Click();
    });
    return b;
  };
  cmdConnect = button("cmdConnect", "&Connect", 4200);
  cmdShow = button("cmdShow", "Cus&tomize", 5640);
  cmdExport = button("cmdExport", "&Export", 6840);
  cmdPreview = button("cmdPreview", "Pre&view", 8160);
  cmdPrint = button("cmdPrint", "&Print", 9360);
  cmdClose = button("cmdClose", "Clo&se", 10680);

  pbTreeview = new QWidget(this);
  pbTreeview->setObjectName("pbTreeview");
  pbTreeview->setGeometry(0, 0, Px(2655), Px(2775));
  tvwServers = new QTreeWidget(pbTreeview);
  tvwServers->setObjectName("tvwServers");
  tvwServers->setHeaderHidden(true);
  ShowWholeNodeTexts(tvwServers);
  auto* treeFill = new QVBoxLayout(pbTreeview);
  treeFill->setContentsMargins(0, 0, 0, 0);
  treeFill->addWidget(tvwServers);

  pbSep = new SplitterBar(
      this, [this](QWidget* w) { return w == tvwServers || w == pbGrd || w == grd1(); },
      [this](QWidget* target, int x) { SplitterDropped(target, x); });
  pbSep->setObjectName("pbSep");
  pbSep->setGeometry(Px(2400), 0, kSplitterWidth, Px(2535));

  pbGrd = new QWidget(this);
  pbGrd->setObjectName("pbGrd");
  pbGrd->setGeometry(Px(3120), 0, Px(2655), Px(2175));
  grd1_ = new velmo::FlexGrid(pbGrd);
  grd1_->setObjectName("grd1");
  grd1_->FixedRows(1);
  grd1_->FixedCols(1);
  auto* gridFill = new QVBoxLayout(pbGrd);
  gridFill->setContentsMargins(0, 0, 0, 0);
  gridFill->addWidget(grd1_);

  tabType = new QTabBar(this);
  tabType->setObjectName("tabType");
  tabType->setExpanding(false);
  tabType->setUsesScrollButtons(true);
  tabType->setGeometry(Px(3000), Px(2400), Px(4575), Px(375));

  Frame1 = new QFrame(this);
  Frame1->setObjectName("Frame1");
  Frame1->setFrameShape(QFrame::HLine);
  Frame1->setFrameShadow(QFrame::Sunken);
  Frame1->setGeometry(0, Px(7080), Px(11895), Px(45));

  setTabOrder(cmdConnect, cmdShow);
  setTabOrder(cmdShow, cmdExport);
  setTabOrder(cmdExport, cmdPreview);
  setTabOrder(cmdPreview, cmdPrint);
  setTabOrder(cmdPrint, cmdClose);
  setTabOrder(cmdClose, tvwServers);
  setTabOrder(tvwServers, grd1_);
  setTabOrder(grd1_, tabType);

  tvwServers->installEventFilter(this);
  grd1_->installEventFilter(this);
  // A click runs the report, also on the node already selected; a
  // selection made by code runs nothing.
  connect(tvwServers, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* node) {
    if (quiet_ || !node) return;
    selectionMoved_ = true;
    tvwServers_NodeClick(node);
  });
  connect(tvwServers, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* node) {
    if (!selectionMoved_ && !quiet_ && node) tvwServers_NodeClick(node);
    selectionMoved_ = false;
  });
  connect(tvwServers, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* node) { tvwServers_Expand(node); });
  connect(tabType, &QTabBar::currentChanged, this, [this] {
    if (!quiet_) tabType_Click();
  });
  connect(grd1_, &velmo::FlexGrid::clicked, this, [this](int, int c) { grd1_Click(c); });
  connect(grd1_, &velmo::FlexGrid::doubleClicked, this, [this](int, int) { grd1_DblClick(); });
}

frmCustomReport::~frmCustomReport() {
  if (gInstance == this) gInstance = nullptr;
  if (gfrmCustomReport == this) gfrmCustomReport = nullptr;
}

// ------------------------------------------------------------------ life

void frmCustomReport::ShowModal() {
  gfrmCustomReport = this;
  if (!loaded_) Form_Load();
  setWindowModality(Qt::ApplicationModal);
  exec();
  Form_Unload();
  if (gInstance == this) gInstance = nullptr;
  deleteLater();
}

void frmCustomReport::Form_Load() {
  loaded_ = true;
  gfrmCustomReport = this;
  BindTreeImages(*tvwServers, gMdifrm ? &gMdifrm->ImgListTvw : nullptr);
  AddServerTree();
  grd1_->Visible(false);
  tabType->hide();
  Form_Resize();
}

void frmCustomReport::AddServerTree() {
  FlagOn quiet(quiet_);
  try {
    BuildTree(*tvwServers, 1, strCROrganizationName, strCRSiteName, UpperAscii(strCRServerName), strCRUserName,
              strCRPassword);
  } catch (const std::exception& e) {
    LogError("Form_Load BuildTree Failed", e);
  }
  if (tvwServers->topLevelItemCount() > 0) {
    tvwServers->topLevelItem(0)->setExpanded(true);
    tvwServers->setCurrentItem(tvwServers->topLevelItem(0));
  }
}

void frmCustomReport::Form_Resize() {
  const int W = width(), H = height();
  const int frameTop = Frame1->y();
  pbTreeview->setGeometry(0, 0, pbTreeview->width(), frameTop);
  pbSep->setGeometry(pbTreeview->x() + pbTreeview->width(), 0, kSplitterWidth, H > 0 ? frameTop : pbSep->height());
  const int left = pbSep->x() + pbSep->width();
  tabType->setGeometry(left, frameTop - tabType->height(), W > 0 ? W - left : tabType->width(), tabType->height());
  const int gridHeight = tabType->isVisible() ? tabType->y() : frameTop;
  pbGrd->setGeometry(left, 0, W > 0 ? W - left : pbGrd->width(), H > 0 ? gridHeight : pbGrd->height());
}

void frmCustomReport::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  Form_Resize();
}

void frmCustomReport::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) Form_Activate();
}

void frmCustomReport::Form_Activate() {
  if (!gMdifrm || gMdifrm->iFromCustomReport != 2) return;
  // The last connected server's tree, when the tree does not show it.
  for (const auto& text : ServerNodeTexts())
    if (text == UpperAscii(strCRServerName)) return;
  if (strCRServerName.empty()) return;
  AddServerTree();
}

void frmCustomReport::Form_Unload() {
  if (unloaded_) return;
  unloaded_ = true;
  if (gMdifrm) gMdifrm->iFromCustomReport = 0;
  if (gfrmCustomReport == this) gfrmCustomReport = nullptr;
  gChooseCustomReport = nullptr;
}

void frmCustomReport::closeEvent(QCloseEvent* event) {
  QDialog::closeEvent(event);
}

void frmCustomReport::HandleEscapeKey(int keyCode) {
  if (keyCode == 27) cmdClose_Click();
}

void frmCustomReport::keyPressEvent(QKeyEvent* event) {
  // Escape closes the window only from the controls that pass it on (not
  // from the tab strip).
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

bool frmCustomReport::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape &&
      watched != tabType) {
    HandleEscapeKey(27);
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

// ------------------------------------------------------------ connect target

TreeNodeInfo frmCustomReport::SelectedNode() {
  TreeNodeInfo info;
  QTreeWidgetItem* node = tvwServers->currentItem();
  if (!node) return info;
  info.valid = true;
  info.text = NodeText(node);
  info.key = NodeKey(node);
  info.index = IsFirstTreeNode(node) ? 1 : 2;
  info.parentText = node->parent() ? NodeText(node->parent()) : "";
  return info;
}

bool frmCustomReport::TypeTabVisible() { return !tabType->isHidden(); }

std::string frmCustomReport::TypeTabCaption() {
  const int i = tabType->currentIndex();
  return i < 0 ? std::string() : tabType->tabText(i).toStdString();
}

std::vector<std::string> frmCustomReport::ServerNodeTexts() {
  std::vector<std::string> texts;
  std::function<void(QTreeWidgetItem*)> walk = [&](QTreeWidgetItem* n) {
    texts.push_back(NodeText(n));
    for (int i = 0; i < n->childCount(); ++i) walk(n->child(i));
  };
  for (int i = 0; i < tvwServers->topLevelItemCount(); ++i) walk(tvwServers->topLevelItem(i));
  return texts;
}

void frmCustomReport::ClearServerNodes() {
  FlagOn quiet(quiet_);
  tvwServers->clear();
  // No report stays under the name of the server it was not made for.
  grd1_->Clear();
  grd1_->Rows(1);
  grd1_->Visible(false);
  while (tabType->count()) tabType->removeTab(tabType->count() - 1);
  tabType->hide();
  pbGrd->resize(pbGrd->width(), Frame1->y());
}

// ------------------------------------------------------------------ tree

void frmCustomReport::tvwServers_NodeClick(QTreeWidgetItem* node) {
  if (!node) return;
  RefreshReportView(0);
}

void frmCustomReport::tvwServers_Expand(QTreeWidgetItem* node) {
  if (!AwaitsExpansion(node)) return;
  // The selection moving off the placeholder as it goes runs no report.
  FlagOn quiet(quiet_);
  // The connect's credentials: a container only they may read must not
  // go missing.
  ExpandContainerNode(*tvwServers, node, strCRServerName, strCRUserName, strCRPassword,
                      [](const std::string& key, int n) { return key + "/cn=Childnodetext" + std::to_string(n); });
}

// ------------------------------------------------------------------ grid

void frmCustomReport::grd1_Click(int mouseCol) {
  if (mouseCol < 0 || mouseCol >= grd1_->Cols()) return;
  try {
    grd1_->Col(mouseCol);
    iSortOrder = (mouseCol == iLastSortCol) ? (iSortOrder == 1 ? 2 : 1) : 1;
    grd1_->Sort(iSortOrder);
    iLastSortCol = mouseCol;
  } catch (const std::exception& e) {
    LogError("grd1_Click Sort Failed", e);
  }
}

void frmCustomReport::grd1_DblClick() {
  AutoFitGrid(*grd1_);
  if (grd1_->Cols() > 0) grd1_->ColWidth(0, 0);
}

void frmCustomReport::SplitterDropped(QWidget* target, int x) {
  const int W = width();
  if (target == tvwServers) {
    const int treeWidth = std::clamp(pbTreeview->x() + x, kMinPanel, W - kSplitterWidth - kMinPanel);
    pbTreeview->resize(treeWidth, pbTreeview->height());
    pbSep->move(treeWidth, pbSep->y());
    const int left = pbSep->x() + pbSep->width();
    pbGrd->setGeometry(left, pbGrd->y(), W - left, pbGrd->height());
    tabType->setGeometry(left, tabType->y(), W - left, tabType->height());
  } else if (target == pbGrd || target == grd1_) {
    // The grid panel keeps its right edge; it and the tree panel keep at
    // least their least width.
    const int right = pbGrd->x() + pbGrd->width();
    const int sep = std::clamp(pbSep->x() + x, pbTreeview->x() + kMinPanel, right - kSplitterWidth - kMinPanel);
    pbSep->move(sep, pbSep->y());
    pbTreeview->resize(sep - pbTreeview->x(), pbTreeview->height());
    const int left = sep + pbSep->width();
    pbGrd->setGeometry(left, pbGrd->y(), right - left, pbGrd->height());
    if (target == pbGrd) {
      const int tabRight = tabType->x() + tabType->width();
      tabType->setGeometry(left, tabType->y(), std::max(kMinPanel, tabRight - left), tabType->height());
    }
  }
}

// --------------------------------------------------------------- buttons

void frmCustomReport::cmdConnect_Click() {
  {
    FlagOn report(gbCustomReport);
    if (gMdifrm) gMdifrm->iFromCustomReport = 2;
    ConnectDialog().ShowModal();
  }
  Form_Activate();
}

void frmCustomReport::cmdShow_Click() {
  FlagOn report(gbCustomReport);
  gChooseCustomReport = [this](const std::string& name) { strCustomReportName = name; };
  ShowReportDesigner();
  gChooseCustomReport = nullptr;
  RefreshReportView(2);
  gbCustomReport = true;  // the run above reset it
}

void frmCustomReport::cmdExport_Click() {
  FlagOn report(gbCustomReport);
  if (Mdifrm::Seams().exportReport) Mdifrm::Seams().exportReport();
}

void frmCustomReport::cmdPreview_Click() {
  FlagOn report(gbCustomReport);
  PrintGridReport(0, 1);
}

void frmCustomReport::cmdPrint_Click() {
  FlagOn report(gbCustomReport);
  PrintGridReport(1, 1);
}

void frmCustomReport::cmdClose_Click() {
  if (isVisible())
    done(QDialog::Rejected);
  else
    Form_Unload();
}

// ------------------------------------------------------------ report view

void frmCustomReport::ClickTypeTab(int index) { tabType->setCurrentIndex(index); }

void frmCustomReport::tabType_Click() { RefreshReportView(2); }

void frmCustomReport::RefreshReportView(long lTabMode) {
  QTreeWidgetItem* node = tvwServers->currentItem();
  if (!node) return;
  // Its reads end on a stop request; the window is closed after them.
  const velmo::WorkUnderWay work;
  FlagOn quiet(quiet_);
  if (lTabMode == 0)
    while (tabType->count()) tabType->removeTab(tabType->count() - 1);

  const std::string text = NodeText(node);
  const std::string image = NodeImage(node);
  QTreeWidgetItem* parent = node->parent();
  const std::string parentText = parent ? NodeText(parent) : "";
  const bool show = (image == "Recipients" && text != "Server Recipients") || text == "Protocols" ||
                    text == "Connections";
  if (show && tabType->isHidden()) {
    tabType->show();
    tabType->move(pbSep->x() + pbSep->width(), Frame1->y() - tabType->height());
    pbGrd->resize(pbGrd->width(), tabType->y());
  } else if (!show && !tabType->isHidden()) {
    tabType->hide();
    pbGrd->resize(pbGrd->width(), Frame1->y());
  }

  struct Tab {
    const char* caption;
    const char* key;
    const char* image;
  };
  auto addTabs = [&](std::initializer_list<Tab> tabs) {
    if (lTabMode != 0) return;
    for (const auto& t : tabs) {
      const int i = tabType->addTab(Q(t.caption));
      tabType->setTabData(i, Q(t.key));
      if (gMdifrm) tabType->setTabIcon(i, gMdifrm->ImgListTab.Item(t.image));
    }
    tabType->setCurrentIndex(0);
  };
  auto selectedKey = [&] {
    const int i = tabType->currentIndex();
    return i < 0 ? std::string() : tabType->tabData(i).toString().toStdString();
  };

  std::string type;
  const bool first = IsFirstTreeNode(node);
  const bool parentFirst = parent && IsFirstTreeNode(parent);
  const bool grandFirst = parent && parent->parent() && IsFirstTreeNode(parent->parent());
  if (first || parentFirst) {
    type = "Container1";
  } else if (image == "Recipients" && text == "Server Recipients") {
    type = "Mailboxes";
  } else if (image == "Recipients") {
    addTabs({{"Summary", "Container2", "Recipients"},
             {"Mailboxes", "Mailboxes", "MB"},
             {"Distribution Lists", "Distribution Lists", "DL"},
             {"Public Folders", "Public Folders", "PF"},
             {"Custom Recipients", "Custom Recipients", "CR"}});
    type = selectedKey();
  } else if (grandFirst || parentText == "Servers" || text == "Servers") {
    type = "Container2";
  } else if (text == "Protocols" && parentText == "Configuration") {
    addTabs({{"Summary", "Container2", "Protocols"},
             {"HTTP", "HTTP", "Protocols"},
             {"IMAP4", "IMAP4", "Protocols"},
             {"LDAP", "LDAP", "Protocols"},
             {"NNTP", "NNTP", "Protocols"},
             {"POP3", "POP3", "Protocols"}});
    type = selectedKey();
  } else if (text == "Connections") {
    addTabs({{"Summary", "", "Connections"},
             {"Internet Mail Connector", "", "Connector"},
             {"MS Mail Connector", "", "Connector"},
             {"Site Connector", "", "SiteConnector"},
             {"Newsfeed", "", "Newsfeed"}});
    type = TypeTabCaption() == "Summary" ? "Container2" : TypeTabCaption();
  } else if (text == "Private Information Store") {
    type = text;
  } else if (text == "Protocols") {
    addTabs({{"Summary", "ServerProtocols", "Protocols"},
             {"IMAP4", "ServerIMAP4", "Protocols"},
             {"LDAP", "ServerLDAP", "Protocols"},
             {"NNTP", "ServerNNTP", "Protocols"},
             {"POP3", "ServerPOP3", "Protocols"}});
    type = selectedKey();
  } else if (text == "Public Information Store" || text == "Message Transfer Agent" || text == "System Attendant") {
    type = text;
  }
  Form_Resize();

  lastType = type;
  FlagOn report(gbCustomReport);
  blnProtocolsNode = text == "Protocols";
  if (image == "Recipients" && (tabType->isHidden() || TypeTabCaption() != "Summary")) {
    lastEngine = "detail";
    ShowRecipientDetailReport(type);
  } else {
    lastEngine = "custom";
    ShowCustomReport(type);
  }
}

bool frmCustomReport::KeepPainted() {
  static QElapsedTimer clock;
  if (!clock.isValid() || clock.elapsed() > 40) {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    clock.restart();
  }
  return velmo::StopSignal() == 0;
}

std::vector<ReportDefinitionRow> frmCustomReport::DefinitionRows(const std::string& strType, bool& builtInForm,
                                                                 const char* logPrefix) {
  std::vector<ReportDefinitionRow> rows;
  if (strCustomReportName.empty()) strCustomReportName = "Default";
  builtInForm = strCustomReportName == "Default";
  auto read = [&] {
    db::Recordset rs;
    if (!OpenCustomReportRows(rs, strType)) return;
    for (; !rs.Eof(); rs.MoveNext()) rows.push_back({rs[0L].Text(), rs[2L].Text()});
  };
  try {
    read();
    if (rows.empty() && !builtInForm) {
      // A report without rows for these pages shows the built-in ones.
      builtInForm = true;
      const std::string named = strCustomReportName;
      strCustomReportName = "Default";
      try {
        read();
      } catch (...) {
        strCustomReportName = named;
        throw;
      }
      strCustomReportName = named;
    }
  } catch (const std::exception& e) {
    LogError(std::string(logPrefix) + " FirstRecordsetObjectOpen Failed", e);
    rows.clear();
  }
  return rows;
}

bool frmCustomReport::OpenCustomReportRows(db::Recordset& rs, const std::string& strTabPrefix) {
  if (!gConn) return false;
  rs.Open("select * from VELMORCCustomReports where CustomReportName=? and TabName like ?", *gConn,
          {db::Value(strCustomReportName), db::Value(strTabPrefix + "%")}, db::adOpenKeyset, db::adLockOptimistic);
  ++lastStatementCount;
  return rs.State() == db::adStateOpen;
}

namespace {
ReportContext MakeContext(frmCustomReport& w, const std::string& strType) {
  ReportContext c;
  c.strType = strType;
  c.server = w.strCRServerName;
  c.protocolsNode = w.blnProtocolsNode;
  c.node = w.SelectedNode();
  c.nodeImage = w.tvwServers->currentItem() ? NodeImage(w.tvwServers->currentItem()) : "";
  c.tabVisible = w.TypeTabVisible();
  c.tabCaption = w.TypeTabCaption();
  return c;
}
}  // namespace

void frmCustomReport::ShowCustomReport(const std::string& strType) {
  lastStatementCount = 0;
  if (!gConn) {
    LogFailure("ShowCustomReport RecordsetObjectCreation Failed", db::kDbClosed, "The connection is not open.");
    return;
  }
  const ReportContext context = MakeContext(*this, strType);
  if (strType.empty() || !context.node.valid) return;
  Hourglass hourglass;
  bool builtInForm = false;
  const auto rows = DefinitionRows(strType, builtInForm, "ShowCustomReport");
  const auto statement = BuildCustomReportStatement(context, rows, builtInForm,
                                                    [](const std::string& tab) { return GetTableName(tab); });
  std::vector<std::vector<std::string>> grid;
  std::vector<std::string> captions(1);
  captions.insert(captions.end(), statement.captions.begin(), statement.captions.end());
  const size_t n = statement.captions.size();
  grid.push_back(std::move(captions));
  // Rows that an unfinished collection left go before the server is read;
  // while they stay, the report shows none of the tables that hold them.
  if (!statement.sql.empty() &&
      !UnfinishedRowsCheck(strCRServerName, "ShowCustomReport").HidesAny(statement.tables)) {
    try {
      db::Recordset rs;
      rs.Open(statement.sql, *gConn, db::adOpenKeyset, db::adLockOptimistic);
      ++lastStatementCount;
      db::Fields& fields = rs.GetFields();
      const size_t count = std::min(n, static_cast<size_t>(fields.Count()));
      for (; !rs.Eof(); rs.MoveNext()) {
        std::vector<std::string> row(n + 1);
        for (size_t j = 0; j < count; ++j) {
          const db::Value& v = fields[static_cast<long>(j)].Val();
          if (!v.IsNull()) row[j + 1] = Trim(v.Text());
        }
        grid.push_back(std::move(row));
        if (grid.size() % 2000 == 0 && !KeepPainted()) break;
      }
    } catch (const std::exception& e) {
      LogError("ShowCustomReport RecordsetObjectOpen Failed", e);
    }
  }
  grd1_->Visible(true);
  grd1_->Clear();
  grd1_->Cols(static_cast<int>(n) + 1);
  grd1_->SetData(std::move(grid));
  grd1_->ColWidth(0, 0);
}

void frmCustomReport::ShowRecipientDetailReport(const std::string& strType) {
  lastStatementCount = 0;
  if (strCustomReportName.empty()) strCustomReportName = "Default";
  grd1_->Visible(true);
  grd1_->Clear();
  grd1_->Rows(1);
  grd1_->Cols(1);
  grd1_->ColWidth(0, 0);
  if (!gConn) return;
  const ReportContext context = MakeContext(*this, strType);
  if (strType.empty() || !context.node.valid) return;
  Hourglass hourglass;

  bool builtInForm = false;
  const auto rows = DefinitionRows(strType, builtInForm, "ShowRecipientDetailReport");
  const auto blocks =
      BuildRecipientBlocks(rows, builtInForm, [](const std::string& tab) { return GetTableName(tab); });
  const std::string condition = RecipientCondition(context);
  const std::string recipientsTable = GetTableName(RecipientTabName(context));

  std::vector<std::string> aliases;
  // Rows that an unfinished collection left go before the server is read;
  // while they stay, the report lists no recipient when one of its tables
  // holds them.
  std::vector<std::string> tables{recipientsTable};
  for (const auto& b : blocks) tables.push_back(b.table);
  const bool hidden = UnfinishedRowsCheck(strCRServerName, "ShowRecipientDetailReport").HidesAny(tables);
  try {
    if (recipientsTable.empty() || recipientsTable.find(']') != std::string::npos)
      throw velmo::ComError(db::kDbNoSuchTable, "No recipients table for '" + RecipientTabName(context) + "'.");
    if (!hidden) {
      db::Recordset rs;
      rs.Open("select distinct [Alias Name] from [" + recipientsTable + "] where ServerName=" +
                  db::SqlQuote(strCRServerName) + condition,
              *gConn, db::adOpenKeyset, db::adLockOptimistic);
      ++lastStatementCount;
      for (; !rs.Eof(); rs.MoveNext())
        if (!rs[0L].IsNull()) aliases.push_back(Trim(rs[0L].Text()));
    }
  } catch (const std::exception& e) {
    LogError("ShowRecipientDetailReport RecordsetObjectOpen Failed", e);
    return;
  }

  std::vector<std::vector<std::string>> grid;
  std::vector<std::string> captions(1);
  if (aliases.empty()) {
    // Captions only: "Display Name", then every further caption.
    captions.push_back("Display Name");
    for (const auto& b : blocks) captions.insert(captions.end(), b.columns.begin() + 1, b.columns.end());
    grid.push_back(std::move(captions));
  } else {
    std::vector<size_t> starts;
    for (const auto& b : blocks) {
      starts.push_back(captions.size());
      captions.insert(captions.end(), b.columns.begin(), b.columns.end());
    }
    const size_t width = captions.size();
    grid.push_back(std::move(captions));
    // Each page is read once for all the recipients, its rows grouped by
    // alias (compared as the database compares text, without regard to
    // case): the same rows as one keyed read per recipient and page, in a
    // handful of statements instead of one per recipient and page. The
    // recipients' keys are numbered once; each page keeps its cells in one
    // flat list and orders its rows by recipient with a counting sort, so
    // tens of thousands of rows cost no allocation each.
    std::unordered_map<std::string, uint32_t> bucketOf;
    bucketOf.reserve(aliases.size());
    std::vector<uint32_t> aliasBucket(aliases.size());
    for (size_t i = 0; i < aliases.size(); ++i)
      aliasBucket[i] =
          bucketOf.try_emplace(LowerAscii(aliases[i]), static_cast<uint32_t>(bucketOf.size())).first->second;
    const size_t buckets = bucketOf.size();
    struct Page {
      size_t count = 0;                 // cells per row
      std::vector<std::string> cells;   // row after row
      std::vector<uint32_t> rowBucket;  // the recipient of each row
      std::vector<uint32_t> first;      // per recipient: its first entry in `order` (one more at the end)
      std::vector<uint32_t> order;      // rows by recipient, statement order within each
    };
    std::vector<Page> pages(blocks.size());
    for (size_t k = 0; k < blocks.size(); ++k) {
      if (velmo::StopSignal() != 0) break;  // the program is ending: no more pages read
      const auto& b = blocks[k];
      Page& page = pages[k];
      std::string select = "select distinct [Alias Name]";
      for (const auto& column : b.columns) select += ",[" + column + "]";
      try {
        db::Recordset rs;
        rs.Open(select + " from [" + b.table + "] where ServerName=" + db::SqlQuote(strCRServerName) + condition,
                *gConn, db::adOpenForwardOnly, db::adLockReadOnly);
        ++lastStatementCount;
        db::Fields& fields = rs.GetFields();
        page.count = std::min(b.columns.size(), static_cast<size_t>(fields.Count()) - 1);
        for (long n = 0; !rs.Eof(); rs.MoveNext(), ++n) {
          if (n % 5000 == 0 && !KeepPainted()) break;
          // A row of no listed recipient would never be shown.
          auto found = bucketOf.find(LowerAscii(Trim(fields[0L].Text())));
          if (found == bucketOf.end()) continue;
          page.rowBucket.push_back(found->second);
          for (size_t j = 0; j < page.count; ++j) {
            const db::Value& v = fields[static_cast<long>(j) + 1].Val();
            page.cells.push_back(v.IsNull() ? std::string() : Trim(v.Text()));
          }
        }
      } catch (const std::exception& e) {
        // Its block stays empty; the other pages are shown.
        LogError("ShowRecipientDetailReport DetailRecordsetObjectOpen Failed", e);
        page.rowBucket.clear();
        page.cells.clear();
      }
      page.first.assign(buckets + 1, 0);
      for (uint32_t bucket : page.rowBucket) ++page.first[bucket + 1];
      for (size_t i = 0; i < buckets; ++i) page.first[i + 1] += page.first[i];
      page.order.resize(page.rowBucket.size());
      std::vector<uint32_t> next(page.first.begin(), page.first.end() - 1);
      for (uint32_t r = 0; r < page.rowBucket.size(); ++r) page.order[next[page.rowBucket[r]]++] = r;
    }
    // The program is ending: pages were left unread (or read in part), so
    // the report is not assembled and the grid stays empty.
    if (velmo::StopSignal() != 0) return;
    for (size_t i = 0; i < aliases.size(); ++i) {
      const size_t band = grid.size();
      grid.emplace_back(width);
      const uint32_t bucket = aliasBucket[i];
      for (size_t k = 0; k < pages.size(); ++k) {
        const Page& page = pages[k];
        for (uint32_t at = page.first[bucket], r = 0; at < page.first[bucket + 1]; ++at, ++r) {
          if (band + r >= grid.size()) grid.emplace_back(width);
          const auto from = page.cells.begin() + static_cast<long>(page.order[at] * page.count);
          std::copy(from, from + static_cast<long>(page.count), grid[band + r].begin() + static_cast<long>(starts[k]));
        }
      }
    }
  }
  grd1_->Cols(static_cast<int>(grid.front().size()));
  grd1_->SetData(std::move(grid));
  grd1_->ColWidth(0, 0);
}

// ------------------------------------------------------------------ seam

void InstallCustomReportSeam() {
  gCustomReportForConnect = []() -> CustomReportConnectTarget* {
    if (!gInstance) gInstance = new frmCustomReport(gMainWindow);
    return gInstance;
  };
}

// Installed once the application object exists: the connect step's
// target is a global of another file, whose own initialisation must come
// first.
Q_COREAPP_STARTUP_FUNCTION(InstallCustomReportSeam)
