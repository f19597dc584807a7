#include <gtest/gtest.h>

#include "colour/colour.h"

namespace kovrel {
namespace {

Sample s(int v) { return static_cast<Sample>(v); }

TEST(ColourDistance, WorkedValues) {
  const Sample black[3] = {0, 0, 0};
  const Sample white[3] = {4080, 4080, 4080};
  const Sample red[3] = {4080, 0, 0};
  const Sample green[3] = {0, 4080, 0};
  const Sample blue[3] = {0, 0, 4080};
  EXPECT_EQ(colourDistance(black, white), 584970);
  EXPECT_EQ(colourDistance(red, black), 162308);
  EXPECT_EQ(colourDistance(green, black), 260100);
  EXPECT_EQ(colourDistance(blue, black), 194820);
  // Symmetry, with the red mean taken from both sides.
  EXPECT_EQ(colourDistance(white, black), 584970);
  EXPECT_EQ(colourDistance(black, red), 162308);
}

TEST(ColourDistance, ReducesToEightBitsTruncatingTowardZero) {
  const Sample a[3] = {2000, 2000, 2000};
  const Sample b[3] = {2015, 2015, 2015};
  EXPECT_EQ(colourDistance(a, b), 0);
  // -15 reduces to 0 and -20 to -1, not -2: blue 1 step from black is
  // 1 * (767 - 0) / 256 = 2.
  const Sample black[3] = {0, 0, 0};
  const Sample nearZero[3] = {s(-15), s(-15), s(-15)};
  const Sample minusOne[3] = {0, 0, s(-20)};
  EXPECT_EQ(colourDistance(nearZero, black), 0);
  EXPECT_EQ(colourDistance(minusOne, black), 2);
}

TEST(ColourDistance, TruncatesTheWholeSumOnce) {
  // Reduced (2, 0, 1) against black: m = 1, (513 * 4 + 766 * 1) / 256 =
  // 2818 / 256 = 11.0; truncating each term apart would give 8 + 2 = 10.
  const Sample a[3] = {32, 0, 16};
  const Sample black[3] = {0, 0, 0};
  EXPECT_EQ(colourDistance(a, black), 11);
}

TEST(Palette, SamplesAreSixteenTimesTheBytesAndUsableColoursDiffer) {
  EXPECT_EQ(kMameSamples.colour[15][0], 4080);
  EXPECT_EQ(kMameSamples.colour[2][1], 200 * 16);
  EXPECT_EQ(kMameSamples.colour[13][2], 186 * 16);
  EXPECT_EQ(colourDistance(kMameSamples.colour[0], kMameSamples.colour[1]), 0);
  for (int i = 1; i < 16; ++i) {
    for (int j = 1; j < 16; ++j) {
      if (i != j) {
        EXPECT_GT(colourDistance(kMameSamples.colour[i], kMameSamples.colour[j]), 0)
            << i << " " << j;
      }
    }
  }
}

}  // namespace
}  // namespace kovrel
