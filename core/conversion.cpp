#include "core/conversion.h"

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#if KOVREL_PICTURE_CODECS
#include <sys/stat.h>

#include "image/picture_formats.h"
#endif

#include "quantise/optimise.h"
#include "quantise/diffusion.h"
#include "quantise/ordered.h"
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

// The optimiser's progress written as the pass writes its own: the figure
// each time the percentage rises.
struct ProgressFile {
  std::FILE* file;
  int shown;
};
bool showProgress(void* context, int percent) {
  ProgressFile& progress = *static_cast<ProgressFile*>(context);
  if (percent > progress.shown && percent < 100) {
    progress.shown = percent;
    std::fprintf(progress.file, "\b\b\b%2i%%", percent);
    std::fflush(progress.file);
  }
  return true;
}

Picture newPicture() {
  Picture picture;
  picture.image = newWorkingImage();
  picture.memory = ByteBlock(kMaxTgaBytes);
  return picture;
}

}  // namespace

bool isDefault(const Settings& settings) {
  return sameUsableColours(settings.palette, kMamePalette) &&
         settings.ditherPercent == kMaxDitherPercent && settings.method == Method::kClassic &&
         settings.kernel == ErrorKernel::kFloyd && isNeutral(settings.adjustments) &&
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
bool isCodecFormat(const std::uint8_t* data, std::size_t size) {
  return pictureFormatOf(data, size) != PictureFormat::kTga;
}

// A picture that is not fitted must fit the working image as it is; its
// declared size says so before any pixel is decoded.
Status decodeCompressed(PictureStream& file, PictureFormat format, Picture& picture, const Framing& framing) {
  RgbaPixels pixels;
  SideLimit limit;
  if (framing.fit == Fit::kNone) {
    limit.largestSide = kMaxSide;
  }
  Status decoded = Status::kUnsupportedFormat;
  if (format == PictureFormat::kPng) {
    decoded = decodePng(file, limit, pixels);
  } else if (format == PictureFormat::kJpeg) {
    decoded = decodeJpeg(file, limit, pixels);
  } else if (format != PictureFormat::kTga) {
    // GIF, BMP and WebP are decoded from the whole file, which the stream
    // holds to kMaxPictureFileBytes.
    std::vector<std::uint8_t> whole;
    std::size_t got = 0;
    for (const std::uint8_t* bytes = file.next(std::size_t{1} << 16, got); got > 0;
         bytes = file.next(std::size_t{1} << 16, got)) {
      whole.insert(whole.end(), bytes, bytes + got);
    }
    if (file.tooLarge()) {
      return Status::kPictureFileTooLarge;
    }
    if (format == PictureFormat::kGif) {
      decoded = decodeGif(whole.data(), whole.size(), limit, pixels);
    } else if (format == PictureFormat::kBmp) {
      decoded = decodeBmp(whole.data(), whole.size(), limit, pixels);
    } else {
      decoded = decodeWebp(whole.data(), whole.size(), limit, pixels);
    }
  }
  if (decoded != Status::kOk) {
    return decoded;
  }
  return framePixels(pixels, framing, *picture.image, picture.header);
}

// True when the open file is a regular one of more than bytes bytes.
bool isLargerThan(std::FILE* file, std::size_t bytes) {
  struct stat about {};
  return fstat(fileno(file), &about) == 0 && S_ISREG(about.st_mode) &&
         static_cast<std::uint64_t>(about.st_size) > bytes;
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
  if (isCodecFormat(block, size)) {
    // A photograph's file may be larger than the block: the decoder reads
    // on from the file as far as it needs, up to kMaxPictureFileBytes.
    Status decoded = Status::kPictureFileTooLarge;
    if (!isLargerThan(file, kMaxPictureFileBytes)) {
      picture.fromTga = false;
      PictureStream stream(block, size, size == kMaxTgaBytes ? file : nullptr);
      decoded = decodeCompressed(stream, pictureFormatOf(block, size), picture, framing);
    }
    std::fclose(file);
    return {decoded, path};
  }
#endif
  std::fclose(file);
  const Status decoded = decodeTga(block, size, *picture.image, picture.header);
  return {decoded == Status::kOk ? fitTga(picture, framing) : decoded, path};
}

Status decodePicture(const std::uint8_t* data, std::size_t size, Picture& picture, const Framing& framing) {
  picture.image = newWorkingImage();
  picture.fromTga = true;
#if KOVREL_PICTURE_CODECS
  if (isCodecFormat(data, size)) {
    picture.fromTga = false;
    PictureStream stream(data, size);
    return decodeCompressed(stream, pictureFormatOf(data, size), picture, framing);
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
  if (settings.method == Method::kClassic && settings.kernel == ErrorKernel::kFloyd) {
    result.lineCount = quantiseImage(q, image, progress, choices);
  } else if (settings.method == Method::kOrdered) {
    const Diffuser d = makeDiffuser(settings.palette, Light::kLinear, ErrorKernel::kFloyd, 0);
    result.lineCount = quantiseOrdered(d, q.strength, image, progress, choices);
  } else if (settings.method == Method::kOptimise) {
    // linear's result, then the optimiser on it against the picture as it
    // was before quantising.
    const WorkingImagePtr before = newWorkingImage();
    *before = image;
    const Diffuser d = makeDiffuser(settings.palette, Light::kLinear, settings.kernel, q.strength);
    result.lineCount = quantiseDiffused(d, image, nullptr, choices);
    ProgressFile shown{progress, -1};
    optimiseLines(q, *before, image, choices, kOptimiseSweeps, progress != nullptr ? showProgress : nullptr, &shown);
  } else {
    const Light light = settings.method == Method::kLinear ? Light::kLinear : Light::kGamma;
    const Diffuser d = makeDiffuser(settings.palette, light, settings.kernel, q.strength);
    result.lineCount = quantiseDiffused(d, image, progress, choices);
  }

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
