// The TMS9918's palette, as the tables people use for it, and the one colour
// difference every comparison in the converter uses.
#pragma once

#include <cstdint>

#include "image/working_image.h"

namespace kovrel {

constexpr int kPaletteSize = 16;
// Index 0 is the chip's transparent colour; the searches use 1 ... 15.
constexpr int kFirstUsableColour = 1;
constexpr int kLastUsableColour = 15;

// 8-bit red, green, blue of each palette index. Any components 0 ... 255 are
// accepted: every bound derived below and in the quantiser holds for them.
struct Palette {
  std::uint8_t colour[kPaletteSize][kChannels];
};

// The converter's own table, and the default: a conversion of the data
// book's voltages made for an early MESS/MAME driver.
inline constexpr Palette kMamePalette = {{
    {0, 0, 0},       {0, 0, 0},       {33, 200, 66},   {94, 220, 120},
    {84, 85, 237},   {125, 118, 252}, {212, 82, 77},   {66, 235, 245},
    {252, 85, 84},   {255, 121, 120}, {212, 193, 84},  {230, 206, 128},
    {33, 176, 59},   {201, 91, 186},  {204, 204, 204}, {255, 255, 255},
}};

// The data book's Y, R-Y and B-Y voltages converted to RGB at 54 %
// saturation, as openMSX (0.8 and later) and Wikipedia give them.
inline constexpr Palette kDatasheetPalette = {{
    {0, 0, 0},       {0, 0, 0},       {62, 184, 73},   {116, 208, 125},
    {89, 85, 224},   {128, 118, 241}, {185, 94, 81},   {101, 219, 239},
    {219, 101, 89},  {255, 137, 125}, {204, 195, 94},  {222, 208, 135},
    {58, 162, 65},   {183, 102, 181}, {204, 204, 204}, {255, 255, 255},
}};

// The default palette an MSX2 BIOS loads into the V9938/V9958, 3 bits per
// channel, each v as round(v x 255 / 7): how a screen 2 picture looks on an
// MSX2, MSX2+ or turbo R.
inline constexpr Palette kV9938Palette = {{
    {0, 0, 0},       {0, 0, 0},       {36, 219, 36},   {109, 255, 109},
    {36, 36, 255},   {73, 109, 255},  {182, 36, 36},   {73, 219, 255},
    {255, 36, 36},   {255, 109, 109}, {219, 219, 36},  {219, 219, 146},
    {36, 146, 36},   {219, 73, 182},  {182, 182, 182}, {255, 255, 255},
}};

struct PaletteSampleTable {
  Sample colour[kPaletteSize][kChannels];
};

// The palette on the Sample scale (x16): white is (4080, 4080, 4080).
constexpr PaletteSampleTable paletteSamples(const Palette& palette) {
  PaletteSampleTable table{};
  for (int i = 0; i < kPaletteSize; ++i) {
    for (int c = 0; c < kChannels; ++c) {
      table.colour[i][c] = static_cast<Sample>(palette.colour[i][c] * kSampleScale);
    }
  }
  return table;
}

// The default palette on the Sample scale.
constexpr PaletteSampleTable kMameSamples = paletteSamples(kMamePalette);

// True when the usable colours (1 ... 15) of a and b are the same.
constexpr bool sameUsableColours(const Palette& a, const Palette& b) {
  for (int i = kFirstUsableColour; i <= kLastUsableColour; ++i) {
    for (int c = 0; c < kChannels; ++c) {
      if (a.colour[i][c] != b.colour[i][c]) {
        return false;
      }
    }
  }
  return true;
}

// True when two usable colours (1 ... 15) have the same triple.
constexpr bool hasRepeatedColour(const Palette& palette) {
  for (int i = kFirstUsableColour; i <= kLastUsableColour; ++i) {
    for (int j = i + 1; j <= kLastUsableColour; ++j) {
      if (palette.colour[i][0] == palette.colour[j][0] && palette.colour[i][1] == palette.colour[j][1] &&
          palette.colour[i][2] == palette.colour[j][2]) {
        return true;
      }
    }
  }
  return false;
}

// Weighted red-mean distance between two Sample triples (red, green, blue).
// Each component is first reduced to the 8-bit scale, truncating toward zero
// (-20 gives -1). With m = (Ra + Rb) / 2:
//   ((512 + m) dR^2 + 1024 dG^2 + (767 - m) dB^2) / 256
// evaluated exactly and truncated once. Symmetric in a and b.
//
// Range. The values that reach this function are palette colours (0 ...
// 4080, reduced 0 ... 255, for any palette), the tile encoder's limited samples (the same
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
