#include "tiles/tiles.h"

#include "os/paths.h"

namespace kovrel {
namespace {

constexpr std::uint8_t kBsaveId = 0xFE;
constexpr std::uint16_t kPatternTableStart = 0x0000;
constexpr std::uint16_t kColourTableStart = 0x2000;
constexpr std::uint16_t kFullScreenTableBytes = 32 * 24 * 8;  // 6144

void writeHeader(std::uint8_t* out, std::uint16_t start) {
  const auto end = static_cast<std::uint16_t>(start + kFullScreenTableBytes - 1);
  out[0] = kBsaveId;
  out[1] = static_cast<std::uint8_t>(start & 0xFF);
  out[2] = static_cast<std::uint8_t>(start >> 8);
  out[3] = static_cast<std::uint8_t>(end & 0xFF);
  out[4] = static_cast<std::uint8_t>(end >> 8);
  out[5] = 0;  // run address
  out[6] = 0;
}

// Both headers, then one byte per TileLine in table order: tile rows top to
// bottom, tile columns left to right, the tile's lines top to bottom.
// lineBytes(tile column, pixel row) gives the TileLine's two bytes.
template <typename LineBytes>
void fillTables(const WorkingImage& image, std::uint8_t* pattern, std::uint8_t* colour,
                const LineBytes& lineBytes) {
  const int columns = image.tileColumns();
  const int rows = image.tileRows();
  writeHeader(pattern, kPatternTableStart);
  writeHeader(colour, kColourTableStart);
  std::size_t at = kTableHeaderSize;
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < columns; ++c) {
      for (int l = 0; l < kTileSide; ++l, ++at) {
        const TileLineBytes bytes = lineBytes(c, kTileSide * r + l);
        pattern[at] = bytes.pattern;
        colour[at] = bytes.colour;
      }
    }
  }
}

}  // namespace

std::size_t tileTableSize(const WorkingImage& image) {
  return kTableHeaderSize +
         static_cast<std::size_t>(image.tileColumns() * image.tileRows() * kTileSide);
}

TileLineBytes tileLineBytesOf(const LineChoice& choice) {
  TileLineBytes bytes;
  const unsigned mask = choice.mask;
  if (mask != 0 && mask != 0xFF) {
    // Both colours, background the lower: pattern bits where the pixel
    // shows the foreground, leftmost pixel (mask bit 0) in bit 7.
    unsigned reversed = 0;
    for (int k = 0; k < kTileLinePixels; ++k) {
      reversed |= ((mask >> k) & 1u) << (kTileLinePixels - 1 - k);
    }
    bytes.colour = static_cast<std::uint8_t>(16 * choice.foreground + choice.background);
    bytes.pattern = static_cast<std::uint8_t>(reversed);
    return bytes;
  }
  // One colour c: the first pair holding it is (1, c), all foreground;
  // black (1) alone pairs with 2, all background.
  const int c = mask == 0 ? choice.background : choice.foreground;
  const bool black = c == 1;
  bytes.colour = static_cast<std::uint8_t>(black ? 16 * 2 + 1 : 16 * c + 1);
  bytes.pattern = black ? 0x00 : 0xFF;
  return bytes;
}

void buildTileTables(const Quantiser& q, const WorkingImage& image, const LineChoice* choices,
                     std::uint8_t* pattern, std::uint8_t* colour) {
#if defined(KOVREL_PLAIN_SEARCH)
  // The plain build derives every byte from the pixels, as it always did.
  choices = nullptr;
#endif
  if (choices == nullptr || q.repeatedColour) {
    // With two usable colours alike, a line of one of them is read as the
    // first pair that holds either, which its choice need not be.
    fillTables(image, pattern, colour,
               [&q, &image](int column, int y) { return encodeTileLine(q, image, kTileLinePixels * column, y); });
    return;
  }
  const int columns = image.tileColumns();
  fillTables(image, pattern, colour, [choices, columns](int column, int y) {
    return tileLineBytesOf(choices[y * columns + column]);
  });
}

std::string tableFilePath(const std::string& inputPath, const std::string& extension) {
  constexpr std::size_t kReplaced = 3;
  // Only characters of the file name itself are replaced: sub/ab gives
  // sub/ab.CHR, never subCHR beside the folder.
  const std::size_t nameStart = fileNameStart(inputPath);
  if (inputPath.size() - nameStart < kReplaced) {
    return inputPath + "." + extension;
  }
  return inputPath.substr(0, inputPath.size() - kReplaced) + extension;
}

}  // namespace kovrel
