// The browse window of one connected Exchange server.
#include "frmExch.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QKeyEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMouseEvent>
#include <QPointer>
#include <QScrollBar>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>
#include <memory>
#include <vector>

#include "AppFolder.h"
#include "CollectionLock.h"
#include "ComError.h"
#include "ComFactory.h"
#include "Database.h"
#include "DatabaseMaintenance.h"
#include "DialogControls.h"
#include "Directory.h"
#include "FlexGrid.h"
#include "IExch55.h"
#include "IExch55Info.h"
#include "Mdifrm.h"
#include "RecordsetGrid.h"
#include "SplitterBar.h"
#include "StopSignals.h"
#include "TextParts.h"
#include "TextPartsUnicode.h"
#include "Ui.h"
#include "WaitCursor.h"
#include "WriteJournal.h"
#include "frmAutoFormat.h"
#include "modExch.h"
#include "modExchConnect.h"
#include "modExchTree.h"
#include "modGlobals.h"

namespace db = velmo::db;
using velmo::ui::Ui;

namespace {

// ------------------------------------------------------------ tab vocabulary

struct TypeTab {
  const char* caption;
  const char* image;
};

const std::vector<TypeTab> kRecipientTypes = {{"Summary", "Recipients"},
                                              {"Mailboxes", "MB"},
                                              {"Distribution Lists", "DL"},
                                              {"Public Folders", "PF"},
                                              {"Custom Recipients", "CR"}};
const std::vector<TypeTab> kSiteProtocolTypes = {{"Summary", "Protocols"}, {"HTTP", "Protocols"},
                                                 {"IMAP4", "Protocols"},   {"LDAP", "Protocols"},
                                                 {"NNTP", "Protocols"},    {"POP3", "Protocols"}};
const std::vector<TypeTab> kConnectionTypes = {{"Summary", "Connections"},
                                               {"Internet Mail Connector", "Connector"},
                                               {"MS Mail Connector", "Connector"},
                                               {"Site Connector", "SiteConnector"},
                                               {"Newsfeed", "Newsfeed"}};
const std::vector<TypeTab> kServerProtocolTypes = {{"Summary", "Protocols"},
                                                   {"IMAP4", "Protocols"},
                                                   {"LDAP", "Protocols"},
                                                   {"NNTP", "Protocols"},
                                                   {"POP3", "Protocols"}};

using Captions = std::vector<const char*>;
const Captions kGeneralPermissions = {"General", "Permissions"};
const Captions kMailboxPages = {"Summary",          "General",           "Organization",
                                "Phone/Notes",      "Permissions",       "Distribution Lists",
                                "E-Mail Addresses", "Delivery Restrictions", "Delivery Options",
                                "Protocols",        "Custom Attributes", "Limits",
                                "Advanced"};
const Captions kDLPages = {"General",          "Permissions",       "Distribution Lists", "E-Mail Addresses",
                           "Delivery Restrictions", "Custom Attributes", "Advanced"};
const Captions kPFPages = {"General",           "Permissions", "Distribution Lists", "E-Mail Addresses",
                           "Custom Attributes", "Limits",      "Advanced"};
const Captions kCRPages = {"Summary",           "General",          "Organization",         "Phone/Notes",
                           "Permissions",       "Distribution Lists", "E-Mail Addresses", "Delivery Restrictions",
                           "Protocols",         "Custom Attributes", "Advanced"};
const Captions kHTTPPages = {"General", "Permissions", "Folder Shortcuts", "Advanced"};
const Captions kIMAP4Pages = {"General", "Permissions", "Authentication", "Anonymous", "Message Format",
                              "Idle Time-out"};
const Captions kLDAPPages = {"General", "Permissions", "Authentication", "Anonymous", "Search", "Referrals",
                             "Idle Time-out"};
const Captions kNNTPPages = {"General",        "Permissions",   "Newsfeeds", "Authentication",
                             "Message Format", "Idle Time-out", "Anonymous"};
const Captions kPOP3Pages = {"General", "Permissions", "Authentication", "Message Format", "Idle Time-out"};
const Captions kIMCPages = {"General",       "Permissions",           "Connected Sites",
                            "Address Space", "Delivery Restrictions", "Diagnostics Logging"};
const Captions kMSMailPages = {"General", "Address Space", "Diagnostics Logging", "Interchange"};
const Captions kSiteConnectorPages = {"General", "Permissions", "Target Servers", "Address Space", "Override"};
const Captions kNewsfeedPages = {"General", "Messages", "Hosts", "Connection", "Security"};
const Captions kPrivateStorePages = {"General", "Permissions", "Mailbox Resources", "Diagnostics Logging"};
const Captions kPublicStorePages = {"General",          "Instances",           "Permissions",
                                    "E-Mail Addresses", "Diagnostics Logging", "Public Folder Resources"};
const Captions kMTAPages = {"General", "Permissions", "Diagnostics Logging"};
const Captions kSAPages = {"General", "Permissions", "E-Mail Addresses"};

const std::vector<TypeTab>* TypeTabsOf(int32_t kind) {
  switch (kind) {
    case RecipientContainer: return &kRecipientTypes;
    case SiteProtocols: return &kSiteProtocolTypes;
    case ConnectionsContainer: return &kConnectionTypes;
    case ServerProtocols: return &kServerProtocolTypes;
    default: return nullptr;
  }
}

const Captions* ProtocolPages(const std::string& protocol) {
  if (protocol == "HTTP") return &kHTTPPages;
  if (protocol == "IMAP4") return &kIMAP4Pages;
  if (protocol == "LDAP") return &kLDAPPages;
  if (protocol == "NNTP") return &kNNTPPages;
  if (protocol == "POP3") return &kPOP3Pages;
  return nullptr;
}

// The property strip of a node kind (and, for the kinds with a type strip,
// of the selected type tab): the key prefix and the captions. False when
// the type caption names no strip.
bool PropertyStrip(int32_t kind, const std::string& type, std::string& prefix, const Captions*& pages) {
  switch (kind) {
    case RecipientContainer:
      if (type == "Summary") prefix = "Container2", pages = &kGeneralPermissions;
      else if (type == "Mailboxes") prefix = type, pages = &kMailboxPages;
      else if (type == "Distribution Lists") prefix = type, pages = &kDLPages;
      else if (type == "Public Folders") prefix = type, pages = &kPFPages;
      else if (type == "Custom Recipients") prefix = type, pages = &kCRPages;
      else return false;
      return true;
    case SiteProtocols:
      if (type == "Summary") prefix = "Protocols", pages = &kGeneralPermissions;
      else if ((pages = ProtocolPages(type))) prefix = type;
      else return false;
      return true;
    case ConnectionsContainer:
      if (type == "Summary") prefix = "Container2", pages = &kGeneralPermissions;
      else if (type == "Internet Mail Connector") prefix = type, pages = &kIMCPages;
      else if (type == "MS Mail Connector") prefix = type, pages = &kMSMailPages;
      else if (type == "Site Connector") prefix = type, pages = &kSiteConnectorPages;
      else if (type == "Newsfeed") prefix = type, pages = &kNewsfeedPages;
      else return false;
      return true;
    case ServerProtocols:
      if (type == "Summary") prefix = "ServerProtocols", pages = &kGeneralPermissions;
      else if (type != "HTTP" && (pages = ProtocolPages(type))) prefix = "Server" + type;
      else return false;
      return true;
    case PrivateStore: prefix = "Private Information Store", pages = &kPrivateStorePages; return true;
    case PublicStore: prefix = "Public Information Store", pages = &kPublicStorePages; return true;
    case ServerRecipients: prefix = "Mailboxes", pages = &kMailboxPages; return true;
    case MessageTransferAgent: prefix = "Message Transfer Agent", pages = &kMTAPages; return true;
    case SystemAttendant: prefix = "System Attendant", pages = &kSAPages; return true;
    case OrganizationOrSite: prefix = "Container1", pages = &kGeneralPermissions; return true;
    case SiteContainer: prefix = "Container2", pages = &kGeneralPermissions; return true;
    case ServerNode: prefix = "Server", pages = &kGeneralPermissions; return true;
    default: return false;
  }
}

// ------------------------------------------------------------------- helpers

using velmo::text::UpperUnicode;

using velmo::text::Trim;

// Lets the window repaint between the steps of a long operation; the
// user's clicks and keys wait until it is over.
void KeepPainted() {
  if (QCoreApplication::instance()) QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

// The hourglass for the time of one operation.
using Hourglass = velmo::ui::WaitCursor;

void LogError(const std::string& context, const std::exception& e) {
  if (auto* com = dynamic_cast<const velmo::ComError*>(&e))
    LogFailure(context, *com);
  else
    LogFailure(context, velmo::E_FAIL_, e.what());
}

constexpr int kSplitterWidth = 5;
constexpr int kTreePaneWidth = 240;
// The size the window opens at, and the least it can be made while its tree,
// tabs and grid stay usable.
constexpr QSize kPreferredSize(720, 440);
constexpr QSize kMinimumSize(420, 260);

}  // namespace

// The wait for another program's collection: painted, the reason in the
// status text, Escape gives it up (the status text then says so).
bool WaitForCollectionLock(velmo::exporting::CollectionLock& lock, const std::string& server) {
  namespace ex = velmo::exporting;
  std::string why;
  bool firstTime = false;
  auto outcome = lock.Take(gstrDBPath, server, nullptr, &why, &firstTime);
  if (outcome == ex::CollectionLock::Outcome::Busy) {
    QString before;
    if (QLabel* panel = gMdifrm ? gMdifrm->Panel(1) : nullptr) before = panel->text();
    SetStatusText("Another program is collecting '" + server + "'. Waiting for it to finish; Esc stops waiting.");
    // The user's keys and clicks are held off every window, as during a
    // collection, but Escape is taken as the wish to stop waiting.
    EscapeWatch escape;
    ex::CollectionWait wait;
    // A stop gives the wait up as Esc does.
    wait.keepWaiting = [&escape] {
      escape.ProcessEvents();
      return !escape.pressed && velmo::StopSignal() == 0;
    };
    outcome = lock.Take(gstrDBPath, server, &wait, &why, &firstTime);
    SetStatusText(outcome == ex::CollectionLock::Outcome::GivenUp ? std::string(kStoppedWaitingText)
                                                                  : before.toStdString());
  }
  if (outcome == ex::CollectionLock::Outcome::Unguarded && firstTime)
    LogFailure("GetAllInfo CollectionLockFile Failed", velmo::E_FAIL_,
               ex::CollectionLock::CompanionFile(gstrDBPath).string() + " : " + why);
  return outcome == ex::CollectionLock::Outcome::Taken || outcome == ex::CollectionLock::Outcome::Unguarded;
}

// ------------------------------------------------------------------- window

frmExch::frmExch(QWidget* parent) : QWidget(parent) {
  setObjectName("frmExch");
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowIcon(ProgramIcon());
  setMinimumSize(kMinimumSize);
  resize(kPreferredSize);

  pbTreeview = new QWidget(this);
  pbTreeview->setObjectName("pbTreeview");
  pbTreeview->resize(kTreePaneWidth, height());
  auto* paneLayout = new QVBoxLayout(pbTreeview);
  paneLayout->setContentsMargins(0, 0, 0, 0);
  sstabObject = new QTabWidget(pbTreeview);
  sstabObject->setObjectName("sstabObject");
  paneLayout->addWidget(sstabObject);
  tvwServers = new QTreeWidget();
  tvwServers->setObjectName("tvwServers");
  tvwFavorites = new QTreeWidget();
  tvwFavorites->setObjectName("tvwFavorites");
  for (QTreeWidget* tree : {tvwServers, tvwFavorites}) {
    tree->setHeaderHidden(true);
    tree->setRootIsDecorated(true);
    ShowWholeNodeTexts(tree);
    // Bound now, not at load: the connect step fills the tree before the
    // window is shown.
    BindTreeImages(*tree, gMdifrm ? &gMdifrm->ImgListTvw : nullptr);
  }
  sstabObject->addTab(tvwServers, "Exchange Servers");
  sstabObject->addTab(tvwFavorites, "Favorite Servers");

  // The drop lands on the nearest control the window handles.
  pbSep = new SplitterBar(
      this,
      [this](QWidget* w) {
        return w == tvwServers || w == tvwFavorites || w == sstabObject || w == tabProp || w == tabType ||
               w == pbGrd || w == Grd1();
      },
      [this](QWidget* target, int x) { SplitterDropped(target, x); });
  pbSep->setObjectName("pbSep");
  pbSep->resize(kSplitterWidth, height());

  tabProp = new QTabBar(this);
  tabProp->setObjectName("tabProp");
  tabProp->setExpanding(false);
  tabProp->setDrawBase(true);
  tabProp->addTab("General");
  tabProp->addTab("Permissions");

  pbGrd = new QWidget(this);
  pbGrd->setObjectName("pbGrd");
  auto* gridLayout = new QVBoxLayout(pbGrd);
  gridLayout->setContentsMargins(0, 0, 0, 0);
  grd1_ = new velmo::FlexGrid(pbGrd);
  grd1_->setObjectName("Grd1");
  gridLayout->addWidget(grd1_);

  tabType = new QTabBar(this);
  tabType->setObjectName("tabType");
  tabType->setExpanding(false);
  tabType->setShape(QTabBar::RoundedSouth);

  hwnd_ = velmo::ui::RegisterWindow(this);

  // Events.
  connect(tvwServers, &QTreeWidget::itemClicked, this,
          [this](QTreeWidgetItem* node, int) { tvwServers_NodeClick(node); });
  connect(tvwServers, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* node) { tvwServers_Expand(node); });
  connect(tvwFavorites, &QTreeWidget::itemClicked, this,
          [this](QTreeWidgetItem* node, int) { tvwFavorites_NodeClick(node); });
  connect(tabProp, &QTabBar::currentChanged, this, [this](int) {
    if (!rebuilding_) tabProp_Click();
  });
  connect(tabType, &QTabBar::currentChanged, this, [this](int) {
    if (!rebuilding_) tabType_Click();
  });
  connect(sstabObject, &QTabWidget::currentChanged, this, [this](int shown) { sstabObject_Click(shown == 0 ? 1 : 0); });
  connect(grd1_, &velmo::FlexGrid::clicked, this, [this](int r, int c) { Grd1_Click(r, c); });
  connect(grd1_, &velmo::FlexGrid::doubleClicked, this, [this](int, int) { Grd1_DblClick(); });
  connect(grd1_, &velmo::FlexGrid::rightClicked, this, [](const QPoint&) { ShowContextMenu(); });
  // A right click on the tree or the grid pane opens the pop-up menu and
  // leaves the selection as it is.
  tvwServers->viewport()->installEventFilter(this);
  pbGrd->installEventFilter(this);

