// How much of the search no bound can save: for every line of the pass over
// a picture, counts the pair-pixel steps (pixels 1 ... 7) that pairs take
// before their partial cost passes the line's winning cost, as if that cost
// were known before the search began, and the 16-lane vectors those steps
// fill at best, pixel by pixel. Prints the averages per line.
// Usage: kovrel_prune_counts PICTURE.tga
#include <cstdio>
#include <string>
#include <vector>

#include "colour/colour.h"
#include "core/conversion.h"
#include "quantise/quantise.h"
#include "tests/default_quantiser.h"
#include "tests/reference_search.h"

namespace kovrel {
namespace {

constexpr int kLanes = 16;

// Adds line (x0, y)'s counts with the given bound: pairs whose partial cost
// exceeds it stop, as the plain search's abandonment does.
void countSteps(const WorkingImage& image, int x0, int y, std::uint32_t bound, long& steps, long& vectors) {
  int alive[kTileLinePixels] = {};
  for (int h = kFirstUsableColour; h < kLastUsableColour; ++h) {
    for (int o = h + 1; o <= kLastUsableColour; ++o) {
      const int pixels = reference::walkPair(defaultQuantiser(), image.pixel(x0, y), h, o, bound).pixels;
      for (int k = 0; k < pixels; ++k) {
        ++alive[k];
      }
    }
  }
  for (int k = 1; k < kTileLinePixels; ++k) {
    steps += alive[k];
    vectors += (alive[k] + kLanes - 1) / kLanes;
  }
}

}  // namespace
}  // namespace kovrel

int main(int argc, char** argv) {
  using namespace kovrel;
  if (argc != 2) {
    std::fputs("usage: kovrel_prune_counts PICTURE.tga\n", stderr);
    return 2;
  }
  Picture picture;
  if (readPicture(argv[1], picture).status != Status::kOk) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 1;
  }
  const WorkingImagePtr& image = picture.image;
  long lines = 0;
  long steps = 0;
  long vectors = 0;
  for (int y = 0; y < image->tileRows() * kTileSide; ++y) {
    for (int x0 = 0; x0 < image->tileColumns() * kTileLinePixels; x0 += kTileLinePixels) {
      const LineChoice choice = reference::searchLinePair(defaultQuantiser(), *image, x0, y);
      countSteps(*image, x0, y, choice.cost, steps, vectors);
      commitLine(defaultQuantiser(), *image, x0, y, choice);
      ++lines;
    }
  }
  std::printf("%ld lines; per line, with the winning cost as the bound from the start:\n", lines);
  std::printf("  pair-pixel steps after the first pixel: %.1f\n", static_cast<double>(steps) / static_cast<double>(lines));
  std::printf("  16-lane vectors, pixel by pixel:        %.1f\n", static_cast<double>(vectors) / static_cast<double>(lines));
  return 0;
}
