// The settings beside the defaults: palettes and palette files, dither
// strength, picture adjustments, each against values worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "colour/palette_file.h"
#include "core/conversion.h"
#include "image/adjustments.h"
#include "program_runner.h"
#include "quantise/quantise.h"
#include "test_pictures.h"

namespace kovrel {
namespace {

using test::Rgb;

// The default palette written out both ways a file can hold it.
std::string mameAsHex(bool sixteen) {
  std::string text = "; the mame table\n\n";
  for (int i = sixteen ? 0 : 1; i < kPaletteSize; ++i) {
    char line[16];
    std::snprintf(line, sizeof line, i % 2 == 0 ? "#%02X%02X%02X\n" : "%02x%02x%02x\r\n", kMamePalette.colour[i][0],
                  kMamePalette.colour[i][1], kMamePalette.colour[i][2]);
    text += line;
  }
  return text;
}

std::string mameAsGimp() {
  std::string text = "GIMP Palette\nName: mame\nColumns: 4\n# from the converter\n";
  for (int i = 1; i < kPaletteSize; ++i) {
    text += "  " + std::to_string(kMamePalette.colour[i][0]) + "\t" + std::to_string(kMamePalette.colour[i][1]) +
            " " + std::to_string(kMamePalette.colour[i][2]) + (i % 3 == 0 ? "\tcolour " + std::to_string(i) : "") +
            "\n";
  }
  return text;
}

TEST(PaletteFiles, BothFormsGiveTheColoursInIndexOrder) {
  for (const std::string& text : {mameAsHex(false), mameAsHex(true), mameAsGimp()}) {
    Palette palette{};
    const Outcome read = parsePalette(text, "p.txt", palette);
    ASSERT_EQ(read.status, Status::kOk) << text;
    EXPECT_TRUE(sameUsableColours(palette, kMamePalette)) << text;
    EXPECT_EQ(palette.colour[0][0], 0);
  }
  // Sixteen colours: the first is index 0, read and kept apart from 1.
  Palette palette{};
  std::string sixteen = "ABCDEF\n";
  for (int i = 1; i < 16; ++i) {
    sixteen += "0000" + std::string(1, "0123456789ABCDEF"[i]) + "0\n";
  }
  ASSERT_EQ(parsePalette(sixteen, "p", palette).status, Status::kOk);
  EXPECT_EQ(palette.colour[0][0], 0xAB);
  EXPECT_EQ(palette.colour[0][2], 0xEF);
  EXPECT_EQ(palette.colour[1][2], 0x10);
  EXPECT_EQ(palette.colour[15][2], 0xF0);
}

TEST(PaletteFiles, EachKindOfFaultNamesTheFileAndTheLine) {
  const auto problem = [](const std::string& text) {
    Palette palette = kV9938Palette;
    const Outcome read = parsePalette(text, "my.gpl", palette);
    EXPECT_TRUE(sameUsableColours(palette, kV9938Palette)) << "a failed read changed the palette";
    return statusMessage(read);
  };
  std::string hex15;
  for (int i = 0; i < 15; ++i) {
    hex15 += "102030\n";
  }
  EXPECT_EQ(problem("102030\n10203\n" + hex15),
            "Palette file my.gpl, line 2: not a colour: a palette file has lines of RRGGBB or #RRGGBB, or is "
            "a GIMP palette.\n");
  EXPECT_EQ(problem("#10203G\n"), "Palette file my.gpl, line 1: not a colour: a palette file has lines of RRGGBB "
                                  "or #RRGGBB, or is a GIMP palette.\n");
  EXPECT_EQ(problem(hex15 + "\n; sixteen\n405060\n708090\n"),
            "Palette file my.gpl, line 19: a 17th colour; a palette has 15 colours (1 to 15) or 16 (0 to 15).\n");
  EXPECT_EQ(problem("102030\n\n405060\n"),
            "Palette file my.gpl, line 3: too few colours; a palette has 15 colours (1 to 15) or 16 (0 to 15).\n");
  EXPECT_EQ(problem(""),
            "Palette file my.gpl, line 1: too few colours; a palette has 15 colours (1 to 15) or 16 (0 to 15).\n");
  EXPECT_EQ(problem("GIMP Palette\n1 2 3\n4 256 6\n"),
            "Palette file my.gpl, line 3: a colour component is not a whole number from 0 to 255.\n");
  EXPECT_EQ(problem("GIMP Palette\n1 2 3\n4 5\n"),
            "Palette file my.gpl, line 3: not a colour: a palette file has lines of RRGGBB or #RRGGBB, or is a "
            "GIMP palette.\n");
  EXPECT_EQ(problem("GIMP Palette\n1 2 3 4\n10 20 -3\n"),
            "Palette file my.gpl, line 3: not a colour: a palette file has lines of RRGGBB or #RRGGBB, or is a "
            "GIMP palette.\n");
  // A hex line in a GIMP palette, a GIMP line in a hex file.
  EXPECT_EQ(problem("GIMP Palette\n102030\n").substr(0, 33), "Palette file my.gpl, line 2: not ");
  EXPECT_EQ(problem("16 32 48\n").substr(0, 33), "Palette file my.gpl, line 1: not ");

  test::Folder dir;
  Palette palette{};
  EXPECT_EQ(readPaletteFile(dir / "missing.txt", palette).status, Status::kPaletteUnreadable);
  EXPECT_EQ(readPaletteFile(dir.path(), palette).status, Status::kPaletteUnreadable);  // a folder
  // 1 MiB is read; a byte more is refused as too large, not as unreadable.
  dir.write("big.txt", test::Bytes((1 << 20) + 1, '\n'));
  EXPECT_EQ(statusMessage(readPaletteFile(dir / "big.txt", palette)),
            "Palette file " + (dir / "big.txt") + " is larger than 1 MiB, more than a palette file can be.\n");
  dir.write("limit.txt", test::Bytes(1 << 20, '\n'));
  EXPECT_EQ(readPaletteFile(dir / "limit.txt", palette).status, Status::kPaletteTooFew);
  // A UTF-8 byte-order mark before either kind of file.
  std::string gimp15 = "\xEF\xBB\xBFGIMP Palette\n";
  for (int i = 0; i < 15; ++i) {
    gimp15 += "16 32 " + std::to_string(i) + "\n";
  }
  dir.write("bom.gpl", test::Bytes(gimp15.begin(), gimp15.end()));
  ASSERT_EQ(readPaletteFile(dir / "bom.gpl", palette).status, Status::kOk);
  EXPECT_EQ(palette.colour[15][2], 14);
  ASSERT_EQ(parsePalette("\xEF\xBB\xBF" + hex15, "p", palette).status, Status::kOk);
  EXPECT_EQ(palette.colour[15][0], 0x10);
  dir.write("good.txt", test::Bytes(hex15.begin(), hex15.end()));
  EXPECT_EQ(readPaletteFile(dir / "good.txt", palette).status, Status::kOk);
  EXPECT_EQ(palette.colour[7][1], 0x20);
}

TEST(PalettePresets, NamesAndValues) {
  EXPECT_EQ(palettePreset("mame"), &kMamePalette);
  EXPECT_EQ(palettePreset("datasheet"), &kDatasheetPalette);
  EXPECT_EQ(palettePreset("v9938"), &kV9938Palette);
  EXPECT_EQ(palettePreset("MAME"), nullptr);
  // The V9938's default palette in 3 bits a channel, each v as
  // round(v x 255 / 7).
  const int bits[15][3] = {{0, 0, 0}, {1, 6, 1}, {3, 7, 3}, {1, 1, 7}, {2, 3, 7}, {5, 1, 1}, {2, 6, 7}, {7, 1, 1},
                           {7, 3, 3}, {6, 6, 1}, {6, 6, 4}, {1, 4, 1}, {6, 2, 5}, {5, 5, 5}, {7, 7, 7}};
  for (int i = 1; i < 16; ++i) {
    for (int c = 0; c < 3; ++c) {
      EXPECT_EQ(kV9938Palette.colour[i][c], static_cast<int>(std::lround(bits[i - 1][c] * 255.0 / 7.0))) << i;
    }
  }
  EXPECT_EQ(kDatasheetPalette.colour[2][0], 62);
  EXPECT_EQ(kDatasheetPalette.colour[8][1], 101);
  EXPECT_EQ(kDatasheetPalette.colour[13][2], 181);
  EXPECT_FALSE(hasRepeatedColour(kMamePalette));
  EXPECT_FALSE(hasRepeatedColour(kDatasheetPalette));
  EXPECT_FALSE(hasRepeatedColour(kV9938Palette));
}

std::unique_ptr<WorkingImage> blankImage(int width, int height) {
  auto image = std::make_unique<WorkingImage>();
  image->width = width;
  image->height = height;
  return image;
}

TEST(DitherStrength, HalfStrengthSharesWorkedByHand) {
  // s = 50 x 256 / 100 = 128. Red 2000 committed to black: u = 125, and each
  // share w u s / 256 = 62.5 w truncates: right 437, below left 187, below
  // 312, below right 62 (full strength gives 875, 375, 625, 125).
  const Quantiser half = makeQuantiser(kMamePalette, strengthOfPercent(50));
  EXPECT_EQ(half.strength, 128);
  // The last pixel of the line, so that the right share lands on the next.
  auto image = blankImage(16, 16);
  image->pixel(7, 0)[0] = 2000;
  LineChoice black;  // (1, 2), mask 0
  commitLine(half, *image, 0, 0, black);
  EXPECT_EQ(image->pixel(8, 0)[0], 437);
  EXPECT_EQ(image->pixel(6, 1)[0], 187);
  EXPECT_EQ(image->pixel(7, 1)[0], 312);
  EXPECT_EQ(image->pixel(8, 1)[0], 62);
  EXPECT_EQ(image->pixel(7, 0)[0], 0);
  EXPECT_EQ(image->pixel(5, 1)[0], 0);

  // The search's trial carry at half strength: (7 e s) / 4096. A line of
  // red 2000 then black: black is the nearest colour at every pixel, so the
  // first pair (1, 2) wins with mask 0. Its trial reds, reduced to 8 bits:
  //   half: 125, then 0 + (7 x 2000 x 128) / 4096 = 437 (27), (7 x 437 x
  //         128) / 4096 = 95 (5), 20 (1), 4 (0); distances to black
  //         574 x 125^2 / 256 = 35034, 525 x 27^2 / 256 = 1495, 50, 2:
  //         36581 in all;
  //   full: 125, 875 (54), 382 (23), 167 (10), 73 (4), 31 (1), 13 (0):
  //         35034 + 6139 + 1080 + 201 + 32 + 2 = 42488.
  auto line = blankImage(8, 1);
  line->pixel(0, 0)[0] = 2000;
  for (const auto& [q, cost] : {std::pair<Quantiser, std::uint32_t>{half, 36581u},
                                std::pair<Quantiser, std::uint32_t>{makeQuantiser(kMamePalette, kFullStrength), 42488u}}) {
    const LineChoice choice = searchLinePair(q, *line, 0, 0);
    EXPECT_EQ(choice.background, 1);
    EXPECT_EQ(choice.foreground, 2);
    EXPECT_EQ(choice.mask, 0);
    EXPECT_EQ(choice.cost, cost) << q.strength;
  }
}

TEST(DitherStrength, NoneCarriesNoError) {
  // Uniform grey (128, 128, 128) with nothing carried: every pixel stays
  // grey, whose distances to the palette are, worked by hand, 27471 to
  // magenta (13), 33327 to dark red (6), 36833 to light green (3), and more
  // to every other colour. Every pair holding 13 costs 8 x 27471 = 219768;
  // the first visited is (1, 13), and every pixel takes 13, so the mask is
  // 0xFF. The tables then read one colour, 13: colour byte 16 x 13 + 1 =
  // 0xD1, pattern 0xFF, on every line.
  auto image = blankImage(8, 8);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      for (int c = 0; c < 3; ++c) {
        image->pixel(x, y)[c] = 128 * 16;
      }
    }
  }
  const Quantiser none = makeQuantiser(kMamePalette, strengthOfPercent(0));
  const LineChoice choice = searchLinePair(none, *image, 0, 0);
  EXPECT_EQ(choice.background, 1);
  EXPECT_EQ(choice.foreground, 13);
  EXPECT_EQ(choice.mask, 0xFF);
  EXPECT_EQ(choice.cost, 219768u);

