// Fuzz target: the TGA reader on arbitrary bytes.
//
// Beyond not crashing, the decoder must keep its contract: a file is
// accepted exactly when its header says uncompressed 24-bit bottom-left with
// sides 1 ... 512; the header is kept byte for byte; every pixel sample is a
// byte x 16, or -16 where the file ended early, and the padded area beyond
// the picture is 0. The preview of an accepted picture gives back the
// file's own pixel bytes (0 for missing ones).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "image/tga.h"

namespace {

int byteOf(const std::uint8_t* data, std::size_t size, std::size_t offset) {
  return offset < size ? data[offset] : -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kovrel;
  static const auto image = std::make_unique<WorkingImage>();
  TgaHeader header;
  const Status status = decodeTga(data, size, *image, header);

  const auto b = [&](std::size_t i) { return byteOf(data, size, i); };
  const bool formatOk = b(2) == 2 && b(16) == 24 && b(17) == 0;
  const int width = b(12) + 256 * b(13);
  const int height = b(14) + 256 * b(15);
  const bool sizeOk = width >= 1 && width <= kMaxSide && height >= 1 && height <= kMaxSide;
  if (!formatOk) {
    KOVREL_FUZZ_CHECK(status == Status::kUnsupportedFormat);
    return 0;
  }
  if (!sizeOk) {
    KOVREL_FUZZ_CHECK(status == Status::kUnsupportedSize);
    return 0;
  }
  KOVREL_FUZZ_CHECK(status == Status::kOk);
  KOVREL_FUZZ_CHECK(image->width == width && image->height == height);
  for (std::size_t i = 0; i < kTgaHeaderSize; ++i) {
    KOVREL_FUZZ_CHECK(header.bytes[i] == data[i]);
  }

  // Where the pixels start: after the ID field and any colour map.
  std::size_t offset = kTgaHeaderSize + data[0];
  if (data[1] != 0) {
    offset += static_cast<std::size_t>(data[5] + 256 * data[6]) * ((data[7] + 7u) / 8u);
  }
  const int paddedWidth = 8 * image->tileColumns();
  const int paddedHeight = 8 * image->tileRows();
  for (int y = 0; y < paddedHeight; ++y) {
    for (int x = 0; x < paddedWidth; ++x) {
      const Sample* p = image->pixel(x, y);
      for (int c = 0; c < kChannels; ++c) {
        if (x < width && y < height) {
          // File row height - 1 - y, pixel x, bytes blue, green, red.
          const std::size_t at = offset + 3 * (static_cast<std::size_t>(height - 1 - y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) + static_cast<std::size_t>(2 - c);
          const int byte = b(at);
          KOVREL_FUZZ_CHECK(p[c] == (byte < 0 ? -16 : byte * 16));
        } else {
          KOVREL_FUZZ_CHECK(p[c] == 0);
        }
      }
    }
  }

  std::vector<std::uint8_t> preview(previewTgaSize(*image));
  encodePreviewTga(*image, header, preview.data());
  const std::size_t pixelBytes = 3 * static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  KOVREL_FUZZ_CHECK(preview.size() == kTgaHeaderSize + pixelBytes);
  for (std::size_t i = 0; i < pixelBytes; ++i) {
    const int byte = b(offset + i);
    KOVREL_FUZZ_CHECK(preview[kTgaHeaderSize + i] == (byte < 0 ? 0 : byte));
  }
  return 0;
}
