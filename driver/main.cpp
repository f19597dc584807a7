// kovrel: converts a 24-bit TGA picture into TMS9918 screen 2 pattern and
// colour tables, plus a preview picture.
//
// Exit status: 0 when the conversion completed, 1 when the input was
// rejected or an output could not be written, 2 for a usage error: no
// picture given, or a bad option.

#include <cstdio>
#include <ctime>
#include <new>
#include <string>
#include <vector>

#include "base/status.h"
#include "core/conversion.h"
#include "driver/options.h"
#include "files/run_files.h"
#include "image/output_file.h"
#include "image/tga.h"
#include "quantise/quantise.h"
#include "screen/screen.h"

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

// The output choices the command line made.
kovrel::OutputChoice outputChoice(const kovrel::driver::CommandLine& line) {
  kovrel::OutputChoice choice;
  choice.formats = line.formats;
  choice.screen = line.screen;
  if ((line.formats & kovrel::kScreenFormats) != 0) {
    choice.screen.backgroundColour =
        kovrel::backgroundColourByte(line.settings.palette, line.settings.framing.background);
  }
  choice.dedupe = line.dedupe;
  // An existing folder named without its closing '/' is still a folder.
  choice.output = line.output;
  if (!choice.output.empty() && choice.output.back() != '/' && kovrel::isFolder(choice.output)) {
    choice.output += '/';
  }
  return choice;
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
  if ((line.formats & kovrel::kScreenFormats) != 0 &&
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

  const kovrel::OutputChoice choice = outputChoice(line);
  kovrel::RunFiles outputs;
  const kovrel::Outcome collected = kovrel::runFiles(path, conversion, choice, outputs);
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
  print(kovrel::msxNameNote(choice, outputs));
  if ((line.formats & (kovrel::kFormatChr | kovrel::kFormatClr)) != 0) {
    print("Note: the .CLR and .CHR files have correct headers only for 256x192 images. \n");
  }
  return kExitConverted;
} catch (const std::bad_alloc&) {
  // Raised before any output is staged (the write stage reports its own);
  // nothing has been written.
  return fail({kovrel::Status::kOutOfMemory, {}});
}