  Settings settings;
  settings.ditherPercent = 0;
  const test::ConvertedFiles files = test::convertTga(test::uniformTga(8, 8, {128, 128, 128}), settings);
  const test::Bytes patternBody(files.pattern.begin() + 7, files.pattern.end());
  const test::Bytes colourBody(files.colour.begin() + 7, files.colour.end());
  EXPECT_EQ(patternBody, test::Bytes(8, 0xFF));
  EXPECT_EQ(colourBody, test::Bytes(8, 0xD1));
  // Full strength dithers 12 and 13 instead (the default's known bytes).
  const test::ConvertedFiles dithered = test::convertTga(test::uniformTga(8, 8, {128, 128, 128}));
  EXPECT_EQ(dithered.colour[7], 0xDC);
}

TEST(Adjustments, NeutralValuesChangeNothingAtAll) {
  // A truncated picture: the missing bytes stay missing (-16) too.
  std::vector<std::uint8_t> tga = test::makeTga(9, 3, [](int x, int y) {
    return Rgb{static_cast<std::uint8_t>(x * 28), static_cast<std::uint8_t>(y * 90), static_cast<std::uint8_t>(255 - x)};
  });
  tga.resize(tga.size() - 7);
  Picture picture;
  ASSERT_EQ(decodePicture(tga.data(), tga.size(), picture), Status::kOk);
  const auto before = std::make_unique<WorkingImage>(*picture.image);
  adjustImage(*picture.image, Adjustments{});
  EXPECT_TRUE(picture.image->samples == before->samples);
  EXPECT_TRUE(isNeutral(Adjustments{}));
  // Not neutral: the missing samples are still -16, and so is nothing else.
  Adjustments bright;
  bright.brightness = 40;
  bright.gammaHundredths = 150;
  adjustImage(*picture.image, bright);
  int missing = 0;
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 9; ++x) {
      for (int c = 0; c < 3; ++c) {
        const Sample was = before->pixel(x, y)[c];
        const Sample now = picture.image->pixel(x, y)[c];
        EXPECT_EQ(now < 0, was < 0);
        missing += now < 0 ? 1 : 0;
        EXPECT_EQ(now % 16, 0);
      }
    }
  }
  EXPECT_EQ(missing, 7);
}

