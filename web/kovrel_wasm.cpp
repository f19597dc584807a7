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
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "base/status.h"
#include "colour/palette_file.h"
#include "core/conversion.h"
#include "files/run_files.h"
#include "image/fit.h"
#include "image/pixels.h"
#include "image/tga.h"
#include "quality/perceptual.h"
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
  kovrel::WorkingImagePtr adjusted;  // the same, as the conversion started on it
  std::string report;                // kovrel_report's line
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
  kovrel::WorkingImagePtr adjusted = kovrel::newWorkingImage();
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
  result.adjusted = std::move(adjusted);
}

// The page's progress bar: called with each percentage the conversion
// reports, as it runs.
extern "C" __attribute__((import_module("kovrel"), import_name("progress"))) void pageProgress(int percent);

// The figures the core writes ("\b\b\b 7%" each time the share done rises)
// go to pageProgress.
ssize_t writeProgress(void*, const char* text, std::size_t size) {
  int figure = -1;
  for (std::size_t i = 0; i < size; ++i) {
    if (text[i] >= '0' && text[i] <= '9') {
      figure = (figure < 0 ? 0 : figure * 10) + (text[i] - '0');
    } else if (text[i] == '%' && figure >= 0) {
      pageProgress(figure);
      figure = -1;
    }
  }
  return static_cast<ssize_t>(size);
}

// Where the figures go: a stream to pageProgress, opened once. Only the
// optimiser reports them: the other methods end before a bar would help.
std::FILE* progressFile(const kovrel::Settings& settings) {
  if (settings.method != kovrel::Method::kOptimise) {
    return nullptr;
  }
  static std::FILE* const file = fopencookie(nullptr, "w", {nullptr, writeProgress, nullptr, nullptr});
  return file;
}

