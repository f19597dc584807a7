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
TileLineBytes searchAllPairs(const Sample (&v)[kTileLinePixels][kChannels]) {
  std::uint32_t distance[kTileLinePixels][kPaletteSize];
  for (int k = 0; k < kTileLinePixels; ++k) {
    for (int c = kFirstUsableColour; c <= kLastUsableColour; ++c) {
      distance[k][c] = static_cast<std::uint32_t>(colourDistance(v[k], kPaletteSamples.colour[c]));
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

// The usable palette colours by their 8-bit triple, hashed: slot
// hashSlot(r, g, b) holds the colour whose triple hashes there (or 0). The
// multiplier is one under which the 15 colours take 15 different slots.
constexpr int kSlots = 64;
constexpr std::uint32_t kHashMultiplier = 0x85EBCA6Bu;

constexpr std::uint32_t packTriple(std::int32_t r, std::int32_t g, std::int32_t b) {
  return static_cast<std::uint32_t>(r) << 16 | static_cast<std::uint32_t>(g) << 8 |
         static_cast<std::uint32_t>(b);
}

constexpr int hashSlot(std::uint32_t triple) { return static_cast<int>((triple * kHashMultiplier) >> 26); }

struct ColourSlots {
  std::uint32_t triple[kSlots];
  std::uint8_t colour[kSlots];
  bool collision;
};

constexpr ColourSlots makeColourSlots() {
  ColourSlots slots{};
  for (int c = kFirstUsableColour; c <= kLastUsableColour; ++c) {
    const std::uint32_t triple = packTriple(kPalette[c][0], kPalette[c][1], kPalette[c][2]);
    const int slot = hashSlot(triple);
    slots.collision = slots.collision || slots.colour[slot] != 0;
    slots.triple[slot] = triple;
    slots.colour[slot] = static_cast<std::uint8_t>(c);
  }
  return slots;
}
constexpr ColourSlots kColourSlots = makeColourSlots();
static_assert(!kColourSlots.collision, "two palette colours share a slot");

// The usable palette index whose 8-bit triple is (r, g, b) (each 0 ... 255),
// or 0.
int paletteIndexOf(std::int32_t r, std::int32_t g, std::int32_t b) {
  const std::uint32_t triple = packTriple(r, g, b);
  const int slot = hashSlot(triple);
  return kColourSlots.triple[slot] == triple ? kColourSlots.colour[slot] : 0;
}

}  // namespace
#endif

// The distance sees only the 8-bit values of the limited samples. When every
// pixel's is a usable palette colour's, and the line holds at most two
// colours, the pair of those colours costs 0 and no earlier pair does (no two
// usable colours are at distance 0), so the bytes follow from the colours
// alone, as a committed line's do (tileLineBytesOf). Any other line takes the
// full search.
TileLineBytes encodeTileLine(const WorkingImage& image, int x0, int y) {
#if defined(KOVREL_PLAIN_SEARCH)
  return reference::encodeTileLine(image, x0, y);
#else
  Sample v[kTileLinePixels][kChannels];
  const Sample* line = image.pixel(x0, y);
  int colour[kTileLinePixels];
  bool exact = true;
  for (int k = 0; k < kTileLinePixels; ++k) {
    for (int c = 0; c < kChannels; ++c) {
      v[k][c] = clampSample(line[k * kChannels + c]);
    }
    const bool repeat = k > 0 && v[k][0] / kSampleScale == v[k - 1][0] / kSampleScale &&
                        v[k][1] / kSampleScale == v[k - 1][1] / kSampleScale &&
                        v[k][2] / kSampleScale == v[k - 1][2] / kSampleScale;
    colour[k] = repeat ? colour[k - 1]
                       : paletteIndexOf(v[k][0] / kSampleScale, v[k][1] / kSampleScale,
                                        v[k][2] / kSampleScale);
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
  return searchAllPairs(v);
#endif
}

}  // namespace kovrel
