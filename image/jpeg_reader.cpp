#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <memory>
#include <new>
#include <utility>

// jpeglib.h needs size_t and FILE declared first.
#include <jerror.h>
#include <jpeglib.h>

#include "image/picture_formats.h"

namespace kovrel {
namespace {

// libjpeg's error handler, extended with the jump back into decodeJpeg and
// what stopped the decoder.
struct JpegErrors {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
  Status status;
};

// Errors that mean a kind of JPEG this build cannot decode, rather than a
// damaged file.
bool isUnsupported(int code) {
  return code == JERR_BAD_PRECISION || code == JERR_SOF_UNSUPPORTED || code == JERR_CONVERSION_NOTIMPL ||
         code == JERR_NOT_COMPILED || code == JERR_ARITH_NOTIMPL;
}

[[noreturn]] void onError(j_common_ptr info) {
  auto* errors = reinterpret_cast<JpegErrors*>(info->err);
  errors->status = isUnsupported(errors->manager.msg_code) ? Status::kUnsupportedJpeg : Status::kDamagedJpeg;
  std::longjmp(errors->jump, 1);
}

// A warning (level -1) other than a note about metadata means corrupt or
// missing data, which libjpeg would fill with grey: that is damage, and
// decoding stops at once. Nothing is printed.
void onMessage(j_common_ptr info, int level) {
  auto* errors = reinterpret_cast<JpegErrors*>(info->err);
  const int code = errors->manager.msg_code;
  if (level == -1 && code != JWRN_JFIF_MAJOR && code != JWRN_ADOBE_XFORM && code != JWRN_BOGUS_ICC) {
    errors->status = Status::kDamagedJpeg;
    std::longjmp(errors->jump, 1);
  }
}

void printNothing(j_common_ptr) {}

// libjpeg's input from a PictureStream, a buffer at a time. At the end of
// the file it warns of the early end (damage, to onMessage) and, should
// decoding go on, gives an end-of-image marker, as its own sources do.
struct StreamSource {
  jpeg_source_mgr manager;
  PictureStream* file;
};

constexpr std::size_t kSourceBytes = std::size_t{1} << 16;

void startSource(j_decompress_ptr) {}
void endSource(j_decompress_ptr) {}

boolean fillSource(j_decompress_ptr info) {
  static const JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};
  auto* source = reinterpret_cast<StreamSource*>(info->src);
  std::size_t got = 0;
  const std::uint8_t* bytes = source->file->next(kSourceBytes, got);
  if (got == 0) {
    WARNMS(info, JWRN_JPEG_EOF);
    bytes = kEndOfImage;
    got = sizeof kEndOfImage;
  }
  source->manager.next_input_byte = bytes;
  source->manager.bytes_in_buffer = got;
  return TRUE;
}

void skipSource(j_decompress_ptr info, long count) {
  auto* source = reinterpret_cast<StreamSource*>(info->src);
  if (count <= 0) {
    return;
  }
  const auto n = static_cast<std::size_t>(count);
  if (n <= source->manager.bytes_in_buffer) {
    source->manager.next_input_byte += n;
    source->manager.bytes_in_buffer -= n;
    return;
  }
  const std::size_t beyond = n - source->manager.bytes_in_buffer;
  source->manager.bytes_in_buffer = 0;
  source->file->skip(beyond);  // an early end shows at the next fill
}

// Called by libjpeg as it reads; stops a file with more scans than any
// encoder writes, before they cost more than decoding the picture itself.
struct ScanCounter {
  jpeg_progress_mgr manager;
  JpegErrors* errors;
};

void countScans(j_common_ptr common) {
  auto* info = reinterpret_cast<j_decompress_ptr>(common);
  auto* counter = reinterpret_cast<ScanCounter*>(common->progress);
  if (info->input_scan_number > kMaxJpegScans) {
    counter->errors->status = Status::kJpegTooManyScans;
    std::longjmp(counter->errors->jump, 1);
  }
}

// Everything decodeJpeg changes while libjpeg may jump, kept on the heap:
// a jump then leaves no modified local behind. The destructor frees
// libjpeg's memory on every way out (destroying a struct that was never
// created is harmless: its memory manager is null).
struct JpegDecoder {
  jpeg_decompress_struct info{};
  JpegErrors errors{};
  StreamSource source{};
  ScanCounter scans{};
  RgbaPixels stored;  // the picture as stored, when an orientation turns it
  ~JpegDecoder() { jpeg_destroy_decompress(&info); }
};

constexpr int kTopLeft = 1;
constexpr int kLastOrientation = 8;

std::uint32_t readUnsigned(const std::uint8_t* at, int bytes, bool bigEndian) {
  std::uint32_t value = 0;
  for (int i = 0; i < bytes; ++i) {
    const std::uint32_t byte = at[bigEndian ? i : bytes - 1 - i];
    value = (value << 8) | byte;
  }
  return value;
}

// Displayed pixel (x, y) of a picture stored width x height under EXIF
// orientation o comes from stored pixel (sx, sy); orientations 5 to 8 swap
// the sides. 6 is the stored picture turned a quarter clockwise.
void sourceOf(int o, int x, int y, int width, int height, int& sx, int& sy) {
  switch (o) {
    case 2: sx = width - 1 - x; sy = y; break;
    case 3: sx = width - 1 - x; sy = height - 1 - y; break;
    case 4: sx = x; sy = height - 1 - y; break;
    case 5: sx = y; sy = x; break;
    case 6: sx = y; sy = height - 1 - x; break;
    case 7: sx = width - 1 - y; sy = height - 1 - x; break;
    case 8: sx = width - 1 - y; sy = x; break;
    default: sx = x; sy = y; break;
  }
}

void orient(const RgbaPixels& stored, int o, RgbaPixels& shown) {
  const bool swapped = o >= 5;
  resetPixels(shown, swapped ? stored.height : stored.width, swapped ? stored.width : stored.height);
  for (int y = 0; y < shown.height; ++y) {
    std::uint8_t* out = shown.pixel(0, y);
    for (int x = 0; x < shown.width; ++x, out += kRgbaChannels) {
      int sx = 0;
      int sy = 0;
      sourceOf(o, x, y, stored.width, stored.height, sx, sy);
      const std::uint8_t* in = stored.pixel(sx, sy);
      for (int c = 0; c < kRgbaChannels; ++c) {
        out[c] = in[c];
      }
    }
  }
}

}  // namespace

