#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "default_quantiser.h"
#include "colour/colour.h"
#include "quantise/quantise.h"
#include "test_pictures.h"

namespace kovrel {
namespace {

using test::Rgb;
using test::setLine;

std::unique_ptr<WorkingImage> blankImage(int width, int height) {
  auto image = std::make_unique<WorkingImage>();
  image->width = width;
  image->height = height;
  return image;
}

void setSample(WorkingImage& image, int x, int y, int r, int g, int b) {
  Sample* p = image.pixel(x, y);
  p[0] = static_cast<Sample>(r);
  p[1] = static_cast<Sample>(g);
  p[2] = static_cast<Sample>(b);
}

TEST(LineSearch, ExactPaletteLines) {
  auto image = blankImage(8, 8);
  const Rgb white{255, 255, 255};
  const Rgb black{0, 0, 0};
  const Rgb c4{84, 85, 237};
  const Rgb c9{255, 121, 120};

  setLine(*image, 0, 0, {white, white, white, white, white, white, white, white});
  LineChoice choice = searchLinePair(defaultQuantiser(), *image, 0, 0);
  EXPECT_EQ(choice.background, 1);
  EXPECT_EQ(choice.foreground, 15);
  EXPECT_EQ(choice.mask, 0xFF);
  EXPECT_EQ(choice.cost, 0u);

  setLine(*image, 0, 0, {c4, c9, c4, c9, c9, c4, c4, c9});
  choice = searchLinePair(defaultQuantiser(), *image, 0, 0);
  EXPECT_EQ(choice.background, 4);
  EXPECT_EQ(choice.foreground, 9);
  EXPECT_EQ(choice.mask, 0x80 | 0x10 | 0x08 | 0x02);
  EXPECT_EQ(choice.cost, 0u);

  setLine(*image, 0, 0, {black, black, black, black, black, black, black, black});
  choice = searchLinePair(defaultQuantiser(), *image, 0, 0);
  EXPECT_EQ(choice.background, 1);
  EXPECT_EQ(choice.foreground, 2);
  EXPECT_EQ(choice.mask, 0);
  EXPECT_EQ(choice.cost, 0u);
}

TEST(LineSearch, GreyTopLine) {
  auto image = blankImage(8, 8);
  const Rgb grey{128, 128, 128};
  setLine(*image, 0, 0, {grey, grey, grey, grey, grey, grey, grey, grey});
  const LineChoice choice = searchLinePair(defaultQuantiser(), *image, 0, 0);
  EXPECT_EQ(choice.background, 12);
  EXPECT_EQ(choice.foreground, 13);
  EXPECT_EQ(choice.mask, 0x55);
  EXPECT_EQ(choice.cost, 155590u);
}

TEST(LineSearch, StoredSamplesOutsideFullScaleAreLimited) {
  auto image = blankImage(8, 8);
  // Above 4080 counts as 4080: a line of 5000 is a white line.
  for (int k = 0; k < 8; ++k) {
    setSample(*image, k, 0, 5000, 5000, 5000);
  }
  LineChoice choice = searchLinePair(defaultQuantiser(), *image, 0, 0);
  EXPECT_EQ(choice.foreground, 15);
  EXPECT_EQ(choice.mask, 0xFF);
  EXPECT_EQ(choice.cost, 0u);

  // A missing byte (-16) in the first pixel counts as 0: the black line
  // stays free.
  for (int k = 0; k < 8; ++k) {
    setSample(*image, k, 0, 0, 0, 0);
  }
  setSample(*image, 0, 0, -16, -16, -16);
  choice = searchLinePair(defaultQuantiser(), *image, 0, 0);
  EXPECT_EQ(choice.background, 1);
  EXPECT_EQ(choice.foreground, 2);
  EXPECT_EQ(choice.cost, 0u);

  // In a later pixel it makes the trial value 0 whatever error arrives: grey
  // then -16 then black costs only the grey pixel's nearest colour, with the
  // black pixels free.
  setSample(*image, 0, 0, 128 * 16, 128 * 16, 128 * 16);
  setSample(*image, 1, 0, -16, -16, -16);
  choice = searchLinePair(defaultQuantiser(), *image, 0, 0);
  std::int32_t nearest = 0x7FFFFFFF;
  for (int c = 2; c <= 15; ++c) {
    nearest = std::min(nearest, colourDistance(image->pixel(0, 0), kMameSamples.colour[c]));
  }
  EXPECT_EQ(choice.cost, static_cast<std::uint32_t>(nearest));
  EXPECT_EQ(choice.background, 1);
  EXPECT_EQ(choice.mask, 0x01);
}

TEST(LineCommit, SpreadsWholeSixteenthsAlongAndBelow) {
  auto image = blankImage(16, 16);
  setSample(*image, 0, 0, 2000, 0, 0);
  LineChoice black;  // (1, 2), mask 0: every pixel black
  commitLine(defaultQuantiser(), *image, 0, 0, black);
  // u = 125 at pixel 0; pixel 1 then holds 875 (u = 54), pixel 2 378 (23),
  // pixel 3 161 (10), pixel 4 70 (4), pixel 5 28 (1), pixel 6 7 (0).
  const int expectedBelow[10] = {375, 787, 464, 199, 85, 33, 9, 1, 0, 0};
  for (int x = -1; x <= 8; ++x) {
    EXPECT_EQ(image->pixel(x, 1)[0], expectedBelow[x + 1]) << "x = " << x;
  }
  for (int x = 0; x < 8; ++x) {
    EXPECT_EQ(image->pixel(x, 0)[0], 0) << "x = " << x;
  }
  EXPECT_EQ(image->pixel(8, 0)[0], 0);

  // Red 10 against black: u = 10 / 16 = 0, nothing spread.
  image = blankImage(16, 16);
  setSample(*image, 0, 0, 10, 0, 0);
  commitLine(defaultQuantiser(), *image, 0, 0, black);
  EXPECT_EQ(image->pixel(0, 1)[0], 0);
  EXPECT_EQ(image->pixel(1, 0)[0], 0);
}

TEST(LineCommit, NegativeSamplesSpreadNothingAndNeighboursAreLimited) {
  auto image = blankImage(16, 16);
  setSample(*image, 0, 0, -16, -16, -16);
  setSample(*image, 0, 1, -100, -100, -100);
  setSample(*image, 1, 1, 5000, 5000, 5000);
  LineChoice white;
  white.background = 1;
  white.foreground = 15;
  white.mask = 0x01;
  commitLine(defaultQuantiser(), *image, 0, 0, white);
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(image->pixel(0, 0)[c], 4080);
    EXPECT_EQ(image->pixel(0, 1)[c], 0);
    EXPECT_EQ(image->pixel(1, 1)[c], 4080);
    EXPECT_EQ(image->pixel(-1, 1)[c], 0);
  }
}

std::vector<int> figures(std::uint32_t total) {
  std::vector<int> out;
  for (std::uint32_t n = 0; n < total; ++n) {
    const int f = progressFigure(n, total);
    if (f >= 0) {
      out.push_back(f);
    }
  }
  return out;
}

TEST(Progress, FiguresForSmallAndFullScreenTotals) {
  EXPECT_EQ(figures(8), (std::vector<int>{0, 12, 25, 37, 50, 62, 75, 87}));
  EXPECT_EQ(figures(16), (std::vector<int>{0, 6, 12, 18, 25, 31, 37, 43, 50, 56, 62, 68, 75, 81,
                                           87, 93}));
  const std::vector<int> screen = figures(6144);
  ASSERT_EQ(screen.size(), 100u);
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ(screen[static_cast<std::size_t>(i)], i);
  }
  EXPECT_EQ(progressFigure(6143, 6144), 99);
  // Total 1000: the first figure comes after the tenth line.
  EXPECT_EQ(progressFigure(8, 1000), -1);
  EXPECT_EQ(progressFigure(9, 1000), 0);
}

