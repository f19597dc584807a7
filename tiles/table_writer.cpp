#include "image/output_file.h"
#include "tiles/tiles.h"

namespace kovrel {

Outcome writeTileTables(const std::string& inputPath, const WorkingImage& image) {
  const TileTables tables = buildTileTables(image);
  return writeOutputFiles({{tableFilePath(inputPath, "CHR"), tables.pattern.data(), tables.pattern.size()},
                           {tableFilePath(inputPath, "CLR"), tables.colour.data(), tables.colour.size()}});
}

}  // namespace kovrel
