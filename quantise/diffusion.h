// The diffusing pass for every method and kernel but the plain one: the
// same exhaustive pair search and commit as quantiseImage, with the error
// carried either on the gamma-coded samples or in linear light, and spread
// with any of the error kernels.
//
// Values are carried as 32-bit integers on a scale where full intensity is
// kStateFull. Every pixel's value, when its line is searched or committed,
// is its stored value plus what the pixels on its left in the same line
// carry to it, limited to kLowestCarried ... kHighestCarried (0 ...
// kStateFull). Its error is that value less the chosen palette colour's, so
// it lies within -kStateFull ... kStateFull, and a share of it is
// (error x fraction) >> 15, the fraction being weight / divisor of 2^15
// scaled by the strength, at most 7/16 x 2^15 = 14336. The shares a pixel
// receives sum to at most its kernel's whole, so stored values stay within
// -kStateFull ... 2 kStateFull.
//
// Why the limits are those of the picture. Below 0 the value holds the
// negative error a bright dot leaves in a dark area; keeping it (down to
// -kStateFull, say) keeps a flat dark field's light exactly, but on the
// bundled photographs it raised the perceptual error at 24 samples per
// degree (the cat from 13.5 to 15.0) while lowering it at 48: the dots it
// spaces out read as noise from near. Limited to 0, a dark field comes out
// somewhat bright with the Floyd-Steinberg kernel, still much less so than
// with the error carried on the coded values.
// The pair decisions are made as the plain search makes them, by the
// red-mean distance on gamma-coded 8-bit values: a value in linear light is
// coded back through a table indexed by value >> 4.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "colour/colour.h"
#include "quantise/line_search_kernels.h"
#include "quantise/methods.h"
#include "quantise/quantise.h"

namespace kovrel {

constexpr std::int32_t kStateFull = std::int32_t{kFullScale} * 16;  // 65280
constexpr int kCodeEntries = kStateFull / 16 + 1;                    // 4081
constexpr std::int32_t kLowestCarried = 0;
constexpr std::int32_t kHighestCarried = kStateFull;
constexpr int kFractionBits = 15;
static_assert(std::int64_t{kHighestCarried} * (7 << kFractionBits) / 16 < (std::int64_t{1} << 31) &&
                  std::int64_t{kStateFull - kLowestCarried} * (7 << kFractionBits) / 16 < (std::int64_t{1} << 31),
              "an error times its largest fraction must fit in 32 bits");

enum class Light {
  kGamma,   // values are the gamma-coded samples x 16
  kLinear,  // values are linear light (IEC 61966-2-1), full = kStateFull
};

// Pairs in lanes: the colours' 8-bit values (for distances) and their values
// on the carried scale (for errors).
struct DiffusionPairs {
  alignas(64) std::int32_t index[kMaxPairLanes];
  alignas(64) std::int32_t h[kMaxPairLanes];
  alignas(64) std::int32_t o[kMaxPairLanes];
  alignas(64) std::int32_t hByte[kChannels][kMaxPairLanes];
  alignas(64) std::int32_t oByte[kChannels][kMaxPairLanes];
  alignas(64) std::int32_t hValue[kChannels][kMaxPairLanes];
  alignas(64) std::int32_t oValue[kChannels][kMaxPairLanes];
};

struct CommitShare {
  int dx;
  int dy;
  std::int32_t fraction;  // of 65536
};

struct Diffuser {
  Light light = Light::kGamma;
  PaletteSampleTable samples;  // what the chosen pixels are given
  DiffusionPairs pairs;
  std::int32_t colourByte[kPaletteSize][kChannels];
  std::int32_t colourValue[kPaletteSize][kChannels];
  alignas(64) std::int32_t byteOfColour[kChannels][kPaletteSize];   // colourByte, a channel's in a row
  alignas(64) std::int32_t valueOfColour[kChannels][kPaletteSize];  // colourValue, likewise
  alignas(64) std::int32_t code[kCodeEntries];     // limited value >> 4 to the 8-bit gamma-coded value
  std::int32_t valueOfSample[kFullScale + 1];      // a limited Sample to the carried scale
  std::int32_t right = 0;                          // fraction carried to the next pixel
  std::int32_t rightTwo = 0;                       // and to the one after
  int shareCount = 0;
  CommitShare share[kMostShares];
};

Diffuser makeDiffuser(const Palette& palette, Light light, ErrorKernel kernel, int strength);

// Linear light of an 8-bit-scale gamma-coded value, sample / kFullScale,
// on the carried scale, and back: deterministic (only basic floating-point
// operations, each exactly rounded everywhere), so that the web page's
// tables are the program's.
std::int32_t linearOfSample(int sample);
std::int32_t byteOfLinear(double linear);

// The values being carried for the padded area, with two pixels' margin at
// the sides and two rows below for the shares that fall outside.
struct DiffusionImage {
  int width = 0;   // the padded area's
  int height = 0;
  std::vector<std::int32_t> values;
  std::int32_t* at(int x, int y) {
    return &values[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width + 4) + static_cast<std::size_t>(x + 2)) *
                   kChannels];
  }
  const std::int32_t* at(int x, int y) const {
    return &values[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width + 4) + static_cast<std::size_t>(x + 2)) *
                   kChannels];
  }
};

DiffusionImage diffusionImageOf(const Diffuser& d, const WorkingImage& image);

// A line's stored values, pixel k's channel c in value[k][c].
struct LineValues {
  std::int32_t value[kTileLinePixels][kChannels];
};

// One pair's cost and mask on the line, as the search works them out (the
// plain definition the fast kernels are held to).
LineChoice diffusedPairCost(const Diffuser& d, const LineValues& line, int index);

// The first pair in visiting order with the smallest cost: every pair
// tried, one after the other.
LineChoice plainDiffusedSearch(const Diffuser& d, const LineValues& line);

// The same with the fastest kernel the processor runs (or the given one).
LineChoice searchDiffusedLine(const Diffuser& d, const LineValues& line, const SearchHints& hints);

namespace search {
namespace portable {
LineChoice searchDiffused(const Diffuser& d, const LineValues& line, const SearchHints& hints);
}
namespace avx2 {
LineChoice searchDiffused(const Diffuser& d, const LineValues& line, const SearchHints& hints);
}
namespace avx512 {
LineChoice searchDiffused(const Diffuser& d, const LineValues& line, const SearchHints& hints);
}
LineChoice searchDiffusedWith(Kernel kernel, const Diffuser& d, const LineValues& line, const SearchHints& hints);
}  // namespace search

// Writes the chosen colours into image and spreads each pixel's error, in
// the order the search assumed: pixel by pixel, each pixel's value complete
// (the shares from the pixels before it on the line added) when it is
// reached.
void commitDiffused(const Diffuser& d, DiffusionImage& values, WorkingImage& image, int x0, int y,
                    const LineChoice& choice);

// Searches and commits every TileLine in raster order, writing the chosen
// palette colours into image; as quantiseImage otherwise.
std::uint32_t quantiseDiffused(const Diffuser& d, WorkingImage& image, std::FILE* progress, LineChoice* choices);

}  // namespace kovrel
