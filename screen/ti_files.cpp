// The TI-99/4A's forms of the tables: TIFILES copies of disk files, and
// TMS9900 assembler source.
#include <algorithm>
#include <cctype>

#include "screen/screen.h"

namespace kovrel {
namespace {

constexpr std::size_t kTiNameLength = 10;
constexpr std::size_t kTiNameAt = 0x10;
constexpr std::size_t kBytesPerLine = 16;
constexpr std::uint8_t kProgramFlag = 0x01;

std::string fileNameOf(const std::string& path) {
  return path.substr(path.rfind('/') + 1);  // npos + 1 is 0
}

std::string keptUpper(const std::string& text, bool (*keep)(unsigned char)) {
  std::string kept;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (keep(u)) {
      kept += static_cast<char>(std::toupper(u));
    }
  }
  return kept;
}

bool isTiNameCharacter(unsigned char c) { return std::isalnum(c) != 0 || c == '_' || c == '-'; }
bool isLabelCharacter(unsigned char c) { return std::isalnum(c) != 0; }

std::string hexByte(std::uint8_t value) {
  const char digits[] = "0123456789ABCDEF";
  return {'>', digits[value >> 4], digits[value & 0xF]};
}

}  // namespace

std::vector<std::uint8_t> tiFilesFile(const std::vector<std::uint8_t>& body, const std::string& tiName) {
  const std::size_t sectors = (body.size() + kTiSectorBytes - 1) / kTiSectorBytes;
  std::vector<std::uint8_t> file(kTiFilesHeaderBytes + sectors * kTiSectorBytes, 0);
  const char magic[] = "\x07TIFILES";
  std::copy(magic, magic + 8, file.begin());
  file[0x08] = static_cast<std::uint8_t>(sectors >> 8);
  file[0x09] = static_cast<std::uint8_t>(sectors);
  file[0x0A] = kProgramFlag;
  file[0x0C] = static_cast<std::uint8_t>(body.size() % kTiSectorBytes);
  for (std::size_t i = 0; i < kTiNameLength; ++i) {
    file[kTiNameAt + i] = static_cast<std::uint8_t>(i < tiName.size() ? tiName[i] : ' ');
  }
  std::copy(body.begin(), body.end(), file.begin() + static_cast<std::ptrdiff_t>(kTiFilesHeaderBytes));
  return file;
}

std::string tiDiskName(const std::string& path, const std::string& suffix) {
  std::string name = fileNameOf(path);
  if (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
    name.erase(name.size() - suffix.size());
  }
  std::string stem = keptUpper(name, isTiNameCharacter);
  if (stem.empty()) {
    stem = "PIC";
  }
  const std::string end = keptUpper(suffix, isTiNameCharacter);
  return stem.substr(0, kTiNameLength - std::min(end.size(), kTiNameLength)) + end;
}

std::string tiLabelPrefix(const std::string& outputPath) {
  std::string name = fileNameOf(outputPath);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos) {
    name.erase(dot);
  }
  const std::string prefix = keptUpper(name, isLabelCharacter).substr(0, 3);
  if (prefix.empty() || std::isdigit(static_cast<unsigned char>(prefix[0])) != 0) {
    return "PIC";
  }
  return prefix;
}

std::string tiAssemblerText(const ScreenTables& tables, const std::string& prefix) {
  std::string text =
      "* TMS9918 Graphics II tables, written by Kovrel 1.0.\n"
      "* Pattern table to >0000, colour table to >2000, name table to >1800\n"
      "* (registers 3 = >FF, 4 = >03); third t's patterns go to >0800 * t\n"
      "* of either table, " + prefix + "Tt of them.\n";
  const struct {
    const char* label;
    const char* size;
    const std::vector<std::uint8_t>* bytes;
  } parts[] = {{"PAT", "PSZ", &tables.pattern}, {"COL", "CSZ", &tables.colour}, {"NAM", "NSZ", &tables.name}};
  for (const auto& part : parts) {
    text += prefix + part.size + " EQU " + std::to_string(part.bytes->size()) + "\n";
  }
  for (int t = 0; t < kThirds; ++t) {
    text += prefix + "T" + std::to_string(t) + " EQU " +
            std::to_string(tables.uniqueTiles[static_cast<std::size_t>(t)]) + "\n";
  }
  for (const auto& part : parts) {
    const std::vector<std::uint8_t>& bytes = *part.bytes;
    const std::string label = prefix + part.label;
    for (std::size_t at = 0; at < bytes.size(); at += kBytesPerLine) {
      // The label field is as wide as the longest label, so the columns line up.
      text += at == 0 ? label + std::string(6 - label.size(), ' ') : std::string(6, ' ');
      text += " BYTE ";
      const std::size_t end = std::min(bytes.size(), at + kBytesPerLine);
      for (std::size_t i = at; i < end; ++i) {
        text += hexByte(bytes[i]);
        text += i + 1 < end ? "," : "\n";
      }
    }
  }
  return text;
}

}  // namespace kovrel
