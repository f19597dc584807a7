// End-to-end: the program's options. Each reaches the output in the way it
// should (checked against a default run on a picture changed in the test
// the way the option describes), bad ones are refused before anything is
// read or written, and a run whose options are all at their defaults is the
// plain run to the byte.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "colour/colour.h"
#include "program_runner.h"
#include "test_pictures.h"

namespace kovrel::test {
namespace {

constexpr int kWidth = 24;
constexpr int kHeight = 16;

Rgb noiseAt(int x, int y) {
  const unsigned h = static_cast<unsigned>(x * 7919 + y * 104729) * 2654435761u;
  return Rgb{static_cast<std::uint8_t>(h >> 24), static_cast<std::uint8_t>(h >> 16), static_cast<std::uint8_t>(h >> 8)};
}

// The console text with the processor seconds blanked.
std::string withoutSeconds(const std::string& text) {
  const std::string before = " analysed in ";
  const std::size_t at = text.find(before);
  const std::size_t end = text.find(" seconds.", at);
  if (at == std::string::npos || end == std::string::npos) {
    return text;
  }
  return text.substr(0, at + before.size()) + "S" + text.substr(end);
}

struct Outputs {
  RunResult run;
  Bytes chr, clr, preview;
};

// Runs the program on picture, saved as pic.tga (or under name), with args
// before it.
Outputs convert(const Bytes& picture, const std::vector<std::string>& args, const std::string& name = "pic.tga",
                const Folder* in = nullptr) {
  Folder own;
  const Folder& dir = in != nullptr ? *in : own;
  dir.write(name, picture);
  std::vector<std::string> all = args;
  all.push_back(name);
  Outputs out;
  out.run = runKovrel(dir.path(), all);
  const std::string stem = name.substr(0, name.size() - 4);
  out.chr = dir.read(stem + ".CHR");
  out.clr = dir.read(stem + ".CLR");
  out.preview = dir.read(stem + "_tms.tga");
  return out;
}

void expectSameFiles(const Outputs& a, const Outputs& b, const std::string& what) {
  EXPECT_EQ(a.run.status, 0) << what;
  EXPECT_EQ(b.run.status, 0) << what;
  EXPECT_FALSE(a.chr.empty()) << what;
  EXPECT_EQ(a.chr, b.chr) << what;
  EXPECT_EQ(a.clr, b.clr) << what;
  EXPECT_EQ(a.preview, b.preview) << what;
}

// The console text a converting run prints between the banner and the
// conversion line.
std::string settingsLineOf(const RunResult& run) {
  const std::size_t at = run.out.find("Converting ");
  return at == std::string::npos || at < kBanner.size() ? "(no conversion line)"
                                                        : run.out.substr(kBanner.size(), at - kBanner.size());
}

TEST(Options, HelpListsEveryOptionAndVersionNamesTheProgram) {
  Folder dir;
  const RunResult help = runKovrel(dir.path(), {"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* text : {"--palette=NAME|FILE", "mame, datasheet, v9938", "Default: mame", "--dither=P", "0-100",
                           "Default: 100", "--brightness=B", "--contrast=C", "--saturation=S", "-100 to 100",
                           "Default: 0", "--gamma=G", "0.10 to 10.00", "Default: 1.00", "--help", "--version"}) {
    EXPECT_NE(help.out.find(text), std::string::npos) << text;
  }
  EXPECT_EQ(help.out.find("Credits"), std::string::npos);
  // The man page covers every option --help lists (written there with
  // escaped dashes).
  std::ifstream page(KOVREL_MAN_PAGE);
  const std::string man((std::istreambuf_iterator<char>(page)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(man.empty());
  int options = 0;
  for (std::size_t at = help.out.find("\n  --"); at != std::string::npos; at = help.out.find("\n  --", at + 1)) {
    const std::size_t end = help.out.find_first_of("= ", at + 5);
    const std::string option = help.out.substr(at + 5, end - at - 5);
    EXPECT_NE(man.find("\\-\\-" + option), std::string::npos) << option;
    ++options;
  }
  EXPECT_GE(options, 8);
  const RunResult version = runKovrel(dir.path(), {"--version", "pic.tga"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "Kovrel 1.0\n");
  EXPECT_TRUE(dir.files().empty());
}

TEST(Options, BadOptionsAreOneLineAndExitTwoWithNothingReadOrWritten) {
  Folder dir;
  dir.write("pic.tga", uniformTga(8, 8, {10, 20, 30}));
  dir.write("bad.txt", Bytes{'1', '2', '3', '\n'});
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--bogus"}, "Unknown option --bogus (kovrel --help lists the options)."},
      {{"--dither"}, "--dither needs a value, as --dither=VALUE (kovrel --help lists the options)."},
      {{"--dither="}, "--dither needs a value, as --dither=VALUE (kovrel --help lists the options)."},
      {{"--dither=101"}, "--dither takes a whole percentage from 0 to 100, not \"101\"."},
      {{"--dither=5x"}, "--dither takes a whole percentage from 0 to 100, not \"5x\"."},
      {{"--brightness=-101"}, "--brightness takes a whole number from -100 to 100, not \"-101\"."},
      {{"--contrast=1e2"}, "--contrast takes a whole number from -100 to 100, not \"1e2\"."},
      {{"--saturation=+"}, "--saturation takes a whole number from -100 to 100, not \"+\"."},
      {{"--gamma=0.05"}, "--gamma takes a number from 0.10 to 10.00 with at most two decimals, not \"0.05\"."},
      {{"--gamma=1.234"}, "--gamma takes a number from 0.10 to 10.00 with at most two decimals, not \"1.234\"."},
      {{"--gamma=10.01"}, "--gamma takes a number from 0.10 to 10.00 with at most two decimals, not \"10.01\"."},
      {{"--gamma=.5"}, "--gamma takes a number from 0.10 to 10.00 with at most two decimals, not \".5\"."},
      {{"--help=yes"}, "--help takes no value."},
      {{"--palette=nothere.txt"},
       "Palette file nothere.txt cannot be read. It is not a preset either: mame, datasheet, v9938."},
      {{"--palette=bad.txt"},
       "Palette file bad.txt, line 1: not a colour: a palette file has lines of RRGGBB or #RRGGBB, or is a GIMP "
       "palette."},
      {{"--dither=50", "--gamma=x"}, "--gamma takes a number from 0.10 to 10.00 with at most two decimals, not \"x\"."},
  };
  for (const auto& [options, message] : cases) {
    std::vector<std::string> args = options;
    args.push_back("pic.tga");
    const RunResult run = runKovrel(dir.path(), args);
    EXPECT_EQ(run.out, kBanner + message + "\n") << options[0];
    EXPECT_EQ(run.status, 2) << options[0];
    EXPECT_EQ(dir.files(), (std::set<std::string>{"pic.tga", "bad.txt"})) << options[0];
  }
  // Options without a picture: the syntax line, as with no argument.
  const RunResult bare = runKovrel(dir.path(), {"--dither=50"});
  EXPECT_EQ(bare.out, kBanner + "Syntax: Kovrel [file.tga]\n");
  EXPECT_EQ(bare.status, 2);
}

TEST(Options, DefaultsGivenOutrightAreThePlainRun) {
  const Bytes picture = makeTga(kWidth, kHeight, noiseAt);
  const Outputs plain = convert(picture, {});
  // The default palette as a hex file and as a GIMP palette, and every
  // other option at its default value: the same console text and files.
  Folder dir;
  std::string hex;
  std::string gimp = "GIMP Palette\nName: mame\n";
  for (int i = 1; i < kPaletteSize; ++i) {
    char line[32];
    std::snprintf(line, sizeof line, "%02X%02X%02X\n", kMamePalette.colour[i][0], kMamePalette.colour[i][1],
                  kMamePalette.colour[i][2]);
    hex += line;
    std::snprintf(line, sizeof line, "%d %d %d\tc%d\n", kMamePalette.colour[i][0], kMamePalette.colour[i][1],
                  kMamePalette.colour[i][2], i);
    gimp += line;
  }
  dir.write("mame.txt", Bytes(hex.begin(), hex.end()));
  dir.write("mame.gpl", Bytes(gimp.begin(), gimp.end()));
  for (const std::vector<std::string>& options :
       {std::vector<std::string>{"--palette=mame.txt"}, {"--palette=mame.gpl"},
        {"--palette=mame", "--dither=100", "--brightness=0", "--contrast=+0", "--saturation=-0", "--gamma=1.00"},
        {"--"}}) {
    const Outputs same = convert(picture, options, "pic.tga", &dir);
    expectSameFiles(plain, same, options[0]);
    EXPECT_EQ(withoutSeconds(same.run.out), withoutSeconds(plain.run.out)) << options[0];
  }
  // A second picture is ignored.
  expectSameFiles(plain, convert(picture, {}, "pic.tga"), "repeat");
  Folder other;
  other.write("pic.tga", picture);
  const RunResult after = runKovrel(other.path(), {"pic.tga", "other.tga"});
  EXPECT_EQ(withoutSeconds(after.out), withoutSeconds(plain.run.out));
  EXPECT_EQ(other.read("pic.CHR"), plain.chr);
}

TEST(Options, PathsThatLookLikeOptions) {
  const Bytes picture = makeTga(kWidth, kHeight, noiseAt);
  const Outputs plain = convert(picture, {});
  Folder dir;
  dir.write("--odd.tga", picture);
  dir.write("-x.tga", picture);
  RunResult run = runKovrel(dir.path(), {"./--odd.tga"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(dir.read("--odd.CHR"), plain.chr);
  EXPECT_EQ(dir.read("--odd_tms.tga"), plain.preview);
  std::remove((dir / "--odd.CHR").c_str());
  run = runKovrel(dir.path(), {"--dither=100", "--", "--odd.tga"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(dir.read("--odd.CHR"), plain.chr);
  run = runKovrel(dir.path(), {"-x.tga"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(dir.read("-x.CLR"), plain.clr);
  // Without ./ or --, the name is read as an option.
  run = runKovrel(dir.path(), {"--odd.tga"});
  EXPECT_EQ(run.status, 2);
}

// The picture with fn applied to every 8-bit value (or pixel).
Bytes mapped(const Bytes& tga, const std::function<Rgb(Rgb)>& fn) {
  Bytes out = tga;
  for (std::size_t at = 18; at + 2 < out.size(); at += 3) {
    const Rgb changed = fn(Rgb{out[at + 2], out[at + 1], out[at]});
    out[at] = changed.b;
    out[at + 1] = changed.g;
    out[at + 2] = changed.r;
  }
  return out;
}

std::uint8_t byteOf(double v) { return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

TEST(Options, EachOptionReachesTheOutputAsItShould) {
  const Bytes picture = makeTga(kWidth, kHeight, noiseAt);
  const Outputs plain = convert(picture, {});

  // Brightness 10 is the picture with 26 added to every value.
  Outputs got = convert(picture, {"--brightness=10"});
  EXPECT_EQ(settingsLineOf(got.run), "Settings: brightness +10\n");
  expectSameFiles(got, convert(mapped(picture, [](Rgb c) {
                                 return Rgb{byteOf(c.r + 26), byteOf(c.g + 26), byteOf(c.b + 26)};
                               }), {}),
                  "brightness");
  EXPECT_NE(got.chr, plain.chr);

  // Contrast -100 leaves only the middle grey.
  got = convert(picture, {"--contrast=-100"});
  expectSameFiles(got, convert(uniformTga(kWidth, kHeight, {128, 128, 128}), {}), "contrast");

  // Saturation -100 is the picture in its grey levels.
  got = convert(picture, {"--saturation=-100"});
  expectSameFiles(got, convert(mapped(picture, [](Rgb c) {
                                 const auto y = static_cast<std::uint8_t>((77 * c.r + 150 * c.g + 29 * c.b + 128) / 256);
                                 return Rgb{y, y, y};
                               }), {}),
                  "saturation");

  // Gamma 2: each value v becomes 255 (v / 255)^0.5, rounded.
  got = convert(picture, {"--gamma=2"});
  EXPECT_EQ(settingsLineOf(got.run), "Settings: gamma 2.00\n");
  const auto root = [](std::uint8_t v) { return byteOf(std::floor(255.0 * std::sqrt(v / 255.0) + 0.5)); };
  expectSameFiles(got, convert(mapped(picture, [&root](Rgb c) { return Rgb{root(c.r), root(c.g), root(c.b)}; }), {}),
                  "gamma");

  // Another palette: every preview pixel is one of its colours.
  got = convert(picture, {"--palette=v9938"});
  EXPECT_EQ(settingsLineOf(got.run), "Settings: palette v9938\n");
  ASSERT_EQ(got.preview.size(), plain.preview.size());
  for (std::size_t at = 18; at < got.preview.size(); at += 3) {
    bool found = false;
    for (int i = 1; i < kPaletteSize; ++i) {
      found = found || (got.preview[at + 2] == kV9938Palette.colour[i][0] &&
                        got.preview[at + 1] == kV9938Palette.colour[i][1] && got.preview[at] == kV9938Palette.colour[i][2]);
    }
    ASSERT_TRUE(found) << at;
  }
  EXPECT_NE(got.preview, plain.preview);

  // No dithering: uniform grey comes out in one colour; full dithering mixes
  // several.
  const Bytes grey = uniformTga(kWidth, kHeight, {128, 128, 128});
  got = convert(grey, {"--dither=0"});
  EXPECT_EQ(settingsLineOf(got.run), "Settings: dither 0%\n");
  const Outputs dithered = convert(grey, {});
  const auto coloursIn = [](const Bytes& preview) {
    std::set<std::vector<std::uint8_t>> colours;
    for (std::size_t at = 18; at < preview.size(); at += 3) {
      colours.insert({preview[at], preview[at + 1], preview[at + 2]});
    }
    return colours.size();
  };
  EXPECT_EQ(coloursIn(got.preview), 1u);
  EXPECT_GT(coloursIn(dithered.preview), 1u);
  // Half strength lies between the two on noise: not the plain run.
  EXPECT_NE(convert(picture, {"--dither=50"}).chr, plain.chr);

  // All at once, named in the order of --help.
  got = convert(picture, {"--gamma=1.2", "--saturation=20", "--contrast=-5", "--brightness=5", "--dither=50",
                          "--palette=datasheet"});
  EXPECT_EQ(settingsLineOf(got.run),
            "Settings: palette datasheet, dither 50%, brightness +5, contrast -5, saturation +20, gamma 1.20\n");
  EXPECT_EQ(got.run.status, 0);
}

}  // namespace
}  // namespace kovrel::test