  if (gMdiArea) {
    auto* sub = gMdiArea->addSubWindow(this);
    subWindow_ = sub;
    sub->setWindowIcon(ProgramIcon());
    if (gMdifrm && gMdifrm->MdiArea() == gMdiArea)
      gMdifrm->PlaceNewChild(sub);
    else
      sub->resize(sub->sizeHint());
  }
}

QSize frmExch::sizeHint() const { return kPreferredSize; }
QSize frmExch::minimumSizeHint() const { return kMinimumSize; }

frmExch::~frmExch() {
  if (!unloaded_) Form_Unload();
  velmo::ui::UnregisterWindow(hwnd_);
}

bool frmExch::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonPress &&
      (watched == tvwServers->viewport() || watched == pbGrd)) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() == Qt::RightButton) {
      ShowContextMenu();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void frmExch::showEvent(QShowEvent* event) {
  Form_Load();
  QWidget::showEvent(event);
}

void frmExch::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Form_Resize();
}

void frmExch::closeEvent(QCloseEvent* event) {
  Form_Unload();
  event->accept();
}

void frmExch::Form_Load() {
  if (loaded_) return;
  loaded_ = true;
  const ImageList* treeImages = gMdifrm ? &gMdifrm->ImgListTvw : nullptr;
  BindTreeImages(*tvwServers, treeImages);
  BindTreeImages(*tvwFavorites, treeImages);

  const bool listing = gMdifrm && gMdifrm->blnFromListServers;
  if (!listing && tvwServers->topLevelItemCount() == 0) {
    try {
      BuildTree(*tvwServers, 0, strOrganizationName, strSiteName, UpperUnicode(strServerName), strUserName,
                strPassword);
    } catch (const std::exception& e) {
      LogError("Exch_Form_Load BuildTree Failed", e);
    }
  }
  setWindowTitle(QString::fromStdString(UpperUnicode(strServerName) + " - " + strOrganizationName));

  rebuilding_ = true;
  tabProp->setTabData(0, QString("Container1General"));
  tabProp->setTabData(1, QString("Container1Permissions"));
  rebuilding_ = false;
  grd1_->Visible(false);
  tabType->hide();
  FitTreePane();
  Form_Resize();
}

