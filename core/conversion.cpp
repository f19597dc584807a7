#include "core/conversion.h"

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#if KOVREL_PICTURE_CODECS
#include "image/picture_formats.h"
#endif

#include "os/paths.h"
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
         settings.ditherPercent == kMaxDitherPercent && isNeutral(settings.adjustments) &&
         isDefault(settings.framing);
}

namespace {

// A TGA decoded into the working image, fitted when a fit is asked for and
// its size is not the target's.
Status fitTga(Picture& picture, const Framing& framing) {
  const WorkingImage& image = *picture.image;
  if (framing.fit == Fit::kNone || (image.width == framing.width && image.height == framing.height)) {
    return Status::kOk;
  }
  RgbaPixels pixels;
  pixelsOfImage(image, pixels);
  return framePixels(pixels, framing, *picture.image, picture.header);
}

#if KOVREL_PICTURE_CODECS
bool isPngOrJpeg(const std::uint8_t* data, std::size_t size) {
  return pictureFormatOf(data, size) != PictureFormat::kTga;
}

Status decodeCompressed(const std::uint8_t* data, std::size_t size, Picture& picture, const Framing& framing) {
  RgbaPixels pixels;
  const Status decoded = pictureFormatOf(data, size) == PictureFormat::kPng ? decodePng(data, size, pixels)
                                                                             : decodeJpeg(data, size, pixels);
  if (decoded != Status::kOk) {
    return decoded;
  }
  return framePixels(pixels, framing, *picture.image, picture.header);
}
#endif

}  // namespace

Outcome readPicture(const std::string& path, Picture& picture, const Framing& framing) {
  picture = newPicture();
  std::FILE* file = openForReading(path);
  if (file == nullptr) {
    return {Status::kCannotOpen, path};
  }
  // Read only what a valid TGA can use, so a huge or endless input (a
  // device, say) costs no more than the largest picture. Unused room in the
  // block costs nothing.
  std::uint8_t* const block = picture.memory.data();
  std::size_t size = 0;
  while (size < kMaxTgaBytes) {
    const std::size_t got = std::fread(block + size, 1, kMaxTgaBytes - size, file);
    size += got;
    if (got == 0) {
      break;  // end of file, or a read error (a folder): the rest is missing
    }
  }
#if KOVREL_PICTURE_CODECS
  if (isPngOrJpeg(block, size)) {
    // A photograph's file may be larger than the block: the rest follows,
    // up to kMaxPictureFileBytes.
    std::vector<std::uint8_t> whole;
    if (size == kMaxTgaBytes) {
      whole.assign(block, block + size);
      std::uint8_t buffer[1 << 16];
      std::size_t got = 0;
      while (whole.size() <= kMaxPictureFileBytes && (got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        whole.insert(whole.end(), buffer, buffer + got);
      }
    }
    std::fclose(file);
    if (whole.size() > kMaxPictureFileBytes) {
      return {Status::kPictureTooLargeToRead, path};
    }
    const std::uint8_t* const data = whole.empty() ? block : whole.data();
    return {decodeCompressed(data, whole.empty() ? size : whole.size(), picture, framing), path};
  }
#endif
  std::fclose(file);
  const Status decoded = decodeTga(block, size, *picture.image, picture.header);
  return {decoded == Status::kOk ? fitTga(picture, framing) : decoded, path};
}

Status decodePicture(const std::uint8_t* data, std::size_t size, Picture& picture, const Framing& framing) {
  picture.image = newWorkingImage();
#if KOVREL_PICTURE_CODECS
  if (isPngOrJpeg(data, size)) {
    return decodeCompressed(data, size, picture, framing);
  }
#endif
  const Status decoded = decodeTga(data, size, *picture.image, picture.header);
  return decoded == Status::kOk ? fitTga(picture, framing) : decoded;
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
