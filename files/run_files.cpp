#include "files/run_files.h"

#include <cctype>
#include <utility>

#include "image/tga.h"
#include "tiles/tiles.h"
#if KOVREL_PICTURE_CODECS
#include "image/png.h"
#endif

namespace kovrel {
namespace {

// True when text from at on is ending, letters in any case.
bool endsAs(const std::string& text, std::size_t at, const char* ending) {
  for (; at < text.size() && *ending != '\0'; ++at, ++ending) {
    if (std::tolower(static_cast<unsigned char>(text[at])) != *ending) {
      return false;
    }
  }
  return at == text.size() && *ending == '\0';
}

// Where a run's names start: a base path, and whether the tables' rule
// (which replaces the path's last characters) applies to it.
struct NameBase {
  std::string path;
  bool tableRule = false;
};

// True when the file name in path (which starts at nameStart) ends in the
// extension of a picture format other than TGA (.png, .jpg, .jpeg, .gif,
// .bmp, .webp), in any case; dot is then where that ending starts.
bool isOtherPictureName(const std::string& path, std::size_t nameStart, std::size_t& dot) {
  dot = path.rfind('.');
  if (dot == std::string::npos || dot < nameStart || path.size() - dot < 4 || path.size() - dot > 5) {
    return false;
  }
  for (const char* extension : {".png", ".jpg", ".jpeg", ".gif", ".bmp", ".webp"}) {
    if (endsAs(path, dot, extension)) {
      return true;
    }
  }
  return false;
}

NameBase nameBase(const std::string& inputPath, const std::string& output) {
  if (!output.empty() && output.back() != '/') {
    return {output, false};
  }
  const std::size_t nameStart = inputPath.rfind('/') + 1;  // npos + 1 is 0
  std::size_t dot = 0;
  if (output.empty()) {
    if (isOtherPictureName(inputPath, nameStart, dot)) {
      return {inputPath.substr(0, dot), false};
    }
    return {inputPath, true};
  }
  std::string path = output + inputPath.substr(nameStart);
  if (isOtherPictureName(path, output.size(), dot)) {
    path.erase(dot);
    return {path, false};
  }
  return {path, true};
}

std::string filePath(const NameBase& base, const std::string& extension) {
  return base.tableRule ? tableFilePath(base.path, extension) : base.path + "." + extension;
}

std::string previewFilePath(const NameBase& base, const std::string& extension) {
  if (!base.tableRule) {
    return base.path + "_tms." + extension;
  }
  std::string path = previewPath(base.path);
  return path.replace(path.size() - 3, 3, extension);
}

}  // namespace

std::string runFilePath(const std::string& inputPath, const std::string& output, const std::string& extension) {
  return filePath(nameBase(inputPath, output), extension);
}

std::string runPreviewPath(const std::string& inputPath, const std::string& output, const std::string& extension) {
  return previewFilePath(nameBase(inputPath, output), extension);
}

std::string runTiPath(const std::string& inputPath, const std::string& output, const std::string& suffix) {
  std::string stem = nameBase(inputPath, output).path;
  const std::size_t dot = stem.rfind('.');
  if (dot != std::string::npos && dot >= stem.rfind('/') + 1 && (output.empty() || output.back() == '/')) {
    stem.erase(dot);
  }
  return stem + suffix;
}

Outcome runFiles(const std::string& inputPath, const Conversion& conversion, const OutputChoice& choice,
                 RunFiles& run) {
  const unsigned formats = choice.formats;
  const NameBase base = nameBase(inputPath, choice.output);
  const auto add = [&run](const std::string& path, std::vector<std::uint8_t> bytes) {
    run.owned.push_back(std::move(bytes));
    run.files.push_back({path, run.owned.back().data(), run.owned.back().size()});
  };
  if ((formats & kFormatChr) != 0) {
    run.files.push_back({filePath(base, "CHR"), conversion.pattern, conversion.tableSize});
  }
  if ((formats & kFormatClr) != 0) {
    run.files.push_back({filePath(base, "CLR"), conversion.colour, conversion.tableSize});
  }
  if ((formats & kFormatTga) != 0) {
    run.files.push_back({previewFilePath(base, "tga"), conversion.preview, conversion.previewSize});
  }
  if ((formats & kScreenFormats) != 0) {
    const auto pathOf = [&base](const std::string& extension) { return filePath(base, extension); };
    ScreenTables plain;
    const Status laid = layOutScreen(conversion, choice.screen, plain);
    if (laid != Status::kOk) {
      return {laid, inputPath};
    }
    run.shared = sharedTables(plain, choice.dedupe, choice.packing);
    ScreenFileChoice screen;
    screen.sc2 = (formats & kFormatSc2) != 0;
    screen.raw = (formats & kFormatRaw) != 0;
    screen.c = (formats & kFormatC) != 0;
    screen.assembler = (formats & kFormatAsm) != 0;
    screen.rom = (formats & kFormatRom) != 0;
    screen.packing = choice.packing;
    screen.romBackdrop = static_cast<std::uint8_t>(choice.screen.backgroundColour & 0x0F);
    for (NamedBytes& file : screenFiles(pathOf, plain, run.shared, screen, &run.packedSizes)) {
      add(file.path, std::move(file.bytes));
    }
    if ((formats & kFormatTi) != 0) {
      for (const auto& [suffix, table] : {std::make_pair("_P", &plain.pattern), std::make_pair("_C", &plain.colour)}) {
        const std::string path = runTiPath(inputPath, choice.output, suffix);
        add(path, tiFilesFile(*table, tiDiskName(path, suffix)));
      }
    }
    if ((formats & kFormatA99) != 0) {
      const std::string source = pathOf("a99");
      const std::string text = tiAssemblerText(run.shared, tiLabelPrefix(source));
      add(source, std::vector<std::uint8_t>(text.begin(), text.end()));
    }
  }
#if KOVREL_PICTURE_CODECS
  if ((formats & kFormatPng) != 0) {
    const std::string png = previewFilePath(base, "png");
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
