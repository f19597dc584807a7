// Outcome of a core step. Errors are values: every step that can fail
// returns one of these, and only the driver turns it into console text.
#pragma once

#include <string>

namespace kovrel {

enum class Status {
  kOk,
  kCannotOpen,         // input file could not be opened
  kUnsupportedFormat,  // not an uncompressed 24-bit bottom-left TGA
  kUnsupportedSize,    // a side is 0 or larger than kMaxSide
  kPictureTooLarge,    // a PNG or JPEG side above kMaxSide, and no fit asked for
  kPictureTooLargeToRead,  // a PNG or JPEG beyond the decoders' limits (image/pixels.h)
  kDamagedPng,         // a PNG file that is damaged or cut short
  kDamagedJpeg,        // a JPEG file that is damaged or cut short
  kCmykJpeg,           // a CMYK or YCCK JPEG
  kUnsupportedJpeg,    // a JPEG process libjpeg-turbo does not decode (12-bit, lossless, ...)
  kDamagedGif,         // a GIF file that is damaged, cut short or has no frame
  kDamagedBmp,         // a BMP file that is damaged, cut short or of a kind not read (RLE)
  kDamagedWebp,        // a WebP file that is damaged or cut short
  kJpegComponents,     // a JPEG of neither 1 (grey) nor 3 (colour) components, nor CMYK
  kJpegTooManyScans,   // a JPEG of more than kMaxJpegScans scans
  kPictureFileTooLarge,  // a PNG or JPEG file larger than kMaxPictureFileBytes
  kCannotCreate,       // an output file could not be written completely
  kCannotRestore,      // after a failed output, an earlier one could not be put back
  kOutOfMemory,        // the system refused memory
  kInterrupted,        // a stop signal arrived while the outputs were written
  // A palette file (the path) that cannot be used:
  kPaletteUnreadable,  // it cannot be opened or read
  kPaletteTooLarge,    // it is larger than kMaxPaletteFileBytes
  kPaletteBadLine,     // a line is neither a colour nor one to ignore
  kPaletteBadValue,    // a colour component is not 0 ... 255
  kPaletteTooMany,     // a 17th colour
  kPaletteTooFew,      // fewer than 15 colours
  kLargerThanScreen,   // wider than 256 or higher than 192, for a whole-screen format
  kLargerThanScreenFitted,  // the same, for a picture fitted to a --size above 256 x 192
};

// A status together with the path it concerns (the input for read errors,
// the failing output for write errors, the palette file) and, for a palette
// file, the line (counted from 1; for too few colours, the last line).
struct Outcome {
  Status status = Status::kOk;
  std::string path;
  int line = 0;
};

// The exact console text for an outcome, newline included where the program
// prints one. kOk gives an empty string.
std::string statusMessage(const Outcome& outcome);

}  // namespace kovrel
