// The whole-screen files: SC2 bytes against hand-made layouts, raw, C and
// assembler files against the SC2 they come with, tile sharing on a picture
// built to repeat tiles, the PNG preview through another decoder, and the
// command line's new options.
#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "colour/colour.h"
#include "program_runner.h"
#include "screen/screen.h"
#include "test_pictures.h"

namespace {

using kovrel::test::Bytes;
using kovrel::test::Folder;
using kovrel::test::makeTga;
using kovrel::test::Rgb;
using kovrel::test::RunResult;
using kovrel::test::runKovrel;

// A conversion of a columns x rows tile picture whose tables are made up:
// tile k's line l has pattern byte 0x80 | (8k + l) and colour byte 0x20 + k,
// so every byte says where it came from.
struct MadeUpConversion {
  Bytes pattern, colour;
  kovrel::Conversion conversion;
  MadeUpConversion(int width, int height) {
    conversion.image = kovrel::newWorkingImage();
    conversion.image->width = width;
    conversion.image->height = height;
    const int tiles = conversion.image->tileColumns() * conversion.image->tileRows();
    pattern.assign(7, 0);
    colour.assign(7, 0);
    for (int k = 0; k < tiles; ++k) {
      for (int l = 0; l < 8; ++l) {
        pattern.push_back(static_cast<std::uint8_t>(0x80 | (8 * k + l)));
        colour.push_back(static_cast<std::uint8_t>(0x20 + k));
      }
    }
    conversion.pattern = pattern.data();
    conversion.colour = colour.data();
    conversion.tableSize = pattern.size();
  }
};

// The SC2 file of an empty screen, as the layout table has it.
Bytes emptySc2() {
  Bytes file(14343, 0);
  const Bytes header = {0xFE, 0x00, 0x00, 0xFF, 0x37, 0x00, 0x00};
  std::copy(header.begin(), header.end(), file.begin());
  for (int i = 0; i < 768; ++i) {
    file[static_cast<std::size_t>(7 + 0x1800 + i)] = static_cast<std::uint8_t>(i % 256);
  }
  file[7 + 0x1B00] = 0xD0;
  for (int i = 0; i < 6144; ++i) {
    file[static_cast<std::size_t>(7 + 0x2000 + i)] = 0x11;
  }
  return file;
}

// Puts made-up tile k at file offsets patternAt (pattern table) and
// colourAt (colour table), worked out by hand from the layout.
void putTile(Bytes& file, int k, int patternAt, int colourAt) {
  for (int l = 0; l < 8; ++l) {
    file[static_cast<std::size_t>(patternAt + l)] = static_cast<std::uint8_t>(0x80 | (8 * k + l));
    file[static_cast<std::size_t>(colourAt + l)] = static_cast<std::uint8_t>(0x20 + k);
  }
}

kovrel::ScreenTables laidOut(const MadeUpConversion& made, kovrel::Placement placement) {
  kovrel::ScreenSettings settings;
  settings.placement = placement;
  kovrel::ScreenTables tables;
  EXPECT_EQ(kovrel::layOutScreen(made.conversion, settings, tables), kovrel::Status::kOk);
  return tables;
}

TEST(ScreenLayout, Sc2OfASmallPictureTopLeftAndCentred) {
  // 24 x 12 pixels: 3 x 2 tiles (the lower row padded).
  const MadeUpConversion made(24, 12);

  Bytes topLeft = emptySc2();
  // Screen tile (c, r) is byte 8 x (32 r + c) of a table: the header's 7,
  // then 0x0000 (pattern) or 0x2000 = 8192 (colour).
  putTile(topLeft, 0, 7, 8199);
  putTile(topLeft, 1, 15, 8207);
  putTile(topLeft, 2, 23, 8215);
  putTile(topLeft, 3, 263, 8455);  // (0, 1): 7 + 256
  putTile(topLeft, 4, 271, 8463);
  putTile(topLeft, 5, 279, 8471);
  EXPECT_EQ(kovrel::sc2File(laidOut(made, kovrel::Placement::kTopLeft)), topLeft);

  // Centred: (32 - 3) / 2 = 14 columns and (24 - 2) / 2 = 11 rows in, so
  // tile (14, 11) = 366, in the second third, at 7 + 2928.
  Bytes centred = emptySc2();
  putTile(centred, 0, 2935, 11127);
  putTile(centred, 1, 2943, 11135);
  putTile(centred, 2, 2951, 11143);
  putTile(centred, 3, 3191, 11383);  // (14, 12) = 398
  putTile(centred, 4, 3199, 11391);
  putTile(centred, 5, 3207, 11399);
  EXPECT_EQ(kovrel::sc2File(laidOut(made, kovrel::Placement::kCentre)), centred);
}

TEST(ScreenLayout, FullScreenIsTheTablesAsTheyAreAndLargerIsRefused) {
  const MadeUpConversion full(256, 192);
  const kovrel::ScreenTables tables = laidOut(full, kovrel::Placement::kCentre);
  EXPECT_EQ(Bytes(tables.pattern), Bytes(full.pattern.begin() + 7, full.pattern.end()));
  EXPECT_EQ(Bytes(tables.colour), Bytes(full.colour.begin() + 7, full.colour.end()));

  for (const auto& size : {std::array<int, 2>{257, 192}, std::array<int, 2>{256, 193}, std::array<int, 2>{512, 8}}) {
    const MadeUpConversion large(size[0], size[1]);
    kovrel::ScreenTables untouched;
    EXPECT_EQ(kovrel::layOutScreen(large.conversion, {}, untouched), kovrel::Status::kLargerThanScreen);
    EXPECT_TRUE(untouched.pattern.empty());
  }
  EXPECT_EQ(kovrel::checkScreenFits(249, 185), kovrel::Status::kOk);
}

TEST(ScreenNames, MsxNamesAndSourceIdentifiers) {
  std::string suggestion;
  EXPECT_TRUE(kovrel::isMsxFileName("dir.x/chelsea.SC2", suggestion));
  EXPECT_TRUE(kovrel::isMsxFileName("a_b-c#1.pat", suggestion));
  EXPECT_FALSE(kovrel::isMsxFileName("astronaut.SC2", suggestion));
  EXPECT_EQ(suggestion, "ASTRONAU.SC2");
  EXPECT_FALSE(kovrel::isMsxFileName("my cat+dog.SC2", suggestion));
  EXPECT_EQ(suggestion, "MYCATDOG.SC2");
  EXPECT_FALSE(kovrel::isMsxFileName("pic.jSC2", suggestion));
  EXPECT_EQ(suggestion, "PIC.JSC");
  EXPECT_FALSE(kovrel::isMsxFileName("\xC3\xA9t\xC3\xA9.SC2", suggestion));
  EXPECT_EQ(suggestion, "T.SC2");
  EXPECT_FALSE(kovrel::isMsxFileName("+++.SC2", suggestion));
  EXPECT_EQ(suggestion, "PICTURE.SC2");

  EXPECT_EQ(kovrel::sourceIdentifier("out/chelsea.h"), "chelsea");
  EXPECT_EQ(kovrel::sourceIdentifier("my-pic.v2.asm"), "my_pic_v2");
  EXPECT_EQ(kovrel::sourceIdentifier("2024.h"), "picture_2024");
  EXPECT_EQ(kovrel::sourceIdentifier(".h"), "picture_");
}

// --- End to end ------------------------------------------------------------

Rgb paletteRgb(int index) {
  const auto& c = kovrel::kMamePalette.colour[index];
  return {c[0], c[1], c[2]};
}

// Seeded noise, red and blue independent.
Bytes noiseTga(int width, int height, unsigned seed) {
  return makeTga(width, height, [seed](int x, int y) {
    unsigned h = seed ^ static_cast<unsigned>(x) * 73856093u ^ static_cast<unsigned>(y) * 19349663u;
    h = (h ^ (h >> 13)) * 0x5bd1e995u;
    h ^= h >> 15;
    return Rgb{static_cast<std::uint8_t>(h), static_cast<std::uint8_t>(h >> 8), static_cast<std::uint8_t>(h >> 16)};
  });
}

Bytes slice(const Bytes& bytes, std::size_t at, std::size_t size) {
  return Bytes(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at + size));
}

