// The converter core as a WebAssembly reactor for the web page.
//
// The page gives the picture once (kovrel_picture_file for a TGA file's
// bytes, kovrel_picture_rgba for pixels the browser decoded), then for each
// change of the settings (kovrel_settings, kovrel_palette) converts it with
// one call and reads the results through the accessors below: the same CHR,
// CLR and preview bytes the command-line program writes for that picture
// and those options.
// Pointers are offsets into the module's linear memory. Built without a
// JavaScript glue generator: the page calls these exports directly.
//
// Calls are not reentrant: one conversion at a time (the page runs this
// module in a Web Worker that handles one message after another).

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "colour/palette_file.h"
#include "core/conversion.h"
#include "core/status.h"
#include "image/fit.h"
#include "image/pixels.h"
#include "image/tga.h"
#include "screen/screen.h"
#include "tiles/tiles.h"

#define KOVREL_EXPORT(name) extern "C" __attribute__((export_name(name)))

namespace {

// The results of the last conversion.
struct Result {
  kovrel::Status status = kovrel::Status::kOk;
  std::string message;  // statusMessage's text; empty on success
  int width = 0;
  int height = 0;
  kovrel::Conversion conversion;  // empty unless converted
  std::vector<std::uint8_t> before;  // the picture as converted: fitted, adjusted; RGBA
};

Result& lastResult() {
  static Result result;
  return result;
}

kovrel::Settings& currentSettings() {
  static kovrel::Settings settings;
  return settings;
}

// The message of a failed palette call, kept apart from the conversion's.
std::string& paletteMessage() {
  static std::string message;
  return message;
}

// Starts a conversion's result afresh; false (and the message set) when the
// picture could not be decoded.
bool decoded(Result& result, kovrel::Status status) {
  result.status = status;
  if (status != kovrel::Status::kOk) {
    result.message = kovrel::statusMessage({status, std::string()});
    return false;
  }
  return true;
}

// The picture's pixels as the conversion starts on them, fitted and
// adjusted, as RGBA; a missing sample shows as 0.
void keepBefore(Result& result, const kovrel::WorkingImage& fitted) {
  const kovrel::WorkingImagePtr adjusted = kovrel::newWorkingImage();
  *adjusted = fitted;
  kovrel::adjustImage(*adjusted, currentSettings().adjustments);
  result.before.resize(static_cast<std::size_t>(fitted.width) * static_cast<std::size_t>(fitted.height) *
                       kovrel::kRgbaChannels);
  std::uint8_t* out = result.before.data();
  for (int y = 0; y < fitted.height; ++y) {
    const kovrel::Sample* in = adjusted->pixel(0, y);
    for (int x = 0; x < fitted.width; ++x, in += kovrel::kChannels, out += kovrel::kRgbaChannels) {
      for (int c = 0; c < kovrel::kChannels; ++c) {
        out[c] = static_cast<std::uint8_t>(kovrel::clampSample(in[c]) / kovrel::kSampleScale);
      }
      out[3] = 255;
    }
  }
}

int convertDecoded(Result& result, kovrel::Picture picture) {
  result.width = picture.image->width;
  result.height = picture.image->height;
  keepBefore(result, *picture.image);
  result.conversion = kovrel::convertPicture(std::move(picture), currentSettings(), nullptr);
  return static_cast<int>(result.status);
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

// Sets every setting but the palette for the conversions that follow, in
// the command line's units: dither 0 ... 100, brightness, contrast and
// saturation -100 ... 100, gamma in hundredths 10 ... 1000; fit 0 none,
// 1 crop, 2 letterbox, 3 stretch, to width x height; aspect 0 square, 1 tv;
// background 0xRRGGBB. Values outside their ranges are limited to them by
// the conversion (the fit's and aspect's to none and square).
KOVREL_EXPORT("kovrel_settings")
void kovrelSettings(int dither, int brightness, int contrast, int saturation, int gammaHundredths, int fit,
                    int width, int height, int aspect, std::uint32_t background) {
  kovrel::Settings& settings = currentSettings();
  settings.ditherPercent = dither;
  settings.adjustments.brightness = brightness;
  settings.adjustments.contrast = contrast;
  settings.adjustments.saturation = saturation;
  settings.adjustments.gammaHundredths = gammaHundredths;
  kovrel::Framing& framing = settings.framing;
  framing.fit = fit == 1 ? kovrel::Fit::kCrop
                : fit == 2 ? kovrel::Fit::kLetterbox
                : fit == 3 ? kovrel::Fit::kStretch
                           : kovrel::Fit::kNone;
  framing.width = width;
  framing.height = height;
  framing.aspect = aspect == 1 ? kovrel::PixelAspect::kTelevision : kovrel::PixelAspect::kSquare;
  framing.background = {static_cast<std::uint8_t>(background >> 16), static_cast<std::uint8_t>(background >> 8),
                        static_cast<std::uint8_t>(background)};
}

// Sets the palette for the conversions that follow: with size 0, the preset
// named name[0 .. nameSize); otherwise the palette file text[0 .. size),
// named name in messages, read as --palette reads a file. Returns 0, or the
// Status value with kovrel_palette_message holding the program's message;
// the palette is then unchanged.
KOVREL_EXPORT("kovrel_palette")
int kovrelPalette(const char* name, std::size_t nameSize, const char* text, std::size_t size) {
  paletteMessage().clear();
  const std::string label(name, nameSize);
  kovrel::Palette& palette = currentSettings().palette;
  if (size == 0) {
    const kovrel::Palette* preset = kovrel::palettePreset(label);
    if (preset == nullptr) {
      paletteMessage() = "No preset palette is named \"" + label + "\".";
      return static_cast<int>(kovrel::Status::kPaletteUnreadable);
    }
    palette = *preset;
    return 0;
  }
  const kovrel::Outcome parsed = kovrel::parsePalette(std::string(text, size), label, palette);
  if (parsed.status != kovrel::Status::kOk) {
    paletteMessage() = kovrel::statusMessage(parsed);
  }
  return static_cast<int>(parsed.status);
}

KOVREL_EXPORT("kovrel_palette_message_data") const char* kovrelPaletteMessageData() {
  return paletteMessage().data();
}
KOVREL_EXPORT("kovrel_palette_message_size") std::size_t kovrelPaletteMessageSize() {
  return paletteMessage().size();
}

// The picture the conversions read: the bytes of a file, or decoded pixels.
struct Source {
  bool isFile = false;
  std::vector<std::uint8_t> file;
  kovrel::RgbaPixels pixels;
};

Source& currentSource() {
  static Source source;
  return source;
}

// Makes the picture a file of size bytes (a TGA; builds without the PNG and
// JPEG libraries refuse those) and returns the buffer for the page to fill
// (never 0 for a size of 0); 0 when size is above kMaxTgaBytes, whereupon
// there is no picture. Running out of memory aborts the module (a trap).
KOVREL_EXPORT("kovrel_picture_file") std::uint8_t* kovrelPictureFile(std::size_t size) {
  Source& source = currentSource();
  source = Source{};
  if (size > kovrel::kMaxTgaBytes) {
    return nullptr;
  }
  source.isFile = true;
  source.file.reserve(1);
  source.file.resize(size);
  return source.file.data();
}

// Makes the picture width x height RGBA pixels (rows top down, 4 bytes a
// pixel: red, green, blue, alpha, as the program's PNG and JPEG readers give
// them) and returns their buffer for the page to fill; 0 when a side is
// outside 1 ... kMaxDecodedSide or there are more than kMaxDecodedPixels,
// whereupon there is no picture. Running out of memory aborts the module.
KOVREL_EXPORT("kovrel_picture_rgba") std::uint8_t* kovrelPictureRgba(int width, int height) {
  Source& source = currentSource();
  source = Source{};
  if (width < 1 || height < 1 || width > kovrel::kMaxDecodedSide || height > kovrel::kMaxDecodedSide ||
      static_cast<std::size_t>(width) * static_cast<std::size_t>(height) > kovrel::kMaxDecodedPixels) {
    return nullptr;
  }
  kovrel::resetPixels(source.pixels, width, height);
  return source.pixels.bytes.data();
}

// Converts the picture under the settings, as the program converts a file:
// a TGA is read by the core's reader, pixels are composited over the
// background and fitted by framePixels as a PNG's or JPEG's are. Quantises
// it and builds both tables and the preview, replacing the previous
// results; the picture is kept for the next call. Returns the Status value
// (0 when converted); on failure no result bytes are kept and
// kovrel_message holds the program's message.
KOVREL_EXPORT("kovrel_convert") int kovrelConvert() {
  Result& result = lastResult();
  result = Result{};
  const Source& source = currentSource();
  const kovrel::Framing& framing = currentSettings().framing;
  kovrel::Picture picture;
  kovrel::Status status = kovrel::Status::kUnsupportedFormat;
  if (source.isFile) {
    status = kovrel::decodePicture(source.file.data(), source.file.size(), picture, framing);
  } else if (source.pixels.width > 0) {
    picture.image = kovrel::newWorkingImage();
    status = kovrel::framePixels(source.pixels, framing, *picture.image, picture.header);
  }
  if (!decoded(result, status)) {
    return static_cast<int>(result.status);
  }
  return convertDecoded(result, std::move(picture));
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

// The picture as the last conversion started on it (fitted and adjusted),
// width x height RGBA pixels, rows top down.
KOVREL_EXPORT("kovrel_before_data") const std::uint8_t* kovrelBeforeData() {
  return lastResult().before.data();
}

// The preview TGA file's bytes of the last conversion.
KOVREL_EXPORT("kovrel_preview_data") const std::uint8_t* kovrelPreviewData() {
  return lastResult().conversion.preview;
}
KOVREL_EXPORT("kovrel_preview_size") std::size_t kovrelPreviewSize() {
  return lastResult().conversion.previewSize;
}

namespace {

// The whole-screen files of the last kovrel_screen_files call.
std::vector<kovrel::NamedBytes>& lastScreenFiles() {
  static std::vector<kovrel::NamedBytes> files;
  return files;
}

constexpr int kWantSc2 = 1;
constexpr int kWantRaw = 2;
constexpr int kWantC = 4;
constexpr int kWantAsm = 8;
constexpr int kWantRom = 16;

}  // namespace

// Makes the whole-screen files of the last conversion, as the program's
// --format does, named from the picture's file name name[0 .. nameSize) by
// the tables' rule: formats has 1 for sc2 (NAME.SC2), 2 for raw (NAME.pat,
// .col, .nam), 4 for c (NAME.h), 8 for asm (NAME.asm), 16 for rom (NAME.rom);
// centre: --place=centre; dedupe: --dedupe (raw, c and asm); packing:
// --compress, 0 none, 1 zx0, 2 pletter. Returns 0, or the Status value
// (kLargerThanScreen for a picture above 256 x 192) with kovrel_message
// holding the program's message and no files.
KOVREL_EXPORT("kovrel_screen_files")
int kovrelScreenFiles(int formats, int centre, int dedupe, int packing, const char* name, std::size_t nameSize) {
  std::vector<kovrel::NamedBytes>& files = lastScreenFiles();
  files.clear();
  Result& result = lastResult();
  if (result.conversion.pattern == nullptr) {
    return static_cast<int>(kovrel::Status::kUnsupportedFormat);
  }
  const std::string path(name, nameSize);
  kovrel::ScreenSettings screen;
  screen.placement = centre != 0 ? kovrel::Placement::kCentre : kovrel::Placement::kTopLeft;
  kovrel::ScreenTables plain;
  const kovrel::Status laid = kovrel::layOutScreen(result.conversion, screen, plain);
  if (laid != kovrel::Status::kOk) {
    result.message = kovrel::statusMessage({laid, path});
    return static_cast<int>(laid);
  }
  kovrel::ScreenFileChoice choice;
  choice.sc2 = (formats & kWantSc2) != 0;
  choice.raw = (formats & kWantRaw) != 0;
  choice.c = (formats & kWantC) != 0;
  choice.assembler = (formats & kWantAsm) != 0;
  choice.rom = (formats & kWantRom) != 0;
  choice.packing = packing == 1 ? kovrel::Packing::kZx0 : (packing == 2 ? kovrel::Packing::kPletter : kovrel::Packing::kNone);
  choice.romBackdrop = static_cast<std::uint8_t>(screen.backgroundColour & 0x0F);
  files = kovrel::screenFiles(path, plain, kovrel::sharedTables(plain, dedupe != 0, choice.packing), choice);
  return 0;
}

// The files of the last kovrel_screen_files call: how many, and each one's
// name (UTF-8, no terminator) and bytes.
KOVREL_EXPORT("kovrel_file_count") std::size_t kovrelFileCount() { return lastScreenFiles().size(); }
KOVREL_EXPORT("kovrel_file_name_data") const char* kovrelFileNameData(std::size_t i) {
  return lastScreenFiles()[i].path.data();
}
KOVREL_EXPORT("kovrel_file_name_size") std::size_t kovrelFileNameSize(std::size_t i) {
  return lastScreenFiles()[i].path.size();
}
KOVREL_EXPORT("kovrel_file_data") const std::uint8_t* kovrelFileData(std::size_t i) {
  return lastScreenFiles()[i].bytes.data();
}
KOVREL_EXPORT("kovrel_file_size") std::size_t kovrelFileSize(std::size_t i) {
  return lastScreenFiles()[i].bytes.size();
}