void frmExch::FitTreePane() {
  // Wide enough for the tree's longest node text where the window has the
  // room; a narrower pane scrolls sideways.
  // Beside the column: the tree's frame, its vertical scroll bar and the
  // tab page's margins.
  const int scrollBar = tvwServers->verticalScrollBar()->sizeHint().width();
  tvwServers->resizeColumnToContents(0);
  const int wanted = tvwServers->columnWidth(0) + 2 * tvwServers->frameWidth() + scrollBar + 16;
  const int widest = width() * 9 / 20;
  pbTreeview->resize(std::clamp(wanted, kTreePaneWidth, std::max(kTreePaneWidth, widest)), pbTreeview->height());
}

void frmExch::Form_Resize() {
  const int H = height();
  pbTreeview->setGeometry(0, 0, pbTreeview->width(), H);
  pbSep->setGeometry(pbTreeview->x() + pbTreeview->width(), 0, kSplitterWidth, H);
  const int left = pbTreeview->isHidden() ? 0 : pbSep->x() + pbSep->width();
  LayoutRightSide(left, true);
}

void frmExch::LayoutRightSide(int left, bool setWidths) {
  const int W = width();
  const int H = height();
  const bool typeShown = !tabType->isHidden();
  const int propH = tabProp->sizeHint().height();
  const int typeH = tabType->sizeHint().height();
  auto place = [&](QWidget* w, int top, int h) {
    const int width = setWidths && W - left > 0 ? W - left : w->width();
    w->setGeometry(left, top, width, h);
  };
  place(tabProp, 0, propH);
  int gridH = H - propH - (typeShown ? typeH : 0);
  if (gridH <= 0) gridH = pbGrd->height();
  place(pbGrd, propH, gridH);
  place(tabType, pbGrd->y() + pbGrd->height(), typeH);
}

