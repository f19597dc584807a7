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
// Range: the values that reach this function are palette colours (0 ... 255
// reduced) and trial values of the line search, which stay within
// -3173 ... 7253 on the Sample scale (-198 ... 453 reduced; see
// line_search.cpp). Then |dR|, |dG|, |dB| <= 453, -99 <= m <= 354, both red
// and blue weights lie in 413 ... 866, and the numerator is at most
// 866 * 453^2 * 2 + 1024 * 453^2 = 565 million < 2^31, never negative, so
// int32 holds it and truncation is a plain floor.
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
