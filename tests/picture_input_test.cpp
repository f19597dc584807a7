// PNG, JPEG, GIF, BMP and WebP input, end to end: each picture is written by
// an independent tool (netpbm's pamtopng/pnmtopng, ppmtogif and ppmtobmp,
// libjpeg-turbo's cjpeg, libwebp's cwebp), and the program's three outputs
// must equal, byte for byte, those for a TGA of the pixels the reference
// readers give (the test's own pixels, or netpbm's pngtopam, giftopnm,
// bmptopnm, pamdepth and pamflip, or djpeg, or dwebp). Damaged files: the
// message, exit status 1, nothing written.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "tests/program_runner.h"
#include "tests/test_pictures.h"

namespace kovrel::test {
namespace {

// Runs a bash command line (pipefail on); true when it succeeded.
bool shell(const std::string& command) {
  const std::string line = "bash -o pipefail -c '" + command + "' >/dev/null 2>&1";
  return std::system(line.c_str()) == 0;
}

bool haveTools() {
  return shell("command -v pamtopng && command -v pnmtopng && command -v pngtopam && command -v pamdepth && "
               "command -v ppmtotga && command -v pamflip && command -v cjpeg && command -v djpeg >/dev/null");
}

#define REQUIRE_TOOLS()                                                                       \
  if (!haveTools()) {                                                                         \
    GTEST_SKIP() << "needs netpbm and libjpeg-turbo-progs (apt-get install netpbm libjpeg-turbo-progs)"; \
  }

// A PAM file (netpbm's own format) of width x height with the channels
// valueAt(x, y, c) gives, 1 byte per sample or 2 (big-endian) when maxval
// is above 255.
Bytes makePam(int width, int height, int depth, int maxval, const char* tupleType,
              const std::function<int(int, int, int)>& valueAt) {
  const std::string header = "P7\nWIDTH " + std::to_string(width) + "\nHEIGHT " + std::to_string(height) +
                             "\nDEPTH " + std::to_string(depth) + "\nMAXVAL " + std::to_string(maxval) +
                             "\nTUPLTYPE " + tupleType + "\nENDHDR\n";
  Bytes out(header.begin(), header.end());
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < depth; ++c) {
        const int v = valueAt(x, y, c);
        if (maxval > 255) {
          out.push_back(static_cast<std::uint8_t>(v >> 8));
        }
        out.push_back(static_cast<std::uint8_t>(v & 0xFF));
      }
    }
  }
  return out;
}

// Red and blue differ everywhere, so a swapped channel order shows.
int colourAt(int x, int y, int c) {
  return c == 0 ? (x * 37 + y * 5) % 256 : (c == 1 ? (y * 29 + 7) % 256 : 255 - (x * 11 + y * 3) % 256);
}

constexpr int kWidth = 21;  // not a whole number of tiles
constexpr int kHeight = 19;

const char* const kOutputs[] = {"pic.CHR", "pic.CLR", "pic_tms.tga"};

// Converts dir/pic.tga (a TGA the test wrote) and dir/sub/pic.EXT with the
// same options, and checks that both succeed with the same three files.
void expectSameOutputs(const Folder& dir, const std::string& picture, const std::vector<std::string>& options = {}) {
  std::vector<std::string> args = options;
  args.push_back("pic.tga");
  const RunResult tga = runKovrel(dir.path(), args);
  ASSERT_EQ(tga.status, 0) << tga.out;
  args.back() = picture;
  for (const char* name : kOutputs) {
    std::remove((dir / "sub/" + name).c_str());  // no earlier case's file may pass for this one's
  }
  const RunResult other = runKovrel(dir / "sub", args);
  ASSERT_EQ(other.status, 0) << other.out;
  for (const char* name : kOutputs) {
    const Bytes expected = dir.read(name);
    EXPECT_FALSE(expected.empty()) << name;
    EXPECT_EQ(dir.read(std::string("sub/") + name), expected) << picture << ": " << name;
  }
}

class PictureInput : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(shell("mkdir -p " + dir / "sub")); }
  Folder dir;
};