void frmExch::SplitterDropped(QWidget* target, int x) {
  const int minWidth = 20;
  if (target == grd1_ || target == tabProp || target == tabType || target == pbGrd) {
    int barLeft = std::max(minWidth, std::min(pbSep->x() + x, width() - minWidth));
    pbSep->move(barLeft, pbSep->y());
    pbTreeview->resize(std::max(0, pbSep->x() - pbTreeview->x()), pbTreeview->height());
  } else if (target == sstabObject || target == tvwServers || target == tvwFavorites) {
    const int w = std::max(minWidth, std::min(pbTreeview->x() + x, width() - minWidth));
    pbTreeview->resize(w, pbTreeview->height());
    pbSep->move(pbTreeview->x() + pbTreeview->width(), pbSep->y());
  } else {
    return;
  }
  // Dropped on the grid pane's background the right side only moves.
  LayoutRightSide(pbSep->x() + pbSep->width(), target != pbGrd);
}

void frmExch::Form_Unload() {
  if (unloaded_) return;
  unloaded_ = true;
  const bool last = glngWindowCount == 1 && iFrmID != 0;
  CloseExchWindowSlot(this);
  if (frmCustom) {
    frmCustom->close();
    frmCustom->deleteLater();
    frmCustom = nullptr;
  }
  if (last && gMdifrm) gMdifrm->SetReportCommandsEnabled(false);
  // The remaining windows are arranged once this one has gone.
  if (gMdifrm) {
    QPointer<Mdifrm> main = gMdifrm;
    QTimer::singleShot(0, main, [main] {
      if (main) main->CascadeChildren();
    });
  }
}

// ------------------------------------------------------------------ handlers

void frmExch::tvwServers_NodeClick(QTreeWidgetItem* node) {
  if (node && tvwServers->currentItem() != node) tvwServers->setCurrentItem(node);
  GetAllInfo(0);
}

void frmExch::tabProp_Click() { GetAllInfo(1); }

void frmExch::tabType_Click() { GetAllInfo(2); }

void frmExch::ClickTypeTab(int index) {
  if (tabType->currentIndex() == index)
    tabType_Click();
  else
    tabType->setCurrentIndex(index);
}

void frmExch::ClickPropTab(int index) {
  if (tabProp->currentIndex() == index)
    tabProp_Click();
  else
    tabProp->setCurrentIndex(index);
}

void frmExch::Grd1_Click(int mouseRow, int mouseCol) {
  if (mouseRow != 0 || mouseCol < 0 || mouseCol >= grd1_->Cols()) return;
  try {
    grd1_->Col(mouseCol);
    sortOrder_ = (mouseCol == sortedCol_ && sortOrder_ == 1) ? 2 : 1;
    grd1_->Sort(sortOrder_);
    sortedCol_ = static_cast<short>(mouseCol);
  } catch (const std::exception& e) {
    LogError("Exch_Grd1_Click Sort Failed", e);
  }
}

void frmExch::Grd1_DblClick() {
  AutoFitGrid(*grd1_);
  if (grd1_->Cols() > 0) grd1_->ColWidth(0, 0);
}

void frmExch::tvwServers_Expand(QTreeWidgetItem* node) {
  // The window's own credentials: a container that only they may read
  // must not go missing.
  ExpandContainerNode(*tvwServers, node, strServerName, strUserName, strPassword,
                      [](const std::string& key, int n) { return "cn=Childnodetext" + std::to_string(n) + "," + key; });
}