bool hasCommand(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// The bytes of the db lines under label in asm source, parsed back: lines
// "    db $XX,$XX,..." up to the next blank line.
Bytes asmBytes(const std::string& source, const std::string& label) {
  Bytes bytes;
  std::istringstream in(source);
  std::string line;
  bool inside = false;
  while (std::getline(in, line)) {
    if (line == label + ":") {
      inside = true;
      continue;
    }
    if (!inside) {
      continue;
    }
    if (line.rfind("    db ", 0) != 0) {
      break;
    }
    std::istringstream values(line.substr(7));
    std::string value;
    while (std::getline(values, value, ',')) {
      EXPECT_EQ(value.size(), 3u) << line;
      EXPECT_EQ(value[0], '$') << line;
      bytes.push_back(static_cast<std::uint8_t>(std::stoul(value.substr(1), nullptr, 16)));
    }
  }
  return bytes;
}

Bytes concatAll(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) {
    all.insert(all.end(), part.begin(), part.end());
  }
  return all;
}

std::string textOf(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// Compiles a program of two source files that both include folder/NAME.h
// (one of them twice, with the data), links them, runs it and returns the
// three arrays it writes to NAME.c-out (empty on failure).
Bytes bytesThroughC(const Folder& dir, const std::string& name) {
  std::string macro = name;
  for (char& c : macro) {
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  const std::string other = "#include \"" + name + ".h\"\n#include \"" + name + ".h\"\n"
                            "const unsigned char* other_name(void) { return " + name + "_name; }\n";
  const std::string program = "#include <stdio.h>\n#include \"" + name + ".h\"\n"
                              "#define " + macro + "_IMPLEMENTATION\n#include \"" + name + ".h\"\n"
                              "#include \"" + name + ".h\"\n"
                              "const unsigned char* other_name(void);\n"
                              "int main(void) {\n  FILE* out = fopen(\"" + name + ".c-out\", \"wb\");\n"
                              "  fwrite(" + name + "_pattern, 1, sizeof " + name + "_pattern, out);\n"
                              "  fwrite(" + name + "_colour, 1, sizeof " + name + "_colour, out);\n"
                              "  fwrite(other_name(), 1, " + macro + "_NAME_SIZE, out);\n"
                              "  return fclose(out) != 0 || other_name() != " + name + "_name;\n}\n";
  dir.write("include.c", Bytes(program.begin(), program.end()));
  dir.write("other.c", Bytes(other.begin(), other.end()));
  const std::string build = "cd '" + dir.path() + "' && " + KOVREL_C_COMPILER +
                            " -std=c99 -Wall -Wextra -pedantic -Werror include.c other.c -o include && ./include";
  EXPECT_EQ(std::system(build.c_str()), 0) << build;
  return dir.read(name + ".c-out");
}

TEST(ScreenFiles, RawCAndAsmHoldTheSc2Tables) {
  Folder dir;
  // 40 x 24 centred: 5 x 3 tiles at column 13, row 10.
  dir.write("cheese.tga", noiseTga(40, 24, 7));
  const RunResult run = runKovrel(dir.path(), {"--format=sc2,raw,c,asm,chr", "--place=centre", "cheese.tga"});
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("Settings: formats chr,sc2,raw,c,asm, placed centre\n"), std::string::npos) << run.out;
  EXPECT_EQ(dir.files(), (std::set<std::string>{"cheese.tga", "cheese.CHR", "cheese.SC2", "cheese.pat",
                                                 "cheese.col", "cheese.nam", "cheese.h", "cheese.asm"}));
  const Bytes sc2 = dir.read("cheese.SC2");
  ASSERT_EQ(sc2.size(), 14343u);
  const Bytes pattern = slice(sc2, 7, 6144), names = slice(sc2, 7 + 0x1800, 768),
              colour = slice(sc2, 7 + 0x2000, 6144);
  // The picture's first tile sits at screen tile (13, 10): its CHR bytes there.
  const Bytes chr = dir.read("cheese.CHR");
  EXPECT_EQ(slice(pattern, 8 * (32 * 10 + 13), 8), slice(chr, 7, 8));
  EXPECT_EQ(dir.read("cheese.pat"), pattern);
  EXPECT_EQ(dir.read("cheese.col"), colour);
  EXPECT_EQ(dir.read("cheese.nam"), names);

  EXPECT_EQ(bytesThroughC(dir, "cheese"), concatAll({pattern, colour, names}));

  const std::string source = textOf(dir.read("cheese.asm"));
  EXPECT_EQ(asmBytes(source, "cheese_pattern"), pattern);
  EXPECT_EQ(asmBytes(source, "cheese_colour"), colour);
  EXPECT_EQ(asmBytes(source, "cheese_name"), names);
  // The assemblers at hand must give the same bytes.
  for (const std::string& assemble : {std::string("pasmo cheese.asm pasmo.bin"), std::string("z80asm -o z80asm.bin cheese.asm")}) {
    const std::string tool = assemble.substr(0, assemble.find(' '));
    if (!hasCommand(tool)) {
      std::printf("%s not installed: its check is left out\n", tool.c_str());
      continue;
    }
    ASSERT_EQ(std::system(("cd '" + dir.path() + "' && " + assemble).c_str()), 0) << assemble;
    EXPECT_EQ(dir.read(tool + ".bin"), concatAll({pattern, colour, names})) << tool;
  }
}

// A 128 x 64 picture of three kinds of tile in exact palette colours, so
// the conversion carries no error and alike tiles get alike bytes: kind
// (c + r) % 3 of tile (c, r) is plain red, blue left half and white right
// half, or lines alternating green and magenta.
Rgb repeatingTile(int x, int y) {
  const int kind = (x / 8 + y / 8) % 3;
  if (kind == 0) {
    return paletteRgb(8);
  }
  if (kind == 1) {
    return x % 8 < 4 ? paletteRgb(4) : paletteRgb(15);
  }
  return y % 2 == 0 ? paletteRgb(2) : paletteRgb(13);
}

TEST(ScreenFiles, DedupeSharesAlikeTilesWithinEachThird) {
  Folder dir;
  dir.write("rep.tga", makeTga(128, 64, repeatingTile));
  const RunResult run = runKovrel(dir.path(), {"--format=sc2,raw,c", "--dedupe", "rep.tga"});
  ASSERT_EQ(run.status, 0) << run.out;
  // Third 0: the three kinds and the background beside and below them;
  // thirds 1 and 2: the background alone.
  EXPECT_NE(run.out.find("\nUnique tiles per third: 4, 1, 1 (of 256 each).\n"), std::string::npos) << run.out;
  const Bytes pattern = dir.read("rep.pat"), colour = dir.read("rep.col"), names = dir.read("rep.nam");
  ASSERT_EQ(pattern.size(), 6u * 8);
  ASSERT_EQ(colour.size(), 6u * 8);
  ASSERT_EQ(names.size(), 768u);
  // The background tile: pattern 0, colour 0x11.
  EXPECT_EQ(slice(pattern, 8 * 4, 8), Bytes(8, 0x00));
  EXPECT_EQ(slice(colour, 8 * 5, 8), Bytes(8, 0x11));
  // The name table reproduces the plain screen tile for tile.
  const Bytes sc2 = dir.read("rep.SC2");
  const std::size_t thirdStart[] = {0, 4, 5};  // first pattern of each third in the files
  for (std::size_t tile = 0; tile < 768; ++tile) {
    const std::size_t at = 8 * (thirdStart[tile / 256] + names[tile]);
    ASSERT_EQ(slice(pattern, at, 8), slice(sc2, 7 + 8 * tile, 8)) << tile;
    ASSERT_EQ(slice(colour, at, 8), slice(sc2, 7 + 0x2000 + 8 * tile, 8)) << tile;
  }
  // Numbered by first appearance: the first row goes kinds 0, 1, 2, 0, ...
  // then the background from column 16.
  EXPECT_EQ(slice(names, 0, 5), (Bytes{0, 1, 2, 0, 1}));
  EXPECT_EQ(names[16], 3);
  EXPECT_EQ(names[32], 1);
  const std::string header = textOf(dir.read("rep.h"));
  EXPECT_NE(header.find("#define REP_PATTERN_SIZE 48\n"), std::string::npos);
  EXPECT_NE(header.find("#define REP_THIRD0_PATTERNS 4\n#define REP_THIRD1_PATTERNS 1\n"), std::string::npos);
}

// A P6 or P7 (PAM, RGB) file's pixels from netpbm, header dropped.
Bytes netpbmPixels(const std::string& command) {
  Bytes out;
  std::FILE* pipe = popen(command.c_str(), "r");
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
    out.insert(out.end(), buffer, buffer + n);
  }
  EXPECT_EQ(pclose(pipe), 0) << command;
  const std::string text(out.begin(), out.end());
  const std::size_t end = text.find("ENDHDR\n");
  return end == std::string::npos ? Bytes() : Bytes(out.begin() + static_cast<long>(end + 7), out.end());
}

