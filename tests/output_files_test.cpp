// A run's files where the user wants them: --output's folders and base
// names, and the names of PNG and JPEG inputs.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "program_runner.h"
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

}  // namespace
