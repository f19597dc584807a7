// GIF through giflib (Debian libgif-dev): the first frame, as a browser
// shows the still of a picture. The canvas is the logical screen, grown to
// hold the frame when the frame reaches past it, and starts transparent;
// the frame's pixels are drawn at its place in its colour map (its own, or
// the global one), and its transparent index, from the graphic control
// extension before it, leaves the canvas as it is. The screen's background
// colour is not used, as browsers do not use it. An index past the end of
// the colour map is transparent too.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "image/picture_formats.h"

namespace kovrel {
namespace {

struct MemoryInput {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t at;
};

int readFromMemory(GifFileType* gif, GifByteType* out, int length) {
  auto* input = static_cast<MemoryInput*>(gif->UserData);
  const std::size_t wanted = length < 0 ? 0 : static_cast<std::size_t>(length);
  const std::size_t got = std::min(wanted, input->size - input->at);
  std::memcpy(out, input->data + input->at, got);
  input->at += got;
  return static_cast<int>(got);
}

struct GifGuard {
  GifFileType* gif = nullptr;
  ~GifGuard() {
    if (gif != nullptr) {
      int error = 0;
      DGifCloseFile(gif, &error);
    }
  }
};

}  // namespace

Status decodeGif(const std::uint8_t* data, std::size_t size, const SideLimit& limit, RgbaPixels& pixels) {
  MemoryInput input{data, size, 0};
  GifGuard guard;
  int error = 0;
  guard.gif = DGifOpen(&input, readFromMemory, &error);
  if (guard.gif == nullptr) {
    if (error == D_GIF_ERR_NOT_ENOUGH_MEM) {
      throw std::bad_alloc();
    }
    return Status::kDamagedGif;
  }
  GifFileType* const gif = guard.gif;
  int transparent = NO_TRANSPARENT_COLOR;
  while (true) {
    GifRecordType record = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif, &record) == GIF_ERROR) {
      return Status::kDamagedGif;
    }
    if (record == TERMINATE_RECORD_TYPE) {
      return Status::kDamagedGif;  // no frame at all
    }
    if (record == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* block = nullptr;
      if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) {
        return Status::kDamagedGif;
      }
      if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr) {
        GraphicsControlBlock control;
        if (DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK) {
          transparent = control.TransparentColor;
        }
      }
      while (block != nullptr) {
        if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) {
          return Status::kDamagedGif;
        }
      }
      continue;
    }
    if (record != IMAGE_DESC_RECORD_TYPE) {
      return Status::kDamagedGif;
    }
    if (DGifGetImageDesc(gif) == GIF_ERROR) {
      return Status::kDamagedGif;
    }
    break;
  }

  const GifImageDesc& frame = gif->Image;
  const ColorMapObject* const map = frame.ColorMap != nullptr ? frame.ColorMap : gif->SColorMap;
  if (map == nullptr || frame.Width <= 0 || frame.Height <= 0 || frame.Left < 0 || frame.Top < 0) {
    return Status::kDamagedGif;
  }
  const long width = std::max<long>(gif->SWidth, long{frame.Left} + frame.Width);
  const long height = std::max<long>(gif->SHeight, long{frame.Top} + frame.Height);
  const Status sized = sizeStatus(static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height), limit);
  if (sized != Status::kOk) {
    return sized;
  }
  resetPixels(pixels, static_cast<int>(width), static_cast<int>(height));  // all transparent

  // Rows in the order the file stores them: four passes when interlaced.
  static const int kStart[] = {0, 4, 2, 1};
  static const int kStep[] = {8, 8, 4, 2};
  std::vector<GifPixelType> line(static_cast<std::size_t>(frame.Width));
  const int passes = frame.Interlace ? 4 : 1;
  for (int pass = 0; pass < passes; ++pass) {
    const int start = frame.Interlace ? kStart[pass] : 0;
    const int step = frame.Interlace ? kStep[pass] : 1;
    for (int row = start; row < frame.Height; row += step) {
      if (DGifGetLine(gif, line.data(), frame.Width) == GIF_ERROR) {
        return Status::kDamagedGif;
      }
      std::uint8_t* out = pixels.pixel(frame.Left, frame.Top + row);
      for (const GifPixelType index : line) {
        if (index != transparent && index < map->ColorCount) {
          const GifColorType& colour = map->Colors[index];
          out[0] = colour.Red;
          out[1] = colour.Green;
          out[2] = colour.Blue;
          out[3] = 0xFF;
        }
        out += kRgbaChannels;
      }
    }
  }
  return Status::kOk;
}

}  // namespace kovrel
