#include "core/conversion.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "quantise/quantise.h"
#include "tiles/tiles.h"

namespace kovrel {
namespace {

// One block holds a run's outputs, then the pass's choices. The input file
// was read into the same block, so the outputs go on pages the system has
// handed over already rather than fresh ones, each faulted in on first use.
constexpr std::size_t kMostLines = std::size_t{kMaxSide / kTileLinePixels} * (kMaxSide / kTileSide) * kTileSide;
constexpr std::size_t kChoicesAt = std::size_t{1} << 20;
constexpr std::size_t kConversionBytes = kChoicesAt + kMostLines * sizeof(LineChoice);
static_assert(kChoicesAt >= 2 * (kTableHeaderSize + kMostLines) + kTgaHeaderSize +
                                std::size_t{kMaxSide} * kMaxSide * kChannels,
              "the outputs must fit before the choices");
static_assert(kConversionBytes <= kMaxTgaBytes, "a block read from a file must hold a conversion");
static_assert(kChoicesAt % alignof(LineChoice) == 0, "the choices must be aligned");

Picture newPicture() {
  Picture picture;
  picture.image = newWorkingImage();
  picture.memory = ByteBlock(kMaxTgaBytes);
  return picture;
}

}  // namespace

bool isDefault(const Settings& settings) {
  return sameUsableColours(settings.palette, kMamePalette) &&
         settings.ditherPercent == kMaxDitherPercent && isNeutral(settings.adjustments);
}

Outcome readPicture(const std::string& path, Picture& picture) {
  picture = newPicture();
  return readTgaImage(path, *picture.image, picture.header, picture.memory);
}

Status decodePicture(const std::uint8_t* data, std::size_t size, Picture& picture) {
  picture.image = newWorkingImage();
  return decodeTga(data, size, *picture.image, picture.header);
}

Conversion convertPicture(Picture picture, const Settings& settings, std::FILE* progress) {
  Conversion result;
  result.image = std::move(picture.image);
  result.memory = picture.memory.size() >= kConversionBytes ? std::move(picture.memory) : ByteBlock(kConversionBytes);
  WorkingImage& image = *result.image;

  adjustImage(image, settings.adjustments);
  const int percent = settings.ditherPercent < 0 ? 0 : std::min(settings.ditherPercent, kMaxDitherPercent);
  const Quantiser q = makeQuantiser(settings.palette, strengthOfPercent(percent));

  std::uint8_t* const block = result.memory.data();
  LineChoice* const choices = reinterpret_cast<LineChoice*>(block + kChoicesAt);
  std::uninitialized_default_construct_n(choices, static_cast<std::size_t>(image.tileColumns() * image.tileRows() *
                                                                           kTileSide));
  result.lineCount = quantiseImage(q, image, progress, choices);

  result.tableSize = tileTableSize(image);
  result.previewSize = previewTgaSize(image);
  std::uint8_t* const pattern = block;
  std::uint8_t* const colour = pattern + result.tableSize;
  std::uint8_t* const preview = colour + result.tableSize;
  buildTileTables(q, image, choices, pattern, colour);
  encodePreviewTga(image, picture.header, preview);
  result.pattern = pattern;
  result.colour = colour;
  result.preview = preview;
  return result;
}

}  // namespace kovrel
