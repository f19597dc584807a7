#include "image/output_file.h"
#include "tiles/tiles.h"

namespace kovrel {

Outcome writeTileTables(const std::string& inputPath, const WorkingImage& image) {
  const TileTables tables = buildTileTables(image);
  const std::string patternPath = tableFilePath(inputPath, "CHR");
  const std::string colourPath = tableFilePath(inputPath, "CLR");
  StagedFile pattern;
  StagedFile colour;
  if (!pattern.stage(patternPath, tables.pattern)) {
    return {Status::kCannotCreate, patternPath};
  }
  if (!colour.stage(colourPath, tables.colour)) {
    return {Status::kCannotCreate, colourPath};
  }
  if (!pattern.commit()) {
    return {Status::kCannotCreate, patternPath};
  }
  if (!colour.commit()) {
    return {Status::kCannotCreate, colourPath};
  }
  return {};
}

}  // namespace kovrel