TEST_F(PictureInput, PngOfEveryKindGivesTheTgaOutputs) {
  REQUIRE_TOOLS();
  // 8-bit RGB: the test's own pixels are the expectation.
  dir.write("rgb.pam", makePam(kWidth, kHeight, 3, 255, "RGB", colourAt));
  ASSERT_TRUE(shell("pamtopng " + dir / "rgb.pam" + " > " + dir / "sub/pic.png"));
  dir.write("pic.tga", makeTga(kWidth, kHeight, [](int x, int y) {
    return Rgb{static_cast<std::uint8_t>(colourAt(x, y, 0)), static_cast<std::uint8_t>(colourAt(x, y, 1)),
               static_cast<std::uint8_t>(colourAt(x, y, 2))};
  }));
  expectSameOutputs(dir, "pic.png");
  // The same file interlaced (Adam7).
  ASSERT_TRUE(shell("pnmtopng -interlace " + dir / "rgb.pam" + " > " + dir / "sub/pic.png"));
  expectSameOutputs(dir, "pic.png");

  // 16-bit RGB, every high byte paired with varied low bytes: reduced as
  // netpbm's pamdepth reduces, round(v x 255 / 65535).
  dir.write("deep.pam", makePam(kWidth, kHeight, 3, 65535, "RGB", [](int x, int y, int c) {
    return (colourAt(x, y, c) << 8) | ((x * 97 + y * 61 + c * 13) & 0xFF);
  }));
  ASSERT_TRUE(shell("pamtopng " + dir / "deep.pam" + " > " + dir / "sub/pic.png"));
  ASSERT_TRUE(shell("pngtopam " + dir / "sub/pic.png" + " | pamdepth 255 | ppmtotga -rgb -norle > " + dir / "pic.tga"));
  expectSameOutputs(dir, "pic.png");

  // Palette: few colours, written with a PLTE chunk.
  dir.write("few.pam", makePam(kWidth, kHeight, 3, 255, "RGB", [](int x, int y, int c) {
    return colourAt((x / 4) * 4, (y / 5) * 5, c);
  }));
  ASSERT_TRUE(shell("pnmtopng " + dir / "few.pam" + " > " + dir / "sub/pic.png"));
  const Bytes palettePng = dir.read("sub/pic.png");
  ASSERT_GT(palettePng.size(), 26u);
  EXPECT_EQ(palettePng[25], 3) << "pnmtopng wrote no palette PNG";
  ASSERT_TRUE(shell("pngtopam " + dir / "sub/pic.png" + " | ppmtotga -rgb -norle > " + dir / "pic.tga"));
  expectSameOutputs(dir, "pic.png");

  // Grey of 4 levels (pnmtopng writes 2 bits a pixel) and of 256.
  for (const int levels : {4, 256}) {
    const int step = 255 / (levels - 1);
    dir.write("grey.pam", makePam(kWidth, kHeight, 1, 255, "GRAYSCALE", [step](int x, int y, int) {
      return (colourAt(x, y, 0) / step) * step;
    }));
    ASSERT_TRUE(shell("pnmtopng " + dir / "grey.pam" + " > " + dir / "sub/pic.png"));
    const Bytes greyPng = dir.read("sub/pic.png");
    ASSERT_GT(greyPng.size(), 26u);
    EXPECT_EQ(greyPng[25], 0) << "not a grey PNG";
    EXPECT_EQ(greyPng[24], levels == 4 ? 2 : 8) << "bit depth";
    dir.write("pic.tga", makeTga(kWidth, kHeight, [step](int x, int y) {
      const auto v = static_cast<std::uint8_t>((colourAt(x, y, 0) / step) * step);
      return Rgb{v, v, v};
    }));
    expectSameOutputs(dir, "pic.png");
  }
}

