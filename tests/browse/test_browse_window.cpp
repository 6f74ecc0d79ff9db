// The browse window with a stand-in collector that records its calls:
// Load, the tab strips of every node kind and the 138 TabNames, which
// collector call each page makes, the "already collected?" lookup, bind
// errors, the grid, sorting, the pop-up menu, favourites, lazy expansion,
// the splitter and closing.
#include <gtest/gtest.h>

#include <QMouseEvent>
#include <QTabBar>
#include <QTabWidget>
#include <QToolBar>

#include <algorithm>
#include <functional>
#include <map>
#include <set>

#include "BrowseKit.h"
#include "DefaultColumnSets.h"
#include "ComFactory.h"
#include "FlexGrid.h"
#include "IExch55Info.h"
#include "WriteJournal.h"

using namespace browse_test;

namespace {

struct Call {
  std::string method;
  int type = -1;
  std::string server, user, password, path;
  long hwnd = 0;
};

std::vector<Call> gCalls;
// What the stand-in does for a call: writes rows, returns bind errors.
std::function<void(const Call&, std::string*)> gOnCall;

class FakeCollector : public velmo::com::ComObject, public _Exch55Info {
 public:
  void* QueryInterface(std::string_view iid) override {
    return iid == _Exch55Info::IID ? static_cast<_Exch55Info*>(this) : nullptr;
  }
  void GetMailboxInfo(int16_t t, const std::string& s, const std::string& u, const std::string& p,
                      const std::string& path, std::string* e) override {
    Run({"GetMailboxInfo", t, s, u, p, path}, e);
  }
  void GetDLInfo(int16_t t, const std::string& s, const std::string& u, const std::string& p,
                 const std::string& path, std::string* e) override {
    Run({"GetDLInfo", t, s, u, p, path}, e);
  }
  void GetPublicFolderInfo(int16_t t, const std::string& s, const std::string& u, const std::string& p, long hwnd,
                           const std::string& path, std::string* e) override {
    Run({"GetPublicFolderInfo", t, s, u, p, path, hwnd}, e);
  }
  void GetCustomRecipInfo(int16_t t, const std::string& s, const std::string& u, const std::string& p,
                          const std::string& path, std::string* e) override {
    Run({"GetCustomRecipInfo", t, s, u, p, path}, e);
  }
  void GetObjectsInContainer(const std::string&, const std::string&, const std::string&) override {}
  void GetProtocolInfo(const std::string& s, const std::string& u, const std::string& p, std::string* e) override {
    Run({"GetProtocolInfo", -1, s, u, p}, e);
  }
  void GetPrivateISInfo(const std::string& s, const std::string& u, const std::string& p, std::string* e) override {
    Run({"GetPrivateISInfo", -1, s, u, p}, e);
  }
  void GetServerInfo(const std::string& s, const std::string& u, const std::string& p, std::string* e) override {
    Run({"GetServerInfo", -1, s, u, p}, e);
  }
  void GetServerProtocolsInfo(const std::string& s, const std::string& u, const std::string& p,
                              std::string* e) override {
    Run({"GetServerProtocolsInfo", -1, s, u, p}, e);
  }
  void GetPublicISInfo(const std::string& s, const std::string& u, const std::string& p, std::string* e) override {
    Run({"GetPublicISInfo", -1, s, u, p}, e);
  }
  void GetConnectorInfo(const std::string& s, const std::string& u, const std::string& p, std::string* e) override {
    Run({"GetConnectorInfo", -1, s, u, p}, e);
  }
  void GetPublicFolderInfoUsingProfile(int16_t, const std::string&, const std::string&, const std::string&,
                                       const std::string&, const std::string&, std::string*) override {}
  std::string ErrorLogFileName() const override { return log_; }
  void ErrorLogFileName(const std::string& v) override { log_ = v; }

