// The custom report window against the sample organisation collected into
// the database: opened from the menu through the connect dialog, every
// node kind's tabs, type word and engine, sorting, fitting, the buttons
// with the report flag set, Escape, connecting another server, and the
// recipient-by-recipient layout.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTabBar>
#include <QTimer>
#include <QHeaderView>
#include <QScrollBar>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include <functional>

#include "ExportKit.h"
#include "RecordingPrinter.h"
#include "TextParts.h"
#include "WindowShots.h"
#include "ReportsKit.h"
#include "frmConnect.h"
#include "frmCustomReport.h"
#include "frmCustomize.h"

using namespace reports_test;

namespace {

const std::string kSite = "o=Velmor/ou=Lakeside";
const std::string kConfig = kSite + "/cn=Configuration";

// Records whether the report flag was set when a message was shown.
class FlagUi : public velmo::ui::ScriptedUi {
 public:
  int MsgBox(const std::string& prompt, int buttons, const std::string& title) override {
    flags.push_back(prompt.substr(0, 12) + (gbCustomReport ? " set" : " clear"));
    return ScriptedUi::MsgBox(prompt, buttons, title);
  }
  std::string SaveFileName(velmo::ui::SaveFileRequest& request, long owner) override {
    flags.push_back(std::string("Save dialog") + (gbCustomReport ? " set" : " clear"));
    return ScriptedUi::SaveFileName(request, owner);
  }
  std::vector<std::string> flags;
};

class ReportWindowTest : public ReportsTest {
 protected:
  // Collects the pages the report reads through a browse window of EX1.
  void Collect() {
    frmExch* w = OpenMailboxesGeneral();
    for (int p : {6, 4}) w->ClickPropTab(p);  // e-mail addresses, permissions
    for (const char* key : {"/cn=Microsoft MTA", "/cn=Microsoft System Attendant", "/cn=Microsoft Private MDB"}) {
      Click(w, kConfig + "/cn=Servers/cn=EX1" + key);
      for (int p = 1; p < w->tabProp->count(); ++p) w->ClickPropTab(p);
    }
    Click(w, kConfig + "/cn=Protocols");
    w->ClickTypeTab(1);
    w->ClickPropTab(1);
    w->Window()->close();
    Pump();
  }
  // Types a server into the connect dialog when it shows, and presses OK.
  static void AnswerConnect(const std::string& server, const std::string& user = "",
                            const std::string& password = "") {
    auto* poll = new QTimer();
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, [poll, server, user, password] {
      auto* dialog = qobject_cast<frmConnect*>(QApplication::activeModalWidget());
      if (!dialog) return;
      poll->stop();
      poll->deleteLater();
      dialog->cboServerName->setEditText(QString::fromStdString(server));
      if (!user.empty()) {
        dialog->chkConnectAs->setChecked(true);
        dialog->txtUserName->setText(QString::fromStdString(user));
        dialog->txtPassword->setText(QString::fromStdString(password));
      }
      dialog->cmdOk->click();
    });
    poll->start();
  }
  // The Custom Report command, connecting to EX1; drive runs while the
  // window is shown, and the window is closed after it if still open.
  void WithReportWindow(const std::function<void(frmCustomReport&)>& drive, const std::string& user = "",
                        const std::string& password = "") {
    bool seen = false;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
      auto* w = qobject_cast<frmCustomReport*>(QApplication::activeModalWidget());
      if (!w) return;
      poll.stop();
      seen = true;
      drive(*w);
      if (w->isVisible()) w->cmdClose->click();
    });
    AnswerConnect("EX1", user, password);
    poll.start();
    main->mnuCustomReport->trigger();
    EXPECT_TRUE(seen);
    EXPECT_FALSE(gbCustomReport);
    EXPECT_EQ(main->iFromCustomReport, 0);
  }
  static QTreeWidgetItem* NodeOf(frmCustomReport& w, const std::string& key) {
    QTreeWidgetItem* n = FindTreeNode(*w.tvwServers, key);
    EXPECT_NE(n, nullptr) << key;
    return n;
  }
  // A click on a node: the selection moves to it, or the selected node is
  // clicked again.
  static void Select(frmCustomReport& w, const std::string& key) {
    QTreeWidgetItem* node = NodeOf(w, key);
    if (w.tvwServers->currentItem() == node)
      w.tvwServers_NodeClick(node);
    else
      w.tvwServers->setCurrentItem(node);
  }
  static std::vector<std::string> TabCaptions(frmCustomReport& w) {
    std::vector<std::string> out;
    for (int i = 0; i < w.tabType->count(); ++i) out.push_back(w.tabType->tabText(i).toStdString());
    return out;
  }
};

}  // namespace

