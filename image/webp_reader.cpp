// WebP through libwebp (Debian libwebp-dev): lossy or lossless, with or
// without alpha, decoded to straight (not premultiplied) RGBA with libwebp's
// default upsampling, as dwebp and browsers decode it. An animated WebP
// gives its first frame on the animation's canvas.
#include <webp/decode.h>
#include <webp/demux.h>

#include <cstring>
#include <new>

#include "image/picture_formats.h"

namespace kovrel {
namespace {

struct AnimationGuard {
  WebPAnimDecoder* decoder = nullptr;
  ~AnimationGuard() { WebPAnimDecoderDelete(decoder); }
};

// sizeStatus for a canvas the library reports (a side of 0 or less is
// refused as unreadable too).
Status canvasStatus(int width, int height, const SideLimit& limit) {
  if (width <= 0 || height <= 0) {
    return Status::kPictureTooLargeToRead;
  }
  return sizeStatus(static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height), limit);
}

Status decodeFirstFrame(const std::uint8_t* data, std::size_t size, const SideLimit& limit, RgbaPixels& pixels) {
  const WebPData whole{data, size};
  // The canvas's size first, from the file's header, before anything is decoded.
  WebPDemuxer* demuxer = WebPDemux(&whole);
  if (demuxer == nullptr) {
    return Status::kDamagedWebp;
  }
  const auto width = static_cast<int>(WebPDemuxGetI(demuxer, WEBP_FF_CANVAS_WIDTH));
  const auto height = static_cast<int>(WebPDemuxGetI(demuxer, WEBP_FF_CANVAS_HEIGHT));
  WebPDemuxDelete(demuxer);
  const Status sized = canvasStatus(width, height, limit);
  if (sized != Status::kOk) {
    return sized;
  }
  WebPAnimDecoderOptions options;
  if (WebPAnimDecoderOptionsInit(&options) == 0) {
    return Status::kDamagedWebp;
  }
  options.color_mode = MODE_RGBA;
  options.use_threads = 0;
  AnimationGuard guard;
  guard.decoder = WebPAnimDecoderNew(&whole, &options);
  WebPAnimInfo info;
  if (guard.decoder == nullptr || WebPAnimDecoderGetInfo(guard.decoder, &info) == 0 ||
      static_cast<int>(info.canvas_width) != width || static_cast<int>(info.canvas_height) != height) {
    return Status::kDamagedWebp;
  }
  std::uint8_t* frame = nullptr;
  int timestamp = 0;
  if (WebPAnimDecoderGetNext(guard.decoder, &frame, &timestamp) == 0) {
    return Status::kDamagedWebp;
  }
  resetPixels(pixels, width, height);
  std::memcpy(pixels.bytes.data(), frame, static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * kRgbaChannels);
  return Status::kOk;
}

}  // namespace

Status decodeWebp(const std::uint8_t* data, std::size_t size, const SideLimit& limit, RgbaPixels& pixels) {
  WebPBitstreamFeatures features;
  if (WebPGetFeatures(data, size, &features) != VP8_STATUS_OK) {
    return Status::kDamagedWebp;
  }
  if (features.has_animation != 0) {
    return decodeFirstFrame(data, size, limit, pixels);
  }
  const Status sized = canvasStatus(features.width, features.height, limit);
  if (sized != Status::kOk) {
    return sized;
  }
  resetPixels(pixels, features.width, features.height);
  const int stride = features.width * kRgbaChannels;
  if (WebPDecodeRGBAInto(data, size, pixels.bytes.data(), pixels.bytes.size(), stride) == nullptr) {
    return Status::kDamagedWebp;
  }
  return Status::kOk;
}

}  // namespace kovrel
