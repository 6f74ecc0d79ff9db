#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QInputDialog>
#include <QListWidget>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <functional>

#include "ComError.h"
#include "FlexGrid.h"
#include "QtUi.h"

using velmo::FlexGrid;

namespace {

// One application for the whole run, never destroyed: tearing it down
// among static destructors would outlive the platform plugin.
QApplication& App() {
  static int argc = 1;
  static char name[] = "test_grid";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

class GridTest : public ::testing::Test {
 protected:
  void SetUp() override { App(); }
};

// The error number a call throws, 0 when it throws nothing.
int32_t ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const velmo::ComError& e) {
    return e.Number();
  }
  return 0;
}
constexpr int32_t kSubscript = velmo::Hr(0x800A017D);
constexpr int32_t kInvalid = velmo::Hr(0x800A017C);

std::vector<std::string> Column(const FlexGrid& g, int col) {
  std::vector<std::string> out;
  for (int r = 0; r < g.Rows(); ++r) out.push_back(g.TextMatrix(r, col));
  return out;
}

void Mouse(FlexGrid& g, QEvent::Type type, Qt::MouseButton button, QPoint pos) {
  QWidget* vp = g.viewport();
  QMouseEvent e(type, QPointF(pos), QPointF(vp->mapToGlobal(pos)), button,
                type == QEvent::MouseButtonRelease ? Qt::NoButton : button, Qt::NoModifier);
  QApplication::sendEvent(vp, &e);
}

void Click(FlexGrid& g, QPoint pos, Qt::MouseButton button = Qt::LeftButton) {
  Mouse(g, QEvent::MouseButtonPress, button, pos);
  Mouse(g, QEvent::MouseButtonRelease, button, pos);
}

// A grid of 3 columns (widths 20, 30, 40 px) and rows 10 px high, shown.
std::unique_ptr<FlexGrid> SmallShownGrid(int rows) {
  auto g = std::make_unique<FlexGrid>();
  g->Rows(rows);
  g->Cols(3);
  g->ColWidth(0, 300);
  g->ColWidth(1, 450);
  g->ColWidth(2, 600);
  for (int r = 0; r < rows; ++r) {
    g->RowHeight(r, 150);
    for (int c = 0; c < 3; ++c) g->TextMatrix(r, c, std::to_string(r) + ":" + std::to_string(c));
  }
  g->resize(200, 100);
  g->show();
  QApplication::processEvents();
  return g;
}

}  // namespace

TEST_F(GridTest, DefaultsAndPropertiesRoundTrip) {
  FlexGrid g;
  EXPECT_EQ(std::vector<int>({g.Rows(), g.Cols(), g.FixedRows(), g.FixedCols(), g.Row(), g.Col()}),
            std::vector<int>({2, 2, 1, 1, 1, 1}));
  EXPECT_EQ(g.MergeCells(), velmo::flexMergeNever);
  EXPECT_EQ(g.ColAlignment(1), velmo::flexAlignGeneral);
  EXPECT_TRUE(g.Redraw() && g.Visible());

  g.Rows(6);
  g.Cols(4);
  g.FixedRows(2);
  g.FixedCols(0);
  g.MergeCells(velmo::flexMergeRestrictColumns);
  g.MergeCol(3, true);
  g.MergeRow(5, true);
  g.ColAlignment(2, velmo::flexAlignRightCenter);
  g.WordWrap(true);
  g.GridLines(velmo::flexGridNone);
  g.HighLight(velmo::flexHighlightNever);
  g.FontBold(true);
  g.FontSize(11);
  g.Row(4);
  g.Col(3);
  g.Visible(false);
  g.SetRedrawMode(0);
  EXPECT_FALSE(g.Redraw());
  g.SetRedrawMode(3);

  EXPECT_EQ(std::vector<int>({g.Rows(), g.Cols(), g.FixedRows(), g.FixedCols(), g.Row(), g.Col()}),
            std::vector<int>({6, 4, 2, 0, 4, 3}));
  EXPECT_EQ(g.MergeCells(), velmo::flexMergeRestrictColumns);
  EXPECT_TRUE(g.MergeCol(3) && !g.MergeCol(2) && g.MergeRow(5) && !g.MergeRow(4));
  EXPECT_EQ(g.ColAlignment(2), velmo::flexAlignRightCenter);
  EXPECT_EQ(g.GridLines(), velmo::flexGridNone);
  EXPECT_EQ(g.HighLight(), velmo::flexHighlightNever);
  EXPECT_DOUBLE_EQ(g.FontSize(), 11);
  EXPECT_TRUE(g.WordWrap() && g.FontBold() && g.Redraw() && !g.Visible());

  // Unicode texts pass through unchanged, to views as well.
  g.TextMatrix(0, 3, "M\xC3\xBCller \xE2\x82\xAC");
  EXPECT_EQ(g.TextMatrix(0, 3), "M\xC3\xBCller \xE2\x82\xAC");
  g.TextMatrix(1, 3, QString::fromUtf8("\xC3\x84"));
  EXPECT_EQ(g.TextMatrixQ(1, 3), QString::fromUtf8("\xC3\x84"));
  EXPECT_EQ(g.model()->data(g.model()->index(0, 3), Qt::DisplayRole).toString(), QString::fromUtf8("M\xC3\xBCller \xE2\x82\xAC"));
}

