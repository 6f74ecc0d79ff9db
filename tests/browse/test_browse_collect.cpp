// The browse window against the sample organisation with the real
// collector and native access class: every node, every type tab and every
// property tab, each page visited twice. A page whose first visit shows
// rows is shown from the database on the second visit (no collector run,
// no new rows); a page whose collection wrote nothing is collected again.
#include <gtest/gtest.h>

#include <QTabBar>
#include <QTreeWidgetItemIterator>

#include <iostream>
#include <sstream>

#include <filesystem>
#include <set>

#include "AppSchema.h"
#include "BrowseKit.h"
#include "FlexGrid.h"
#include "RecordingPrinter.h"
#include "ServerDataClear.h"
#include "TestHome.h"
#include "WindowShots.h"

using namespace browse_test;

namespace {

class BrowseCollectTest : public BrowseTest {
 protected:
  // Rows of EX1 in every data table.
  long DataRows() {
    long n = 0;
    for (const auto& t : AppTables())
      if (t.name.rfind("VELMORC", 0) != 0) n += Count("select * from [" + t.name + "] where ServerName = 'EX1'");
    return n;
  }
  // What a visit changed.
  struct Delta {
    long runs = 0, rows = 0, logons = 0;
    bool Collected() const { return runs > 0 || logons > 0; }
  };
  template <class F>
  Delta Visit(F&& action) {
    const long runs = CollectorRuns(), rows = DataRows(), logons = Shown("ChooseProfile");
    action();
    return {CollectorRuns() - runs, DataRows() - rows, Shown("ChooseProfile") - logons};
  }
};

}  // namespace

TEST_F(BrowseCollectTest, EveryPageIsCollectedOnceAndThenReadFromTheDatabase) {
  frmExch* w = Open("EX1", "Lakeside");
  for (int i = 0; i < 40; ++i) ui->QueueProfile("EX1 Profile");

  std::vector<QTreeWidgetItem*> nodes;
  for (QTreeWidgetItemIterator it(w->tvwServers); *it; ++it)
    if (NodeText(*it).find("Childnodetext") == std::string::npos) nodes.push_back(*it);

  int pages = 0, withRows = 0, collectedFirst = 0;
  std::ostringstream report;
  for (QTreeWidgetItem* node : nodes) {
    int types = 1;
    for (int t = 0; t < types; ++t) {
      for (int p = 0;; ++p) {
        // The first visit is whichever click lands on the page.
        const Delta first = Visit([&] {
          if (t == 0 && p == 0)
            w->tvwServers_NodeClick(node);
          else if (p == 0)
            w->ClickTypeTab(t);
          else
            w->ClickPropTab(p);
        });
        if (t == 0 && p == 0) types = std::max(1, w->tabType->count());
        const std::string where = NodeKey(node) + " " + w->PropTabKey();
        const std::string table = GetTableNameFor(w->PropTabKey(), NodeText(node));
        const int shownRows = w->Grd1()->Rows();
        const Delta second = Visit([&] { w->ClickPropTab(p); });
        ++pages;
        collectedFirst += first.Collected();
        if (shownRows > 1) {
          ++withRows;
          EXPECT_FALSE(second.Collected()) << where;
          EXPECT_EQ(second.rows, 0) << where;
          EXPECT_EQ(w->Grd1()->Rows(), shownRows) << where;
        } else if (first.Collected() && first.rows == 0 &&
                   Count("select * from [" + table + "] where ServerName = 'EX1'") == 0) {
          EXPECT_TRUE(second.Collected()) << where;
        }
        report << where << ": runs " << first.runs << " rows " << first.rows << " shown " << shownRows << "\n";
        if (p + 1 >= w->tabProp->count()) break;
      }
    }
  }
  EXPECT_EQ(pages, 159) << report.str();  // every page of every node of EX1's tree
  EXPECT_GT(collectedFirst, 10) << report.str();
  EXPECT_GT(withRows, 20) << report.str();
  if (::testing::Test::HasFailure() || std::getenv("VELMO_BROWSE_REPORT")) std::cerr << report.str();

  // The container's mailboxes carry the tree's key as their object path.
  Click(w, kLakeRecipients);
  w->ClickTypeTab(1);
  w->ClickPropTab(1);
  EXPECT_EQ(w->PropTabKey(), "MailboxesGeneral");
  bool found = false;
  for (int r = 1; r < w->Grd1()->Rows(); ++r) found |= w->Grd1()->TextMatrix(r, 1) == "John Smith";
  EXPECT_TRUE(found);
}

