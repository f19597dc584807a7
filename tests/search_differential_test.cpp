// Holds the fast line search (every kernel this processor runs) and the fast
// tile encoder to the plain ones in reference_search.h: on random lines of
// many kinds, with random hints, and on whole pictures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "default_quantiser.h"
#include "colour/colour.h"
#include "image/tga.h"
#include "quantise/line_search_kernels.h"
#include "reference_search.h"
#include "test_pictures.h"
#include "tiles/tiles.h"

namespace kovrel {
namespace {

// Lines per kind of line: 7 kinds, so about a million lines for the search
// and as many for the encoder; sanitizer builds run a twenty-fifth.
#if defined(KOVREL_TEST_SANITIZED)
constexpr int kLinesPerKind = 6000;
#else
constexpr int kLinesPerKind = 150000;
#endif

// The stored samples the pass can leave: -1785 ... 5865.
constexpr int kLowestStored = -1785;
constexpr int kHighestStored = 5865;

enum class LineKind {
  kAnyStored,        // every sample anywhere in -1785 ... 5865
  kFullScale,        // 0 ... 4080
  kBoundaries,       // values at and around 0, 16 and 4080, and the extremes
  kPaletteColours,   // exact palette colours, two or three of them
  kNearPalette,      // palette colours moved by a little, either way
  kFlat,             // one colour throughout (many pairs tie)
  kSmooth,           // a gentle ramp, as in a photograph
};

constexpr LineKind kAllKinds[] = {LineKind::kAnyStored,      LineKind::kFullScale,
                                  LineKind::kBoundaries,     LineKind::kPaletteColours,
                                  LineKind::kNearPalette,    LineKind::kFlat,
                                  LineKind::kSmooth};

// The settings the differential tests run under: the defaults, each preset
// with a strength below full (none at all included), a random palette, and
// one whose usable colours repeat. The others take fewer lines than the
// defaults.
struct QuantiserCase {
  std::string name;
  Quantiser q;
  int linesPerKind;
};

Palette randomPalette(std::uint32_t seed) {
  std::mt19937 random(seed);
  Palette palette{};
  for (auto& colour : palette.colour) {
    for (auto& component : colour) {
      component = static_cast<std::uint8_t>(random() & 0xFF);
    }
  }
  return palette;
}

Palette repeatingPalette() {
  Palette palette = kMamePalette;
  for (int c = 0; c < kChannels; ++c) {
    palette.colour[14][c] = palette.colour[15][c];
    palette.colour[3][c] = palette.colour[2][c];
  }
  return palette;
}

const std::vector<QuantiserCase>& quantiserCases() {
  static const std::vector<QuantiserCase> cases = {
      {"default", defaultQuantiser(), kLinesPerKind},
      {"datasheet 50%", makeQuantiser(kDatasheetPalette, strengthOfPercent(50)), kLinesPerKind / 6},
      {"v9938 0%", makeQuantiser(kV9938Palette, strengthOfPercent(0)), kLinesPerKind / 6},
      {"random palette 37%", makeQuantiser(randomPalette(99), strengthOfPercent(37)), kLinesPerKind / 6},
      {"repeating palette 99%", makeQuantiser(repeatingPalette(), strengthOfPercent(99)), kLinesPerKind / 6},
  };
  return cases;
}

class LineMaker {
 public:
  explicit LineMaker(std::uint32_t seed) : random_(seed) {}

  int between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }

