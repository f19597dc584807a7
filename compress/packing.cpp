// Which packer a table goes through, and the names that go with each.
#include "compress/compress.h"

namespace kovrel {

const char* packingExtension(Packing packing) {
  switch (packing) {
    case Packing::kZx0:
      return "zx0";
    case Packing::kPletter:
      return "plet5";
    case Packing::kNone:
      break;
  }
  return "";
}

const char* packingName(Packing packing) {
  switch (packing) {
    case Packing::kZx0:
      return "ZX0";
    case Packing::kPletter:
      return "Pletter";
    case Packing::kNone:
      break;
  }
  return "";
}

std::vector<std::uint8_t> packTable(Packing packing, const std::vector<std::uint8_t>& data) {
  switch (packing) {
    case Packing::kZx0:
      return packZx0(data);
    case Packing::kPletter:
      return packPletter(data);
    case Packing::kNone:
      break;
  }
  return data;
}

}  // namespace kovrel
