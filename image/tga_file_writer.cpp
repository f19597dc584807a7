#include "image/output_file.h"
#include "image/tga.h"

namespace kovrel {

Outcome writePreviewTga(const std::string& inputPath, const WorkingImage& image,
                        const TgaHeader& header) {
  const std::string path = previewPath(inputPath);
  StagedFile file;
  if (!file.stage(path, encodePreviewTga(image, header)) || !file.commit()) {
    return {Status::kCannotCreate, path};
  }
  return {};
}

}  // namespace kovrel
