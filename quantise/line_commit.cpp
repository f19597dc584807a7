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
// limited to kFullScale before the share is added. With t <= 4080 and
// |share| <= 7 * 255 the result lies in -1785 ... 5865, within a Sample.
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
