#include "base/status.h"

namespace kovrel {

std::string statusMessage(const Outcome& outcome) {
  const auto where = [&outcome] {
    return "Palette file " + outcome.path + ", line " + std::to_string(outcome.line) + ": ";
  };
  switch (outcome.status) {
    case Status::kOk:
      return {};
    case Status::kCannotOpen:
      return "cannot open " + outcome.path + " file!\n";
    case Status::kUnsupportedFormat:
      return "Unsupported file format!\n";
    case Status::kUnsupportedSize:
      // The size message has no newline of its own.
      return "Unsupported size!";
    case Status::kPictureTooLarge:
      // The size message first, as for a TGA, then how to go on.
      return "Unsupported size!\nThe picture is larger than 512 x 512: --fit=crop, --fit=letterbox or "
             "--fit=stretch scales it to the screen (kovrel --help).\n";
    case Status::kPictureTooLargeToRead:
      return outcome.path + ": the picture is larger than Kovrel reads (32768 pixels a side, "
             "67 million pixels in all).\n";
    case Status::kDamagedPng:
      return outcome.path + ": the PNG file is damaged or cut short.\n";
    case Status::kDamagedJpeg:
      return outcome.path + ": the JPEG file is damaged or cut short.\n";
    case Status::kCmykJpeg:
      return outcome.path + ": a CMYK JPEG, which Kovrel does not read; save it as an RGB or greyscale "
             "JPEG, or as a PNG.\n";
    case Status::kUnsupportedJpeg:
      return outcome.path + ": a kind of JPEG Kovrel does not read (12-bit, lossless or hierarchical); "
             "save it as an 8-bit JPEG or as a PNG.\n";
    case Status::kDamagedGif:
      return outcome.path + ": the GIF file is damaged or cut short, or holds no picture.\n";
    case Status::kDamagedBmp:
      return outcome.path + ": the BMP file is damaged or cut short, or of a kind Kovrel does not read "
             "(RLE-compressed); save it as an uncompressed BMP or as a PNG.\n";
    case Status::kDamagedWebp:
      return outcome.path + ": the WebP file is damaged or cut short.\n";
    case Status::kJpegComponents:
      return outcome.path + ": a JPEG whose colour components are neither greyscale (1) nor colour (3), "
             "which Kovrel does not read; save it as an RGB or greyscale JPEG, or as a PNG.\n";
    case Status::kJpegTooManyScans:
      return outcome.path + ": the JPEG file has more than 100 scans, more than Kovrel reads (an encoder "
             "writes about 10); save it again as a JPEG or as a PNG.\n";
    case Status::kPictureFileTooLarge:
      return outcome.path + ": the file is larger than 512 MiB, more than Kovrel reads of a picture file.\n";
    case Status::kCannotCreate:
      return "cannot create " + outcome.path + " file!\n";
    case Status::kPaletteUnreadable:
      return "Palette file " + outcome.path + " cannot be read.\n";
    case Status::kPaletteTooLarge:
      return "Palette file " + outcome.path + " is larger than 1 MiB, more than a palette file can be.\n";
    case Status::kPaletteBadLine:
      return where() + "not a colour: a palette file has lines of RRGGBB or #RRGGBB, or is a GIMP palette.\n";
    case Status::kPaletteBadValue:
      return where() + "a colour component is not a whole number from 0 to 255.\n";
    case Status::kPaletteTooMany:
      return where() + "a 17th colour; a palette has 15 colours (1 to 15) or 16 (0 to 15).\n";
    case Status::kPaletteTooFew:
      return where() + "too few colours; a palette has 15 colours (1 to 15) or 16 (0 to 15).\n";
    case Status::kCannotRestore:
      return "cannot put back " + outcome.path + " file!\n";
    case Status::kOutOfMemory:
      return "out of memory\n";
    case Status::kInterrupted:
      return "interrupted\n";
    case Status::kLargerThanScreen:
      return outcome.path + " is larger than the 256 x 192 screen, which the sc2, raw, c, asm, ti and a99 formats hold: "
             "scale it to fit first (--fit).\n";
    case Status::kLargerThanScreenFitted:
      return outcome.path + " fitted to --size is larger than the 256 x 192 screen, which the sc2, raw, c, asm, ti "
             "and a99 formats hold: give --size at most 256x192.\n";
  }
  return {};
}

}  // namespace kovrel
