// kovrel: converts a 24-bit TGA picture into TMS9918 screen 2 pattern and
// colour tables, plus a preview picture.
//
// Exit status: 0 when the conversion completed, 1 when the input was
// rejected or an output could not be written, 2 for a usage error: no
// picture given, or a bad option.

#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "base/status.h"
#include "core/conversion.h"
#include "driver/options.h"
#include "files/run_files.h"
#include "image/output_file.h"
#include "image/tga.h"
#include "os/os.h"
#include "quality/perceptual.h"
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
  choice.packing = line.packing;
  // An existing folder named without its closing '/' is still a folder.
  choice.output = line.output;
  if (!choice.output.empty() && choice.output.back() != '/' && kovrel::isFolder(choice.output)) {
    choice.output += '/';
  }
  return choice;
}

// Where a run's text goes. Without --quiet everything goes to standard
// output, as it always has; with it only errors and warnings are written,
// to standard error, one line each.
struct Console {
  bool quiet = false;
  bool batch = false;  // every message ends its line, so the next picture's text starts a new one

  // Progress and results: standard output, unless quiet.
  void say(const std::string& text) const {
    if (!quiet) {
      print(text);
    }
  }
  // A warning: standard output as part of the usual text, standard error
  // when quiet.
  void warn(const std::string& text) const {
    if (quiet) {
      std::fputs(text.c_str(), stderr);
    } else {
      print(text);
    }
  }
  // An error about path (empty for none), as the usual text or as one line
  // on standard error that names the picture.
  void error(const std::string& text, const std::string& path) const {
    if (!quiet) {
      print(batch && !text.empty() && text.back() != '\n' ? text + "\n" : text);
      std::fflush(stdout);
      return;
    }
    std::string line = text;
    for (char& c : line) {
      if (c == '\n') {
        c = ' ';
      }
    }
    while (!line.empty() && line.back() == ' ') {
      line.pop_back();
    }
    if (!path.empty() && line.find(path) == std::string::npos) {
      line = path + ": " + line;
    }
    std::fputs(("kovrel: " + line + "\n").c_str(), stderr);
  }
};

// Set when the write stage was stopped by a signal: a batch goes no further.
bool interrupted = false;

int fail(const Console& console, const kovrel::Outcome& outcome, const std::string& picture) {
  interrupted = interrupted || outcome.status == kovrel::Status::kInterrupted;
  console.error(kovrel::statusMessage(outcome), picture);
  return kExitFailed;
}

// The line saying that CHR and CLR files of a picture that is not the whole
// screen will not BLOAD as one; empty when they will. A TGA run's text is
// the one it has always been, so it is left out there.
std::string partialScreenNote(const kovrel::driver::CommandLine& line, bool fromTga, int width, int height,
                              const kovrel::RunFiles& outputs) {
  if (fromTga || (line.formats & (kovrel::kFormatChr | kovrel::kFormatClr)) == 0 ||
      (width == kovrel::kScreenWidth && height == kovrel::kScreenHeight)) {
    return {};
  }
  std::string names;
  for (const kovrel::OutputFile& file : outputs.files) {
    const std::string extension = file.path.substr(file.path.size() - 3);
    if (extension == "CHR" || extension == "CLR") {
      names += (names.empty() ? "" : " and ") + file.path;
    }
  }
  return "Note: " + names + " hold the tiles of a " + std::to_string(width) + " x " + std::to_string(height) +
         " picture, not a 256 x 192 screen, so BLOAD ,S will not show them as one; " +
         "use --fit=crop for a whole screen, or --format=sc2 for one file holding the picture on the screen.\n";
}

