// Ordered dithering: each TileLine takes the pair whose colours, mixed in
// linear light, come closest to its pixels, and each pixel the colour an
// 8 x 8 Bayer threshold gives it. Nothing is carried between pixels, so a
// change in one part of a picture leaves the rest as it was.
#pragma once

#include <cstdint>
#include <cstdio>

#include "colour/colour.h"
#include "image/working_image.h"
#include "quantise/diffusion.h"
#include "quantise/quantise.h"

namespace kovrel {

// The 8 x 8 Bayer matrix: entry [y][x] is 0 ... 63.
struct BayerMatrix {
  int entry[8][8];
};
constexpr BayerMatrix makeBayerMatrix() {
  BayerMatrix m{};
  for (int size = 1; size < 8; size *= 2) {
    for (int y = 0; y < size; ++y) {
      for (int x = 0; x < size; ++x) {
        const int v = 4 * m.entry[y][x];
        m.entry[y][x] = v;
        m.entry[y][x + size] = v + 2;
        m.entry[y + size][x] = v + 3;
        m.entry[y + size][x + size] = v + 1;
      }
    }
  }
  return m;
}
inline constexpr BayerMatrix kBayer = makeBayerMatrix();

// The line at (x0 ... x0 + 7, y) of image: the first pair in visiting order
// with the smallest cost, the sum over the pixels of the distance between
// the pixel and its pair's mix at the pixel's place along the pair, and the
// mask the thresholds give. d holds the linear-light tables; strength
// (0 ... kFullStrength) scales the thresholds' spread about one half.
LineChoice orderedLine(const Diffuser& d, int strength, const WorkingImage& image, int x0, int y);

// Every TileLine of the padded area, as quantiseImage.
std::uint32_t quantiseOrdered(const Diffuser& d, int strength, WorkingImage& image, std::FILE* progress,
                              LineChoice* choices);

}  // namespace kovrel
