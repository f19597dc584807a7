#include <png.h>

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "image/picture_formats.h"

namespace kovrel {
namespace {

// The file as libpng reads it, front to back; running out is an error,
// which stops the decoder at once (a truncated file is damaged). libpng
// reads each chunk's 8-byte header in one call, right after the chunk
// before, which is how the reader follows the chunks: where the current one
// ends, and for a critical chunk the CRC of its type and data, which the
// reader checks itself (libpng checks ancillary chunks' CRCs).
struct StreamReader {
  PictureStream* file = nullptr;
  png_uint_32 height = 0;
  bool interlaced = false;
  bool decodingRows = false;
  bool rowsDone = false;       // set once libpng reads past the last row
  bool badCrc = false;         // a critical chunk's CRC is wrong
  std::uint64_t at = 0;
  std::uint64_t chunkEnd = 8;  // where the next chunk starts (after the signature)
  std::uint64_t dataEnd = 8;   // where the current chunk's data ends
  bool critical = false;
  uLong crc = 0;
  std::uint8_t stored[4] = {};  // the current chunk's CRC as stored
};

constexpr std::uint64_t kChunkFrame = 12;  // length, type and CRC
constexpr std::uint64_t kChunkHeader = 8;  // length and type

std::uint32_t bigEndian32(const std::uint8_t* bytes) {
  return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) | (std::uint32_t{bytes[2]} << 8) | bytes[3];
}

// Bytes [reader.at, + length) have just been read: chunk headers (each
// read whole), data and CRCs.
void follow(StreamReader& reader, const std::uint8_t* bytes, std::size_t length) {
  while (length > 0) {
    std::size_t step = length;
    if (reader.at == reader.chunkEnd && length >= kChunkHeader) {
      const std::uint32_t dataLength = bigEndian32(bytes);
      reader.dataEnd = reader.chunkEnd + kChunkHeader + dataLength;
      reader.chunkEnd += kChunkFrame + dataLength;
      reader.critical = (bytes[4] & 0x20) == 0;
      reader.crc = reader.critical ? crc32(0, bytes + 4, 4) : 0;
      step = kChunkHeader;
    } else if (reader.at < reader.dataEnd) {
      step = static_cast<std::size_t>(std::min<std::uint64_t>(length, reader.dataEnd - reader.at));
      if (reader.critical) {
        reader.crc = crc32(reader.crc, bytes, static_cast<uInt>(step));
      }
    } else if (reader.at < reader.chunkEnd) {
      step = static_cast<std::size_t>(std::min<std::uint64_t>(length, reader.chunkEnd - reader.at));
      std::memcpy(reader.stored + (reader.at - reader.dataEnd), bytes, step);
      if (reader.at + step == reader.chunkEnd && reader.critical && bigEndian32(reader.stored) != reader.crc) {
        reader.badCrc = true;
      }
    }
    reader.at += step;
    bytes += step;
    length -= step;
  }
}

void readFromStream(png_structp png, png_bytep out, png_size_t length) {
  auto* reader = static_cast<StreamReader*>(png_get_io_ptr(png));
  // Once the last row is complete, libpng would inflate whatever image data
  // is left, only to warn of it: decodePng passes over the rest instead.
  if (reader->decodingRows && (png_get_current_pass_number(png) >= 7 ||
                               (!reader->interlaced && png_get_current_row_number(png) >= reader->height))) {
    reader->rowsDone = true;
    png_error(png, "rows complete");
  }
  const bool header = length == kChunkHeader && reader->at == reader->chunkEnd;
  if (!reader->file->read(out, length)) {
    png_error(png, "cut short");
  }
  follow(*reader, out, length);
  if (reader->badCrc) {
    png_error(png, "CRC error");
  }
  // Chunks libpng would only pass over are passed over here, and libpng is
  // given the header after them:
  // - a run of empty IDAT chunks (a file can hold millions), each one's CRC
  //   checked: the image data is the same without them, and libpng's own
  //   work for a chunk costs many times this;
  // - before the image data, an ancillary chunk other than tRNS (text, a
  //   colour profile): libpng reads through one to check its CRC and drop
  //   it, where a long one (a file may hold hundreds of megabytes of text)
  //   is sought over here. Between image data chunks libpng's own order
  //   checks still see it.
  static const std::uint8_t kEmptyIdat[12] = {0, 0, 0, 0, 'I', 'D', 'A', 'T', 0x35, 0xAF, 0x06, 0x1E};
  while (header) {
    if (reader->at == reader->dataEnd && std::memcmp(out, kEmptyIdat, 8) == 0) {
      std::uint8_t next[12];  // the empty chunk's CRC, then the next chunk's header
      if (!reader->file->read(next, sizeof next)) {
        png_error(png, "cut short");
      }
      if (std::memcmp(next, kEmptyIdat + 8, 4) != 0) {
        png_error(png, "CRC error");
      }
      reader->at = reader->chunkEnd;
      follow(*reader, next + 4, kChunkHeader);
      std::memcpy(out, next + 4, kChunkHeader);
      continue;
    }
    const bool passedOver = !reader->decodingRows && (out[4] & 0x20) != 0 &&
                            std::memcmp(out + 4, "tRNS", 4) != 0 && bigEndian32(out) <= PNG_UINT_31_MAX;
    if (!passedOver) {
      break;
    }
    const std::uint64_t left = reader->chunkEnd - reader->at;
    reader->at = reader->chunkEnd;
    if (!reader->file->skip(static_cast<std::size_t>(left)) || !reader->file->read(out, kChunkHeader)) {
      png_error(png, "cut short");
    }
    follow(*reader, out, kChunkHeader);
  }
}

// Reads the rest of the current chunk; false when the file ends first or
// a critical chunk's CRC is wrong (an ancillary chunk's is not checked).
bool finishChunk(StreamReader& reader) {
  PictureStream& file = *reader.file;
  if (!reader.critical) {
    const std::uint64_t left = reader.chunkEnd - reader.at;
    reader.at = reader.chunkEnd;
    return file.skip(static_cast<std::size_t>(left));
  }
  while (reader.at < reader.chunkEnd) {
    std::size_t got = 0;
    const std::uint8_t* bytes = file.next(static_cast<std::size_t>(reader.chunkEnd - reader.at), got);
    if (got == 0) {
      return false;
    }
    follow(reader, bytes, got);
  }
  return !reader.badCrc;
}

// After the picture's last row: the rest of the current chunk and every
// chunk up to IEND are read without inflating anything, critical chunks'
// CRCs checked.
Status passToEnd(StreamReader& reader) {
  PictureStream& file = *reader.file;
  if (!finishChunk(reader)) {
    return file.tooLarge() ? Status::kPictureFileTooLarge : Status::kDamagedPng;
  }
  for (;;) {
    std::uint8_t header[8];
    if (!file.read(header, sizeof header) || bigEndian32(header) > PNG_UINT_31_MAX) {
      return file.tooLarge() ? Status::kPictureFileTooLarge : Status::kDamagedPng;
    }
    follow(reader, header, sizeof header);
    const bool known = std::memcmp(header + 4, "IDAT", 4) == 0 || std::memcmp(header + 4, "IEND", 4) == 0 ||
                       std::memcmp(header + 4, "PLTE", 4) == 0;
    if ((reader.critical && !known) || !finishChunk(reader)) {
      return file.tooLarge() ? Status::kPictureFileTooLarge : Status::kDamagedPng;
    }
    if (std::memcmp(header + 4, "IEND", 4) == 0) {
      return Status::kOk;
    }
  }
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
Status decodePng(PictureStream& file, const SideLimit& limit, RgbaPixels& pixels) {
  const auto reader = std::make_unique<StreamReader>();
  reader->file = &file;
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
    if (reader->rowsDone) {
      return passToEnd(*reader);
    }
    return file.tooLarge() ? Status::kPictureFileTooLarge : Status::kDamagedPng;
  }
  png_structp png = guard.png;
  png_infop info = guard.info;
  png_set_read_fn(png, reader.get(), readFromStream);
  png_set_crc_action(png, PNG_CRC_QUIET_USE, PNG_CRC_DEFAULT);  // critical CRCs: see StreamReader
  // Sides are checked below, against the decoders' own limits; ancillary
  // chunks (a compressed colour profile, say) get at most 8 MiB.
  png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
  png_set_chunk_malloc_max(png, std::size_t{8} << 20);
  // Gamma and colour profiles are not applied, so their chunks need not be
  // kept; text and other ancillary chunks are never looked at. Every
  // ancillary chunk but tRNS is passed over without being inflated or
  // stored (a negative count names all the chunks libpng knows).
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, 0);
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
  png_read_info(png, info);

  const png_uint_32 width = png_get_image_width(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  const Status sized = sizeStatus(width, height, limit);
  if (sized != Status::kOk) {
    return sized;
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
  reader->height = height;
  reader->interlaced = passes > 1;
  reader->decodingRows = true;
  for (int pass = 0; pass < passes; ++pass) {
    for (png_uint_32 y = 0; y < height; ++y) {
      png_read_row(png, pixels.pixel(0, static_cast<int>(y)), nullptr);
    }
  }
  // The rest of the file must be there too, up to IEND. (libpng always
  // reads on after the last row, so this is reached only through the jump.)
  return passToEnd(*reader);
}

}  // namespace kovrel
