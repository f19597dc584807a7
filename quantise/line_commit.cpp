#include <cstdint>

#include "colour/colour.h"
#include "quantise/quantise.h"

namespace kovrel {
namespace {

// Floyd-Steinberg weights, in sixteenths.
constexpr int kBelowRight = 1;
constexpr int kBelowLeft = 3;
constexpr int kBelow = 5;
constexpr int kRight = 7;

// A neighbour below zero drops the share and becomes 0; otherwise it is
// limited to kFullScale before the share is added.
//
// Stored samples. The reader stores -16 ... 4080 and the padded area starts
// at 0. A pixel at or above 0 spreads the unit u = (min(s, 4080) - p) / 16
// with p in 0 ... 4080, so |u| <= 255 whatever s holds, and a share is at
// most 7 * 255 = 1785 in size. Each addition starts from a limited value,
// 0 ... 4080, so however many shares a pixel receives (up to four), what is
// stored lies in 0 - 1785 ... 4080 + 1785 = -1785 ... 5865. Both ends are
// reached: a run of samples at or above 4080 committed to black passes 5865
// along the line, and a 0 committed to white leaves -1785 on its right. A
// Sample holds them; the sums are formed in int.
static_assert(kFullScale + kRight * (kFullScale / kSampleScale) <= INT16_MAX &&
                  -kRight * (kFullScale / kSampleScale) >= INT16_MIN,
              "a stored sample must fit in a Sample");

void addShare(Sample& t, int share) {
  t = t < 0 ? Sample{0} : static_cast<Sample>(clampSample(t) + share);
}

}  // namespace

void commitLine(WorkingImage& image, int x0, int y, const LineChoice& choice) {
  for (int k = 0; k < kTileLinePixels; ++k) {
    const int x = x0 + k;
    const bool foreground = ((choice.mask >> k) & 1u) != 0;
    const Sample* p = kPaletteSamples.colour[foreground ? choice.foreground : choice.background];
    Sample* here = image.pixel(x, y);
    Sample* right = image.pixel(x + 1, y);
    Sample* belowLeft = image.pixel(x - 1, y + 1);
    Sample* below = image.pixel(x, y + 1);
    Sample* belowRight = image.pixel(x + 1, y + 1);
    for (int c = 0; c < kChannels; ++c) {
      const int s = here[c];
      // The error unit: whole sixteenths of the limited sample's error; a
      // negative sample spreads nothing. Lies in -255 ... 255.
      const int u = s < 0 ? 0 : (clampSample(here[c]) - p[c]) / kSampleScale;
      here[c] = p[c];
      addShare(belowRight[c], kBelowRight * u);
      addShare(belowLeft[c], kBelowLeft * u);
      addShare(below[c], kBelow * u);
      addShare(right[c], kRight * u);
    }
  }
}

}  // namespace kovrel
