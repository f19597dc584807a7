// Hostile files: small files that ask a reader for minutes of work or
// gigabytes of memory, each built here. Every one must end in its outcome
// (converted, or the message naming the real reason) within a cost bound
// measured from the child's own resource use: processor time (user and
// system) and peak memory.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "core/conversion.h"
#include "tests/program_runner.h"

namespace kovrel::test {
namespace {

void put32(Bytes& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) {
    out.push_back(static_cast<std::uint8_t>(v >> shift));
  }
}

Bytes pngChunk(const char* type, const Bytes& data) {
  Bytes out;
  put32(out, static_cast<std::uint32_t>(data.size()));
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type), 4);
  if (!data.empty()) {  // crc32 with a null pointer starts afresh
    crc = crc32(crc, data.data(), static_cast<uInt>(data.size()));
  }
  put32(out, static_cast<std::uint32_t>(crc));
  return out;
}

Bytes pngHeader(std::uint32_t width, std::uint32_t height) {
  Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes ihdr;
  put32(ihdr, width);
  put32(ihdr, height);
  ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});  // 8-bit RGB
  const Bytes chunk = pngChunk("IHDR", ihdr);
  out.insert(out.end(), chunk.begin(), chunk.end());
  return out;
}

// The rows of a width x height RGB picture (filter byte 0 first).
Bytes pngRows(int width, int height) {
  Bytes rows;
  for (int y = 0; y < height; ++y) {
    rows.push_back(0);
    for (int x = 0; x < 3 * width; ++x) {
      rows.push_back(static_cast<std::uint8_t>(x * 5 + y * 3));
    }
  }
  return rows;
}

// A zlib stream of raw followed by extra zero bytes (a whole number of
// MiB): the zeros are one block of 1 MiB, compressed once and repeated,
// with the checksum of the whole.
Bytes zlibWithZeros(const Bytes& raw, std::size_t extraMiB) {
  z_stream z{};
  deflateInit(&z, 9);
  Bytes out(compressBound(static_cast<uLong>(raw.size())) + (1 << 16));
  const auto run = [&](const Bytes& in, int flush) {
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, flush);
    return Bytes(out.begin(), out.end() - z.avail_out);
  };
  Bytes stream = run(raw, Z_FULL_FLUSH);
  const Bytes zeros(1 << 20, 0);
  const Bytes block = run(zeros, Z_FULL_FLUSH);
  deflateEnd(&z);
  uLong adler = adler32(1, raw.data(), static_cast<uInt>(raw.size()));
  const uLong zerosAdler = adler32(1, zeros.data(), static_cast<uInt>(zeros.size()));
  for (std::size_t i = 0; i < extraMiB; ++i) {
    stream.insert(stream.end(), block.begin(), block.end());
    adler = adler32_combine(adler, zerosAdler, static_cast<z_off_t>(zeros.size()));
  }
  stream.insert(stream.end(), {0x01, 0x00, 0x00, 0xFF, 0xFF});  // the last block: stored, empty
  put32(stream, static_cast<std::uint32_t>(adler));
  return stream;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) {
    out.insert(out.end(), part.begin(), part.end());
  }
  return out;
}

// A PNG of 64 x 48 with before between its header and its image data.
Bytes smallPng(const Bytes& before, std::size_t extraMiB = 0) {
  return concat({pngHeader(64, 48), before, pngChunk("IDAT", zlibWithZeros(pngRows(64, 48), extraMiB)),
                 pngChunk("IEND", {})});
}

// A compressed text chunk (zTXt, or iTXt with its compression flag) whose
// text inflates to mib MiB.
Bytes compressedText(const char* type, std::size_t mib) {
  const Bytes text = zlibWithZeros({}, mib);
  Bytes data = {'C', 'o', 'm', 'm', 'e', 'n', 't', 0};
  data.insert(data.end(), {0});  // zTXt: method; iTXt: compressed flag 1, method, language, translated
  if (type[0] == 'i') {
    data.back() = 1;
    data.insert(data.end(), {0, 0, 0});
  }
  data.insert(data.end(), text.begin(), text.end());
  return pngChunk(type, data);
}

