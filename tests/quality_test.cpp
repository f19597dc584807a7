// The perceived-difference measure against worked values: colour science's
// published CIEDE2000 pairs, plain CIELAB on flat fields, a checkerboard
// the eye sees as grey only from afar, and the converter's figures for the
// bundled photographs.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/conversion.h"
#include "quality/perceptual.h"

namespace kovrel {
namespace {

// Sharma, Wu and Dalal (2005), "The CIEDE2000 color-difference formula:
// implementation notes, supplementary test data": every pair of their table.
TEST(Perceptual, Ciede2000TestPairs) {
  struct Pair {
    Lab first;
    Lab second;
    double expected;
  };
  const Pair pairs[] = {
      {{50, 2.6772, -79.7751}, {50, 0, -82.7485}, 2.0425},
      {{50, 3.1571, -77.2803}, {50, 0, -82.7485}, 2.8615},
      {{50, 2.8361, -74.0200}, {50, 0, -82.7485}, 3.4412},
      {{50, -1.3802, -84.2814}, {50, 0, -82.7485}, 1.0000},
      {{50, -1.1848, -84.8006}, {50, 0, -82.7485}, 1.0000},
      {{50, -0.9009, -85.5211}, {50, 0, -82.7485}, 1.0000},
      {{50, 0, 0}, {50, -1, 2}, 2.3669},
      {{50, -1, 2}, {50, 0, 0}, 2.3669},
      {{50, 2.49, -0.001}, {50, -2.49, 0.0009}, 7.1792},
      {{50, 2.49, -0.001}, {50, -2.49, 0.0010}, 7.1792},
      {{50, 2.49, -0.001}, {50, -2.49, 0.0011}, 7.2195},
      {{50, 2.49, -0.001}, {50, -2.49, 0.0012}, 7.2195},
      {{50, -0.001, 2.49}, {50, 0.0009, -2.49}, 4.8045},
      {{50, -0.001, 2.49}, {50, 0.0010, -2.49}, 4.8045},
      {{50, -0.001, 2.49}, {50, 0.0011, -2.49}, 4.7461},
      {{50, 2.5, 0}, {50, 0, -2.5}, 4.3065},
      {{50, 2.5, 0}, {73, 25, -18}, 27.1492},
      {{50, 2.5, 0}, {61, -5, 29}, 22.8977},
      {{50, 2.5, 0}, {56, -27, -3}, 31.9030},
      {{50, 2.5, 0}, {58, 24, 15}, 19.4535},
      {{50, 2.5, 0}, {50, 3.1736, 0.5854}, 1.0000},
      {{50, 2.5, 0}, {50, 3.2972, 0}, 1.0000},
      {{50, 2.5, 0}, {50, 1.8634, 0.5757}, 1.0000},
      {{50, 2.5, 0}, {50, 3.2592, 0.3350}, 1.0000},
      {{60.2574, -34.0099, 36.2677}, {60.4626, -34.1751, 39.4387}, 1.2644},
      {{63.0109, -31.0961, -5.8663}, {62.8187, -29.7946, -4.0864}, 1.2630},
      {{61.2901, 3.7196, -5.3901}, {61.4292, 2.2480, -4.9620}, 1.8731},
      {{35.0831, -44.1164, 3.7933}, {35.0232, -40.0716, 1.5901}, 1.8645},
      {{22.7233, 20.0904, -46.6940}, {23.0331, 14.9730, -42.5619}, 2.0373},
      {{36.4612, 47.8580, 18.3852}, {36.2715, 50.5065, 21.2231}, 1.4146},
      {{90.8027, -2.0831, 1.4410}, {91.1528, -1.6435, 0.0447}, 1.4441},
      {{90.9257, -0.5406, -0.9208}, {88.6381, -0.8985, -0.7239}, 1.5381},
      {{6.7747, -0.2908, -2.4247}, {5.8714, -0.0985, -2.2286}, 0.6377},
      {{2.0776, 0.0795, -1.1350}, {0.9033, -0.0636, -0.5514}, 0.9082},
  };
  for (const Pair& pair : pairs) {
    SCOPED_TRACE(pair.expected);
    EXPECT_NEAR(ciede2000(pair.first, pair.second), pair.expected, 0.0001);
    EXPECT_NEAR(ciede2000(pair.second, pair.first), pair.expected, 0.0001);  // symmetric
  }
}

std::vector<std::uint8_t> flat(int width, int height, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  std::vector<std::uint8_t> out;
  for (int i = 0; i < width * height; ++i) {
    out.insert(out.end(), {r, g, b});
  }
  return out;
}

// Flat fields look the same blurred as sharp: the measure is the plain
// CIELAB difference of the two colours (sRGB worked values: white L* 100,
// red 53.24 80.09 67.20, mid grey 119 L* 50.03, whose CIEDE2000 from black
// is 50.03 / S_L = 36.55), at any distance and size,
// and identical pictures measure 0.
TEST(Perceptual, FlatFieldsGivePlainCielab) {
  struct Case {
    std::uint8_t first[3];
    std::uint8_t second[3];
    double deltaE76;
    double deltaE2000;
  };
  const Case cases[] = {
      {{255, 255, 255}, {0, 0, 0}, 100.0, 100.0},
      {{255, 0, 0}, {0, 0, 0}, 117.34, 50.41},
      {{119, 119, 119}, {0, 0, 0}, 50.03, 36.55},
      {{30, 90, 200}, {30, 90, 200}, 0.0, 0.0},
  };
  const int sizes[][2] = {{1, 1}, {17, 5}, {64, 48}};
  for (const Case& c : cases) {
    for (const auto& size : sizes) {
      for (const double ppd : {kNearSamplesPerDegree, kFarSamplesPerDegree, 7.0}) {
        SCOPED_TRACE(std::to_string(c.deltaE76) + " " + std::to_string(size[0]) + " " + std::to_string(ppd));
        const auto a = flat(size[0], size[1], c.first[0], c.first[1], c.first[2]);
        const auto b = flat(size[0], size[1], c.second[0], c.second[1], c.second[2]);
        const PerceptualError e = perceptualError(a.data(), b.data(), size[0], size[1], ppd);
        EXPECT_NEAR(e.deltaE76, c.deltaE76, 0.02);
        EXPECT_NEAR(e.deltaE2000, c.deltaE2000, 0.02);
      }
    }
  }
  // A busy picture against itself.
  std::vector<std::uint8_t> noise(40 * 30 * 3);
  for (std::size_t i = 0; i < noise.size(); ++i) {
    noise[i] = static_cast<std::uint8_t>(i * 2654435761u >> 24);
  }
  const PerceptualError same = perceptualError(noise.data(), noise.data(), 40, 30, kNearSamplesPerDegree);
  EXPECT_EQ(same.deltaE76, 0.0);
  EXPECT_EQ(same.deltaE2000, 0.0);
}

// A one-pixel black and white checkerboard against 50 % grey in linear
// light, 256 x 192: from near the dots still show, from twice as far they
// all but vanish.
TEST(Perceptual, CheckerboardFadesWithDistance) {
  constexpr int kWidth = 256;
  constexpr int kHeight = 192;
  std::vector<double> board;
  std::vector<double> grey(kWidth * kHeight * 3, 0.5);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const double v = (x + y) % 2;
      board.insert(board.end(), {v, v, v});
    }
  }
  const PerceptualError near =
      perceptualErrorOfLinear(board.data(), grey.data(), kWidth, kHeight, kNearSamplesPerDegree);
  const PerceptualError far = perceptualErrorOfLinear(board.data(), grey.data(), kWidth, kHeight, kFarSamplesPerDegree);
  EXPECT_NEAR(near.deltaE76, 6.14, 0.01);
  EXPECT_NEAR(far.deltaE76, 0.010, 0.001);
}