TEST_F(GridTest, BadIndexesAndValuesThrow) {
  FlexGrid g;
  g.Rows(3);
  g.Cols(3);
  EXPECT_EQ(ErrorOf([&] { g.TextMatrix(3, 0); }), kSubscript);
  EXPECT_EQ(ErrorOf([&] { g.TextMatrix(0, -1, "x"); }), kSubscript);
  EXPECT_EQ(ErrorOf([&] { g.ColWidth(3); }), kSubscript);
  EXPECT_EQ(ErrorOf([&] { g.RowHeight(-1, 100); }), kSubscript);
  EXPECT_EQ(ErrorOf([&] { g.Row(3); }), kSubscript);
  EXPECT_EQ(ErrorOf([&] { g.Rows(-1); }), kInvalid);
  EXPECT_EQ(ErrorOf([&] { g.FixedRows(4); }), kInvalid);
  EXPECT_EQ(ErrorOf([&] { g.ColWidth(0, -2); }), kInvalid);
  EXPECT_EQ(ErrorOf([&] { g.MergeCells(5); }), kInvalid);
  EXPECT_EQ(ErrorOf([&] { g.ColAlignment(0, 10); }), kInvalid);
  EXPECT_EQ(ErrorOf([&] { g.RenderToImage(0, 0, 3, 0); }), kSubscript);
  EXPECT_EQ(ErrorOf([&] { g.TextMatrix(2, 2, "ok"); }), 0);
}

TEST_F(GridTest, SizesAreTwipsAtFifteenPerPixel) {
  FlexGrid g;
  g.Rows(3);
  g.Cols(3);
  EXPECT_EQ(g.ColWidth(1), FlexGrid::DefaultColWidth());
  EXPECT_EQ(g.RowHeight(1), g.DefaultRowHeight());
  EXPECT_EQ(g.DefaultRowHeight() % velmo::kTwipsPerPixel, 0);

  // A width set in twips reads back exactly and draws rounded to pixels.
  g.ColWidth(0, 1500);
  g.ColWidth(1, 2290);
  g.ColWidth(2, 0);
  EXPECT_EQ(g.ColWidth(1), 2290);
  EXPECT_EQ(g.CellsSize(0, 0, 0, 0).width(), 100);
  EXPECT_EQ(g.CellsSize(0, 1, 0, 1).width(), 153);
  EXPECT_EQ(g.CellsSize(0, 2, 0, 2).width(), 0);  // hidden column
  g.RowHeight(0, 300);
  g.RowHeight(1, 0);
  EXPECT_EQ(g.CellsSize(0, 0, 1, 0).height(), 20);

  g.ColWidth(1, -1);
  EXPECT_EQ(g.ColWidth(1), FlexGrid::DefaultColWidth());
  EXPECT_EQ(g.CellsSize(0, 1, 0, 1).width(), FlexGrid::DefaultColWidth() / 15);

  g.Width(3000);
  g.Height(1500);
  EXPECT_EQ(g.width(), 200);
  EXPECT_EQ(g.height(), 100);
  EXPECT_EQ(g.Width(), 3000);

  // The default row height follows the font.
  const int before = g.DefaultRowHeight();
  g.FontSize(g.FontSize() * 3);
  EXPECT_GT(g.DefaultRowHeight(), before);
  EXPECT_EQ(g.RowHeight(2), g.DefaultRowHeight());
  EXPECT_EQ(g.RowHeight(0), 300);
}