// The Server Recipients page of EX1 after a container's Mailboxes page was
// browsed: the page holds every mailbox homed on EX1 (whatever container it
// is in), the file holds each mailbox once per container, and the pages of
// the containers show what the file holds. The rows are cleared between the
// cases as every clearing clears them, so the last case finds no mark of
// the case before it.
TEST_F(BrowseCollectTest, TheServerRecipientsPageHoldsEveryMailboxOfTheServerWhateverWasBrowsedBefore) {
  const std::string serverRecipients = kEX1 + "/cn=Server Recipients";
  const std::string europe = kLakeRecipients + "/cn=Sales/cn=Europe";
  const std::set<std::string> homedOnEX1 = {"Administrator", "John Smith", "Maria M\u00fcller", "Sean O'Neil"};
  constexpr long kLakesideMailboxes = 6;  // the sample sheet's mailboxes of the site
  const std::string ofEX1 = "select * from MailboxGeneral where ServerName = 'EX1'";
  auto shownNames = [](frmExch* w) {
    std::set<std::string> names;
    for (int r = 1; r < w->Grd1()->Rows(); ++r) names.insert(w->Grd1()->TextMatrix(r, 1));
    return names;
  };
  struct Case {
    const char* what;
    std::string container;  // whose Mailboxes page is browsed first
  };
  const Case cases[] = {
      {"Recipients first", kLakeRecipients},
      {"Europe (its one mailbox homed on EX2) first", europe},
      {"Recipients first, after a clearing", kLakeRecipients},
  };
  frmExch* w = Open("EX1", "Lakeside");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(velmo::exporting::ClearServerRows(*gConn, "EX1").ok);
    ClickNodeWithMouse(w, c.container);
    ClickTabWithMouse(w->tabType, "Mailboxes");
    ASSERT_EQ(w->PropTabKey(), "MailboxesSummary");
    const long containerShown = w->Grd1()->Rows() - 1;
    ASSERT_GT(containerShown, 0);

    const long runs = CollectorRuns();
    ClickNodeWithMouse(w, serverRecipients);
    EXPECT_GT(CollectorRuns(), runs) << "the walk over every container";
    EXPECT_EQ(shownNames(w), homedOnEX1);
    EXPECT_EQ(w->Grd1()->Rows() - 1, Count(ofEX1 + " and [Home Server] = 'EX1'"));
    EXPECT_EQ(Count(ofEX1), kLakesideMailboxes);
    EXPECT_EQ(Count("select distinct [Object Path], [Display Name] from MailboxGeneral where ServerName = 'EX1'"),
              kLakesideMailboxes);

    // Export, Preview and Print carry what the page shows.
    const std::filesystem::path csv = home.dir() / "server-recipients.csv";
    ui->QueueSaveFile(csv.string(), 3);
    main->mnuExport->trigger();
    std::set<std::string> exported;
    std::istringstream lines(velmo::test::TestHome::Slurp(csv));
    for (std::string line; std::getline(lines, line);)
      for (const auto& name : homedOnEX1)
        if (line.rfind(name + ",", 0) == 0) exported.insert(name);
    EXPECT_EQ(exported, homedOnEX1);
    InstallRecordingPrinter();
    for (QAction* command : {main->mnuPreview, main->mnuPrint}) {
      RecordingPrinter::grid = nullptr;
      command->trigger();
      EXPECT_EQ(RecordingPrinter::grid, w->Grd1()) << command->objectName().toStdString();
    }
    UninstallRecordingPrinter();
    velmo::test::SaveShot(w->Window(), "browse_server_recipients_after_a_container");

    // Collected now: read from the file, as the container's page is.
    const long after = CollectorRuns();
    ClickNodeWithMouse(w, c.container);
    ClickTabWithMouse(w->tabType, "Mailboxes");
    EXPECT_EQ(w->Grd1()->Rows() - 1, containerShown);
    EXPECT_EQ(w->Grd1()->Rows() - 1,
              Count("select distinct [Display Name] from MailboxGeneral where ServerName = 'EX1' and [Object Path] = ?",
                    {db::Value(c.container)}));
    ClickNodeWithMouse(w, serverRecipients);
    EXPECT_EQ(shownNames(w), homedOnEX1);
    EXPECT_EQ(CollectorRuns(), after);
    EXPECT_EQ(Count(ofEX1), kLakesideMailboxes);
  }
  EXPECT_EQ(Prompts(), (std::vector<std::string>{"Report exported successfully.", "Report exported successfully.",
                                                  "Report exported successfully."}));
}
