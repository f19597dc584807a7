// Picture adjustments made before conversion, on the picture's 8-bit values.
//
// Each step works on whole 8-bit values v (sample / 16) and limits its result
// to 0 ... 255; the steps run in this order, and a step at its neutral value
// changes nothing. round(n / 100) rounds halves away from zero.
//   brightness b (-100 ... 100, neutral 0):  v + round(255 b / 100)
//   contrast c (-100 ... 100, neutral 0):    128 + round((v - 128) (100 + c) / 100)
//   saturation t (-100 ... 100, neutral 0):  with the pixel's grey level
//       Y = (77 R + 150 G + 29 B + 128) / 256 (integer), each channel becomes
//       Y + round((v - Y) (100 + t) / 100); -100 gives grey
//   gamma g (0.10 ... 10.00 in hundredths, neutral 1.00):
//       255 (v / 255)^(1 / g) rounded to the nearest whole number; above 1
//       lightens the middle tones. The exact value never lies within 10^-6
//       of a half (tests/adjustments_test.cpp checks every g), so any pow()
//       accurate to a few units in the last place gives the same result.
// Only the picture's own pixels change; a missing sample (a truncated file's,
// below 0) stays missing, and a pixel with one missing takes no saturation.
#pragma once

#include "image/working_image.h"

namespace kovrel {

struct Adjustments {
  int brightness = 0;
  int contrast = 0;
  int saturation = 0;
  int gammaHundredths = 100;
};

constexpr int kAdjustmentLimit = 100;  // brightness, contrast, saturation: -100 ... 100
constexpr int kLowestGamma = 10;       // 0.10
constexpr int kHighestGamma = 1000;    // 10.00
constexpr int kNeutralGamma = 100;

// True when every adjustment is at its neutral value.
bool isNeutral(const Adjustments& adjustments);

// Applies the adjustments to image's pixels (0 ... width - 1, 0 ... height - 1).
// Values outside their ranges are limited to them.
void adjustImage(WorkingImage& image, const Adjustments& adjustments);

// The gamma step's table: value v gives table[v]. gammaHundredths within
// kLowestGamma ... kHighestGamma.
void gammaTable(int gammaHundredths, std::uint8_t (&table)[256]);

}  // namespace kovrel