TEST_F(GridTest, ResizingKeepsTextsAndClampsFixedAndCurrent) {
  FlexGrid g;
  g.Rows(3);
  g.Cols(3);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) g.TextMatrix(r, c, std::to_string(r * 10 + c));
  g.ColWidth(2, 777);
  g.Row(2);
  g.Col(2);

  g.Rows(5);
  g.Cols(5);
  EXPECT_EQ(g.TextMatrix(2, 2), "22");
  EXPECT_EQ(g.TextMatrix(0, 1), "1");
  EXPECT_EQ(g.TextMatrix(4, 4), "");
  EXPECT_EQ(g.ColWidth(2), 777);
  EXPECT_EQ(g.ColWidth(4), FlexGrid::DefaultColWidth());

  // Cells cut off by shrinking stay gone when the grid grows again.
  g.Rows(2);
  g.Cols(2);
  EXPECT_EQ(g.Row(), 1);
  EXPECT_EQ(g.Col(), 1);
  g.Rows(3);
  g.Cols(3);
  EXPECT_EQ(g.TextMatrix(2, 2), "");
  EXPECT_EQ(g.TextMatrix(1, 1), "11");

  // Fixed counts follow a shrinking shape.
  g.FixedRows(2);
  g.Rows(1);
  EXPECT_EQ(g.FixedRows(), 1);
  g.Rows(0);
  EXPECT_EQ(g.FixedRows(), 0);
  EXPECT_EQ(g.Rows(), 0);
}

TEST_F(GridTest, BulkSettersReplaceAppendAndNotifyOnce) {
  FlexGrid g;
  int resets = 0, inserted = 0, changed = 0;
  QObject::connect(g.model(), &QAbstractItemModel::modelReset, [&] { ++resets; });
  QObject::connect(g.model(), &QAbstractItemModel::rowsInserted, [&] { ++inserted; });
  QObject::connect(g.model(), &QAbstractItemModel::dataChanged, [&] { ++changed; });

  g.MergeCol(1, true);
  g.SetData({{"", "Name", "Size"}, {"", "a"}, {"", "b", "2", "extra"}});
  EXPECT_EQ(resets, 1);
  EXPECT_EQ(changed, 0);
  EXPECT_EQ(g.Rows(), 3);
  EXPECT_EQ(g.Cols(), 4);
  EXPECT_EQ(g.TextMatrix(1, 2), "");  // a short row reads empty to the right
  EXPECT_EQ(g.TextMatrix(2, 3), "extra");
  EXPECT_TRUE(g.MergeCol(1));  // column settings survive

  g.AppendRow({"", "c", "3", "x", "wider"});
  EXPECT_EQ(inserted, 1);
  EXPECT_EQ(g.Rows(), 4);
  EXPECT_EQ(g.Cols(), 5);
  EXPECT_EQ(g.TextMatrix(3, 4), "wider");

  g.Clear();
  EXPECT_EQ(g.Rows(), 4);
  EXPECT_EQ(g.Cols(), 5);
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 5; ++c) EXPECT_EQ(g.TextMatrix(r, c), "");

  // An empty replacement keeps the column count.
  g.SetData({});
  EXPECT_EQ(g.Rows(), 0);
  EXPECT_EQ(g.Cols(), 5);
}

