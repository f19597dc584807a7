// Fuzz target: the picture reader on arbitrary bytes, the PNG, JPEG, GIF,
// BMP and WebP paths included (decodePicture tells the format by the first
// bytes).
//
// The last byte chooses the framing: none, or one of the fits to 40 x 24
// with a background, square or television aspect. Beyond not crashing: a
// picture is accepted only with sides 1 ... 512 (the fit's target when one
// applies to a decoded format), every pixel sample is a byte x 16, the
// padded area beyond the picture is 0, and a decoded format gets the synthesised
// 24-bit bottom-left header of its size. A refused file of any of those
// formats gets one of the statuses its decoder documents.
#include <cstddef>
#include <cstdint>

#include "core/conversion.h"
#include "fuzz/fuzz_check.h"
#include "image/picture_formats.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kovrel;
  const int choice = size > 0 ? data[size - 1] : 0;
  Framing framing;
  if (choice % 4 != 0) {
    framing.fit = choice % 4 == 1 ? Fit::kCrop : (choice % 4 == 2 ? Fit::kLetterbox : Fit::kStretch);
    framing.width = 40;
    framing.height = 24;
    framing.aspect = (choice & 4) != 0 ? PixelAspect::kTelevision : PixelAspect::kSquare;
    framing.background = {static_cast<std::uint8_t>(choice), 0x80, 0x11};
  }
  Picture picture;
  const Status status = decodePicture(data, size, picture, framing);
  const PictureFormat format = pictureFormatOf(data, size);
  if (status != Status::kOk) {
    if (format == PictureFormat::kPng) {
      KOVREL_FUZZ_CHECK(status == Status::kDamagedPng || status == Status::kPictureTooLarge ||
                        status == Status::kPictureTooLargeToRead);
    } else if (format == PictureFormat::kJpeg) {
      KOVREL_FUZZ_CHECK(status == Status::kDamagedJpeg || status == Status::kCmykJpeg ||
                        status == Status::kUnsupportedJpeg || status == Status::kJpegComponents ||
                        status == Status::kJpegTooManyScans || status == Status::kPictureTooLarge ||
                        status == Status::kPictureTooLargeToRead);
    } else if (format == PictureFormat::kGif || format == PictureFormat::kBmp || format == PictureFormat::kWebp) {
      const Status damaged = format == PictureFormat::kGif   ? Status::kDamagedGif
                             : format == PictureFormat::kBmp ? Status::kDamagedBmp
                                                             : Status::kDamagedWebp;
      KOVREL_FUZZ_CHECK(status == damaged || status == Status::kPictureTooLarge ||
                        status == Status::kPictureTooLargeToRead);
    } else {
      KOVREL_FUZZ_CHECK(status == Status::kUnsupportedFormat || status == Status::kUnsupportedSize);
    }
    return 0;
  }
  const WorkingImage& image = *picture.image;
  KOVREL_FUZZ_CHECK(image.width >= 1 && image.width <= kMaxSide && image.height >= 1 && image.height <= kMaxSide);
  if (format == PictureFormat::kTga) {
    return 0;  // the TGA reader's own target checks its pixels
  }
  if (framing.fit != Fit::kNone) {
    KOVREL_FUZZ_CHECK(image.width == framing.width && image.height == framing.height);
  }
  const auto& h = picture.header.bytes;
  KOVREL_FUZZ_CHECK(h[2] == 2 && h[16] == 24 && h[17] == 0 && h[0] == 0 && h[1] == 0);
  KOVREL_FUZZ_CHECK(h[12] + 256 * h[13] == image.width && h[14] + 256 * h[15] == image.height);
  for (int y = 0; y < 8 * image.tileRows(); ++y) {
    for (int x = 0; x < 8 * image.tileColumns(); ++x) {
      const Sample* p = image.pixel(x, y);
      for (int c = 0; c < kChannels; ++c) {
        if (x < image.width && y < image.height) {
          KOVREL_FUZZ_CHECK(p[c] >= 0 && p[c] <= kFullScale && p[c] % kSampleScale == 0);
        } else {
          KOVREL_FUZZ_CHECK(p[c] == 0);
        }
      }
    }
  }
  return 0;
}
