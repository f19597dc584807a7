#include "image/tga.h"
#include "os/paths.h"

namespace kovrel {

std::string previewPath(const std::string& inputPath) {
  constexpr std::size_t kReplaced = 4;
  // Only characters of the file name itself are removed: sub/cat gives
  // sub/cat_tms.tga, never sub_tms.tga in the folder above.
  const std::size_t nameStart = fileNameStart(inputPath);
  const std::string stem = inputPath.size() - nameStart < kReplaced
                               ? inputPath
                               : inputPath.substr(0, inputPath.size() - kReplaced);
  return stem + "_tms.tga";
}

std::size_t previewTgaSize(const WorkingImage& image) {
  return kTgaHeaderSize +
         static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) * kChannels;
}

void encodePreviewTga(const WorkingImage& image, const TgaHeader& header, std::uint8_t* out) {
  for (std::size_t i = 0; i < kTgaHeaderSize; ++i) {
    out[i] = header.bytes[i];
  }
  // No ID field or colour map is written, so the header must not announce one.
  out[0] = 0;
  out[1] = 0;
  for (std::size_t i = 3; i <= 7; ++i) {
    out[i] = 0;
  }
  // Each row's bytes in the image's channel order first (one simple loop
  // over the samples, which the compiler vectorises), then each pixel's
  // three reversed.
  std::uint8_t* to = out + kTgaHeaderSize;
  const int rowSamples = image.width * kChannels;
  std::uint8_t row[kMaxSide * kChannels];
  for (int y = image.height - 1; y >= 0; --y) {
    const Sample* in = image.pixel(0, y);
    for (int i = 0; i < rowSamples; ++i) {
      const int value = in[i] / kSampleScale;
      row[i] = static_cast<std::uint8_t>(value < 0 ? 0 : (value > 255 ? 255 : value));
    }
    for (int i = 0; i < rowSamples; i += kChannels, to += kChannels) {
      to[0] = row[i + 2];
      to[1] = row[i + 1];
      to[2] = row[i];
    }
  }
}

}  // namespace kovrel
