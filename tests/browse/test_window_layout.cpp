// The windows a user meets, drawn offscreen at the program's font: the
// main window with browse windows, one of them showing a
// grid of collected rows, the connect dialog with its options, the
// favourites dialog and the progress window. Every caption shows its whole
// text (nothing cut off at its edge or covered by the control beside it)
// and no browse window is smaller than its minimum. The pictures are kept
// under the build folder's window-shots folder for a person to look at.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStyle>
#include <QTabBar>

#include <filesystem>
#include <sstream>

#include "BrowseKit.h"
#include "WindowShots.h"
#include "FlexGrid.h"
#include "frmAutoFormat.h"
#include "frmConnect.h"
#include "frmFavourites.h"

using namespace browse_test;
namespace fs = std::filesystem;

namespace {

class WindowLayoutTest : public BrowseTest {
 protected:
  void SetUp() override {
    // The program's font, as its start-up sets it before any window is
    // made: the application font at 8 points.
    App();
    previousFont_ = QApplication::font();
    QFont font = previousFont_;
    font.setPointSize(8);
    QApplication::setFont(font);
    BrowseTest::SetUp();
  }
  void TearDown() override {
    BrowseTest::TearDown();
    QApplication::setFont(previousFont_);
  }
 private:
  QFont previousFont_;
};

}  // namespace

TEST_F(WindowLayoutTest, WindowsShowWholeCaptionsAndBrowseWindowsKeepTheirSize) {
  main->resize(1100, 760);
  Pump();

  // Two browse windows: one on a node with collected rows, one on the
  // site tree alone.
  frmExch* grid = Open("EX1", "Lakeside");
  Click(grid, kLakeRecipients);
  for (int i = 0; i < grid->tabType->count(); ++i)
    if (grid->tabType->tabText(i) == "Mailboxes") grid->ClickTypeTab(i);
  Pump();
  EXPECT_TRUE(grid->Grd1()->Visible());
  EXPECT_GT(grid->Grd1()->Rows(), 1) << "the grid shows collected rows";
  frmExch* tree = Open("EX2", "Lakeside");
  for (frmExch* w : {grid, tree}) {
    SCOPED_TRACE(w->strServerName);
    EXPECT_GE(w->width(), w->minimumSizeHint().width());
    EXPECT_GE(w->height(), w->minimumSizeHint().height());
    EXPECT_GE(w->minimumWidth(), w->minimumSizeHint().width());
    EXPECT_TRUE(gMdiArea->viewport()->rect().contains(w->Window()->geometry()));
    // Whole node texts in the site tree.
    QTreeWidgetItem* store = Node(w, std::string(w == grid ? kEX1 : "o=Velmor/ou=Lakeside/cn=Configuration/cn=Servers/cn=EX2") +
                                         "/cn=Microsoft Private MDB");
    ASSERT_NE(store, nullptr);
    w->tvwServers->scrollToItem(store);
    EXPECT_GE(w->tvwServers->visualItemRect(store).width(),
              w->tvwServers->fontMetrics().horizontalAdvance("Private Information Store"));
    EXPECT_EQ(velmo::test::JoinedLines(velmo::test::ClippedCaptions(w)), "");
  }
  EXPECT_EQ(velmo::test::JoinedLines(velmo::test::ClippedCaptions(main)), "");
  velmo::test::SaveShot(main, "main-window");
  gMdiArea->setActiveSubWindow(qobject_cast<QMdiSubWindow*>(grid->Window()));
  main->mnuSubWindow[1]->trigger();
  for (frmExch* w : {grid, tree}) EXPECT_GE(w->height(), w->minimumSizeHint().height()) << "tiled";
  velmo::test::SaveShot(main, "main-window-tiled");

  {
    frmConnect& dialog = ConnectDialog();
    dialog.cmdOptions_Click();
    dialog.chkConnectAs->setChecked(true);
    dialog.show();
    EXPECT_EQ(velmo::test::JoinedLines(velmo::test::ClippedCaptions(&dialog)), "");
    velmo::test::SaveShot(&dialog, "connect-dialog");
    UnloadConnectDialog();
  }
  {
    frmFavourites dialog(main);
    dialog.Form_Load();
    dialog.InsertEntry("EX10");
    dialog.InsertEntry("EX1");
    dialog.show();
    EXPECT_EQ(velmo::test::JoinedLines(velmo::test::ClippedCaptions(&dialog)), "");
    velmo::test::SaveShot(&dialog, "favourites-dialog");
    dialog.hide();
  }
  {
    frmAutoFormat progress(main);
    progress.setWindowTitle("Connecting to Server - 'EX1'");
    progress.show();
    progress.SetStatus("Retrieving Organization Name from 'EX1'.");
    EXPECT_EQ(velmo::test::JoinedLines(velmo::test::ClippedCaptions(&progress)), "");
    velmo::test::SaveShot(&progress, "progress-window");
    progress.hide();
  }
  Pump();
}
