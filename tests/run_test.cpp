// End-to-end: runs the built program on pictures made here and checks the
// console text, the exit status and every output byte.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "program_runner.h"
#include "test_pictures.h"

namespace {

using kovrel::test::Bytes;
using kovrel::test::Folder;
using kovrel::test::kBanner;
using kovrel::test::kChrHeader;
using kovrel::test::kClrHeader;
using kovrel::test::makeTga;
using kovrel::test::progressText;
using kovrel::test::RunResult;
using kovrel::test::runKovrel;
using kovrel::test::Rgb;
using kovrel::test::uniformTga;

// The console text of a completed run, with the seconds left as a pattern.
void expectConverted(const RunResult& run, const std::string& typed, int width, int height,
                     const std::string& millions) {
  const int columns = (width + 7) / 8, rows = (height + 7) / 8;
  const std::string head = kBanner + "Converting " + typed + " (" + std::to_string(width) + "," +
                           std::to_string(height) + ") to TMS9918 format in (" +
                           std::to_string(columns) + "," + std::to_string(rows) +
                           ") screen 2 tiles...    " +
                           progressText(static_cast<unsigned>(columns * rows * 8)) +
                           "\b\b\bOk   \n" + millions + " million combinations analysed in ";
  EXPECT_EQ(run.status, 0);
  ASSERT_GE(run.out.size(), head.size());
  EXPECT_EQ(run.out.substr(0, head.size()), head);
  const std::string tail = run.out.substr(std::min(head.size(), run.out.size()));
  // The seconds: digits, a point, two digits. (Checked by hand: std::regex
  // trips gcc 12's maybe-uninitialized warning in the sanitizer build.)
  const std::string note =
      " seconds.\nNote: the .CLR and .CHR files have correct headers only for 256x192 images. \n";
  const std::size_t point = tail.find('.');
  const bool seconds = point != std::string::npos && point > 0 && point + 3 <= tail.size() &&
                       tail.find_first_not_of("0123456789") == point &&
                       std::isdigit(static_cast<unsigned char>(tail[point + 1])) != 0 &&
                       std::isdigit(static_cast<unsigned char>(tail[point + 2])) != 0;
  EXPECT_TRUE(seconds && tail.substr(point + 3) == note) << tail;
}

Bytes concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes repeat(std::initializer_list<std::uint8_t> bytes, int times) {
  Bytes out;
  for (int i = 0; i < times; ++i) {
    out.insert(out.end(), bytes);
  }
  return out;
}

TEST(Program, WithoutArgumentPrintsSyntax) {
  Folder dir;
  const RunResult run = runKovrel(dir.path(), {});
  EXPECT_EQ(run.out, kBanner + "Syntax: Kovrel [file.tga]\n");
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(dir.files().empty());
}

TEST(Program, RejectedInputsWriteNothing) {
  Folder dir;
  RunResult run = runKovrel(dir.path(), {"missing.tga"});
  EXPECT_EQ(run.out, kBanner + "cannot open missing.tga file!\n");
  EXPECT_EQ(run.status, 1);

  const Bytes good = uniformTga(2, 2, {255, 0, 0});
  struct Case {
    std::size_t offset;
    std::uint8_t value;
    std::string message;
  };
  const Case cases[] = {
      {2, 10, "Unsupported file format!\n"},   {16, 32, "Unsupported file format!\n"},
      {17, 0x20, "Unsupported file format!\n"}, {17, 8, "Unsupported file format!\n"},
      {12, 0, "Unsupported size!"},
  };
  for (const Case& c : cases) {
    Bytes bytes = good;
    bytes[c.offset] = c.value;
    dir.write("bad.tga", bytes);
    run = runKovrel(dir.path(), {"bad.tga"});
    EXPECT_EQ(run.out, kBanner + c.message) << c.offset;
    EXPECT_EQ(run.status, 1);
  }
  Bytes header(good.begin(), good.begin() + 18);
  for (const auto& [lo12, hi13, lo14, hi15] :
       {std::array<int, 4>{1, 2, 1, 0}, std::array<int, 4>{1, 0, 1, 2}}) {
    header[12] = static_cast<std::uint8_t>(lo12), header[13] = static_cast<std::uint8_t>(hi13);
    header[14] = static_cast<std::uint8_t>(lo14), header[15] = static_cast<std::uint8_t>(hi15);
    dir.write("bad.tga", header);  // 513 wide, then 513 high
    run = runKovrel(dir.path(), {"bad.tga"});
    EXPECT_EQ(run.out, kBanner + "Unsupported size!");
    EXPECT_EQ(run.status, 1);
  }
  dir.write("short.tga", Bytes(good.begin(), good.begin() + 17));
  run = runKovrel(dir.path(), {"short.tga"});
  EXPECT_EQ(run.out, kBanner + "Unsupported file format!\n");
  EXPECT_EQ(dir.files(), (std::set<std::string>{"bad.tga", "short.tga"}));
}

TEST(Program, OnePixelPicture) {
  Folder dir;
  dir.write("dot.tga", uniformTga(1, 1, {255, 255, 255}));
  const RunResult run = runKovrel(dir.path(), {"dot.tga", "ignored.tga"});
  expectConverted(run, "dot.tga", 1, 1, "0.00");
  // One tile: the white pixel's line, then seven padded black lines.
  EXPECT_EQ(dir.read("dot.CHR"), concat(kChrHeader, {0x80, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(dir.read("dot.CLR"),
            concat(kClrHeader, {0xF1, 0x21, 0x21, 0x21, 0x21, 0x21, 0x21, 0x21}));
  EXPECT_EQ(dir.read("dot_tms.tga"),
            (Bytes{0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 24, 0, 255, 255, 255}));
  EXPECT_EQ(dir.files().size(), 4u);
}

TEST(Program, EightByTwelvePicture) {
  Folder dir;
  // Palette colour 6 (212, 82, 77): red and blue differ, so a swapped
  // channel order shows.
  dir.write("b.tga", uniformTga(8, 12, {212, 82, 77}));
  const RunResult run = runKovrel(dir.path(), {"b.tga"});
  expectConverted(run, "b.tga", 8, 12, "0.00");
  // Short path: kept whole, suffixes appended.
  const Bytes firstTile = repeat({0xFF}, 8);
  const Bytes secondTile = concat(repeat({0xFF}, 4), repeat({0x00}, 4));
  EXPECT_EQ(dir.read("b.tga.CHR").size(), 0u);
  EXPECT_EQ(dir.read("b.CHR"), concat(concat(kChrHeader, firstTile), secondTile));
  EXPECT_EQ(dir.read("b.CLR"), concat(concat(kClrHeader, repeat({0x61}, 12)), repeat({0x21}, 4)));
  Bytes preview = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0, 12, 0, 24, 0};
  EXPECT_EQ(dir.read("b_tms.tga"), concat(preview, repeat({77, 82, 212}, 96)));
}

TEST(Program, ShortPathsKeepTheirCharacters) {
  Folder dir;
  dir.write("ab", uniformTga(8, 8, {255, 255, 255}));
  RunResult run = runKovrel(dir.path(), {"ab"});
  expectConverted(run, "ab", 8, 8, "0.00");
  EXPECT_EQ(dir.files(), (std::set<std::string>{"ab", "ab.CHR", "ab.CLR", "ab_tms.tga"}));
  dir.write("abc", uniformTga(8, 8, {255, 255, 255}));
  run = runKovrel(dir.path(), {"abc"});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(dir.exists("CHR") && dir.exists("CLR") && dir.exists("abc_tms.tga"));

  // Only the file name gives up characters: the outputs of sub/cat and
  // sub/ab stay in sub/, and the files beside sub/ are left alone.
  Folder parent;
  ASSERT_EQ(mkdir((parent / "sub").c_str(), 0755), 0);
  const Bytes unrelated = {'k', 'e', 'e', 'p'};
  for (const char* name : {"sub_tms.tga", "su_tms.tga", "subCHR", "subCLR"}) {
    parent.write(name, unrelated);
  }
  parent.write("sub/cat", uniformTga(8, 8, {255, 255, 255}));
  parent.write("sub/ab", uniformTga(8, 8, {255, 255, 255}));
  EXPECT_EQ(runKovrel(parent.path(), {"sub/cat"}).status, 0);
  EXPECT_EQ(runKovrel(parent.path(), {"sub/ab"}).status, 0);
  for (const char* name : {"sub_tms.tga", "su_tms.tga", "subCHR", "subCLR"}) {
    EXPECT_EQ(parent.read(name), unrelated) << name;
  }
  EXPECT_EQ(parent.files().size(), 5u);
  EXPECT_EQ(parent.read("sub/cat_tms.tga"), parent.read("sub/ab_tms.tga"));
  EXPECT_EQ(parent.read("sub/ab.CHR").size(), 15u);
  EXPECT_EQ(parent.read("sub/CHR"), parent.read("sub/ab.CHR"));
  EXPECT_EQ(parent.read("sub/CLR"), parent.read("sub/ab.CLR"));
}

// For a quantised line, the bytes follow from the set of colours it holds.
std::pair<std::uint8_t, std::uint8_t> expectedBytes(const int (&line)[8]) {
  std::set<int> colours(std::begin(line), std::end(line));
  const int low = *colours.begin();
  const int high = *colours.rbegin();
  if (colours.size() == 1) {
    return {static_cast<std::uint8_t>(low == 1 ? 0x21 : 16 * low + 1),
            static_cast<std::uint8_t>(low == 1 ? 0x00 : 0xFF)};
  }
  int pattern = 0;
  for (int k = 0; k < 8; ++k) {
    pattern = 2 * pattern + (line[k] == high ? 1 : 0);
  }
  return {static_cast<std::uint8_t>(16 * high + low), static_cast<std::uint8_t>(pattern)};
}

// Checks a full-screen conversion against its own preview: every preview
// pixel is a palette colour, and each table byte follows from the colours
// of its line.
void checkTablesAgainstPreview(const Folder& dir, const std::string& stem, int width, int height) {
  static const int kPalette[16][3] = {
      {0, 0, 0},     {0, 0, 0},     {33, 200, 66},  {94, 220, 120}, {84, 85, 237},   {125, 118, 252},
      {212, 82, 77}, {66, 235, 245}, {252, 85, 84}, {255, 121, 120}, {212, 193, 84}, {230, 206, 128},
      {33, 176, 59}, {201, 91, 186}, {204, 204, 204}, {255, 255, 255}};
  const Bytes preview = dir.read(stem + "_tms.tga");
  const Bytes chr = dir.read(stem + ".CHR");
  const Bytes clr = dir.read(stem + ".CLR");
  ASSERT_EQ(preview.size(), 18u + static_cast<std::size_t>(width * height * 3));
  const std::size_t lines = static_cast<std::size_t>(width * height / 8);
  ASSERT_EQ(chr.size(), 7 + lines);
  ASSERT_EQ(clr.size(), 7 + lines);
  EXPECT_EQ(Bytes(chr.begin(), chr.begin() + 7), kChrHeader);
  EXPECT_EQ(Bytes(clr.begin(), clr.begin() + 7), kClrHeader);
  std::size_t at = 7;
  for (int r = 0; r < height / 8; ++r) {
    for (int c = 0; c < width / 8; ++c) {
      for (int l = 0; l < 8; ++l) {
        const int y = 8 * r + l;
        int line[8];
        for (int k = 0; k < 8; ++k) {
          const std::size_t p = 18 + 3 * static_cast<std::size_t>((height - 1 - y) * width + 8 * c + k);
          line[k] = -1;
          for (int i = 15; i >= 1; --i) {
            if (preview[p] == kPalette[i][2] && preview[p + 1] == kPalette[i][1] &&
                preview[p + 2] == kPalette[i][0]) {
              line[k] = i;
            }
          }
          ASSERT_NE(line[k], -1) << "not a palette colour at " << 8 * c + k << "," << y;
        }
        const auto [colour, pattern] = expectedBytes(line);
        ASSERT_EQ(clr[at], colour) << at;
        ASSERT_EQ(chr[at], pattern) << at;
        ++at;
      }
    }
  }
}

TEST(Program, SamplePhotograph) {
  Folder dir;
  std::ifstream in(KOVREL_SAMPLE, std::ios::binary);
  const Bytes sample((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(sample.size(), 18u + 256 * 192 * 3);
  dir.write("photo.tga", sample);
  const RunResult run = runKovrel(dir.path(), {"photo.tga"});
  expectConverted(run, "photo.tga", 256, 192, "0.65");
  checkTablesAgainstPreview(dir, "photo", 256, 192);
  const Bytes preview = dir.read("photo_tms.tga");
  EXPECT_EQ(Bytes(preview.begin(), preview.begin() + 18), Bytes(sample.begin(), sample.begin() + 18));
}

TEST(Program, LargestPictureAndNoise) {
  Folder dir;
  std::uint32_t state = 12345;
  const Bytes noise = makeTga(512, 512, [&state](int, int) {
    state = state * 1664525u + 1013904223u;
    return Rgb{static_cast<std::uint8_t>(state >> 24), static_cast<std::uint8_t>(state >> 16),
               static_cast<std::uint8_t>(state >> 8)};
  });
  dir.write("noise.tga", noise);
  const RunResult run = runKovrel(dir.path(), {"noise.tga"});
  expectConverted(run, "noise.tga", 512, 512, "3.44");
  checkTablesAgainstPreview(dir, "noise", 512, 512);
}

TEST(Program, TruncatedFileAndIdFieldReadAsExpected) {
  Folder dir;
  // Bottom four rows white, top four missing: the missing bytes count as
  // black.
  Bytes truncated = uniformTga(8, 8, {255, 255, 255});
  truncated.resize(18 + 4 * 8 * 3);
  dir.write("cut.tga", truncated);
  RunResult run = runKovrel(dir.path(), {"cut.tga"});
  expectConverted(run, "cut.tga", 8, 8, "0.00");
  EXPECT_EQ(dir.read("cut.CHR"), concat(concat(kChrHeader, repeat({0x00}, 4)), repeat({0xFF}, 4)));
  EXPECT_EQ(dir.read("cut.CLR"), concat(concat(kClrHeader, repeat({0x21}, 4)), repeat({0xF1}, 4)));
  const Bytes preview = dir.read("cut_tms.tga");
  EXPECT_EQ(Bytes(preview.begin() + 18, preview.end()),
            concat(repeat({255, 255, 255}, 32), repeat({0, 0, 0}, 32)));

  // The same picture with and without an image ID field converts alike, and
  // the preview carries no ID field.
  auto gradient = [](int x, int y) {
    return Rgb{static_cast<std::uint8_t>(x * 20), static_cast<std::uint8_t>(y * 9),
               static_cast<std::uint8_t>(255 - x * y)};
  };
  dir.write("plain.tga", makeTga(13, 11, gradient));
  dir.write("named.tga", makeTga(13, 11, gradient, 21));
  EXPECT_EQ(runKovrel(dir.path(), {"plain.tga"}).status, 0);
  run = runKovrel(dir.path(), {"named.tga"});
  expectConverted(run, "named.tga", 13, 11, "0.00");
  for (const char* ext : {".CHR", ".CLR", "_tms.tga"}) {
    EXPECT_EQ(dir.read(std::string("named") + ext), dir.read(std::string("plain") + ext)) << ext;
  }
}

TEST(Program, InputNamedLikeAnOutputIsNeverOverwritten) {
  Folder dir;
  const Bytes picture = uniformTga(8, 8, {0, 0, 255});
  dir.write("pic.CHR", picture);
  const RunResult run = runKovrel(dir.path(), {"pic.CHR"});
  EXPECT_EQ(run.status, 1);
  const std::string expected = kBanner +
                               "Converting pic.CHR (8,8) to TMS9918 format in (1,1) screen 2 "
                               "tiles...    " +
                               progressText(8) + "\b\b\bOk   \ncannot create pic.CHR file!\n";
  EXPECT_EQ(run.out, expected);
  EXPECT_EQ(dir.read("pic.CHR"), picture);
  EXPECT_EQ(dir.files(), (std::set<std::string>{"pic.CHR"}));

  // The same file under another spelling is still the input.
  Folder other;
  other.write("pic.tga", picture);
  ASSERT_EQ(symlink("pic.tga", (other / "pic.CLR").c_str()), 0);
  const RunResult linked = runKovrel(other.path(), {"./pic.CLR"});
  EXPECT_EQ(linked.status, 1);
  EXPECT_NE(linked.out.find("cannot create ./pic.CLR file!\n"), std::string::npos) << linked.out;
  EXPECT_EQ(other.read("pic.tga"), picture);
}

}  // namespace
