// The arithmetic at its extremes. Stored samples stay within -1785 ... 5865,
// the line search's trial values within -3163 ... 7243 (derivations in
// quantise/line_commit.cpp and quantise/line_search.cpp), and colourDistance
// must be exact over every value that can reach it. These tests check the
// production arithmetic against a reference in 64-bit integers, drive the
// search and the commit to those extremes, and confirm that the bounds are
// reached and never passed: with the default palette at full strength, and
// with other palettes (any components 0 ... 255) and strengths, where they
// must hold as well.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "default_quantiser.h"
#include "colour/colour.h"
#include "quantise/quantise.h"

namespace kovrel {
namespace {

constexpr std::int64_t kLowestStored = -1785;
constexpr std::int64_t kHighestStored = 5865;
constexpr std::int64_t kLowestTrial = -3163;
constexpr std::int64_t kHighestTrial = 7243;

// The distance in 64-bit integers: returns the numerator
// (512 + m) dR^2 + 1024 dG^2 + (767 - m) dB^2 before the division by 256.
std::int64_t referenceNumerator(const std::int64_t (&a)[3], const Sample* b) {
  std::int64_t ra = a[0] / 16, ga = a[1] / 16, ba = a[2] / 16;  // truncates toward zero
  std::int64_t rb = b[0] / 16, gb = b[1] / 16, bb = b[2] / 16;
  const std::int64_t m = (ra + rb) / 2;
  return (512 + m) * (ra - rb) * (ra - rb) + 1024 * (ga - gb) * (ga - gb) +
         (767 - m) * (ba - bb) * (ba - bb);
}

struct Range {
  std::int64_t low = 0;
  std::int64_t high = 0;
  void add(std::int64_t v) {
    low = std::min(low, v);
    high = std::max(high, v);
  }
};

struct ReferenceChoice {
  int background = 0;
  int foreground = 0;
  unsigned mask = 0;
  std::int64_t cost = 0;
  std::int64_t largestError = 0;  // the largest |e| the chosen pair carried
};

// The line pair search in 64-bit integers under q's palette and strength,
// recording every trial value that reaches the distance.
ReferenceChoice referenceSearch(const Quantiser& q, const WorkingImage& image, int x0, int y, Range& trial) {
  const auto limited = [](std::int64_t s) { return std::clamp<std::int64_t>(s, 0, 4080); };
  ReferenceChoice best;
  std::int64_t bestCost = 2147483647;
  for (int h = 1; h <= 14; ++h) {
    for (int o = h + 1; o <= 15; ++o) {
      std::int64_t v[3];
      for (int c = 0; c < 3; ++c) {
        v[c] = limited(image.pixel(x0, y)[c]);
      }
      std::int64_t cost = 0;
      unsigned mask = 0;
      std::int64_t largestError = 0;
      bool abandoned = false;
      for (int k = 0; k < 8 && !abandoned; ++k) {
        for (int c = 0; c < 3; ++c) {
          trial.add(v[c]);
        }
        const std::int64_t dh = referenceNumerator(v, q.palette.colour[h]) / 256;
        const std::int64_t dO = referenceNumerator(v, q.palette.colour[o]) / 256;
        const int chosen = dh <= dO ? h : o;
        cost += std::min(dh, dO);
        mask |= chosen == o ? 1u << k : 0u;
        abandoned = cost > bestCost;
        for (int c = 0; c < 3 && k < 7; ++c) {
          const std::int64_t s = image.pixel(x0 + k + 1, y)[c];
          const std::int64_t e = v[c] - q.palette.colour[chosen][c];
          largestError = s < 0 ? largestError : std::max(largestError, std::abs(e));
          v[c] = s < 0 ? 0 : limited(s) + 7 * e * q.strength / 4096;
        }
      }
      if (!abandoned && cost < bestCost) {
        bestCost = cost;
        best = {h, o, mask, cost, largestError};
      }
    }
  }
  return best;
}

std::unique_ptr<WorkingImage> blankImage(int width, int height) {
  auto image = std::make_unique<WorkingImage>();
  image->width = width;
  image->height = height;
  return image;
}

// Runs the quantisation pass line by line, checking each search against the
// reference and every stored sample of the image after each commit.
void quantiseChecked(const Quantiser& q, WorkingImage& image, Range& trial, Range& stored) {
  for (int y = 0; y < 8 * image.tileRows(); ++y) {
    for (int x0 = 0; x0 < 8 * image.tileColumns(); x0 += 8) {
      const LineChoice choice = searchLinePair(q, image, x0, y);
      const ReferenceChoice expected = referenceSearch(q, image, x0, y, trial);
      ASSERT_EQ(choice.background, expected.background) << x0 << "," << y;
      ASSERT_EQ(choice.foreground, expected.foreground) << x0 << "," << y;
      ASSERT_EQ(choice.mask, expected.mask) << x0 << "," << y;
      ASSERT_EQ(choice.cost, expected.cost) << x0 << "," << y;
      commitLine(q, image, x0, y, choice);
      for (int yy = -1; yy <= 8 * image.tileRows(); ++yy) {
        for (int xx = -1; xx <= 8 * image.tileColumns(); ++xx) {
          for (int c = 0; c < 3; ++c) {
            stored.add(image.pixel(xx, yy)[c]);
          }
        }
      }
    }
  }
}

TEST(Extremes, ColourDistanceIsExactOverEveryReachableValue) {
  // Trial values reduce to -197 ... 452, palette colours to 0 ... 255. Red
  // and blue interact through the red mean, so both run over their whole
  // range; green adds 1024 dG^2 on its own and takes its two ends.
  std::int64_t largest = 0;
  for (int i = 1; i <= 15; ++i) {
    const Sample* p = kMameSamples.colour[i];
    for (int r = -197; r <= 452; ++r) {
      for (int b = -197; b <= 452; ++b) {
        for (int g : {-197, 452}) {
          const std::int64_t wide[3] = {16 * r, 16 * g, 16 * b};
          const Sample v[3] = {static_cast<Sample>(16 * r), static_cast<Sample>(16 * g),
                               static_cast<Sample>(16 * b)};
          const std::int64_t numerator = referenceNumerator(wide, p);
          ASSERT_GE(numerator, 0);
          largest = std::max(largest, numerator);
          ASSERT_EQ(colourDistance(v, p), numerator / 256) << r << " " << g << " " << b << " " << i;
          ASSERT_EQ(colourDistance(p, v), numerator / 256);
        }
      }
    }
  }
  // (452, 452, 452) against black: m = 226, (738 + 1024 + 541) * 452^2.
  EXPECT_EQ(largest, 2303LL * 452 * 452);
  EXPECT_LT(largest, std::int64_t{1} << 31);
}

using Line = std::array<Sample, 24>;  // red, green, blue of each pixel

// Searches a line with both the program and the reference, which must
// agree. Returns the reference's result; adds its trial values to trial.
ReferenceChoice searchBoth(const Line& samples, Range& trial, const Quantiser& q = defaultQuantiser()) {
  static const auto image = blankImage(8, 1);  // one for all: it is large
  for (int k = 0; k < 8; ++k) {
    for (int c = 0; c < 3; ++c) {
      image->pixel(k, 0)[c] = samples[static_cast<std::size_t>(3 * k + c)];
    }
  }
  const ReferenceChoice expected = referenceSearch(q, *image, 0, 0, trial);
  const LineChoice choice = searchLinePair(q, *image, 0, 0);
  EXPECT_EQ(choice.background, expected.background);
  EXPECT_EQ(choice.foreground, expected.foreground);
  EXPECT_EQ(choice.mask, expected.mask);
  EXPECT_EQ(choice.cost, expected.cost);
  return expected;
}

// An adversary: from start, changes one to three samples at a time (to an
// edge value or any value in 0 ... 4080) and keeps the change when score
// does not fall. Every line it tries is searched by both sides and stays
// within the trial range. Returns the best score.
std::int64_t climb(Line line, unsigned seed,
                   const std::function<std::int64_t(const Range&, const ReferenceChoice&)>& score,
                   const Quantiser& q = defaultQuantiser(), int steps = 12000) {
  const Sample edges[] = {-1785, -16, 0, 16, 2000, 4064, 4080, 5865};
  std::mt19937 random(seed);
  std::int64_t reached = std::numeric_limits<std::int64_t>::min();
  for (int step = 0; step < steps && !::testing::Test::HasFailure(); ++step) {
    Line candidate = line;
    for (auto n = 1 + random() % 3; n > 0; --n) {
      candidate[random() % 24] =
          random() % 2 != 0 ? edges[random() % 8] : static_cast<Sample>(random() % 4081);
    }
    Range trial;
    const ReferenceChoice result = searchBoth(candidate, trial, q);
    EXPECT_GE(trial.low, kLowestTrial);
    EXPECT_LE(trial.high, kHighestTrial);
    const std::int64_t value = score(trial, result);
    if (value >= reached) {
      reached = value;
      line = candidate;
    }
  }
  return reached;
}

TEST(Extremes, TrialValuesReachTheirBoundAndNoFurther) {
  // Full red, no green or blue: the first pair (1, 2), which is never
  // abandoned, keeps black at every pixel, so red grows 4080, 5865, 6645,
  // 6987, 7136, 7202, 7230, 7243, the top of the range.
  Line red{};
  for (int k = 0; k < 8; ++k) {
    red[static_cast<std::size_t>(3 * k)] = 4080;
  }
  Range trial;
  searchBoth(red, trial);
  EXPECT_EQ(trial.high, kHighestTrial);

  // Climbing from black to the highest trial value finds the top again.
  // Climbing from yellow (blue held at 0) to the lowest gets within 3 % of
  // the bottom, -3163: a pair that keeps choosing a colour with 4080 in a
  // channel the line holds at 0 is soon abandoned.
  EXPECT_EQ(climb(Line{}, 2, [](const Range& t, const ReferenceChoice&) { return t.high; }),
            kHighestTrial);
  Line yellow{};
  for (std::size_t k = 0; k < 8; ++k) {
    yellow[3 * k] = yellow[3 * k + 1] = 4080;
  }
  EXPECT_GE(climb(yellow, 1, [](const Range& t, const ReferenceChoice&) { return -t.low; }), 3080);

  // The pair that wins can carry errors beyond 4681, where 7 * e no longer
  // fits in 16 bits; the program still agrees with the reference.
  const std::int64_t error =
      climb(Line{}, 3, [](const Range&, const ReferenceChoice& r) { return r.largestError; });
  EXPECT_GT(error, 4681);
  EXPECT_LE(error, 7230);
}

TEST(Extremes, CommitReachesTheStoredLimits) {
  // A line of red 5865 committed to black: each pixel counts as 4080 and
  // spreads u = 255, so each right neighbour becomes 4080 + 7 * 255 = 5865,
  // the top of the range, and the first pixel of the next line keeps it.
  // Below: 255 from the left, 1275 from above, 765 from the right.
  auto image = blankImage(16, 16);
  for (int k = 0; k < 8; ++k) {
    image->pixel(k, 0)[0] = 5865;
  }
  image->pixel(8, 0)[0] = 5865;
  LineChoice black;  // (1, 2), mask 0
  commitLine(defaultQuantiser(), *image, 0, 0, black);
  EXPECT_EQ(image->pixel(8, 0)[0], kHighestStored);
  const int below[10] = {765, 2040, 2295, 2295, 2295, 2295, 2295, 2295, 1530, 255};
  for (int x = -1; x <= 8; ++x) {
    EXPECT_EQ(image->pixel(x, 1)[0], below[x + 1]) << x;
  }
  for (int k = 0; k < 8; ++k) {
    EXPECT_EQ(image->pixel(k, 0)[0], 0);
  }

  // White everywhere but red 0 at the last pixel, committed to white: the
  // last pixel spreads u = -255, so the next line starts at -1785, the
  // bottom of the range; below it gets -255, -1275 and -765.
  image = blankImage(16, 16);
  for (int k = 0; k < 8; ++k) {
    for (int c = 0; c < 3; ++c) {
      image->pixel(k, 0)[c] = 4080;
    }
  }
  image->pixel(7, 0)[0] = 0;
  LineChoice white;
  white.background = 1;
  white.foreground = 15;
  white.mask = 0xFF;
  commitLine(defaultQuantiser(), *image, 0, 0, white);
  EXPECT_EQ(image->pixel(8, 0)[0], kLowestStored);
  EXPECT_EQ(image->pixel(8, 1)[0], -255);
  EXPECT_EQ(image->pixel(7, 1)[0], -1275);
  EXPECT_EQ(image->pixel(6, 1)[0], -765);
  EXPECT_EQ(image->pixel(5, 1)[0], 0);

  // The next line, starting at -1785, counts it as 0 and spreads nothing
  // from it: black, free.
  const LineChoice next = searchLinePair(defaultQuantiser(), *image, 8, 0);
  EXPECT_EQ(next.background, 1);
  EXPECT_EQ(next.foreground, 2);
  EXPECT_EQ(next.cost, 0u);
  commitLine(defaultQuantiser(), *image, 8, 0, next);
  EXPECT_EQ(image->pixel(8, 0)[0], 0);
  EXPECT_EQ(image->pixel(9, 0)[0], 0);
  EXPECT_EQ(image->pixel(8, 1)[0], 0);  // -255 limited to 0, nothing added
}

TEST(Extremes, WholePassesOverAlternatingAndLimitPictures) {
  // Every line of each picture is searched by the program and the
  // reference; after every commit all stored samples of the padded area and
  // its margin lie within -1785 ... 5865.
  std::mt19937 random(5);
  const Sample edges[] = {-1785, -16, 0, 4080, 5865};
  const std::function<Sample(int, int, int)> pictures[] = {
      [](int x, int, int) { return static_cast<Sample>(x % 2 == 0 ? 0 : 4080); },
      [](int x, int y, int) { return static_cast<Sample>((x + y) % 2 == 0 ? 4080 : 0); },
      [](int x, int y, int c) { return static_cast<Sample>((x + y + c) % 2 == 0 ? 4080 : 0); },
      [&](int, int, int) { return edges[random() % 5]; },
      [&](int, int, int) { return edges[3 + random() % 2]; },
  };
  Range trial;
  Range stored;
  for (const auto& sampleAt : pictures) {
    auto image = blankImage(16, 16);
    for (int y = 0; y < 16; ++y) {
      for (int x = 0; x < 16; ++x) {
        for (int c = 0; c < 3; ++c) {
          image->pixel(x, y)[c] = sampleAt(x, y, c);
        }
      }
    }
    quantiseChecked(defaultQuantiser(), *image, trial, stored);
    ASSERT_FALSE(HasFatalFailure());
  }
  EXPECT_EQ(stored.low, kLowestStored);
  EXPECT_EQ(stored.high, kHighestStored);
  EXPECT_GE(trial.low, kLowestTrial);
  EXPECT_LE(trial.high, kHighestTrial);
}

// Palettes at the edges of what a palette file can hold: the presets, the
// eight corners of the colour cube (repeated), every component 0 or every
// component 255, and random ones; each at full strength and below.
std::vector<Quantiser> otherQuantisers() {
  std::vector<Palette> palettes = {kDatasheetPalette, kV9938Palette};
  Palette corners{};
  Palette black{};
  Palette white{};
  for (int i = 0; i < kPaletteSize; ++i) {
    for (int c = 0; c < kChannels; ++c) {
      corners.colour[i][c] = ((i >> c) & 1) != 0 ? 255 : 0;
      white.colour[i][c] = 255;
    }
  }
  palettes.push_back(corners);
  palettes.push_back(black);
  palettes.push_back(white);
  std::mt19937 random(17);
  for (int n = 0; n < 3; ++n) {
    Palette any{};
    for (auto& colour : any.colour) {
      for (auto& component : colour) {
        component = static_cast<std::uint8_t>(random() % 256);
      }
    }
    palettes.push_back(any);
  }
  std::vector<Quantiser> all;
  for (const Palette& palette : palettes) {
    for (const int percent : {100, 61, 0}) {
      all.push_back(makeQuantiser(palette, strengthOfPercent(percent)));
    }
  }
  return all;
}

TEST(Extremes, OtherPalettesAndStrengthsStayWithinTheBounds) {
  // The distance over trial values against every corner of the cube: any
  // palette colour lies between them.
  for (int corner = 0; corner < 8; ++corner) {
    const Sample p[3] = {static_cast<Sample>((corner & 1) * 4080), static_cast<Sample>(((corner >> 1) & 1) * 4080),
                         static_cast<Sample>(((corner >> 2) & 1) * 4080)};
    for (int r = -197; r <= 452; r += 3) {
      for (int b = -197; b <= 452; b += 3) {
        for (int g : {-197, 0, 255, 452}) {
          const std::int64_t wide[3] = {16 * r, 16 * g, 16 * b};
          const Sample v[3] = {static_cast<Sample>(16 * r), static_cast<Sample>(16 * g), static_cast<Sample>(16 * b)};
          const std::int64_t numerator = referenceNumerator(wide, p);
          ASSERT_GE(numerator, 0);
          ASSERT_LT(numerator, std::int64_t{1} << 31);
          ASSERT_EQ(colourDistance(v, p), numerator / 256);
        }
      }
    }
  }
  // Whole passes over limit pictures, and climbs toward both ends of the
  // trial range, under each palette and strength: the program agrees with
  // the reference, and nothing passes the bounds.
  std::mt19937 random(23);
  const Sample edges[] = {-1785, -16, 0, 4080, 5865};
  Range trial;
  Range stored;
  for (const Quantiser& q : otherQuantisers()) {
    for (int picture = 0; picture < 3; ++picture) {
      auto image = blankImage(16, 16);
      for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
          for (int c = 0; c < 3; ++c) {
            image->pixel(x, y)[c] = picture == 0   ? static_cast<Sample>((x + y + c) % 2 == 0 ? 4080 : 0)
                                    : picture == 1 ? edges[random() % 5]
                                                   : edges[3 + random() % 2];
          }
        }
      }
      quantiseChecked(q, *image, trial, stored);
      ASSERT_FALSE(HasFatalFailure());
    }
    climb(Line{}, 2, [](const Range& t, const ReferenceChoice&) { return t.high; }, q, 1500);
    Line yellow{};
    for (std::size_t k = 0; k < 8; ++k) {
      yellow[3 * k] = yellow[3 * k + 1] = 4080;
    }
    climb(yellow, 1, [](const Range& t, const ReferenceChoice&) { return -t.low; }, q, 1500);
    ASSERT_FALSE(HasFailure());
  }
  EXPECT_GE(stored.low, kLowestStored);
  EXPECT_LE(stored.high, kHighestStored);
  EXPECT_GE(trial.low, kLowestTrial);
  EXPECT_LE(trial.high, kHighestTrial);
}

}  // namespace
}  // namespace kovrel
