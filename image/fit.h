// Fitting a decoded picture to the size the conversion works on.
//
// The picture is first composited over the background colour, on the
// stored 8-bit values: c' = (a c + (255 - a) bg + 127) / 255 (integer
// division). Then, when a fit is asked for and the picture is not already
// of the target size, it is resampled to the target with stb_image_resize
// (Mitchell filter when shrinking, Catmull-Rom when enlarging, edges
// clamped) in linear light: each value is decoded from sRGB, filtered, and
// encoded back, so that fine bright detail keeps its brightness.
//   crop       scales to fill the target and cuts the overflow, centred
//   letterbox  scales to fit inside and fills the rest with the background
//   stretch    scales each side to the target's, ignoring the aspect
// With the television aspect the target's pixels count as 8/7 as wide as
// they are tall (an NTSC screen; see the README), so that crop and
// letterbox keep round things round on the screen. A picture already of the
// target size is taken as it is, whatever the fit.
#pragma once

#include <array>
#include <cstdint>

#include "base/status.h"
#include "image/pixels.h"
#include "image/tga.h"
#include "image/working_image.h"

namespace kovrel {

enum class Fit { kNone, kCrop, kLetterbox, kStretch };
enum class PixelAspect { kSquare, kTelevision };

constexpr int kScreenWidth = 256;
constexpr int kScreenHeight = 192;
// A TMS9918 pixel on an NTSC television, width over height: 8/7.
constexpr int kTvPixelWidth = 8;
constexpr int kTvPixelHeight = 7;

struct Framing {
  Fit fit = Fit::kNone;
  int width = kScreenWidth;  // the target, 1 ... kMaxSide each; used only with a fit
  int height = kScreenHeight;
  PixelAspect aspect = PixelAspect::kSquare;
  std::array<std::uint8_t, 3> background{};  // red, green, blue: under transparency, around a letterbox
};

// True when framing is the default, value for value.
bool isDefault(const Framing& framing);

// Composites source (any size, at least 1 x 1) over the background and, with
// a fit, brings it to the target size; writes the result into image (reset
// first: padded area and margin 0) and header (a 24-bit bottom-left TGA
// header of the result's size, every other byte 0). Returns kOk, or
// kPictureTooLarge without a fit when a side is above kMaxSide. Target sides
// outside 1 ... kMaxSide are limited to it. Throws std::bad_alloc when no
// memory is left.
Status framePixels(const RgbaPixels& source, const Framing& framing, WorkingImage& image, TgaHeader& header);

// The pixels of image (width x height, samples limited to 0 ... 255 x 16),
// opaque, for fitting a picture that was decoded straight into a working
// image. Throws std::bad_alloc when no memory is left.
void pixelsOfImage(const WorkingImage& image, RgbaPixels& pixels);

}  // namespace kovrel
