#include "image/fit.h"

#include <algorithm>
#include <cstdlib>
#include <new>

// The resampler, stb_image_resize; its code is compiled in stb_resize.cpp.
#include <stb_image_resize.h>

namespace kovrel {
namespace {

constexpr int kRgb = 3;

// Where the resampled picture goes in the target, and which part of the
// source it shows (s0 ... s1 across, t0 ... t1 down, as fractions).
struct Placement {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  double s0 = 0;
  double t0 = 0;
  double s1 = 1;
  double t1 = 1;
};

int limitSide(int side) { return std::min(std::max(side, 1), kMaxSide); }

// The placement for fitting a sourceWidth x sourceHeight picture into
// framing's target. Aspects are compared as displayed: a target pixel is
// pixelAspect as wide as it is tall.
Placement placementOf(int sourceWidth, int sourceHeight, const Framing& framing, int width, int height) {
  Placement place;
  place.width = width;
  place.height = height;
  if (framing.fit == Fit::kStretch) {
    return place;
  }
  const double pixelAspect = framing.aspect == PixelAspect::kTelevision
                                 ? static_cast<double>(kTvPixelWidth) / kTvPixelHeight
                                 : 1.0;
  const double sourceAspect = static_cast<double>(sourceWidth) / sourceHeight;
  const double targetAspect = width * pixelAspect / height;
  const bool wider = sourceAspect > targetAspect;
  if (framing.fit == Fit::kCrop) {
    // The centred part of the source with the target's displayed aspect.
    if (wider) {
      const double kept = targetAspect / sourceAspect;
      place.s0 = (1 - kept) / 2;
      place.s1 = place.s0 + kept;
    } else {
      const double kept = sourceAspect / targetAspect;
      place.t0 = (1 - kept) / 2;
      place.t1 = place.t0 + kept;
    }
    return place;
  }
  // Letterbox: the whole source, as large as fits, centred.
  if (wider) {
    place.height = std::min(height, std::max(1, static_cast<int>(width * pixelAspect / sourceAspect + 0.5)));
    place.y = (height - place.height) / 2;
  } else {
    place.width = std::min(width, std::max(1, static_cast<int>(height * sourceAspect / pixelAspect + 0.5)));
    place.x = (width - place.width) / 2;
  }
  return place;
}

// source composited over background: width x height x 3 bytes.
ByteBlock composite(const RgbaPixels& source, const std::array<std::uint8_t, 3>& background) {
  ByteBlock rgb(static_cast<std::size_t>(source.width) * static_cast<std::size_t>(source.height) * kRgb);
  std::uint8_t* out = rgb.data();
  const std::uint8_t* in = source.bytes.data();
  const std::size_t pixels = static_cast<std::size_t>(source.width) * static_cast<std::size_t>(source.height);
  for (std::size_t i = 0; i < pixels; ++i, in += kRgbaChannels, out += kRgb) {
    const unsigned alpha = in[3];
    for (int c = 0; c < kRgb; ++c) {
      // At most 255 x 255 + 127: any unsigned holds it.
      out[c] = static_cast<std::uint8_t>((alpha * in[c] + (255 - alpha) * background[static_cast<std::size_t>(c)] + 127) / 255);
    }
  }
  return rgb;
}

void place(const std::uint8_t* rgb, int width, int height, WorkingImage& image, TgaHeader& header) {
  image.samples.fill(0);
  image.width = width;
  image.height = height;
  for (int y = 0; y < height; ++y) {
    Sample* out = image.pixel(0, y);
    const std::uint8_t* in = rgb + static_cast<std::size_t>(y) * static_cast<std::size_t>(width) * kRgb;
    for (int i = 0; i < width * kRgb; ++i) {
      out[i] = static_cast<Sample>(in[i] * kSampleScale);
    }
  }
  header.bytes.fill(0);
  header.bytes[2] = 2;  // uncompressed true colour
  header.bytes[12] = static_cast<std::uint8_t>(width & 0xFF);
  header.bytes[13] = static_cast<std::uint8_t>(width >> 8);
  header.bytes[14] = static_cast<std::uint8_t>(height & 0xFF);
  header.bytes[15] = static_cast<std::uint8_t>(height >> 8);
  header.bytes[16] = 24;
}

}  // namespace

bool isDefault(const Framing& framing) {
  return framing.fit == Fit::kNone && framing.width == kScreenWidth && framing.height == kScreenHeight &&
         framing.aspect == PixelAspect::kSquare && framing.background == std::array<std::uint8_t, 3>{};
}

Status framePixels(const RgbaPixels& source, const Framing& framing, WorkingImage& image, TgaHeader& header) {
  const int width = limitSide(framing.width);
  const int height = limitSide(framing.height);
  const bool asItIs = framing.fit == Fit::kNone || (source.width == width && source.height == height);
  if (asItIs && (source.width > kMaxSide || source.height > kMaxSide)) {
    return Status::kPictureTooLarge;
  }
  const ByteBlock rgb = composite(source, framing.background);
  if (asItIs) {
    place(rgb.data(), source.width, source.height, image, header);
    return Status::kOk;
  }

  const Placement at = placementOf(source.width, source.height, framing, width, height);
  ByteBlock fitted(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * kRgb);
  for (std::size_t i = 0; i < fitted.size(); ++i) {
    fitted.data()[i] = framing.background[i % kRgb];
  }
  const int stride = width * kRgb;
  std::uint8_t* const corner = fitted.data() + static_cast<std::size_t>(at.y) * static_cast<std::size_t>(stride) +
                               static_cast<std::size_t>(at.x) * kRgb;
  const int done = stbir_resize_region(rgb.data(), source.width, source.height, source.width * kRgb, corner, at.width,
                                       at.height, stride, STBIR_TYPE_UINT8, kRgb, STBIR_ALPHA_CHANNEL_NONE, 0,
                                       STBIR_EDGE_CLAMP, STBIR_EDGE_CLAMP, STBIR_FILTER_DEFAULT, STBIR_FILTER_DEFAULT,
                                       STBIR_COLORSPACE_SRGB, nullptr, static_cast<float>(at.s0),
                                       static_cast<float>(at.t0), static_cast<float>(at.s1),
                                       static_cast<float>(at.t1));
  if (done == 0) {
    // stb fails only when its working memory cannot be had.
#if defined(__cpp_exceptions)
    throw std::bad_alloc();
#else
    std::abort();  // the web build has no exceptions: running out of memory ends it there
#endif
  }
  place(fitted.data(), width, height, image, header);
  return Status::kOk;
}

void pixelsOfImage(const WorkingImage& image, RgbaPixels& pixels) {
  resetPixels(pixels, image.width, image.height);
  for (int y = 0; y < image.height; ++y) {
    const Sample* in = image.pixel(0, y);
    std::uint8_t* out = pixels.pixel(0, y);
    for (int x = 0; x < image.width; ++x, in += kChannels, out += kRgbaChannels) {
      for (int c = 0; c < kChannels; ++c) {
        out[c] = static_cast<std::uint8_t>(clampSample(in[c]) / kSampleScale);
      }
      out[3] = 0xFF;
    }
  }
}

}  // namespace kovrel
