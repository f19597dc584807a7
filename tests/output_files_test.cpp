// A run's files where the user wants them (--output's folders and base
// names, and the names of PNG and JPEG inputs), and the TI-99/4A's files
// read back by the rules of their formats.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "colour/colour.h"
#include "program_runner.h"
#include "screen/screen.h"
#include "test_pictures.h"

namespace {

using kovrel::test::Bytes;
using kovrel::test::Folder;
using kovrel::test::RunResult;
using kovrel::test::runKovrel;

Bytes stripesTga(int width, int height) {
  return kovrel::test::makeTga(width, height, [](int x, int y) {
    return kovrel::test::Rgb{static_cast<std::uint8_t>(x * 7), static_cast<std::uint8_t>(y * 11),
                             static_cast<std::uint8_t>((x ^ y) * 5)};
  });
}

// Every file under folder, as paths relative to it.
std::set<std::string> allFiles(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) {
      names.insert(std::filesystem::relative(entry.path(), folder).string());
    }
  }
  return names;
}

bool contains(const Bytes& text, const std::string& part) {
  return std::string(text.begin(), text.end()).find(part) != std::string::npos;
}

TEST(OutputNames, FoldersBaseNamesAndSymbols) {
  struct Case {
    std::string input;
    std::vector<std::string> args;
    std::set<std::string> written;  // besides the input; empty when the run is refused
    std::string symbol;             // the C arrays' prefix, when a .h is written
  };
  const Case cases[] = {
      // A folder, with or without its '/', keeps the usual names.
      {"pic.tga", {"--output=out/", "--format=chr,clr,tga,c"}, {"out/pic.CHR", "out/pic.CLR", "out/pic_tms.tga", "out/pic.h"}, "pic"},
      {"pic.tga", {"--output=out", "--format=chr,asm"}, {"out/pic.CHR", "out/pic.asm"}, "pic"},
      // A base name names every file, and the symbols follow it.
      {"pic.tga",
       {"--output=out/title", "--format=chr,clr,tga,sc2,raw,c,asm,png"},
       {"out/title.CHR", "out/title.CLR", "out/title_tms.tga", "out/title.SC2", "out/title.pat", "out/title.col",
        "out/title.nam", "out/title.h", "out/title.asm", "out/title_tms.png"},
       "title"},
      {"pic.tga", {"--output=my-title.v2", "--format=c"}, {"my-title.v2.h"}, "my_title_v2"},
      // PNG and JPEG names lose their whole extension, in a folder too.
      {"photo.jpeg", {"--format=chr,tga,c"}, {"photo.CHR", "photo_tms.tga", "photo.h"}, "photo"},
      {"Shot.JPG", {"--output=out/", "--format=sc2,png"}, {"out/Shot.SC2", "out/Shot_tms.png"}, ""},
      // A TGA keeps the names it always had, in a folder too.
      {"picture", {"--output=out/", "--format=chr"}, {"out/pictCHR"}, ""},
      // No output may be the input: the run is refused and writes nothing.
      {"title_tms.tga", {"--output=title", "--format=chr,tga"}, {}, ""},
      {"pic.CHR", {"--output=.", "--format=clr,chr"}, {}, ""},
  };
  const Bytes tga = stripesTga(24, 16);
  Folder plain;
  plain.write("pic.tga", tga);
  ASSERT_EQ(runKovrel(plain.path(), {"--format=chr,sc2", "pic.tga"}).status, 0);
  for (const Case& c : cases) {
    Folder dir;
    std::filesystem::create_directory(dir / "out");
    dir.write(c.input, tga);
    std::vector<std::string> args = c.args;
    args.push_back(c.input);
    const RunResult run = runKovrel(dir.path(), args);
    std::set<std::string> expected = c.written;
    expected.insert(c.input);
    EXPECT_EQ(allFiles(dir.path()), expected) << c.args[0] << " " << c.input << "\n" << run.out;
    EXPECT_EQ(run.status, c.written.empty() ? 1 : 0) << run.out;
    EXPECT_EQ(dir.read(c.input), tga);
    for (const std::string& name : c.written) {
      const std::string extension = name.substr(name.rfind('.') + 1);
      if (extension == "CHR" || extension == "SC2") {
        EXPECT_EQ(dir.read(name), plain.read("pic." + extension)) << name;  // only the names change
      }
      if (extension == "h") {
        EXPECT_TRUE(contains(dir.read(name), "const unsigned char " + c.symbol + "_pattern[")) << name;
      }
    }
  }
}

Bytes slice(const Bytes& bytes, std::size_t at, std::size_t size) {
  return Bytes(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at + size));
}