  // Fills pixels (0 ... 7, 0) of image with a line of the given kind, near
  // or at palette's colours where the kind says so.
  void fill(WorkingImage& image, LineKind kind, const PaletteSampleTable& palette) {
    int colours[3] = {between(0, 15), between(0, 15), between(0, 15)};
    int start[kChannels];
    int step[kChannels];
    for (int c = 0; c < kChannels; ++c) {
      start[c] = between(0, kFullScale);
      step[c] = between(-160, 160);
    }
    const int flatColour = between(0, 15);
    const bool flatExact = between(0, 1) == 0;
    Sample flat[kChannels];
    for (int c = 0; c < kChannels; ++c) {
      flat[c] = static_cast<Sample>(flatExact ? palette.colour[flatColour][c]
                                              : between(0, kFullScale));
    }
    for (int k = 0; k < kTileLinePixels; ++k) {
      Sample* p = image.pixel(k, 0);
      const int colour = colours[between(0, between(1, 2))];
      for (int c = 0; c < kChannels; ++c) {
        int value = 0;
        switch (kind) {
          case LineKind::kAnyStored:
            value = between(kLowestStored, kHighestStored);
            break;
          case LineKind::kFullScale:
            value = between(0, kFullScale);
            break;
          case LineKind::kBoundaries: {
            static constexpr int kValues[] = {kLowestStored, -16, -1, 0,    1,    15,   16,
                                              17,            4064, 4079, 4080, 4081, 4095,
                                              kHighestStored};
            value = kValues[between(0, static_cast<int>(std::size(kValues)) - 1)];
            break;
          }
          case LineKind::kPaletteColours:
            value = palette.colour[colour][c];
            break;
          case LineKind::kNearPalette:
            value = palette.colour[colour][c] + between(-40, 40);
            break;
          case LineKind::kFlat:
            value = flat[c];
            break;
          case LineKind::kSmooth:
            value = start[c] + k * step[c] + between(-8, 8);
            break;
        }
        p[c] = static_cast<Sample>(value);
      }
    }
  }

  // A hint that is sometimes a valid pair, sometimes anything at all.
  LineChoice hint() {
    LineChoice choice;
    choice.background = static_cast<std::uint8_t>(between(0, 16));
    choice.foreground = static_cast<std::uint8_t>(between(0, 16));
    return choice;
  }