// The bundled photographs converted without options, against the figures
// measured for them before this code existed.
TEST(Perceptual, DefaultConversionsOfThePhotographs) {
  struct Case {
    const char* name;
    PerceptualError near;
    PerceptualError far;
  };
  const Case cases[] = {
      {"chelsea.tga", {15.551, 10.331}, {10.544, 8.062}},
      {"coffee.tga", {20.423, 10.640}, {17.095, 9.578}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Picture picture;
    ASSERT_EQ(readPicture(std::string(KOVREL_EXAMPLES) + "/" + c.name, picture).status, Status::kOk);
    const WorkingImagePtr before = newWorkingImage();
    *before = *picture.image;
    const Conversion conversion = convertPicture(std::move(picture), Settings{}, nullptr);
    const PerceptualError near = perceptualError(*before, *conversion.image, kNearSamplesPerDegree);
    const PerceptualError far = perceptualError(*before, *conversion.image, kFarSamplesPerDegree);
    EXPECT_NEAR(near.deltaE76, c.near.deltaE76, 0.05);
    EXPECT_NEAR(near.deltaE2000, c.near.deltaE2000, 0.05);
    EXPECT_NEAR(far.deltaE76, c.far.deltaE76, 0.05);
    EXPECT_NEAR(far.deltaE2000, c.far.deltaE2000, 0.05);
  }
}

}  // namespace
}  // namespace kovrel
