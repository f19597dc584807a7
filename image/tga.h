// Truevision TGA input and the preview output.
//
// Accepted input: uncompressed true-colour (image type 2), 24 bits per pixel,
// image descriptor 0 (no attribute bits, origin at the bottom left), width
// and height 1 ... kMaxSide. Layout, little-endian:
//   0      ID length             bytes of image ID field that follow the header
//   1      colour-map type       0 or 1; a map, when present, is skipped
//   2      image type            must be 2
//   3..4   colour-map first entry (not used)
//   5..6   colour-map length     entries to skip
//   7      colour-map entry size bits per entry; skip ceil(bits / 8) bytes each
//   8..11  x and y origin        not used
//   12..13 width                 1 ... 512
//   14..15 height                1 ... 512
//   16     pixel depth           must be 24
//   17     image descriptor      must be 0
//   18..   ID field, colour map, then the pixels: rows from the bottom up,
//          each row left to right, each pixel blue, green, red.
// Missing pixel bytes (a truncated file) are not an error: each one is stored
// as the Sample -16, which every later stage treats as below zero.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/status.h"
#include "image/working_image.h"

namespace kovrel {

constexpr std::size_t kTgaHeaderSize = 18;

struct TgaHeader {
  std::array<std::uint8_t, kTgaHeaderSize> bytes{};
};

// The most bytes a TGA accepted here can use: header, the longest ID field
// and colour map, and a full-size picture. A reader need not look further.
constexpr std::size_t kMaxTgaBytes =
    kTgaHeaderSize + 255 + 65535 * 32 + std::size_t{kMaxSide} * kMaxSide * 3;

// Validates the header in data[0 .. size) and loads the pixels into image
// (which is reset first: padded area and margin start at 0). Fills header.
// Returns kOk, kUnsupportedFormat or kUnsupportedSize; on failure the image
// content is unspecified.
Status decodeTga(const std::uint8_t* data, std::size_t size, WorkingImage& image,
                 TgaHeader& header);

// The preview path: inputPath less its last four characters, then "_tms.tga"
// (pic.tga gives pic_tms.tga). When the file name (after the last '/') is
// shorter than four characters, the path is kept whole and the suffix
// appended (sub/cat gives sub/cat_tms.tga).
std::string previewPath(const std::string& inputPath);

// The preview file's size for image: header and width x height pixels.
std::size_t previewTgaSize(const WorkingImage& image);

// Writes the preview file's bytes to out[0 .. previewTgaSize(image)): the
// input's header with the ID length, colour-map type and colour-map
// specification (bytes 0, 1, 3..7) set to 0, then the picture proper
// (width x height) bottom-up, each pixel blue, green, red, sample / 16
// limited to 0 ... 255.
void encodePreviewTga(const WorkingImage& image, const TgaHeader& header, std::uint8_t* out);

}  // namespace kovrel
