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

#include "image/tga.h"
#include "quantise/line_search_kernels.h"
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

// The lines the pass meets on the photograph, each as the search sees it
// (after the error from earlier lines), in a one-row picture apiece.
const std::vector<WorkingImage>& passLines() {
  static const std::vector<WorkingImage> lines = [] {
    constexpr int kLines = 2048;
    auto image = std::make_unique<WorkingImage>(photograph());
    std::vector<WorkingImage> out(kLines);
    int n = 0;
    const int columns = image->tileColumns();
    for (int y = 0; y < image->height && n < kLines; ++y) {
      for (int c = 0; c < columns; ++c) {
        const int x0 = kTileLinePixels * c;
        if (n < kLines && (y * columns + c) % 16 == 0) {
          out[n].width = out[n].height = kTileLinePixels;
          for (int k = 0; k < kTileLinePixels; ++k) {
            for (int ch = 0; ch < kChannels; ++ch) {
              out[n].pixel(k, 0)[ch] = image->pixel(x0 + k, y)[ch];
            }
          }
          ++n;
        }
        commitLine(*image, x0, y, reference::searchLinePair(*image, x0, y));
      }
    }
    out.resize(static_cast<std::size_t>(n));
    return out;
  }();
  return lines;
}

bool sameChoice(const LineChoice& a, const LineChoice& b) {
  return a.background == b.background && a.foreground == b.foreground && a.mask == b.mask &&
         a.cost == b.cost;
}

SearchHints noHints() {
  SearchHints hints;
  hints.above.background = hints.above.foreground = 0;
  hints.left = hints.above;
  return hints;
}

void searchPlain(benchmark::State& state) {
  const std::vector<WorkingImage>& lines = passLines();
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(reference::searchLinePair(lines[i], 0, 0));
    i = i + 1 == lines.size() ? 0 : i + 1;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(searchPlain)->Name("TileLine/plain");

void searchFast(benchmark::State& state, search::Kernel kernel) {
  if (!search::kernelAvailable(kernel)) {
    state.SkipWithError("kernel not available on this processor or build");
    return;
  }
  const std::vector<WorkingImage>& lines = passLines();
  const SearchHints hints = noHints();
  for (const WorkingImage& line : lines) {
    if (!sameChoice(search::searchLineWith(kernel, line, 0, 0, hints),
                    reference::searchLinePair(line, 0, 0))) {
      state.SkipWithError("result differs from the plain search");
      return;
    }
  }
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(search::searchLineWith(kernel, lines[i], 0, 0, hints));
    i = i + 1 == lines.size() ? 0 : i + 1;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK_CAPTURE(searchFast, portable, search::Kernel::kPortable)->Name("TileLine/portable");
BENCHMARK_CAPTURE(searchFast, avx2, search::Kernel::kAvx2)->Name("TileLine/avx2");
BENCHMARK_CAPTURE(searchFast, avx512, search::Kernel::kAvx512)->Name("TileLine/avx512");

// The pass and the tables on a copy of the photograph.
TileTables plainConversion(WorkingImage& image) {
  for (int y = 0; y < image.tileRows() * kTileSide; ++y) {
    for (int x0 = 0; x0 < image.tileColumns() * kTileLinePixels; x0 += kTileLinePixels) {
      commitLine(image, x0, y, reference::searchLinePair(image, x0, y));
    }
  }
  TileTables tables;
  for (int r = 0; r < image.tileRows(); ++r) {
    for (int c = 0; c < image.tileColumns(); ++c) {
      for (int l = 0; l < kTileSide; ++l) {
        const TileLineBytes bytes = reference::encodeTileLine(image, kTileLinePixels * c, kTileSide * r + l);
        tables.pattern.push_back(bytes.pattern);
        tables.colour.push_back(bytes.colour);
      }
    }
  }
  return tables;
}

TileTables fastConversion(WorkingImage& image) {
  quantiseImage(image, nullptr);
  TileTables tables = buildTileTables(image);
  tables.pattern.erase(tables.pattern.begin(), tables.pattern.begin() + kTableHeaderSize);
  tables.colour.erase(tables.colour.begin(), tables.colour.begin() + kTableHeaderSize);
  return tables;
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
  auto image = std::make_unique<WorkingImage>(photograph());
  const TileTables expected = plainConversion(*plain);
  const TileTables got = fastConversion(*image);
  if (image->samples != plain->samples || got.pattern != expected.pattern ||
      got.colour != expected.colour) {
    state.SkipWithError("result differs from the plain pass");
    return;
  }
  for (auto _ : state) {
    *image = photograph();
    benchmark::DoNotOptimize(fastConversion(*image));
  }
}
BENCHMARK(passFast)->Name("Pass512/fast")->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kovrel

BENCHMARK_MAIN();