// One pixel's 8-bit values after the adjustments.
Rgb adjusted(Rgb in, const Adjustments& adjustments) {
  auto image = blankImage(1, 1);
  image->pixel(0, 0)[0] = static_cast<Sample>(in.r * 16);
  image->pixel(0, 0)[1] = static_cast<Sample>(in.g * 16);
  image->pixel(0, 0)[2] = static_cast<Sample>(in.b * 16);
  adjustImage(*image, adjustments);
  EXPECT_EQ(image->pixel(1, 0)[0], 0) << "outside the picture";
  return Rgb{static_cast<std::uint8_t>(image->pixel(0, 0)[0] / 16), static_cast<std::uint8_t>(image->pixel(0, 0)[1] / 16),
             static_cast<std::uint8_t>(image->pixel(0, 0)[2] / 16)};
}

TEST(Adjustments, WorkedValues) {
  const auto expectRgb = [](Rgb got, Rgb want) {
    EXPECT_EQ(got.r, want.r);
    EXPECT_EQ(got.g, want.g);
    EXPECT_EQ(got.b, want.b);
  };
  Adjustments a;
  // Brightness 10: 255 x 10 / 100 = 25.5 rounds to 26; -10 to -26; the ends
  // are limited.
  a.brightness = 10;
  expectRgb(adjusted({100, 0, 250}, a), {126, 26, 255});
  a.brightness = -10;
  expectRgb(adjusted({100, 0, 250}, a), {74, 0, 224});
  // Contrast 50: 128 + (v - 128) x 1.5: 200 gives 236, 10 gives -49 (0),
  // 129 gives 129.5, rounded away from zero, 130.
  a = Adjustments{};
  a.contrast = 50;
  expectRgb(adjusted({200, 10, 129}, a), {236, 0, 130});
  a.contrast = -100;
  expectRgb(adjusted({200, 10, 129}, a), {128, 128, 128});
  // Saturation: (200, 100, 50) has grey level (77 x 200 + 150 x 100 +
  // 29 x 50 + 128) / 256 = 124; -100 gives it, +50 moves each channel half
  // as far again from it: 124 + 114, 124 - 36, 124 - 111.
  a = Adjustments{};
  a.saturation = -100;
  expectRgb(adjusted({200, 100, 50}, a), {124, 124, 124});
  a.saturation = 50;
  expectRgb(adjusted({200, 100, 50}, a), {238, 88, 13});
  // Gamma 2: 255 (64 / 255)^0.5 = 127.75; gamma 0.5: 255 (128 / 255)^2 =
  // 64.25; the ends stay.
  a = Adjustments{};
  a.gammaHundredths = 200;
  expectRgb(adjusted({64, 0, 255}, a), {128, 0, 255});
  a.gammaHundredths = 50;
  expectRgb(adjusted({128, 0, 255}, a), {64, 0, 255});
  // In order: brightness 20 (+51), contrast 100 (x 2 around 128), then
  // saturation -100 on the result: 100 -> 151 -> 174; 0 -> 51 -> 0;
  // 200 -> 251 -> 255; grey (77 x 174 + 0 + 29 x 255 + 128) / 256 = 81.
  a = Adjustments{};
  a.brightness = 20;
  a.contrast = 100;
  a.saturation = -100;
  expectRgb(adjusted({100, 0, 200}, a), {81, 81, 81});
}

TEST(Adjustments, GammaNeverComesCloseToAHalf) {
  // So any pow() a few units in the last place from the exact value rounds
  // the same way: the web page's and the program's tables agree.
  for (int g = kLowestGamma; g <= kHighestGamma; ++g) {
    std::uint8_t table[256];
    gammaTable(g, table);
    for (int v = 0; v < 256; ++v) {
      const long double exact = 255.0L * std::pow(static_cast<long double>(v) / 255.0L, 100.0L / g);
      const long double fraction = exact - std::floor(exact);
      if (v != 0 && v != 255 && g != kNeutralGamma) {
        ASSERT_GT(std::fabs(fraction - 0.5L), 1e-6L) << g << " " << v;
      }
      ASSERT_EQ(table[v], static_cast<int>(std::floor(exact + 0.5L))) << g << " " << v;
    }
  }
}

}  // namespace
}  // namespace kovrel
