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

std::string lowerCase(std::string text) {
  for (char& c : text) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return text;
}

// Where a run's names start: a base path, and whether the tables' rule
// (which replaces the path's last characters) applies to it.
struct NameBase {
  std::string path;
  bool tableRule = false;
};

NameBase nameBase(const std::string& inputPath, const std::string& output) {
  if (!output.empty() && output.back() != '/') {
    return {output, false};
  }
  const std::size_t nameStart = inputPath.rfind('/') + 1;  // npos + 1 is 0
  const std::string path = output.empty() ? inputPath : output + inputPath.substr(nameStart);
  const std::size_t fileStart = path.rfind('/') + 1;
  const std::size_t dot = path.rfind('.');
  if (dot != std::string::npos && dot >= fileStart) {
    const std::string extension = lowerCase(path.substr(dot));
    if (extension == ".png" || extension == ".jpg" || extension == ".jpeg") {
      return {path.substr(0, dot), false};
    }
  }
  return {path, true};
}

}  // namespace

std::string runFilePath(const std::string& inputPath, const std::string& output, const std::string& extension) {
  const NameBase base = nameBase(inputPath, output);
  return base.tableRule ? tableFilePath(base.path, extension) : base.path + "." + extension;
}

std::string runPreviewPath(const std::string& inputPath, const std::string& output, const std::string& extension) {
  const NameBase base = nameBase(inputPath, output);
  if (!base.tableRule) {
    return base.path + "_tms." + extension;
  }
  std::string path = previewPath(base.path);
  return path.replace(path.size() - 3, 3, extension);
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
  const auto add = [&run](const std::string& path, std::vector<std::uint8_t> bytes) {
    run.owned.push_back(std::move(bytes));
    run.files.push_back({path, run.owned.back().data(), run.owned.back().size()});
  };
  if ((formats & kFormatChr) != 0) {
    run.files.push_back({runFilePath(inputPath, choice.output, "CHR"), conversion.pattern, conversion.tableSize});
  }
  if ((formats & kFormatClr) != 0) {
    run.files.push_back({runFilePath(inputPath, choice.output, "CLR"), conversion.colour, conversion.tableSize});
  }
  if ((formats & kFormatTga) != 0) {
    run.files.push_back({runPreviewPath(inputPath, choice.output, "tga"), conversion.preview, conversion.previewSize});
  }
  if ((formats & kScreenFormats) != 0) {
    const auto pathOf = [&](const std::string& extension) { return runFilePath(inputPath, choice.output, extension); };
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
    for (NamedBytes& file : screenFiles(pathOf, plain, run.shared, screen)) {
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
    const std::string png = runPreviewPath(inputPath, choice.output, "png");
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
