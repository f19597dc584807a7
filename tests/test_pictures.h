// Small TGA pictures built in code for the tests.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "image/working_image.h"

namespace kovrel::test {

struct Rgb {
  std::uint8_t r, g, b;
};

// An uncompressed 24-bit bottom-left TGA of width x height whose pixel (x, y)
// (y = 0 the top row) is colourAt(x, y). idLength bytes of image ID follow
// the header.
inline std::vector<std::uint8_t> makeTga(int width, int height,
                                         const std::function<Rgb(int, int)>& colourAt,
                                         std::uint8_t idLength = 0) {
  std::vector<std::uint8_t> out(18, 0);
  out[0] = idLength;
  out[2] = 2;
  out[12] = static_cast<std::uint8_t>(width & 0xFF);
  out[13] = static_cast<std::uint8_t>(width >> 8);
  out[14] = static_cast<std::uint8_t>(height & 0xFF);
  out[15] = static_cast<std::uint8_t>(height >> 8);
  out[16] = 24;
  for (int i = 0; i < idLength; ++i) {
    out.push_back(static_cast<std::uint8_t>(0xA0 + i));
  }
  for (int y = height - 1; y >= 0; --y) {
    for (int x = 0; x < width; ++x) {
      const Rgb c = colourAt(x, y);
      out.push_back(c.b);
      out.push_back(c.g);
      out.push_back(c.r);
    }
  }
  return out;
}

inline std::vector<std::uint8_t> uniformTga(int width, int height, Rgb colour) {
  return makeTga(width, height, [colour](int, int) { return colour; });
}

// Sets every pixel of the TileLine (x0 ... x0 + 7, y) from 8-bit triples.
inline void setLine(WorkingImage& image, int x0, int y, const Rgb (&pixels)[kTileLinePixels]) {
  for (int k = 0; k < kTileLinePixels; ++k) {
    Sample* p = image.pixel(x0 + k, y);
    p[0] = static_cast<Sample>(pixels[k].r * kSampleScale);
    p[1] = static_cast<Sample>(pixels[k].g * kSampleScale);
    p[2] = static_cast<Sample>(pixels[k].b * kSampleScale);
  }
}

}  // namespace kovrel::test
