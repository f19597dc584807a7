// A run's files: from one conversion and the output choices to the named
// files with their bytes, in the order they are written. The program writes
// them through its write stage; the web page offers them as downloads. Both
// take them from here, so that both give the same names and bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/status.h"
#include "core/conversion.h"
#include "image/output_file.h"
#include "screen/screen.h"

namespace kovrel {

// The files a run can write (--format), as bits.
enum Format : unsigned {
  kFormatChr = 1u << 0,  // NAME.CHR
  kFormatClr = 1u << 1,  // NAME.CLR
  kFormatTga = 1u << 2,  // NAME_tms.tga
  kFormatSc2 = 1u << 3,  // NAME.SC2
  kFormatRaw = 1u << 4,  // NAME.pat, NAME.col, NAME.nam
  kFormatC = 1u << 5,    // NAME.h
  kFormatAsm = 1u << 6,  // NAME.asm
  kFormatPng = 1u << 7,  // NAME_tms.png
  kFormatTi = 1u << 8,   // NAME_P, NAME_C: TI Artist's tables with TIFILES headers
  kFormatA99 = 1u << 9,  // NAME.a99: TMS9900 assembler
  kFormatRom = 1u << 10,  // NAME.rom, an MSX cartridge
};
constexpr unsigned kDefaultFormats = kFormatChr | kFormatClr | kFormatTga;
// The formats that hold a whole screen (and so refuse a larger picture).
constexpr unsigned kScreenFormats =
    kFormatSc2 | kFormatRaw | kFormatC | kFormatAsm | kFormatTi | kFormatA99 | kFormatRom;
// The formats whose tables --dedupe shares.
constexpr unsigned kSharedTileFormats = kFormatRaw | kFormatC | kFormatAsm | kFormatA99;
// The formats --compress packs (rom with zx0 only).
constexpr unsigned kPackedFormats = kFormatRaw | kFormatC | kFormatAsm | kFormatRom;

// What a run writes.
struct OutputChoice {
  unsigned formats = kDefaultFormats;
  ScreenSettings screen;  // --place, and the colour around a smaller picture
  bool dedupe = false;    // the raw, C and assembler files share alike tiles
  Packing packing = Packing::kNone;  // --compress: the raw, C and assembler tables packed; zx0 also the rom's
  // --output: empty for names beside the input; ending in '/' a folder for
  // them; otherwise the base name of every file.
  std::string output;
};

// The path of a run's file of the given extension ("CHR", "h", ...), or of
// its preview for preview: "tga" or "png".
//   Without output: a PNG or JPEG input (its name ends in .png, .jpg or
//   .jpeg, in any case) gives its path less that extension, then "." and the
//   extension (photo.jpeg gives photo.CHR, photo_tms.tga); any other input,
//   a TGA, is named by the tables' rule (tableFilePath, previewPath) as it
//   always was.
//   With output a folder: the same names, in that folder.
//   With output a base name: output, "." and the extension (output_tms.tga
//   for the preview).
std::string runFilePath(const std::string& inputPath, const std::string& output, const std::string& extension);
std::string runPreviewPath(const std::string& inputPath, const std::string& output, const std::string& extension);
// The path of a TI file: as runFilePath's, less any extension, then suffix
// ("_P" or "_C"): pic.tga gives pic_P, --output=out/title out/title_P.
std::string runTiPath(const std::string& inputPath, const std::string& output, const std::string& suffix);

// A run's files in the order they are written. A file's bytes lie in the
// conversion (CHR, CLR, preview TGA) or in owned, whose vectors' buffers
// stay where they are when the outer vector grows.
struct RunFiles {
  std::vector<OutputFile> files;
  std::vector<std::vector<std::uint8_t>> owned;
  ScreenTables shared;  // the raw, C and assembler files' tables (after --dedupe)
  // The packed sizes of shared's pattern, colour and name tables, when the
  // run packs them (choice.packing and raw, C or assembler); zeros otherwise.
  std::array<std::size_t, 3> packedSizes{};
};

// Fills run (which starts empty) with the files choice asks for, named by
// runFilePath, runPreviewPath and runTiPath: NAME.CHR, NAME.CLR,
// NAME_tms.tga, then the whole-screen files (screenFiles: NAME.SC2, the raw,
// C and assembler files, packed with choice.packing, then NAME.rom), NAME_P
// and NAME_C (tiFilesFile of the plainly laid out tables), NAME.a99
// (tiAssemblerText of the shared tables), then NAME_tms.png. The shared
// tables are sharedTables' (--dedupe, and the pixel-neutral choices with it
// or with a packing). Returns kOk,
// kLargerThanScreen (the outcome's path is inputPath) for a whole-screen
// format and a picture above 256 x 192, or kCannotCreate with the PNG's path
// when it cannot be encoded. Builds without the picture codecs (the web
// page's, which makes its PNG in the browser) make no PNG file.
Outcome runFiles(const std::string& inputPath, const Conversion& conversion, const OutputChoice& choice,
                 RunFiles& run);

// The one line saying that the files the machine loads by name (BLOAD) will
// not load under theirs, with a name that will, newline included; empty when
// they will, and for a run of the default formats.
std::string msxNameNote(const OutputChoice& choice, const RunFiles& run);

}  // namespace kovrel
