// The converter core as a WebAssembly reactor for the web page.
//
// The page copies a TGA file's bytes into a buffer from kovrel_alloc, calls
// kovrel_convert once, then reads the results through the accessors below:
// the same CHR, CLR and preview bytes the command-line program writes for
// that file. Pointers are offsets into the module's linear memory. Built
// without a JavaScript glue generator: the page calls these exports directly.
//
// Calls are not reentrant: one conversion at a time (the page runs this
// module in a Web Worker that handles one message after another).

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>

#include "core/conversion.h"
#include "core/status.h"

#define KOVREL_EXPORT(name) extern "C" __attribute__((export_name(name)))

namespace {

// The results of the last kovrel_convert call.
struct Result {
  kovrel::Status status = kovrel::Status::kOk;
  std::string message;  // statusMessage's text; empty on success
  int width = 0;
  int height = 0;
  kovrel::Conversion conversion;  // empty unless converted
};

Result& lastResult() {
  static Result result;
  return result;
}

}  // namespace

// A buffer of size bytes for the page to fill; 0 when memory is exhausted.
KOVREL_EXPORT("kovrel_alloc") std::uint8_t* kovrelAlloc(std::size_t size) {
  return static_cast<std::uint8_t*>(std::malloc(size == 0 ? 1 : size));
}

// Releases a buffer from kovrel_alloc (0 is accepted and ignored).
KOVREL_EXPORT("kovrel_free") void kovrelFree(std::uint8_t* buffer) {
  std::free(buffer);
}

// Converts the TGA file in data[0 .. size): decodes it, quantises it and
// builds both tables and the preview, replacing the previous results.
// Returns the Status value (0 when converted); on failure no result bytes
// are kept and kovrel_message holds the program's message.
KOVREL_EXPORT("kovrel_convert") int kovrelConvert(const std::uint8_t* data, std::size_t size) {
  Result& result = lastResult();
  result = Result{};
  kovrel::Picture picture;
  result.status = kovrel::decodePicture(data, size, picture);
  if (result.status != kovrel::Status::kOk) {
    result.message = kovrel::statusMessage({result.status, std::string()});
    return static_cast<int>(result.status);
  }
  result.width = picture.image->width;
  result.height = picture.image->height;
  result.conversion = kovrel::convertPicture(std::move(picture), kovrel::Settings{}, nullptr);
  return static_cast<int>(result.status);
}

KOVREL_EXPORT("kovrel_width") int kovrelWidth() { return lastResult().width; }
KOVREL_EXPORT("kovrel_height") int kovrelHeight() { return lastResult().height; }
KOVREL_EXPORT("kovrel_run_count") std::uint32_t kovrelRunCount() { return lastResult().conversion.lineCount; }

// The message for the last failure, as UTF-8 bytes without a terminator.
KOVREL_EXPORT("kovrel_message_data") const char* kovrelMessageData() {
  return lastResult().message.data();
}
KOVREL_EXPORT("kovrel_message_size") std::size_t kovrelMessageSize() {
  return lastResult().message.size();
}

// The CHR file's bytes (BSAVE header included) of the last conversion.
KOVREL_EXPORT("kovrel_chr_data") const std::uint8_t* kovrelChrData() {
  return lastResult().conversion.pattern;
}
KOVREL_EXPORT("kovrel_chr_size") std::size_t kovrelChrSize() {
  return lastResult().conversion.tableSize;
}

// The CLR file's bytes (BSAVE header included) of the last conversion.
KOVREL_EXPORT("kovrel_clr_data") const std::uint8_t* kovrelClrData() {
  return lastResult().conversion.colour;
}
KOVREL_EXPORT("kovrel_clr_size") std::size_t kovrelClrSize() {
  return lastResult().conversion.tableSize;
}

// The preview TGA file's bytes of the last conversion.
KOVREL_EXPORT("kovrel_preview_data") const std::uint8_t* kovrelPreviewData() {
  return lastResult().conversion.preview;
}
KOVREL_EXPORT("kovrel_preview_size") std::size_t kovrelPreviewSize() {
  return lastResult().conversion.previewSize;
}
