#include <utility>

#include "image/output_file.h"
#include "tiles/tiles.h"

namespace kovrel {

Outcome writeTileTables(const std::string& inputPath, const WorkingImage& image) {
  TileTables tables = buildTileTables(image);
  return writeOutputFiles({{tableFilePath(inputPath, "CHR"), std::move(tables.pattern)},
                           {tableFilePath(inputPath, "CLR"), std::move(tables.colour)}});
}

}  // namespace kovrel