TEST_F(GridTest, SortOrdersNonFixedRowsByCurrentColumn) {
  FlexGrid g;
  g.SetData({{"", "Size", "Name"},
             {"", "10", "b"},
             {"", "9", "B"},
             {"", "abc", "a"},
             {"", "2.5", "c"},
             {"", "ABD", "d"},
             {"", "-1", "e"},
             {"", "", "f"}});
  g.Col(1);
  g.Sort(velmo::flexSortGenericAscending);
  // Numbers as numbers and first, then texts without regard to case.
  EXPECT_EQ(Column(g, 1), (std::vector<std::string>{"Size", "-1", "2.5", "9", "10", "", "abc", "ABD"}));
  EXPECT_EQ(Column(g, 2), (std::vector<std::string>{"Name", "e", "c", "B", "b", "f", "a", "d"}));

  g.Sort(velmo::flexSortGenericDescending);
  EXPECT_EQ(Column(g, 1), (std::vector<std::string>{"Size", "ABD", "abc", "", "10", "9", "2.5", "-1"}));

  // Equal keys keep their order; a second fixed row stays where it is.
  g.SetData({{"", "H"}, {"", "sub"}, {"", "x", "1"}, {"", "X", "2"}, {"", "a", "3"}});
  g.FixedRows(2);
  g.Col(1);
  g.Sort(velmo::flexSortGenericAscending);
  EXPECT_EQ(Column(g, 1), (std::vector<std::string>{"H", "sub", "a", "x", "X"}));
  EXPECT_EQ(Column(g, 2), (std::vector<std::string>{"", "", "3", "1", "2"}));
  g.Sort(velmo::flexSortGenericDescending);
  EXPECT_EQ(Column(g, 2), (std::vector<std::string>{"", "", "1", "2", "3"}));

  // Other sort codes change nothing.
  g.Sort(0);
  g.Sort(7);
  EXPECT_EQ(Column(g, 2), (std::vector<std::string>{"", "", "1", "2", "3"}));
}

TEST_F(GridTest, MouseEventsTrackCellsAndSignal) {
  auto g = SmallShownGrid(30);
  int clicks = 0, doubles = 0, headers = -1, rights = 0, changes = 0;
  int lastRow = -2, lastCol = -2;
  QObject::connect(g.get(), &FlexGrid::clicked, [&](int r, int c) { ++clicks, lastRow = r, lastCol = c; });
  QObject::connect(g.get(), &FlexGrid::doubleClicked, [&](int r, int c) { ++doubles, lastRow = r, lastCol = c; });
  QObject::connect(g.get(), &FlexGrid::headerClicked, [&](int c) { headers = c; });
  QObject::connect(g.get(), &FlexGrid::rightClicked, [&](QPoint) { ++rights; });
  QObject::connect(g.get(), &FlexGrid::rowColChanged, [&](int, int) { ++changes; });

  // Row 3 spans y 30..39, column 2 x 50..89.
  Click(*g, {60, 35});
  EXPECT_EQ(g->MouseRow(), 3);
  EXPECT_EQ(g->MouseCol(), 2);
  EXPECT_EQ(g->Row(), 3);
  EXPECT_EQ(g->Col(), 2);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(lastRow, 3);
  EXPECT_EQ(lastCol, 2);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(headers, -1);

  // The header row: a header click, the current cell stays.
  Click(*g, {25, 5});
  EXPECT_EQ(g->MouseRow(), 0);
  EXPECT_EQ(g->MouseCol(), 1);
  EXPECT_EQ(headers, 1);
  EXPECT_EQ(g->Row(), 3);

  // The right button: its own signal, no click, no move.
  Click(*g, {60, 55}, Qt::RightButton);
  EXPECT_EQ(rights, 1);
  EXPECT_EQ(clicks, 2);
  EXPECT_EQ(g->Row(), 3);
  EXPECT_EQ(g->MouseRow(), 5);

  // Beyond the last column there is no cell.
  Click(*g, {150, 35});
  EXPECT_EQ(g->MouseCol(), -1);

  // Double click: press, release, double click, release is one click and
  // one double click.
  const int before = clicks;
  Mouse(*g, QEvent::MouseButtonPress, Qt::LeftButton, {30, 45});
  Mouse(*g, QEvent::MouseButtonRelease, Qt::LeftButton, {30, 45});
  Mouse(*g, QEvent::MouseButtonDblClick, Qt::LeftButton, {30, 45});
  Mouse(*g, QEvent::MouseButtonRelease, Qt::LeftButton, {30, 45});
  EXPECT_EQ(clicks, before + 1);
  EXPECT_EQ(doubles, 1);
  EXPECT_EQ(lastRow, 4);
  EXPECT_EQ(lastCol, 1);

  // Scrolled: the fixed row stays, the rows below it move.
  g->verticalScrollBar()->setValue(10);
  QApplication::processEvents();
  Click(*g, {60, 5});
  EXPECT_EQ(g->MouseRow(), 0);
  Click(*g, {60, 15});
  EXPECT_EQ(g->MouseRow(), 11);
  EXPECT_EQ(g->Row(), 11);
}

