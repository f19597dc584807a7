#include "colour/palette_file.h"

#include <cstdio>
#include <vector>

namespace kovrel {
namespace {

constexpr int kMostColours = kPaletteSize;
constexpr int kFewestColours = kPaletteSize - 1;

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

std::string trimmed(const std::string& line) {
  std::size_t begin = 0;
  std::size_t end = line.size();
  while (begin < end && isSpace(line[begin])) {
    ++begin;
  }
  while (end > begin && isSpace(line[end - 1])) {
    --end;
  }
  return line.substr(begin, end - begin);
}

bool startsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

int hexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

// RRGGBB or #RRGGBB.
bool parseHexColour(const std::string& line, std::uint8_t (&rgb)[kChannels]) {
  const std::size_t at = line.size() == 7 && line[0] == '#' ? 1 : 0;
  if (line.size() != at + 6) {
    return false;
  }
  for (int c = 0; c < kChannels; ++c) {
    const int high = hexDigit(line[at + 2 * static_cast<std::size_t>(c)]);
    const int low = hexDigit(line[at + 2 * static_cast<std::size_t>(c) + 1]);
    if (high < 0 || low < 0) {
      return false;
    }
    rgb[c] = static_cast<std::uint8_t>(16 * high + low);
  }
  return true;
}

// "R G B" or "R G B name". Returns kOk, kPaletteBadLine (not three whole
// numbers first) or kPaletteBadValue (a number above 255).
Status parseGimpColour(const std::string& line, std::uint8_t (&rgb)[kChannels]) {
  long values[kChannels];
  std::size_t at = 0;
  for (long& value : values) {
    while (at < line.size() && isSpace(line[at])) {
      ++at;
    }
    const std::size_t digits = at;
    value = 0;
    while (at < line.size() && line[at] >= '0' && line[at] <= '9') {
      value = value > 255 ? value : value * 10 + (line[at] - '0');
      ++at;
    }
    if (at == digits || (at < line.size() && !isSpace(line[at]))) {
      return Status::kPaletteBadLine;
    }
  }
  for (int c = 0; c < kChannels; ++c) {
    if (values[c] > 255) {
      return Status::kPaletteBadValue;
    }
    rgb[c] = static_cast<std::uint8_t>(values[c]);
  }
  return Status::kOk;
}

}  // namespace

const Palette* palettePreset(const std::string& name) {
  if (name == "mame") {
    return &kMamePalette;
  }
  if (name == "datasheet") {
    return &kDatasheetPalette;
  }
  if (name == "v9938") {
    return &kV9938Palette;
  }
  return nullptr;
}

const char* palettePresetNames() { return "mame, datasheet, v9938"; }

Outcome parsePalette(const std::string& text, const std::string& path, Palette& palette) {
  if (text.size() > kMaxPaletteFileBytes) {
    return {Status::kPaletteTooLarge, path};
  }
  std::vector<std::string> lines;
  // A UTF-8 byte-order mark, which some editors put first, is not part of
  // the first line.
  std::size_t start = startsWith(text, "\xEF\xBB\xBF") ? 3 : 0;
  while (start <= text.size()) {
    const std::size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) {
      break;
    }
    start = end + 1;
  }
  if (!text.empty() && text.back() == '\n') {
    lines.pop_back();  // the end of the last line, not a line of its own
  }
  const bool gimp = !lines.empty() && trimmed(lines[0]) == "GIMP Palette";

  std::uint8_t colours[kMostColours][kChannels] = {};
  int count = 0;
  for (std::size_t i = gimp ? 1 : 0; i < lines.size(); ++i) {
    const int number = static_cast<int>(i) + 1;
    const std::string line = trimmed(lines[i]);
    if (line.empty() || (gimp && (line[0] == '#' || startsWith(line, "Name:") || startsWith(line, "Columns:"))) ||
        (!gimp && line[0] == ';')) {
      continue;
    }
    std::uint8_t rgb[kChannels];
    const Status read = gimp ? parseGimpColour(line, rgb)
                             : (parseHexColour(line, rgb) ? Status::kOk : Status::kPaletteBadLine);
    if (read != Status::kOk) {
      return {read, path, number};
    }
    if (count == kMostColours) {
      return {Status::kPaletteTooMany, path, number};
    }
    for (int c = 0; c < kChannels; ++c) {
      colours[count][c] = rgb[c];
    }
    ++count;
  }
  if (count < kFewestColours) {
    return {Status::kPaletteTooFew, path, lines.empty() ? 1 : static_cast<int>(lines.size())};
  }
  // Fifteen colours are indices 1 ... 15, and index 0 is black.
  const int first = count == kFewestColours ? 1 : 0;
  Palette read{};
  for (int i = 0; i < count; ++i) {
    for (int c = 0; c < kChannels; ++c) {
      read.colour[first + i][c] = colours[i][c];
    }
  }
  palette = read;
  return {Status::kOk, path};
}

Outcome readPaletteFile(const std::string& path, Palette& palette) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    return {Status::kPaletteUnreadable, path};
  }
  std::string text;
  char buffer[4096];
  bool failed = false;
  for (;;) {
    const std::size_t got = std::fread(buffer, 1, sizeof buffer, file);
    text.append(buffer, got);
    if (text.size() > kMaxPaletteFileBytes) {
      break;  // parsePalette refuses it
    }
    if (got < sizeof buffer) {
      failed = std::ferror(file) != 0;  // a folder, say
      break;
    }
  }
  std::fclose(file);
  if (failed) {
    return {Status::kPaletteUnreadable, path};
  }
  return parsePalette(text, path, palette);
}

}  // namespace kovrel
