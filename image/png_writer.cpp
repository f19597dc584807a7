#include <spng.h>

#include <cstdlib>
#include <memory>

#include "image/png.h"
#include "image/tga.h"

namespace kovrel {
namespace {

struct ContextRelease {
  void operator()(spng_ctx* context) const { spng_ctx_free(context); }
};

}  // namespace

Status encodePreviewPng(const Conversion& conversion, std::vector<std::uint8_t>& png) {
  png.clear();
  const WorkingImage& image = *conversion.image;
  const auto width = static_cast<std::size_t>(image.width);
  const auto height = static_cast<std::size_t>(image.height);
  // The preview TGA holds rows bottom-up, pixels blue, green, red; PNG rows
  // go top-down, red, green, blue.
  const std::uint8_t* const tgaPixels = conversion.preview + kTgaHeaderSize;
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

  const std::unique_ptr<spng_ctx, ContextRelease> context(spng_ctx_new(SPNG_CTX_ENCODER));
  if (!context) {
    return Status::kCannotCreate;
  }
  spng_ihdr header{};
  header.width = static_cast<std::uint32_t>(width);
  header.height = static_cast<std::uint32_t>(height);
  header.bit_depth = 8;
  header.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
  int error = spng_set_option(context.get(), SPNG_ENCODE_TO_BUFFER, 1);
  if (error == 0) {
    error = spng_set_ihdr(context.get(), &header);
  }
  if (error == 0) {
    error = spng_encode_image(context.get(), rgb.data(), rgb.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
  }
  std::size_t size = 0;
  void* const buffer = error == 0 ? spng_get_png_buffer(context.get(), &size, &error) : nullptr;
  if (buffer == nullptr || error != 0) {
    std::free(buffer);
    return Status::kCannotCreate;
  }
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  png.assign(bytes, bytes + size);
  std::free(buffer);
  return Status::kOk;
}

}  // namespace kovrel