TEST_F(GridTest, ScrollingReachesTheLastRowAndKeysFollow) {
  auto g = SmallShownGrid(100);
  QScrollBar* v = g->verticalScrollBar();
  v->setValue(v->maximum());
  QApplication::processEvents();
  // The last row is wholly in view at the bottom.
  const QRect last = g->CellRect(99, 1);
  ASSERT_FALSE(last.isEmpty());
  EXPECT_LE(last.bottom(), g->viewport()->height() - 1);
  EXPECT_TRUE(g->CellRect(98, 1).isValid());

  // Moving down with the keyboard from the top scrolls the current row in.
  v->setValue(0);
  g->Row(1);
  g->Col(1);
  for (int i = 0; i < 40; ++i) {
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QApplication::sendEvent(g.get(), &down);
  }
  EXPECT_EQ(g->Row(), 41);
  EXPECT_FALSE(g->CellRect(41, 1).isEmpty());
  QKeyEvent end(QEvent::KeyPress, Qt::Key_End, Qt::ControlModifier);
  QApplication::sendEvent(g.get(), &end);
  EXPECT_EQ(g->Row(), 99);
  EXPECT_FALSE(g->CellRect(99, 1).isEmpty());
}

TEST_F(GridTest, RenderDrawsRangesAtScale) {
  FlexGrid g;
  g.Rows(4);
  g.Cols(3);
  for (int c = 0; c < 3; ++c) g.ColWidth(c, 600);  // 40 px
  for (int r = 0; r < 4; ++r) g.RowHeight(r, 300);  // 20 px
  g.TextMatrix(1, 1, "WWWW");
  const QColor base = g.palette().color(QPalette::Base);
  const QColor fixed = g.palette().color(QPalette::Button);
  ASSERT_NE(base, fixed);

  QImage all = g.Picture();
  EXPECT_EQ(all.size(), QSize(120, 80));
  EXPECT_EQ(all.pixel(50, 5), fixed.rgb());   // fixed row
  EXPECT_EQ(all.pixel(5, 30), fixed.rgb());   // fixed column
  EXPECT_EQ(all.pixel(90, 70), base.rgb());   // empty data cell
  auto inked = [&](const QImage& img, QRect area) {
    for (int y = area.top(); y <= area.bottom(); ++y)
      for (int x = area.left(); x <= area.right(); ++x)
        if (qGray(img.pixel(x, y)) < 128) return true;
    return false;
  };
  EXPECT_TRUE(inked(all, {43, 23, 34, 14}));    // the text of cell 1,1
  EXPECT_FALSE(inked(all, {83, 43, 34, 14}));   // an empty cell

  // A range starts at its own first cell; scale 2 doubles it.
  QImage part = g.RenderToImage(1, 1, 2, 2, 2.0);
  EXPECT_EQ(part.size(), QSize(160, 80));
  EXPECT_EQ(part.pixel(5, 5), base.rgb());
  EXPECT_TRUE(inked(part, {6, 6, 68, 28}));

  // Onto a painter, into a target rectangle.
  QImage sheet(300, 300, QImage::Format_ARGB32_Premultiplied);
  sheet.fill(Qt::white);
  {
    QPainter p(&sheet);
    g.RenderCells(p, QRectF(100, 100, 40, 20), 0, 0, 0, 0);
  }
  EXPECT_EQ(sheet.pixel(110, 105), fixed.rgb());
  EXPECT_EQ(sheet.pixel(90, 105), QColor(Qt::white).rgb());
  EXPECT_EQ(sheet.pixel(150, 105), QColor(Qt::white).rgb());

  // Hidden grids render too.
  g.Visible(false);
  EXPECT_EQ(g.Picture().size(), QSize(120, 80));
}

