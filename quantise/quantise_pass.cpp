#include <algorithm>
#include <iterator>

#include "quantise/quantise.h"

namespace kovrel {

int progressFigure(std::uint32_t n, std::uint32_t total) {
  const std::uint32_t before = (100 * n) / total;
  const std::uint32_t after = (100 * n + 100) / total;
  return before < after ? static_cast<int>(before) : -1;
}

std::uint32_t quantiseImage(const Quantiser& q, WorkingImage& image, std::FILE* progress, LineChoice* choices) {
  const int columns = image.tileColumns();
  const int rows = image.tileRows();
  const auto total = static_cast<std::uint32_t>(columns * rows * kTileSide);
  std::uint32_t runCount = 0;
  // Each column's last choice: neighbouring lines often share a pair, which
  // makes a good first guess for the search.
  LineChoice previous[kMaxSide / kTileLinePixels];
  std::fill(std::begin(previous), std::end(previous), kNoChoice);
  const auto finish = [&](const LinePlace& place, const LineChoice& choice) {
    const int c = place.x0 / kTileLinePixels;
    previous[c] = choice;
    commitLine(q, image, place.x0, place.y, choice);
    if (choices != nullptr) {
      choices[place.y * columns + c] = choice;
    }
    reportProgress(progress, runCount, total);
    ++runCount;
  };
  const auto hintsAt = [&](int c) {
    SearchHints hints;
    hints.above = previous[c];
    hints.left = previous[c > 0 ? c - 1 : c];
    return hints;
  };
  // Raster order asks for row y's lines left to right before row y + 1's.
  // A line's search reads what the lines above it, above left and above
  // right, and the line on its left, have committed, and its commit reaches
  // only its own pixels, the next pixel on the right and the row below. So
  // line c of row y + 1 may be worked at the same time as line c + 2 of row
  // y, once line c + 1 of row y and line c - 1 of row y + 1 are done: the
  // two rows go together, the lower one two lines behind. Every pixel then
  // receives the same shares in the same order as in raster order, and the
  // lines are still counted one by one for the progress figure.
  static_assert(kTileSide % 2 == 0, "pixel rows go in pairs");
  constexpr int kLag = 2;
  for (int y = 0; y < rows * kTileSide; y += 2) {
    for (int t = 0; t < columns + kLag; ++t) {
      const LinePlace upper{kTileLinePixels * t, y};
      const LinePlace lower{kTileLinePixels * (t - kLag), y + 1};
      const bool upperDue = t < columns;
      const bool lowerDue = t >= kLag;
      if (upperDue && lowerDue) {
        const LinePlace places[2] = {upper, lower};
        const SearchHints hints[2] = {hintsAt(t), hintsAt(t - kLag)};
        LineChoice found[2];
        searchTwoLinePairs(q, image, places, hints, found);
        finish(upper, found[0]);
        finish(lower, found[1]);
      } else if (upperDue) {
        finish(upper, searchLinePair(q, image, upper.x0, upper.y, hintsAt(t)));
      } else if (lowerDue) {
        finish(lower, searchLinePair(q, image, lower.x0, lower.y, hintsAt(t - kLag)));
      }
    }
  }
  return runCount;
}

}  // namespace kovrel
