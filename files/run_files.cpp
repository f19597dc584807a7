#include "files/run_files.h"

#include <utility>

#include "image/tga.h"
#include "tiles/tiles.h"
#if KOVREL_PICTURE_CODECS
#include "image/png.h"
#endif

namespace kovrel {

Outcome runFiles(const std::string& inputPath, const Conversion& conversion, const OutputChoice& choice,
                 RunFiles& run) {
  const unsigned formats = choice.formats;
  const auto add = [&run](const std::string& path, std::vector<std::uint8_t> bytes) {
    run.owned.push_back(std::move(bytes));
    run.files.push_back({path, run.owned.back().data(), run.owned.back().size()});
  };
  if ((formats & kFormatChr) != 0) {
    run.files.push_back({tableFilePath(inputPath, "CHR"), conversion.pattern, conversion.tableSize});
  }
  if ((formats & kFormatClr) != 0) {
    run.files.push_back({tableFilePath(inputPath, "CLR"), conversion.colour, conversion.tableSize});
  }
  if ((formats & kFormatTga) != 0) {
    run.files.push_back({previewPath(inputPath), conversion.preview, conversion.previewSize});
  }
  if ((formats & kScreenFormats) != 0) {
    ScreenTables plain;
    const Status laid = layOutScreen(conversion, choice.screen, plain);
    if (laid != Status::kOk) {
      return {laid, inputPath};
    }
    run.shared = choice.dedupe ? dedupeTiles(plain) : plain;
    ScreenFileChoice screen;
    screen.sc2 = (formats & kFormatSc2) != 0;
    screen.raw = (formats & kFormatRaw) != 0;
    screen.c = (formats & kFormatC) != 0;
    screen.assembler = (formats & kFormatAsm) != 0;
    for (NamedBytes& file : screenFiles(inputPath, plain, run.shared, screen)) {
      add(file.path, std::move(file.bytes));
    }
  }
#if KOVREL_PICTURE_CODECS
  if ((formats & kFormatPng) != 0) {
    std::string png = previewPath(inputPath);
    png.replace(png.size() - 3, 3, "png");
    std::vector<std::uint8_t> bytes;
    if (encodePreviewPng(conversion.preview, conversion.image->width, conversion.image->height, bytes) !=
        Status::kOk) {
      return {Status::kCannotCreate, png};
    }
    add(png, std::move(bytes));
  }
#endif
  return {};
}

std::string msxNameNote(const OutputChoice& choice, const RunFiles& run) {
  if (choice.formats == kDefaultFormats ||
      (choice.formats & (kFormatChr | kFormatClr | kFormatSc2 | kFormatRaw)) == 0) {
    return {};  // a run with the default formats prints what it always printed
  }
  for (const OutputFile& file : run.files) {
    const std::string extension = file.path.substr(file.path.size() - 3);
    if (extension == "CHR" || extension == "CLR" || extension == "SC2" || extension == "pat") {
      std::string suggestion;
      if (isMsxFileName(file.path, suggestion)) {
        return {};
      }
      return "Note: " + file.path + " will not load by that name on an MSX, whose file names are 8.3;"
             " copy it under a name such as " + suggestion + ".\n";
    }
  }
  return {};
}

}  // namespace kovrel
