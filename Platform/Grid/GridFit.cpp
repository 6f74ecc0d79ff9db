#include "GridFit.h"

#include <QFontMetrics>
#include <QString>
#include <algorithm>
#include <string>
#include <unordered_map>

#include "FlexGrid.h"

void FitGridColumnWidths(velmo::FlexGrid& grid) {
  const QFontMetrics metrics(grid.font());
  // Each distinct text is measured once; a text's width is that of its
  // widest line.
  std::unordered_map<std::string, int> widths;
  auto measure = [&](const std::string& text) -> int {
    if (text.empty()) return 0;
    auto it = widths.find(text);
    if (it != widths.end()) return it->second;
    int px = 0;
    for (const auto& line : QString::fromStdString(text).split('\n'))
      px = std::max(px, metrics.horizontalAdvance(line.endsWith('\r') ? line.chopped(1) : line));
    const int twips = px * velmo::kTwipsPerPixel;
    widths.emplace(text, twips);
    return twips;
  };
  FitColumnWidthsWith(grid, measure, velmo::kTwipsPerPixel);
}