 private:
  static void Run(Call c, std::string* e) {
    gCalls.push_back(c);
    if (gOnCall) gOnCall(c, e);
  }
  std::string log_;
};

class BrowseWindowTest : public BrowseTest {
 protected:
  void SetUp() override {
    BrowseTest::SetUp();
    gCalls.clear();
    gOnCall = nullptr;
    velmo::com::RegisterBuiltin("VELMO.Exch55Info", [] { return new FakeCollector(); });
  }
  void TearDown() override {
    velmo::com::UnregisterBuiltin("VELMO.Exch55Info");
    gOnCall = nullptr;
    BrowseTest::TearDown();
  }
  // Shows a page: node, type tab (by caption), property tab (by caption).
  void Show(frmExch* w, const std::string& key, const std::string& type, const std::string& page) {
    Click(w, key);
    for (int i = 0; !type.empty() && i < w->tabType->count(); ++i)
      if (w->tabType->tabText(i).toStdString() == type) w->ClickTypeTab(i);
    for (int i = 0; i < w->tabProp->count(); ++i)
      if (w->tabProp->tabText(i).toStdString() == page) w->ClickPropTab(i);
  }
  size_t CallsNow() const { return gCalls.size(); }
};

}  // namespace

TEST_F(BrowseWindowTest, LoadBuildsTheTreeAndHidesGridAndTypeTabs) {
  frmExch* w = Open("ex1", "Lakeside");
  EXPECT_EQ(w->windowTitle().toStdString(), "EX1 - Velmor");
  EXPECT_NE(FindTreeNode(*w->tvwServers, kEX1), nullptr);  // upper-cased server name
  EXPECT_EQ(PropKeys(w), (std::vector<std::string>{"Container1General", "Container1Permissions"}));
  EXPECT_FALSE(w->Grd1()->Visible());
  EXPECT_FALSE(w->TypeTabVisible());
  EXPECT_EQ(gfrmExchWindows[w->iFrmID], w);

  // List Exchange Servers opens a window without a tree.
  main->mnuListAllServers_Click();
  Pump();
  auto* listed = dynamic_cast<frmExch*>(NewestExchWindow());
  ASSERT_NE(listed, nullptr);
  ASSERT_NE(listed, w);
  EXPECT_EQ(listed->tvwServers->topLevelItemCount(), 0);
}

