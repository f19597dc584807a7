#include "tiles/tiles.h"

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

}  // namespace

std::size_t tileTableSize(const WorkingImage& image) {
  return kTableHeaderSize +
         static_cast<std::size_t>(image.tileColumns() * image.tileRows() * kTileSide);
}

void buildTileTables(const WorkingImage& image, std::uint8_t* pattern, std::uint8_t* colour) {
  const int columns = image.tileColumns();
  const int rows = image.tileRows();
  writeHeader(pattern, kPatternTableStart);
  writeHeader(colour, kColourTableStart);
  std::size_t at = kTableHeaderSize;
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < columns; ++c) {
      for (int l = 0; l < kTileSide; ++l, ++at) {
        const TileLineBytes bytes = encodeTileLine(image, kTileLinePixels * c, kTileSide * r + l);
        pattern[at] = bytes.pattern;
        colour[at] = bytes.colour;
      }
    }
  }
}

TileTables buildTileTables(const WorkingImage& image) {
  TileTables tables;
  tables.pattern.resize(tileTableSize(image));
  tables.colour.resize(tileTableSize(image));
  buildTileTables(image, tables.pattern.data(), tables.colour.data());
  return tables;
}

std::string tableFilePath(const std::string& inputPath, const std::string& extension) {
  constexpr std::size_t kReplaced = 3;
  if (inputPath.size() < kReplaced) {
    return inputPath + "." + extension;
  }
  return inputPath.substr(0, inputPath.size() - kReplaced) + extension;
}

}  // namespace kovrel
