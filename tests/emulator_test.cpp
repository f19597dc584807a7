// The files on an emulated chip: openMSX (C-BIOS MSX1, a TMS99X8A) loads
// what the program wrote into video memory, and what the chip shows must be
// the preview, pixel for pixel, as palette indices.
//
// The screenshots and the script are kept in the build folder's
// emulator-test/ to look at. The test is skipped where openMSX is missing;
// .ci/run installs it (Debian openmsx and cbios).
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "colour/colour.h"
#include "program_runner.h"
#include "test_pictures.h"

namespace {

using kovrel::test::Bytes;
using kovrel::test::Rgb;
using kovrel::test::RunResult;
using kovrel::test::runKovrel;

constexpr int kShotWidth = 320, kShotHeight = 240;  // screenshot -raw
constexpr int kLeft = 32, kTop = 24;                // where the 256 x 192 screen is in it
constexpr int kWidth = 256, kHeight = 192;

// One block of a file for video memory: bytes [offset, offset + length) of
// file to address.
struct Block {
  std::string file;
  std::size_t offset, length;
  unsigned address;
};

// One screen to show: what goes into video memory (after it is cleared)
// and the palette index each of the 256 x 192 pixels must show.
struct Screen {
  std::string name;
  std::vector<Block> blocks;
  bool basicSprites = false;  // 0xD0 at 0x1B00, as SCREEN 2 leaves it
  std::vector<int> expected;
};

bool hasOpenMsx() { return std::system("command -v openmsx >/dev/null 2>&1") == 0; }

void run(const std::string& command) { ASSERT_EQ(std::system(command.c_str()), 0) << command; }

// The palette index of each preview pixel (a TGA: bottom-up, blue, green,
// red), put at (left, top) of a screen of background index background.
std::vector<int> previewIndices(const Bytes& tga, int left, int top, int background) {
  std::map<std::array<int, 3>, int> indexOf;
  for (int i = 1; i < kovrel::kPaletteSize; ++i) {
    const auto& c = kovrel::kMamePalette.colour[i];
    EXPECT_TRUE(indexOf.emplace(std::array<int, 3>{c[0], c[1], c[2]}, i).second) << "palette colours alike";
  }
  const int width = tga[12] | tga[13] << 8, height = tga[14] | tga[15] << 8;
  std::vector<int> indices(kWidth * kHeight, background);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::size_t at = 18 + 3 * static_cast<std::size_t>((height - 1 - y) * width + x);
      const auto found = indexOf.find({tga[at + 2], tga[at + 1], tga[at]});
      EXPECT_NE(found, indexOf.end()) << "preview pixel not a palette colour";
      indices[static_cast<std::size_t>((top + y) * kWidth + left + x)] = found == indexOf.end() ? -1 : found->second;
    }
  }
  return indices;
}

// An RGB screenshot's pixels, decoded by libpng; empty when it is not 320 x 240.
Bytes screenshotPixels(const std::string& path) {
  png_image header{};
  header.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&header, path.c_str()) == 0) {
    return {};
  }
  Bytes pixels;
  if (header.width == kShotWidth && header.height == kShotHeight) {
    header.format = PNG_FORMAT_RGB;
    pixels.resize(PNG_IMAGE_SIZE(header));
    if (png_image_finish_read(&header, nullptr, pixels.data(), 0, nullptr) == 0) {
      pixels.clear();
    }
  }
  png_image_free(&header);
  return pixels;
}

std::array<int, 3> shotRgb(const Bytes& shot, int x, int y) {
  const std::size_t at = 3 * static_cast<std::size_t>((kTop + y) * kShotWidth + kLeft + x);
  return {shot[at], shot[at + 1], shot[at + 2]};
}

std::string tclBytes(const Bytes& bytes) {
  std::string text = "[binary format c* {";
  for (const std::uint8_t b : bytes) {
    text += std::to_string(static_cast<int>(static_cast<std::int8_t>(b))) + " ";
  }
  return text + "}]";
}