// Every node, every type tab: the strips, their images and the TabNames;
// and for each page the collector call it makes (the stand-in writes
// nothing, so every page collects).
TEST_F(BrowseWindowTest, EveryNodeKindOffersItsTabsAndCallsItsCollector) {
  frmExch* w = Open("EX1", "Lakeside", "dc=CORP,cn=Administrator", "secret");
  std::set<std::string> seen;
  std::map<std::string, Call> callOf;  // node key + "|" + TabName
  std::vector<QTreeWidgetItem*> nodes;
  for (QTreeWidgetItemIterator it(w->tvwServers); *it; ++it)
    if (NodeText(*it) != "Childnodetext") nodes.push_back(*it);
  for (QTreeWidgetItem* node : nodes) {
    const std::string key = NodeKey(node);
    w->tvwServers_NodeClick(node);
    const int types = std::max(1, w->tabType->count());
    for (int t = 0; t < types; ++t) {
      if (w->tabType->count() > 0) w->ClickTypeTab(t);
      for (int p = 0; p < w->tabProp->count(); ++p) {
        const size_t before = CallsNow();
        w->ClickPropTab(p);
        seen.insert(w->PropTabKey());
        if (CallsNow() > before) callOf[key + "|" + w->PropTabKey()] = gCalls.back();
      }
    }
  }
  // 138 pages, each with its default column set and its data table.
  EXPECT_EQ(seen.size(), 138u);
  std::set<std::string> withDefaults;
  for (const auto& set : DefaultColumnSets()) withDefaults.insert(set.tabName);
  for (const auto& tab : seen) {
    EXPECT_EQ(withDefaults.count(tab), 1u) << tab;
    EXPECT_FALSE(GetTableNameFor(tab, "").empty()) << tab;
  }

  // The strips of a few kinds.
  Click(w, "o=Velmor/ou=Lakeside/cn=Configuration/cn=Connections");
  EXPECT_EQ(TypeCaptions(w), (std::vector<std::string>{"Summary", "Internet Mail Connector", "MS Mail Connector",
                                                       "Site Connector", "Newsfeed"}));
  EXPECT_EQ(w->TypeTabImage(3), "SiteConnector");
  EXPECT_EQ(PropKeys(w), (std::vector<std::string>{"Container2General", "Container2Permissions"}));
  w->ClickTypeTab(2);
  EXPECT_EQ(PropKeys(w).front(), "MS Mail ConnectorGeneral");
  EXPECT_EQ(PropKeys(w).size(), 4u);
  EXPECT_EQ(TypeCaptions(w).size(), 5u);
  Click(w, kEX1);
  EXPECT_FALSE(w->TypeTabVisible());
  EXPECT_EQ(w->tabType->count(), 0);
  Click(w, kLakeRecipients);
  EXPECT_TRUE(w->TypeTabVisible());
  EXPECT_EQ(w->TypeTabCaption(), "Summary");
  EXPECT_EQ(w->TypeTabImage(1), "MB");
  Click(w, kEX1 + "/cn=Server Recipients");
  EXPECT_EQ(PropKeys(w).size(), 13u);
  EXPECT_EQ(PropKeys(w)[1], "MailboxesGeneral");
  EXPECT_EQ(frmExch::ClassifyNode(Node(w, "Childnodetext1")), RecipientContainer);
  EXPECT_EQ(frmExch::ClassifyNode(Node(w, kEX1 + "/cn=Server Recipients")), ServerRecipients);

  // Which collector each page calls, with the window's credentials.
  auto expectCall = [&](const std::string& key, const std::string& tab, const std::string& method, int type) {
    auto it = callOf.find(key + "|" + tab);
    ASSERT_NE(it, callOf.end()) << key << " " << tab;
    EXPECT_EQ(it->second.method, method) << tab;
    EXPECT_EQ(it->second.type, type) << tab;
    EXPECT_EQ(it->second.server, "EX1");
    EXPECT_EQ(it->second.user, "dc=CORP,cn=Administrator");
    EXPECT_EQ(it->second.password, "secret");
  };
  const std::string site = "o=Velmor/ou=Lakeside", config = site + "/cn=Configuration";
  expectCall("o=Velmor", "Container1General", "GetServerInfo", -1);
  expectCall(kLakeRecipients, "MailboxesPhone/Notes", "GetMailboxInfo", 1);
  expectCall(kLakeRecipients, "MailboxesLimits", "GetMailboxInfo", 7);
  expectCall(kLakeRecipients, "Distribution ListsE-Mail Addresses", "GetDLInfo", 2);
  expectCall(kLakeRecipients, "Public FoldersPermissions", "GetPublicFolderInfo", 1);
  expectCall(kLakeRecipients, "Custom RecipientsDelivery Restrictions", "GetCustomRecipInfo", 4);
  expectCall(config + "/cn=Protocols", "ProtocolsGeneral", "GetServerInfo", -1);
  expectCall(config + "/cn=Protocols", "HTTPFolder Shortcuts", "GetProtocolInfo", -1);
  expectCall(kEX1 + "/cn=Protocols", "ServerIMAP4General", "GetServerProtocolsInfo", -1);
  expectCall(kEX1 + "/cn=Microsoft Private MDB", "Private Information StoreGeneral", "GetPrivateISInfo", -1);
  expectCall(config + "/cn=Connections", "NewsfeedHosts", "GetConnectorInfo", -1);
  expectCall(kEX1 + "/cn=Server Recipients", "MailboxesGeneral", "GetMailboxInfo", 0);
  EXPECT_EQ(callOf[kLakeRecipients + "|MailboxesGeneral"].path, kLakeRecipients);
  EXPECT_EQ(callOf[kEX1 + "/cn=Server Recipients|MailboxesGeneral"].path, kEX1 + "/cn=Server Recipients");
  EXPECT_EQ(callOf[kLakeRecipients + "|Public FoldersGeneral"].hwnd, w->WindowHandle());
  // The store resources go to the information store, not to the collector.
  EXPECT_EQ(callOf.count(kEX1 + "/cn=Microsoft Private MDB|Private Information StoreMailbox Resources"), 0u);
}