TEST(ScreenFiles, PngPreviewDecodesToTheTgaPreview) {
  if (!hasCommand("pngtopam")) {
    GTEST_SKIP() << "netpbm's pngtopam is not installed (apt-get install netpbm): the PNG is not checked";
  }
  Folder dir;
  dir.write("odd.tga", noiseTga(37, 21, 3));
  const RunResult run = runKovrel(dir.path(), {"--format=tga,png", "odd.tga"});
  ASSERT_EQ(run.status, 0) << run.out;
  const Bytes tga = dir.read("odd_tms.tga");
  ASSERT_EQ(tga.size(), 18u + 37 * 21 * 3);
  // The TGA preview bottom-up in blue, green, red; PAM top-down in red, green, blue.
  Bytes expected;
  for (int y = 20; y >= 0; --y) {
    for (int x = 0; x < 37; ++x) {
      const std::size_t at = 18 + 3 * static_cast<std::size_t>(y * 37 + x);
      expected.insert(expected.end(), {tga[at + 2], tga[at + 1], tga[at]});
    }
  }
  const Bytes decoded = netpbmPixels("pngtopam '" + dir.path() + "/odd_tms.png' | pamtopam");
  EXPECT_EQ(decoded, expected);
}

TEST(ScreenOptions, UsageErrorsWriteNothing) {
  Folder dir;
  dir.write("pic.tga", noiseTga(16, 16, 1));
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--format=sc2,bmp", "pic.tga"},
       "--format takes a comma-separated list of chr, clr, tga, sc2, raw, c, asm, rom, ti, a99 and png, not \"sc2,bmp\".\n"},
      {{"--format=sc2,", "pic.tga"},
       "--format takes a comma-separated list of chr, clr, tga, sc2, raw, c, asm, rom, ti, a99 and png, not \"sc2,\".\n"},
      {{"--format=", "pic.tga"}, "--format needs a value, as --format=VALUE (kovrel --help lists the options).\n"},
      {{"--place=middle", "--format=sc2", "pic.tga"}, "--place takes topleft or centre, not \"middle\".\n"},
      {{"--dedupe", "--format=sc2,png", "pic.tga"},
       "--dedupe applies to the raw, c, asm and a99 formats: name one with --format.\n"},
      {{"--dedupe=yes", "--format=raw", "pic.tga"}, "--dedupe takes no value.\n"},
      {{"--place=centre", "pic.tga"},
       "--place applies to the sc2, raw, c, asm, rom, ti and a99 formats: name one with --format.\n"},
      {{"--compress=lz4", "--format=raw", "pic.tga"}, "--compress takes zx0 or pletter, not \"lz4\".\n"},
      {{"--compress=zx0", "--format=sc2", "pic.tga"},
       "--compress=zx0 applies to the raw, c, asm and rom formats: name one with --format.\n"},
      {{"--compress=pletter", "--format=rom", "pic.tga"},
       "--compress=pletter applies to the raw, c and asm formats: name one with --format.\n"},
      {{"--compress=pletter", "--format=a99", "pic.tga"},
       "--compress=pletter applies to the raw, c and asm formats: name one with --format.\n"},
  };
  for (const auto& [args, message] : cases) {
    const RunResult run = runKovrel(dir.path(), args);
    EXPECT_EQ(run.status, 2) << args[0];
    EXPECT_EQ(run.out, kovrel::test::kBanner + message);
  }
  EXPECT_EQ(dir.files(), std::set<std::string>{"pic.tga"});
}

