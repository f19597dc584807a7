// The preview as a PNG file, encoded by libspng.
#pragma once

#include <cstdint>
#include <vector>

#include "base/status.h"

namespace kovrel {

// The PNG file of a preview TGA file's bytes (previewTga, a width x height
// picture, header included) into png: 8-bit RGB, the same pixels. Returns
// kOk, or kCannotCreate when libpng fails (png is then empty).
Status encodePreviewPng(const std::uint8_t* previewTga, int width, int height, std::vector<std::uint8_t>& png);

}  // namespace kovrel