// Objects whose rows share one table are looked up by their own node: the
// MTA's diagnostics logging does not hide the private store's, and one
// container's mailboxes do not hide the server's.
TEST_F(BrowseWindowTest, SharedTablesAreLookedUpPerNode) {
  frmExch* w = Open("EX1", "Lakeside");
  gOnCall = [&](const Call& c, std::string*) {
    const std::string path = c.method == "GetServerInfo"      ? kEX1 + "/cn=Microsoft MTA"
                             : c.method == "GetPrivateISInfo" ? kEX1 + "/cn=Microsoft Private MDB"
                                                              : "";
    if (!path.empty()) Insert("DiagLogging", {"ServerName", "Object Path", "Display Name"}, {"EX1", path, "x"});
    if (c.method == "GetServerInfo") Insert("ServerObjectsInfo", {"ServerName", "Display Name"}, {"EX1", "MTA"});
    // A whole walk of the server's recipients writes every container's
    // rows in place of the containers' own and marks its page collected,
    // as the collector's does.
    if (c.method == "GetMailboxInfo" && c.path.find("Server Recipients") != std::string::npos) {
      db::UnfinishedRows(gstrDBPath, c.server).FinishWholePage("MailboxGeneral");
      Insert("MailboxGeneral", {"ServerName", "Object Path", "Display Name", "Home Server"},
             {"EX1", kLakeRecipients, "Someone", "EX2"});
      Insert("MailboxGeneral", {"ServerName", "Object Path", "Display Name", "Home Server"},
             {"EX1", kLakeRecipients + "/cn=Sales", "Someone Else", "EX1"});
    } else if (c.method == "GetMailboxInfo") {
      Insert("MailboxGeneral", {"ServerName", "Object Path", "Display Name", "Home Server"},
             {"EX1", c.path, "Someone", c.path == kLakeRecipients ? "EX2" : "EX1"});
    }
  };
  auto methods = [&](size_t from, const std::string& only = "") {
    std::vector<std::string> m;
    for (size_t i = from; i < gCalls.size(); ++i)
      if (only.empty() || gCalls[i].method == only) m.push_back(gCalls[i].method);
    return m;
  };
  // The store's General page is there already, so only its diagnostics
  // logging page can collect.
  Insert("ServerPrivateISGeneral", {"ServerName", "Display Name"}, {"EX1", "Private Information Store"});

  Show(w, kEX1 + "/cn=Microsoft MTA", "", "Diagnostics Logging");
  size_t mark = CallsNow();
  Show(w, kEX1 + "/cn=Microsoft Private MDB", "", "Diagnostics Logging");
  EXPECT_EQ(methods(mark), (std::vector<std::string>{"GetPrivateISInfo"}));
  mark = CallsNow();
  Show(w, kEX1 + "/cn=Microsoft MTA", "", "Diagnostics Logging");
  EXPECT_EQ(methods(mark), std::vector<std::string>{});

  // The container's mailbox lives on EX2: the server's own are missing.
  Show(w, kLakeRecipients, "Mailboxes", "General");
  mark = CallsNow();
  Show(w, kEX1 + "/cn=Server Recipients", "", "General");
  EXPECT_EQ(methods(mark), (std::vector<std::string>{"GetMailboxInfo"}));
  mark = CallsNow();
  Show(w, kEX1 + "/cn=Server Recipients", "", "General");
  Show(w, kLakeRecipients, "Mailboxes", "General");
  EXPECT_EQ(methods(mark, "GetMailboxInfo"), std::vector<std::string>{});
  EXPECT_EQ(w->Grd1()->Rows(), 2);  // the container's one row, shown from the database
}

