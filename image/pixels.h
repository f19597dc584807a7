// A decoded picture of any size before it is fitted to the working image:
// 8-bit red, green, blue, alpha per pixel, rows from the top down.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/image_memory.h"

namespace kovrel {

constexpr int kRgbaChannels = 4;

// The largest picture a reader decodes: each side up to kMaxDecodedSide and
// at most kMaxDecodedPixels in all (256 MiB of RGBA), so a header cannot ask
// for more memory than a large photograph needs.
constexpr int kMaxDecodedSide = 32768;
constexpr std::size_t kMaxDecodedPixels = std::size_t{64} << 20;

struct RgbaPixels {
  int width = 0;
  int height = 0;
  ByteBlock bytes;  // width x height x 4, row y at y * width * 4

  std::uint8_t* pixel(int x, int y) {
    return bytes.data() + (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * kRgbaChannels;
  }
  const std::uint8_t* pixel(int x, int y) const {
    return bytes.data() + (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * kRgbaChannels;
  }
};

// Sets pixels to width x height (1 ... kMaxDecodedSide each, at most
// kMaxDecodedPixels) with fresh zeroed memory. Throws std::bad_alloc when no
// memory is left.
void resetPixels(RgbaPixels& pixels, int width, int height);

}  // namespace kovrel
