#include <png.h>

#include "image/png.h"
#include "image/tga.h"

namespace kovrel {

Status encodePreviewPng(const std::uint8_t* previewTga, int pictureWidth, int pictureHeight,
                        std::vector<std::uint8_t>& png) {
  png.clear();
  const auto width = static_cast<std::size_t>(pictureWidth);
  const auto height = static_cast<std::size_t>(pictureHeight);
  // The preview TGA holds rows bottom-up, pixels blue, green, red; PNG rows
  // go top-down, red, green, blue.
  const std::uint8_t* const tgaPixels = previewTga + kTgaHeaderSize;
  std::vector<std::uint8_t> rgb(width * height * kChannels);
  for (std::size_t y = 0; y < height; ++y) {
    const std::uint8_t* from = tgaPixels + (height - 1 - y) * width * kChannels;
    std::uint8_t* to = &rgb[y * width * kChannels];
    for (std::size_t x = 0; x < width; ++x, from += kChannels, to += kChannels) {
      to[0] = from[2];
      to[1] = from[1];
      to[2] = from[0];
    }
  }

  // libpng's simplified writer: 8-bit RGB rows, top-down, into memory. It
  // marks the picture as sRGB, which the preview's values are.
  png_image header{};
  header.version = PNG_IMAGE_VERSION;
  header.width = static_cast<png_uint_32>(width);
  header.height = static_cast<png_uint_32>(height);
  header.format = PNG_FORMAT_RGB;
  const auto stride = static_cast<png_int_32>(width * kChannels);
  png_alloc_size_t size = 0;
  if (png_image_write_to_memory(&header, nullptr, &size, 0, rgb.data(), stride, nullptr) == 0) {
    png_image_free(&header);
    return Status::kCannotCreate;
  }
  png.resize(size);
  if (png_image_write_to_memory(&header, png.data(), &size, 0, rgb.data(), stride, nullptr) == 0) {
    png_image_free(&header);
    png.clear();
    return Status::kCannotCreate;
  }
  png.resize(size);
  return Status::kOk;
}

}  // namespace kovrel