TEST_F(ReportWindowTest, EveryNodeKindRunsItsReportAndTheButtonsServeTheWindow) {
  Collect();
  auto flagUi = std::make_shared<FlagUi>();
  velmo::ui::SetUi(flagUi);
  ui = flagUi;
  WithReportWindow([&](frmCustomReport& w) {
    EXPECT_EQ(w.windowTitle().toStdString(), "Custom Report");
    EXPECT_FALSE(w.grd1()->Visible());
    EXPECT_TRUE(w.tabType->isHidden());
    EXPECT_EQ(w.pbSep->x() * 15, 2655);
    EXPECT_EQ(w.pbGrd->x(), w.pbSep->x() + w.pbSep->width());
    EXPECT_EQ(w.tabType->x(), w.pbGrd->x());
    EXPECT_EQ(w.strCRServerName, "EX1");
    EXPECT_EQ(gfrmCustomReport, &w);

    const std::string ex1 = kConfig + "/cn=Servers/cn=EX1";
    struct Case {
      std::string key;
      int tabs;
      std::string type, engine;
      bool rows;
    };
    const Case cases[] = {
        {"o=Velmor", 0, "Container1", "custom", false},
        {kSite, 0, "Container1", "custom", false},
        {kConfig, 0, "Container2", "custom", false},
        {kConfig + "/cn=Connections", 5, "Container2", "custom", false},
        {kConfig + "/cn=Protocols", 6, "Container2", "custom", false},
        {kConfig + "/cn=Servers", 0, "Container2", "custom", false},
        {ex1, 0, "Container2", "custom", false},
        {ex1 + "/cn=Microsoft Private MDB", 0, "Private Information Store", "custom", true},
        {ex1 + "/cn=Protocols", 5, "ServerProtocols", "custom", false},
        {ex1 + "/cn=Microsoft Public MDB", 0, "Public Information Store", "custom", false},
        {ex1 + "/cn=Server Recipients", 0, "Mailboxes", "detail", true},
        {ex1 + "/cn=Microsoft MTA", 0, "Message Transfer Agent", "custom", true},
        {ex1 + "/cn=Microsoft System Attendant", 0, "System Attendant", "custom", true},
        {kLakeRecipients, 5, "Container2", "custom", true},
    };
    for (const auto& c : cases) {
      Select(w, c.key);
      EXPECT_EQ(w.tabType->count(), c.tabs) << c.key;
      EXPECT_EQ(!w.tabType->isHidden(), c.tabs > 0) << c.key;
      EXPECT_EQ(w.lastType, c.type) << c.key;
      EXPECT_EQ(w.lastEngine, c.engine) << c.key;
      if (c.rows) EXPECT_GT(w.grd1()->Rows(), 1) << c.key;
      EXPECT_EQ(w.grd1()->TextMatrix(0, 1), "Display Name") << c.key;
      EXPECT_EQ(w.pbGrd->height(), c.tabs ? w.tabType->y() : w.Frame1->y()) << c.key;
      EXPECT_FALSE(gbCustomReport);
    }

    // Tabs: the type word follows the tab; tabs made by code run nothing.
    w.ClickTypeTab(1);
    w.grd1_DblClick();
    Shot(&w, "custom_report");
    EXPECT_EQ(w.lastType, "Mailboxes");
    EXPECT_EQ(w.lastEngine, "detail");
    bool john = false;
    for (const auto& name : GridColumn(w.grd1())) john |= name == "John Smith";
    EXPECT_TRUE(john);
    w.ClickTypeTab(0);
    EXPECT_EQ(w.lastEngine, "custom");
    Select(w, kConfig + "/cn=Connections");
    const char* words[] = {"Container2", "Internet Mail Connector", "MS Mail Connector", "Site Connector", "Newsfeed"};
    for (int i = 4; i >= 0; --i) {
      w.ClickTypeTab(i);
      EXPECT_EQ(w.lastType, words[i]);
    }
    Select(w, ex1 + "/cn=Protocols");
    w.ClickTypeTab(1);
    EXPECT_EQ(w.lastType, "ServerIMAP4");
    EXPECT_TRUE(w.blnProtocolsNode);

    // Sorting: 3 up, 3 down, 5 up, 3 up again; a double click fits.
    Select(w, ex1 + "/cn=Server Recipients");
    std::vector<int> orders;
    for (int col : {3, 3, 5, 3}) {
      w.grd1_Click(col);
      orders.push_back(w.iSortOrder);
    }
    EXPECT_EQ(orders, (std::vector<int>{1, 2, 1, 1}));
    w.grd1()->ColWidth(0, 500);
    w.grd1_DblClick();
    EXPECT_EQ(w.grd1()->ColWidth(0), 0);

    // Export, Preview and Print run with the flag set.
    InstallRecordingPrinter();
    RecordingPrinter::onOutput = [&](const std::string& c) {
      flagUi->flags.push_back(c.substr(0, 11) + (gbCustomReport ? " set" : " clear"));
    };
    for (QPushButton* b : {w.cmdExport, w.cmdPreview, w.cmdPrint}) b->click();
    UninstallRecordingPrinter();
    ASSERT_EQ(flagUi->flags.size(), 3u);
    for (const auto& f : flagUi->flags) EXPECT_TRUE(f.ends_with(" set")) << f;
    EXPECT_EQ(flagUi->shown()[0].kind, "SaveFile");
    EXPECT_EQ(RecordingPrinter::grid, w.grd1());
    bool exported = false;
    const auto exportSeam = Mdifrm::Seams().exportReport;
    Mdifrm::Seams().exportReport = [&] { exported = gbCustomReport && gfrmCustomReport == &w; };
    w.cmdExport->click();
    Mdifrm::Seams().exportReport = exportSeam;
    EXPECT_TRUE(exported);

    // Escape on the tab strip does nothing; on the tree it closes.
    Select(w, kLakeRecipients);
    FocusAndType(w.tabType, Qt::Key_Escape);
    EXPECT_TRUE(w.isVisible());
    FocusAndType(w.tvwServers, Qt::Key_Escape);
    EXPECT_FALSE(w.isVisible());
  });
  EXPECT_EQ(gfrmCustomReport, nullptr);
}