int convertDecoded(Result& result, kovrel::Picture picture) {
  result.width = picture.image->width;
  result.height = picture.image->height;
  keepBefore(result, *picture.image);
  result.conversion = kovrel::convertPicture(std::move(picture), currentSettings(), progressFile(currentSettings()));
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

// Sets the method and the error kernel for the conversions that follow, as
// their places in the command line's lists (--method: classic, linear,
// ordered; --kernel: floyd, atkinson, jjn, stucki, sierra). A number outside
// its list gives the default.
KOVREL_EXPORT("kovrel_method") void kovrelMethod(int method, int kernel) {
  kovrel::Settings& settings = currentSettings();
  const int methods = static_cast<int>(std::size(kovrel::kMethodNames));
  const int kernels = static_cast<int>(std::size(kovrel::kKernelNames));
  settings.method = kovrel::kMethodNames[method >= 0 && method < methods ? method : 0].method;
  settings.kernel = kovrel::kKernelNames[kernel >= 0 && kernel < kernels ? kernel : 0].kernel;
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

// Measures how far the last conversion's preview looks from the picture as
// converted, as --report does, and returns the length of the line it
// prints (newline included; 0 when nothing was converted); the line's bytes
// are at kovrel_report_data.
KOVREL_EXPORT("kovrel_report") std::size_t kovrelReport() {
  Result& result = lastResult();
  result.report.clear();
  if (result.conversion.image && result.adjusted) {
    result.report = kovrel::perceptualReport(*result.adjusted, *result.conversion.image);
  }
  return result.report.size();
}
KOVREL_EXPORT("kovrel_report_data") const char* kovrelReportData() {
  return lastResult().report.data();
}

// The preview TGA file's bytes of the last conversion.
KOVREL_EXPORT("kovrel_preview_data") const std::uint8_t* kovrelPreviewData() {
  return lastResult().conversion.preview;
}
KOVREL_EXPORT("kovrel_preview_size") std::size_t kovrelPreviewSize() {
  return lastResult().conversion.previewSize;
}

namespace {

// The files of the last kovrel_files call, and the names asked of
// kovrel_file_path.
kovrel::RunFiles& lastRunFiles() {
  static kovrel::RunFiles files;
  return files;
}

std::string& lastPath() {
  static std::string path;
  return path;
}

}  // namespace

// Makes the files of the last conversion that the program writes with
// --format, --place, --dedupe, --compress and --output, through the same core
// function: formats holds the program's format bits (files/run_files.h: 1 chr,
// 2 clr, 4 tga, 8 sc2, 16 raw, 32 c, 64 asm, 256 ti, 512 a99, 1024 rom; this
// build makes no PNG, 128, which the page encodes itself); centre:
// --place=centre; dedupe: --dedupe; packing: --compress, 0 none, 1 zx0,
// 2 pletter; the picture's file name name[0 .. nameSize) and --output's value
// output[0 .. outputSize) (empty when not given) name them. The background
// around a smaller picture follows the settings' background colour.
// Returns 0, or the Status value (kLargerThanScreen for a picture above
// 256 x 192 with a whole-screen format) with kovrel_message holding the
// program's message and no files.
KOVREL_EXPORT("kovrel_files")
int kovrelFiles(unsigned formats, int centre, int dedupe, int packing, const char* name, std::size_t nameSize,
                const char* output, std::size_t outputSize) {
  kovrel::RunFiles& files = lastRunFiles();
  files = kovrel::RunFiles{};
  Result& result = lastResult();
  if (result.conversion.pattern == nullptr) {
    return static_cast<int>(kovrel::Status::kUnsupportedFormat);
  }
  const std::string path(name, nameSize);
  kovrel::OutputChoice choice;
  choice.formats = formats & ~static_cast<unsigned>(kovrel::kFormatPng);
  choice.screen.placement = centre != 0 ? kovrel::Placement::kCentre : kovrel::Placement::kTopLeft;
  const kovrel::Settings& settings = currentSettings();
  choice.screen.backgroundColour = kovrel::backgroundColourByte(settings.palette, settings.framing.background);
  choice.dedupe = dedupe != 0;
  choice.packing = packing == 1 ? kovrel::Packing::kZx0
                                : (packing == 2 ? kovrel::Packing::kPletter : kovrel::Packing::kNone);
  choice.output.assign(output, outputSize);
  const kovrel::Outcome made = kovrel::runFiles(path, result.conversion, choice, files);
  if (made.status != kovrel::Status::kOk) {
    files = kovrel::RunFiles{};
    result.message = kovrel::statusMessage(made);
    return static_cast<int>(made.status);
  }
  return 0;
}

// The files of the last kovrel_files call: how many, and each one's name
// (UTF-8, no terminator) and bytes.
KOVREL_EXPORT("kovrel_file_count") std::size_t kovrelFileCount() { return lastRunFiles().files.size(); }
KOVREL_EXPORT("kovrel_file_name_data") const char* kovrelFileNameData(std::size_t i) {
  return lastRunFiles().files[i].path.data();
}
KOVREL_EXPORT("kovrel_file_name_size") std::size_t kovrelFileNameSize(std::size_t i) {
  return lastRunFiles().files[i].path.size();
}
KOVREL_EXPORT("kovrel_file_data") const std::uint8_t* kovrelFileData(std::size_t i) {
  return lastRunFiles().files[i].data;
}
KOVREL_EXPORT("kovrel_file_size") std::size_t kovrelFileSize(std::size_t i) {
  return lastRunFiles().files[i].size;
}

// The name the program gives a file of the picture named name[0 ..
// nameSize) with --output's value output[0 .. outputSize): with preview 0,
// the file of extension[0 .. extensionSize) ("CHR", "SC2", ...); with 1,
// the preview of that extension ("tga", "png"). Read it with
// kovrel_path_data and kovrel_path_size.
KOVREL_EXPORT("kovrel_file_path")
void kovrelFilePath(const char* name, std::size_t nameSize, const char* output, std::size_t outputSize,
                    const char* extension, std::size_t extensionSize, int preview) {
  const std::string path(name, nameSize), out(output, outputSize), kind(extension, extensionSize);
  lastPath() = preview != 0 ? kovrel::runPreviewPath(path, out, kind) : kovrel::runFilePath(path, out, kind);
}
KOVREL_EXPORT("kovrel_path_data") const char* kovrelPathData() { return lastPath().data(); }
KOVREL_EXPORT("kovrel_path_size") std::size_t kovrelPathSize() { return lastPath().size(); }
