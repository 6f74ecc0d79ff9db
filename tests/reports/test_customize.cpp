// The column chooser of a browse page and the report designer: ticks
// stored and shown, the defaults restored, reports saved with the exact
// rows, refusals of the built-in name and a save that fails midway.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QTabBar>
#include <QTimer>
#include <QTreeWidget>

#include "ReportsKit.h"
#include "frmCustomize.h"

using namespace reports_test;

namespace {

class CustomizeTest : public ReportsTest {
 protected:
  static std::vector<std::string> Fields(frmCustomize& c, bool tickedOnly = false) {
    std::vector<std::string> out;
    for (int i = 0; i < c.tvwFields->topLevelItemCount(); ++i) {
      QTreeWidgetItem* n = c.tvwFields->topLevelItem(i);
      if (!tickedOnly || n->checkState(0) == Qt::Checked) out.push_back(n->text(0).toStdString());
    }
    return out;
  }
  static void Tick(frmCustomize& c, const std::string& field, bool on = true) {
    auto found = c.tvwFields->findItems(QString::fromStdString(field), Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1) << field;
    found[0]->setCheckState(0, on ? Qt::Checked : Qt::Unchecked);
  }
  static std::vector<std::string> Tabs(QTabBar* bar, bool keys) {
    std::vector<std::string> out;
    for (int i = 0; i < bar->count(); ++i)
      out.push_back((keys ? bar->tabData(i).toString() : bar->tabText(i)).toStdString());
    return out;
  }
  // Runs the Customize command; the chooser is driven while it is shown.
  void WithChooser(const std::function<void(frmCustomize&)>& drive) {
    bool seen = false;
    QTimer::singleShot(0, [&] {
      auto* c = qobject_cast<frmCustomize*>(QApplication::activeModalWidget());
      seen = c != nullptr;
      if (c) drive(*c);
      if (c && c->isVisible()) c->cmdCancel->click();
    });
    main->mnuCustomize->trigger();
    EXPECT_TRUE(seen);
  }
  // "TabName # value" of a report's rows.
  std::vector<std::string> ReportRows(const std::string& name) {
    std::vector<std::string> out;
    db::Recordset rs;
    rs.Open("select * from VELMORCCustomReports where CustomReportName=?", *gConn, {db::Value(name)},
            db::adOpenKeyset, db::adLockOptimistic);
    for (; !rs.Eof(); rs.MoveNext()) out.push_back(rs[0L].Text() + " # " + rs[2L].Text());
    std::sort(out.begin(), out.end());
    return out;
  }
  // Picks a report in the designer's combo box as a click does.
  static void Choose(frmCustomize& c, const std::string& name) {
    const int at = c.cboCustomReportName->findText(QString::fromStdString(name));
    ASSERT_GE(at, 0) << name;
    c.cboCustomReportName->setCurrentIndex(at);
    emit c.cboCustomReportName->activated(at);
  }
  static std::string NodeTextOf(frmCustomize& c) {
    return c.tvwObjects->currentItem() ? c.tvwObjects->currentItem()->text(0).toStdString() : "";
  }
  static QTreeWidgetItem* Object(frmCustomize& c, const std::string& text, const std::string& parent = "") {
    for (QTreeWidgetItem* n : c.tvwObjects->findItems(QString::fromStdString(text), Qt::MatchExactly | Qt::MatchRecursive))
      if (parent.empty() || (n->parent() && n->parent()->text(0).toStdString() == parent)) return n;
    ADD_FAILURE() << text;
    return nullptr;
  }
};

}  // namespace

TEST_F(CustomizeTest, ChosenColumnsAreStoredShownAndNoneRestoresTheDefaults) {
  frmExch* w = OpenMailboxesGeneral();
  const auto defaults = GridCaptions(w->Grd1());
  WithChooser([&](frmCustomize& c) {
    EXPECT_FALSE(c.tvwObjects->isVisible());
    EXPECT_FALSE(c.cmdSaveAs->isVisible());
    EXPECT_TRUE(c.tvwFields->isVisible());
    const auto fields = Fields(c);
    EXPECT_EQ(std::vector<std::string>(defaults.begin() + 1, defaults.end()), fields);  // no "Display Name"
    EXPECT_TRUE(Fields(c, true).empty());
    Tick(c, "Alias Name");
    Tick(c, "Created");
    Shot(&c, "column_chooser");
    c.cmdOk->click();
  });
  EXPECT_TRUE(main->blnClickedOK);
  EXPECT_EQ(FilterRows("1"), std::vector<std::string>{"EX1 # MailboxesGeneral #  # Alias Name,Created"});
  EXPECT_EQ(GridCaptions(w->Grd1()), (std::vector<std::string>{"Display Name", "Alias Name", "Created"}));

  WithChooser([&](frmCustomize& c) {
    EXPECT_EQ(Fields(c, true), (std::vector<std::string>{"Alias Name", "Created"}));
    FocusAndType(c.tvwFields, Qt::Key_Escape);  // nothing stored
  });
  EXPECT_FALSE(main->blnClickedOK);
  EXPECT_EQ(FilterRows("1").size(), 1u);
  WithChooser([&](frmCustomize& c) {
    Tick(c, "Alias Name", false);
    Tick(c, "Created", false);
    c.cmdOk->click();
  });
  EXPECT_TRUE(FilterRows("1").empty());
  EXPECT_EQ(GridCaptions(w->Grd1()), defaults);
}

