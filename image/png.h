// The preview as a PNG file, encoded by libspng.
#pragma once

#include <cstdint>
#include <vector>

#include "core/conversion.h"
#include "core/status.h"

namespace kovrel {

// The PNG file of conversion's preview into png: 8-bit RGB, the picture's
// own size, the same pixels as the preview TGA. Returns kOk, or
// kCannotCreate when libspng fails (png is then empty).
Status encodePreviewPng(const Conversion& conversion, std::vector<std::uint8_t>& png);

}  // namespace kovrel
