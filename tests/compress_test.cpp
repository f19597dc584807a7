// The packers: streams worked out by hand from the formats' rules, every
// packer against its unpacker on the tables of real pictures and on edge
// cases (the farthest offsets included), and the program's packed files
// and cartridge against the plain tables of the same run.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "compress/compress.h"
#include "program_runner.h"
#include "screen/screen.h"
#include "test_pictures.h"

namespace {

using kovrel::test::Bytes;
using kovrel::test::Folder;
using kovrel::test::RunResult;
using kovrel::test::runKovrel;

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::string textOf(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Seeded noise, red and blue independent.
Bytes noiseTga(int width, int height, unsigned seed) {
  return kovrel::test::makeTga(width, height, [seed](int x, int y) {
    unsigned h = seed ^ static_cast<unsigned>(x) * 73856093u ^ static_cast<unsigned>(y) * 19349663u;
    h = (h ^ (h >> 13)) * 0x5bd1e995u;
    h ^= h >> 15;
    return kovrel::test::Rgb{static_cast<std::uint8_t>(h), static_cast<std::uint8_t>(h >> 8),
                             static_cast<std::uint8_t>(h >> 16)};
  });
}

Bytes randomBytes(std::size_t count, unsigned seed) {
  std::mt19937 random(seed);
  Bytes bytes(count);
  for (std::uint8_t& b : bytes) {
    b = static_cast<std::uint8_t>(random() & 0xFF);
  }
  return bytes;
}

// Streams decoded bit by bit from the rules (flag bits from a buffer byte
// taken when the last one is used up, most significant first).
TEST(Packers, StreamsWorkedByHand) {
  // ZX0, "ABABABAB": literals, length 2 = gamma 001; 'A' 'B'; flag 1 (new
  // offset); m = 1, gamma "1"; byte 0xFC = (127 - (2 - 1)) << 1 with low bit
  // 0, the first bit of gamma(5) = 0 0 0 1 1, whose other bits 0 0 1 1
  // follow; flag 1 and m = 256 with data bits inverted (0 1 x 8, then 1)
  // end it. Buffers: 001 1 1 001 = 0x39; 1 1 010101 = 0xD5; 01010101 = 0x55;
  // 011 = 0x60.
  const Bytes zx0 = {0x39, 0x41, 0x42, 0xFC, 0xD5, 0x55, 0x60};
  // Pletter, same bytes: mode 1 (top bits 000); 'A'; flag 0, 'B'; flag 1,
  // length 6: v = 5 = 1 0 1 as 1 0, 1 1, 0; offset 2 as byte 0x01; then 34
  // one bits. Buffers: 000 0 1 101 = 0x0D; 10 111111 = 0xBF; then FF FF FF
  // F0.
  const Bytes pletter = {0x0D, 0x41, 0x42, 0xBF, 0x01, 0xFF, 0xFF, 0xFF, 0xF0};
  const Bytes data = text("ABABABAB");
  Bytes out;
  EXPECT_TRUE(kovrel::unpackZx0(zx0, out, 100));
  EXPECT_EQ(out, data);
  EXPECT_TRUE(kovrel::unpackPletter(pletter, out, 100));
  EXPECT_EQ(out, data);
  // Nothing shorter exists for these bytes, so the packers must find them.
  EXPECT_EQ(kovrel::packZx0(data), zx0);
  EXPECT_EQ(kovrel::packPletter(data), pletter);
  // One byte: gamma 1, the byte, the end: 1 1 010101, 'A', 01010101, 011.
  EXPECT_EQ(kovrel::packZx0(text("A")), (Bytes{0xD5, 0x41, 0x55, 0x60}));

  // Damaged streams are refused, never read past their end.
  const Bytes damaged[] = {
      Bytes(zx0.begin(), zx0.end() - 1),  // cut short
      {0x39, 0x41, 0x42, 0x00, 0xD5},     // offset 128 before the start
  };
  for (const Bytes& stream : damaged) {
    EXPECT_FALSE(kovrel::unpackZx0(stream, out, 100));
  }
  EXPECT_FALSE(kovrel::unpackZx0(zx0, out, 7)) << "output beyond the limit";
  EXPECT_FALSE(kovrel::unpackPletter(Bytes(pletter.begin(), pletter.begin() + 4), out, 100));
  EXPECT_FALSE(kovrel::unpackPletter({0xE0, 0x41}, out, 100)) << "mode 8";
}

// Tables of the bundled photographs (plain and deduped) and of noise, and
// made-up edge cases: each packer's stream must unpack to the table.
TEST(Packers, EveryTableComesBack) {
  Folder dir;
  for (const char* photo : {"chelsea.tga", "coffee.tga"}) {
    dir.write(photo, readFile(std::string(KOVREL_EXAMPLES) + "/" + photo));
  }
  dir.write("noise.tga", noiseTga(200, 120, 3));
  std::vector<std::pair<std::string, Bytes>> tables;
  for (const std::string name : {"chelsea", "coffee", "noise"}) {
    for (const bool dedupe : {false, true}) {
      std::vector<std::string> args = {"--format=raw", name + ".tga"};
      if (dedupe) {
        args.insert(args.begin(), "--dedupe");
      }
      ASSERT_EQ(runKovrel(dir.path(), args).status, 0);
      for (const char* table : {".pat", ".col", ".nam"}) {
        tables.push_back({name + table + (dedupe ? " deduped" : ""), dir.read(name + table)});
      }
    }
  }
  tables.push_back({"empty", {}});
  tables.push_back({"one byte", {0x5A}});
  tables.push_back({"6144 zeros", Bytes(6144, 0)});
  tables.push_back({"6144 x 0xAA", Bytes(6144, 0xAA)});
  tables.push_back({"random", randomBytes(6144, 1)});
  Bytes period;  // a pattern that repeats at 7, 8 and 1000 bytes
  for (int i = 0; i < 6144; ++i) {
    period.push_back(static_cast<std::uint8_t>(i % 7 * 3 + i % 8 + (i / 1000) % 2));
  }
  tables.push_back({"periodic", period});

  for (const auto& [name, table] : tables) {
    Bytes out;
    const Bytes zx0 = kovrel::packZx0(table);
    EXPECT_TRUE(kovrel::unpackZx0(zx0, out, table.size()) && out == table) << name << ": ZX0";
    const Bytes pletter = kovrel::packPletter(table);
    EXPECT_TRUE(kovrel::unpackPletter(pletter, out, table.size()) && out == table) << name << ": Pletter";
    // Neither grows a table by more than its flag bits and the end.
    EXPECT_LE(zx0.size(), table.size() + table.size() / 64 + 8) << name;
    EXPECT_LE(pletter.size(), table.size() + table.size() / 8 + 8) << name;
  }
}

// 512 random bytes that come again `distance` bytes later, among random
// bytes: a packer that reaches that far packs them into a few bytes, so
// its stream is at least 400 bytes shorter than for the same bytes with a
// fresh tail.
TEST(Packers, TheFarthestOffsets) {
  struct Case {
    const char* name;
    std::size_t distance;
    bool reaches;
    Bytes (*pack)(const Bytes&);
    bool (*unpack)(const Bytes&, Bytes&, std::size_t);
  };
  const Case cases[] = {
      {"ZX0 32640", 32640, true, kovrel::packZx0, kovrel::unpackZx0},
      {"Pletter 8320", 8320, true, kovrel::packPletter, kovrel::unpackPletter},
      {"Pletter 8321", 8321, false, kovrel::packPletter, kovrel::unpackPletter},
  };
  for (const Case& c : cases) {
    Bytes data = randomBytes(c.distance + 512, 7);
    const Bytes fresh = data;
    std::copy(data.begin(), data.begin() + 512, data.end() - 512);
    const Bytes packed = c.pack(data);
    Bytes out;
    EXPECT_TRUE(c.unpack(packed, out, data.size()) && out == data) << c.name;
    const bool shorter = packed.size() + 400 <= c.pack(fresh).size();
    EXPECT_EQ(shorter, c.reaches) << c.name << ": " << packed.size() << " bytes";
  }
}

Bytes hexArray(const std::string& source, const std::string& label, const char* before, const char* end) {
  Bytes bytes;
  std::size_t at = source.find(label);
  const std::size_t stop = source.find(end, at);
  while ((at = source.find(before, at)) < stop) {
    at += std::string(before).size();
    bytes.push_back(static_cast<std::uint8_t>(std::stoi(source.substr(at, 2), nullptr, 16)));
  }
  return bytes;
}

// The program's packed raw, C and assembler files and its cartridge unpack
// to the plain tables of a run without --compress.
TEST(Packers, ThePackedFilesHoldThePlainTables) {
  Folder dir;
  dir.write("pic.tga", noiseTga(96, 64, 5));
  ASSERT_EQ(runKovrel(dir.path(), {"--format=raw,sc2", "--place=centre", "pic.tga"}).status, 0);
  const Bytes plain[] = {dir.read("pic.pat"), dir.read("pic.col"), dir.read("pic.nam")};
  const Bytes sc2 = dir.read("pic.SC2");
  for (const char* packing : {"zx0", "pletter"}) {
    const std::string format = packing == std::string("zx0") ? "zx0" : "plet5";
    const RunResult run =
        runKovrel(dir.path(), {"--format=raw,c,asm,rom", "--place=centre", std::string("--compress=") + packing, "pic.tga"});
    ASSERT_EQ(run.status, 0) << run.out;
    const auto unpack = packing == std::string("zx0") ? kovrel::unpackZx0 : kovrel::unpackPletter;
    const std::string header = textOf(dir.read("pic.h"));
    const std::string source = textOf(dir.read("pic.asm"));
    const char* const tables[] = {"pat", "col", "nam"};
    const char* const labels[] = {"pic_pattern", "pic_colour", "pic_name"};
    std::string sizes;
    for (std::size_t t = 0; t < 3; ++t) {
      const Bytes file = dir.read(std::string("pic.") + tables[t] + "." + format);
      Bytes out;
      EXPECT_TRUE(unpack(file, out, 6144) && out == plain[t]) << packing << " " << tables[t];
      // The data, behind PIC_IMPLEMENTATION, in arrays of the packed size.
      const std::string macro = std::string("PIC_") + (t == 0 ? "PATTERN" : t == 1 ? "COLOUR" : "NAME");
      EXPECT_EQ(hexArray(header, std::string(labels[t]) + "[" + macro + "_PACKED_SIZE] = {", "0x", "};"), file)
          << packing << " C";
      EXPECT_NE(header.find("#define " + macro + "_PACKED_SIZE " + std::to_string(file.size()) + "\n"),
                std::string::npos)
          << packing;
      EXPECT_EQ(hexArray(source, std::string(labels[t]) + ":", "$", "\n\n"), file) << packing << " asm";
      sizes += (t == 0 ? "pattern " : t == 1 ? ", colour " : ", name ") + std::to_string(file.size()) + " of " +
               std::to_string(plain[t].size()) + (t == 0 ? " bytes" : "");
    }
    // Two files include the header; the one that defines PIC_IMPLEMENTATION
    // gets the data, whose arrays are as long as their size macros say.
    const std::string program =
        "#include \"pic.h\"\n#define PIC_IMPLEMENTATION\n#include \"pic.h\"\n"
        "int other(void);\n"
        "int main(void) {\n"
        "  return other() != 0 || sizeof pic_pattern != PIC_PATTERN_PACKED_SIZE ||\n"
        "         sizeof pic_colour != PIC_COLOUR_PACKED_SIZE || sizeof pic_name != PIC_NAME_PACKED_SIZE ||\n"
        "         PIC_PATTERN_SIZE != 6144;\n}\n";
    const std::string other = "#include \"pic.h\"\nint other(void) { return sizeof pic_name != PIC_NAME_PACKED_SIZE; }\n";
    dir.write("main.c", Bytes(program.begin(), program.end()));
    dir.write("other.c", Bytes(other.begin(), other.end()));
    const std::string build = "cd '" + dir.path() + "' && " + KOVREL_C_COMPILER +
                              " -std=c99 -Wall -Wextra -pedantic -Werror main.c other.c -o packed && ./packed";
    EXPECT_EQ(std::system(build.c_str()), 0) << build;
    EXPECT_NE(run.out.find(std::string("Packed with ") + (format == "zx0" ? "ZX0: " : "Pletter: ") + sizes), std::string::npos)
        << run.out;

    // The cartridge: "AB" and the loader's start; the parameters name where
    // each table lies and goes. ZX0 streams with --compress=zx0, the tables
    // as they are otherwise.
    const Bytes rom = dir.read("pic.rom");
    ASSERT_EQ(rom.size(), 16384u);
    EXPECT_EQ(rom[0], 'A');
    EXPECT_EQ(rom[1], 'B');
    EXPECT_EQ(rom[0x10], format == "zx0" ? 1 : 0);
    const unsigned video[] = {0x0000, 0x2000, 0x1800};
    for (std::size_t t = 0; t < 3; ++t) {
      const auto word = [&rom](std::size_t at) { return static_cast<std::size_t>(rom[at] | rom[at + 1] << 8); };
      const std::size_t at = 0x12 + 6 * t;
      EXPECT_EQ(word(at), video[t]);
      ASSERT_LE(word(at + 2) - 0x4000 + word(at + 4), rom.size());
      const Bytes stored(rom.begin() + static_cast<std::ptrdiff_t>(word(at + 2) - 0x4000),
                         rom.begin() + static_cast<std::ptrdiff_t>(word(at + 2) - 0x4000 + word(at + 4)));
      Bytes out = stored;
      if (format == "zx0") {
        EXPECT_TRUE(kovrel::unpackZx0(stored, out, 6144));
      }
      const auto from = static_cast<std::ptrdiff_t>(7 + video[t]);
      EXPECT_EQ(out, Bytes(sc2.begin() + from, sc2.begin() + from + static_cast<std::ptrdiff_t>(plain[t].size()))) << t;
    }
  }
}

// The cartridge's loader bytes are the assembled loader source.
TEST(Packers, TheCartridgeLoaderIsItsSource) {
  if (std::system("command -v pasmo >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "pasmo is not installed (apt-get install pasmo)";
  }
  Folder dir;
  ASSERT_EQ(std::system(("pasmo --bin -I '" KOVREL_SOURCE "/z80' '" KOVREL_SOURCE "/z80/rom_loader.asm' '" +
                         dir.path() + "/loader.bin' >/dev/null")
                            .c_str()),
            0);
  const Bytes loader = dir.read("loader.bin");
  const Bytes rom = kovrel::romFile(kovrel::ScreenTables{Bytes(6144, 0), Bytes(6144, 0x11), Bytes(768, 0), {}},
                                    kovrel::Packing::kNone, 1);
  ASSERT_GT(loader.size(), 0x24u);
  // All but the parameters the converter fills in (0x10 ... 0x23).
  EXPECT_EQ(Bytes(rom.begin(), rom.begin() + 0x10), Bytes(loader.begin(), loader.begin() + 0x10));
  EXPECT_EQ(Bytes(rom.begin() + 0x24, rom.begin() + static_cast<std::ptrdiff_t>(loader.size())),
            Bytes(loader.begin() + 0x24, loader.end()))
      << "z80/make_loader_bytes.sh has not been run since the loader changed";
}

}  // namespace

namespace {

// What a table line shows: for each of the 8 pixels, the foreground where
// its pattern bit is 1, else the background.
std::array<int, 8> shownLine(std::uint8_t pattern, std::uint8_t colour) {
  std::array<int, 8> pixels{};
  for (int x = 0; x < 8; ++x) {
    pixels[static_cast<std::size_t>(x)] = (pattern >> (7 - x) & 1) != 0 ? colour >> 4 : colour & 0x0F;
  }
  return pixels;
}

// The pixel-neutral choices on lines of every kind: lines of one colour in
// all their encodings, two-colour lines either way round, next to each
// other in every order; every line must show what it showed.
TEST(Packers, EvenedTablesShowTheSamePixels) {
  std::mt19937 random(11);
  const std::uint8_t kinds[][2] = {
      {0x00, 0x41}, {0xFF, 0x14}, {0x5A, 0x44}, {0x00, 0x11}, {0xFF, 0x11},  // one colour
      {0x0F, 0x41}, {0xF0, 0x14}, {0x81, 0x2C}, {0x7E, 0xC2}, {0x33, 0x4F},  // two colours
  };
  kovrel::ScreenTables tables;
  for (int tile = 0; tile < 768; ++tile) {
    for (int line = 0; line < 8; ++line) {
      const auto& kind = kinds[random() % 10];
      tables.pattern.push_back(kind[0]);
      tables.colour.push_back(kind[1]);
    }
  }
  tables.name.assign(768, 0);
  const kovrel::ScreenTables evened = kovrel::evenedTables(tables);
  ASSERT_EQ(evened.pattern.size(), tables.pattern.size());
  int changed = 0;
  for (std::size_t i = 0; i < tables.pattern.size(); ++i) {
    ASSERT_EQ(shownLine(evened.pattern[i], evened.colour[i]), shownLine(tables.pattern[i], tables.colour[i])) << i;
    changed += evened.colour[i] != tables.colour[i] ? 1 : 0;
    // A line of one colour under another of that colour in its tile
    // repeats its bytes.
    const std::array<int, 8> shown = shownLine(tables.pattern[i], tables.colour[i]);
    if (i % 8 != 0 && std::count(shown.begin(), shown.end(), shown[0]) == 8 &&
        shown == shownLine(tables.pattern[i - 1], tables.colour[i - 1])) {
      EXPECT_EQ(evened.pattern[i], evened.pattern[i - 1]) << i;
      EXPECT_EQ(evened.colour[i], evened.colour[i - 1]) << i;
    }
  }
  EXPECT_GT(changed, 1000) << "hardly any choice was made";
}

}  // namespace

namespace {

// The shortest ZX0 stream by exhaustive search over every state (position,
// last offset, last block literal or copy): small inputs only.
std::size_t shortestZx0(const Bytes& d) {
  const int n = static_cast<int>(d.size());
  const auto gamma = [](int v) { int bits = 1; for (; v > 1; v >>= 1) bits += 2; return bits; };
  const auto run = [&d, n](int i, int o) { int k = 0; while (i + k < n && d[static_cast<std::size_t>(i + k)] == d[static_cast<std::size_t>(i + k - o)]) ++k; return k; };
  constexpr int kFar = 1 << 29;
  std::vector<std::vector<int>> copied(static_cast<std::size_t>(n) + 1, std::vector<int>(static_cast<std::size_t>(n) + 1, kFar));
  std::vector<std::vector<int>> literal = copied;
  const auto at = [](std::vector<std::vector<int>>& cost, int i, int o) -> int& { return cost[static_cast<std::size_t>(i)][static_cast<std::size_t>(o)]; };
  for (int k = 1; k <= n; ++k) {
    at(literal, k, 1) = gamma(k) + 8 * k;  // the first block: literals, no flag
  }
  for (int i = 1; i < n; ++i) {
    int best = kFar;
    for (int o = 1; o <= i; ++o) {
      best = std::min({best, at(copied, i, o), at(literal, i, o)});
    }
    for (int o = 1; o <= i; ++o) {
      const int r = run(i, o);
      for (int k = 1; i + k <= n; ++k) {
        at(literal, i + k, o) = std::min(at(literal, i + k, o), at(copied, i, o) + 1 + gamma(k) + 8 * k);
        if (k <= r) {
          at(copied, i + k, o) = std::min(at(copied, i + k, o), at(literal, i, o) + 1 + gamma(k));
        }
        if (k >= 2 && k <= r) {
          at(copied, i + k, o) = std::min(at(copied, i + k, o), best + gamma((o - 1) / 128 + 1) + 8 + gamma(k - 1));
        }
      }
    }
  }
  int best = kFar;
  for (int o = 1; o <= n; ++o) {
    best = std::min({best, at(copied, n, o), at(literal, n, o)});
  }
  return static_cast<std::size_t>((best + 18 + 7) / 8);  // and the end marker
}

TEST(Packers, Zx0FindsTheShortestStreamOnSmallInputs) {
  std::mt19937 random(5);
  for (int t = 0; t < 60; ++t) {
    Bytes data(20 + random() % 120);
    const auto symbols = static_cast<unsigned>(2 + random() % 6);
    for (std::size_t i = 0; i < data.size(); ++i) {
      data[i] = static_cast<std::uint8_t>(t % 3 == 0 && i % 8 >= 4 ? i % 5 : random() % symbols);
    }
    EXPECT_EQ(kovrel::packZx0(data).size(), shortestZx0(data)) << "case " << t;
  }
}

}  // namespace
