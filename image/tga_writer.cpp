#include "image/tga.h"

namespace kovrel {

std::string previewPath(const std::string& inputPath) {
  constexpr std::size_t kReplaced = 4;
  const std::string stem =
      inputPath.size() < kReplaced ? inputPath : inputPath.substr(0, inputPath.size() - kReplaced);
  return stem + "_tms.tga";
}

std::vector<std::uint8_t> encodePreviewTga(const WorkingImage& image, const TgaHeader& header) {
  const std::size_t pixels = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
  std::vector<std::uint8_t> out;
  out.reserve(kTgaHeaderSize + pixels * kChannels);
  out.insert(out.end(), header.bytes.begin(), header.bytes.end());
  // No ID field or colour map is written, so the header must not announce one.
  out[0] = 0;
  out[1] = 0;
  for (std::size_t i = 3; i <= 7; ++i) {
    out[i] = 0;
  }
  // Written in place rather than appended byte by byte: this loop touches
  // every pixel of the picture.
  out.resize(kTgaHeaderSize + pixels * kChannels);
  std::uint8_t* to = out.data() + kTgaHeaderSize;
  for (int y = image.height - 1; y >= 0; --y) {
    const Sample* in = image.pixel(0, y);
    for (int x = 0; x < image.width; ++x, in += kChannels) {
      for (int c = kChannels - 1; c >= 0; --c) {
        const int value = in[c] / kSampleScale;
        *to++ = static_cast<std::uint8_t>(value < 0 ? 0 : (value > 255 ? 255 : value));
      }
    }
  }
  return out;
}

}  // namespace kovrel