// Converts one picture and writes its files, all or none. Returns the exit
// status; written gets the names of the files written.
int convertOne(const std::string& path, const kovrel::driver::CommandLine& line, const Console& console,
               std::string& written) {
  kovrel::Picture picture;
  const kovrel::Outcome read = kovrel::readPicture(path, picture, line.settings.framing);
  if (read.status != kovrel::Status::kOk) {
    return fail(console, read, path);
  }
  if ((line.formats & kovrel::kScreenFormats) != 0 &&
      kovrel::checkScreenFits(picture.image->width, picture.image->height) != kovrel::Status::kOk) {
    return fail(console,
                {line.settings.framing.fit == kovrel::Fit::kNone ? kovrel::Status::kLargerThanScreen
                                                                 : kovrel::Status::kLargerThanScreenFitted,
                 path},
                path);
  }

  console.say(kovrel::driver::settingsLine(line));
  const bool fromTga = picture.fromTga;
  const kovrel::WorkingImage& image = *picture.image;
  const int width = image.width;
  const int height = image.height;
  if (!console.quiet) {
    std::printf("Converting %s (%i,%i) to TMS9918 format ", path.c_str(), width, height);
    std::printf("in (%i,%i) screen 2 tiles...    ", image.tileColumns(), image.tileRows());
    std::fflush(stdout);
  }
  // --report compares the preview with the picture as converted: fitted
  // and adjusted, before quantising.
  kovrel::WorkingImagePtr before;
  if (line.report) {
    before = kovrel::newWorkingImage();
    *before = *picture.image;
    kovrel::adjustImage(*before, line.settings.adjustments);
  }
  const double started = kovrel::os::processorSeconds();
  const kovrel::Conversion conversion =
      kovrel::convertPicture(std::move(picture), line.settings, console.quiet ? nullptr : stdout);
  console.say("\b\b\bOk   \n");

  const kovrel::OutputChoice choice = outputChoice(line);
  kovrel::RunFiles outputs;
  const kovrel::Outcome collected = kovrel::runFiles(path, conversion, choice, outputs);
  if (collected.status != kovrel::Status::kOk) {
    return fail(console, collected, path);
  }
  const kovrel::Outcome clash = findOutputClash(path, outputs.files);
  if (clash.status != kovrel::Status::kOk) {
    return fail(console, clash, path);
  }
  // All outputs are written together: a run that fails leaves every
  // existing output as it was.
  const kovrel::Outcome stored = kovrel::writeOutputFiles(outputs.files);
  if (stored.status != kovrel::Status::kOk) {
    return fail(console, stored, path);
  }
  for (const kovrel::OutputFile& file : outputs.files) {
    written += (written.empty() ? "" : ", ") + file.path;
  }

  // The count is the colour pairs the line search evaluated.
  const double combinations = static_cast<double>(kovrel::kPairCount) * conversion.lineCount / 1000000.0;
  // Processor time: the whole process's, or in a batch this picture's
  // conversion and files.
  const double now = kovrel::os::processorSeconds();
  const double spent = line.batch ? now - started : now;
  if (!console.quiet) {
    std::printf("%.2f million combinations analysed in %.2f seconds.\n", combinations, spent);
    if (line.dedupe) {
      const auto& unique = outputs.shared.uniqueTiles;
      std::printf("Unique tiles per third: %i, %i, %i (of 256 each).\n", unique[0], unique[1], unique[2]);
    }
  }
  if (line.packing != kovrel::Packing::kNone &&
      (line.formats & (kovrel::kFormatRaw | kovrel::kFormatC | kovrel::kFormatAsm)) != 0) {
    const auto& packed = outputs.packedSizes;
    const kovrel::ScreenTables& shared = outputs.shared;
    console.say(std::string("Packed with ") + kovrel::packingName(line.packing) + ": pattern " +
                std::to_string(packed[0]) + " of " + std::to_string(shared.pattern.size()) + " bytes, colour " +
                std::to_string(packed[1]) + " of " + std::to_string(shared.colour.size()) + ", name " +
                std::to_string(packed[2]) + " of " + std::to_string(shared.name.size()) + ".\n");
  }
  if (before) {
    console.say(kovrel::perceptualReport(*before, *conversion.image));
  }
  console.warn(kovrel::msxNameNote(choice, outputs));
  console.warn(partialScreenNote(line, fromTga, width, height, outputs));
  if ((line.formats & (kovrel::kFormatChr | kovrel::kFormatClr)) != 0) {
    console.say("Note: the .CLR and .CHR files have correct headers only for 256x192 images. \n");
  }
  return kExitConverted;
}