TEST_F(ReportWindowTest, ConnectReplacesTheTreeAndExpansionAddsSubContainers) {
  Collect();
  WithReportWindow([&](frmCustomReport& w) {
    QTreeWidgetItem* recipients = NodeOf(w, kLakeRecipients);
    recipients->setExpanded(true);
    EXPECT_EQ(ChildTexts(recipients), (std::vector<std::string>{"Sales"}));
    EXPECT_NE(FindTreeNode(*w.tvwServers, kLakeRecipients + "/cn=Childnodetext1"), nullptr);
    recipients->setExpanded(false);
    recipients->setExpanded(true);
    EXPECT_EQ(recipients->childCount(), 1);

    Select(w, kLakeRecipients);
    const auto nodes = w.ServerNodeTexts();
    AnswerConnect("EX1");  // already shown: the dialog closes at once
    w.cmdConnect->click();
    EXPECT_EQ(w.ServerNodeTexts(), nodes);
    EXPECT_TRUE(w.grd1()->Visible());

    AnswerConnect("EX10");
    w.cmdConnect->click();
    EXPECT_EQ(w.strCRServerName, "EX10");
    EXPECT_NE(FindTreeNode(*w.tvwServers, "o=Velmor/ou=Hilltop/cn=Configuration/cn=Servers/cn=EX10"), nullptr);
    EXPECT_EQ(FindTreeNode(*w.tvwServers, kLakeRecipients), nullptr);
    EXPECT_FALSE(w.grd1()->Visible());
    EXPECT_TRUE(w.tabType->isHidden());
    EXPECT_EQ(main->iFromCustomReport, 2);
  });
}

