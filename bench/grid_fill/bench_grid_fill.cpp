// Fills the grid with 100,000 rows of 20 columns, shows it and scrolls it
// from top to bottom page by page, painting every page; prints the times.
#include <QApplication>
#include <QEvent>
#include <QScrollBar>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "FlexGrid.h"
#include "QtNotices.h"

namespace {

// Counts the paint events of a widget.
class PaintCounter : public QObject {
 public:
  int paints = 0;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++paints;
    return false;
  }
};

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  velmo::DropPlatformPluginWarnings();
  QApplication app(argc, argv);
  constexpr int kRows = 100000, kCols = 20;
  using Clock = std::chrono::steady_clock;

  // Bulk fill: one model reset.
  auto t0 = Clock::now();
  std::vector<std::vector<std::string>> data;
  data.reserve(kRows + 1);
  data.emplace_back(kCols + 1);
  for (int c = 1; c <= kCols; ++c) data[0][c] = "Column " + std::to_string(c);
  for (int r = 0; r < kRows; ++r) {
    std::vector<std::string> row(kCols + 1);
    row[0] = " ";
    for (int c = 1; c <= kCols; ++c) row[c] = "Row " + std::to_string(r) + " cell " + std::to_string(c);
    data.push_back(std::move(row));
  }
  const double build = Seconds(t0);
  velmo::FlexGrid grid;
  grid.resize(1024, 768);
  t0 = Clock::now();
  grid.SetData(std::move(data));
  grid.ColWidth(0, 0);
  const double fill = Seconds(t0);

  // Row by row through the cell setter, as a recordset is read.
  velmo::FlexGrid byCell;
  t0 = Clock::now();
  byCell.Rows(1);
  byCell.Cols(kCols + 1);
  for (int r = 1; r <= kRows; ++r) {
    byCell.Rows(byCell.Rows() + 1);
    for (int c = 1; c <= kCols; ++c) byCell.TextMatrix(r, c, "Row " + std::to_string(r) + " cell " + std::to_string(c));
  }
  const double fillByCell = Seconds(t0);

  // Show and scroll to the end a page at a time, painting each page.
  t0 = Clock::now();
  grid.show();
  app.processEvents();
  const double show = Seconds(t0);
  PaintCounter counter;
  grid.viewport()->installEventFilter(&counter);
  QScrollBar* bar = grid.verticalScrollBar();
  const int step = std::max(1, bar->pageStep());
  int pages = 0;
  t0 = Clock::now();
  for (int v = 0; v <= bar->maximum(); v += step) {
    bar->setValue(v);
    app.processEvents();
    ++pages;
  }
  bar->setValue(bar->maximum());
  app.processEvents();
  const double scroll = Seconds(t0);

  t0 = Clock::now();
  grid.Col(3);
  grid.Sort(velmo::flexSortGenericDescending);
  const double sort = Seconds(t0);

  std::printf("grid %d rows x %d columns\n", kRows, kCols);
  std::printf("build texts            %8.3f s\n", build);
  std::printf("fill (SetData)         %8.3f s\n", fill);
  std::printf("fill (cell by cell)    %8.3f s\n", fillByCell);
  std::printf("show                   %8.3f s\n", show);
  std::printf("scroll top to bottom   %8.3f s  (%d pages of %d rows, %d paints, %.2f ms a page)\n", scroll,
              pages, step, counter.paints, pages ? scroll * 1000.0 / pages : 0.0);
  std::printf("sort descending        %8.3f s\n", sort);
  std::printf("rows %d, last row text \"%s\"\n", grid.Rows(), grid.TextMatrix(grid.Rows() - 1, 3).c_str());
  return 0;
}
