// The methods other than the plain one: every method and kernel keeps the
// screen-2 rule and its tables encode its picture; the fast kernels of the
// diffusing search agree with the plain search; carried in linear light, a
// flat field keeps its light.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "core/conversion.h"
#include "image/image_memory.h"
#include "quantise/diffusion.h"
#include "quantise/line_search_kernels.h"
#include "test_pictures.h"

namespace kovrel {
namespace {

using test::Rgb;

Picture pictureOf(const std::vector<std::uint8_t>& tga) {
  Picture picture;
  EXPECT_EQ(decodePicture(tga.data(), tga.size(), picture), Status::kOk);
  return picture;
}

Settings settingsFor(Method method, ErrorKernel kernel, int dither) {
  Settings settings;
  settings.method = method;
  settings.kernel = kernel;
  settings.ditherPercent = dither;
  return settings;
}

// The palette index of each pixel the tables give, read as the chip reads
// them: bit 7 of a pattern byte is the line's leftmost pixel, a set bit takes
// the colour byte's high nibble.
int tableColour(const Conversion& result, int columns, int x, int y) {
  const std::size_t at = kTableHeaderSize +
                         static_cast<std::size_t>(((y / kTileSide) * columns + x / kTileLinePixels) * kTileSide + y % kTileSide);
  const int bit = (result.pattern[at] >> (7 - x % kTileLinePixels)) & 1;
  return bit != 0 ? result.colour[at] >> 4 : result.colour[at] & 15;
}

TEST(Methods, EveryMethodAndKernelKeepsTwoColoursALineThatItsTablesEncode) {
  const std::vector<std::vector<std::uint8_t>> pictures = {
      test::makeTga(37, 21, [](int x, int y) { return Rgb{std::uint8_t(7 * x), std::uint8_t(12 * y), std::uint8_t(200 - 5 * x)}; }),
      test::makeTga(24, 16, [](int x, int y) { return Rgb{std::uint8_t((x * 97 + y * 31) & 255), std::uint8_t((x * y * 13) & 255), std::uint8_t((y * 53) & 255)}; }),
      test::uniformTga(16, 8, Rgb{20, 12, 40}),
      test::uniformTga(9, 9, Rgb{255, 255, 255}),
  };
  for (const KernelName& kernel : kKernelNames) {
    for (const MethodName& method : kMethodNames) {
      if (!methodDiffuses(method.method) && kernel.kernel != ErrorKernel::kFloyd) {
        continue;
      }
      for (const int dither : {100, 40}) {
        for (std::size_t p = 0; p < pictures.size(); ++p) {
          SCOPED_TRACE(std::string(method.name) + " " + kernel.name + " dither " + std::to_string(dither) + " picture " +
                       std::to_string(p));
          const Settings settings = settingsFor(method.method, kernel.kernel, dither);
          const Conversion result = convertPicture(pictureOf(pictures[p]), settings, nullptr);
          const WorkingImage& image = *result.image;
          const PaletteSampleTable samples = paletteSamples(settings.palette);
          const int columns = image.tileColumns();
          ASSERT_EQ(result.lineCount, static_cast<std::uint32_t>(columns * image.tileRows() * kTileSide));
          for (int y = 0; y < image.tileRows() * kTileSide; ++y) {
            for (int x = 0; x < columns * kTileLinePixels; ++x) {
              const int index = tableColour(result, columns, x, y);
              const Sample* pixel = image.pixel(x, y);
              ASSERT_TRUE(index >= kFirstUsableColour && pixel[0] == samples.colour[index][0] &&
                          pixel[1] == samples.colour[index][1] && pixel[2] == samples.colour[index][2])
                  << "pixel " << x << ", " << y;
            }
          }
        }
      }
    }
  }
}

// IEC 61966-2-1, written out independently of the core's tables.
double linearLight(double byte) {
  const double v = byte / 255;
  return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

// The tables that carry the error in linear light, against the definition
// written out plainly here: sRGB decoded with a^2.4 as a^2 times 24 Newton
// steps towards the fifth root of a^2 (the core stops the steps once they
// repeat, which must not change a bit), and the code back to 8 bits
// against the sRGB encoding by std::pow, which puts no table entry within
// 10^-4 of a rounding boundary.
TEST(LinearLight, TablesAreThePlainDefinitionsToTheBit) {
  const auto decode = [](double x) {
    if (x <= 0.04045) {
      return x / 12.92;
    }
    const double a = (x + 0.055) / 1.055;
    double y = std::sqrt(std::sqrt(a * a));
    for (int i = 0; i < 24; ++i) {
      y = (4 * y + a * a / (y * y * (y * y))) / 5;
    }
    return a * a * y;
  };
  for (int s = 0; s <= kFullScale; ++s) {
    ASSERT_EQ(linearOfSample(s), static_cast<std::int32_t>(decode(s / double{kFullScale}) * kStateFull + 0.5)) << s;
  }
  // Coding rounds up to b + 1 exactly at the plain decoding of b + 1/2.
  for (int b = 0; b < 255; ++b) {
    const double limit = decode((b + 0.5) / 255);
    ASSERT_EQ(byteOfLinear(limit), b + 1) << b;
    ASSERT_EQ(byteOfLinear(std::nextafter(limit, 0.0)), b) << b;
  }
  const Diffuser d = makeDiffuser(kMamePalette, Light::kLinear, ErrorKernel::kFloyd, kFullStrength);
  for (int i = 0; i < kCodeEntries; ++i) {
    const double linear = (16.0 * i + 8) / kStateFull;
    const double coded = linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
    ASSERT_EQ(d.code[i], static_cast<std::int32_t>(std::floor(255 * coded + 0.5))) << i;
  }
}

// A flat grey field converted: the mean linear light of its pixels against
// the field's. Carried in linear light, the mix of palette colours gives
// back the field's light; on the coded values, it comes out much brighter.
// Floyd-Steinberg's large share to the right sends the dark field's
// negative error below 0 more often than the wider kernels, where it is
// lost (quantise/diffusion.h), so it keeps a dark field's light less well.
TEST(Methods, FlatFieldKeepsItsLinearLightWhereTheErrorIsCarriedInLinearLight) {
  struct Case {
    Method method;
    ErrorKernel kernel;
    int grey;
    double lowest, highest;  // the mean light over the field's
  };
  const Case cases[] = {
      {Method::kLinear, ErrorKernel::kFloyd, 150, 0.95, 1.05},  {Method::kLinear, ErrorKernel::kJjn, 150, 0.95, 1.05},
      {Method::kLinear, ErrorKernel::kStucki, 150, 0.95, 1.05}, {Method::kLinear, ErrorKernel::kSierra, 150, 0.95, 1.05},
      {Method::kOrdered, ErrorKernel::kFloyd, 150, 0.95, 1.05}, {Method::kClassic, ErrorKernel::kFloyd, 150, 1.15, 9},
      {Method::kClassic, ErrorKernel::kStucki, 150, 1.15, 9},   {Method::kLinear, ErrorKernel::kJjn, 60, 0.95, 1.08},
      {Method::kLinear, ErrorKernel::kStucki, 60, 0.95, 1.08},  {Method::kLinear, ErrorKernel::kSierra, 60, 0.95, 1.08},
      {Method::kOrdered, ErrorKernel::kFloyd, 60, 0.95, 1.08},  {Method::kLinear, ErrorKernel::kFloyd, 60, 1, 1.7},
      {Method::kClassic, ErrorKernel::kFloyd, 60, 2.5, 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(methodName(c.method)) + " " + kernelName(c.kernel) + " grey " + std::to_string(c.grey));
    const auto grey = static_cast<std::uint8_t>(c.grey);
    const Conversion result = convertPicture(pictureOf(test::uniformTga(64, 64, Rgb{grey, grey, grey})),
                                             settingsFor(c.method, c.kernel, 100), nullptr);
    double sum = 0;
    for (int y = 0; y < 64; ++y) {
      for (int x = 0; x < 64; ++x) {
        for (int ch = 0; ch < kChannels; ++ch) {
          sum += linearLight(result.image->pixel(x, y)[ch] / kSampleScale);
        }
      }
    }
    const double ratio = sum / (64 * 64 * kChannels) / linearLight(c.grey);
    EXPECT_GE(ratio, c.lowest);
    EXPECT_LE(ratio, c.highest);
  }
}

// One pixel's error spread, worked by hand from each kernel's published
// diagram: the last pixel of a line committed to black carries 4800 on red
// (every other value 0), and each neighbour receives 4800 w / divisor of it,
// truncated by the fixed-point fraction to at most one less.
TEST(DiffusedCommit, OnePixelsErrorReachesTheKernelsNeighboursInItsShares) {
  struct Case {
    ErrorKernel kernel;
    int divisor;
    int weight[3][5];  // rows 0 ... 2, columns x - 2 ... x + 2 of the pixel at x
  };
  const Case cases[] = {
      {ErrorKernel::kFloyd, 16, {{0, 0, 0, 7, 0}, {0, 3, 5, 1, 0}, {0, 0, 0, 0, 0}}},
      {ErrorKernel::kAtkinson, 8, {{0, 0, 0, 1, 1}, {0, 1, 1, 1, 0}, {0, 0, 1, 0, 0}}},
      {ErrorKernel::kJjn, 48, {{0, 0, 0, 7, 5}, {3, 5, 7, 5, 3}, {1, 3, 5, 3, 1}}},
      {ErrorKernel::kStucki, 42, {{0, 0, 0, 8, 4}, {2, 4, 8, 4, 2}, {1, 2, 4, 2, 1}}},
      {ErrorKernel::kSierra, 32, {{0, 0, 0, 5, 3}, {2, 4, 5, 4, 2}, {0, 2, 3, 2, 0}}},
  };
  constexpr int kError = 4800;
  for (const Case& c : cases) {
    SCOPED_TRACE(kernelName(c.kernel));
    WorkingImagePtr image = newWorkingImage();
    image->width = 16;
    image->height = 8;
    const Diffuser d = makeDiffuser(kMamePalette, Light::kGamma, c.kernel, kFullStrength);
    DiffusionImage values = diffusionImageOf(d, *image);
    values.at(7, 0)[0] = kError;
    commitDiffused(d, values, *image, 0, 0, LineChoice{1, 15, 0, 0});
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < 12; ++x) {
        const int dx = x - 7;
        const int w = dx >= -2 && dx <= 2 ? c.weight[y][dx + 2] : 0;
        const std::int32_t* v = values.at(x, y);
        if (y == 0 && x <= 7) {
          EXPECT_EQ(v[0], x == 7 ? kError : 0) << x;
        } else {
          EXPECT_LE(v[0], kError * w / c.divisor) << x << ", " << y;
          EXPECT_GE(v[0], kError * w / c.divisor - 1) << x << ", " << y;
        }
        EXPECT_EQ(v[1], 0);
        EXPECT_EQ(v[2], 0);
      }
    }
  }
}

// Stored values as the pass can leave them, of several kinds.
LineValues randomLine(std::mt19937& rng, const Diffuser& d, int kind) {
  std::uniform_int_distribution<std::int32_t> any(-kStateFull, 2 * kStateFull);
  std::uniform_int_distribution<std::int32_t> full(0, kStateFull);
  std::uniform_int_distribution<int> colour(kFirstUsableColour, kLastUsableColour);
  std::uniform_int_distribution<std::int32_t> nudge(-300, 300);
  LineValues line;
  const int flat = colour(rng);
  for (int k = 0; k < kTileLinePixels; ++k) {
    const int near = colour(rng) % 3 == 0 ? flat : colour(rng);
    for (int c = 0; c < kChannels; ++c) {
      switch (kind) {
        case 0:
          line.value[k][c] = any(rng);
          break;
        case 1:
          line.value[k][c] = full(rng);
          break;
        case 2:
          line.value[k][c] = d.colourValue[near][c] + nudge(rng);
          break;
        default:
          line.value[k][c] = d.colourValue[flat][c];
          break;
      }
    }
  }
  return line;
}

TEST(DiffusedSearch, EveryKernelChoosesWhatThePlainSearchChooses) {
#if defined(KOVREL_TEST_SANITIZED)
  constexpr int kLines = 300;
#else
  constexpr int kLines = 6000;
#endif
  std::mt19937 rng(16);
  std::uniform_int_distribution<int> colour(0, kLastUsableColour);
  Palette randomPalette{};
  std::uniform_int_distribution<int> byte(0, 255);
  for (auto& rgb : randomPalette.colour) {
    for (auto& v : rgb) {
      v = static_cast<std::uint8_t>(byte(rng));
    }
  }
  // Three colours over and over: many pairs tie and stay in the running to
  // the end, the first in visiting order winning.
  Palette fewColours{};
  for (int c = 0; c < kPaletteSize; ++c) {
    std::copy_n(kMamePalette.colour[1 + c % 3 * 6], kChannels, fewColours.colour[c]);
  }
  const search::Kernel kernels[] = {search::Kernel::kPortable, search::Kernel::kAvx2, search::Kernel::kAvx512};
  for (const Light light : {Light::kLinear, Light::kGamma}) {
    for (const KernelName& kernel : kKernelNames) {
      for (const int strength : {kFullStrength, 153, 0}) {
        for (const Palette* palette : {&kMamePalette, &kV9938Palette, static_cast<const Palette*>(&randomPalette),
                                        static_cast<const Palette*>(&fewColours)}) {
          const Diffuser d = makeDiffuser(*palette, light, kernel.kernel, strength);
          for (int n = 0; n < kLines / 10; ++n) {
            const LineValues line = randomLine(rng, d, n % 4);
            SearchHints hints;
            hints.above = LineChoice{std::uint8_t(colour(rng)), std::uint8_t(colour(rng)), 0, 0};
            hints.left = LineChoice{std::uint8_t(colour(rng)), std::uint8_t(colour(rng)), 0, 0};
            const LineChoice want = plainDiffusedSearch(d, line);
            for (const search::Kernel k : kernels) {
              if (!search::kernelAvailable(k)) {
                continue;
              }
              const LineChoice got = search::searchDiffusedWith(k, d, line, hints);
              ASSERT_TRUE(got.background == want.background && got.foreground == want.foreground &&
                          got.mask == want.mask && got.cost == want.cost)
                  << search::kernelName(k) << " " << kernel.name << " strength " << strength << " line " << n;
            }
          }
        }
      }
    }
  }
}

// The same on the lines a whole pass meets, each committed as the plain
// search chose it: a photograph and noise, whose carried errors leave many
// pairs in the running, with a kernel that carries one share along the line
// and one that carries two.
TEST(DiffusedSearch, EveryKernelChoosesWhatThePlainSearchChoosesOnAPassesLines) {
  Picture photo;
  ASSERT_EQ(readPicture(KOVREL_EXAMPLES "/chelsea.tga", photo).status, Status::kOk);
  std::mt19937 rng(9);
  std::uniform_int_distribution<int> byte(0, 255);
  const std::vector<std::uint8_t> noise = test::makeTga(96, 40, [&](int, int) {
    return Rgb{std::uint8_t(byte(rng)), std::uint8_t(byte(rng)), std::uint8_t(byte(rng))};
  });
  const Picture noisePicture = pictureOf(noise);
  const WorkingImage* pictures[] = {photo.image.get(), noisePicture.image.get()};
  for (const WorkingImage* picture : pictures) {
    for (const Light light : {Light::kLinear, Light::kGamma}) {
      for (const ErrorKernel kernel : {ErrorKernel::kFloyd, ErrorKernel::kJjn}) {
        const Diffuser d = makeDiffuser(kMamePalette, light, kernel, light == Light::kGamma ? 153 : kFullStrength);
        const WorkingImagePtr copy = newWorkingImage();
        WorkingImage& image = *copy;
        image = *picture;
        DiffusionImage values = diffusionImageOf(d, image);
        for (int y = 0; y < values.height; ++y) {
          for (int x0 = 0; x0 < values.width; x0 += kTileLinePixels) {
            LineValues line;
            for (int k = 0; k < kTileLinePixels; ++k) {
              std::copy_n(values.at(x0 + k, y), kChannels, line.value[k]);
            }
            const LineChoice want = plainDiffusedSearch(d, line);
            for (const search::Kernel k : {search::Kernel::kPortable, search::Kernel::kAvx2, search::Kernel::kAvx512}) {
              if (search::kernelAvailable(k)) {
                const LineChoice got = search::searchDiffusedWith(k, d, line, SearchHints{});
                ASSERT_TRUE(got.background == want.background && got.foreground == want.foreground &&
                            got.mask == want.mask && got.cost == want.cost)
                    << search::kernelName(k) << " line " << x0 << ", " << y;
              }
            }
            commitDiffused(d, values, image, x0, y, want);
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace kovrel