Bytes repeat(const Bytes& part, std::size_t times) {
  Bytes out;
  out.reserve(part.size() * times);
  for (std::size_t i = 0; i < times; ++i) {
    out.insert(out.end(), part.begin(), part.end());
  }
  return out;
}

struct Cost {
  RunResult run;
  double seconds = 0;  // user and system processor time
  long peakMiB = 0;
};

// Runs the program on file in folder, measuring the child alone (wait4).
Cost runMeasured(const Folder& dir, const std::vector<std::string>& args) {
  const StartedRun started = startKovrel(dir.path(), args);
  Cost cost;
  char buffer[4096];
  ssize_t n;
  while ((n = read(started.out, buffer, sizeof buffer)) > 0) {
    cost.run.out.append(buffer, static_cast<std::size_t>(n));
  }
  close(started.out);
  int status = 0;
  rusage usage{};
  wait4(started.pid, &status, 0, &usage);
  cost.run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  cost.seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                 static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  cost.peakMiB = usage.ru_maxrss / 1024;
  return cost;
}

// Writes a file of head, size - head - tail zero bytes left as a hole, and
// tail: a large file that costs the disk nothing.
void writeSparse(const std::string& path, const Bytes& head, std::size_t size, const Bytes& tail) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fwrite(head.data(), 1, head.size(), file);
  std::fseek(file, static_cast<long>(size - tail.size()), SEEK_SET);
  std::fwrite(tail.data(), 1, tail.size(), file);
  std::fclose(file);
}

bool haveCjpeg() { return std::system("command -v cjpeg >/dev/null 2>&1") == 0; }

// A progressive grey JPEG of side x side whose one AC scan comes scans - 1
// times (each scan is as costly as decoding the picture once more).
Bytes repeatedScans(const Folder& dir, int side, int scans) {
  const std::string header = "P5 " + std::to_string(side) + " " + std::to_string(side) + " 255\n";
  Bytes pgm(header.begin(), header.end());
  pgm.resize(pgm.size() + static_cast<std::size_t>(side) * static_cast<std::size_t>(side), 128);
  dir.write("g.pgm", pgm);
  const std::string script = "0: 0 0 0 0;\n0: 1 63 0 0;\n";
  dir.write("scans.txt", Bytes(script.begin(), script.end()));
  const std::string command = "cd '" + dir.path() + "' && cjpeg -grayscale -scans scans.txt -outfile p.jpg g.pgm";
  EXPECT_EQ(std::system(command.c_str()), 0);
  const Bytes jpeg = dir.read("p.jpg");
  // The AC scan: from its own Huffman table (or, without one, its SOS
  // marker) to the end-of-image marker. Markers never occur inside a scan's
  // data (an FF byte there is followed by 00).
  std::vector<std::size_t> scanStarts;
  std::size_t table = 0;
  for (std::size_t i = 0; i + 1 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC4 && scanStarts.size() == 1) {
      table = i;
    } else if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) {
      scanStarts.push_back(i);
    }
  }
  EXPECT_EQ(scanStarts.size(), 2u);
  const std::size_t from = table != 0 ? table : scanStarts.back();
  const Bytes body(jpeg.begin(), jpeg.end() - 2);
  const Bytes scan(jpeg.begin() + static_cast<long>(from), jpeg.end() - 2);
  return concat({body, repeat(scan, static_cast<std::size_t>(scans - 2)), Bytes{0xFF, 0xD9}});
}

