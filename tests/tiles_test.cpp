#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "default_quantiser.h"
#include "colour/colour.h"
#include "image/tga.h"
#include "quantise/quantise.h"
#include "test_pictures.h"
#include "tiles/tiles.h"

namespace kovrel {
namespace {

using test::Rgb;
using test::setLine;

Rgb paletteRgb(int index) {
  return {static_cast<std::uint8_t>(kMamePalette.colour[index][0]), static_cast<std::uint8_t>(kMamePalette.colour[index][1]),
          static_cast<std::uint8_t>(kMamePalette.colour[index][2])};
}

TEST(TileEncoder, BytesFollowTheColoursInTheLine) {
  auto image = std::make_unique<WorkingImage>();
  image->width = image->height = 8;
  const Rgb w = paletteRgb(15), k = paletteRgb(1), g = paletteRgb(2), c6 = paletteRgb(6);

  struct Case {
    Rgb line[8];
    std::uint8_t colour, pattern;
  };
  const Case cases[] = {
      {{w, w, w, w, w, w, w, w}, 0xF1, 0xFF},
      {{k, k, k, k, k, k, k, k}, 0x21, 0x00},
      {{g, g, g, g, g, g, g, g}, 0x21, 0xFF},
      {{c6, c6, c6, c6, w, w, w, w}, 0xF6, 0x0F},
      // Leftmost pixel in bit 7.
      {{w, k, k, k, k, k, k, k}, 0xF1, 0x80},
  };
  for (const Case& c : cases) {
    setLine(*image, 0, 0, c.line);
    const TileLineBytes bytes = encodeTileLine(defaultQuantiser(), *image, 0, 0);
    EXPECT_EQ(bytes.colour, c.colour);
    EXPECT_EQ(bytes.pattern, c.pattern);
  }
}

// A committed line holds the colours its mask selects; the bytes follow the
// rules for the colours present, whichever pair the search chose.
TEST(TileEncoder, BytesFromTheSearchChoice) {
  struct Case {
    std::uint8_t background, foreground, mask;
    std::uint8_t colour, pattern;
  };
  const Case cases[] = {
      {4, 9, 0x01, 0x94, 0x80},  // pixel 0 (bit 0) is the leftmost: bit 7
      {4, 9, 0xF0, 0x94, 0x0F},
      {1, 15, 0xFF, 0xF1, 0xFF},  // white alone
      {6, 15, 0xFF, 0xF1, 0xFF},  // white alone, whatever the unused colour
      {6, 15, 0x00, 0x61, 0xFF},  // colour 6 alone pairs with 1, all foreground
      {1, 2, 0x00, 0x21, 0x00},   // black alone
      {1, 7, 0x00, 0x21, 0x00},
      {2, 3, 0x00, 0x21, 0xFF},   // green (2) alone: pair (1, 2), foreground
  };
  for (const Case& c : cases) {
    LineChoice choice;
    choice.background = c.background;
    choice.foreground = c.foreground;
    choice.mask = c.mask;
    const TileLineBytes bytes = tileLineBytesOf(choice);
    EXPECT_EQ(bytes.colour, c.colour) << int{c.background} << " " << int{c.foreground} << " " << int{c.mask};
    EXPECT_EQ(bytes.pattern, c.pattern) << int{c.background} << " " << int{c.foreground} << " " << int{c.mask};
  }
}

TEST(TileTables, GreyTileGivesKnownBytes) {
  const test::ConvertedFiles tables = test::convertTga(test::uniformTga(8, 8, {128, 128, 128}));
  EXPECT_EQ(tables.pattern, (std::vector<std::uint8_t>{0xFE, 0x00, 0x00, 0xFF, 0x17, 0x00, 0x00, 0xAA,
                                                       0x5B, 0xAA, 0xB5, 0xAA, 0x57, 0xB4, 0xAB}));
  EXPECT_EQ(tables.colour, (std::vector<std::uint8_t>{0xFE, 0x00, 0x20, 0xFF, 0x37, 0x00, 0x00, 0xDC,
                                                      0xDC, 0xDC, 0xDC, 0xDC, 0xDC, 0xDC, 0xDC}));
}

TEST(TileTables, BodyOrderIsTileByTile) {
  // 16 x 16, each pixel an exact palette colour that names its tile line:
  // tile (c, r), line l is white in its first (l + 1) pixels, black after,
  // on a tile-specific background so the bytes tell the tiles apart.
  auto image = std::make_unique<WorkingImage>();
  image->width = image->height = 16;
  const int backgrounds[2][2] = {{2, 4}, {6, 8}};  // [row][column]
  for (int r = 0; r < 2; ++r) {
    for (int c = 0; c < 2; ++c) {
      for (int l = 0; l < 8; ++l) {
        Rgb line[8];
        for (int k = 0; k < 8; ++k) {
          line[k] = paletteRgb(k <= l ? 15 : backgrounds[r][c]);
        }
        setLine(*image, 8 * c, 8 * r + l, line);
      }
    }
  }
  const test::ConvertedFiles tables = test::tablesFromPixels(defaultQuantiser(), *image);
  ASSERT_EQ(tables.pattern.size(), 7u + 32u);
  ASSERT_EQ(tables.colour.size(), 7u + 32u);
  for (int tile = 0; tile < 4; ++tile) {
    const int r = tile / 2, c = tile % 2;
    for (int l = 0; l < 8; ++l) {
      const std::size_t at = 7u + static_cast<std::size_t>(tile * 8 + l);
      const int pattern = l == 7 ? 0xFF : (0xFF00 >> (l + 1)) & 0xFF;
      EXPECT_EQ(tables.pattern[at], pattern) << tile << " " << l;
      EXPECT_EQ(tables.colour[at], l == 7 ? 0xF1 : 0xF0 | backgrounds[r][c]) << tile << " " << l;
    }
  }
}

TEST(TileTables, FilePaths) {
  EXPECT_EQ(tableFilePath("pic.tga", "CHR"), "pic.CHR");
  EXPECT_EQ(tableFilePath("PIC.TGA", "CLR"), "PIC.CLR");
  EXPECT_EQ(tableFilePath("pic.jpeg", "CHR"), "pic.jCHR");
  EXPECT_EQ(tableFilePath("abc", "CHR"), "CHR");
  EXPECT_EQ(tableFilePath("ab", "CHR"), "ab.CHR");
  EXPECT_EQ(tableFilePath("a", "CLR"), "a.CLR");
  // Only the file name's own characters are replaced.
  EXPECT_EQ(tableFilePath("sub/ab", "CHR"), "sub/ab.CHR");
  EXPECT_EQ(tableFilePath("sub/cat", "CLR"), "sub/CLR");
  EXPECT_EQ(tableFilePath("a/b/", "CHR"), "a/b/.CHR");
  EXPECT_EQ(tableFilePath("../a", "CHR"), "../a.CHR");
  EXPECT_EQ(tableFilePath("/x.tga", "CHR"), "/x.CHR");
}

}  // namespace
}  // namespace kovrel
