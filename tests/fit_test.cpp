// Fitting (image/fit.h): sizes and placement of each mode, pass-through at
// the target size, flat colour kept flat, and fine bright detail keeping
// its light through resampling in linear light.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>

#include "core/conversion.h"
#include "image/fit.h"
#include "image/tga.h"
#include "tests/test_pictures.h"

namespace kovrel {
namespace {

RgbaPixels makePixels(int width, int height, const std::function<std::array<int, 4>(int, int)>& at) {
  RgbaPixels pixels;
  resetPixels(pixels, width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::array<int, 4> v = at(x, y);
      for (int c = 0; c < 4; ++c) {
        pixels.pixel(x, y)[c] = static_cast<std::uint8_t>(v[static_cast<std::size_t>(c)]);
      }
    }
  }
  return pixels;
}

struct Framed {
  std::unique_ptr<WorkingImage> image = std::make_unique<WorkingImage>();
  TgaHeader header;
  Status status = Status::kOk;

  // The 8-bit value of channel c at (x, y).
  int at(int x, int y, int c) const { return image->pixel(x, y)[c] / kSampleScale; }
};

Framed frame(const RgbaPixels& source, Fit fit, int width = kScreenWidth, int height = kScreenHeight,
             PixelAspect aspect = PixelAspect::kSquare, std::array<std::uint8_t, 3> background = {}) {
  Framing framing;
  framing.fit = fit;
  framing.width = width;
  framing.height = height;
  framing.aspect = aspect;
  framing.background = background;
  Framed out;
  out.status = framePixels(source, framing, *out.image, out.header);
  return out;
}

// sRGB decoding (IEC 61966-2-1), independent of the resampler's tables.
double linear(int value) {
  const double v = value / 255.0;
  return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

constexpr Fit kFits[] = {Fit::kCrop, Fit::kLetterbox, Fit::kStretch};

TEST(Fit, EveryModeGivesTheTargetSizeAndItsHeader) {
  const RgbaPixels wide = makePixels(700, 300, [](int x, int y) { return std::array<int, 4>{x % 256, y % 256, 90, 255}; });
  const RgbaPixels tall = makePixels(90, 640, [](int x, int y) { return std::array<int, 4>{x, y % 256, 200, 255}; });
  for (const Fit fit : kFits) {
    for (const RgbaPixels* source : {&wide, &tall}) {
      const Framed out = frame(*source, fit);
      ASSERT_EQ(out.status, Status::kOk);
      EXPECT_EQ(out.image->width, 256);
      EXPECT_EQ(out.image->height, 192);
      const std::uint8_t expected[kTgaHeaderSize] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 192, 0, 24, 0};
      for (std::size_t i = 0; i < kTgaHeaderSize; ++i) {
        EXPECT_EQ(out.header.bytes[i], expected[i]) << i;
      }
      // The margin and the padding beyond the picture stay 0.
      EXPECT_EQ(out.image->pixel(-1, 10)[0], 0);
      EXPECT_EQ(out.image->pixel(256, 191)[2], 0);
      EXPECT_EQ(out.image->pixel(10, 192)[1], 0);
    }
  }
  const Framed sized = frame(wide, Fit::kCrop, 512, 40);
  EXPECT_EQ(sized.image->width, 512);
  EXPECT_EQ(sized.image->height, 40);
}

TEST(Fit, WithoutAFitLargePicturesAreRefused) {
  const RgbaPixels big = makePixels(513, 20, [](int, int) { return std::array<int, 4>{1, 2, 3, 255}; });
  EXPECT_EQ(frame(big, Fit::kNone).status, Status::kPictureTooLarge);
  const RgbaPixels largest = makePixels(512, 512, [](int, int) { return std::array<int, 4>{1, 2, 3, 255}; });
  const Framed kept = frame(largest, Fit::kNone);
  EXPECT_EQ(kept.status, Status::kOk);
  EXPECT_EQ(kept.image->width, 512);
}

TEST(Fit, APictureOfTheTargetSizeIsUntouched) {
  const RgbaPixels noise = makePixels(256, 192, [](int x, int y) {
    const int v = (x * 7919 + y * 104729) % 65521;
    return std::array<int, 4>{v % 256, (v / 7) % 256, (v / 13) % 256, 255};
  });
  for (const Fit fit : {Fit::kNone, Fit::kCrop, Fit::kLetterbox, Fit::kStretch}) {
    for (const PixelAspect aspect : {PixelAspect::kSquare, PixelAspect::kTelevision}) {
      const Framed out = frame(noise, fit, 256, 192, aspect);
      for (int y = 0; y < 192; ++y) {
        for (int x = 0; x < 256; ++x) {
          for (int c = 0; c < 3; ++c) {
            ASSERT_EQ(out.image->pixel(x, y)[c], noise.pixel(x, y)[c] * kSampleScale) << x << "," << y;
          }
        }
      }
    }
  }
}

TEST(Fit, FlatColourStaysFlat) {
  const std::array<int, 4> colour{200, 31, 92, 255};
  for (const auto& size : {std::array<int, 2>{301, 207}, std::array<int, 2>{64, 40}, std::array<int, 2>{1000, 1000}}) {
    const RgbaPixels flat = makePixels(size[0], size[1], [&colour](int, int) { return colour; });
    for (const Fit fit : kFits) {
      const Framed out = frame(flat, fit, 256, 192, PixelAspect::kSquare, {5, 6, 7});
      for (int y = 0; y < 192; ++y) {
        for (int x = 0; x < 256; ++x) {
          const bool bar = out.at(x, y, 0) == 5;
          if (fit == Fit::kLetterbox && bar) {
            continue;
          }
          for (int c = 0; c < 3; ++c) {
            ASSERT_EQ(out.at(x, y, c), colour[static_cast<std::size_t>(c)]) << x << "," << y;
          }
        }
      }
    }
  }
}

TEST(Fit, LetterboxCentresWithBackgroundBarsAndCropCutsTheOverflow) {
  // 384 x 192 (2:1): red bands of 64 columns each side of a blue middle.
  const RgbaPixels banded = makePixels(384, 192, [](int x, int) {
    return x < 64 || x >= 320 ? std::array<int, 4>{255, 0, 0, 255} : std::array<int, 4>{0, 0, 255, 255};
  });
  // Crop keeps the middle 256 columns at scale 1; only the filter's reach
  // (two pixels) at the edges may see the bands.
  const Framed crop = frame(banded, Fit::kCrop);
  for (int y = 0; y < 192; ++y) {
    for (int x = 2; x < 254; ++x) {
      ASSERT_EQ(crop.at(x, y, 0), 0) << x;
      ASSERT_EQ(crop.at(x, y, 2), 255) << x;
    }
  }
  // Letterbox: scaled to 256 x 128, rows 32 ... 159, background above and below.
  const Framed box = frame(banded, Fit::kLetterbox, 256, 192, PixelAspect::kSquare, {0, 200, 0});
  for (int x = 0; x < 256; ++x) {
    EXPECT_EQ(box.at(x, 31, 1), 200);
    EXPECT_EQ(box.at(x, 160, 1), 200);
    EXPECT_EQ(box.at(x, 32, 1), 0);
    EXPECT_EQ(box.at(x, 159, 1), 0);
  }
  EXPECT_EQ(box.at(10, 100, 0), 255);
  EXPECT_EQ(box.at(128, 100, 2), 255);
  // With the television aspect a 256 x 192 target shows 256 x 8/7 = 292.6
  // square units across: a 4:3 picture fills 192 rows and 192 x 4/3 / (8/7)
  // = 224 columns, 16 of background each side.
  const RgbaPixels square = makePixels(400, 300, [](int, int) { return std::array<int, 4>{90, 90, 90, 255}; });
  const Framed tv = frame(square, Fit::kLetterbox, 256, 192, PixelAspect::kTelevision, {0, 200, 0});
  EXPECT_EQ(tv.at(15, 100, 1), 200);
  EXPECT_EQ(tv.at(16, 100, 1), 90);
  EXPECT_EQ(tv.at(239, 100, 1), 90);
  EXPECT_EQ(tv.at(240, 100, 1), 200);
}

TEST(Fit, ThinBrightLineKeepsItsLight) {
  // One white column in black, shrunk four times across by stretch: the
  // light a row carries (sum of linear intensities) becomes a quarter, as
  // each output pixel covers four. Averaging the stored values instead
  // would keep only about a fifth of it (0.25^2.2 x 4 = 0.19).
  const RgbaPixels line = makePixels(1024, 768, [](int x, int) {
    return x == 501 ? std::array<int, 4>{255, 255, 255, 255} : std::array<int, 4>{0, 0, 0, 255};
  });
  const Framed out = frame(line, Fit::kStretch);
  for (const int y : {0, 95, 191}) {
    double light = 0;
    for (int x = 0; x < 256; ++x) {
      light += linear(out.at(x, y, 1));
    }
    // Within 5 %: the filter's negative lobes are clipped at black, and each
    // value is rounded to 8 bits.
    EXPECT_NEAR(light, 0.25, 0.25 * 0.05) << y;
  }
  // Transparency composites before resampling: a transparent line is the
  // background.
  const RgbaPixels hidden = makePixels(1024, 768, [](int x, int) {
    return x == 501 ? std::array<int, 4>{255, 255, 255, 0} : std::array<int, 4>{0, 0, 0, 255};
  });
  const Framed none = frame(hidden, Fit::kStretch);
  for (int x = 0; x < 256; ++x) {
    ASSERT_EQ(none.at(x, 50, 0), 0);
  }
}

TEST(Fit, ATgaIsFittedOnlyWhenItsSizeDiffers) {
  Framing framing;
  framing.fit = Fit::kLetterbox;
  const std::vector<std::uint8_t> small = test::uniformTga(128, 64, {200, 31, 92});
  Picture picture;
  ASSERT_EQ(decodePicture(small.data(), small.size(), picture, framing), Status::kOk);
  EXPECT_EQ(picture.image->width, 256);
  EXPECT_EQ(picture.image->height, 192);
  EXPECT_EQ(picture.header.bytes[13], 1);  // width 256
  EXPECT_EQ(picture.header.bytes[14], 192);
  EXPECT_EQ(picture.image->pixel(0, 0)[0], 0);         // the black bar above
  EXPECT_EQ(picture.image->pixel(0, 96)[0], 200 * 16);  // enlarged, still flat
  EXPECT_EQ(picture.image->pixel(255, 96)[2], 92 * 16);

  // At the target size the TGA is read as without a fit, header included.
  const std::vector<std::uint8_t> screen = test::makeTga(256, 192, [](int x, int y) {
    return test::Rgb{static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), 7};
  }, 5);
  Picture plain;
  Picture fitted;
  ASSERT_EQ(decodePicture(screen.data(), screen.size(), plain), Status::kOk);
  ASSERT_EQ(decodePicture(screen.data(), screen.size(), fitted, framing), Status::kOk);
  EXPECT_EQ(fitted.header.bytes, plain.header.bytes);
  EXPECT_EQ(fitted.header.bytes[0], 5);
  EXPECT_TRUE(fitted.image->samples == plain.image->samples);
}

}  // namespace
}  // namespace kovrel
