// PNG, JPEG, GIF, BMP and WebP input, told from TGA by the file's first bytes.
//
// Both readers decode to 8-bit RGBA (image/pixels.h) using the stored pixel
// values: gamma (gAMA, cHRM, sRGB) and ICC profile data are ignored, as a
// browser canvas without colour management would.
//   PNG (libpng): every colour type and bit depth; 16-bit samples become
//     round(v x 255 / 65535), palette and grey are expanded, tRNS becomes
//     alpha, interlaced pictures are de-interlaced. Ancillary chunks with a
//     bad checksum are skipped; any other fault, or an end before IEND, is
//     damage.
//   JPEG (libjpeg-turbo): 8-bit baseline, extended, progressive or
//     arithmetic-coded, greyscale or YCbCr/RGB; upsampled and converted as
//     djpeg does by default. The EXIF orientation (tag 0x0112 of IFD0 in the
//     APP1 "Exif" segment) is applied. Corrupt data or an early end is damage.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "base/status.h"
#include "image/pixels.h"

namespace kovrel {

enum class PictureFormat { kTga, kPng, kJpeg, kGif, kBmp, kWebp };

// kPng when data starts with the PNG signature, kJpeg when it starts with a
// JPEG start-of-image marker followed by another marker (FF D8 FF), kGif for
// "GIF87a" or "GIF89a", kWebp for "RIFF", a length, "WEBP", kBmp for "BM"
// unless the header is one the TGA reader takes (byte 2 is 2, byte 16 is 24
// and byte 17 is 0; a BMP's byte 16 is 0), kTga otherwise. No other
// signature can begin a valid TGA (its byte 2 must be 2).
PictureFormat pictureFormatOf(const std::uint8_t* data, std::size_t size);

// The largest PNG, JPEG, GIF, BMP or WebP file read.
constexpr std::size_t kMaxPictureFileBytes = std::size_t{512} << 20;

// The most scans a JPEG may have. A progressive encoder writes about ten;
// each scan of a large picture costs as much as decoding it again.
constexpr int kMaxJpegScans = 100;

// A picture file's bytes, read front to back as far as a reader needs:
// head[0 .. headSize) first, then, when rest is not null, what is left in
// that open file, a buffer at a time. Bytes past kMaxPictureFileBytes count
// as missing, and tooLarge() tells that this was why the file ended.
class PictureStream {
 public:
  PictureStream(const std::uint8_t* head, std::size_t headSize, std::FILE* rest = nullptr);

  // Copies the next n bytes to out; false when the file ends first.
  bool read(std::uint8_t* out, std::size_t n);
  // Passes over the next n bytes; false when the file ends first.
  bool skip(std::size_t n);
  // The next bytes, at most most of them, without copying (valid until the
  // next call); got is 0 at the end of the file.
  const std::uint8_t* next(std::size_t most, std::size_t& got);
  bool tooLarge() const { return tooLarge_; }

 private:
  bool refill();
  bool seekOver(std::size_t n);

  const std::uint8_t* head_;
  std::FILE* rest_;
  std::vector<std::uint8_t> buffer_;
  const std::uint8_t* at_;   // the unread bytes: at_ .. end_
  const std::uint8_t* end_;
  std::size_t passed_ = 0;   // bytes before at_'s buffer
  bool inHead_ = true;
  bool tooLarge_ = false;
};

// The sides a reader accepts before decoding a pixel: at most the decoders'
// limits (kPictureTooLargeToRead), and at most largestSide a side
// (kPictureTooLarge, for a picture that is not fitted).
struct SideLimit {
  int largestSide = kMaxDecodedSide;
};

// What a picture of the declared size is refused for, or kOk: beyond the
// decoders' limits kPictureTooLargeToRead, beyond limit kPictureTooLarge.
inline Status sizeStatus(std::uint64_t width, std::uint64_t height, const SideLimit& limit) {
  constexpr auto kSide = static_cast<std::uint64_t>(kMaxDecodedSide);
  if (width > kSide || height > kSide || width * height > kMaxDecodedPixels) {
    return Status::kPictureTooLargeToRead;
  }
  const auto largest = static_cast<std::uint64_t>(limit.largestSide);
  return width > largest || height > largest ? Status::kPictureTooLarge : Status::kOk;
}

// Decodes the PNG file's bytes into pixels. Image data past the picture's
// last row is not inflated; the chunks after it need only be whole up to
// IEND. Returns kOk, kDamagedPng, kPictureTooLarge, kPictureTooLargeToRead
// or kPictureFileTooLarge. On failure pixels are unspecified. Throws
// std::bad_alloc when no memory is left.
Status decodePng(PictureStream& file, const SideLimit& limit, RgbaPixels& pixels);

// Decodes the JPEG file's bytes into pixels, EXIF orientation applied.
// Returns kOk, kDamagedJpeg, kCmykJpeg, kUnsupportedJpeg, kJpegComponents,
// kJpegTooManyScans, kPictureTooLarge, kPictureTooLargeToRead or
// kPictureFileTooLarge. On failure pixels are unspecified. Throws
// std::bad_alloc when no memory is left.
Status decodeJpeg(PictureStream& file, const SideLimit& limit, RgbaPixels& pixels);

// Decode the GIF's first frame, the BMP or the WebP (its first frame when
// animated) into pixels. Return kOk, kDamagedGif, kDamagedBmp or
// kDamagedWebp (also for a kind the library does not read, such as an RLE
// BMP), or kPictureTooLargeToRead or kPictureTooLarge, which are decided
// from the header before anything is decoded. Throw std::bad_alloc when no
// memory is left.
Status decodeGif(const std::uint8_t* data, std::size_t size, const SideLimit& limit, RgbaPixels& pixels);
Status decodeBmp(const std::uint8_t* data, std::size_t size, const SideLimit& limit, RgbaPixels& pixels);
Status decodeWebp(const std::uint8_t* data, std::size_t size, const SideLimit& limit, RgbaPixels& pixels);

// The EXIF orientation (1 ... 8) an APP1 segment's body (after the marker's
// length field) gives, or 1 when it is not EXIF or has no valid orientation.
int exifOrientation(const std::uint8_t* data, std::size_t size);

}  // namespace kovrel