TEST_F(CustomizeTest, DesignerWalksKindsTypesAndPagesAndSavesReports) {
  const long builtIn = Count("select * from VELMORCCustomReports where CustomReportName='Default'");
  EXPECT_EQ(builtIn, 141);
  gbCustomReport = true;
  frmCustomize c(main);
  c.Form_Load();
  c.show();
  Pump();

  c.tvwObjects->setCurrentItem(Object(c, "Organization"));
  EXPECT_EQ(Tabs(c.tabCustProp, true), (std::vector<std::string>{"Container1General", "Container1Permissions"}));
  EXPECT_FALSE(c.tabCustType->isVisible());
  EXPECT_EQ(Fields(c), (std::vector<std::string>{"Directory Name", "Created"}));

  c.tvwObjects->setCurrentItem(Object(c, "Recipients"));
  EXPECT_TRUE(c.tabCustType->isVisible());
  EXPECT_EQ(Tabs(c.tabCustType, false).size(), 5u);
  c.tabCustType->setCurrentIndex(1);  // Mailboxes
  auto keys = Tabs(c.tabCustProp, true);
  ASSERT_EQ(keys.size(), 15u);
  EXPECT_EQ(keys[1], "MailboxesGeneral");
  EXPECT_EQ(keys[13], "Container2General");
  EXPECT_EQ(c.tabCustType->currentIndex(), 1);
  c.tabCustProp->setCurrentIndex(1);
  EXPECT_EQ(c.strTabKey, "MailboxesGeneral");
  Tick(c, "Alias Name");
  Tick(c, "Created");
  Shot(&c, "report_designer");

  // The server's protocols: type pages keyed "Server" + type + page.
  c.tvwObjects->setCurrentItem(Object(c, "Protocols", "Server"));
  EXPECT_EQ(Tabs(c.tabCustType, false), (std::vector<std::string>{"Summary", "IMAP4", "LDAP", "NNTP", "POP3"}));
  EXPECT_EQ(Tabs(c.tabCustProp, true),
            (std::vector<std::string>{"ServerProtocolsGeneral", "ServerProtocolsPermissions"}));
  c.tabCustType->setCurrentIndex(1);
  EXPECT_EQ(c.strTabKey, "ServerIMAP4General");
  ASSERT_FALSE(Fields(c).empty());
  const std::string imapField = Fields(c)[0];
  Tick(c, imapField);
  c.tvwObjects->setCurrentItem(Object(c, "Protocols", "Configuration"));
  EXPECT_EQ(Tabs(c.tabCustType, false).size(), 6u);
  EXPECT_EQ(Tabs(c.tabCustProp, true)[0], "ProtocolsGeneral");

  // The built-in name is refused in any case; blanks do nothing.
  for (const char* name : {"Default", " default ", "   "}) {
    ui->QueueInput(name);
    c.cmdSaveAs->click();
  }
  const std::string refusal =
      "Default custom report cannot be modified. Save in a different name using Save As button.";
  long refused = 0;
  for (const auto& s : ui->shown()) refused += s.prompt == refusal;
  EXPECT_EQ(refused, 2);
  EXPECT_EQ(Count("select * from VELMORCCustomReports where CustomReportName='Default'"), 141);

  ui->QueueInput(" O'Neil's report ");
  c.cmdSaveAs->click();
  const std::vector<std::string> saved = {"MailboxesGeneral # Alias Name,Created",
                                          "ServerIMAP4General # " + imapField};
  EXPECT_EQ(ReportRows("O'Neil's report"), saved);
  EXPECT_EQ(ui->shown().back().prompt, "Custom Report O'Neil's report saved successfully");
  c.chkDefault->setChecked(true);
  ui->QueueInput("O'Neil's report");
  c.cmdSaveAs->click();
  EXPECT_EQ(ReportRows("O'Neil's report-Default"), saved);
  c.chkDefault->setChecked(false);

  // Chosen again, the report's pages show its ticks.
  const int at = c.cboCustomReportName->findText("O'Neil's report");
  ASSERT_GE(at, 0);
  c.cboCustomReportName->setCurrentIndex(at);
  emit c.cboCustomReportName->activated(at);
  EXPECT_EQ(c.ReportLines().size(), 2u);
  c.tvwObjects->setCurrentItem(Object(c, "Recipients"));
  c.tabCustType->setCurrentIndex(1);
  c.tabCustProp->setCurrentIndex(1);
  EXPECT_EQ(Fields(c, true), (std::vector<std::string>{"Alias Name", "Created"}));

  // A save failing midway keeps the old rows and says so.
  gConn->Execute(
      "create trigger refuse_report before insert on VELMORCCustomReports when new.TabName='ServerIMAP4General' "
      "begin select raise(abort, 'disk full'); end");
  Tick(c, "Alias Name", false);
  c.cmdSave->click();
  EXPECT_EQ(ui->shown().back().prompt, "Custom Report O'Neil's report could not be saved.\r\ndisk full");
  EXPECT_EQ(ReportRows("O'Neil's report"), saved);
  gConn->Execute("drop trigger refuse_report");
  c.cmdSave->click();
  EXPECT_EQ(ReportRows("O'Neil's report"),
            (std::vector<std::string>{"MailboxesGeneral # Created", "ServerIMAP4General # " + imapField}));

  // OK hands the chosen name over.
  std::string chosen = "none";
  gChooseCustomReport = [&](const std::string& name) { chosen = name; };
  c.cmdOk->click();
  gChooseCustomReport = nullptr;
  gbCustomReport = false;
  EXPECT_EQ(chosen, "O'Neil's report");
  EXPECT_TRUE(main->blnClickedOK);
}

