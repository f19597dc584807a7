// The picture being converted: three Samples per pixel with a one-pixel
// margin on every side, so that error diffusion needs no bounds tests.
#pragma once

#include <array>
#include <cstdint>

namespace kovrel {

// An intensity in sixteenths of an 8-bit step: 8-bit value x 16. Error
// diffusion may leave stored samples below 0 or above kFullScale; the commit
// keeps them within -1785 ... 5865.
using Sample = std::int16_t;

constexpr int kMaxSide = 512;
constexpr int kChannels = 3;  // red, green, blue
constexpr int kSampleScale = 16;
constexpr Sample kFullScale = 255 * kSampleScale;  // 4080
constexpr int kTileSide = 8;
constexpr int kTileLinePixels = 8;

// Below 0 gives 0, above kFullScale gives kFullScale.
constexpr Sample clampSample(Sample s) {
  return s < 0 ? Sample{0} : (s > kFullScale ? kFullScale : s);
}

constexpr int tileCount(int pixels) { return (pixels + kTileSide - 1) / kTileSide; }

struct WorkingImage {
  // Picture pixel (x, y) lives at (x + 1, y + 1); row 0 and column 0 and
  // row/column kStride - 1 are the margin. Rows are stored one after the
  // other (row-major), channels interleaved red, green, blue.
  static constexpr int kStride = kMaxSide + 2;

  int width = 0;   // 1 ... kMaxSide once loaded
  int height = 0;  // 1 ... kMaxSide once loaded
  std::array<Sample, kStride * kStride * kChannels> samples{};

  // The three samples of pixel (x, y); -1 <= x, y <= kMaxSide.
  Sample* pixel(int x, int y) {
    return &samples[static_cast<std::size_t>(((y + 1) * kStride + (x + 1)) * kChannels)];
  }
  const Sample* pixel(int x, int y) const {
    return &samples[static_cast<std::size_t>(((y + 1) * kStride + (x + 1)) * kChannels)];
  }

  int tileColumns() const { return tileCount(width); }
  int tileRows() const { return tileCount(height); }
};

}  // namespace kovrel
