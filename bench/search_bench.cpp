// Speed of the line search and of the whole pass, fast against plain. Each
// benchmark first checks that the fast code gives the plain code's result.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <memory>
#include <string>
#include <vector>

#include "core/conversion.h"
#include "image/tga.h"
#include "quantise/line_search_kernels.h"
#include "tests/default_quantiser.h"
#include "tests/reference_search.h"
#include "tiles/tiles.h"

namespace kovrel {
namespace {

std::vector<std::uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// 512 x 512 tiled from the example photographs in a checkerboard, as
// kovrel_make_pictures writes photo512.tga.
const WorkingImage& photograph() {
  static const std::unique_ptr<WorkingImage> picture = [] {
    const std::string sources[] = {std::string(KOVREL_EXAMPLES) + "/chelsea.tga",
                                   std::string(KOVREL_EXAMPLES) + "/coffee.tga"};
    std::unique_ptr<WorkingImage> tiles[2];
    for (int i = 0; i < 2; ++i) {
      const std::vector<std::uint8_t> bytes = readFile(sources[i]);
      tiles[i] = std::make_unique<WorkingImage>();
      TgaHeader header;
      if (decodeTga(bytes.data(), bytes.size(), *tiles[i], header) != Status::kOk) {
        throw std::runtime_error("cannot read " + sources[i]);
      }
    }
    auto out = std::make_unique<WorkingImage>();
    out->width = out->height = kMaxSide;
    for (int y = 0; y < kMaxSide; ++y) {
      for (int x = 0; x < kMaxSide; ++x) {
        const WorkingImage& from = *tiles[(x / tiles[0]->width + y / tiles[0]->height) % 2];
        const Sample* in = from.pixel(x % from.width, y % from.height);
        for (int c = 0; c < kChannels; ++c) {
          out->pixel(x, y)[c] = in[c];
        }
      }
    }
    return out;
  }();
  return *picture;
}

// 2048 of the lines the pass meets on the photograph, each as the search
// sees it (after the error from earlier lines), packed into one picture:
// line n at tile column n % 64 of row n / 64.
constexpr int kSampledLines = 2048;
constexpr int kLinesPerRow = kMaxSide / kTileLinePixels;

const WorkingImage& passLines() {
  static const std::unique_ptr<WorkingImage> lines = [] {
    auto image = std::make_unique<WorkingImage>(photograph());
    auto out = std::make_unique<WorkingImage>();
    out->width = kMaxSide;
    out->height = kSampledLines / kLinesPerRow;
    int n = 0;
    const int columns = image->tileColumns();
    for (int y = 0; y < image->height; ++y) {
      for (int c = 0; c < columns; ++c) {
        const int x0 = kTileLinePixels * c;
        if (n < kSampledLines && (y * columns + c) % 16 == 0) {
          for (int k = 0; k < kTileLinePixels; ++k) {
            for (int ch = 0; ch < kChannels; ++ch) {
              out->pixel(kTileLinePixels * (n % kLinesPerRow) + k, n / kLinesPerRow)[ch] =
                  image->pixel(x0 + k, y)[ch];
            }
          }
          ++n;
        }
        commitLine(defaultQuantiser(), *image, x0, y, reference::searchLinePair(defaultQuantiser(), *image, x0, y));
      }
    }
    return out;
  }();
  return *lines;
}

bool sameChoice(const LineChoice& a, const LineChoice& b) {
  return a.background == b.background && a.foreground == b.foreground && a.mask == b.mask &&
         a.cost == b.cost;
}

void searchPlain(benchmark::State& state) {
  const WorkingImage& lines = passLines();
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        reference::searchLinePair(defaultQuantiser(), lines, kTileLinePixels * (i % kLinesPerRow), i / kLinesPerRow));
    i = i + 1 == kSampledLines ? 0 : i + 1;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(searchPlain)->Name("TileLine/plain");

void searchFast(benchmark::State& state, search::Kernel kernel) {
  const WorkingImage& lines = passLines();
  const SearchHints hints = SearchHints{};
  for (int n = 0; n < kSampledLines; ++n) {
    const int x0 = kTileLinePixels * (n % kLinesPerRow);
    const int y = n / kLinesPerRow;
    if (!sameChoice(search::searchLineWith(kernel, defaultQuantiser(), lines, x0, y, hints),
                    reference::searchLinePair(defaultQuantiser(), lines, x0, y))) {
      state.SkipWithError("result differs from the plain search");
      return;
    }
  }
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        search::searchLineWith(kernel, defaultQuantiser(), lines, kTileLinePixels * (i % kLinesPerRow), i / kLinesPerRow, hints));
    i = i + 1 == kSampledLines ? 0 : i + 1;
  }
  state.SetItemsProcessed(state.iterations());
}