TEST(ScreenOptions, LargerThanTheScreenIsRefusedOnlyForWholeScreenFormats) {
  Folder dir;
  dir.write("wide.tga", noiseTga(264, 8, 2));
  for (const std::string format : {"sc2", "raw", "c", "asm", "chr,sc2"}) {
    const RunResult run = runKovrel(dir.path(), {"--format=" + format, "wide.tga"});
    EXPECT_EQ(run.status, 1) << format;
    EXPECT_EQ(run.out, kovrel::test::kBanner +
                           "wide.tga is larger than the 256 x 192 screen, which the sc2, raw, c, asm, ti and a99 "
                           "formats hold: scale it to fit first (--fit).\n");
  }
  EXPECT_EQ(dir.files(), std::set<std::string>{"wide.tga"});
  // The table files take any size, as before.
  const RunResult run = runKovrel(dir.path(), {"--format=chr,clr,png", "wide.tga"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(dir.read("wide.CHR").size(), 7u + 33 * 8);
  EXPECT_TRUE(dir.exists("wide_tms.png"));
}

TEST(ScreenOptions, MsxNameNoteAndClashWithTheInput) {
  Folder dir;
  const Bytes tga = noiseTga(16, 8, 4);
  dir.write("astronaut.tga", tga);
  RunResult run = runKovrel(dir.path(), {"--format=sc2", "astronaut.tga"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("\nNote: astronaut.SC2 will not load by that name on an MSX, whose file names are 8.3; copy "
                         "it under a name such as ASTRONAU.SC2.\n"),
            std::string::npos)
      << run.out;
  EXPECT_TRUE(dir.exists("astronaut.SC2"));
  // A run without options prints what it always printed.
  run = runKovrel(dir.path(), {"astronaut.tga"});
  EXPECT_EQ(run.out.find("8.3"), std::string::npos) << run.out;
  // C and assembler files are not loaded by name on the machine.
  run = runKovrel(dir.path(), {"--format=c", "astronaut.tga"});
  EXPECT_EQ(run.out.find("8.3"), std::string::npos) << run.out;

  // An input named as one of its outputs is kept, and nothing is written.
  Folder other;
  other.write("pic.pat", tga);
  run = runKovrel(other.path(), {"--format=sc2,raw", "pic.pat"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("Ok   \ncannot create pic.pat file!\n"), std::string::npos) << run.out;
  EXPECT_EQ(other.files(), std::set<std::string>{"pic.pat"});
  EXPECT_EQ(other.read("pic.pat"), tga);
}

}  // namespace
