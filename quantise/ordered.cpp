#include "quantise/ordered.h"

#include <algorithm>

#include "quantise/line_search_kernels.h"

namespace kovrel {
namespace {

std::int32_t byteDistance(const std::int32_t* a, const std::int32_t* b) {
  const std::int32_t m = (a[0] + b[0]) / 2;
  const std::int32_t dr = a[0] - b[0];
  const std::int32_t dg = a[1] - b[1];
  const std::int32_t db = a[2] - b[2];
  return ((512 + m) * dr * dr + 1024 * dg * dg + (767 - m) * db * db) / 256;
}

}  // namespace

LineChoice orderedLine(const Diffuser& d, int strength, const WorkingImage& image, int x0, int y) {
  std::int64_t pixel[kTileLinePixels][kChannels];
  std::int32_t coded[kTileLinePixels][kChannels];
  for (int k = 0; k < kTileLinePixels; ++k) {
    const Sample* s = image.pixel(x0 + k, y);
    for (int c = 0; c < kChannels; ++c) {
      pixel[k][c] = d.valueOfSample[clampSample(s[c])];
      coded[k][c] = d.code[pixel[k][c] >> 4];
    }
  }
  LineChoice best;
  best.cost = 0xFFFFFFFF;
  for (int index = 0; index < kPairCount; ++index) {
    const int h = search::kPairColours[index].background;
    const int o = search::kPairColours[index].foreground;
    const std::int32_t* a = d.colourValue[h];
    const std::int32_t* b = d.colourValue[o];
    std::int64_t span[kChannels];
    std::int64_t length = 0;  // |b - a|^2
    for (int c = 0; c < kChannels; ++c) {
      span[c] = b[c] - a[c];
      length += span[c] * span[c];
    }
    LineChoice choice;
    choice.background = static_cast<std::uint8_t>(h);
    choice.foreground = static_cast<std::uint8_t>(o);
    choice.cost = 0;
    for (int k = 0; k < kTileLinePixels && choice.cost < best.cost; ++k) {
      // The pixel's place along the pair, along / length, limited to 0 ... 1.
      std::int64_t along = 0;
      for (int c = 0; c < kChannels; ++c) {
        along += (pixel[k][c] - a[c]) * span[c];
      }
      along = along < 0 ? 0 : (along > length ? length : along);
      std::int32_t mix[kChannels];
      for (int c = 0; c < kChannels; ++c) {
        const std::int64_t value = length == 0 ? a[c] : a[c] + span[c] * along / length;
        mix[c] = d.code[value >> 4];
      }
      choice.cost += static_cast<std::uint32_t>(byteDistance(coded[k], mix));
      // The foreground where the place passes the threshold, which is
      // (2 t + 1) / 128 for the matrix entry t, drawn towards one half below
      // full strength.
      const int t = kBayer.entry[y & 7][(x0 + k) & 7];
      const std::int64_t threshold = 64 * kFullStrength + (2 * t + 1 - 64) * std::int64_t{strength};
      if (length != 0 && along * 128 * kFullStrength > length * threshold) {
        choice.mask = static_cast<std::uint8_t>(choice.mask | (1u << k));
      }
    }
    if (choice.cost < best.cost) {
      best = choice;
    }
  }
  return best;
}

std::uint32_t quantiseOrdered(const Diffuser& d, int strength, WorkingImage& image, std::FILE* progress,
                              LineChoice* choices) {
  const int columns = image.tileColumns();
  const int height = image.tileRows() * kTileSide;
  const auto total = static_cast<std::uint32_t>(columns * height);
  std::uint32_t runCount = 0;
  for (int y = 0; y < height; ++y) {
    for (int column = 0; column < columns; ++column) {
      const int x0 = column * kTileLinePixels;
      const LineChoice choice = orderedLine(d, strength, image, x0, y);
      for (int k = 0; k < kTileLinePixels; ++k) {
        const int colour = ((choice.mask >> k) & 1u) != 0 ? choice.foreground : choice.background;
        std::copy_n(d.samples.colour[colour], kChannels, image.pixel(x0 + k, y));
      }
      if (choices != nullptr) {
        choices[y * columns + column] = choice;
      }
      reportProgress(progress, runCount, total);
      ++runCount;
    }
  }
  return runCount;
}

}  // namespace kovrel