TEST_F(CustomizeTest, ClosingByTheCloseBoxOrAnUnhandledEscapeIsCancel) {
  frmExch* w = OpenMailboxesGeneral();
  const auto defaults = GridCaptions(w->Grd1());
  struct Case {
    const char* what;
    bool report;
    std::function<void(frmCustomize&)> close;
  };
  const Case cases[] = {
      {"chooser, close box", false, [](frmCustomize& c) { c.close(); }},
      {"chooser, Escape in the field tree", false, [](frmCustomize& c) { FocusAndType(c.tvwFields, Qt::Key_Escape); }},
      {"designer, close box", true, [](frmCustomize& c) { c.close(); }},
      {"designer, Escape on the type tabs", true,
       [](frmCustomize& c) {
         ASSERT_TRUE(c.tabCustType->isVisible());
         FocusAndType(c.tabCustType, Qt::Key_Escape);
       }},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    main->blnClickedOK = true;
    bool closed = false;
    if (!k.report) {
      WithChooser([&](frmCustomize& c) {
        Tick(c, "City");
        k.close(c);
        closed = !c.isVisible() && !c.Loaded();
      });
      // Nothing was stored, and the next opening starts from the stored rows.
      EXPECT_TRUE(FilterRows("1").empty());
      WithChooser([&](frmCustomize& c) {
        EXPECT_TRUE(Fields(c, true).empty());
        c.cmdOk->click();
      });
      EXPECT_TRUE(FilterRows("1").empty());
      EXPECT_EQ(GridCaptions(w->Grd1()), defaults);
      main->blnClickedOK = true;
      WithChooser([&](frmCustomize& c) { k.close(c); });
    } else {
      QTimer::singleShot(0, [&] {
        frmCustomize* c = gfrmReportDesigner;
        ASSERT_NE(c, nullptr);
        c->tvwObjects->setCurrentItem(Object(*c, "Recipients"));
        c->tabCustType->setCurrentIndex(1);
        c->tabCustProp->setCurrentIndex(1);
        Tick(*c, "City");
        k.close(*c);
        closed = !c->isVisible() && !c->Loaded();
        if (c->isVisible()) c->cmdOk->click();
      });
      gbCustomReport = true;
      ShowReportDesigner();
      gbCustomReport = false;
    }
    EXPECT_TRUE(closed);
    EXPECT_FALSE(main->blnClickedOK);
  }
  EXPECT_EQ(Count("select * from VELMORCCustomReports where CustomReportName<>'Default'"), 0);
}

