#include "image/output_file.h"
#include "image/tga.h"

namespace kovrel {

Outcome writePreviewTga(const std::string& inputPath, const WorkingImage& image,
                        const TgaHeader& header) {
  const std::vector<std::uint8_t> bytes = encodePreviewTga(image, header);
  return writeOutputFiles({{previewPath(inputPath), bytes.data(), bytes.size()}});
}

}  // namespace kovrel