TEST_F(BrowseWindowTest, BindErrorsOfACollectionAreShownOnce) {
  frmExch* w = Open("EX1", "Lakeside");
  gOnCall = [](const Call&, std::string* e) {
    *e = "_Site container @@ -2147016646  @@   The server is not operational._";
  };
  Click(w, "o=Velmor");
  long messages = 0;
  for (const auto& s : ui->shown())
    if (s.prompt.rfind("Error occured while binding to the following item(s) : ", 0) == 0) {
      ++messages;
      EXPECT_NE(s.prompt.find("The server is not operational."), std::string::npos);
      EXPECT_NE(s.prompt.find("LDAP protocol is enabled"), std::string::npos);
    }
  EXPECT_EQ(messages, 1);
}

TEST_F(BrowseWindowTest, GridShowsTrimmedRowsAndDrivesTheReportCommands) {
  frmExch* w = Open("EX1", "Lakeside");
  velmo::FlexGrid& g = *w->Grd1();
  Insert("MailboxGeneral", {"ServerName", "Object Path", "Display Name", "Alias Name"},
         {"EX1", kLakeRecipients, "  Zed  ", db::Value()});
  Insert("MailboxGeneral", {"ServerName", "Object Path", "Display Name", "Alias Name"},
         {"EX1", kLakeRecipients, "Adam", ""});
  Insert("MailboxGeneral", {"ServerName", "Object Path", "Display Name", "Alias Name"},
         {"EX1", kLakeRecipients, "Mia", "mia"});

  w->DisplayInfo(1, "select [Display Name] as [ Name ], [Alias Name] from MailboxGeneral order by [Object Path]", 0);
  ASSERT_EQ(g.Rows(), 4);
  ASSERT_EQ(g.Cols(), 3);
  EXPECT_EQ(g.TextMatrix(0, 1), "Name");
  EXPECT_EQ(g.TextMatrix(1, 1), "Zed");
  EXPECT_EQ(g.TextMatrix(1, 2), " ");  // Null
  EXPECT_EQ(g.TextMatrix(2, 2), "");   // empty text
  EXPECT_EQ(g.ColWidth(0), 0);
  EXPECT_EQ(g.MergeCells(), velmo::flexMergeRestrictColumns);
  EXPECT_TRUE(g.MergeCol(1) && g.MergeCol(2));
  EXPECT_TRUE(main->Button(2)->isEnabled());
  EXPECT_TRUE(main->mnuPrint->isEnabled());

  // Header clicks sort ascending, descending, ascending; other rows do not sort.
  auto column = [&] { return std::vector<std::string>{g.TextMatrix(1, 1), g.TextMatrix(2, 1), g.TextMatrix(3, 1)}; };
  w->Grd1_Click(0, 1);
  EXPECT_EQ(column(), (std::vector<std::string>{"Adam", "Mia", "Zed"}));
  w->Grd1_Click(0, 1);
  EXPECT_EQ(column(), (std::vector<std::string>{"Zed", "Mia", "Adam"}));
  w->Grd1_Click(2, 1);
  EXPECT_EQ(column(), (std::vector<std::string>{"Zed", "Mia", "Adam"}));
  w->Grd1_Click(0, 1);
  EXPECT_EQ(column(), (std::vector<std::string>{"Adam", "Mia", "Zed"}));
  g.ColWidth(0, 500);
  w->Grd1_DblClick();
  EXPECT_EQ(g.ColWidth(0), 0);

  // No rows: titles only, commands off. A bad statement: logged, one row.
  w->DisplayInfo(1, "select [Display Name] from MailboxGeneral where ServerName='none'", 0);
  EXPECT_EQ(g.Rows(), 1);
  EXPECT_EQ(g.TextMatrix(0, 1), "Display Name");
  EXPECT_FALSE(main->Button(2)->isEnabled());
  EXPECT_FALSE(main->mnuFilter->isEnabled());
  w->DisplayInfo(1, "select * from NoSuchTable", 0);
  EXPECT_EQ(g.Rows(), 1);
  EXPECT_NE(ErrorLog().find("DisplayInfo RecordsetObjectOpen Failed"), std::string::npos);

  // The commands follow the active window's grid, not the one just filled.
  frmExch* other = Open("EX2", "Lakeside");
  EXPECT_EQ(ActiveExchWindowOfMdi(), other);
  w->DisplayInfo(1, "select [Display Name] from MailboxGeneral", 0);
  EXPECT_FALSE(main->Button(2)->isEnabled());
}

