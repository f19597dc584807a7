#include <algorithm>
#include <iterator>

#include "quantise/quantise.h"

namespace kovrel {

int progressFigure(std::uint32_t n, std::uint32_t total) {
  const std::uint32_t before = (100 * n) / total;
  const std::uint32_t after = (100 * n + 100) / total;
  return before < after ? static_cast<int>(before) : -1;
}

std::uint32_t quantiseImage(WorkingImage& image, std::FILE* progress) {
  return quantiseImage(image, progress, nullptr);
}

std::uint32_t quantiseImage(WorkingImage& image, std::FILE* progress, LineChoice* choices) {
  const int columns = image.tileColumns();
  const int rows = image.tileRows();
  const auto total = static_cast<std::uint32_t>(columns * rows * kTileSide);
  std::uint32_t runCount = 0;
  // Each column's last choice: neighbouring lines often share a pair, which
  // makes a good first guess for the search.
  LineChoice previous[kMaxSide / kTileLinePixels];
  std::fill(std::begin(previous), std::end(previous), kNoChoice);
  for (int m = 0; m < rows; ++m) {
    for (int l = 0; l < kTileSide; ++l) {
      const int y = kTileSide * m + l;
      for (int c = 0; c < columns; ++c) {
        const int x0 = kTileLinePixels * c;
        SearchHints hints;
        hints.above = previous[c];
        hints.left = previous[c > 0 ? c - 1 : c];
        previous[c] = searchLinePair(image, x0, y, hints);
        commitLine(image, x0, y, previous[c]);
        if (choices != nullptr) {
          choices[y * columns + c] = previous[c];
        }
        const int figure = progressFigure(runCount, total);
        if (progress != nullptr && figure >= 0) {
          std::fprintf(progress, "\b\b\b%2i%%", figure);
          std::fflush(progress);
        }
        ++runCount;
      }
    }
  }
  return runCount;
}

}  // namespace kovrel