void frmExch::sstabObject_Click(int previousTab) {
  if (previousTab == 1) {
    tabProp->show();
    if (gridFilled_) grd1_->Visible(true);
    // The type strip comes back for the nodes that have one (any recipient
    // container, not only one named "Recipients").
    if (TypeTabsOf(ClassifyNode(tvwServers->currentItem())) && tabType->count() > 0) tabType->show();
    Form_Resize();
    return;
  }
  if (previousTab != 0) return;

  setUpdatesEnabled(false);
  tabProp->hide();
  grd1_->Visible(false);
  tabType->hide();
  tvwFavorites->clear();
  BindTreeImages(*tvwFavorites, gMdifrm ? &gMdifrm->ImgListTvw : nullptr);
  try {
    AddTreeNode(*tvwFavorites, nullptr, "", "No Favorite Servers", "Favorites");
    if (!gConn) throw velmo::ComError(db::kDbClosed, "The connection to the database is not open.");
    db::Recordset rs;
    rs.Open("select * from VELMORCFavourites where IsFavouriteSrv='Yes'", *gConn, db::adOpenKeyset,
            db::adLockOptimistic);
    if (rs.RecordCount() != 0) {
      tvwFavorites->clear();
      for (; !rs.Eof(); rs.MoveNext()) {
        const std::string server = rs[0L].Text();
        if (server.empty()) continue;
        auto* item = new QTreeWidgetItem(QStringList(QString::fromStdString(server)));
        item->setData(0, kNodeImageRole, QString("Server"));
        if (gMdifrm) item->setIcon(0, gMdifrm->ImgListTvw.Item("Server"));
        tvwFavorites->addTopLevelItem(item);
      }
    }
    rs.Close();
    tvwFavorites->expandAll();
  } catch (const std::exception& e) {
    LogError("Exch_Form_Load RecordsetObjectOpen Failed", e);
  }
  setUpdatesEnabled(true);
}

void frmExch::tvwFavorites_NodeClick(QTreeWidgetItem* node) {
  if (!node || NodeText(node) == "No Favorite Servers" || !gMdifrm) return;
  gMdifrm->iFromCustomReport = 0;
  gMdifrm->strFavoriteORDefaultServer = NodeText(node);
  gMdifrm->iFavoriteORDefaultServer = 1;
  auto& seams = Mdifrm::Seams();
  if (!seams.connectInProgressWindow) return;
  seams.connectInProgressWindow();
  if (gbConnected && seams.showConnectedWindow) seams.showConnectedWindow();
}

// --------------------------------------------------------------- tab strips

void frmExch::SetupInfoTabs(int32_t nodeKind, int32_t iFromWhere) {
  rebuilding_ = true;
  if (iFromWhere != 1)
    while (tabProp->count() > 0) tabProp->removeTab(tabProp->count() - 1);
  if (iFromWhere == 0) {
    while (tabType->count() > 0) tabType->removeTab(tabType->count() - 1);
    typeImages_.clear();
  }

  grd1_->Visible(true);
  // The type strip sits below the grid pane for the kinds that have one;
  // otherwise the grid pane reaches the bottom of the window.
  const std::vector<TypeTab>* types = TypeTabsOf(nodeKind);
  tabType->setVisible(types != nullptr);
  Form_Resize();

  if (iFromWhere != 1) {
    if (iFromWhere == 0 && types) {
      const ImageList* images = gMdifrm ? &gMdifrm->ImgListTab : nullptr;
      for (const auto& t : *types) {
        const int i = tabType->addTab(t.caption);
        tabType->setTabData(i, QString());
        tabType->setTabToolTip(i, QString());
        if (images) tabType->setTabIcon(i, images->Item(t.image));
        typeImages_.push_back(t.image);
      }
    }
    std::string prefix;
    const Captions* pages = nullptr;
    if (PropertyStrip(nodeKind, types ? TypeTabCaption() : std::string(), prefix, pages)) {
      for (const char* caption : *pages) {
        const int i = tabProp->addTab(caption);
        tabProp->setTabData(i, QString::fromStdString(prefix + caption));
      }
    }
  }
  rebuilding_ = false;
  Form_Resize();
}

// ------------------------------------------------------------ what is shown

QWidget* frmExch::Window() { return subWindow_ ? subWindow_ : this; }

std::string frmExch::TypeTabImage(int index) const {
  return index >= 0 && index < static_cast<int>(typeImages_.size()) ? typeImages_[static_cast<size_t>(index)]
                                                                     : std::string();
}

TreeNodeInfo frmExch::SelectedNode() {
  TreeNodeInfo info;
  QTreeWidgetItem* node = tvwServers->currentItem();
  if (!node) return info;
  info.valid = true;
  info.text = NodeText(node);
  info.key = NodeKey(node);
  info.parentText = NodeText(node->parent());
  if (IsFirstTreeNode(node)) {
    info.index = 1;
  } else {
    // Position in the order the tree lists its nodes, from 1.
    int n = 0;
    for (QTreeWidgetItemIterator it(tvwServers); *it; ++it) {
      ++n;
      if (*it == node) break;
    }
    info.index = n;
  }
  return info;
}

bool frmExch::TypeTabVisible() { return !tabType->isHidden(); }

std::string frmExch::TypeTabCaption() {
  const int i = tabType->currentIndex();
  return i < 0 ? std::string() : tabType->tabText(i).toStdString();
}

std::string frmExch::PropTabKey() {
  const int i = tabProp->currentIndex();
  return i < 0 ? std::string() : tabProp->tabData(i).toString().toStdString();
}

std::string frmExch::PropTabCaption() {
  const int i = tabProp->currentIndex();
  return i < 0 ? std::string() : tabProp->tabText(i).toStdString();
}

