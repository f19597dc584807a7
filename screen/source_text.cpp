// The C and assembler forms of the tables, and the names they and the
// machine's file system need.
#include <algorithm>
#include <cctype>

#include "os/paths.h"
#include "screen/screen.h"
#include "tiles/tiles.h"

namespace kovrel {
namespace {

constexpr std::size_t kBytesPerLine = 16;
constexpr std::size_t kMsxBaseLength = 8;
constexpr std::size_t kMsxExtensionLength = 3;

const char kHexDigits[] = "0123456789ABCDEF";

std::string upperCase(std::string text) {
  for (char& c : text) {
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return text;
}

std::string fileNameOf(const std::string& path) {
  return path.substr(fileNameStart(path));
}

// bytes as lines of `prefix` then up to 16 values `before`XX, separated by
// separator; with separatorAtLineEnd every line but the last ends with one.
std::string byteLines(const std::vector<std::uint8_t>& bytes, const char* prefix, const char* before,
                      const char* separator, bool separatorAtLineEnd) {
  std::string text;
  for (std::size_t at = 0; at < bytes.size(); at += kBytesPerLine) {
    text += prefix;
    const std::size_t end = std::min(bytes.size(), at + kBytesPerLine);
    for (std::size_t i = at; i < end; ++i) {
      text += before;
      text += kHexDigits[bytes[i] >> 4];
      text += kHexDigits[bytes[i] & 0xF];
      if (i + 1 < end || (separatorAtLineEnd && end < bytes.size())) {
        text += separator;
      }
    }
    text += "\n";
  }
  return text;
}

struct NamedTable {
  const char* suffix;  // of the identifier
  const std::vector<std::uint8_t>* bytes;
};

std::array<NamedTable, 3> namedTables(const ScreenTables& tables) {
  return {{{"pattern", &tables.pattern}, {"colour", &tables.colour}, {"name", &tables.name}}};
}

bool isMsxNameCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || std::string("!#$%&'()-@^_`{}~").find(c) != std::string::npos;
}

std::string msxPart(const std::string& text, std::size_t length) {
  std::string kept;
  for (const char c : text) {
    if (isMsxNameCharacter(c) && kept.size() < length) {
      kept += c;
    }
  }
  return upperCase(kept);
}

}  // namespace

PackedTables packTables(const ScreenTables& tables, Packing packing) {
  PackedTables packed;
  packed.packing = packing;
  const std::array<NamedTable, 3> named = namedTables(tables);
  for (std::size_t t = 0; t < named.size(); ++t) {
    packed.bytes[t] = packTable(packing, *named[t].bytes);
  }
  return packed;
}

std::string cHeaderText(const ScreenTables& tables, const std::string& identifier, const PackedTables* packed) {
  const std::string macro = upperCase(identifier);
  std::string text =
      "/* TMS9918 Graphics II tables, written by Kovrel 1.0.\n"
      " * Pattern table to 0x0000, colour table to 0x2000, name table to 0x1800;\n"
      " * third t's patterns go to 0x0800 * t of either table, "
      + macro + "_THIRDt_PATTERNS of them.\n";
  if (packed != nullptr) {
    text += std::string(" * Each table is packed on its own with ") + packingName(packed->packing) +
            "; _SIZE is its unpacked size,\n * _PACKED_SIZE the size of its array.\n";
  }
  text += " * Include this file wherever the tables are used; in exactly one source\n"
          " * file, #define " + macro + "_IMPLEMENTATION before it, for the data. */\n";
  text += "#ifndef " + macro + "_TMS9918_H\n#define " + macro + "_TMS9918_H\n\n";
  const std::array<NamedTable, 3> named = namedTables(tables);
  for (const NamedTable& table : named) {
    text += "#define " + macro + "_" + upperCase(table.suffix) + "_SIZE " + std::to_string(table.bytes->size()) + "\n";
  }
  if (packed != nullptr) {
    for (std::size_t t = 0; t < named.size(); ++t) {
      text += "#define " + macro + "_" + upperCase(named[t].suffix) + "_PACKED_SIZE " +
              std::to_string(packed->bytes[t].size()) + "\n";
    }
  }
  for (int t = 0; t < kThirds; ++t) {
    text += "#define " + macro + "_THIRD" + std::to_string(t) + "_PATTERNS " +
            std::to_string(tables.uniqueTiles[static_cast<std::size_t>(t)]) + "\n";
  }
  const char* const sizeSuffix = packed != nullptr ? "_PACKED_SIZE" : "_SIZE";
  text += "\n";
  const auto array = [&](const NamedTable& table) {
    return "const unsigned char " + identifier + "_" + table.suffix + "[" + macro + "_" + upperCase(table.suffix) +
           sizeSuffix + "]";
  };
  for (const NamedTable& table : named) {
    text += "extern " + array(table) + ";\n";
  }
  text += "\n#endif\n";
  // Outside the guard, so that the file that defines the macro gets the data
  // even when another header included this one before.
  text += "\n#if defined(" + macro + "_IMPLEMENTATION) && !defined(" + macro + "_TMS9918_DATA)\n#define " + macro +
          "_TMS9918_DATA\n";
  for (std::size_t t = 0; t < named.size(); ++t) {
    const NamedTable& table = named[t];
    text += "\n" + array(table) + " = {\n";
    text += byteLines(packed != nullptr ? packed->bytes[t] : *table.bytes, "  ", "0x", ", ", true);
    text += "};\n";
  }
  text += "\n#endif\n";
  return text;
}

std::string asmSourceText(const ScreenTables& tables, const std::string& identifier, const PackedTables* packed) {
  std::string text =
      "; TMS9918 Graphics II tables, written by Kovrel 1.0.\n"
      "; Pattern table to 0x0000, colour table to 0x2000, name table to 0x1800;\n"
      "; third t's patterns go to 0x0800 * t of either table, " + identifier + "_thirdt_patterns of them.\n";
  if (packed != nullptr) {
    text += std::string("; Each table is packed on its own with ") + packingName(packed->packing) +
            "; _size is its unpacked size,\n; _packed_size the bytes under its label.\n";
  }
  text += "\n";
  const std::array<NamedTable, 3> named = namedTables(tables);
  for (const NamedTable& table : named) {
    text += identifier + "_" + table.suffix + "_size: equ " + std::to_string(table.bytes->size()) + "\n";
  }
  if (packed != nullptr) {
    for (std::size_t t = 0; t < named.size(); ++t) {
      text += identifier + "_" + named[t].suffix + "_packed_size: equ " + std::to_string(packed->bytes[t].size()) + "\n";
    }
  }
  for (int t = 0; t < kThirds; ++t) {
    text += identifier + "_third" + std::to_string(t) + "_patterns: equ " +
            std::to_string(tables.uniqueTiles[static_cast<std::size_t>(t)]) + "\n";
  }
  for (std::size_t t = 0; t < named.size(); ++t) {
    text += "\n" + identifier + "_" + named[t].suffix + ":\n";
    text += byteLines(packed != nullptr ? packed->bytes[t] : *named[t].bytes, "    db ", "$", ",", false);
  }
  return text;
}

std::string sourceIdentifier(const std::string& outputPath) {
  std::string name = fileNameOf(outputPath);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos) {
    name.erase(dot);
  }
  for (char& c : name) {
    if (std::isalnum(static_cast<unsigned char>(c)) == 0 && c != '_') {
      c = '_';
    }
  }
  if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0])) != 0) {
    name = "picture_" + name;
  }
  return name;
}

