// The converter's one entry point: a decoded picture and the settings in,
// the tables, the preview and the line count out. Every front end (the
// program, the web page's module, the tests, the benchmarks and the fuzz
// targets) converts through convertPicture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "base/status.h"
#include "colour/colour.h"
#include "image/adjustments.h"
#include "image/fit.h"
#include "image/image_memory.h"
#include "image/tga.h"

namespace kovrel {

// How to convert. The defaults are the converter's plain behaviour.
struct Settings {
  Palette palette = kMamePalette;  // used everywhere: search, commit, encoder, preview
  int ditherPercent = 100;         // 0 ... 100; 0 carries no error
  Adjustments adjustments;         // made to the picture before conversion
  Framing framing;                 // how the picture is read: background, fit (readPicture)
};

constexpr int kMaxDitherPercent = 100;

// True when settings are the defaults, value for value.
bool isDefault(const Settings& settings);

// A decoded picture, ready to convert: the working image and the TGA header
// the preview takes over. memory is the block the file was read into, which
// the conversion then reuses for its outputs (a fresh block is taken when it
// holds nothing).
struct Picture {
  WorkingImagePtr image;
  TgaHeader header;
  ByteBlock memory;
  bool fromTga = true;  // false when the file was a PNG, JPEG, GIF, BMP or WebP
};

// Reads the file at path and decodes it into picture as decodePicture does.
// Reads at most kMaxTgaBytes of a TGA, and of a PNG or JPEG as much as its
// decoder needs (a larger file than kMaxPictureFileBytes is refused with
// kPictureFileTooLarge before it is decoded). Adds kCannotOpen; the
// outcome's path is path.
// Throws std::bad_alloc when no memory is left.
Outcome readPicture(const std::string& path, Picture& picture, const Framing& framing = Framing{});

// Decodes the file's bytes data[0 .. size) into picture, telling the format
// by the first bytes (image/picture_formats.h):
//   TGA: as decodeTga (kUnsupportedFormat for anything that is neither a
//     TGA nor one of the formats below). With a fit, a picture of another size than
//     the target's is fitted (framePixels; a missing byte counts as 0).
//   PNG, JPEG, GIF, BMP, WebP: decoded, then composited and fitted by
//     framePixels; the header is a synthesised 24-bit bottom-left one.
//     Without a fit, a PNG or JPEG side above kMaxSide gives
//     kPictureTooLarge before decoding. Statuses as their decoders and
//     framePixels.
// Builds without the picture libraries (the web page's) give
// kUnsupportedFormat for those. Throws std::bad_alloc when no memory is left.
Status decodePicture(const std::uint8_t* data, std::size_t size, Picture& picture,
                     const Framing& framing = Framing{});

// One conversion's results. The byte ranges lie in memory, which the
// Conversion owns.
struct Conversion {
  WorkingImagePtr image;  // the quantised picture: every padded pixel a palette colour
  ByteBlock memory;
  const std::uint8_t* pattern = nullptr;  // the CHR file's bytes, header included
  const std::uint8_t* colour = nullptr;   // the CLR file's bytes, header included
  std::size_t tableSize = 0;              // of each
  const std::uint8_t* preview = nullptr;  // the preview TGA file's bytes
  std::size_t previewSize = 0;
  std::uint32_t lineCount = 0;  // TileLines searched and committed (runCount)
};

// Converts picture (which it takes over) under settings: makes the
// adjustments, quantises the padded area, writing the progress figure to
// progress when that is not null, and encodes both tables and the preview.
// Setting values outside their ranges are limited to them. Throws
// std::bad_alloc when no memory is left.
Conversion convertPicture(Picture picture, const Settings& settings, std::FILE* progress);

}  // namespace kovrel