// APP1 body: "Exif\0\0", then a TIFF file: byte order ("II" little-endian or
// "MM" big-endian), 42, the offset of IFD0; IFD0 is a 2-byte entry count and
// 12-byte entries (tag, type, count, value). Orientation is tag 0x0112, type
// SHORT (3), count 1, its value in the entry's first two value bytes. Every
// offset is checked against size before it is read.
int exifOrientation(const std::uint8_t* data, std::size_t size) {
  static const std::uint8_t kExif[6] = {'E', 'x', 'i', 'f', 0, 0};
  constexpr std::size_t kTiffAt = sizeof kExif;
  constexpr std::size_t kTiffHeader = 8;
  constexpr std::size_t kEntry = 12;
  if (size < kTiffAt + kTiffHeader || !std::equal(kExif, kExif + sizeof kExif, data)) {
    return kTopLeft;
  }
  const std::uint8_t* tiff = data + kTiffAt;
  const std::size_t tiffSize = size - kTiffAt;
  bool bigEndian = false;
  if (tiff[0] == 'M' && tiff[1] == 'M') {
    bigEndian = true;
  } else if (!(tiff[0] == 'I' && tiff[1] == 'I')) {
    return kTopLeft;
  }
  if (readUnsigned(tiff + 2, 2, bigEndian) != 42) {
    return kTopLeft;
  }
  const std::size_t ifd = readUnsigned(tiff + 4, 4, bigEndian);
  if (ifd > tiffSize || tiffSize - ifd < 2) {
    return kTopLeft;
  }
  const std::size_t entries = readUnsigned(tiff + ifd, 2, bigEndian);
  if (entries > (tiffSize - ifd - 2) / kEntry) {
    return kTopLeft;
  }
  for (std::size_t i = 0; i < entries; ++i) {
    const std::uint8_t* entry = tiff + ifd + 2 + i * kEntry;
    constexpr std::uint32_t kOrientationTag = 0x0112;
    constexpr std::uint32_t kShort = 3;
    if (readUnsigned(entry, 2, bigEndian) == kOrientationTag && readUnsigned(entry + 2, 2, bigEndian) == kShort &&
        readUnsigned(entry + 4, 4, bigEndian) == 1) {
      const std::uint32_t value = readUnsigned(entry + 8, 2, bigEndian);
      return value >= kTopLeft && value <= kLastOrientation ? static_cast<int>(value) : kTopLeft;
    }
  }
  return kTopLeft;
}