TEST_F(PictureInput, TransparencyIsCompositedOverTheBackground) {
  REQUIRE_TOOLS();
  // Alpha over its whole range; netpbm's pngtopam -mix composites as the
  // expectation.
  dir.write("rgba.pam", makePam(kWidth, kHeight, 4, 255, "RGB_ALPHA", [](int x, int y, int c) {
    return c < 3 ? colourAt(x, y, c) : (x * 13 + y * 41) % 256;
  }));
  ASSERT_TRUE(shell("pamtopng " + dir / "rgba.pam" + " > " + dir / "sub/pic.png"));
  ASSERT_TRUE(shell("pngtopam -mix -background=rgb:00/00/00 " + dir / "sub/pic.png" +
                    " | ppmtotga -rgb -norle > " + dir / "pic.tga"));
  expectSameOutputs(dir, "pic.png");
  ASSERT_TRUE(shell("pngtopam -mix -background=rgb:ff/80/20 " + dir / "sub/pic.png" +
                    " | ppmtotga -rgb -norle > " + dir / "pic.tga"));
  expectSameOutputs(dir, "pic.png", {"--background=FF8020"});

  // A palette with one transparent colour (tRNS), over a chosen background.
  dir.write("few.pam", makePam(kWidth, kHeight, 3, 255, "RGB", [](int x, int y, int c) {
    return (x + y) % 3 == 0 ? 0 : colourAt((x / 7) * 7, 0, c);
  }));
  ASSERT_TRUE(shell("pnmtopng -transparent=rgb:00/00/00 " + dir / "few.pam" + " > " + dir / "sub/pic.png"));
  ASSERT_TRUE(shell("pngtopam -mix -background=rgb:20/c0/40 " + dir / "sub/pic.png" +
                    " | ppmtotga -rgb -norle > " + dir / "pic.tga"));
  expectSameOutputs(dir, "pic.png", {"--background=#20c040"});
}

bool haveWebpTools() { return shell("command -v cwebp && command -v dwebp && command -v pamcomp"); }