TEST(TiFiles, TifilesHeadersHoldTheSc2Tables) {
  Folder dir;
  dir.write("cat.tga", stripesTga(40, 24));
  const RunResult run = runKovrel(dir.path(), {"--format=ti,sc2", "--place=centre", "cat.tga"});
  ASSERT_EQ(run.status, 0) << run.out;
  const Bytes sc2 = dir.read("cat.SC2");
  for (const auto& [name, tiName, body] : {std::make_tuple("cat_P", "CAT_P     ", slice(sc2, 7, 6144)),
                                           std::make_tuple("cat_C", "CAT_C     ", slice(sc2, 7 + 0x2000, 6144))}) {
    const Bytes file = dir.read(name);
    ASSERT_EQ(file.size(), 128u + 6144u) << name;
    // 0x07 "TIFILES", 24 sectors big-endian, PROGRAM, 0 records a sector,
    // the last sector full, no records; the disk name at 0x10; zeros on.
    const Bytes header = {0x07, 'T', 'I', 'F', 'I', 'L', 'E', 'S', 0x00, 0x18, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(slice(file, 0, 16), header) << name;
    EXPECT_EQ(std::string(file.begin() + 16, file.begin() + 26), tiName);
    EXPECT_EQ(slice(file, 26, 102), Bytes(102, 0)) << name;
    EXPECT_EQ(slice(file, 128, 6144), body) << name;
  }
  // A body of a part sector is padded, and the last sector's use recorded.
  const Bytes odd = kovrel::tiFilesFile(Bytes(300, 0xAB), "X");
  ASSERT_EQ(odd.size(), 128u + 512u);
  EXPECT_EQ(odd[0x09], 2);
  EXPECT_EQ(odd[0x0C], 300 - 256);
  EXPECT_EQ(odd[128 + 299], 0xAB);
  EXPECT_EQ(odd[128 + 300], 0x00);

  const std::pair<std::string, std::string> names[] = {
      {"out/my pic_P", "MYPIC_P"}, {"a.b-c_C", "AB-C_C"}, {"_P", "PIC_P"}, {"verylongname_P", "VERYLONG_P"}};
  for (const auto& [path, expected] : names) {
    EXPECT_EQ(kovrel::tiDiskName(path, path.substr(path.size() - 2)), expected) << path;
  }
}

TEST(TiFiles, AssemblerFollowsTheEditorAssemblersRules) {
  Folder dir;
  dir.write("2cats.tga", stripesTga(24, 16));
  const RunResult run = runKovrel(dir.path(), {"--format=a99,raw", "--dedupe", "2cats.tga"});
  ASSERT_EQ(run.status, 0) << run.out;
  // Read as the Editor/Assembler reads: '*' in column 1 a comment; a label
  // (at most 6 characters, a letter first) from column 1 up to a space, or a
  // space there for none; then the mnemonic and the operands.
  const Bytes text = dir.read("2cats.a99");
  std::istringstream source(std::string(text.begin(), text.end()));
  std::map<std::string, Bytes> data;
  std::map<std::string, long> equates;
  std::string line, current;
  while (std::getline(source, line)) {
    ASSERT_LE(line.size(), 80u) << line;
    if (line[0] == '*') {
      continue;
    }
    std::istringstream fields(line);
    std::string label, mnemonic, operands;
    if (line[0] != ' ') {
      fields >> label;
      ASSERT_LE(label.size(), 6u) << line;
      ASSERT_TRUE(std::isalpha(static_cast<unsigned char>(label[0]))) << line;
    }
    fields >> mnemonic >> operands;
    if (mnemonic == "EQU") {
      equates[label] = std::stol(operands);
      continue;
    }
    ASSERT_EQ(mnemonic, "BYTE") << line;
    current = label.empty() ? current : label;
    std::istringstream values(operands);
    std::string value;
    while (std::getline(values, value, ',')) {
      ASSERT_EQ(value.size(), 3u) << line;
      ASSERT_EQ(value[0], '>') << line;
      data[current].push_back(static_cast<std::uint8_t>(std::stoul(value.substr(1), nullptr, 16)));
    }
  }
  // The file name starts with a digit: the labels start PIC.
  EXPECT_EQ(data["PICPAT"], dir.read("2cats.pat"));
  EXPECT_EQ(data["PICCOL"], dir.read("2cats.col"));
  EXPECT_EQ(data["PICNAM"], dir.read("2cats.nam"));
  EXPECT_EQ(equates["PICPSZ"], static_cast<long>(dir.read("2cats.pat").size()));
  EXPECT_EQ(equates["PICNSZ"], 768);
  // Third 0's name bytes run 0 ... its pattern count - 1.
  const Bytes names = dir.read("2cats.nam");
  EXPECT_EQ(equates["PICT0"], *std::max_element(names.begin(), names.begin() + 256) + 1);
}

std::string hexColour(const kovrel::Palette& palette, int index) {
  char text[7];
  const auto& c = palette.colour[index];
  std::snprintf(text, sizeof text, "%02X%02X%02X", c[0], c[1], c[2]);
  return text;
}

TEST(ScreenBackground, AroundASmallerPictureIsTheNearestPaletteColour) {
  const std::pair<std::vector<std::string>, std::uint8_t> cases[] = {
      {{}, 0x11},  // black, as always
      {{"--background=FFFFFF"}, 0xFF},
      {{"--background=FAF0F5"}, 0xFF},  // near white
      {{"--background=" + hexColour(kovrel::kMamePalette, 4)}, 0x44},
      {{"--background=" + hexColour(kovrel::kMamePalette, 9)}, 0x99},
      {{"--palette=v9938", "--background=" + hexColour(kovrel::kV9938Palette, 6)}, 0x66},
  };
  for (const auto& [options, expected] : cases) {
    Folder dir;
    dir.write("pic.tga", stripesTga(40, 24));
    std::vector<std::string> args = options;
    args.insert(args.end(), {"--format=sc2,raw", "--dedupe", "pic.tga"});
    const RunResult run = runKovrel(dir.path(), args);
    ASSERT_EQ(run.status, 0) << run.out;
    const Bytes sc2 = dir.read("pic.SC2");
    // Tiles (5, 0) and (31, 23) lie outside the 5 x 3 tile picture.
    for (const std::size_t tile : {std::size_t{5}, std::size_t{23 * 32 + 31}}) {
      EXPECT_EQ(slice(sc2, 7 + 8 * tile, 8), Bytes(8, 0x00)) << tile;
      EXPECT_EQ(slice(sc2, 7 + 0x2000 + 8 * tile, 8), Bytes(8, expected)) << options.size() << " " << tile;
    }
    // The shared tables hold the same background tile: third 2 has no other.
    const Bytes colour = dir.read("pic.col");
    EXPECT_EQ(slice(colour, colour.size() - 8, 8), Bytes(8, expected));
  }
}

}  // namespace
