#include <algorithm>
#include <memory>

#include "image/tga.h"

namespace kovrel {
namespace {

constexpr std::uint8_t kTrueColourUncompressed = 2;
constexpr std::uint8_t kDepth24 = 24;
constexpr std::uint8_t kBottomLeftNoAlpha = 0;
constexpr Sample kMissingByte = -1 * kSampleScale;

// A byte of the file, or -1 past its end.
int byteAt(const std::uint8_t* data, std::size_t size, std::size_t offset) {
  return offset < size ? data[offset] : -1;
}

}  // namespace

Status decodeTga(const std::uint8_t* data, std::size_t size, WorkingImage& image,
                 TgaHeader& header) {
  int raw[kTgaHeaderSize];
  for (std::size_t i = 0; i < kTgaHeaderSize; ++i) {
    raw[i] = byteAt(data, size, i);
    header.bytes[i] = static_cast<std::uint8_t>(raw[i] < 0 ? 0 : raw[i]);
  }
  // A missing byte is -1 and fails at least one of these tests.
  if (raw[2] != kTrueColourUncompressed || raw[17] != kBottomLeftNoAlpha || raw[16] != kDepth24) {
    return Status::kUnsupportedFormat;
  }
  const int width = raw[12] + 256 * raw[13];
  const int height = raw[14] + 256 * raw[15];
  if (width == 0 || width > kMaxSide || height == 0 || height > kMaxSide) {
    return Status::kUnsupportedSize;
  }

  std::size_t offset = kTgaHeaderSize + static_cast<std::size_t>(raw[0]);
  if (raw[1] != 0) {
    const std::size_t mapEntries = static_cast<std::size_t>(raw[5] + 256 * raw[6]);
    const std::size_t entryBytes = (static_cast<std::size_t>(raw[7]) + 7) / 8;
    offset += mapEntries * entryBytes;
  }

  image.samples.fill(0);
  image.width = width;
  image.height = height;
  for (int row = 0; row < height; ++row) {
    const int y = height - 1 - row;
    Sample* out = image.pixel(0, y);
    for (int x = 0; x < width; ++x, out += kChannels, offset += kChannels) {
      if (offset + kChannels <= size) {
        out[2] = static_cast<Sample>(data[offset] * kSampleScale);
        out[1] = static_cast<Sample>(data[offset + 1] * kSampleScale);
        out[0] = static_cast<Sample>(data[offset + 2] * kSampleScale);
      } else {
        for (int c = 0; c < kChannels; ++c) {
          const int byte = byteAt(data, size, offset + static_cast<std::size_t>(c));
          out[kChannels - 1 - c] = byte < 0 ? kMissingByte : static_cast<Sample>(byte * kSampleScale);
        }
      }
    }
  }
  return Status::kOk;
}

}  // namespace kovrel
