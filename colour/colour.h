// The TMS9918's fixed palette and the one colour difference every comparison
// in the converter uses.
#pragma once

#include <cstdint>

#include "image/working_image.h"

namespace kovrel {

constexpr int kPaletteSize = 16;
// Index 0 is the chip's transparent colour; the searches use 1 ... 15.
constexpr int kFirstUsableColour = 1;
constexpr int kLastUsableColour = 15;

// 8-bit red, green, blue of each palette index.
constexpr std::int32_t kPalette[kPaletteSize][kChannels] = {
    {0, 0, 0},       {0, 0, 0},       {33, 200, 66},   {94, 220, 120},
    {84, 85, 237},   {125, 118, 252}, {212, 82, 77},   {66, 235, 245},
    {252, 85, 84},   {255, 121, 120}, {212, 193, 84},  {230, 206, 128},
    {33, 176, 59},   {201, 91, 186},  {204, 204, 204}, {255, 255, 255},
};

struct PaletteSampleTable {
  Sample colour[kPaletteSize][kChannels];
};

constexpr PaletteSampleTable makePaletteSamples() {
  PaletteSampleTable table{};
  for (int i = 0; i < kPaletteSize; ++i) {
    for (int c = 0; c < kChannels; ++c) {
      table.colour[i][c] = static_cast<Sample>(kPalette[i][c] * kSampleScale);
    }
  }
  return table;
}

// The palette on the Sample scale (x16): index 15 is (4080, 4080, 4080).
constexpr PaletteSampleTable kPaletteSamples = makePaletteSamples();

// Weighted red-mean distance between two Sample triples (red, green, blue).
// Each component is first reduced to the 8-bit scale, truncating toward zero
// (-20 gives -1). With m = (Ra + Rb) / 2:
//   ((512 + m) dR^2 + 1024 dG^2 + (767 - m) dB^2) / 256
// evaluated exactly and truncated once. Symmetric in a and b.
//
// Range. The values that reach this function are palette colours (0 ...
// 4080, reduced 0 ... 255), the tile encoder's limited samples (the same
// range) and the line search's trial values, -3163 ... 7243 on the Sample
// scale (derivation in quantise/line_search.cpp), reduced -197 ... 452.
// Hence |dR|, |dG|, |dB| <= 452, and m = (Ra + Rb) / 2 lies in
// (-197 + 0) / 2 = -98 ... (452 + 255) / 2 = 353, so the red weight 512 + m
// and the blue weight 767 - m both lie in 414 ... 865 and sum to 1279. The
// numerator is therefore never negative (truncation is a plain floor) and at
// most (1279 + 1024) * 452^2 = 470 512 112 < 2^31, which (452, 452, 452)
// against black reaches; every product and sum fits in int32. A distance is
// at most 1 837 937, so the eight of a line sum to at most 14 703 496, far
// below the searches' starting best of 2^31 - 1.
static_assert((1279 + 1024) * std::int64_t{452} * 452 < std::int64_t{1} << 31,
              "colourDistance's numerator must fit in 32 bits");
inline std::int32_t colourDistance(const Sample* a, const Sample* b) {
  const std::int32_t ra = a[0] / kSampleScale;
  const std::int32_t ga = a[1] / kSampleScale;
  const std::int32_t ba = a[2] / kSampleScale;
  const std::int32_t rb = b[0] / kSampleScale;
  const std::int32_t gb = b[1] / kSampleScale;
  const std::int32_t bb = b[2] / kSampleScale;
  const std::int32_t m = (ra + rb) / 2;
  const std::int32_t dr = ra - rb;
  const std::int32_t dg = ga - gb;
  const std::int32_t db = ba - bb;
  return ((512 + m) * dr * dr + 1024 * dg * dg + (767 - m) * db * db) / 256;
}

}  // namespace kovrel
