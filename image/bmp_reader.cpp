// BMP through stb_image (Debian libstb-dev), compiled in here with only its
// BMP decoder: 1, 4, 8, 16, 24 and 32 bits a pixel, uncompressed or with
// bit fields. RLE-compressed BMPs are refused as unreadable.
#include <cstdlib>
#include <cstring>
#include <new>

#include "image/picture_formats.h"

// Sides beyond the readers' limit are refused by stb_image itself as well.
#define STBI_MAX_DIMENSIONS 32768
#define STBI_ONLY_BMP
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wconversion"
#pragma GCC diagnostic ignored "-Wsign-conversion"
#pragma GCC diagnostic ignored "-Wshadow"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wdouble-promotion"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#endif
#include <stb_image.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

static_assert(STBI_MAX_DIMENSIONS == kovrel::kMaxDecodedSide, "stb_image's limit is the readers' limit");

namespace kovrel {
namespace {

// Frees what stb_image returned on every way out.
std::uint32_t littleEndian(const std::uint8_t* at, int bytes) {
  std::uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) {
    value = (value << 8) | at[i];
  }
  return value;
}

// False when an uncompressed BMP's pixel rows reach past the end of the
// file. stb_image reads missing bytes as zeros; a file cut short is damaged.
bool holdsItsRows(const std::uint8_t* data, std::size_t size) {
  if (size < 30) {
    return false;
  }
  const std::uint32_t headerSize = littleEndian(data + 14, 4);
  const bool core = headerSize == 12;
  if (!core && size < 34) {
    return false;
  }
  const std::uint64_t width = core ? littleEndian(data + 18, 2) : littleEndian(data + 18, 4);
  const auto height = static_cast<std::int32_t>(core ? littleEndian(data + 20, 2) : littleEndian(data + 22, 4));
  const std::uint64_t bits = core ? littleEndian(data + 24, 2) : littleEndian(data + 28, 2);
  const std::uint32_t compression = core ? 0 : littleEndian(data + 30, 4);
  if (compression != 0 && compression != 3) {
    // RLE, JPEG and PNG are refused as unreadable. stb_image would refuse
    // them too, but it takes the field as a signed number and reads a
    // value with the top bit set as uncompressed, with zeros past the end.
    return false;
  }
  const std::uint64_t rows = height < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(std::int64_t{height})
                                        : static_cast<std::uint64_t>(height);
  const std::uint64_t stride = (width * bits + 31) / 32 * 4;
  const std::uint64_t end = std::uint64_t{littleEndian(data + 10, 4)} + stride * rows;
  return width <= static_cast<std::uint64_t>(kMaxDecodedSide) && rows <= static_cast<std::uint64_t>(kMaxDecodedSide) &&
         end <= size;
}

struct StbPixels {
  stbi_uc* data = nullptr;
  ~StbPixels() { stbi_image_free(data); }
};

Status decodeWithStb(const std::uint8_t* data, std::size_t size, const SideLimit& limit, RgbaPixels& pixels,
                     Status damaged) {
  if (size > static_cast<std::size_t>(INT32_MAX)) {
    return Status::kPictureTooLargeToRead;
  }
  const int length = static_cast<int>(size);
  // The header's size first, so a picture beyond the limits costs nothing.
  int width = 0;
  int height = 0;
  int channels = 0;
  if (stbi_info_from_memory(data, length, &width, &height, &channels) == 0) {
    return damaged;
  }
  if (width <= 0 || height <= 0) {
    return damaged;
  }
  // Beyond the decoders' limits first; a file cut short is damaged before
  // it is too large for the screen.
  const Status sized = sizeStatus(static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height), limit);
  if (sized == Status::kPictureTooLargeToRead) {
    return sized;
  }
  if (!holdsItsRows(data, size)) {
    return damaged;
  }
  if (sized != Status::kOk) {
    return sized;
  }
  StbPixels decoded;
  int gotWidth = 0;
  int gotHeight = 0;
  decoded.data = stbi_load_from_memory(data, length, &gotWidth, &gotHeight, &channels, kRgbaChannels);
  if (decoded.data == nullptr) {
    if (std::strcmp(stbi_failure_reason(), "outofmem") == 0) {
      throw std::bad_alloc();
    }
    return damaged;
  }
  if (gotWidth != width || gotHeight != height) {
    return damaged;
  }
  resetPixels(pixels, width, height);
  std::memcpy(pixels.bytes.data(), decoded.data,
              static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * kRgbaChannels);
  return Status::kOk;
}

}  // namespace

Status decodeBmp(const std::uint8_t* data, std::size_t size, const SideLimit& limit, RgbaPixels& pixels) {
  return decodeWithStb(data, size, limit, pixels, Status::kDamagedBmp);
}

}  // namespace kovrel
