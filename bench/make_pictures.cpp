// Writes the pictures the timing script converts, so that no large file
// needs to be kept in the repository:
//   photo256.tga  the first source picture as it is (256 x 192)
//   photo512.tga  512 x 512 tiled from the source pictures in a checkerboard,
//                 each at its own resolution, the bottom row of tiles cut
//   noise256.tga  256 x 192 uniform random bytes
//   noise512.tga  512 x 512 uniform random bytes
// Usage: kovrel_make_pictures OUT_FOLDER SOURCE.tga [SOURCE.tga ...]
// Sources must be uncompressed 24-bit bottom-left TGAs without ID field or
// colour map; every output is of that kind too.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> bgr;  // top row first, each pixel blue, green, red
};

bool readPicture(const std::string& path, Picture& picture) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
  if (bytes.size() < 18 || bytes[0] != 0 || bytes[1] != 0 || bytes[2] != 2 || bytes[16] != 24 ||
      bytes[17] != 0) {
    return false;
  }
  picture.width = bytes[12] | bytes[13] << 8;
  picture.height = bytes[14] | bytes[15] << 8;
  const std::size_t rowBytes = static_cast<std::size_t>(picture.width) * 3;
  if (bytes.size() < 18 + rowBytes * static_cast<std::size_t>(picture.height)) {
    return false;
  }
  picture.bgr.resize(rowBytes * static_cast<std::size_t>(picture.height));
  for (int y = 0; y < picture.height; ++y) {
    const std::size_t from = 18 + rowBytes * static_cast<std::size_t>(picture.height - 1 - y);
    std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(from),
              bytes.begin() + static_cast<std::ptrdiff_t>(from + rowBytes),
              picture.bgr.begin() + static_cast<std::ptrdiff_t>(rowBytes * static_cast<std::size_t>(y)));
  }
  return true;
}

bool writePicture(const std::string& path, const Picture& picture) {
  std::vector<std::uint8_t> bytes(18, 0);
  bytes[2] = 2;
  bytes[12] = static_cast<std::uint8_t>(picture.width & 0xFF);
  bytes[13] = static_cast<std::uint8_t>(picture.width >> 8);
  bytes[14] = static_cast<std::uint8_t>(picture.height & 0xFF);
  bytes[15] = static_cast<std::uint8_t>(picture.height >> 8);
  bytes[16] = 24;
  const std::size_t rowBytes = static_cast<std::size_t>(picture.width) * 3;
  for (int y = picture.height - 1; y >= 0; --y) {
    const auto row = picture.bgr.begin() + static_cast<std::ptrdiff_t>(rowBytes * static_cast<std::size_t>(y));
    bytes.insert(bytes.end(), row, row + static_cast<std::ptrdiff_t>(rowBytes));
  }
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

Picture tiled(const std::vector<Picture>& sources, int width, int height) {
  Picture out;
  out.width = width;
  out.height = height;
  out.bgr.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int tileX = x / sources[0].width;
      const int tileY = y / sources[0].height;
      const Picture& from = sources[static_cast<std::size_t>(tileX + tileY) % sources.size()];
      const int sx = x % from.width;
      const int sy = y % from.height;
      for (int c = 0; c < 3; ++c) {
        out.bgr[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 3 + static_cast<std::size_t>(c)] =
            from.bgr[(static_cast<std::size_t>(sy) * static_cast<std::size_t>(from.width) + static_cast<std::size_t>(sx)) * 3 + static_cast<std::size_t>(c)];
      }
    }
  }
  return out;
}

Picture noise(int width, int height, std::uint32_t seed) {
  Picture out;
  out.width = width;
  out.height = height;
  out.bgr.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
  std::uint32_t state = seed;
  for (std::uint8_t& byte : out.bgr) {
    state ^= state << 13;  // xorshift32
    state ^= state >> 17;
    state ^= state << 5;
    byte = static_cast<std::uint8_t>(state >> 24);
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: kovrel_make_pictures OUT_FOLDER SOURCE.tga [SOURCE.tga ...]\n", stderr);
    return 2;
  }
  const std::string folder = argv[1];
  std::vector<Picture> sources;
  for (int i = 2; i < argc; ++i) {
    Picture picture;
    if (!readPicture(argv[i], picture) || picture.width != 256 || picture.height != 192) {
      std::fprintf(stderr, "%s: not a 256 x 192 uncompressed bottom-left 24-bit TGA\n", argv[i]);
      return 1;
    }
    sources.push_back(picture);
  }
  const bool written = writePicture(folder + "/photo256.tga", sources[0]) &&
                       writePicture(folder + "/photo512.tga", tiled(sources, 512, 512)) &&
                       writePicture(folder + "/noise256.tga", noise(256, 192, 0x2545F491u)) &&
                       writePicture(folder + "/noise512.tga", noise(512, 512, 0x9E3779B9u));
  if (!written) {
    std::fprintf(stderr, "cannot write the pictures in %s\n", folder.c_str());
    return 1;
  }
  return 0;
}