int frmExch::ClassifyNode(const QTreeWidgetItem* node) {
  if (!node) return -1;
  const QTreeWidgetItem* parent = node->parent();
  const std::string text = NodeText(node);
  const std::string parentText = NodeText(parent);
  const std::string image = NodeImage(node);
  if (IsFirstTreeNode(node)) return OrganizationOrSite;
  if (IsFirstTreeNode(parent)) return OrganizationOrSite;
  if (image == "Recipients" && text == "Server Recipients") return ServerRecipients;
  if (image == "Recipients") return RecipientContainer;
  if (parent && IsFirstTreeNode(parent->parent())) return SiteContainer;
  if (parentText == "Servers") return ServerNode;
  if (text == "Servers") return SiteContainer;
  if (text == "Protocols" && parentText == "Configuration") return SiteProtocols;
  if (text == "Connections") return ConnectionsContainer;
  if (text == "Private Information Store") return PrivateStore;
  if (text == "Protocols") return ServerProtocols;
  if (text == "Public Information Store") return PublicStore;
  if (text == "Server Recipients") return ServerRecipients;
  if (text == "Message Transfer Agent") return MessageTransferAgent;
  if (text == "System Attendant") return SystemAttendant;
  return -1;
}

// ------------------------------------------------------------------ collect

void frmExch::GetAllInfo(int iFromWhere) {
  if (busy_) return;
  // Cleared however the collection ends, an exception too: a window left
  // busy would refuse every later collection and hold a stop off for good.
  struct BusyScope {
    explicit BusyScope(bool& flag) : busy(flag) { busy = true; }
    ~BusyScope() { busy = false; }
    bool& busy;
  } busyScope(busy_);
  const velmo::WorkUnderWay work;
  Hourglass hourglass;
  QTreeWidgetItem* node = tvwServers->currentItem();
  bool stoppedWaiting = false;  // the user gave up the wait for another program
  bool stoppedCollecting = false;  // the user gave the collection up with Escape
  bool lockWaitGivenUp = false;    // ... while the database was locked
  std::string unfinishedKept;      // why rows of an unfinished collection stay

  try {
    setUpdatesEnabled(false);
    const int kind = ClassifyNode(node);
    if (kind >= 0) SetupInfoTabs(kind, iFromWhere);
  } catch (const std::exception& e) {
    LogError("GetAllInfo SetupInfoTabs Failed", e);
  }
  setUpdatesEnabled(true);

  if (node) {
    const std::string caption = TypeTabVisible() ? TypeTabCaption() : NodeText(node);
    SetStatusText("Retrieving " + caption + " Information from '" + strServerName + "'");
    KeepPainted();

    const std::string tabName = PropTabKey();
    const std::string table = GetTableNameFor(tabName, NodeText(node));
    const std::string text = NodeText(node);
    const std::string parentText = NodeText(node->parent());
    const bool isOrg = IsFirstTreeNode(node);

    // Are the rows of this node and page already there? The node condition
    // keeps apart the objects whose rows share one table: the diagnostics
    // logging of the MTA, the stores and the connectors, and the mailboxes
    // of one server against those of one container.
    std::string lookup = "select * from [" + table + "] where ServerName = ?";
    std::vector<db::Value> params{db::Value(strServerName)};
    // The server's mailboxes share their table with those of each
    // container, whose own pages write rows homed on the server too: the
    // page counts as collected only once its own walk over every
    // container has ended whole and marked it so.
    bool wholeWalkPage = false;
    if (TypeTabVisible() && NodeImage(node) == "Recipients") {
      lookup += " and [Object Path] = ?";
      params.emplace_back(NodeKey(node));
    } else if (text == "Server Recipients") {
      lookup += " and [Home Server] = ?";
      params.emplace_back(strServerName);
      wholeWalkPage = true;
    } else if (table == "DiagLogging") {
      lookup += " and [Object Path] = ?";
      params.emplace_back(NodeKey(node));
    }
    if (!isOrg && text == "Protocols")
      lookup += parentText != "Configuration" ? " and Level='Server'" : " and Level='Site'";

    // Another program collecting this server is waited for before the
    // look-up, which then finds the rows it wrote. Escape ends the wait:
    // nothing is looked up or collected, the grid shows what the database
    // holds, and the status text says that the wait was given up.
    velmo::exporting::CollectionLock lock;
    long found = -1;
    stoppedWaiting = !WaitForCollectionLock(lock, strServerName);
    // Escape gives the database's and the directory's waits up from here
    // on (a server that stopped answering need not be waited for, nor
    // another program's write lock): the call takes its rows back, and the
    // status text says why nothing was collected.
    EscapeWatch escape;
    EscapeWatch* outerEscape = gCollectionEscape;
    gCollectionEscape = &escape;
    struct RestoreEscape {
      EscapeWatch* outer;
      ~RestoreEscape() { gCollectionEscape = outer; }
    } restoreEscape{outerEscape};
    // Rows that an unfinished collection of this server left (a program
    // ended between two of its pages, or its take-back was refused) go
    // before anything of the server is looked up, so that no look-up takes
    // them for a collected page.
    if (!stoppedWaiting) unfinishedKept = UnfinishedRowsCheck(strServerName, "GetAllInfo").Kept();
    if (!stoppedWaiting && unfinishedKept.empty()) {
      try {
        if (!gConn) throw velmo::ComError(db::kDbClosed, "The connection to the database is not open.");
        db::Recordset rs;
        rs.Open(lookup, *gConn, params, db::adOpenKeyset, db::adLockOptimistic);
        found = rs.RecordCount();
        rs.Close();
        if (found > 0 && wholeWalkPage && !db::PageCollectedWhole(*gConn, strServerName, table)) found = 0;
      } catch (const std::exception& e) {
        LogError("GetAllInfo RecordsetObjectOpen Failed", e);
      }
    }

    if (found == 0) {
      std::string strRetErrorMsg;
      const uint64_t givenUpBefore = velmo::ads::WaitsGivenUp();
      Collect(node, table, strRetErrorMsg);
      // Nothing waits any more: the box below does not say otherwise.
      EndLockWaitText(escape);
      gCollectionEscape = outerEscape;
      lock.Release();
      KeepPainted();
      stoppedCollecting = escape.pressed && velmo::ads::WaitsGivenUp() != givenUpBefore;
      try {
        if (!stoppedCollecting) ShowBindErrors(1, strRetErrorMsg);
      } catch (const std::exception& e) {
        LogError("GetAllInfo ShowBindErrors Failed", e);
      }
    }
    gCollectionEscape = outerEscape;
    lock.Release();
    lockWaitGivenUp = escape.lockWaitGivenUp;

    try {
      // The statement is built for the current browse window: this one.
      if (auto* sub = qobject_cast<QMdiSubWindow*>(subWindow_); sub && gMdiArea && gMdiArea->currentSubWindow() != sub)
        gMdiArea->setActiveSubWindow(sub);
      // Rows of an unfinished collection are never shown as the page, nor
      // are the server's mailboxes before a walk over every container has
      // ended whole (they would be those of the containers browsed alone).
      bool partPage = false;
      if (wholeWalkPage) {
        try {
          partPage = !gConn || !db::PageCollectedWhole(*gConn, strServerName, table);
        } catch (const std::exception&) {
          partPage = true;  // the file cannot be read: nothing of it is shown
        }
      }
      if (partPage || !unfinishedKept.empty() || (gConn && db::HasUnfinishedRows(*gConn, strServerName, table)))
        ShowNoRows();
      else
        DisplayInfo(1, GetQuery(0), 0);
    } catch (const std::exception& e) {
      LogError("GetAllInfo DisplayInfo Failed", e);
    }
  }

  if (lockWaitGivenUp && (stoppedCollecting || !unfinishedKept.empty()))
    SetStatusText(kStoppedLockWaitText);
  else if (!unfinishedKept.empty())
    SetStatusText("The rows of an unfinished collection of '" + strServerName +
                  "' could not be removed, so nothing of it is shown: " + unfinishedKept);
  else
    SetStatusText(stoppedWaiting ? kStoppedWaitingText : stoppedCollecting ? kStoppedCollectingText : "");
}

