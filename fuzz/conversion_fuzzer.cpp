// Fuzz target: the whole conversion of a small picture taken from the input.
//
// Input layout:
//   bytes 0 ... 17   a TGA header; image type, depth, descriptor, ID length
//                    and colour-map type are forced to an accepted picture,
//                    and each side is folded into 1 ... 64. The origin
//                    bytes, which the reader keeps for the preview only,
//                    choose the settings: byte 8 the palette preset, byte 9
//                    the dither strength (0 gives full), bytes 10 and 11 the
//                    adjustments (0 gives none)
//   then             up to width x height x 3 pixel bytes; fewer leave the
//                    picture truncated (missing bytes read as -16)
//   then             records of 5 bytes (x, y, channel, high, low) that set
//                    one stored sample of the padded area or its margin to
//                    any value the quantiser can meet, -1785 ... 5865 (with
//                    high >= 0xE0 the value is taken from a list of edges)
// The picture is converted through the core's entry point.
// Checked: TileLine count, every padded pixel an exact palette colour, the
// table sizes and headers, each table byte following from its line's
// colours, and the preview holding exactly those colours.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "colour/colour.h"
#include "core/conversion.h"
#include "fuzz/fuzz_check.h"
#include "image/tga.h"
#include "tiles/tiles.h"

namespace {

using namespace kovrel;

constexpr int kMaxFuzzSide = 64;
constexpr std::size_t kRecordBytes = 5;
constexpr int kLowestStored = -1785;
constexpr int kHighestStored = 5865;
constexpr Sample kEdgeSamples[] = {-1785, -1784, -17, -16, -15, -1,   0,    1,   15,
                                   16,    4064,  4079, 4080, 4081, 4095, 4096, 5864, 5865};

int foldSide(int raw) { return (raw + kMaxFuzzSide - 1) % kMaxFuzzSide + 1; }

// -96 ... 84 in steps of 12 for a nibble, 0 for 0 and 8.
int adjustmentOf(int nibble) { return nibble == 0 ? 0 : (nibble - 8) * 12; }

Settings settingsOf(const std::uint8_t* header) {
  static const Palette* const kPresets[] = {&kMamePalette, &kDatasheetPalette, &kV9938Palette};
  Settings settings;
  settings.palette = *kPresets[header[8] % 3];
  settings.ditherPercent = 100 - header[9] % 101;
  settings.adjustments.brightness = adjustmentOf(header[10] & 0x0F);
  settings.adjustments.contrast = adjustmentOf(header[10] >> 4);
  settings.adjustments.saturation = adjustmentOf(header[11] & 0x0F);
  settings.adjustments.gammaHundredths = (header[11] >> 4) == 0 ? 100 : 25 * (header[11] >> 4);
  return settings;
}

// The palette index 1 ... 15 the pixel holds exactly, or 0.
int paletteIndexOf(const PaletteSampleTable& palette, const Sample* p) {
  for (int i = kFirstUsableColour; i <= kLastUsableColour; ++i) {
    const Sample* q = palette.colour[i];
    if (p[0] == q[0] && p[1] == q[1] && p[2] == q[2]) {
      return i;
    }
  }
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kTgaHeaderSize) {
    return 0;
  }
  const int width = foldSide(data[12] + 256 * data[13]);
  const int height = foldSide(data[14] + 256 * data[15]);
  const std::size_t pixelBytes = 3 * static_cast<std::size_t>(width * height);
  std::vector<std::uint8_t> tga(data, data + std::min(size, kTgaHeaderSize + pixelBytes));
  tga[0] = 0;
  tga[1] = 0;
  tga[2] = 2;
  tga[12] = static_cast<std::uint8_t>(width);
  tga[13] = 0;
  tga[14] = static_cast<std::uint8_t>(height);
  tga[15] = 0;
  tga[16] = 24;
  tga[17] = 0;

  const Settings settings = settingsOf(tga.data());
  const PaletteSampleTable palette = paletteSamples(settings.palette);
  Picture picture;
  KOVREL_FUZZ_CHECK(decodePicture(tga.data(), tga.size(), picture) == Status::kOk);
  WorkingImage* image = picture.image.get();
  KOVREL_FUZZ_CHECK(image->width == width && image->height == height);
  const int columns = image->tileColumns();
  const int rows = image->tileRows();
  const int paddedWidth = 8 * columns;
  const int paddedHeight = 8 * rows;