// The openMSX script: freeze the processor, set Graphics II, then show each
// screen in turn and take a raw screenshot of it. Any error exits non-zero.
std::string script(const std::string& folder, const std::vector<Screen>& screens) {
  Bytes names(768);
  for (int i = 0; i < 768; ++i) {
    names[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i % 256);
  }
  std::string text =
      "proc guarded {body} { if {[catch {uplevel #0 $body} e]} { puts stderr \"script error: $e\"; exit 2 } }\n"
      "proc load {file offset length address} {\n"
      "  set f [open $file rb]; seek $f $offset; set d [read $f $length]; close $f\n"
      "  if {[string length $d] != $length} { error \"$file: short read\" }\n"
      "  debug write_block VRAM $address $d\n"
      "}\n"
      "proc start {} {\n"
      "  debug write memory 0xE000 0xF3; debug write memory 0xE001 0x18; debug write memory 0xE002 0xFE\n"
      "  reg pc 0xE000\n"
      "  vdpreg 0 0x02; vdpreg 1 0xC0; vdpreg 2 0x06; vdpreg 3 0xFF; vdpreg 4 0x03; vdpreg 5 0x36\n"
      "  vdpreg 6 0x07; vdpreg 7 0x00\n"
      "  set ::throttle on\n"
      "  set ::maxframeskip 0\n"  // every frame drawn, however busy the machine: no stale screenshot
      "}\n";
  text += "set ::basicNames " + tclBytes(names) + "\n";
  text += "set ::steps [list]\n";
  for (const Screen& screen : screens) {
    std::string show = "debug write_block VRAM 0 [string repeat \"\\x00\" 16384]; ";
    if (screen.basicSprites) {
      show += "debug write VRAM 0x1B00 0xD0; ";
    }
    for (const Block& block : screen.blocks) {
      if (block.file.empty()) {
        show += "debug write_block VRAM 0x1800 $::basicNames; ";
      } else {
        show += "load {" + block.file + "} " + std::to_string(block.offset) + " " + std::to_string(block.length) +
                " " + std::to_string(block.address) + "; ";
      }
    }
    text += "lappend ::steps {" + show + "} {screenshot -raw {" + folder + "/" + screen.name + ".png}}\n";
  }
  text +=
      "proc next {} {\n"
      "  if {[llength $::steps] == 0} { exit 0 }\n"
      "  guarded [lindex $::steps 0]; set ::steps [lrange $::steps 1 end]\n"
      "  after time 0.1 next\n"
      "}\n"
      "set ::throttle off\n"
      "set ::mute on\n"
      "after time 2 { guarded start; after time 0.1 next }\n"
      "after time 60 { puts stderr \"script timed out\"; exit 3 }\n";
  return text;
}

// The calibration screen: tile column c shows palette index 1 + c % 15 as
// the background of pattern 0.
Screen calibration(const std::string& folder) {
  Bytes colour(6144);
  for (std::size_t i = 0; i < colour.size(); ++i) {
    colour[i] = static_cast<std::uint8_t>(1 + (i / 8 % 32) % 15);
  }
  std::FILE* out = std::fopen((folder + "/calibration.col").c_str(), "wb");
  std::fwrite(colour.data(), 1, colour.size(), out);
  std::fclose(out);
  Screen screen{"calibration", {{"", 0, 0, 0}, {folder + "/calibration.col", 0, 6144, 0x2000}}, true, {}};
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      screen.expected.push_back(1 + (x / 8) % 15);
    }
  }
  return screen;
}

// The raw files of a deduped set into video memory: third t's patterns, as
// many as its highest name byte plus one, to 0x0800 t of either table.
std::vector<Block> dedupedBlocks(const std::string& base, const Bytes& names) {
  std::vector<Block> blocks = {{base + ".nam", 0, 768, 0x1800}};
  std::size_t first = 0;
  for (unsigned third = 0; third < 3; ++third) {
    int highest = 0;
    for (std::size_t i = 256 * third; i < 256 * third + 256; ++i) {
      highest = std::max(highest, static_cast<int>(names[i]));
    }
    const std::size_t count = static_cast<std::size_t>(highest) + 1;
    blocks.push_back({base + ".pat", 8 * first, 8 * count, 0x0800 * third});
    blocks.push_back({base + ".col", 8 * first, 8 * count, 0x2000 + 0x0800 * third});
    first += count;
  }
  return blocks;
}

