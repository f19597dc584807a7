#include "tiles/tiles.h"

namespace kovrel {
namespace {

constexpr std::uint8_t kBsaveId = 0xFE;
constexpr std::uint16_t kPatternTableStart = 0x0000;
constexpr std::uint16_t kColourTableStart = 0x2000;
constexpr std::uint16_t kFullScreenTableBytes = 32 * 24 * 8;  // 6144

void appendHeader(std::vector<std::uint8_t>& out, std::uint16_t start) {
  const auto end = static_cast<std::uint16_t>(start + kFullScreenTableBytes - 1);
  out.push_back(kBsaveId);
  out.push_back(static_cast<std::uint8_t>(start & 0xFF));
  out.push_back(static_cast<std::uint8_t>(start >> 8));
  out.push_back(static_cast<std::uint8_t>(end & 0xFF));
  out.push_back(static_cast<std::uint8_t>(end >> 8));
  out.push_back(0);  // run address
  out.push_back(0);
}

}  // namespace

TileTables buildTileTables(const WorkingImage& image) {
  const int columns = image.tileColumns();
  const int rows = image.tileRows();
  const std::size_t body = static_cast<std::size_t>(columns * rows * kTileSide);
  TileTables tables;
  tables.pattern.reserve(kTableHeaderSize + body);
  tables.colour.reserve(kTableHeaderSize + body);
  appendHeader(tables.pattern, kPatternTableStart);
  appendHeader(tables.colour, kColourTableStart);
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < columns; ++c) {
      for (int l = 0; l < kTileSide; ++l) {
        const TileLineBytes bytes = encodeTileLine(image, kTileLinePixels * c, kTileSide * r + l);
        tables.pattern.push_back(bytes.pattern);
        tables.colour.push_back(bytes.colour);
      }
    }
  }
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