// The line on standard error for picture arguments a run without --batch
// does not convert; empty when there are none.
std::string ignoredLine(const kovrel::driver::CommandLine& line) {
  if (line.batch || line.morePictures.empty()) {
    return {};
  }
  const std::size_t more = line.morePictures.size();
  return "kovrel: " + line.morePictures.front() +
         (more > 1 ? " and " + std::to_string(more - 1) + " more argument" + (more > 2 ? "s" : "") : std::string()) +
         " ignored: only " + line.picture + " is converted; kovrel --batch converts every picture named.\n";
}

}  // namespace

int main(int argc, char** argv) try {
  // UTF-8 arguments on every system (Windows passes argv in its code page).
  const kovrel::driver::CommandLine line =
      kovrel::driver::parseCommandLine(argc, kovrel::os::programArguments(argc, argv));
  if (line.error.empty() && (line.help || line.version)) {
    print(line.help ? kovrel::driver::helpText() : "Kovrel 1.0\n");
    return kExitConverted;
  }
  // --quiet holds for a usage error too, wherever it was typed.
  bool quiet = line.quiet;
  for (int i = 1; i < argc && std::string(argv[i]) != "--"; ++i) {
    quiet = quiet || std::string(argv[i]) == "--quiet";
  }
  const Console console{quiet, line.batch};
  console.say("Kovrel 1.0 - TGA to TMS9918 screen 2 converter\n");
  console.say("Exhaustive colour-pair search per 8-pixel line, with error diffusion\n");
  console.say("\n");
  console.say("Credits to Mirtoven for his Floyd-Steinberg implementation.\n \n");
  if (!line.error.empty()) {
    console.error(line.error, {});
    return kExitUsage;
  }
  if (!line.hasPicture) {
    console.error("Syntax: Kovrel [file.tga]\n", {});
    return kExitUsage;
  }
  std::fputs(ignoredLine(line).c_str(), stderr);
  if (!line.batch) {
    std::string written;
    return convertOne(line.picture, line, console, written);
  }

  // A batch: every picture through the same steps; one that fails does not
  // stop the others, but an interrupted write stops the batch.
  std::vector<std::string> pictures{line.picture};
  pictures.insert(pictures.end(), line.morePictures.begin(), line.morePictures.end());
  std::vector<std::string> failed;
  for (const std::string& path : pictures) {
    std::string written;
    int status = kExitFailed;
    try {
      status = convertOne(path, line, console, written);
    } catch (const std::bad_alloc&) {
      status = fail(console, {kovrel::Status::kOutOfMemory, {}}, path);
    }
    if (status == kExitConverted) {
      if (console.quiet) {
        print(path + ": " + written + "\n");
      }
    } else {
      failed.push_back(path);
      if (interrupted) {
        break;
      }
    }
  }
  if (!console.quiet) {
    std::string summary = "Batch: " + std::to_string(pictures.size() - failed.size()) + " of " +
                          std::to_string(pictures.size()) + " pictures converted";
    for (std::size_t i = 0; i < failed.size(); ++i) {
      summary += (i == 0 ? "; failed: " : ", ") + failed[i];
    }
    print(summary + ".\n");
  }
  return failed.empty() ? kExitConverted : kExitFailed;
} catch (const std::bad_alloc&) {
  // Raised before any output is staged (the write stage reports its own);
  // nothing has been written.
  std::fputs(kovrel::statusMessage({kovrel::Status::kOutOfMemory, {}}).c_str(), stdout);
  std::fflush(stdout);
  return kExitFailed;
}