void frmExch::ShowNoRows() {
  grd1_->Clear();
  grd1_->Rows(1);
  grd1_->ColWidth(0, 0);
  SetReportCommands();
}

void frmExch::Collect(QTreeWidgetItem* node, const std::string& table, std::string& strRetErrorMsg) {
  const std::string text = NodeText(node);
  const std::string parentText = NodeText(node->parent());
  const std::string image = NodeImage(node);
  const bool summary = TypeTabCaption() == "Summary";
  const std::string page = PropTabCaption();

  // The store resources come from the information store itself.
  if (!IsFirstTreeNode(node) && !IsFirstTreeNode(node->parent()) && text != "Configuration" &&
      image != "Recipients" && !(text == "Protocols" && parentText == "Configuration")) {
    if (text == "Private Information Store" && page == "Mailbox Resources") {
      CollectStoreResources(0);
      return;
    }
    if (text == "Public Information Store" && page == "Public Folder Resources") {
      CollectStoreResources(1);
      return;
    }
  }

  std::shared_ptr<_Exch55Info> info;
  try {
    info = velmo::com::CreateObject<_Exch55Info>("VELMO.Exch55Info");
    info->ErrorLogFileName("VelmorcastErrorLog.log");
  } catch (const velmo::ComError& e) {
    LogFailure("GetAllInfo CollectorObjectCreation Failed", e);
    Ui().MsgBox(e.Description(), velmo::ui::vbInformation, kProductTitle);
    return;
  }

  const std::string& S = strServerName;
  const std::string& U = strUserName;
  const std::string& P = strPassword;
  std::string* err = &strRetErrorMsg;
  try {
    if (IsFirstTreeNode(node) || IsFirstTreeNode(node->parent()) || text == "Configuration")
      info->GetServerInfo(S, U, P, err);
    else if (image == "Recipients")
      CollectForContainer(*info, table, NodeKey(node), strRetErrorMsg);
    else if (text == "Protocols" && parentText == "Configuration")
      summary ? info->GetServerInfo(S, U, P, err) : info->GetProtocolInfo(S, U, P, err);
    else if (text == "Private Information Store")
      info->GetPrivateISInfo(S, U, P, err);
    else if (text == "Public Information Store")
      info->GetPublicISInfo(S, U, P, err);
    else if (text == "Protocols")
      summary ? info->GetServerInfo(S, U, P, err) : info->GetServerProtocolsInfo(S, U, P, err);
    else if (text == "Servers" || parentText == "Servers" || text == "Message Transfer Agent" ||
             text == "System Attendant")
      info->GetServerInfo(S, U, P, err);
    else if (text == "Connections")
      summary ? info->GetServerInfo(S, U, P, err) : info->GetConnectorInfo(S, U, P, err);
  } catch (const std::exception& e) {
    LogError("GetAllInfo Collect Failed", e);
  }
}

