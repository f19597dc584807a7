// Small TGA pictures built in code for the tests, and their conversion.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "core/conversion.h"
#include "image/working_image.h"
#include "quantise/quantise.h"
#include "tiles/tiles.h"

namespace kovrel::test {

struct Rgb {
  std::uint8_t r, g, b;
};

// An uncompressed 24-bit bottom-left TGA of width x height whose pixel (x, y)
// (y = 0 the top row) is colourAt(x, y). idLength bytes of image ID follow
// the header.
inline std::vector<std::uint8_t> makeTga(int width, int height,
                                         const std::function<Rgb(int, int)>& colourAt,
                                         std::uint8_t idLength = 0) {
  std::vector<std::uint8_t> out(18, 0);
  out[0] = idLength;
  out[2] = 2;
  out[12] = static_cast<std::uint8_t>(width & 0xFF);
  out[13] = static_cast<std::uint8_t>(width >> 8);
  out[14] = static_cast<std::uint8_t>(height & 0xFF);
  out[15] = static_cast<std::uint8_t>(height >> 8);
  out[16] = 24;
  for (int i = 0; i < idLength; ++i) {
    out.push_back(static_cast<std::uint8_t>(0xA0 + i));
  }
  for (int y = height - 1; y >= 0; --y) {
    for (int x = 0; x < width; ++x) {
      const Rgb c = colourAt(x, y);
      out.push_back(c.b);
      out.push_back(c.g);
      out.push_back(c.r);
    }
  }
  return out;
}

inline std::vector<std::uint8_t> uniformTga(int width, int height, Rgb colour) {
  return makeTga(width, height, [colour](int, int) { return colour; });
}

// Sets every pixel of the TileLine (x0 ... x0 + 7, y) from 8-bit triples.
inline void setLine(WorkingImage& image, int x0, int y, const Rgb (&pixels)[kTileLinePixels]) {
  for (int k = 0; k < kTileLinePixels; ++k) {
    Sample* p = image.pixel(x0 + k, y);
    p[0] = static_cast<Sample>(pixels[k].r * kSampleScale);
    p[1] = static_cast<Sample>(pixels[k].g * kSampleScale);
    p[2] = static_cast<Sample>(pixels[k].b * kSampleScale);
  }
}

// A conversion's files as byte vectors, and its quantised picture.
struct ConvertedFiles {
  std::vector<std::uint8_t> pattern;  // CHR, header included
  std::vector<std::uint8_t> colour;   // CLR, header included
  std::vector<std::uint8_t> preview;  // the preview TGA
  std::uint32_t lineCount = 0;
  WorkingImagePtr image;
};

inline ConvertedFiles filesOf(Conversion conversion) {
  ConvertedFiles files;
  files.pattern.assign(conversion.pattern, conversion.pattern + conversion.tableSize);
  files.colour.assign(conversion.colour, conversion.colour + conversion.tableSize);
  files.preview.assign(conversion.preview, conversion.preview + conversion.previewSize);
  files.lineCount = conversion.lineCount;
  files.image = std::move(conversion.image);
  return files;
}

// Converts a TGA file's bytes, which must decode, through the core's entry
// point.
inline ConvertedFiles convertTga(const std::vector<std::uint8_t>& tga, const Settings& settings = {}) {
  Picture picture;
  const Status decoded = decodePicture(tga.data(), tga.size(), picture);
  EXPECT_EQ(decoded, Status::kOk);
  if (decoded != Status::kOk) {
    return {};
  }
  return filesOf(convertPicture(std::move(picture), settings, nullptr));
}

// Both tables of image as the encoder derives them from its pixels.
inline ConvertedFiles tablesFromPixels(const Quantiser& q, const WorkingImage& image) {
  ConvertedFiles files;
  files.pattern.resize(tileTableSize(image));
  files.colour.resize(tileTableSize(image));
  buildTileTables(q, image, nullptr, files.pattern.data(), files.colour.data());
  return files;
}

}  // namespace kovrel::test