TEST_F(ReportWindowTest, ExpansionBindsAsTheConnectAndTheSplitterKeepsEachPanelUsable) {
  WithReportWindow(
      [&](frmCustomReport& w) {
        QTreeWidgetItem* recipients = NodeOf(w, kLakeRecipients);
        recipients->setExpanded(true);
        EXPECT_EQ(ChildTexts(recipients), (std::vector<std::string>{"Sales", "Restricted"}));
        EXPECT_EQ(NodeKey(recipients->child(1)), kLakeRecipients + "/cn=Restricted");
        EXPECT_EQ(NodeKey(recipients->child(1)->child(0)), kLakeRecipients + "/cn=Childnodetext2");

        // Drops: on the tree the right side follows; on the grid panel its
        // right edge stays; no panel gets narrower than 300 twips.
        const int W = w.width(), sep = w.pbSep->width();
        w.SplitterDropped(w.tvwServers, 100);
        EXPECT_EQ(w.pbTreeview->width(), 100);
        EXPECT_EQ(w.pbSep->x(), 100);
        EXPECT_EQ(w.pbGrd->x(), 100 + sep);
        EXPECT_EQ(w.pbGrd->x() + w.pbGrd->width(), W);
        EXPECT_EQ(w.tabType->x(), 100 + sep);
        w.SplitterDropped(w.pbGrd, 50);
        EXPECT_EQ(w.pbSep->x(), 150);
        EXPECT_EQ(w.pbTreeview->width(), 150);
        EXPECT_EQ(w.pbGrd->x() + w.pbGrd->width(), W);
        w.SplitterDropped(w.grd1(), 5000);
        EXPECT_EQ(w.pbGrd->width(), 20);
        w.SplitterDropped(w.tvwServers, -5000);
        EXPECT_EQ(w.pbTreeview->width(), 20);

        // Dragged with the mouse and dropped on the tree's rows, the bar
        // counts it a drop on the tree, at the x the pointer had in it.
        auto mouse = [&](QEvent::Type type, QPoint inWindow) {
          const QPointF at = w.pbSep->mapFrom(&w, inWindow);
          QMouseEvent e(type, at, w.pbSep->mapToGlobal(at), Qt::LeftButton,
                        type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
          QApplication::sendEvent(w.pbSep, &e);
        };
        w.SplitterDropped(w.tvwServers, 100);
        mouse(QEvent::MouseButtonPress, w.pbSep->geometry().center());
        mouse(QEvent::MouseButtonRelease, w.tvwServers->mapTo(&w, QPoint(60, 40)));
        EXPECT_EQ(w.pbTreeview->width(), 60);
      },
      "CORP\\Administrator", "secret");
}

TEST_F(ReportWindowTest, RecipientsAreListedBandByBand) {
  Collect();
  const std::string box = kLakeRecipients + "/cn=Fixture";
  auto mailbox = [&](const std::string& alias) {
    Insert("MailboxGeneral", {"ServerName", "Object Path", "Display Name", "Alias Name", "Created"},
           {db::Value("EX1"), db::Value(box), db::Value(alias + " name"), db::Value(alias), db::Value("1999")});
  };
  mailbox("a1");
  mailbox("a2");
  for (const char* address : {"SMTP:a1@x", "X400:c=a1"})
    Insert("MailboxDLEmailAddr", {"ServerName", "Object Path", "Display Name", "Alias Name", "Email Address"},
           {db::Value("EX1"), db::Value(box), db::Value("a1 name"), db::Value("a1"), db::Value(address)});
  // A page's alias matches without regard to case; a row of a recipient
  // not listed shows nowhere.
  for (const auto& [who, alias] : std::vector<std::pair<const char*, const char*>>{
           {"CORP\\jsmith", "a1"}, {"CORP\\soneil", "A1"}, {"CORP\\mmuller", "a1"}, {"CORP\\nobody", "zz"}})
    Insert("MailboxPerm", {"ServerName", "Object Path", "Display Name", "Alias Name", "Windows NT Accounts With Permissions", "Roles"},
           {db::Value("EX1"), db::Value(box), db::Value("a1 name"), db::Value(alias), db::Value(who), db::Value("User")});
  for (const auto& [tab, value] : std::vector<std::pair<std::string, std::string>>{
           {"MailboxesSummary", "Alias Name"},
           {"MailboxesGeneral", "Alias Name"},
           {"MailboxesE-Mail Addresses", "Email Address"},
           {"MailboxesPermissions", "Windows NT Accounts With Permissions,Roles"},
           {"MailboxesLimits", "No Such Column"}})
    gConn->Execute("insert into VELMORCCustomReports values(?,'Bands',?)", {db::Value(tab), db::Value(value)});

  WithReportWindow([&](frmCustomReport& w) {
    AddTreeNode(*w.tvwServers, NodeOf(w, kLakeRecipients), box, "Fixture", "Recipients");
    Select(w, box);
    w.strCustomReportName = "Bands";
    w.ClickTypeTab(1);
    velmo::FlexGrid* g = w.grd1();
    EXPECT_EQ(GridCaptions(g), (std::vector<std::string>{"Display Name", "Alias Name", "Display Name", "Email Address",
                                                         "Display Name", "Windows NT Accounts With Permissions",
                                                         "Roles", "Display Name", "No Such Column"}));
    ASSERT_EQ(g->Rows(), 5);  // a1's band of 3 rows, a2's of 1
    auto row = [&](int r) {
      std::string s;
      for (int c = 1; c < g->Cols(); ++c) s += g->TextMatrix(r, c) + "|";
      return s;
    };
    std::vector<std::string> rows;
    for (int r = 1; r < 5; ++r) rows.push_back(row(r));
    std::sort(rows.begin(), rows.begin() + 3);  // the order inside a band is the database's
    EXPECT_EQ(rows[3], "a2 name|a2||||||||");  // every block but its first empty
    int addresses = 0, permissions = 0;
    for (int r = 0; r < 3; ++r) {
      addresses += !g->TextMatrix(r + 1, 4).empty();
      permissions += !g->TextMatrix(r + 1, 6).empty();
    }
    EXPECT_EQ(addresses, 2);
    EXPECT_EQ(permissions, 3);
    EXPECT_NE(ErrorLog().find("DetailRecordsetObjectOpen Failed"), std::string::npos);

    // No recipients: the captions alone.
    w.ClickTypeTab(2);
    EXPECT_EQ(w.grd1()->Rows(), 1);
    EXPECT_EQ(GridCaptions(w.grd1())[0], "Display Name");
    EXPECT_GT(w.grd1()->Cols(), 2);
  });
}

TEST_F(ReportWindowTest, ChosenReportsReachTheirTabsAndEachObjectKeepsItsRows) {
  Collect();
  const std::string connections = kConfig + "/cn=Connections";
  for (const auto& [name, target] : std::vector<std::pair<std::string, std::string>>{
           {"Site Connector (Hilltop)", "Hilltop"}, {"Site Connector (Riverside)", "Riverside"}})
    Insert("ConnectorGeneral", {"ServerName", "Object Path", "Display Name", "Directory Name", "Target Site"},
           {db::Value("EX1"), db::Value(connections), db::Value(name), db::Value(name), db::Value(target)});
  for (const auto& [name, who] : std::vector<std::pair<std::string, std::string>>{
           {"Site Connector (Hilltop)", "CORP\\jsmith"},
           {"Site Connector (Hilltop)", "CORP\\soneil"},
           {"Site Connector (Riverside)", "CORP\\mmuller"}})
    Insert("ConnectorPerm",
           {"ServerName", "Object Path", "Display Name", "Directory Name", "Windows NT Accounts With Permissions"},
           {db::Value("EX1"), db::Value(connections), db::Value(name), db::Value(name), db::Value(who)});
  gConn->Execute("delete from ServerPrivateISResources");
  for (const auto& [tab, value] : std::vector<std::pair<std::string, std::string>>{
           {"Site ConnectorGeneral", "Target Site"},
           {"Site ConnectorPermissions", "Windows NT Accounts With Permissions"},
           {"Private Information StoreGeneral", "Directory Name"},
           {"Private Information StoreMailbox Resources", "Mailbox"},
           {"ServerIMAP4General", "Enable protocol"}})
    gConn->Execute("insert into VELMORCCustomReports values(?,?,?)",
                   {db::Value(tab), db::Value("O'Neil's links"), db::Value(value)});

  WithReportWindow([&](frmCustomReport& w) {
    // The designer's OK hands its report to the window, which runs it again.
    Select(w, connections);
    w.ClickTypeTab(3);
    EXPECT_EQ(w.lastType, "Site Connector");
    bool shown = false;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
      auto* designer = qobject_cast<frmCustomize*>(QApplication::activeModalWidget());
      if (!designer) return;
      poll.stop();
      shown = gbCustomReport;
      const int at = designer->cboCustomReportName->findText("O'Neil's links");
      designer->cboCustomReportName->setCurrentIndex(at);
      emit designer->cboCustomReportName->activated(at);
      designer->cmdOk->click();
    });
    poll.start();
    w.cmdShow->click();
    EXPECT_TRUE(shown);
    EXPECT_FALSE(gbCustomReport);
    EXPECT_EQ(w.strCustomReportName, "O'Neil's links");
    EXPECT_EQ(w.TypeTabCaption(), "Site Connector");

    // Two connectors of one container keep their own rows.
    std::vector<std::string> rows;
    for (int r = 1; r < w.grd1()->Rows(); ++r)
      rows.push_back(w.grd1()->TextMatrix(r, 1) + " # " + w.grd1()->TextMatrix(r, 2) + " # " +
                     w.grd1()->TextMatrix(r, 3));
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows, (std::vector<std::string>{"Site Connector (Hilltop) # Hilltop # CORP\\jsmith",
                                              "Site Connector (Hilltop) # Hilltop # CORP\\soneil",
                                              "Site Connector (Riverside) # Riverside # CORP\\mmuller"}));

    // A store without resource rows still shows its general row.
    Select(w, kConfig + "/cn=Servers/cn=EX1/cn=Microsoft Private MDB");
    EXPECT_EQ(GridCaptions(w.grd1()), (std::vector<std::string>{"Display Name", "Directory Name", "Mailbox"}));
    EXPECT_EQ(w.grd1()->Rows(), 2);
    EXPECT_TRUE(w.grd1()->TextMatrix(1, 3).empty());

    // The server's IMAP4 page reaches the server's IMAP4 tab.
    Select(w, kConfig + "/cn=Servers/cn=EX1/cn=Protocols");
    w.ClickTypeTab(1);
    EXPECT_EQ(GridCaptions(w.grd1()), (std::vector<std::string>{"Display Name", "Enable protocol"}));
  });
}

