#include <algorithm>
#include <cstring>
#include <map>

#include "image/fit.h"
#include "screen/screen.h"
#include "tiles/tiles.h"

namespace kovrel {
namespace {

static_assert(kScreenWidth == kScreenColumns * kTileSide && kScreenHeight == kScreenRows * kTileSide,
              "the screen the fit scales to is the screen the tables describe");

constexpr std::size_t kNameTableAt = 0x1800;
constexpr std::size_t kSpriteAttributesAt = 0x1B00;
constexpr std::size_t kColourTableAt = 0x2000;
constexpr std::size_t kSc2Body = 0x3800;
constexpr std::uint8_t kNoMoreSprites = 0xD0;
static_assert(kSc2FileSize == kTableHeaderSize + kSc2Body, "SC2 file: header and video memory 0x0000-0x37FF");

}  // namespace

std::uint8_t backgroundColourByte(const Palette& palette, const std::array<std::uint8_t, 3>& rgb) {
  const PaletteSampleTable samples = paletteSamples(palette);
  Sample wanted[kChannels];
  for (int c = 0; c < kChannels; ++c) {
    wanted[c] = static_cast<Sample>(rgb[static_cast<std::size_t>(c)] * kSampleScale);
  }
  int nearest = kFirstUsableColour;
  std::int32_t best = colourDistance(wanted, samples.colour[kFirstUsableColour]);
  for (int index = kFirstUsableColour + 1; index <= kLastUsableColour; ++index) {
    const std::int32_t distance = colourDistance(wanted, samples.colour[index]);
    if (distance < best) {
      best = distance;
      nearest = index;
    }
  }
  return static_cast<std::uint8_t>(nearest << 4 | nearest);
}

Status checkScreenFits(int width, int height) {
  return width > kScreenWidth || height > kScreenHeight ? Status::kLargerThanScreen : Status::kOk;
}

Status layOutScreen(const Conversion& conversion, const ScreenSettings& settings, ScreenTables& tables) {
  const WorkingImage& image = *conversion.image;
  if (checkScreenFits(image.width, image.height) != Status::kOk) {
    return Status::kLargerThanScreen;
  }
  const int columns = image.tileColumns();
  const int rows = image.tileRows();
  const bool centre = settings.placement == Placement::kCentre;
  const int left = centre ? (kScreenColumns - columns) / 2 : 0;
  const int top = centre ? (kScreenRows - rows) / 2 : 0;

  tables.pattern.assign(kScreenTableBytes, 0);
  tables.colour.assign(kScreenTableBytes, settings.backgroundColour);
  tables.name.resize(kNameTableBytes);
  tables.uniqueTiles.fill(kTilesPerThird);
  // Plainly laid out, screen tile i (row by row) is pattern i % 256 of its
  // third, at byte 8 x i of either table.
  for (std::size_t i = 0; i < kNameTableBytes; ++i) {
    tables.name[i] = static_cast<std::uint8_t>(i % kTilesPerThird);
  }
  // The conversion's bodies hold the picture's tiles in its own row order.
  const std::uint8_t* const pattern = conversion.pattern + kTableHeaderSize;
  const std::uint8_t* const colour = conversion.colour + kTableHeaderSize;
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < columns; ++c) {
      const std::size_t from = static_cast<std::size_t>(r * columns + c) * kTileBytes;
      const std::size_t to = static_cast<std::size_t>((top + r) * kScreenColumns + left + c) * kTileBytes;
      std::memcpy(&tables.pattern[to], pattern + from, kTileBytes);
      std::memcpy(&tables.colour[to], colour + from, kTileBytes);
    }
  }
  return Status::kOk;
}

ScreenTables dedupeTiles(const ScreenTables& plain) {
  ScreenTables out;
  out.name.resize(kNameTableBytes);
  using TileKey = std::array<std::uint8_t, 2 * kTileBytes>;
  for (int third = 0; third < kThirds; ++third) {
    std::map<TileKey, int> numbers;
    for (int slot = 0; slot < kTilesPerThird; ++slot) {
      const std::size_t tile = static_cast<std::size_t>(third * kTilesPerThird + slot);
      const std::uint8_t* const pattern = &plain.pattern[tile * kTileBytes];
      const std::uint8_t* const colour = &plain.colour[tile * kTileBytes];
      TileKey key;
      std::copy(pattern, pattern + kTileBytes, key.begin());
      std::copy(colour, colour + kTileBytes, key.begin() + kTileBytes);
      const auto found = numbers.emplace(key, static_cast<int>(numbers.size()));
      if (found.second) {
        out.pattern.insert(out.pattern.end(), pattern, pattern + kTileBytes);
        out.colour.insert(out.colour.end(), colour, colour + kTileBytes);
      }
      out.name[tile] = static_cast<std::uint8_t>(found.first->second);
    }
    out.uniqueTiles[static_cast<std::size_t>(third)] = static_cast<int>(numbers.size());
  }
  return out;
}

std::vector<std::uint8_t> sc2File(const ScreenTables& plain) {
  std::vector<std::uint8_t> file(kSc2FileSize, 0);
  const std::uint8_t header[kTableHeaderSize] = {0xFE, 0x00, 0x00, 0xFF, 0x37, 0x00, 0x00};
  std::copy(header, header + kTableHeaderSize, file.begin());
  std::uint8_t* const memory = file.data() + kTableHeaderSize;
  std::copy(plain.pattern.begin(), plain.pattern.end(), memory);
  std::copy(plain.name.begin(), plain.name.end(), memory + kNameTableAt);
  memory[kSpriteAttributesAt] = kNoMoreSprites;
  std::copy(plain.colour.begin(), plain.colour.end(), memory + kColourTableAt);
  return file;
}

}  // namespace kovrel
