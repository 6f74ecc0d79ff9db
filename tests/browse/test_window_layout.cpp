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
#include "FlexGrid.h"
#include "frmAutoFormat.h"
#include "frmConnect.h"
#include "frmFavourites.h"

using namespace browse_test;
namespace fs = std::filesystem;

namespace {

fs::path ShotFolder() {
  const fs::path folder = fs::path(VELMO_BINARY_DIR) / "window-shots";
  fs::create_directories(folder);
  return folder;
}

void Save(QWidget* window, const std::string& name) {
  Pump();
  const QPixmap picture = window->grab();
  EXPECT_FALSE(picture.isNull()) << name;
  EXPECT_TRUE(picture.save(QString::fromStdString((ShotFolder() / (name + ".png")).string()))) << name;
}

// The text a label shows: with a buddy, "&" marks the access key and
// "&&" is a literal ampersand.
QString Displayed(const QLabel* label) {
  QString text = label->text();
  if (!label->buddy()) return text;
  text.replace(QRegularExpression("&(?!&)"), "");
  return text.replace("&&", "&");
}

// Every caption of the window whose text does not show whole, with why.
std::vector<std::string> ClippedCaptions(QWidget* window) {
  std::vector<std::string> faults;
  auto name = [](const QWidget* w) { return w->objectName().toStdString() + " \"" + w->property("text").toString().toStdString() + "\""; };
  for (QLabel* label : window->findChildren<QLabel*>()) {
    if (!label->isVisibleTo(window) || label->text().isEmpty() || label->textFormat() == Qt::RichText) continue;
    const QRect inside = label->contentsRect();
    if (label->wordWrap()) {
      if (label->heightForWidth(inside.width()) > label->height())
        faults.push_back(name(label) + ": wrapped text taller than the label");
      continue;
    }
    const QFontMetrics metrics(label->font());
    int width = 0;
    const QStringList lines = Displayed(label).remove('\r').split('\n');
    for (const QString& line : lines) width = std::max(width, metrics.horizontalAdvance(line));
    const int height = metrics.lineSpacing() * static_cast<int>(lines.size());
    if (width > inside.width())
      faults.push_back(name(label) + ": needs " + std::to_string(width) + " px, has " + std::to_string(inside.width()));
    if (height > inside.height() + metrics.leading() + 2)
      faults.push_back(name(label) + ": needs " + std::to_string(height) + " px high, has " + std::to_string(inside.height()));
    // Where the text is drawn must not lie under a control beside it.
    const QRect text = QStyle::alignedRect(label->layoutDirection(), label->alignment(),
                                           QSize(std::min(width, inside.width()), std::min(height, inside.height())),
                                           inside)
                           .translated(label->pos());
    for (QObject* object : label->parentWidget()->children()) {
      auto* sibling = qobject_cast<QWidget*>(object);
      if (!sibling || sibling == label || !sibling->isVisibleTo(window) || sibling->isWindow()) continue;
      // Only what lies above the label in the drawing order covers it.
      if (label->parentWidget()->children().indexOf(sibling) < label->parentWidget()->children().indexOf(label)) continue;
      if (sibling->geometry().intersects(text))
        faults.push_back(name(label) + ": covered by " + sibling->objectName().toStdString());
    }
  }
  for (QAbstractButton* box : window->findChildren<QAbstractButton*>()) {
    if (!box->isVisibleTo(window) || box->text().isEmpty()) continue;
    if (!qobject_cast<QCheckBox*>(box) && !qobject_cast<QRadioButton*>(box)) continue;
    if (box->sizeHint().width() > box->width())
      faults.push_back(name(box) + ": needs " + std::to_string(box->sizeHint().width()) + " px, has " +
                       std::to_string(box->width()));
  }
  for (QPushButton* button : window->findChildren<QPushButton*>()) {
    if (!button->isVisibleTo(window) || button->text().isEmpty()) continue;
    const int width = button->fontMetrics().horizontalAdvance(QString(button->text()).remove('&'));
    if (width + 6 > button->width())
      faults.push_back(name(button) + ": needs " + std::to_string(width + 6) + " px, has " + std::to_string(button->width()));
  }
  return faults;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::ostringstream out;
  for (const auto& line : lines) out << line << "\n";
  return out.str();
}

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
    EXPECT_EQ(Joined(ClippedCaptions(w)), "");
  }
  EXPECT_EQ(Joined(ClippedCaptions(main)), "");
  Save(main, "main-window");
  gMdiArea->setActiveSubWindow(qobject_cast<QMdiSubWindow*>(grid->Window()));
  main->mnuSubWindow[1]->trigger();
  for (frmExch* w : {grid, tree}) EXPECT_GE(w->height(), w->minimumSizeHint().height()) << "tiled";
  Save(main, "main-window-tiled");

  {
    frmConnect& dialog = ConnectDialog();
    dialog.cmdOptions_Click();
    dialog.chkConnectAs->setChecked(true);
    dialog.show();
    EXPECT_EQ(Joined(ClippedCaptions(&dialog)), "");
    Save(&dialog, "connect-dialog");
    UnloadConnectDialog();
  }
  {
    frmFavourites dialog(main);
    dialog.Form_Load();
    dialog.InsertEntry("EX10");
    dialog.InsertEntry("EX1");
    dialog.show();
    EXPECT_EQ(Joined(ClippedCaptions(&dialog)), "");
    Save(&dialog, "favourites-dialog");
    dialog.hide();
  }
  {
    frmAutoFormat progress(main);
    progress.setWindowTitle("Connecting to Server - 'EX1'");
    progress.show();
    progress.SetStatus("Retrieving Organization Name from 'EX1'.");
    EXPECT_EQ(Joined(ClippedCaptions(&progress)), "");
    Save(&progress, "progress-window");
    progress.hide();
  }
  Pump();
}