// setjmp/longjmp: libjpeg reports errors (and the warnings onMessage counts
// as damage) by jumping back here from its own C frames. The only C++
// object here is made before setjmp and not changed after it; what libjpeg
// changes lives in the decoder on the heap.
Status decodeJpeg(PictureStream& file, const SideLimit& limit, RgbaPixels& pixels) {
  const auto decoder = std::make_unique<JpegDecoder>();
  jpeg_decompress_struct& info = decoder->info;
  JpegErrors& errors = decoder->errors;
  info.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = onError;
  errors.manager.emit_message = onMessage;
  errors.manager.output_message = printNothing;
  errors.status = Status::kDamagedJpeg;
  if (setjmp(errors.jump) != 0) {
    return file.tooLarge() ? Status::kPictureFileTooLarge : errors.status;
  }
  jpeg_create_decompress(&info);
  // Room for every buffer of the largest picture read, progressive
  // coefficients included (about 6 bytes a pixel); more is an error.
  info.mem->max_memory_to_use = 12 * static_cast<long>(kMaxDecodedPixels);
  StreamSource& source = decoder->source;
  source.file = &file;
  source.manager.init_source = startSource;
  source.manager.fill_input_buffer = fillSource;
  source.manager.skip_input_data = skipSource;
  source.manager.resync_to_restart = jpeg_resync_to_restart;
  source.manager.term_source = endSource;
  info.src = &source.manager;
  decoder->scans.manager.progress_monitor = countScans;
  decoder->scans.errors = &errors;
  info.progress = &decoder->scans.manager;
  jpeg_save_markers(&info, JPEG_APP0 + 1, 0xFFFF);
  jpeg_read_header(&info, TRUE);

  if (info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK) {
    return Status::kCmykJpeg;
  }
  const Status sized = sizeStatus(info.image_width, info.image_height, limit);
  if (sized != Status::kOk) {
    return sized;
  }
  // Grey is 1 component, colour 3 (CMYK and YCCK, 4, are told above); any
  // other count has no colour space libjpeg converts from.
  if (info.num_components != 1 && info.num_components != 3) {
    return Status::kJpegComponents;
  }
  int orientation = kTopLeft;
  for (jpeg_saved_marker_ptr marker = info.marker_list; marker != nullptr; marker = marker->next) {
    if (marker->marker == JPEG_APP0 + 1) {
      orientation = exifOrientation(marker->data, marker->data_length);
      if (orientation != kTopLeft) {
        break;
      }
    }
  }

  info.out_color_space = JCS_EXT_RGBA;
  jpeg_start_decompress(&info);
  RgbaPixels& target = orientation == kTopLeft ? pixels : decoder->stored;
  resetPixels(target, static_cast<int>(info.output_width), static_cast<int>(info.output_height));
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = target.pixel(0, static_cast<int>(info.output_scanline));
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  if (orientation != kTopLeft) {
    orient(decoder->stored, orientation, pixels);
  }
  return Status::kOk;
}

}  // namespace kovrel
