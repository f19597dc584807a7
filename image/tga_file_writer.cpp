#include "image/output_file.h"
#include "image/tga.h"

namespace kovrel {

Outcome writePreviewTga(const std::string& inputPath, const WorkingImage& image,
                        const TgaHeader& header) {
  return writeOutputFiles({{previewPath(inputPath), encodePreviewTga(image, header)}});
}

}  // namespace kovrel