TEST_F(GridTest, MergedCellsDrawAsOne) {
  // Column 1 holds A, A, B; column 2 X, X, X. Rows 20 px, columns 40 px.
  auto make = [](int mode) {
    auto g = std::make_unique<FlexGrid>();
    g->SetData({{"", "h1", "h2"}, {"", "A", "X"}, {"", "A", "X"}, {"", "B", "X"}});
    for (int c = 0; c < 3; ++c) g->ColWidth(c, 600);
    for (int r = 0; r < 4; ++r) g->RowHeight(r, 300);
    g->MergeCells(mode);
    for (int c = 1; c < 3; ++c) g->MergeCol(c, true);
    return g;
  };
  // The pixel on the line between rows 1 and 2 (y = 39) in a column,
  // away from any text.
  auto lineBetween1And2 = [](FlexGrid& g, int col) {
    return QColor(g.Picture().pixel(col * 40 + 30, 39));
  };
  auto plain = make(velmo::flexMergeNever);
  const QColor base = plain->palette().color(QPalette::Base);
  EXPECT_NE(lineBetween1And2(*plain, 1).rgb(), base.rgb());  // a grid line

  auto free = make(velmo::flexMergeFree);
  EXPECT_EQ(lineBetween1And2(*free, 1).rgb(), base.rgb());   // A and A are one cell
  EXPECT_EQ(lineBetween1And2(*free, 2).rgb(), base.rgb());

  // Restricted to columns: X merges only where the column before merges.
  auto restricted = make(velmo::flexMergeRestrictColumns);
  EXPECT_EQ(lineBetween1And2(*restricted, 1).rgb(), base.rgb());
  EXPECT_EQ(lineBetween1And2(*restricted, 2).rgb(), base.rgb());
  QImage img = restricted->Picture();
  EXPECT_NE(img.pixel(2 * 40 + 30, 59), base.rgb());  // rows 2 and 3: A then B

  // A header never merges with the data under it, and a column without
  // MergeCol keeps its lines.
  restricted->TextMatrix(0, 1, "A");
  EXPECT_EQ(restricted->Picture().pixel(40 + 30, 19), restricted->palette().color(QPalette::Dark).rgb());
  restricted->MergeCol(1, false);
  EXPECT_NE(lineBetween1And2(*restricted, 1).rgb(), base.rgb());
  EXPECT_NE(lineBetween1And2(*restricted, 2).rgb(), base.rgb());  // and the column after it
}

TEST_F(GridTest, HundredThousandRowsFillScrollAndSort) {
  constexpr int kRows = 100000, kCols = 20;
  std::vector<std::vector<std::string>> data;
  data.reserve(kRows + 1);
  data.push_back(std::vector<std::string>(kCols, "Caption"));
  for (int r = 0; r < kRows; ++r) {
    std::vector<std::string> row(kCols);
    for (int c = 0; c < kCols; ++c) row[c] = "R" + std::to_string(r) + "C" + std::to_string(c);
    row[1] = std::to_string((r * 7919) % kRows);
    data.push_back(std::move(row));
  }
  FlexGrid g;
  g.resize(800, 600);
  g.SetData(std::move(data));
  g.show();
  QApplication::processEvents();
  EXPECT_EQ(g.Rows(), kRows + 1);
  EXPECT_EQ(g.Cols(), kCols);
  EXPECT_EQ(g.TextMatrix(kRows, 19), "R99999C19");

  QScrollBar* v = g.verticalScrollBar();
  v->setValue(v->maximum());
  QApplication::processEvents();
  EXPECT_FALSE(g.CellRect(kRows, 1).isEmpty());

  g.Col(1);
  g.Sort(velmo::flexSortGenericAscending);
  EXPECT_EQ(g.TextMatrix(1, 1), "0");
  EXPECT_EQ(g.TextMatrix(kRows, 1), std::to_string(kRows - 1));
}

// ---------------------------------------------------------------- windowed UI seam

namespace {

// Runs `act` on the first top-level widget of type W once it is shown,
// polling the event loop the modal dialog runs.
template <class W>
void WhenShown(std::function<void(W*)> act) {
  auto attempt = std::make_shared<std::function<void(int)>>();
  // The attempt refers to itself weakly; the pending timer holds it, so it
  // is freed once it stops rescheduling.
  *attempt = [act, self = std::weak_ptr(attempt)](int left) {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* found = qobject_cast<W*>(w); found && found->isVisible()) {
        act(found);
        return;
      }
    if (left > 0) {
      if (auto again = self.lock()) QTimer::singleShot(10, [again, left] { (*again)(left - 1); });
    } else if (QWidget* modal = QApplication::activeModalWidget()) {
      ADD_FAILURE() << "the expected dialog never showed";
      modal->close();  // fail rather than hang
    }
  };
  QTimer::singleShot(0, [attempt] { (*attempt)(500); });
}

}  // namespace