  for (std::size_t at = kTgaHeaderSize + pixelBytes; at + kRecordBytes <= size; at += kRecordBytes) {
    const int x = -1 + data[at] % (paddedWidth + 2);
    const int y = -1 + data[at + 1] % (paddedHeight + 2);
    const int c = data[at + 2] % kChannels;
    const int high = data[at + 3];
    const int low = data[at + 4];
    constexpr int kEdgeCount = static_cast<int>(sizeof kEdgeSamples / sizeof kEdgeSamples[0]);
    image->pixel(x, y)[c] = high >= 0xE0 ? kEdgeSamples[low % kEdgeCount]
                                         : static_cast<Sample>(kLowestStored + (256 * high + low) % (kHighestStored - kLowestStored + 1));
  }

  const Conversion conversion = convertPicture(std::move(picture), settings, nullptr);
  image = conversion.image.get();
  KOVREL_FUZZ_CHECK(conversion.lineCount == static_cast<std::uint32_t>(columns * rows * 8));

  int index[kMaxFuzzSide][kMaxFuzzSide];
  for (int y = 0; y < paddedHeight; ++y) {
    for (int x = 0; x < paddedWidth; ++x) {
      index[y][x] = paletteIndexOf(palette, image->pixel(x, y));
      KOVREL_FUZZ_CHECK(index[y][x] != 0);
    }
  }

  // Each table byte follows from the set of colours its line holds: two
  // colours a < b give 16 b + a with bits set where b is; one colour c gives
  // 16 c + 1 and 0xFF, black alone 0x21 and 0x00.
  const std::size_t lines = static_cast<std::size_t>(columns * rows * 8);
  KOVREL_FUZZ_CHECK(conversion.tableSize == kTableHeaderSize + lines);
  const std::uint8_t* const pattern = conversion.pattern;
  const std::uint8_t* const colour = conversion.colour;
  const std::uint8_t patternHeader[] = {0xFE, 0x00, 0x00, 0xFF, 0x17, 0x00, 0x00};
  const std::uint8_t colourHeader[] = {0xFE, 0x00, 0x20, 0xFF, 0x37, 0x00, 0x00};
  for (std::size_t i = 0; i < kTableHeaderSize; ++i) {
    KOVREL_FUZZ_CHECK(pattern[i] == patternHeader[i]);
    KOVREL_FUZZ_CHECK(colour[i] == colourHeader[i]);
  }
  std::size_t at = kTableHeaderSize;
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < columns; ++c) {
      for (int l = 0; l < 8; ++l, ++at) {
        const int* line = &index[8 * r + l][8 * c];
        int low = 16;
        int high = 0;
        for (int k = 0; k < 8; ++k) {
          low = std::min(low, line[k]);
          high = std::max(high, line[k]);
        }
        for (int k = 0; k < 8; ++k) {
          KOVREL_FUZZ_CHECK(line[k] == low || line[k] == high);  // at most two colours
        }
        int colourByte = 16 * high + low;
        int patternByte = 0;
        for (int k = 0; k < 8; ++k) {
          patternByte = 2 * patternByte + (line[k] == high ? 1 : 0);
        }
        if (low == high) {
          colourByte = low == 1 ? 0x21 : 16 * low + 1;
          patternByte = low == 1 ? 0x00 : 0xFF;
        }
        KOVREL_FUZZ_CHECK(colour[at] == colourByte);
        KOVREL_FUZZ_CHECK(pattern[at] == patternByte);
      }
    }
  }

  const std::uint8_t* const preview = conversion.preview;
  KOVREL_FUZZ_CHECK(conversion.previewSize == kTgaHeaderSize + pixelBytes);
  for (std::size_t i = 0; i < kTgaHeaderSize; ++i) {
    KOVREL_FUZZ_CHECK(preview[i] == (i >= 3 && i <= 7 ? 0 : tga[i]));
  }
  std::size_t p = kTgaHeaderSize;
  for (int y = height - 1; y >= 0; --y) {
    for (int x = 0; x < width; ++x) {
      const std::uint8_t* rgb = settings.palette.colour[index[y][x]];
      KOVREL_FUZZ_CHECK(preview[p++] == rgb[2]);
      KOVREL_FUZZ_CHECK(preview[p++] == rgb[1]);
      KOVREL_FUZZ_CHECK(preview[p++] == rgb[0]);
    }
  }
  return 0;
}