 private:
  std::mt19937 random_;
};

std::string describeLine(const WorkingImage& image) {
  std::ostringstream out;
  for (int k = 0; k < kTileLinePixels; ++k) {
    const Sample* p = image.pixel(k, 0);
    out << " (" << p[0] << "," << p[1] << "," << p[2] << ")";
  }
  return out.str();
}

bool sameChoice(const LineChoice& a, const LineChoice& b) {
  return a.background == b.background && a.foreground == b.foreground && a.mask == b.mask &&
         a.cost == b.cost;
}

std::string describeChoice(const LineChoice& c) {
  std::ostringstream out;
  out << "(" << int{c.background} << "," << int{c.foreground} << ") mask " << int{c.mask} << " cost "
      << c.cost;
  return out.str();
}

std::vector<search::Kernel> availableKernels() {
  std::vector<search::Kernel> kernels;
  for (search::Kernel k : {search::Kernel::kPortable, search::Kernel::kAvx2, search::Kernel::kAvx512}) {
    if (search::kernelAvailable(k)) {
      kernels.push_back(k);
    }
  }
  return kernels;
}

TEST(SearchKernels, PairIndexFollowsTheVisitingOrder) {
  int expected = 0;
  for (int h = 1; h <= 14; ++h) {
    for (int o = h + 1; o <= 15; ++o) {
      EXPECT_EQ(search::pairIndex(h, o), expected);
      EXPECT_EQ(search::kPairColours[expected].background, h);
      EXPECT_EQ(search::kPairColours[expected].foreground, o);
      ++expected;
    }
  }
  EXPECT_EQ(expected, kPairCount);
  EXPECT_EQ(search::pairIndex(0, 2), -1);
  EXPECT_EQ(search::pairIndex(3, 3), -1);
  EXPECT_EQ(search::pairIndex(5, 4), -1);
  EXPECT_EQ(search::pairIndex(1, 16), -1);
  EXPECT_TRUE(search::kernelAvailable(search::Kernel::kPortable));
  EXPECT_TRUE(search::kernelAvailable(search::fastestKernel()));
}

// Every kernel, with random hints, against the plain search, on
// 7 x linesPerKind lines for each case of settings.
TEST(SearchDifferential, RandomLinesMatchThePlainSearch) {
  for (const QuantiserCase& setting : quantiserCases()) {
  const Quantiser& q = setting.q;
  SCOPED_TRACE(setting.name);
  auto image = std::make_unique<WorkingImage>();
  image->width = image->height = 8;
  LineMaker maker(20261208);
  const std::vector<search::Kernel> kernels = availableKernels();
  long lines = 0;
  int failures = 0;
  // The line before, in row 1, for the search of two lines at once.
  LineChoice before = reference::searchLinePair(q, *image, 0, 1);
  SearchHints hintsBefore;
  for (LineKind kind : kAllKinds) {
    for (int i = 0; i < setting.linesPerKind && failures < 5; ++i) {
      maker.fill(*image, kind, q.palette);
      const LineChoice expected = reference::searchLinePair(q, *image, 0, 0);
      SearchHints hints;
      hints.above = maker.hint();
      hints.left = maker.hint();
      const LinePlace places[2] = {{0, 0}, {0, 1}};
      const SearchHints twoHints[2] = {hints, hintsBefore};
      for (search::Kernel kernel : kernels) {
        const LineChoice got = search::searchLineWith(kernel, q, *image, 0, 0, hints);
        if (!sameChoice(got, expected)) {
          ++failures;
          ADD_FAILURE() << search::kernelName(kernel) << " kind " << static_cast<int>(kind)
                        << " line" << describeLine(*image) << ": got " << describeChoice(got)
                        << ", plain search " << describeChoice(expected);
        }
        LineChoice two[2];
        search::searchTwoLinesWith(kernel, q, *image, places, twoHints, two);
        if (!sameChoice(two[0], expected) || !sameChoice(two[1], before)) {
          ++failures;
          ADD_FAILURE() << search::kernelName(kernel) << " two lines, kind " << static_cast<int>(kind)
                        << " line" << describeLine(*image) << ": got " << describeChoice(two[0]) << " and "
                        << describeChoice(two[1]) << ", plain search " << describeChoice(expected) << " and "
                        << describeChoice(before);
        }
      }
      std::copy(image->pixel(0, 0), image->pixel(kTileLinePixels, 0), image->pixel(0, 1));
      before = expected;
      hintsBefore = hints;
      const LineChoice dispatched = searchLinePair(q, *image, 0, 0);
      if (!sameChoice(dispatched, expected)) {
        ++failures;
        ADD_FAILURE() << "searchLinePair line" << describeLine(*image) << ": got "
                      << describeChoice(dispatched) << ", plain search " << describeChoice(expected);
      }
      ++lines;
    }
  }
  EXPECT_EQ(lines, 7L * setting.linesPerKind);
  }
}

// Lines whose best cost is shared by several pairs: the first in visiting
// order must win whatever pairs the hints name first.
TEST(SearchDifferential, TiesGoToTheFirstPairWhateverTheHints) {
  auto image = std::make_unique<WorkingImage>();
  image->width = image->height = 8;
  for (int colour = 1; colour <= 15; ++colour) {
    for (int k = 0; k < kTileLinePixels; ++k) {
      for (int c = 0; c < kChannels; ++c) {
        image->pixel(k, 0)[c] = kMameSamples.colour[colour][c];
      }
    }
    // Every pair holding the colour costs 0; the first is (1, c), or (1, 2)
    // for black.
    const int first = colour == 1 ? 2 : colour;
    for (int other = 1; other <= 15; ++other) {
      if (other == colour) {
        continue;
      }
      SearchHints hints;
      hints.above.background = static_cast<std::uint8_t>(std::min(colour, other));
      hints.above.foreground = static_cast<std::uint8_t>(std::max(colour, other));
      hints.left = hints.above;
      for (search::Kernel kernel : availableKernels()) {
        const LineChoice got = search::searchLineWith(kernel, defaultQuantiser(), *image, 0, 0, hints);
        EXPECT_EQ(got.background, 1) << search::kernelName(kernel) << " colour " << colour;
        EXPECT_EQ(got.foreground, first) << search::kernelName(kernel) << " colour " << colour;
        EXPECT_EQ(got.mask, colour == 1 ? 0x00 : 0xFF) << search::kernelName(kernel);
        EXPECT_EQ(got.cost, 0u);
      }
    }
  }
}

TEST(EncoderDifferential, RandomLinesMatchThePlainEncoder) {
  for (const QuantiserCase& setting : quantiserCases()) {
  const Quantiser& q = setting.q;
  SCOPED_TRACE(setting.name);
  auto image = std::make_unique<WorkingImage>();
  image->width = image->height = 8;
  LineMaker maker(4080);
  int failures = 0;
  for (LineKind kind : kAllKinds) {
    for (int i = 0; i < setting.linesPerKind && failures < 5; ++i) {
      maker.fill(*image, kind, q.palette);
      const TileLineBytes expected = reference::encodeTileLine(q.palette, *image, 0, 0);
      const TileLineBytes got = encodeTileLine(q, *image, 0, 0);
      if (got.colour != expected.colour || got.pattern != expected.pattern) {
        ++failures;
        ADD_FAILURE() << "kind " << static_cast<int>(kind) << " line" << describeLine(*image)
                      << ": got " << int{got.colour} << "/" << int{got.pattern} << ", plain encoder "
                      << int{expected.colour} << "/" << int{expected.pattern};
      }
    }
  }
  }
}

// Every line of up to two exact palette colours, by pattern: the shortcut
// the encoder takes for quantised lines.
TEST(EncoderDifferential, EveryTwoColourPaletteLine) {
  for (const QuantiserCase& setting : quantiserCases()) {
  const Quantiser& q = setting.q;
  SCOPED_TRACE(setting.name);
  auto image = std::make_unique<WorkingImage>();
  image->width = image->height = 8;
  for (int a = 1; a <= 15; ++a) {
    for (int b = 1; b <= 15; ++b) {
      for (int bits = 0; bits < 256; bits += (a == b ? 255 : 7)) {
        for (int k = 0; k < kTileLinePixels; ++k) {
          const int colour = ((bits >> k) & 1) != 0 ? b : a;
          for (int c = 0; c < kChannels; ++c) {
            image->pixel(k, 0)[c] = q.palette.colour[colour][c];
          }
        }
        const TileLineBytes expected = reference::encodeTileLine(q.palette, *image, 0, 0);
        const TileLineBytes got = encodeTileLine(q, *image, 0, 0);
        ASSERT_EQ(got.colour, expected.colour) << a << " " << b << " " << bits;
        ASSERT_EQ(got.pattern, expected.pattern) << a << " " << b << " " << bits;
      }
    }
  }
  }
}

// The commit against the plain one on lines whose own pixels and whose
// neighbours (right, and the row below from x0 - 1 to x0 + 8) hold any
// stored sample, negative and above full scale included, at the picture's
// left and right edges and inside.
TEST(CommitDifferential, RandomLinesMatchThePlainCommit) {
  for (const QuantiserCase& setting : quantiserCases()) {
  const Quantiser& q = setting.q;
  SCOPED_TRACE(setting.name);
  std::mt19937 random(11);
  const auto between = [&random](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
  };
  auto fast = std::make_unique<WorkingImage>();
  auto plain = std::make_unique<WorkingImage>();
  for (int trial = 0; trial < setting.linesPerKind / 8; ++trial) {
    const int x0 = kTileLinePixels * between(0, 2) * (kMaxSide / kTileLinePixels - 1) / 2;
    const int y = between(0, 1) * (kMaxSide - 1);
    for (int row = y; row <= y + 1; ++row) {
      for (int x = x0 - 1; x <= x0 + kTileLinePixels; ++x) {
        for (int c = 0; c < kChannels; ++c) {
          const int pick = between(0, 5);
          const int value = pick == 0   ? between(kLowestStored, -1)
                            : pick == 1 ? between(kFullScale, kHighestStored)
                            : pick == 2 ? q.palette.colour[between(1, 15)][c] + between(-20, 20)
                                        : between(0, kFullScale);
          fast->pixel(x, row)[c] = plain->pixel(x, row)[c] = static_cast<Sample>(value);
        }
      }
    }
    LineChoice choice;
    choice.background = static_cast<std::uint8_t>(between(1, 14));
    choice.foreground = static_cast<std::uint8_t>(between(choice.background + 1, 15));
    choice.mask = static_cast<std::uint8_t>(between(0, 255));
    commitLine(q, *fast, x0, y, choice);
    reference::commitLine(q, *plain, x0, y, choice);
    ASSERT_TRUE(fast->samples == plain->samples) << "trial " << trial;
  }
  }
}

// The whole conversion through the core's entry point against the plain
// pass over the plain search, then the tables against the plain encoder on
// the plainly quantised pixels, and the preview against those pixels.
void expectSameConversion(const std::vector<std::uint8_t>& tga, const std::string& name) {
  const std::vector<std::pair<std::string, Settings>> settings = [] {
    std::vector<std::pair<std::string, Settings>> all(4);
    all[0].first = "default";
    all[1].first = "datasheet 50%";
    all[1].second.palette = kDatasheetPalette;
    all[1].second.ditherPercent = 50;
    all[2].first = "random palette 0%";
    all[2].second.palette = randomPalette(5);
    all[2].second.ditherPercent = 0;
    all[3].first = "repeating palette 73%";
    all[3].second.palette = repeatingPalette();
    all[3].second.ditherPercent = 73;
    return all;
  }();
  for (const auto& [settingName, setting] : settings) {
    SCOPED_TRACE(name + ", " + settingName);
    const test::ConvertedFiles fast = test::convertTga(tga, setting);
    ASSERT_TRUE(fast.image);
    Picture picture;
    ASSERT_EQ(decodePicture(tga.data(), tga.size(), picture), Status::kOk);
    WorkingImage& plain = *picture.image;
    const Quantiser q = makeQuantiser(setting.palette, strengthOfPercent(setting.ditherPercent));
    for (int y = 0; y < plain.tileRows() * kTileSide; ++y) {
      for (int x0 = 0; x0 < plain.tileColumns() * kTileLinePixels; x0 += kTileLinePixels) {
        reference::commitLine(q, plain, x0, y, reference::searchLinePair(q, plain, x0, y));
      }
    }
    ASSERT_TRUE(fast.image->samples == plain.samples) << "quantised pictures differ";
    ASSERT_EQ(fast.lineCount, static_cast<std::uint32_t>(plain.tileColumns() * plain.tileRows() * kTileSide));
    std::size_t at = kTableHeaderSize;
    for (int r = 0; r < plain.tileRows(); ++r) {
      for (int c = 0; c < plain.tileColumns(); ++c) {
        for (int l = 0; l < kTileSide; ++l, ++at) {
          const TileLineBytes expected =
              reference::encodeTileLine(q.palette, plain, kTileLinePixels * c, kTileSide * r + l);
          ASSERT_EQ(fast.colour[at], expected.colour) << "tile " << c << "," << r;
          ASSERT_EQ(fast.pattern[at], expected.pattern) << "tile " << c << "," << r;
        }
      }
    }
    std::size_t p = kTgaHeaderSize;
    for (int y = plain.height - 1; y >= 0; --y) {
      for (int x = 0; x < plain.width; ++x, p += kChannels) {
        ASSERT_EQ(fast.preview[p + 2], plain.pixel(x, y)[0] / kSampleScale);
        ASSERT_EQ(fast.preview[p + 1], plain.pixel(x, y)[1] / kSampleScale);
        ASSERT_EQ(fast.preview[p], plain.pixel(x, y)[2] / kSampleScale);
      }
    }
  }
}

TEST(PassDifferential, WholePicturesMatchThePlainPass) {
  std::ifstream file(KOVREL_SAMPLE, std::ios::binary);
  const std::vector<std::uint8_t> photo((std::istreambuf_iterator<char>(file)),
                                        std::istreambuf_iterator<char>());
  expectSameConversion(photo, "photograph");

  std::mt19937 random(7);
  const auto noise = test::makeTga(203, 77, [&random](int, int) {
    return test::Rgb{static_cast<std::uint8_t>(random()), static_cast<std::uint8_t>(random()),
                     static_cast<std::uint8_t>(random())};
  });
  expectSameConversion(noise, "noise");

  // Cut short: the missing bytes are stored as -16.
  const std::vector<std::uint8_t> cut(photo.begin(), photo.begin() + static_cast<std::ptrdiff_t>(photo.size() / 3));
  expectSameConversion(cut, "truncated photograph");

  const auto ramp = test::makeTga(64, 40, [](int x, int y) {
    return test::Rgb{static_cast<std::uint8_t>(4 * x), static_cast<std::uint8_t>(6 * y),
                     static_cast<std::uint8_t>(255 - 3 * x)};
  });
  expectSameConversion(ramp, "ramp");

  // The pass works two pixel rows at once, the lower two lines behind; so
  // also pictures one to four lines wide, and one tile row high.
  for (const int width : {1, 8, 9, 16, 17, 24, 25, 32}) {
    for (const int height : {1, 8, 9}) {
      const auto small = test::makeTga(width, height, [&random](int, int) {
        return test::Rgb{static_cast<std::uint8_t>(random()), static_cast<std::uint8_t>(random()),
                         static_cast<std::uint8_t>(random())};
      });
      expectSameConversion(small, "noise " + std::to_string(width) + " x " + std::to_string(height));
    }
  }
}

}  // namespace
}  // namespace kovrel
