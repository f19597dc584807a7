#include "image/pixels.h"

namespace kovrel {

void resetPixels(RgbaPixels& pixels, int width, int height) {
  pixels.width = width;
  pixels.height = height;
  pixels.bytes = ByteBlock(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * kRgbaChannels);
}

}  // namespace kovrel
