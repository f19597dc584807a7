#include "colour/colour.h"
#include "tiles/tiles.h"

namespace kovrel {

TileLineBytes encodeTileLine(const WorkingImage& image, int x0, int y) {
  Sample v[kTileLinePixels][kChannels];
  const Sample* line = image.pixel(x0, y);
  for (int k = 0; k < kTileLinePixels; ++k) {
    for (int c = 0; c < kChannels; ++c) {
      v[k][c] = clampSample(line[k * kChannels + c]);
    }
  }
  TileLineBytes result;
  std::uint32_t best = 0x7FFFFFFF;
  for (int h = kFirstUsableColour; h < kLastUsableColour; ++h) {
    for (int o = h + 1; o <= kLastUsableColour; ++o) {
      std::uint32_t cost = 0;
      unsigned bits = 0;
      bool abandoned = false;
      for (int k = 0; k < kTileLinePixels; ++k) {
        const auto dh = static_cast<std::uint32_t>(colourDistance(v[k], kPaletteSamples.colour[h]));
        const auto dO = static_cast<std::uint32_t>(colourDistance(v[k], kPaletteSamples.colour[o]));
        bits = 2 * bits + (dh > dO ? 1u : 0u);
        cost += dh > dO ? dO : dh;
        if (cost > best) {
          abandoned = true;
          break;
        }
      }
      if (!abandoned && cost < best) {
        best = cost;
        result.colour = static_cast<std::uint8_t>(16 * o + h);
        result.pattern = static_cast<std::uint8_t>(bits);
      }
    }
  }
  return result;
}

}  // namespace kovrel