namespace {

class LargeReportWindowTest : public OnLargeSample<ReportWindowTest> {
 protected:
  // Every node of the tree shows its whole text.
  static void ExpectWholeTexts(QTreeWidget* tree) {
    // Expanding a recipients container reads its sub-containers: expand
    // until no placeholder is left.
    std::vector<QTreeWidgetItem*> items;
    for (int pass = 0; pass < 6; ++pass) {
      tree->expandAll();
      Pump();
      items.clear();
      bool placeholders = false;
      for (QTreeWidgetItemIterator it(tree); *it; ++it) {
        items.push_back(*it);
        placeholders |= (*it)->text(0).contains("Childnodetext");
      }
      if (!placeholders) break;
    }
    for (QTreeWidgetItem* item : items) {
      tree->scrollToItem(item);
      EXPECT_GE(tree->visualItemRect(item).width(), tree->fontMetrics().horizontalAdvance(item->text(0)))
          << item->text(0).toStdString();
    }
    EXPECT_GT(items.size(), 10u);
    tree->scrollToTop();
    tree->horizontalScrollBar()->setValue(0);
  }
};

}  // namespace

TEST_F(LargeReportWindowTest, GridsAgreeWithTheShellAndEveryTreeTextShowsWhole) {
  if (std::system("command -v sqlite3 >/dev/null 2>&1") != 0) GTEST_SKIP() << "the sqlite3 shell is not installed";
  Collect();
  {
    // Bulk East's own pages, collected through a browse window.
    frmExch* b = Open("EX1", "Lakeside");
    Node(b, kLakeRecipients)->setExpanded(true);
    Pump();
    Click(b, kBulkEast);
    for (int p = 0; p < b->tabProp->count(); ++p) b->ClickPropTab(p);
    b->Window()->close();
    Pump();
  }
  ASSERT_EQ(Count("select * from ContainerInfo where ServerName='EX1' and [Directory Name]='BulkEast' and "
                  "[Object Path]=?",
                  {db::Value(kBulkEast)}),
            1);
  const std::string file = gstrDBPath;
  auto gridRows = [](velmo::FlexGrid* g) {
    std::vector<std::vector<std::string>> rows;
    for (int r = 1; r < g->Rows(); ++r) {
      std::vector<std::string> row;
      for (int c = 1; c < g->Cols(); ++c) row.push_back(g->TextMatrix(r, c));
      rows.push_back(row);
    }
    return rows;
  };
  auto hexSelect = [](const std::vector<std::string>& columns, bool distinct) {
    std::string s;
    for (const auto& c : columns) s += (s.empty() ? "" : "||'|'||") + ("hex(trim(" + c + "))");
    return (distinct ? "select distinct " : "select ") + s;
  };

  WithReportWindow([&](frmCustomReport& w) {
    ExpectWholeTexts(w.tvwServers);
    velmo::test::SaveShot(&w, "custom-report-window-ex1");
    // The narrow panel scrolls sideways; dragged wider, it shows every text
    // without scrolling.
    EXPECT_GT(w.tvwServers->horizontalScrollBar()->maximum(), 0);
    w.SplitterDropped(w.tvwServers, w.tvwServers->header()->sectionSize(0) + 2 * w.tvwServers->frameWidth() +
                                        w.tvwServers->verticalScrollBar()->sizeHint().width());
    Pump();
    EXPECT_EQ(w.tvwServers->horizontalScrollBar()->maximum(), 0);
    velmo::test::SaveShot(&w, "custom-report-window-ex1-widened");

    // The Summary of a container: its own row with its permissions, as
    // the shell reads them from the same file.
    struct Case {
      std::string key;
      std::string directoryName;
    };
    const Case cases[] = {{kBulkEast, "BulkEast"}, {kLakeRecipients, "Recipients"}};
    for (const auto& c : cases) {
      SCOPED_TRACE(c.key);
      Select(w, c.key);
      w.ClickTypeTab(0);
      ASSERT_EQ(w.TypeTabCaption(), "Summary");
      const auto shown = gridRows(w.grd1());
      if (shown.empty()) {
        ADD_FAILURE() << "no row shown";
        continue;
      }
      EXPECT_EQ(shown[0][1], c.directoryName);
      const auto shell = velmo::test::HexRows(velmo::test::Sqlite3(
          file, hexSelect({"g.[Display Name]", "g.[Directory Name]", "g.[Administrative Note]", "g.[Created]",
                           "p.[Windows NT Accounts With Permissions]", "p.[Roles]"},
                    true) +
                    " from ContainerInfo g left join ServerObjectsPerm p on p.ServerName=g.ServerName and "
                    "p.[Object Path]=g.[Object Path] where g.ServerName='EX1' and g.[Object Path]=" +
                    velmo::db::SqlQuote(c.key) + ";\n"));
      auto sortedShown = shown, sortedShell = shell;
      std::sort(sortedShown.begin(), sortedShown.end());
      std::sort(sortedShell.begin(), sortedShell.end());
      EXPECT_EQ(sortedShown, sortedShell);
      long permissions = 0;
      for (const auto& row : shown) permissions += !row[4].empty();
      EXPECT_GT(permissions, 0) << "the permission columns are filled";
    }

    Select(w, kBulkEast);
    w.ClickTypeTab(0);
    velmo::test::SaveShot(&w, "custom-report-window-ex1-bulk-east");

    // Recipients > Mailboxes of the built-in report into a database: every
    // column, the values of the grid.
    Select(w, kLakeRecipients);
    w.ClickTypeTab(1);
    ASSERT_EQ(w.lastEngine, "detail");
    const auto shown = gridRows(w.grd1());
    ASSERT_FALSE(shown.empty());
    const std::string mdb = (home / "Export" / "Report.mdb").string();
    ui->clear();
    ui->QueueSaveFile(mdb, 1);
    ui->QueueInput("Mailboxes");
    w.cmdExport->click();
    EXPECT_EQ(Prompts(), std::vector<std::string>{"Report has been exported successfully."});
    const std::string names = velmo::test::Sqlite3(mdb, "select name from pragma_table_info('Mailboxes');\n");
    std::vector<std::string> columns;
    for (const auto& line : velmo::text::Split(names, '\n'))
      if (!line.empty()) columns.push_back("\"" + line + "\"");
    ASSERT_EQ(columns.size(), static_cast<size_t>(w.grd1()->Cols() - 1)) << names;
    EXPECT_EQ(columns[0], "\"DisplayName\"");
    const auto stored = velmo::test::HexRows(
        velmo::test::Sqlite3(mdb, hexSelect(columns, false) + " from Mailboxes order by rowid;\n"));
    EXPECT_EQ(stored, shown);
  });

  // The designer, opened from the window's Customize button.
  WithReportWindow([&](frmCustomReport& w) {
    bool seen = false;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
      auto* designer = qobject_cast<frmCustomize*>(QApplication::activeModalWidget());
      if (!designer) return;
      poll.stop();
      seen = true;
      ExpectWholeTexts(designer->tvwObjects);
      const auto recipients = designer->tvwObjects->findItems("Recipients", Qt::MatchExactly | Qt::MatchRecursive);
      if (!recipients.isEmpty()) designer->tvwObjects->setCurrentItem(recipients[0]);
      velmo::test::SaveShot(designer, "report-designer-ex1");
      designer->tvwObjects->horizontalScrollBar()->setValue(designer->tvwObjects->horizontalScrollBar()->maximum());
      velmo::test::SaveShot(designer, "report-designer-ex1-scrolled");
      designer->cmdCancel->click();
    });
    poll.start();
    w.cmdShow->click();
    EXPECT_TRUE(seen);
  });
}