TEST_F(GridTest, MessageBoxAnswersWithTheClickedButton) {
  velmo::QtUi ui;
  QApplication::setApplicationDisplayName("Velmo Test");
  QString title, text;
  QMessageBox::Icon icon{};
  QMessageBox::StandardButtons offered;
  bool plain = false, noIsDefault = false;
  WhenShown<QMessageBox>([&](QMessageBox* box) {
    title = box->windowTitle();
    text = box->text();
    icon = box->icon();
    offered = box->standardButtons();
    plain = box->textFormat() == Qt::PlainText;
    noIsDefault = box->defaultButton() == box->button(QMessageBox::No);
    box->button(QMessageBox::No)->click();
  });
  using namespace velmo::ui;
  EXPECT_EQ(ui.MsgBox("<b>Delete?</b>", vbYesNo + vbQuestion + vbDefaultButton2, ""), vbNo);
  EXPECT_EQ(title, "Velmo Test");  // an empty title shows the application's name
  EXPECT_EQ(text, "<b>Delete?</b>");
  EXPECT_TRUE(plain && noIsDefault);
  EXPECT_EQ(icon, QMessageBox::Question);
  EXPECT_EQ(offered, QMessageBox::Yes | QMessageBox::No);

  struct Case {
    int buttons;
    QMessageBox::StandardButton click;
    int answer;
  };
  for (const Case& c : {Case{vbOKOnly + vbInformation, QMessageBox::Ok, vbOK},
                        Case{vbOKCancel, QMessageBox::Cancel, vbCancel},
                        Case{vbAbortRetryIgnore, QMessageBox::Ignore, vbIgnore},
                        Case{vbYesNoCancel, QMessageBox::Yes, vbYes},
                        Case{vbRetryCancel, QMessageBox::Retry, vbRetry}}) {
    QString shownTitle;
    WhenShown<QMessageBox>([&](QMessageBox* box) {
      shownTitle = box->windowTitle();
      box->button(c.click)->click();
    });
    EXPECT_EQ(ui.MsgBox("Question", c.buttons, "Velmorcast"), c.answer) << c.buttons;
    EXPECT_EQ(shownTitle, "Velmorcast");
  }

  // Return takes the default button.
  WhenShown<QMessageBox>([](QMessageBox* box) {
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(box, &enter);
  });
  EXPECT_EQ(ui.MsgBox("Again?", vbYesNoCancel + vbDefaultButton3, "T"), vbCancel);
}

TEST_F(GridTest, InputBoxAndProfileChooserReturnTheChoice) {
  velmo::QtUi ui;
  std::string value = "old";
  WhenShown<QInputDialog>([](QInputDialog* d) {
    EXPECT_EQ(d->textValue(), "old");
    d->setTextValue("Mailboxes");
    d->accept();
  });
  EXPECT_TRUE(ui.InputBox("Enter the table name", "Title", value));
  EXPECT_EQ(value, "Mailboxes");
  WhenShown<QInputDialog>([](QInputDialog* d) { d->reject(); });
  EXPECT_FALSE(ui.InputBox("Enter the table name", "Title", value));
  EXPECT_EQ(value, "Mailboxes");

  std::string chosen = "Outlook";
  int startRow = -1;
  WhenShown<QDialog>([&](QDialog* d) {
    if (d->objectName() != "frmChooseProfile") return;
    auto* list = d->findChild<QListWidget*>("lstProfiles");
    ASSERT_NE(list, nullptr);
    startRow = list->currentRow();
    list->setCurrentRow(2);
    d->findChild<QPushButton*>("cmdOk")->click();
  });
  EXPECT_TRUE(ui.ChooseProfile({"MS Exchange Settings", "Outlook", "Admin"}, 0, chosen));
  EXPECT_EQ(startRow, 1);
  EXPECT_EQ(chosen, "Admin");

  WhenShown<QDialog>([](QDialog* d) { d->findChild<QPushButton*>("cmdCancel")->click(); });
  EXPECT_FALSE(ui.ChooseProfile({"A", "B"}, 0, chosen));
  EXPECT_EQ(chosen, "Admin");
  EXPECT_FALSE(ui.ChooseProfile({}, 0, chosen));
  EXPECT_FALSE(ui.Unattended());
}
