// Compressed tables for the machine's own unpackers: ZX0 (version 2) and
// Pletter 0.5c without the stored length, each packed by an optimal parse.
// Everything here works on bytes in memory only.
//
// Both streams mix flag bits and whole bytes. Flag bits are read most
// significant first from a bit buffer; when it runs empty the next stream
// byte becomes the buffer. Whole bytes are read when the decoder needs them.
//
// ZX0 (files .zx0). The decoder starts with last offset 1, reading literals:
//   literals      n = gamma; n bytes; flag: 1 new offset, 0 last offset
//   last offset   n = gamma; copy n from last offset; flag: 1 new offset, 0 literals
//   new offset    m = gamma with its data bits inverted; m = 256 ends the
//                 stream; byte B: offset = 128 m - (B >> 1); B's low bit is
//                 the first bit of the length's gamma, length = gamma + 1;
//                 flag: 1 new offset, 0 literals
// gamma is Elias gamma interlaced: a flag bit 0 is followed by a data bit,
// a flag bit 1 ends it (so 1 is "1", 2 is "001", 3 is "011"). Offsets run
// 1 ... 32640.
//
// Pletter 0.5c (files .plet5). Byte 0 is the first bit buffer; its top
// three bits hold mode - 1 (1 ... 6). Byte 1 is the first output byte. Then
// a flag 0 is a literal byte, a flag 1 a match: v = 1, then while a bit 1
// follows, v = 2 v + the next bit; length v + 1. Then byte c: below 128 the
// offset is c + 1; otherwise (mode k >= 2) k more bits, most significant
// first, are bits k + 6 ... 7 of offset - 129, c's low seven bits its bits
// 0 ... 6. The stream ends with 34 one bits after the last item (v then
// passes 16 bits). Mode k reaches offsets up to 128 + 2^(k + 7) (k >= 2),
// 256 in mode 1.
//
// An empty table packs to an empty stream in both formats, and an empty
// stream unpacks to nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kovrel {

enum class Packing {
  kNone,
  kZx0,
  kPletter,
};

// The file extension a packed table gets after its own ("zx0", "plet5");
// empty for kNone.
const char* packingExtension(Packing packing);

// The format's name for messages and comments ("ZX0", "Pletter"); empty for
// kNone.
const char* packingName(Packing packing);

// The shortest ZX0 stream the parser finds for data: dynamic programming
// over the positions, keeping at each the cheapest ways in by last offset.
std::vector<std::uint8_t> packZx0(const std::vector<std::uint8_t>& data);

// The shortest Pletter stream for data: for every mode an exact optimal
// parse (every literal and match choice), the shortest of the six modes.
std::vector<std::uint8_t> packPletter(const std::vector<std::uint8_t>& data);

// packZx0 or packPletter by packing; data itself for kNone.
std::vector<std::uint8_t> packTable(Packing packing, const std::vector<std::uint8_t>& data);

// Unpack a stream into out (replaced). False when the stream is damaged:
// cut short, an offset before the start, or more than limit bytes of
// output; out then holds what was unpacked up to there.
bool unpackZx0(const std::vector<std::uint8_t>& stream, std::vector<std::uint8_t>& out, std::size_t limit);
bool unpackPletter(const std::vector<std::uint8_t>& stream, std::vector<std::uint8_t>& out, std::size_t limit);

}  // namespace kovrel
