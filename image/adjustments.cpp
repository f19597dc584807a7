#include "image/adjustments.h"

#include <cmath>
#include <cstdint>

namespace kovrel {
namespace {

int limited(int value, int low, int high) { return value < low ? low : (value > high ? high : value); }

int limitedByte(int value) { return limited(value, 0, 255); }

// n / 100 rounded to the nearest whole number, halves away from zero.
int roundHundredths(int n) { return n >= 0 ? (n + 50) / 100 : -((-n + 50) / 100); }

}  // namespace

bool isNeutral(const Adjustments& adjustments) {
  return adjustments.brightness == 0 && adjustments.contrast == 0 && adjustments.saturation == 0 &&
         adjustments.gammaHundredths == kNeutralGamma;
}

void gammaTable(int gammaHundredths, std::uint8_t (&table)[256]) {
  const double exponent = 100.0 / gammaHundredths;
  for (int v = 0; v < 256; ++v) {
    const double exact = 255.0 * std::pow(v / 255.0, exponent);
    table[v] = static_cast<std::uint8_t>(limitedByte(static_cast<int>(std::floor(exact + 0.5))));
  }
}

void adjustImage(WorkingImage& image, const Adjustments& adjustments) {
  if (isNeutral(adjustments)) {
    return;
  }
  const int brightness = limited(adjustments.brightness, -kAdjustmentLimit, kAdjustmentLimit);
  const int contrast = limited(adjustments.contrast, -kAdjustmentLimit, kAdjustmentLimit);
  const int saturation = limited(adjustments.saturation, -kAdjustmentLimit, kAdjustmentLimit);
  const int gamma = limited(adjustments.gammaHundredths, kLowestGamma, kHighestGamma);

  // Brightness then contrast, one value at a time, as one table.
  std::uint8_t levels[256];
  const int offset = roundHundredths(255 * brightness);
  for (int v = 0; v < 256; ++v) {
    const int bright = limitedByte(v + offset);
    levels[v] = static_cast<std::uint8_t>(limitedByte(128 + roundHundredths((bright - 128) * (100 + contrast))));
  }
  std::uint8_t gammaLevels[256];
  gammaTable(gamma, gammaLevels);

  for (int y = 0; y < image.height; ++y) {
    Sample* p = image.pixel(0, y);
    for (int x = 0; x < image.width; ++x, p += kChannels) {
      int v[kChannels];
      bool whole = true;
      for (int c = 0; c < kChannels; ++c) {
        whole = whole && p[c] >= 0;
        v[c] = p[c] < 0 ? -1 : levels[clampSample(p[c]) / kSampleScale];
      }
      if (saturation != 0 && whole) {
        const int grey = (77 * v[0] + 150 * v[1] + 29 * v[2] + 128) / 256;
        for (int c = 0; c < kChannels; ++c) {
          v[c] = limitedByte(grey + roundHundredths((v[c] - grey) * (100 + saturation)));
        }
      }
      for (int c = 0; c < kChannels; ++c) {
        if (p[c] >= 0) {
          p[c] = static_cast<Sample>(gammaLevels[v[c]] * kSampleScale);
        }
      }
    }
  }
}

}  // namespace kovrel