// A report stored with two rows for one page shows the first; a Save with
// no change stores that one, whether the page was shown or not.
TEST_F(CustomizeTest, ASaveWithoutChangeStoresTheColumnsThePageShows) {
  gbCustomReport = true;
  for (const bool shown : {false, true}) {
    SCOPED_TRACE(shown ? "page shown" : "page not shown");
    gConn->Execute("delete from VELMORCCustomReports where CustomReportName='Twice'");
    for (const char* value : {"Created", "Directory Name"})
      gConn->Execute("insert into VELMORCCustomReports values('Container1General','Twice',?)", {db::Value(value)});
    frmCustomize c(main);
    c.Form_Load();
    c.show();
    Pump();
    Choose(c, "Twice");
    if (shown) {
      c.tvwObjects->setCurrentItem(Object(c, "Organization"));
      EXPECT_EQ(Fields(c, true), std::vector<std::string>{"Created"});
    }
    c.cmdSave->click();
    EXPECT_EQ(ReportRows("Twice"), std::vector<std::string>{"Container1General # Created"});
  }
  gbCustomReport = false;
}

TEST_F(CustomizeTest, AReportWalkedWithoutTicksKeepsEveryRowWhateverItsName) {
  // Rows on several pages, one of them in an order of its own.
  const std::vector<std::pair<std::string, std::string>> stored = {
      {"Container1General", "Created"},
      {"Container1Permissions", "Roles"},
      {"Container2General", "Created,Directory Name"},
      {"MailboxesGeneral", "Alias Name,City"},
  };
  auto rowsOf = [](const std::vector<std::pair<std::string, std::string>>& rows) {
    std::vector<std::string> out;
    for (const auto& [tab, value] : rows) out.push_back(tab + " # " + value);
    std::sort(out.begin(), out.end());
    return out;
  };
  auto clickObject = [](frmCustomize& c, QTreeWidgetItem* node) {
    if (c.tvwObjects->currentItem() == node)
      c.tvwObjects_NodeClick(node);
    else
      c.tvwObjects->setCurrentItem(node);
  };
  struct Walk {
    const char* what;
    std::function<void(frmCustomize&)> walk;
  };
  const Walk walks[] = {
      {"object clicks",
       [&](frmCustomize& c) {
         for (const char* text : {"Organization", "Site", "Recipients", "Configuration", "Server", "Organization"})
           clickObject(c, Object(c, text));
       }},
      {"tab clicks",
       [&](frmCustomize& c) {
         c.tabCustProp->setCurrentIndex(1);  // no object chosen yet
         c.tabCustProp->setCurrentIndex(0);
         clickObject(c, Object(c, "Organization"));
         c.tabCustProp->setCurrentIndex(1);
         c.tabCustProp->setCurrentIndex(0);
         clickObject(c, Object(c, "Recipients"));
         c.tabCustProp->setCurrentIndex(1);
         c.tabCustProp->setCurrentIndex(0);
         c.tabCustType->setCurrentIndex(1);  // Mailboxes
         c.tabCustProp->setCurrentIndex(1);
         EXPECT_EQ(Fields(c, true), (std::vector<std::string>{"Alias Name", "City"}));
         c.tabCustProp->setCurrentIndex(2);
         clickObject(c, Object(c, "Organization"));
       }},
  };
  gbCustomReport = true;
  for (const std::string name : {"Audit Rep", "A|B"}) {
    for (const auto& walk : walks) {
      SCOPED_TRACE(name + ", " + walk.what);
      gConn->Execute("delete from VELMORCCustomReports where CustomReportName=?", {db::Value(name)});
      for (const auto& [tab, value] : stored)
        gConn->Execute("insert into VELMORCCustomReports values(?,?,?)",
                       {db::Value(tab), db::Value(name), db::Value(value)});
      frmCustomize c(main);
      c.Form_Load();
      c.show();
      Pump();
      Choose(c, name);
      walk.walk(c);
      EXPECT_EQ(NodeTextOf(c), "Organization");
      EXPECT_EQ(Fields(c, true), std::vector<std::string>{"Created"});
      c.cmdSave->click();
      EXPECT_EQ(ReportRows(name), rowsOf(stored));
      EXPECT_EQ(ui->shown().back().prompt, "Custom Report " + name + " saved successfully");

      // One page ticked: only its row changes.
      Tick(c, "Directory Name");
      clickObject(c, Object(c, "Site"));
      c.cmdSave->click();
      auto changed = stored;
      changed[0].second = "Directory Name,Created";
      EXPECT_EQ(ReportRows(name), rowsOf(changed));
    }
  }
  gbCustomReport = false;
}
