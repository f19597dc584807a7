#include "colour/colour.h"
#include "tiles/tiles.h"

#if defined(KOVREL_PLAIN_SEARCH)
#include "tests/reference_search.h"
#endif

namespace kovrel {
#if !defined(KOVREL_PLAIN_SEARCH)
namespace {

constexpr std::uint32_t kNoCost = 0x7FFFFFFF;

// The search without error of every pair over precomputed distances. Since
// no distance is negative, abandoning a pair early never changes which pair
// wins, so none is abandoned here.
TileLineBytes searchAllPairs(const PaletteSampleTable& palette, const Sample (&v)[kTileLinePixels][kChannels]) {
  std::uint32_t distance[kTileLinePixels][kPaletteSize];
  for (int k = 0; k < kTileLinePixels; ++k) {
    for (int c = kFirstUsableColour; c <= kLastUsableColour; ++c) {
      distance[k][c] = static_cast<std::uint32_t>(colourDistance(v[k], palette.colour[c]));
    }
  }
  TileLineBytes result;
  std::uint32_t best = kNoCost;
  for (int h = kFirstUsableColour; h < kLastUsableColour; ++h) {
    for (int o = h + 1; o <= kLastUsableColour; ++o) {
      std::uint32_t cost = 0;
      unsigned bits = 0;
      for (int k = 0; k < kTileLinePixels; ++k) {
        const std::uint32_t dh = distance[k][h];
        const std::uint32_t dO = distance[k][o];
        bits = 2 * bits + (dh > dO ? 1u : 0u);
        cost += dh > dO ? dO : dh;
      }
      if (cost < best) {
        best = cost;
        result.colour = static_cast<std::uint8_t>(16 * o + h);
        result.pattern = static_cast<std::uint8_t>(bits);
      }
    }
  }
  return result;
}

// The usable palette index whose 8-bit triple is that of the limited
// samples v, or 0.
int paletteIndexOf(const PaletteSampleTable& palette, const Sample* v) {
  for (int c = kFirstUsableColour; c <= kLastUsableColour; ++c) {
    if (palette.colour[c][0] / kSampleScale == v[0] / kSampleScale &&
        palette.colour[c][1] / kSampleScale == v[1] / kSampleScale &&
        palette.colour[c][2] / kSampleScale == v[2] / kSampleScale) {
      return c;
    }
  }
  return 0;
}

}  // namespace
#endif

// The distance sees only the 8-bit values of the limited samples. When every
// pixel's is a usable palette colour's, and the line holds at most two
// colours, the pair of those colours costs 0 and no earlier pair does (two
// different triples are at distance 2 at least, and no two usable colours
// are alike), so the bytes follow from the colours alone, as a committed
// line's do (tileLineBytesOf). Any other line takes the full search, and so
// does every line when two usable colours are alike.
TileLineBytes encodeTileLine(const Quantiser& q, const WorkingImage& image, int x0, int y) {
#if defined(KOVREL_PLAIN_SEARCH)
  return reference::encodeTileLine(q.palette, image, x0, y);
#else
  Sample v[kTileLinePixels][kChannels];
  const Sample* line = image.pixel(x0, y);
  int colour[kTileLinePixels];
  bool exact = !q.repeatedColour;
  for (int k = 0; k < kTileLinePixels; ++k) {
    for (int c = 0; c < kChannels; ++c) {
      v[k][c] = clampSample(line[k * kChannels + c]);
    }
    const bool repeat = k > 0 && v[k][0] / kSampleScale == v[k - 1][0] / kSampleScale &&
                        v[k][1] / kSampleScale == v[k - 1][1] / kSampleScale &&
                        v[k][2] / kSampleScale == v[k - 1][2] / kSampleScale;
    colour[k] = repeat ? colour[k - 1] : paletteIndexOf(q.palette, v[k]);
    exact = exact && colour[k] != 0;
  }
  if (exact) {
    const int first = colour[0];
    int second = 0;
    bool twoAtMost = true;
    for (int k = 1; k < kTileLinePixels; ++k) {
      if (colour[k] != first) {
        twoAtMost = twoAtMost && (second == 0 || second == colour[k]);
        second = colour[k];
      }
    }
    if (twoAtMost) {
      // Read as the committed line of the pair of its colours.
      LineChoice choice;
      choice.background = static_cast<std::uint8_t>(second == 0 || first < second ? first : second);
      choice.foreground = static_cast<std::uint8_t>(first > second ? first : second);
      for (int k = 0; k < kTileLinePixels; ++k) {
        choice.mask = static_cast<std::uint8_t>(choice.mask | (colour[k] == choice.foreground) << k);
      }
      return tileLineBytesOf(choice);
    }
  }
  return searchAllPairs(q.palette, v);
#endif
}

}  // namespace kovrel
