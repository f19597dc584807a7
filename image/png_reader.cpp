#include <png.h>

#include <cstring>

#include "image/picture_formats.h"

namespace kovrel {
namespace {

// The file's bytes and how far libpng has read; running out is an error,
// which stops the decoder at once (a truncated file is damaged).
struct MemoryReader {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t at;
};

void readFromMemory(png_structp png, png_bytep out, png_size_t length) {
  auto* reader = static_cast<MemoryReader*>(png_get_io_ptr(png));
  if (length > reader->size - reader->at) {
    png_error(png, "cut short");
  }
  std::memcpy(out, reader->data + reader->at, length);
  reader->at += length;
}

// The core prints nothing: errors return to decodePng's setjmp, warnings
// (an ancillary chunk skipped, say) are dropped.
[[noreturn]] void onError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void onWarning(png_structp, png_const_charp) {}

// Frees libpng's structures on every way out of decodePng.
struct PngReadGuard {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~PngReadGuard() { png_destroy_read_struct(&png, &info, nullptr); }
};

}  // namespace

PictureFormat pictureFormatOf(const std::uint8_t* data, std::size_t size) {
  static const std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (size >= sizeof kPngSignature && std::memcmp(data, kPngSignature, sizeof kPngSignature) == 0) {
    return PictureFormat::kPng;
  }
  if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) {
    return PictureFormat::kJpeg;
  }
  if (size >= 6 && (std::memcmp(data, "GIF87a", 6) == 0 || std::memcmp(data, "GIF89a", 6) == 0)) {
    return PictureFormat::kGif;
  }
  if (size >= 12 && std::memcmp(data, "RIFF", 4) == 0 && std::memcmp(data + 8, "WEBP", 4) == 0) {
    return PictureFormat::kWebp;
  }
  const bool tgaHeader = size >= 18 && data[2] == 2 && data[16] == 24 && data[17] == 0;
  if (size >= 2 && data[0] == 'B' && data[1] == 'M' && !tgaHeader) {
    return PictureFormat::kBmp;
  }
  return PictureFormat::kTga;
}

// setjmp/longjmp: libpng reports errors by jumping back here from its own
// (C) frames. Every C++ object of this function is made before setjmp, and
// nothing modified after it is read once a jump has arrived, so the jump
// skips no destructor and reads no stale value.
Status decodePng(const std::uint8_t* data, std::size_t size, RgbaPixels& pixels) {
  MemoryReader reader{data, size, 0};
  PngReadGuard guard;
  guard.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, onError, onWarning);
  if (guard.png == nullptr) {
    throw std::bad_alloc();
  }
  guard.info = png_create_info_struct(guard.png);
  if (guard.info == nullptr) {
    throw std::bad_alloc();
  }
  if (setjmp(png_jmpbuf(guard.png)) != 0) {
    return Status::kDamagedPng;
  }
  png_structp png = guard.png;
  png_infop info = guard.info;
  png_set_read_fn(png, &reader, readFromMemory);
  // Sides are checked below, against the decoders' own limits; ancillary
  // chunks (a compressed colour profile, say) get at most 8 MiB.
  png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
  png_set_chunk_malloc_max(png, std::size_t{8} << 20);
  // Gamma and colour profiles are not applied, so their chunks need not be
  // kept; text and other ancillary chunks are never looked at.
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, 0);
  png_read_info(png, info);

  const png_uint_32 width = png_get_image_width(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  if (width > static_cast<png_uint_32>(kMaxDecodedSide) || height > static_cast<png_uint_32>(kMaxDecodedSide) ||
      static_cast<std::size_t>(width) * height > kMaxDecodedPixels) {
    return Status::kPictureTooLargeToRead;
  }
  const int colourType = png_get_color_type(png, info);
  png_set_expand(png);  // palette to RGB, grey below 8 bits to 8, tRNS to alpha
  png_set_scale_16(png);  // (v x 255 + 32895) >> 16, which is round(v x 255 / 65535)
  if ((colourType & PNG_COLOR_MASK_COLOR) == 0) {
    png_set_gray_to_rgb(png);
  }
  if ((colourType & PNG_COLOR_MASK_ALPHA) == 0 && png_get_valid(png, info, PNG_INFO_tRNS) == 0) {
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
  }
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != static_cast<std::size_t>(width) * kRgbaChannels) {
    return Status::kDamagedPng;  // a combination the transforms above do not cover
  }

  resetPixels(pixels, static_cast<int>(width), static_cast<int>(height));
  for (int pass = 0; pass < passes; ++pass) {
    for (png_uint_32 y = 0; y < height; ++y) {
      png_read_row(png, pixels.pixel(0, static_cast<int>(y)), nullptr);
    }
  }
  // The rest of the file must be there too, up to IEND.
  png_read_end(png, nullptr);
  return Status::kOk;
}

}  // namespace kovrel
