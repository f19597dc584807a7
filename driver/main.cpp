// kovrel: converts a 24-bit TGA picture into TMS9918 screen 2 pattern and
// colour tables, plus a preview picture.
//
// Exit status: 0 when the conversion completed, 1 when the input was
// rejected or an output could not be written, 2 when no path was given.

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <new>
#include <string>

#include "core/status.h"
#include "image/image_memory.h"
#include "image/output_file.h"
#include "image/tga.h"
#include "quantise/quantise.h"
#include "tiles/tiles.h"

namespace {

constexpr int kExitConverted = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

void print(const std::string& text) {
  std::fputs(text.c_str(), stdout);
}

// No output may replace the input itself, whatever its spelling.
kovrel::Outcome findOutputClash(const std::string& inputPath) {
  const std::string outputs[] = {
      kovrel::tableFilePath(inputPath, "CHR"),
      kovrel::tableFilePath(inputPath, "CLR"),
      kovrel::previewPath(inputPath),
  };
  for (const std::string& output : outputs) {
    if (kovrel::isSameFile(inputPath, output)) {
      return {kovrel::Status::kCannotCreate, output};
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
  print("Kovrel 1.0 - TGA to TMS9918 screen 2 converter\n");
  print("Exhaustive colour-pair search per 8-pixel line, with error diffusion\n");
  print("\n");
  print("Credits to Mirtoven for his Floyd-Steinberg implementation.\n \n");
  if (argc < 2) {
    print("Syntax: Kovrel [file.tga]\n");
    return kExitUsage;
  }
  const std::string path = argv[1];

  const kovrel::WorkingImagePtr image = kovrel::newWorkingImage();
  kovrel::TgaHeader header;
  // The input's bytes, and later the outputs' bytes: memory the system has
  // handed over once is reused rather than a fresh block taken (and
  // faulted in page by page) for each.
  kovrel::ByteBlock scratch(kovrel::kMaxTgaBytes);
  const kovrel::Outcome read = kovrel::readTgaImage(path, *image, header, scratch);
  if (read.status != kovrel::Status::kOk) {
    return fail(read);
  }

  std::printf("Converting %s (%i,%i) to TMS9918 format ", path.c_str(), image->width, image->height);
  std::printf("in (%i,%i) screen 2 tiles...    ", image->tileColumns(), image->tileRows());
  std::fflush(stdout);
  // The pass's choices, after the outputs' room in the same block.
  constexpr std::size_t kChoicesAt = std::size_t{1} << 20;
  constexpr std::size_t kMostLines = 64 * 64 * 8;
  static_assert(kChoicesAt + kMostLines * sizeof(kovrel::LineChoice) <= kovrel::kMaxTgaBytes,
                "the choices must fit in the block");
  kovrel::LineChoice* const choices = reinterpret_cast<kovrel::LineChoice*>(scratch.data() + kChoicesAt);
  std::uninitialized_default_construct_n(choices, static_cast<std::size_t>(image->tileColumns() *
                                                                           image->tileRows() * 8));
  const std::uint32_t runCount = kovrel::quantiseImage(*image, stdout, choices);
  print("\b\b\bOk   \n");

  const kovrel::Outcome clash = findOutputClash(path);
  if (clash.status != kovrel::Status::kOk) {
    return fail(clash);
  }
  // The three outputs are written together: a run that fails leaves every
  // existing output as it was.
  const std::size_t tableSize = kovrel::tileTableSize(*image);
  const std::size_t previewSize = kovrel::previewTgaSize(*image);
  static_assert(kChoicesAt >= 2 * (kovrel::kTableHeaderSize + kMostLines) +
                                  kovrel::kTgaHeaderSize + 512 * 512 * 3,
                "the outputs must fit before the choices");
  std::uint8_t* const pattern = scratch.data();
  std::uint8_t* const colour = pattern + tableSize;
  std::uint8_t* const preview = colour + tableSize;
  kovrel::buildTileTables(*image, choices, pattern, colour);
  kovrel::encodePreviewTga(*image, header, preview);
  const kovrel::Outcome written = kovrel::writeOutputFiles({
      {kovrel::tableFilePath(path, "CHR"), pattern, tableSize},
      {kovrel::tableFilePath(path, "CLR"), colour, tableSize},
      {kovrel::previewPath(path), preview, previewSize},
  });
  if (written.status != kovrel::Status::kOk) {
    return fail(written);
  }

  // The count is the colour pairs the line search evaluated.
  const double combinations = static_cast<double>(kovrel::kPairCount) * runCount / 1000000.0;
  // Processor time, read as whole milliseconds.
  const auto milliseconds = static_cast<long long>(std::clock()) * 1000 / CLOCKS_PER_SEC;
  std::printf("%.2f million combinations analysed in %.2f seconds.\n", combinations,
              static_cast<double>(milliseconds) / 1000.0);
  print("Note: the .CLR and .CHR files have correct headers only for 256x192 images. \n");
  return kExitConverted;
} catch (const std::bad_alloc&) {
  // Raised before any output is staged (the write stage reports its own);
  // nothing has been written.
  return fail({kovrel::Status::kOutOfMemory, {}});
}
