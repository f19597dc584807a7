// kovrel: converts a 24-bit TGA picture into TMS9918 screen 2 pattern and
// colour tables, plus a preview picture.
//
// Exit status: 0 when the conversion completed, 1 when the input was
// rejected or an output could not be written, 2 for a usage error: no
// picture given, or a bad option.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "core/conversion.h"
#include "core/status.h"
#include "driver/options.h"
#include "image/output_file.h"
#include "image/png.h"
#include "image/tga.h"
#include "quantise/quantise.h"
#include "screen/screen.h"
#include "tiles/tiles.h"

namespace {

constexpr int kExitConverted = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

void print(const std::string& text) {
  std::fputs(text.c_str(), stdout);
}

// No output may replace the input itself, whatever its spelling.
kovrel::Outcome findOutputClash(const std::string& inputPath, const std::vector<kovrel::OutputFile>& outputs) {
  for (const kovrel::OutputFile& output : outputs) {
    if (kovrel::isSameFile(inputPath, output.path)) {
      return {kovrel::Status::kCannotCreate, output.path};
    }
  }
  return {};
}

// The bytes of a run's files in the formats asked for, named from the
// input path, in the order they are written; the vectors hold the bytes
// the OutputFiles point to.
struct RunOutputs {
  std::vector<kovrel::OutputFile> files;
  std::vector<std::vector<std::uint8_t>> bytes;
  kovrel::ScreenTables shared;  // the raw, C and asm files' tables
  std::array<std::size_t, 3> packedSizes{};  // of shared's tables, with --compress
};

kovrel::Outcome collectOutputs(const std::string& path, const kovrel::driver::CommandLine& line,
                               const kovrel::Conversion& conversion, RunOutputs& run) {
  namespace d = kovrel::driver;
  const unsigned formats = line.formats;
  const auto add = [&run](const std::string& name, std::vector<std::uint8_t> bytes) {
    run.bytes.push_back(std::move(bytes));
    run.files.push_back({name, run.bytes.back().data(), run.bytes.back().size()});
  };
  run.bytes.reserve(11);  // every format's files: no reallocation moves the bytes
  if ((formats & d::kFormatChr) != 0) {
    run.files.push_back({kovrel::tableFilePath(path, "CHR"), conversion.pattern, conversion.tableSize});
  }
  if ((formats & d::kFormatClr) != 0) {
    run.files.push_back({kovrel::tableFilePath(path, "CLR"), conversion.colour, conversion.tableSize});
  }
  if ((formats & d::kFormatTga) != 0) {
    run.files.push_back({kovrel::previewPath(path), conversion.preview, conversion.previewSize});
  }
  if ((formats & d::kScreenFormats) != 0) {
    kovrel::ScreenTables plain;
    const kovrel::Status laid = kovrel::layOutScreen(conversion, line.screen, plain);
    if (laid != kovrel::Status::kOk) {
      return {laid, path};
    }
    run.shared = kovrel::sharedTables(plain, line.dedupe, line.packing);
    kovrel::ScreenFileChoice choice;
    choice.sc2 = (formats & d::kFormatSc2) != 0;
    choice.raw = (formats & d::kFormatRaw) != 0;
    choice.c = (formats & d::kFormatC) != 0;
    choice.assembler = (formats & d::kFormatAsm) != 0;
    choice.rom = (formats & d::kFormatRom) != 0;
    choice.packing = line.packing;
    choice.romBackdrop = static_cast<std::uint8_t>(line.screen.backgroundColour & 0x0F);
    for (kovrel::NamedBytes& file : kovrel::screenFiles(path, plain, run.shared, choice, &run.packedSizes)) {
      add(file.path, std::move(file.bytes));
    }
  }
  if ((formats & d::kFormatPng) != 0) {
    std::string png = kovrel::previewPath(path);
    png.replace(png.size() - 3, 3, "png");
    std::vector<std::uint8_t> bytes;
    if (kovrel::encodePreviewPng(conversion, bytes) != kovrel::Status::kOk) {
      return {kovrel::Status::kCannotCreate, png};
    }
    add(png, std::move(bytes));
  }
  return {};
}

// The one line saying that the files the machine loads by name (BLOAD)
// will not load under theirs, with a name that will; empty when they will.
std::string msxNameNote(const kovrel::driver::CommandLine& line, const RunOutputs& run) {
  namespace d = kovrel::driver;
  if (line.formats == d::kDefaultFormats ||
      (line.formats & (d::kFormatChr | d::kFormatClr | d::kFormatSc2 | d::kFormatRaw)) == 0) {
    return {};  // a run with the default formats prints what it always printed
  }
  for (const kovrel::OutputFile& file : run.files) {
    const std::string extension = file.path.substr(file.path.size() - 3);
    if (extension == "CHR" || extension == "CLR" || extension == "SC2" || extension == "pat") {
      std::string suggestion;
      if (kovrel::isMsxFileName(file.path, suggestion)) {
        return {};
      }
      return "Note: " + file.path + " will not load by that name on an MSX, whose file names are 8.3;"
             " copy it under a name such as " + suggestion + ".\n";
    }
  }
  return {};
}

int fail(const kovrel::Outcome& outcome) {
  print(kovrel::statusMessage(outcome));
  std::fflush(stdout);
  return kExitFailed;
}

}  // namespace