// A baseline JPEG header of 2 components (8 x 8), as far as the first scan.
Bytes twoComponentJpeg() {
  Bytes out = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43, 0x00};
  out.insert(out.end(), 64, 1);
  out.insert(out.end(), {0xFF, 0xC0, 0x00, 0x0E, 0x08, 0x00, 0x08, 0x00, 0x08, 0x02, 0x01, 0x11, 0x00, 0x02, 0x11,
                         0x00});
  // One Huffman table (DC 0) of a single 1-bit code for category 0, and the same as AC 0.
  for (const std::uint8_t tableClass : {std::uint8_t{0x00}, std::uint8_t{0x10}}) {
    out.insert(out.end(), {0xFF, 0xC4, 0x00, 0x14, tableClass, 1});
    out.insert(out.end(), 15, 0);
    out.push_back(0);
  }
  out.insert(out.end(), {0xFF, 0xDA, 0x00, 0x0A, 0x02, 0x01, 0x00, 0x02, 0x00, 0x00, 0x3F, 0x00, 0x00, 0xFF, 0xD9});
  return out;
}

struct HostileCase {
  const char* what;
  std::string file;
  std::function<void(const Folder&)> make;
  std::vector<std::string> options;
  std::string message;  // after the banner; empty: converted
};

TEST(HostileFiles, EachEndsInItsOutcomeWithinTheCostBound) {
  const std::string tooLargeFile = ": the file is larger than 512 MiB, more than Kovrel reads of a picture file.\n";
  const std::vector<HostileCase> cases = {
      {"200 zTXt chunks of 8 MiB each", "ztxt.png",
       [](const Folder& d) { d.write("ztxt.png", smallPng(repeat(compressedText("zTXt", 8), 200))); }, {}, ""},
      {"200 iTXt chunks of 8 MiB each", "itxt.png",
       [](const Folder& d) { d.write("itxt.png", smallPng(repeat(compressedText("iTXt", 8), 200))); }, {}, ""},
      {"2 GiB of zeros after the rows", "extra.png",
       [](const Folder& d) { d.write("extra.png", smallPng({}, 2048)); }, {}, ""},
      {"4 million empty IDAT chunks", "empty.png",
       [](const Folder& d) {
         const Bytes png = smallPng({});
         const Bytes idat = concat({Bytes(png.begin() + 33, png.end() - 12)});
         d.write("empty.png", concat({Bytes(png.begin(), png.begin() + 33), repeat(pngChunk("IDAT", {}), 4'000'000),
                                      idat, pngChunk("IEND", {})}));
       },
       {}, ""},
      {"an empty IDAT chunk with a wrong CRC, in a run", "badrun.png",
       [](const Folder& d) {
         const Bytes png = smallPng({});
         Bytes bad = pngChunk("IDAT", {});
         bad.back() ^= 1;
         d.write("badrun.png", concat({Bytes(png.begin(), png.begin() + 33), repeat(pngChunk("IDAT", {}), 1000), bad,
                                       Bytes(png.begin() + 33, png.end())}));
       },
       {}, "badrun.png: the PNG file is damaged or cut short.\n"},
      {"a 400 MB text chunk", "text.png",
       [](const Folder& d) {
         const Bytes png = smallPng({});
         Bytes head(png.begin(), png.begin() + 33);
         put32(head, 400'000'000);
         head.insert(head.end(), {'t', 'E', 'X', 't', 'C', 0});
         // The chunk's CRC is left wrong: an ancillary chunk's is not needed.
         const Bytes tail = concat({Bytes{0, 0, 0, 0}, Bytes(png.begin() + 33, png.end())});
         writeSparse(d / "text.png", head, head.size() - 2 + 400'000'000 + tail.size(), tail);
       },
       {}, ""},
      {"a 64 x 48 picture in a file over 512 MiB", "huge.png",
       [](const Folder& d) { writeSparse(d / "huge.png", smallPng({}), std::size_t{600} << 20, {0}); }, {},
       "huge.png" + tooLargeFile},
      {"an 8192 x 8192 PNG, no fit: refused before decoding", "big.png",
       [](const Folder& d) {
         d.write("big.png", concat({pngHeader(8192, 8192), pngChunk("IDAT", Bytes(1000, 7)), pngChunk("IEND", {})}));
       },
       {}, "Unsupported size!\nThe picture is larger than 512 x 512: --fit=crop, --fit=letterbox or --fit=stretch "
           "scales it to the screen (kovrel --help).\n"},
      {"a 30-byte GIF whose screen is 8192 x 8192, no fit: refused before decoding", "big.gif",
       [](const Folder& d) {
         // Two colours and a 1 x 1 frame whose data is missing after the
         // code size: its size is refused before the missing data is seen.
         d.write("big.gif", Bytes{'G', 'I', 'F', '8', '9', 'a', 0x00, 0x20, 0x00, 0x20, 0x80, 0, 0, 255, 0, 0, 0, 0,
                                  255, ',', 0, 0, 0, 0, 1, 0, 1, 0, 0, 2});
       },
       {}, "Unsupported size!\nThe picture is larger than 512 x 512: --fit=crop, --fit=letterbox or --fit=stretch "
           "scales it to the screen (kovrel --help).\n"},
      {"a two-component JPEG", "two.jpg", [](const Folder& d) { d.write("two.jpg", twoComponentJpeg()); }, {},
       "two.jpg: a JPEG whose colour components are neither greyscale (1) nor colour (3), which Kovrel does not "
       "read; save it as an RGB or greyscale JPEG, or as a PNG.\n"},
      {"a 256 x 192 TGA followed by 3 MB of other bytes", "long.tga",
       [](const Folder& d) {
         Bytes tga = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 192, 0, 24, 0};
         tga.resize(tga.size() + 256 * 192 * 3 + 3'000'000, 0x55);
         d.write("long.tga", tga);
       },
       {}, ""},
      {"--size above the screen with a fit, for a whole-screen format", "fit.tga",
       [](const Folder& d) {
         Bytes tga = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 64, 0, 48, 0, 24, 0};
         tga.resize(tga.size() + 64 * 48 * 3, 0x33);
         d.write("fit.tga", tga);
       },
       {"--size=512x384", "--fit=stretch", "--format=raw"},
       "fit.tga fitted to --size is larger than the 256 x 192 screen, which the sc2, raw, c, asm, ti and a99 formats hold: "
       "give --size at most 256x192.\n"},
  };
  std::vector<HostileCase> all = cases;
  if (haveCjpeg()) {
    // 8192 x 8192 in 10 000 scans; and the limit itself, on a smaller picture.
    all.push_back({"10 000 scans of an 8192 x 8192 JPEG", "scans.jpg",
                   [](const Folder& d) { d.write("scans.jpg", repeatedScans(d, 8192, 10000)); }, {"--fit=crop"},
                   "scans.jpg: the JPEG file has more than 100 scans, more than Kovrel reads (an encoder writes "
                   "about 10); save it again as a JPEG or as a PNG.\n"});
    all.push_back({"100 scans, the most read", "hundred.jpg",
                   [](const Folder& d) { d.write("hundred.jpg", repeatedScans(d, 1024, 100)); }, {"--fit=crop"}, ""});
  }
  for (const HostileCase& c : all) {
    SCOPED_TRACE(c.what);
    Folder dir;
    c.make(dir);
    // Read the file once first: the first read of a freshly written file
    // (most of all the holes of a sparse one) costs the kernel time to fill
    // the page cache, which varies from machine to machine and is not the
    // program's work.
    if (std::FILE* warm = std::fopen((dir / c.file).c_str(), "rb")) {
      static char sink[1 << 20];
      while (std::fread(sink, 1, sizeof sink, warm) == sizeof sink) {
      }
      std::fclose(warm);
    }
    std::vector<std::string> args = c.options;
    args.push_back(c.file);
    const Cost cost = runMeasured(dir, args);
    if (c.message.empty()) {
      EXPECT_EQ(cost.run.status, 0) << cost.run.out;
      EXPECT_NE(cost.run.out.find("Ok"), std::string::npos) << cost.run.out;
    } else {
      EXPECT_EQ(cost.run.status, 1);
      EXPECT_EQ(cost.run.out, kBanner + c.message);
    }
    // The bound: about 1 s and 256 MiB beyond the picture's own needs; the
    // pictures here need well under 0.1 s and 64 MiB (a refused 8192 x 8192
    // JPEG's coefficients, 128 MiB, are allowed for). The sanitizers' build
    // runs several times slower and holds more.
#ifdef KOVREL_TEST_SANITIZED
    constexpr double kSlower = 4;
#else
    constexpr double kSlower = 1;
#endif
    EXPECT_LT(cost.seconds, 2.0 * kSlower);
    EXPECT_LT(cost.peakMiB, static_cast<long>((256 + 160) * kSlower));
  }
}

