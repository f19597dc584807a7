// How alike two pictures look: S-CIELAB (Zhang and Wandell), the CIELAB
// difference of the two pictures after each is blurred as the eye blurs it
// at a viewing distance.
//
// Both pictures are 8-bit sRGB of the same size. Each is decoded to linear
// light, taken to CIE XYZ (the sRGB matrix, white Y = 1) and to three
// opponent planes; each plane is filtered with its sum of Gaussians (the
// published weights and spreads, each Gaussian integrated over the pixel's
// square and normalised over a support of one degree, edges reflected), then
// the picture goes back to XYZ and to CIELAB (D65 white). The figures are
// the mean Delta E 1976 and the mean CIEDE2000 over the pixels.
//
// The viewing distance is given in samples (pixels) per degree of visual
// angle: 24 is a 256-pixel-wide picture on a television seen from a sofa,
// 48 the same from twice as far.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/working_image.h"

namespace kovrel {

struct PerceptualError {
  double deltaE76 = 0;    // mean CIE 1976 Delta E*ab
  double deltaE2000 = 0;  // mean CIEDE2000 (kL = kC = kH = 1)
};

// The viewing distances the program quotes, nearest first.
constexpr double kNearSamplesPerDegree = 24;
constexpr double kFarSamplesPerDegree = 48;

// The number of filter taps for samplesPerDegree: one degree, odd
// (ceil(ppd / 2) x 2 - 1).
int perceptualTaps(double samplesPerDegree);

// The measure between pictures a and b, each width x height pixels of red,
// green, blue bytes in rows (stride width x 3). samplesPerDegree from 1 to
// 256; width and height at least 1.
PerceptualError perceptualError(const std::uint8_t* a, const std::uint8_t* b, int width, int height,
                                double samplesPerDegree);

// The same for two pictures given in linear light: red, green, blue per
// pixel, 0 ... 1.
PerceptualError perceptualErrorOfLinear(const double* a, const double* b, int width, int height,
                                        double samplesPerDegree);

// The same for two working images of the same size (a's), each sample read
// as sample / 16 limited to 0 ... 255.
PerceptualError perceptualError(const WorkingImage& a, const WorkingImage& b, double samplesPerDegree);

// The line --report prints, newline included: the measure between the
// picture before quantising and the quantised one, at both distances:
// "Perceived difference (S-CIELAB mean Delta E 1976 / CIEDE2000): 13.35 / 8.37
// at 24 pixels per degree, 11.46 / 6.79 at 48."
std::string perceptualReport(const WorkingImage& before, const WorkingImage& after);

// A CIELAB colour.
struct Lab {
  double l = 0;
  double a = 0;
  double b = 0;
};

// CIEDE2000 between two CIELAB colours (Sharma, Wu and Dalal's formulation).
double ciede2000(const Lab& first, const Lab& second);

}  // namespace kovrel