// The same lines two at a time, as the pass searches them; per line.
void searchFastTwo(benchmark::State& state, search::Kernel kernel) {
  const WorkingImage& lines = passLines();
  const SearchHints hints[2] = {};
  const auto placeOf = [](int n) { return LinePlace{kTileLinePixels * (n % kLinesPerRow), n / kLinesPerRow}; };
  for (int n = 0; n + 1 < kSampledLines; n += 2) {
    const LinePlace places[2] = {placeOf(n), placeOf(n + 1)};
    LineChoice got[2];
    search::searchTwoLinesWith(kernel, defaultQuantiser(), lines, places, hints, got);
    for (int l = 0; l < 2; ++l) {
      if (!sameChoice(got[l], reference::searchLinePair(defaultQuantiser(), lines, places[l].x0, places[l].y))) {
        state.SkipWithError("result differs from the plain search");
        return;
      }
    }
  }
  int i = 0;
  for (auto _ : state) {
    const LinePlace places[2] = {placeOf(i), placeOf(i + 1)};
    LineChoice got[2];
    search::searchTwoLinesWith(kernel, defaultQuantiser(), lines, places, hints, got);
    benchmark::DoNotOptimize(got);
    i = i + 2 >= kSampledLines ? 0 : i + 2;
  }
  state.SetItemsProcessed(2 * state.iterations());
}

// Both tables' bodies.
struct TableBodies {
  std::vector<std::uint8_t> pattern;
  std::vector<std::uint8_t> colour;
};

// The pass and the tables on a copy of the photograph.
TableBodies plainConversion(WorkingImage& image) {
  for (int y = 0; y < image.tileRows() * kTileSide; ++y) {
    for (int x0 = 0; x0 < image.tileColumns() * kTileLinePixels; x0 += kTileLinePixels) {
      commitLine(defaultQuantiser(), image, x0, y, reference::searchLinePair(defaultQuantiser(), image, x0, y));
    }
  }
  TableBodies tables;
  for (int r = 0; r < image.tileRows(); ++r) {
    for (int c = 0; c < image.tileColumns(); ++c) {
      for (int l = 0; l < kTileSide; ++l) {
        const TileLineBytes bytes = reference::encodeTileLine(kMameSamples, image, kTileLinePixels * c, kTileSide * r + l);
        tables.pattern.push_back(bytes.pattern);
        tables.colour.push_back(bytes.colour);
      }
    }
  }
  return tables;
}

// The whole conversion of the photograph, as a run makes it: fresh memory
// for the picture, the pass, the tables and the preview.
Conversion fastConversion(const WorkingImage& source) {
  Picture picture;
  picture.image = newWorkingImage();
  *picture.image = source;
  return convertPicture(std::move(picture), Settings{}, nullptr);
}

void passPlain(benchmark::State& state) {
  auto image = std::make_unique<WorkingImage>();
  for (auto _ : state) {
    *image = photograph();
    benchmark::DoNotOptimize(plainConversion(*image));
  }
}
BENCHMARK(passPlain)->Name("Pass512/plain")->Unit(benchmark::kMillisecond);

void passFast(benchmark::State& state) {
  auto plain = std::make_unique<WorkingImage>(photograph());
  const auto source = std::make_unique<WorkingImage>(photograph());
  const TableBodies expected = plainConversion(*plain);
  const Conversion got = fastConversion(*source);
  const std::vector<std::uint8_t> pattern(got.pattern + kTableHeaderSize, got.pattern + got.tableSize);
  const std::vector<std::uint8_t> colour(got.colour + kTableHeaderSize, got.colour + got.tableSize);
  if (got.image->samples != plain->samples || pattern != expected.pattern || colour != expected.colour) {
    state.SkipWithError("result differs from the plain pass");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(fastConversion(*source).lineCount);
  }
}
BENCHMARK(passFast)->Name("Pass512/fast")->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kovrel

int main(int argc, char** argv) {
  using kovrel::search::Kernel;
  // The line search benchmarks, one line and two at once, for each kernel
  // this processor and build can run.
  for (Kernel kernel : {Kernel::kPortable, Kernel::kAvx2, Kernel::kAvx512}) {
    if (kovrel::search::kernelAvailable(kernel)) {
      benchmark::RegisterBenchmark((std::string("TileLine/") + kovrel::search::kernelName(kernel)).c_str(),
                                   kovrel::searchFast, kernel);
      benchmark::RegisterBenchmark((std::string("TwoTileLines/") + kovrel::search::kernelName(kernel)).c_str(),
                                   kovrel::searchFastTwo, kernel);
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