Bytes readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(Emulator, TheChipShowsThePreview) {
  if (!hasOpenMsx()) {
    GTEST_SKIP() << "openMSX is not installed (apt-get install openmsx cbios): the files are not checked on an "
                    "emulated TMS9918";
  }
  const std::string folder = KOVREL_EMULATOR_FOLDER;
  run("rm -rf '" + folder + "' && mkdir -p '" + folder + "/home'");
  for (const char* photo : {"chelsea.tga", "coffee.tga"}) {
    run("cp '" KOVREL_EXAMPLES "/" + std::string(photo) + "' '" + folder + "/'");
  }
  run("cp '" KOVREL_EXAMPLES "/chelsea.tga' '" + folder + "/optimise.tga'");
  const auto write = [&folder](const std::string& name, const Bytes& bytes) {
    std::FILE* out = std::fopen((folder + "/" + name).c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
  };
  write("noise.tga", kovrel::test::makeTga(kWidth, kHeight, [](int x, int y) {
          unsigned h = static_cast<unsigned>(x) * 73856093u ^ static_cast<unsigned>(y) * 19349663u ^ 0x9E3779B9u;
          h = (h ^ (h >> 13)) * 0x5bd1e995u;
          h ^= h >> 15;
          return Rgb{static_cast<std::uint8_t>(h), static_cast<std::uint8_t>(h >> 8), static_cast<std::uint8_t>(h >> 16)};
        }));
  // Tiles of three kinds that repeat, so that sharing leaves few patterns.
  write("tiles.tga", kovrel::test::makeTga(120, 60, [](int x, int y) {
          const int kind = (x / 8 + 2 * (y / 8)) % 3;
          const auto& c = kovrel::kMamePalette.colour[kind == 0 ? 8 : (kind == 1 ? ((x % 8 < 4) ? 4 : 15) : 13)];
          return Rgb{c[0], c[1], c[2]};
        }));
  const std::pair<std::string, std::vector<std::string>> runs[] = {
      {"chelsea", {"--format=sc2,chr,clr,tga", "chelsea.tga"}},
      {"coffee", {"--format=sc2,raw,tga", "--dedupe", "coffee.tga"}},
      {"noise", {"--format=sc2,tga", "noise.tga"}},
      {"optimise", {"--format=sc2,tga", "--method=optimise", "optimise.tga"}},
      {"tiles", {"--format=raw,tga", "--dedupe", "--place=centre", "tiles.tga"}},
  };
  for (const auto& [name, args] : runs) {
    const RunResult converted = runKovrel(folder, args);
    ASSERT_EQ(converted.status, 0) << converted.out;
  }

  const std::string at = folder + "/";
  std::vector<Screen> screens = {calibration(folder)};
  for (const std::string name : {"chelsea", "coffee", "noise", "optimise"}) {
    // BLOAD "NAME.SC2",S: the body to the header's start address.
    const Bytes sc2 = readAll(at + name + ".SC2");
    ASSERT_EQ(sc2.size(), 14343u);
    ASSERT_EQ(Bytes(sc2.begin(), sc2.begin() + 7), (Bytes{0xFE, 0x00, 0x00, 0xFF, 0x37, 0x00, 0x00}));
    screens.push_back({name + "-sc2", {{at + name + ".SC2", 7, 0x3800, 0x0000}}, false,
                       previewIndices(readAll(at + name + "_tms.tga"), 0, 0, 1)});
  }
  // SCREEN 2 (names 0 ... 255, no sprites), BLOAD "CHELSEA.CHR",S and "CHELSEA.CLR",S.
  screens.push_back({"chelsea-chr-clr",
                     {{"", 0, 0, 0}, {at + "chelsea.CHR", 7, 6144, 0x0000}, {at + "chelsea.CLR", 7, 6144, 0x2000}},
                     true,
                     previewIndices(readAll(at + "chelsea_tms.tga"), 0, 0, 1)});
  screens.push_back({"coffee-raw-dedupe", dedupedBlocks(at + "coffee", readAll(at + "coffee.nam")), true,
                     previewIndices(readAll(at + "coffee_tms.tga"), 0, 0, 1)});
  // 15 x 8 tiles centred: 8 columns and 8 rows in; the rest black (0x11).
  screens.push_back({"tiles-raw-dedupe", dedupedBlocks(at + "tiles", readAll(at + "tiles.nam")), true,
                     previewIndices(readAll(at + "tiles_tms.tga"), 64, 64, 1)});
  EXPECT_LT(readAll(at + "tiles.pat").size(), 8u * 10) << "the tile picture should share patterns";

  write("script.tcl", [&] {
    const std::string text = script(folder, screens);
    return Bytes(text.begin(), text.end());
  }());
  write("settings.xml", [] {
    const std::string text =
        "<!DOCTYPE settings SYSTEM 'settings.dtd'>\n<settings>\n  <settings>\n"
        "    <setting id=\"renderer\">SDL</setting>\n"
        "    <setting id=\"save_settings_on_exit\">false</setting>\n  </settings>\n</settings>\n";
    return Bytes(text.begin(), text.end());
  }());
  run("cd '" + folder + "' && OPENMSX_HOME='" + folder + "/home' SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy " +
      "timeout 120 openmsx -machine C-BIOS_MSX1_JP -setting settings.xml -script script.tcl " +
      "</dev/null >openmsx.log 2>&1 || { cat openmsx.log; false; }");

  // The calibration screenshot gives each index's colour as openMSX shows it.
  const Bytes calibrationShot = screenshotPixels(at + "calibration.png");
  ASSERT_FALSE(calibrationShot.empty()) << "no calibration screenshot";
  std::map<std::array<int, 3>, int> indexOfRgb;
  for (int i = 1; i < 16; ++i) {
    indexOfRgb[shotRgb(calibrationShot, 8 * (i - 1) + 3, 3)] = i;
  }
  ASSERT_EQ(indexOfRgb.size(), 15u) << "the emulator shows two indices alike";

  const auto checkScreen = [&](const std::string& name, const std::vector<int>& expected) {
    const Bytes shot = screenshotPixels(at + name + ".png");
    ASSERT_FALSE(shot.empty()) << name << ": no screenshot";
    int agree = 0, first = -1;
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) {
        const auto found = indexOfRgb.find(shotRgb(shot, x, y));
        const int shown = found == indexOfRgb.end() ? -1 : found->second;
        if (shown == expected[static_cast<std::size_t>(y * kWidth + x)]) {
          ++agree;
        } else if (first < 0) {
          first = y * kWidth + x;
        }
      }
    }
    std::printf("%s: %d of %d pixels show the preview's palette index\n", name.c_str(), agree, kWidth * kHeight);
    EXPECT_EQ(agree, kWidth * kHeight) << name << ": first difference at x = " << first % kWidth
                                       << ", y = " << first / kWidth;
  };
  for (const Screen& screen : screens) {
    checkScreen(screen.name, screen.expected);
  }

  // Cartridges, booted as a machine boots them, and a ZX0-packed raw set
  // unpacked by the Z80 unpacker from RAM; the chip drops video memory
  // accesses that come too fast, as a real one would, and the script
  // counts them.
  const std::pair<std::string, std::vector<std::string>> cartridges[] = {
      {"chelsea-rom-zx0", {"--format=rom,tga", "--compress=zx0", "chelsea.tga"}},
      {"tiles-rom", {"--format=rom,tga", "--place=centre", "tiles.tga"}},
      {"coffee-raw-zx0", {"--format=raw,tga", "--compress=zx0", "coffee.tga"}},
  };
  for (const auto& [name, args] : cartridges) {
    const RunResult converted = runKovrel(folder, args);
    ASSERT_EQ(converted.status, 0) << converted.out;
  }
  ASSERT_EQ(readAll(at + "chelsea.rom").size(), 16384u);
  const bool haveAssembler = std::system("command -v pasmo >/dev/null 2>&1") == 0;
  if (haveAssembler) {
    // The driver at 0xC000, the three streams from 0xC200 on, their
    // addresses in the driver's words at 0xC002.
    run("pasmo --bin -I '" KOVREL_SOURCE "/z80' '" KOVREL_SOURCE "/tests/zx0_ram_driver.asm' '" + at +
        "driver.bin' >/dev/null");
    Bytes ram = readAll(at + "driver.bin");
    ASSERT_LT(ram.size(), 0x200u);
    ram.resize(0x200);
    unsigned address = 0xC200;
    const char* const tables[] = {"pat", "col", "nam"};
    for (std::size_t t = 0; t < 3; ++t) {
      const Bytes packed = readAll(at + "coffee." + tables[t] + ".zx0");
      const std::size_t word = 2 + 2 * t;
      ram[word] = static_cast<std::uint8_t>(address & 0xFF);
      ram[word + 1] = static_cast<std::uint8_t>(address >> 8);
      ram.insert(ram.end(), packed.begin(), packed.end());
      address += static_cast<unsigned>(packed.size());
    }
    ASSERT_LT(address, 0xF000u) << "the streams overrun the unpacker's variables";
    write("ram.bin", ram);
  }
  for (const std::string rom : {"chelsea", "tiles"}) {
    std::string tcl =
        "proc guarded {body} { if {[catch {uplevel #0 $body} e]} { puts stderr \"script error: $e\"; exit 2 } }\n"
        "set ::dropped 0\n"
        "proc dropped {} { incr ::dropped }\n"
        "set VDP.too_fast_vram_access_callback dropped\n"
        "set too_fast_vram_access real\n"
        "set ::throttle off\nset ::mute on\n"
        "proc shot {name then} {\n"
        "  set ::throttle on; set ::maxframeskip 0\n"
        "  after time 0.2 [list guarded \"screenshot -raw {" + folder + "/$name.png}; puts stderr \\\"$name: \\$::dropped video memory accesses dropped\\\"; $then\"]\n"
        "}\n";
    if (rom == "tiles" && haveAssembler) {
      tcl += "proc unpack {} {\n"
             "  set f [open {" + folder + "/ram.bin} rb]; set d [read $f]; close $f\n"
             "  set ::throttle off; debug write_block memory 0xC000 $d; reg pc 0xC000\n"
             "  after time 3 {guarded {shot coffee-raw-zx0 {exit 0}}}\n"
             "}\n"
             "after time 8 {guarded {shot tiles-rom unpack}}\n";
    } else {
      tcl += "after time 8 {guarded {shot " + rom + (rom == "chelsea" ? "-rom-zx0" : "-rom") + " {exit 0}}}\n";
    }
    tcl += "after time 60 { puts stderr \"script timed out\"; exit 3 }\n";
    write(rom + "-rom.tcl", Bytes(tcl.begin(), tcl.end()));
    run("cd '" + folder + "' && OPENMSX_HOME='" + folder + "/home' SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy " +
        "timeout 120 openmsx -machine C-BIOS_MSX1_JP -setting settings.xml -cart " + rom + ".rom -script " + rom +
        "-rom.tcl </dev/null >" + rom + "-rom.log 2>&1 || { cat " + rom + "-rom.log; false; }");
    const Bytes log = readAll(at + rom + "-rom.log");
    std::printf("%s", std::string(log.begin(), log.end()).c_str());
    const std::string said(log.begin(), log.end());
    EXPECT_NE(said.find(rom == "chelsea" ? "chelsea-rom-zx0: 0 video" : "tiles-rom: 0 video"), std::string::npos) << said;
    if (rom == "tiles" && haveAssembler) {
      EXPECT_NE(said.find("coffee-raw-zx0: 0 video"), std::string::npos) << said;
    }
  }
  checkScreen("chelsea-rom-zx0", previewIndices(readAll(at + "chelsea_tms.tga"), 0, 0, 1));
  checkScreen("tiles-rom", previewIndices(readAll(at + "tiles_tms.tga"), 64, 64, 1));
  if (haveAssembler) {
    checkScreen("coffee-raw-zx0", previewIndices(readAll(at + "coffee_tms.tga"), 0, 0, 1));
  } else {
    ADD_FAILURE() << "pasmo is not installed (apt-get install pasmo): the Z80 unpacker is not checked on raw files";
  }
}

}  // namespace
