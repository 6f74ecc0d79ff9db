// The main window's Export command on a browse window that collected the
// sample organisation: what the file holds is what the grid shows, read
// back by the sqlite3 shell, under the title of the tabs on display.
#include <gtest/gtest.h>

#include <algorithm>

#include "BrowseKit.h"
#include "ExportKit.h"
#include "ExportWriters.h"
#include "FlexGrid.h"
#include "TextParts.h"

using namespace browse_test;
using velmo::test::HexRows;
using velmo::test::Sqlite3;

namespace {

class ExportWindowTest : public BrowseTest {};

int TabIndex(QTabBar* bar, const std::string& text) {
  for (int i = 0; i < bar->count(); ++i)
    if (bar->tabText(i).toStdString() == text) return i;
  return -1;
}

std::vector<std::vector<std::string>> GridRows(velmo::FlexGrid& g) {
  std::vector<std::vector<std::string>> rows;
  for (int r = 1; r < g.Rows(); ++r) {
    std::vector<std::string> row;
    for (int c = 1; c < g.Cols(); ++c) row.push_back(velmo::text::Trim(g.TextMatrix(r, c)));
    rows.push_back(row);
  }
  return rows;
}

TEST_F(ExportWindowTest, TheFileHoldsTheGridOnDisplayUnderItsTitle) {
  frmExch* w = Open("EX1", "Lakeside");
  Click(w, kLakeRecipients);
  Pump();
  const auto exportDir = home.dir() / "Export";
  std::filesystem::create_directories(exportDir);

  // Summary on the type tabs: the title starts with the node's text.
  ASSERT_EQ(w->TypeTabCaption(), "Summary");
  ui->QueueSaveFile((exportDir / "summary.csv").string(), 3);
  main->mnuExport->trigger();
  Pump();
  EXPECT_EQ(gstrReportTitle, "Recipients " + w->PropTabCaption() + " - 'EX1'");

  const int mailboxes = TabIndex(w->tabType, "Mailboxes");
  ASSERT_GE(mailboxes, 0);
  w->ClickTypeTab(mailboxes);
  const int general = TabIndex(w->tabProp, "General");
  ASSERT_GE(general, 0);
  w->ClickPropTab(general);
  Pump();
  velmo::FlexGrid& g = *w->Grd1();
  const auto shown = GridRows(g);
  ASSERT_GE(shown.size(), 2u);
  std::vector<std::string> names;
  for (const auto& r : shown) names.push_back(r[0]);
  for (const char* who : {"Sean O'Neil"})
    EXPECT_NE(std::find(names.begin(), names.end(), who), names.end()) << who;

  // CSV: every row of the grid, read back by the shell's CSV import.
  ui->clear();
  const auto csv = exportDir / "EX1_Mailboxes.csv";
  ui->QueueSaveFile(csv.string(), 3);
  main->popmnuExport->trigger();
  Pump();
  EXPECT_EQ(gstrReportTitle, "Mailboxes General - 'EX1'");
  ASSERT_FALSE(ui->shown().empty());
  EXPECT_EQ(ui->shown().back().prompt, "Report exported successfully.");
  std::string hexList;
  for (int c = 1; c < g.Cols(); ++c)
    hexList += std::string(c > 1 ? "," : "") + "hex(\"" + velmo::text::Trim(g.TextMatrix(0, c)) + "\")";
  const std::string imported =
      Sqlite3(exportDir / "import.db", ".import --csv --skip 6 '" + csv.string() + "' t\nselect " + hexList +
                                           " from t order by rowid;\n");
  EXPECT_EQ(HexRows(imported), shown) << imported;

  // A table of a new database: the same rows, filtered and sorted by the
  // shell itself.
  ui->clear();
  const auto mdb = exportDir / "EX1.mdb";
  ui->QueueSaveFile(mdb.string(), 1);
  ui->QueueInput("Mailboxes General");
  main->mnuExport->trigger();
  Pump();
  EXPECT_EQ(ui->shown().back().prompt, "Report has been exported successfully.");
  std::string columns;
  for (int c = 1; c < g.Cols(); ++c)
    columns += std::string(c > 1 ? "," : "") + "hex(\"" +
               velmo::exporting::ExportColumnName(g.TextMatrix(0, c), velmo::exporting::ColumnRule::Interactive) +
               "\")";
  auto sorted = shown;
  std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a[0] < b[0]; });
  const std::string all =
      Sqlite3(mdb, "select " + columns + " from \"Mailboxes General\" order by DisplayName collate binary;\n");
  EXPECT_EQ(HexRows(all), sorted) << all;
  EXPECT_EQ(Sqlite3(mdb, "select DisplayName from \"Mailboxes General\" where DisplayName = 'SEAN O''NEIL';\n"),
            "Sean O'Neil\n");
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(exportDir)) files.push_back(e.path().filename().string());
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"EX1.mdb", "EX1_Mailboxes.csv", "import.db", "summary.csv"}));
}

}  // namespace
