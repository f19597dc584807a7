#include "colour/colour.h"
#include "quantise/quantise.h"

namespace kovrel {

// Trial values. The first pixel's value is a clamped stored sample, 0 ...
// 4080. Each later one is min(s, 4080) + (7 * e) / 16 with s >= 0 and
// e = v - p, p a palette sample in 0 ... 4080. Starting from 0 ... 4080 the
// value stays within the fixed points of v' = 4080 + 7 v / 16 (7253) and
// v' = 7 (v - 4080) / 16 (-3173), so a Sample holds every trial value and
// 7 * e (at most 7 * 7253) needs only 32 bits.
LineChoice searchLinePair(const WorkingImage& image, int x0, int y) {
  const Sample* line = image.pixel(x0, y);
  LineChoice best;
  std::uint32_t bestCost = 0x7FFFFFFF;
  for (int h = kFirstUsableColour; h < kLastUsableColour; ++h) {
    for (int o = h + 1; o <= kLastUsableColour; ++o) {
      Sample v[kChannels];
      for (int c = 0; c < kChannels; ++c) {
        v[c] = clampSample(line[c]);
      }
      std::uint32_t cost = 0;
      std::uint8_t mask = 0;
      bool abandoned = false;
      for (int k = 0; k < kTileLinePixels; ++k) {
        const auto dh = static_cast<std::uint32_t>(colourDistance(v, kPaletteSamples.colour[h]));
        const auto dO = static_cast<std::uint32_t>(colourDistance(v, kPaletteSamples.colour[o]));
        int chosen = h;
        if (dh <= dO) {
          cost += dh;
        } else {
          cost += dO;
          chosen = o;
          mask = static_cast<std::uint8_t>(mask | (1u << k));
        }
        if (cost > bestCost) {
          abandoned = true;
          break;
        }
        if (k + 1 < kTileLinePixels) {
          const Sample* next = line + (k + 1) * kChannels;
          for (int c = 0; c < kChannels; ++c) {
            const int s = next[c];
            if (s < 0) {
              v[c] = 0;
            } else {
              const int e = v[c] - kPaletteSamples.colour[chosen][c];
              v[c] = static_cast<Sample>(clampSample(next[c]) + (7 * e) / 16);
            }
          }
        }
      }
      if (!abandoned && cost < bestCost) {
        bestCost = cost;
        best.background = static_cast<std::uint8_t>(h);
        best.foreground = static_cast<std::uint8_t>(o);
        best.mask = mask;
        best.cost = cost;
      }
    }
  }
  return best;
}

}  // namespace kovrel