// Rows already in the database are shown without collecting.
TEST_F(BrowseWindowTest, ExistingRowsAreShownFromTheDatabase) {
  Insert("MailboxGeneral", {"ServerName", "Object Path", "Display Name", "Alias Name"},
         {"EX1", kLakeRecipients, "O'Neil", "soneil"});
  frmExch* w = Open("EX1", "Lakeside");
  Open("EX2", "Lakeside");  // the active window now; the page is still EX1's
  gCalls.clear();
  Show(w, kLakeRecipients, "Mailboxes", "General");
  for (const auto& c : gCalls) EXPECT_NE(c.method, "GetMailboxInfo");
  ASSERT_EQ(w->Grd1()->Rows(), 2);
  EXPECT_EQ(w->Grd1()->TextMatrix(1, 1), "O'Neil");
}

TEST_F(BrowseWindowTest, RightClickOpensThePopupMenuWithoutSelecting) {
  frmExch* w = Open("EX1", "Lakeside");
  Click(w, kEX1);
  QAction* refresh = main->popmnuRefreshServer;
  refresh->setText("untouched");
  QTreeWidgetItem* org = Node(w, "o=Velmor");
  const QPoint at = w->tvwServers->visualItemRect(org).center();
  QMouseEvent left(QEvent::MouseButtonPress, at, w->tvwServers->viewport()->mapToGlobal(at), Qt::LeftButton,
                   Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(w->tvwServers->viewport(), &left);
  EXPECT_EQ(refresh->text().toStdString(), "untouched");
  w->tvwServers->setCurrentItem(Node(w, kEX1));
  QMouseEvent right(QEvent::MouseButtonPress, at, w->tvwServers->viewport()->mapToGlobal(at), Qt::RightButton,
                    Qt::RightButton, Qt::NoModifier);
  QCoreApplication::sendEvent(w->tvwServers->viewport(), &right);
  EXPECT_EQ(refresh->text().toStdString(), "Refresh 'EX1'");
  EXPECT_EQ(w->tvwServers->currentItem(), Node(w, kEX1));
}

TEST_F(BrowseWindowTest, FavouritesTabListsFavouritesAndConnectsOne) {
  frmExch* w = Open("EX1", "Lakeside");
  std::vector<std::string> seamCalls;
  auto saved = Mdifrm::Seams();
  Mdifrm::Seams().connectInProgressWindow = [&] {
    seamCalls.push_back("connect " + main->strFavoriteORDefaultServer + " " +
                        std::to_string(main->iFavoriteORDefaultServer) + " " +
                        std::to_string(main->iFromCustomReport));
    gbConnected = true;
  };
  Mdifrm::Seams().showConnectedWindow = [&] { seamCalls.push_back("show"); };

  w->sstabObject->setCurrentIndex(1);
  ASSERT_EQ(w->tvwFavorites->topLevelItemCount(), 1);
  EXPECT_EQ(NodeText(w->tvwFavorites->topLevelItem(0)), "No Favorite Servers");
  EXPECT_EQ(NodeImage(w->tvwFavorites->topLevelItem(0)), "Favorites");
  EXPECT_TRUE(w->tabProp->isHidden());
  w->tvwFavorites_NodeClick(w->tvwFavorites->topLevelItem(0));
  EXPECT_TRUE(seamCalls.empty());

  w->sstabObject->setCurrentIndex(0);
  EXPECT_FALSE(w->tabProp->isHidden());
  Insert("VELMORCFavourites", {"ServerName", "IsDefaultSrv", "IsFavouriteSrv"}, {"EX10", "Yes", "No"});
  Insert("VELMORCFavourites", {"ServerName", "IsDefaultSrv", "IsFavouriteSrv"}, {"", "No", "Yes"});
  Insert("VELMORCFavourites", {"ServerName", "IsDefaultSrv", "IsFavouriteSrv"}, {"EX2", "No", "Yes"});
  w->sstabObject->setCurrentIndex(1);
  ASSERT_EQ(w->tvwFavorites->topLevelItemCount(), 1);
  EXPECT_EQ(NodeText(w->tvwFavorites->topLevelItem(0)), "EX2");
  w->tvwFavorites_NodeClick(w->tvwFavorites->topLevelItem(0));
  EXPECT_EQ(seamCalls, (std::vector<std::string>{"connect EX2 1 0", "show"}));
  Mdifrm::Seams() = saved;
  gbConnected = false;
}

// Sub-containers are read when a container is first expanded, once, with
// the window's own credentials.
TEST_F(BrowseWindowTest, ContainersExpandLazilyWithTheWindowsCredentials) {
  frmExch* w = Open("EX1", "Lakeside");
  QTreeWidgetItem* recipients = Node(w, kLakeRecipients);
  recipients->setExpanded(true);
  EXPECT_EQ(ChildTexts(recipients), (std::vector<std::string>{"Sales"}));  // "Restricted" needs a logon
  QTreeWidgetItem* sales = Node(w, kLakeRecipients + "/cn=Sales");
  EXPECT_EQ(NodeKey(sales->child(0)), "cn=Childnodetext1," + kLakeRecipients);
  EXPECT_EQ(NodeText(sales->child(0)), "Childnodetext1");
  recipients->setExpanded(false);
  recipients->setExpanded(true);
  EXPECT_EQ(recipients->childCount(), 1);
  // Back from the favourites tab, a sub-container gets its type strip again.
  w->tvwServers_NodeClick(sales);
  w->sstabObject->setCurrentIndex(1);
  w->sstabObject->setCurrentIndex(0);
  EXPECT_TRUE(w->TypeTabVisible());
  sales->setExpanded(true);
  QTreeWidgetItem* europe = Node(w, kLakeRecipients + "/cn=Sales/cn=Europe");
  europe->setExpanded(true);
  EXPECT_EQ(europe->childCount(), 0);

  frmExch* hill = Open("EX10", "Hilltop");
  QTreeWidgetItem* hillRecipients = Node(hill, "o=Velmor/ou=Hilltop/cn=Recipients");
  hillRecipients->setExpanded(true);
  EXPECT_EQ(ChildTexts(hillRecipients), (std::vector<std::string>{"Configuration"}));  // not skipped here

  velmo::test::PrivateSlapd closed("--no-anonymous");
  velmo::test::UseSampleDirectory useClosed(closed.hostsFile());
  frmExch* admin = Open("EX1", "Lakeside", "dc=CORP,cn=Administrator", "secret");
  QTreeWidgetItem* adminRecipients = Node(admin, kLakeRecipients);
  adminRecipients->setExpanded(true);
  EXPECT_EQ(ChildTexts(adminRecipients), (std::vector<std::string>{"Sales", "Restricted"}));
}

TEST_F(BrowseWindowTest, ClosingTheLastWindowDisablesTheReportCommands) {
  frmExch* first = Open("EX1", "Lakeside");
  frmExch* second = Open("EX2", "Lakeside");
  main->SetReportCommandsEnabled(true);
  const int slot = second->iFrmID;
  second->Window()->close();
  Pump();
  EXPECT_EQ(gfrmExchWindows[slot], nullptr);
  EXPECT_EQ(glngWindowCount, 1);
  EXPECT_TRUE(main->Button(4)->isEnabled());
  first->Window()->close();
  Pump();
  EXPECT_EQ(glngWindowCount, 0);
  EXPECT_FALSE(main->Button(4)->isEnabled());
  EXPECT_FALSE(main->mnuExport->isEnabled());
}