TEST_F(PictureInput, GifBmpAndWebpGiveTheOutputsOfTheReferenceReaders) {
  REQUIRE_TOOLS();
  if (!haveWebpTools()) {
    GTEST_SKIP() << "needs libwebp's tools (apt-get install webp)";
  }
  dir.write("rgb.pam", makePam(kWidth, kHeight, 3, 255, "RGB", colourAt));
  // 12 colours, for GIF and the palette BMPs; 2 for the 1-bit BMP.
  dir.write("few.pam", makePam(kWidth, kHeight, 3, 255, "RGB", [](int x, int y, int c) {
    return colourAt((x / 7) * 7, (y / 5) * 5, c);
  }));
  dir.write("two.pam", makePam(kWidth, kHeight, 3, 255, "RGB", [](int x, int y, int c) {
    return (x + y) % 3 == 0 ? 30 + c * 40 : 220 - c * 30;
  }));
  // The transparent colour is few.pam's at (0, 0).
  const std::string clear = "rgb:" + [] {
    char text[16];
    std::snprintf(text, sizeof text, "%02x/%02x/%02x", colourAt(0, 0, 0), colourAt(0, 0, 1), colourAt(0, 0, 2));
    return std::string(text);
  }();
  const std::string f = dir.path() + "/";
  const std::string toTga = " | ppmtotga -rgb -norle > " + f + "pic.tga";
  const struct {
    const char* file;
    std::string write;      // writes sub/FILE
    std::string reference;  // writes pic.tga from sub/FILE
    std::vector<std::string> options;
  } cases[] = {
      {"pic.gif", "pamtopnm " + f + "few.pam | ppmtogif", "giftopnm " + f + "sub/pic.gif" + toTga, {}},
      {"pic.gif", "pamtopnm " + f + "few.pam | ppmtogif -interlace", "giftopnm " + f + "sub/pic.gif" + toTga, {}},
      {"pic.gif", "pamtopnm " + f + "few.pam | ppmtogif -transparent=" + clear,
       "ppmmake rgb:ff/80/20 " + std::to_string(kWidth) + " " + std::to_string(kHeight) + " > " + f + "bg.ppm && " +
           "giftopnm -alphaout=" + f + "a.pgm " + f + "sub/pic.gif > " + f + "o.ppm && pamcomp -alpha=" + f +
           "a.pgm " + f + "o.ppm " + f + "bg.ppm" + toTga,
       {"--background=FF8020"}},
      {"pic.bmp", "pamtopnm " + f + "rgb.pam | ppmtobmp", "bmptopnm " + f + "sub/pic.bmp" + toTga, {}},
      {"pic.bmp", "pamtopnm " + f + "few.pam | ppmtobmp -bpp=8", "bmptopnm " + f + "sub/pic.bmp" + toTga, {}},
      {"pic.bmp", "pamtopnm " + f + "few.pam | ppmtobmp -bpp=4", "bmptopnm " + f + "sub/pic.bmp" + toTga, {}},
      {"pic.bmp", "pamtopnm " + f + "two.pam | ppmtobmp -bpp=1", "bmptopnm " + f + "sub/pic.bmp" + toTga, {}},
      {"pic.bmp", "pamtopnm " + f + "rgb.pam | ppmtobmp -os2", "bmptopnm " + f + "sub/pic.bmp" + toTga, {}},
      {"pic.webp", "pamtopnm " + f + "rgb.pam > " + f + "rgb.ppm && cwebp -quiet -lossless " + f + "rgb.ppm -o -",
       "dwebp -quiet " + f + "sub/pic.webp -ppm -o -" + toTga, {}},
      {"pic.webp", "pamtopnm " + f + "rgb.pam > " + f + "rgb.ppm && cwebp -quiet -q 70 " + f + "rgb.ppm -o -",
       "dwebp -quiet " + f + "sub/pic.webp -ppm -o -" + toTga, {"--dither=80"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.write);
    ASSERT_TRUE(shell(c.write + " > " + f + "sub/" + c.file));
    ASSERT_TRUE(shell(c.reference));
    expectSameOutputs(dir, c.file, c.options);
  }
  // The lossless WebP holds the test's own pixels.
  const Bytes fromWebp = dir.read("pic.tga");
  dir.write("pic.tga", makeTga(kWidth, kHeight, [](int x, int y) {
    return Rgb{static_cast<std::uint8_t>(colourAt(x, y, 0)), static_cast<std::uint8_t>(colourAt(x, y, 1)),
               static_cast<std::uint8_t>(colourAt(x, y, 2))};
  }));
  ASSERT_TRUE(shell("pamtopnm " + f + "rgb.pam > " + f + "rgb.ppm && cwebp -quiet -lossless " + f +
                    "rgb.ppm -o " + f + "sub/pic.webp"));
  expectSameOutputs(dir, "pic.webp");
  EXPECT_FALSE(fromWebp.empty());
}

// cjpeg's input: the test's colour picture as a PPM.
void writeJpeg(const Folder& dir, const std::string& options) {
  dir.write("rgb.pam", makePam(kWidth, kHeight, 3, 255, "RGB", colourAt));
  ASSERT_TRUE(shell("pamtopnm " + dir / "rgb.pam" + " | cjpeg " + options + " > " + dir / "sub/pic.jpg"));
}

// An APP1 segment with the EXIF orientation, put right after SOI.
Bytes withOrientation(const Bytes& jpeg, int orientation, bool bigEndian) {
  const auto word = [bigEndian](Bytes& out, unsigned v, int bytes) {
    for (int i = 0; i < bytes; ++i) {
      const int shift = 8 * (bigEndian ? bytes - 1 - i : i);
      out.push_back(static_cast<std::uint8_t>((v >> shift) & 0xFF));
    }
  };
  Bytes tiff = bigEndian ? Bytes{'M', 'M'} : Bytes{'I', 'I'};
  word(tiff, 42, 2);
  word(tiff, 8, 4);  // IFD0 follows the header
  word(tiff, 2, 2);  // two entries: another tag first, then the orientation
  word(tiff, 0x010F, 2), word(tiff, 2, 2), word(tiff, 4, 4), tiff.insert(tiff.end(), {'C', 'a', 'm', 0});
  word(tiff, 0x0112, 2), word(tiff, 3, 2), word(tiff, 1, 4), word(tiff, static_cast<unsigned>(orientation), 2),
      word(tiff, 0, 2);
  word(tiff, 0, 4);  // no IFD1
  Bytes segment = {0xFF, 0xE1};
  const std::size_t length = 2 + 6 + tiff.size();
  segment.push_back(static_cast<std::uint8_t>(length >> 8));
  segment.push_back(static_cast<std::uint8_t>(length & 0xFF));
  segment.insert(segment.end(), {'E', 'x', 'i', 'f', 0, 0});
  segment.insert(segment.end(), tiff.begin(), tiff.end());
  Bytes out(jpeg.begin(), jpeg.begin() + 2);
  out.insert(out.end(), segment.begin(), segment.end());
  out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
  return out;
}

TEST_F(PictureInput, JpegGivesTheOutputsOfTheDecodedPixels) {
  REQUIRE_TOOLS();
  for (const std::string options : {"-quality 90", "-quality 75 -progressive", "-grayscale", "-arithmetic",
                                    "-sample 1x1 -quality 100"}) {
    SCOPED_TRACE(options);
    writeJpeg(dir, options);
    ASSERT_TRUE(shell("djpeg -pnm " + dir / "sub/pic.jpg" + " | ppmtotga -rgb -norle > " + dir / "pic.tga"));
    expectSameOutputs(dir, "pic.jpg");
  }
}

TEST_F(PictureInput, JpegOrientationTurnsThePicture) {
  REQUIRE_TOOLS();
  writeJpeg(dir, "-quality 90");
  const Bytes plain = dir.read("sub/pic.jpg");
  // Orientation 6: the stored picture is shown turned a quarter clockwise;
  // 8 a quarter anticlockwise (big-endian EXIF); 3 half a turn.
  const struct {
    int orientation;
    bool bigEndian;
    const char* flip;
  } cases[] = {{6, false, "-cw"}, {8, true, "-ccw"}, {3, false, "-r180"}, {1, true, "-null"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.orientation);
    dir.write("sub/pic.jpg", withOrientation(plain, c.orientation, c.bigEndian));
    ASSERT_TRUE(shell("djpeg -pnm " + dir / "sub/pic.jpg" + " | pamflip " + c.flip + " | ppmtotga -rgb -norle > " +
                      dir / "pic.tga"));
    expectSameOutputs(dir, "pic.jpg");
  }
  // The turned picture is 19 x 21.
  dir.write("sub/pic.jpg", withOrientation(plain, 6, false));
  EXPECT_NE(runKovrel(dir / "sub", {"pic.jpg"}).out.find("Converting pic.jpg (19,21)"), std::string::npos);
}

TEST_F(PictureInput, LargePictureNeedsAFitAndEveryFitGivesTheScreen) {
  REQUIRE_TOOLS();
  dir.write("big.pam", makePam(700, 300, 3, 255, "RGB", colourAt));
  ASSERT_TRUE(shell("pamtopnm " + dir / "big.pam" + " | cjpeg > " + dir / "photo.jpg"));
  const RunResult refused = runKovrel(dir.path(), {"photo.jpg"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.out, kBanner + "Unsupported size!\nThe picture is larger than 512 x 512: --fit=crop, "
                                   "--fit=letterbox or --fit=stretch scales it to the screen (kovrel --help).\n");
  EXPECT_EQ(dir.files(), (std::set<std::string>{"big.pam", "photo.jpg", "sub"}));

  for (const std::string fit : {"crop", "letterbox", "stretch"}) {
    const RunResult run = runKovrel(dir.path(), {"--fit=" + fit, "photo.jpg"});
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("Settings: fit " + fit + " to 256x192\nConverting photo.jpg (256,192)"), std::string::npos)
        << run.out;
    ASSERT_TRUE(shell("tgatoppm " + dir / "photo_tms.tga" + " > " + dir / "preview.ppm"));
    const Bytes ppm = dir.read("preview.ppm");
    EXPECT_EQ(std::string(ppm.begin(), ppm.begin() + 15), "P6\n256 192\n255\n");
    ASSERT_TRUE(shell("rm " + dir / "preview.ppm"));
    EXPECT_EQ(dir.read("photo.CHR").size(), 6151u);
  }
  // Beyond what the readers take, with or without a fit.
  ASSERT_TRUE(shell("pbmmake 40000 2 | pnmtopng > " + dir / "huge.png"));
  const RunResult huge = runKovrel(dir.path(), {"--fit=crop", "huge.png"});
  EXPECT_EQ(huge.status, 1);
  EXPECT_EQ(huge.out, kBanner + "huge.png: the picture is larger than Kovrel reads (32768 pixels a side, 67 "
                                "million pixels in all).\n");
  ASSERT_TRUE(shell("rm " + dir / "huge.png"));

  const RunResult sized = runKovrel(dir.path(), {"--size=100x60", "--aspect=tv", "photo.jpg"});
  ASSERT_EQ(sized.status, 0) << sized.out;
  EXPECT_NE(sized.out.find("Settings: fit crop to 100x60, aspect tv\n"), std::string::npos) << sized.out;
  EXPECT_NE(sized.out.find("(100,60)"), std::string::npos);
}

TEST_F(PictureInput, BadOptionsAreUsageErrors) {
  const struct {
    const char* option;
    const char* message;
  } cases[] = {
      {"--fit=zoom", "--fit takes crop, letterbox or stretch, not \"zoom\".\n"},
      {"--size=0x10", "--size takes WIDTHxHEIGHT, each 1 to 512, as 256x192, not \"0x10\".\n"},
      {"--size=513x10", "--size takes WIDTHxHEIGHT, each 1 to 512, as 256x192, not \"513x10\".\n"},
      {"--size=256", "--size takes WIDTHxHEIGHT, each 1 to 512, as 256x192, not \"256\".\n"},
      {"--aspect=pal", "--aspect takes square or tv, not \"pal\".\n"},
      {"--background=12345G",
       "--background takes a colour as RRGGBB in hexadecimal, as 000000 for black, not \"12345G\".\n"},
      {"--background", "--background needs a value, as --background=VALUE (kovrel --help lists the options).\n"},
  };
  dir.write("pic.tga", uniformTga(8, 8, {10, 20, 30}));
  for (const auto& c : cases) {
    const RunResult run = runKovrel(dir.path(), {c.option, "pic.tga"});
    EXPECT_EQ(run.status, 2) << c.option;
    EXPECT_EQ(run.out, kBanner + c.message);
  }
  EXPECT_EQ(dir.files(), (std::set<std::string>{"pic.tga", "sub"}));
}

TEST_F(PictureInput, DamagedFilesGiveOneMessageAndWriteNothing) {
  REQUIRE_TOOLS();
  dir.write("rgb.pam", makePam(64, 48, 3, 255, "RGB", colourAt));
  ASSERT_TRUE(shell("pamtopng " + dir / "rgb.pam" + " > " + dir / "good.png"));
  ASSERT_TRUE(shell("pamtopnm " + dir / "rgb.pam" + " | cjpeg > " + dir / "good.jpg"));
  ASSERT_TRUE(shell("pamtopnm " + dir / "rgb.pam" + " | pnmquant 64 | ppmtogif > " + dir / "good.gif"));
  ASSERT_TRUE(shell("pamtopnm " + dir / "rgb.pam" + " | ppmtobmp > " + dir / "good.bmp"));
  const bool webp = shell("pamtopnm " + dir / "rgb.pam" + " > " + dir / "rgb.ppm && cwebp -quiet -q 80 " +
                          dir / "rgb.ppm" + " -o " + dir / "good.webp");
  const Bytes png = dir.read("good.png");
  const Bytes jpeg = dir.read("good.jpg");
  const Bytes gif = dir.read("good.gif");
  const Bytes bmp = dir.read("good.bmp");
  const Bytes webpFile = webp ? dir.read("good.webp") : gif;
  const auto cut = [](const Bytes& bytes, std::size_t size) { return Bytes(bytes.begin(), bytes.begin() + static_cast<long>(size)); };
  Bytes badCrc = png;
  badCrc[png.size() / 2] ^= 0x40;  // inside the picture data: its checksum fails
  // A compression field with its top bit set, over the header alone: once
  // read as uncompressed rows of zeros past the end of the file.
  Bytes signedCompression = cut(bmp, 54);
  signedCompression[33] = 0x80;
  Bytes badHeader = png;
  badHeader[16] = 0x7F;  // IHDR width above libpng's limit, and its checksum fails
  const struct {
    const char* name;
    Bytes bytes;
    const char* message;
  } cases[] = {
      {"sig.png", cut(png, 8), "sig.png: the PNG file is damaged or cut short.\n"},
      {"half.png", cut(png, png.size() / 2), "half.png: the PNG file is damaged or cut short.\n"},
      {"noend.png", cut(png, png.size() - 12), "noend.png: the PNG file is damaged or cut short.\n"},
      {"crc.png", badCrc, "crc.png: the PNG file is damaged or cut short.\n"},
      {"header.png", badHeader, "header.png: the PNG file is damaged or cut short.\n"},
      {"soi.jpg", cut(jpeg, 3), "soi.jpg: the JPEG file is damaged or cut short.\n"},
      {"half.jpg", cut(jpeg, jpeg.size() / 2), "half.jpg: the JPEG file is damaged or cut short.\n"},
      {"noend.jpg", cut(jpeg, jpeg.size() - 2), "noend.jpg: the JPEG file is damaged or cut short.\n"},
      {"sig.gif", cut(gif, 6), "sig.gif: the GIF file is damaged or cut short, or holds no picture.\n"},
      {"half.gif", cut(gif, gif.size() / 2), "half.gif: the GIF file is damaged or cut short, or holds no picture.\n"},
      {"head.bmp", cut(bmp, 20), "head.bmp: the BMP file is damaged or cut short, or of a kind Kovrel does not "
                                 "read (RLE-compressed); save it as an uncompressed BMP or as a PNG.\n"},
      {"half.bmp", cut(bmp, bmp.size() - 1), "half.bmp: the BMP file is damaged or cut short, or of a kind Kovrel "
                                             "does not read (RLE-compressed); save it as an uncompressed BMP or as a "
                                             "PNG.\n"},
      {"signed.bmp", signedCompression, "signed.bmp: the BMP file is damaged or cut short, or of a kind Kovrel "
                                        "does not read (RLE-compressed); save it as an uncompressed BMP or as a "
                                        "PNG.\n"},
      {"half.webp", cut(webpFile, webpFile.size() / 2),
       webp ? "half.webp: the WebP file is damaged or cut short.\n"
            : "half.webp: the GIF file is damaged or cut short, or holds no picture.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Folder alone;
    alone.write(c.name, c.bytes);
    for (const char* fit : {"", "--fit=crop"}) {
      const RunResult run = runKovrel(alone.path(), *fit == 0 ? std::vector<std::string>{c.name}
                                                                : std::vector<std::string>{fit, c.name});
      EXPECT_EQ(run.status, 1);
      EXPECT_EQ(run.out, kBanner + c.message);
      EXPECT_EQ(alone.files(), std::set<std::string>{c.name});
    }
  }
  // Neither a TGA nor a PNG or JPEG, even when named like one.
  Folder alone;
  alone.write("text.png", Bytes{'P', 'N', 'G', ' ', 'n', 'o', 't'});
  const RunResult text = runKovrel(alone.path(), {"text.png"});
  EXPECT_EQ(text.status, 1);
  EXPECT_EQ(text.out, kBanner + "Unsupported file format!\n");
  EXPECT_EQ(alone.files(), std::set<std::string>{"text.png"});
}

}  // namespace
}  // namespace kovrel::test
