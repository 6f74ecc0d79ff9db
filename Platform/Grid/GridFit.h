#pragma once
// The column-width pass both programs run before a grid is shown, exported
// or printed: each column widened to its texts, within limits, so that
// short and medium texts show whole.
namespace velmo {
class FlexGrid;
}

// The column pass: texts measured with the grid font (15 twips per pixel).
void FitGridColumnWidths(velmo::FlexGrid& grid);

// The column pass over any grid-like object with Rows(), Cols(),
// TextMatrix(r, c), ColWidth(c) and ColWidth(c, twips), with texts measured
// by measure(text) in twips and p twips per pixel.
template <class Grid, class Measure>
void FitColumnWidthsWith(Grid& grid, Measure&& measure, int p) {
  const double M = 3.0 * p;  // margin on each side
  const double reachLimit = 333.0 * p;
  const double wideLimit = 170.0 * p;
  const double minWidth = 125.0 * p;
  const long rows = grid.Rows();
  const long cols = grid.Cols();
  for (long c = 0; c < cols; ++c) {
    for (long r = 0; r < rows; ++r) {
      const double W = grid.ColWidth(c);
      if (W >= wideLimit) break;  // a wide column never changes again
      const double w = measure(grid.TextMatrix(r, c));
      if (W - M < w) {
        if (w - (W - M) < reachLimit && W < wideLimit) {
          const double fitted = w > minWidth ? w + 2 * M : minWidth;
          grid.ColWidth(c, static_cast<long>(fitted + 0.5));
        }
      }
    }
  }
}