void frmExch::CollectForContainer(_Exch55Info& info, const std::string& table, const std::string& path,
                                  std::string& strRetErrorMsg) {
  static const std::vector<std::string> mailbox = {"MailboxGeneral", "MailboxOrgnPhoneNotes", "MailboxPerm",
                                                   "MailboxDLEMailAddr", "MailboxDelivRestr", "MailboxProtocols",
                                                   "MailboxCustomAttr", "MailboxAdvanced"};
  static const std::vector<std::string> lists = {"DLGeneral",    "DLPerm",       "DLDLEMailAddr",
                                                 "DLDelivRestr", "DLCustomAttr", "DLAdvanced"};
  static const std::vector<std::string> folders = {"PFGeneral", "PFPerm", "PFDLEMailAddr", "PFCustomAttr",
                                                   "PFAdvanced"};
  static const std::vector<std::string> custom = {"CRGeneral",    "CROrgnPhoneNotes", "CRPerm",
                                                  "CRDLEMailAddr", "CRDelivRestr",    "CRProtocols",
                                                  "CRCustomAttr", "CRAdvanced"};
  auto indexIn = [&](const std::vector<std::string>& names) -> int16_t {
    for (size_t i = 0; i < names.size(); ++i)
      if (names[i] == table) return static_cast<int16_t>(i);
    return -1;
  };
  const std::string& S = strServerName;
  const std::string& U = strUserName;
  const std::string& P = strPassword;
  int16_t type;
  if (table == "ContainerInfo" || table == "ServerObjectsPerm")
    info.GetServerInfo(S, U, P, &strRetErrorMsg);
  else if ((type = indexIn(mailbox)) >= 0)
    info.GetMailboxInfo(type, S, U, P, path, &strRetErrorMsg);
  else if ((type = indexIn(lists)) >= 0)
    info.GetDLInfo(type, S, U, P, path, &strRetErrorMsg);
  else if ((type = indexIn(folders)) >= 0)
    info.GetPublicFolderInfo(type, S, U, P, hwnd_, path, &strRetErrorMsg);
  else if ((type = indexIn(custom)) >= 0)
    info.GetCustomRecipInfo(type, S, U, P, path, &strRetErrorMsg);
}

void frmExch::CollectStoreResources(long lMode) {
  try {
    velmo::com::CreateObjectRaw("MAPI.Session");
  } catch (const std::exception&) {
    Ui().MsgBox(lMode == 0 ? "Please install Outlook 97 or above/Exchange 5.5 or 2000 to view Mailbox Resources "
                             "information."
                           : "Please install Outlook 97 or above/Exchange 5.5 or 2000 to view Public Folder "
                             "Resources information.",
                velmo::ui::vbInformation, kProductTitle);
    return;
  }
  std::shared_ptr<IExch55> exch;
  try {
    exch = velmo::com::CreateObject<IExch55>("VELMORCCom.Exch55");
  } catch (const velmo::ComError& e) {
    Ui().MsgBox(e.Description(), velmo::ui::vbInformation, kProductTitle);
    return;
  }
  exch->ApplicationPath(velmo::AppFolderText());
  const int32_t hr =
      exch->GetISResources(lMode, strServerName, strOrganizationName, strSiteName, gstrDBPath, hwnd_);
  if (hr < 0 && hr != velmo::Hr(0x80040113) && hr != velmo::Hr(0x80010108))
    Ui().MsgBox(exch->GetErrorInfo().description, velmo::ui::vbInformation, kProductTitle);
}

// ------------------------------------------------------------------ display

void frmExch::DisplayInfo(const std::string& strInputQuery) {
  QTreeWidgetItem* node = tvwServers->currentItem();
  const std::string table = GetTableNameFor(PropTabKey(), node ? NodeText(node) : "");
  if (UnfinishedRowsCheck(strServerName, "DisplayInfo").Hides(table)) {
    ShowNoRows();
    return;
  }
  DisplayInfo(1, strInputQuery, 0);
}

void frmExch::DisplayInfo(long /*lMode*/, const std::string& strInputQuery, int /*iFromWhere*/) {
  grd1_->Clear();
  grd1_->Rows(1);
  grd1_->ColWidth(0, 0);
  grd1_->Visible(true);

  try {
    if (!gConn) throw velmo::ComError(db::kDbClosed, "The connection to the database is not open.");
    db::Recordset rs;
    rs.Open(strInputQuery, gConn->ConnectionString(), db::adOpenKeyset, db::adLockOptimistic);
    db::Fields& fields = rs.GetFields();
    const int count = static_cast<int>(fields.Count());

    grd1_->Clear();
    grd1_->Cols(count + 1);
    grd1_->MergeCells(velmo::flexMergeRestrictColumns);
    for (int i = 0; i < count; ++i) {
      grd1_->MergeCol(i + 1, true);
      grd1_->TextMatrix(0, i + 1, Trim(fields[i].Name()));
    }
    KeepPainted();

    auto rows = velmo::exporting::RecordsetGridRows(rs, [this] { KeepPainted(); });
    rs.Close();
    grd1_->SetData(std::move(rows));
    gridFilled_ = true;
    grd1_->ColWidth(0, 0);
  } catch (const std::exception& e) {
    LogError("DisplayInfo RecordsetObjectOpen Failed", e);
  }
  SetReportCommands();
}

void frmExch::SetReportCommands() {
  if (!gMdifrm) return;
  // The commands follow the grid of the active child window.
  ExchWindow* active = gMdiArea && gMdiArea->currentSubWindow() ? ActiveExchWindowOfMdi() : this;
  velmo::FlexGrid* grid = active ? active->Grd1() : nullptr;
  gMdifrm->SetReportCommandsEnabled(grid && grid->Visible() && grid->Rows() > 1);
}

// -------------------------------------------------------------- main window

namespace {
// List Exchange Servers opens a browse window without a tree.
const bool kSeamInstalled = [] {
  Mdifrm::Seams().newExchWindow = []() -> ExchWindow* { return new frmExch(); };
  return true;
}();
}  // namespace