bool isMsxFileName(const std::string& path, std::string& suggestion) {
  const std::string name = fileNameOf(path);
  const std::size_t dot = name.rfind('.');
  const std::string base = name.substr(0, dot);
  const std::string extension = dot == std::string::npos ? std::string() : name.substr(dot + 1);
  const auto allFit = [](const std::string& part, std::size_t length) {
    return part.size() <= length &&
           std::all_of(part.begin(), part.end(), [](char c) { return isMsxNameCharacter(c); });
  };
  if (!base.empty() && allFit(base, kMsxBaseLength) && allFit(extension, kMsxExtensionLength)) {
    return true;
  }
  std::string keptBase = msxPart(base, kMsxBaseLength);
  if (keptBase.empty()) {
    keptBase = "PICTURE";
  }
  const std::string keptExtension = msxPart(extension, kMsxExtensionLength);
  suggestion = keptBase + (keptExtension.empty() ? "" : "." + keptExtension);
  return false;
}

std::vector<NamedBytes> screenFiles(const std::function<std::string(const std::string&)>& pathOf,
                                    const ScreenTables& plain, const ScreenTables& shared,
                                    const ScreenFileChoice& choice, std::array<std::size_t, 3>* packedSizes) {
  const auto text = [](const std::string& source) { return std::vector<std::uint8_t>(source.begin(), source.end()); };
  const bool packing = choice.packing != Packing::kNone;
  PackedTables packed;
  if (packing && (choice.raw || choice.c || choice.assembler)) {
    packed = packTables(shared, choice.packing);
    if (packedSizes != nullptr) {
      for (std::size_t t = 0; t < packed.bytes.size(); ++t) {
        (*packedSizes)[t] = packed.bytes[t].size();
      }
    }
  }
  std::vector<NamedBytes> files;
  if (choice.sc2) {
    files.push_back({pathOf("SC2"), sc2File(plain)});
  }
  if (choice.raw && packing) {
    const std::string extension = std::string(".") + packingExtension(choice.packing);
    files.push_back({pathOf("pat") + extension, packed.bytes[0]});
    files.push_back({pathOf("col") + extension, packed.bytes[1]});
    files.push_back({pathOf("nam") + extension, packed.bytes[2]});
  } else if (choice.raw) {
    files.push_back({pathOf("pat"), shared.pattern});
    files.push_back({pathOf("col"), shared.colour});
    files.push_back({pathOf("nam"), shared.name});
  }
  if (choice.c) {
    const std::string header = pathOf("h");
    files.push_back({header, text(cHeaderText(shared, sourceIdentifier(header), packing ? &packed : nullptr))});
  }
  if (choice.assembler) {
    const std::string source = pathOf("asm");
    files.push_back({source, text(asmSourceText(shared, sourceIdentifier(source), packing ? &packed : nullptr))});
  }
  if (choice.rom) {
    const Packing romPacking = choice.packing == Packing::kZx0 ? Packing::kZx0 : Packing::kNone;
    files.push_back({pathOf("rom"), romFile(plain, romPacking, choice.romBackdrop)});
  }
  return files;
}

}  // namespace kovrel