// The bytes this process has read so far (Linux: rchar of /proc/self/io).
std::uint64_t bytesRead() {
  std::FILE* io = std::fopen("/proc/self/io", "r");
  unsigned long long rchar = 0;
  if (io != nullptr) {
    EXPECT_EQ(std::fscanf(io, "rchar: %llu", &rchar), 1);
    std::fclose(io);
  }
  return rchar;
}

// Long ancillary chunks before the image data are sought over, not read,
// with libpng's outcome: the picture, or damaged when the file ends inside
// one. Each file is sparse: head, a hole of zeros, then tail.
TEST(HostileFiles, LongAncillaryChunksAreSoughtOverNotRead) {
  const Bytes png = smallPng({});
  const Bytes signature(png.begin(), png.begin() + 8);
  const Bytes header(png.begin() + 8, png.begin() + 33);  // IHDR
  const Bytes rest(png.begin() + 33, png.end());          // image data and IEND
  const auto text = [](std::uint32_t length) {
    Bytes out;
    put32(out, length);
    out.insert(out.end(), {'t', 'E', 'X', 't'});
    return out;
  };
  const Bytes crc = {0, 0, 0, 0};  // wrong, as an ancillary chunk's may be
  constexpr std::uint32_t kLong = 300'000'000;
  const struct {
    const char* what;
    Bytes head;
    std::size_t size;
    Bytes tail;
    Status status;
  } cases[] = {
      {"after IHDR", concat({signature, header, text(kLong)}), 33 + 8 + kLong + 4 + rest.size(), concat({crc, rest}),
       Status::kOk},
      {"two in a row", concat({signature, header, text(kLong)}), 33 + 8 + kLong + 4 + 8 + 1'000'000 + 4 + rest.size(),
       concat({crc, text(1'000'000), Bytes(1'000'000, 'x'), crc, rest}), Status::kOk},
      {"before IHDR, which libpng passes over too", concat({signature, text(kLong)}),
       8 + 8 + kLong + 4 + header.size() + rest.size(), concat({crc, header, rest}), Status::kOk},
      {"the file ends inside it", concat({signature, header, text(kLong)}), 200'000'000, {0}, Status::kDamagedPng},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Folder dir;
    writeSparse(dir / "text.png", c.head, c.size, c.tail);
    const std::uint64_t before = bytesRead();
    Picture picture;
    EXPECT_EQ(readPicture(dir / "text.png", picture, Framing{}).status, c.status);
    // The first block, read before the format is told, and a few buffers.
    EXPECT_LT(bytesRead() - before, kMaxTgaBytes + (std::size_t{1} << 20));
    if (c.status == Status::kOk) {
      // Row 47, pixel 10, red: byte 30 of pngRows' row, 30 x 5 + 47 x 3.
      EXPECT_EQ(picture.image->pixel(10, 47)[0], ((30 * 5 + 141) & 0xFF) * kSampleScale);
    }
  }
}

}  // namespace
}  // namespace kovrel::test