int main(int argc, char** argv) try {
  const kovrel::driver::CommandLine line = kovrel::driver::parseCommandLine(argc, argv);
  if (line.error.empty() && (line.help || line.version)) {
    print(line.help ? kovrel::driver::helpText() : "Kovrel 1.0\n");
    return kExitConverted;
  }
  print("Kovrel 1.0 - TGA to TMS9918 screen 2 converter\n");
  print("Exhaustive colour-pair search per 8-pixel line, with error diffusion\n");
  print("\n");
  print("Credits to Mirtoven for his Floyd-Steinberg implementation.\n \n");
  if (!line.error.empty()) {
    print(line.error);
    return kExitUsage;
  }
  if (!line.hasPicture) {
    print("Syntax: Kovrel [file.tga]\n");
    return kExitUsage;
  }
  const std::string& path = line.picture;

  kovrel::Picture picture;
  const kovrel::Outcome read = kovrel::readPicture(path, picture, line.settings.framing);
  if (read.status != kovrel::Status::kOk) {
    return fail(read);
  }
  if ((line.formats & kovrel::driver::kScreenFormats) != 0 &&
      kovrel::checkScreenFits(picture.image->width, picture.image->height) != kovrel::Status::kOk) {
    return fail({kovrel::Status::kLargerThanScreen, path});
  }

  print(kovrel::driver::settingsLine(line));
  const kovrel::WorkingImage& image = *picture.image;
  std::printf("Converting %s (%i,%i) to TMS9918 format ", path.c_str(), image.width, image.height);
  std::printf("in (%i,%i) screen 2 tiles...    ", image.tileColumns(), image.tileRows());
  std::fflush(stdout);
  const kovrel::Conversion conversion = kovrel::convertPicture(std::move(picture), line.settings, stdout);
  print("\b\b\bOk   \n");

  RunOutputs outputs;
  const kovrel::Outcome collected = collectOutputs(path, line, conversion, outputs);
  if (collected.status != kovrel::Status::kOk) {
    return fail(collected);
  }
  const kovrel::Outcome clash = findOutputClash(path, outputs.files);
  if (clash.status != kovrel::Status::kOk) {
    return fail(clash);
  }
  // All outputs are written together: a run that fails leaves every
  // existing output as it was.
  const kovrel::Outcome written = kovrel::writeOutputFiles(outputs.files);
  if (written.status != kovrel::Status::kOk) {
    return fail(written);
  }

  // The count is the colour pairs the line search evaluated.
  const double combinations = static_cast<double>(kovrel::kPairCount) * conversion.lineCount / 1000000.0;
  // Processor time, read as whole milliseconds.
  const auto milliseconds = static_cast<long long>(std::clock()) * 1000 / CLOCKS_PER_SEC;
  std::printf("%.2f million combinations analysed in %.2f seconds.\n", combinations,
              static_cast<double>(milliseconds) / 1000.0);
  if (line.dedupe) {
    const auto& unique = outputs.shared.uniqueTiles;
    std::printf("Unique tiles per third: %i, %i, %i (of 256 each).\n", unique[0], unique[1], unique[2]);
  }
  if (line.packing != kovrel::Packing::kNone && (line.formats & kovrel::driver::kSharedTileFormats) != 0) {
    const auto& packed = outputs.packedSizes;
    const kovrel::ScreenTables& shared = outputs.shared;
    std::printf("Packed with %s: pattern %zu of %zu bytes, colour %zu of %zu, name %zu of %zu.\n",
                kovrel::packingName(line.packing), packed[0], shared.pattern.size(), packed[1],
                shared.colour.size(), packed[2], shared.name.size());
  }
  print(msxNameNote(line, outputs));
  if ((line.formats & (kovrel::driver::kFormatChr | kovrel::driver::kFormatClr)) != 0) {
    print("Note: the .CLR and .CHR files have correct headers only for 256x192 images. \n");
  }
  return kExitConverted;
} catch (const std::bad_alloc&) {
  // Raised before any output is staged (the write stage reports its own);
  // nothing has been written.
  return fail({kovrel::Status::kOutOfMemory, {}});
}