TEST(QuantisePass, GreyPictureDithersTwoColoursAndPrintsProgress) {
  auto image = blankImage(8, 8);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      setSample(*image, x, y, 128 * 16, 128 * 16, 128 * 16);
    }
  }
  char* text = nullptr;
  std::size_t length = 0;
  std::FILE* stream = open_memstream(&text, &length);
  ASSERT_NE(stream, nullptr);
  const std::uint32_t runCount = quantiseImage(defaultQuantiser(), *image, stream, nullptr);
  std::fclose(stream);
  const std::string printed(text, length);
  std::free(text);

  EXPECT_EQ(runCount, 8u);
  EXPECT_EQ(printed, "\b\b\b 0%\b\b\b12%\b\b\b25%\b\b\b37%\b\b\b50%\b\b\b62%\b\b\b75%\b\b\b87%");
  const Sample* c12 = kMameSamples.colour[12];
  const Sample* c13 = kMameSamples.colour[13];
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      const Sample* p = image->pixel(x, y);
      const bool is12 = p[0] == c12[0] && p[1] == c12[1] && p[2] == c12[2];
      const bool is13 = p[0] == c13[0] && p[1] == c13[1] && p[2] == c13[2];
      EXPECT_TRUE(is12 || is13) << x << "," << y;
      if (y == 0) {
        EXPECT_EQ(is13, x % 2 == 0) << x;
      }
    }
  }
}

TEST(QuantisePass, CoversThePaddedArea) {
  // 9 x 12: two tile columns, two tile rows. The padded pixels, black at
  // first, end as exact palette colours too.
  auto image = blankImage(9, 12);
  for (int y = 0; y < 12; ++y) {
    for (int x = 0; x < 9; ++x) {
      setSample(*image, x, y, 255 * 16, 0, 128 * 16);
    }
  }
  EXPECT_EQ(quantiseImage(defaultQuantiser(), *image, nullptr, nullptr), 2u * 2u * 8u);
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      const Sample* p = image->pixel(x, y);
      bool exact = false;
      for (int c = 1; c < 16; ++c) {
        const Sample* q = kMameSamples.colour[c];
        exact = exact || (p[0] == q[0] && p[1] == q[1] && p[2] == q[2]);
      }
      EXPECT_TRUE(exact) << x << "," << y;
    }
  }
}

}  // namespace
}  // namespace kovrel
