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

// Decodes the PNG file's bytes into pixels. Returns kOk, kDamagedPng or
// kPictureTooLargeToRead. On failure pixels are unspecified. Throws
// std::bad_alloc when no memory is left.
Status decodePng(const std::uint8_t* data, std::size_t size, RgbaPixels& pixels);

// Decodes the JPEG file's bytes into pixels, EXIF orientation applied.
// Returns kOk, kDamagedJpeg, kCmykJpeg, kUnsupportedJpeg or
// kPictureTooLargeToRead. On failure pixels are unspecified. Throws
// std::bad_alloc when no memory is left.
Status decodeJpeg(const std::uint8_t* data, std::size_t size, RgbaPixels& pixels);

// Decode the GIF's first frame, the BMP or the WebP (its first frame when
// animated) into pixels. Return kOk, kDamagedGif, kDamagedBmp or
// kDamagedWebp (also for a kind the library does not read, such as an RLE
// BMP), or kPictureTooLargeToRead, which is decided from the header before
// anything is decoded. Throw std::bad_alloc when no memory is left.
Status decodeGif(const std::uint8_t* data, std::size_t size, RgbaPixels& pixels);
Status decodeBmp(const std::uint8_t* data, std::size_t size, RgbaPixels& pixels);
Status decodeWebp(const std::uint8_t* data, std::size_t size, RgbaPixels& pixels);

// The EXIF orientation (1 ... 8) an APP1 segment's body (after the marker's
// length field) gives, or 1 when it is not EXIF or has no valid orientation.
int exifOrientation(const std::uint8_t* data, std::size_t size);

}  // namespace kovrel
