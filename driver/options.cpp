#include "driver/options.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

#include "colour/palette_file.h"

namespace kovrel::driver {
namespace {

// A whole number low ... high, with an optional sign; false otherwise.
bool parseWhole(const std::string& text, int low, int high, int& value) {
  std::size_t at = text.size() > 0 && (text[0] == '+' || text[0] == '-') ? 1 : 0;
  if (at == text.size() || text.size() - at > 4) {
    return false;
  }
  int magnitude = 0;
  for (; at < text.size(); ++at) {
    if (text[at] < '0' || text[at] > '9') {
      return false;
    }
    magnitude = 10 * magnitude + (text[at] - '0');
  }
  const int signedValue = text[0] == '-' ? -magnitude : magnitude;
  if (signedValue < low || signedValue > high) {
    return false;
  }
  value = signedValue;
  return true;
}

// A decimal number with at most two places, as hundredths low ... high.
bool parseHundredths(const std::string& text, int low, int high, int& hundredths) {
  const std::size_t point = text.find('.');
  const std::string whole = text.substr(0, point);
  const std::string places = point == std::string::npos ? std::string() : text.substr(point + 1);
  if (whole.empty() || whole.size() > 3 || places.size() > 2 || (point != std::string::npos && places.empty())) {
    return false;
  }
  int value = 0;
  for (const char c : whole + places + std::string(2 - places.size(), '0')) {
    if (c < '0' || c > '9') {
      return false;
    }
    value = 10 * value + (c - '0');
  }
  if (value < low || value > high) {
    return false;
  }
  hundredths = value;
  return true;
}

// RRGGBB or #RRGGBB, hexadecimal; false otherwise.
bool parseColour(const std::string& text, std::array<std::uint8_t, 3>& colour) {
  const std::string digits = !text.empty() && text[0] == '#' ? text.substr(1) : text;
  if (digits.size() != 6) {
    return false;
  }
  for (std::size_t c = 0; c < 3; ++c) {
    int value = 0;
    for (std::size_t i = 2 * c; i < 2 * c + 2; ++i) {
      const char d = digits[i];
      const int digit = d >= '0' && d <= '9' ? d - '0' : (d >= 'a' && d <= 'f' ? d - 'a' + 10 : (d >= 'A' && d <= 'F' ? d - 'A' + 10 : -1));
      if (digit < 0) {
        return false;
      }
      value = 16 * value + digit;
    }
    colour[c] = static_cast<std::uint8_t>(value);
  }
  return true;
}

// WxH, each side a whole number 1 ... kMaxSide; false otherwise.
bool parseSize(const std::string& text, int& width, int& height) {
  const std::size_t x = text.find('x');
  if (x == std::string::npos || text.find_first_of("+-") != std::string::npos) {
    return false;
  }
  return parseWhole(text.substr(0, x), 1, kMaxSide, width) && parseWhole(text.substr(x + 1), 1, kMaxSide, height);
}

std::string colourText(const std::array<std::uint8_t, 3>& colour) {
  char text[8];
  std::snprintf(text, sizeof text, "%02X%02X%02X", colour[0], colour[1], colour[2]);
  return text;
}

struct FormatName {
  const char* name;
  Format format;
};
// In the order the files are written and named in messages.
constexpr FormatName kFormatNames[] = {
    {"chr", kFormatChr}, {"clr", kFormatClr}, {"tga", kFormatTga}, {"sc2", kFormatSc2},
    {"raw", kFormatRaw}, {"c", kFormatC},     {"asm", kFormatAsm}, {"rom", kFormatRom},
    {"ti", kFormatTi},   {"a99", kFormatA99}, {"png", kFormatPng},
};

// The comma-separated format names in list as bits; false for an empty or
// unknown name.
bool parseFormats(const std::string& list, unsigned& formats) {
  unsigned bits = 0;
  std::size_t at = 0;
  while (true) {
    const std::size_t comma = list.find(',', at);
    const std::string item = list.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
    bool known = false;
    for (const FormatName& entry : kFormatNames) {
      if (item == entry.name) {
        bits |= entry.format;
        known = true;
      }
    }
    if (!known) {
      return false;
    }
    if (comma == std::string::npos) {
      break;
    }
    at = comma + 1;
  }
  formats = bits;
  return true;
}

std::string formatListText(unsigned formats) {
  std::string text;
  for (const FormatName& entry : kFormatNames) {
    if ((formats & entry.format) != 0) {
      text += (text.empty() ? "" : ",") + std::string(entry.name);
    }
  }
  return text;
}

std::string signedText(int value) { return (value > 0 ? "+" : "") + std::to_string(value); }

std::string hundredthsText(int hundredths) {
  const int places = hundredths % 100;
  return std::to_string(hundredths / 100) + "." + (places < 10 ? "0" : "") + std::to_string(places);
}

}  // namespace

CommandLine parseCommandLine(int argc, const char* const* argv) {
  CommandLine line;
  const auto fail = [&line](const std::string& message) {
    line.error = message + "\n";
    return line;
  };
  const auto addPicture = [&line](const std::string& path) {
    if (line.hasPicture) {
      line.morePictures.push_back(path);
    } else {
      line.hasPicture = true;
      line.picture = path;
    }
  };
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--") {
      for (++i; i < argc; ++i) {
        addPicture(argv[i]);
      }
      break;
    }
    if (argument == "-h") {
      struct stat status;
      if (stat(argument.c_str(), &status) != 0) {
        line.help = true;  // no file of that name: the usual short form of --help
        continue;
      }
    }
    if (argument.rfind("--", 0) != 0) {
      addPicture(argument);
      continue;
    }
    const std::size_t equals = argument.find('=');
    const std::string name = argument.substr(0, equals);
    const bool hasValue = equals != std::string::npos;
    const std::string value = hasValue ? argument.substr(equals + 1) : std::string();
    if (name == "--help" || name == "--version") {
      if (hasValue) {
        return fail(name + " takes no value.");
      }
      (name == "--help" ? line.help : line.version) = true;
      continue;
    }
    if (name == "--dedupe" || name == "--batch" || name == "--quiet") {
      if (hasValue) {
        return fail(name + " takes no value.");
      }
      (name == "--dedupe" ? line.dedupe : name == "--batch" ? line.batch : line.quiet) = true;
      continue;
    }
    if (name == "--report") {
      if (hasValue) {
        return fail("--report takes no value.");
      }
      line.report = true;
      continue;
    }
    const bool known = name == "--palette" || name == "--dither" || name == "--brightness" ||
                       name == "--contrast" || name == "--saturation" || name == "--gamma" ||
                       name == "--fit" || name == "--size" || name == "--aspect" || name == "--background" ||
                       name == "--format" || name == "--place" || name == "--output" || name == "--compress" ||
                       name == "--method" || name == "--kernel";
    if (!known) {
      return fail("Unknown option " + name + " (kovrel --help lists the options).");
    }
    if (!hasValue || value.empty()) {
      return fail(name + " needs a value, as " + name + "=VALUE (kovrel --help lists the options).");
    }
    Adjustments& adjust = line.settings.adjustments;
    if (name == "--format") {
      if (!parseFormats(value, line.formats)) {
        return fail("--format takes a comma-separated list of chr, clr, tga, sc2, raw, c, asm, rom, ti, a99 and png, "
                    "not \"" + value + "\".");
      }
    } else if (name == "--compress") {
      if (value == "zx0") {
        line.packing = Packing::kZx0;
      } else if (value == "pletter") {
        line.packing = Packing::kPletter;
      } else {
        return fail("--compress takes zx0 or pletter, not \"" + value + "\".");
      }
    } else if (name == "--output") {
      line.output = value;
    } else if (name == "--place") {
      if (value == "topleft") {
        line.screen.placement = Placement::kTopLeft;
      } else if (value == "centre" || value == "center") {
        line.screen.placement = Placement::kCentre;
      } else {
        return fail("--place takes topleft or centre, not \"" + value + "\".");
      }
    } else if (name == "--palette") {
      if (const Palette* preset = palettePreset(value)) {
        line.settings.palette = *preset;
      } else {
        const Outcome read = readPaletteFile(value, line.settings.palette);
        if (read.status != Status::kOk) {
          std::string message = statusMessage(read);
          message.pop_back();
          if (read.status == Status::kPaletteUnreadable) {
            message += std::string(" It is not a preset either: ") + palettePresetNames() + ".";
          }
          return fail(message);
        }
      }
      line.paletteName = value;
    } else if (name == "--method") {
      if (!methodOfName(value, line.settings.method)) {
        return fail("--method takes " + methodNameList() + ", not \"" + value + "\".");
      }
    } else if (name == "--kernel") {
      if (!kernelOfName(value, line.settings.kernel)) {
        return fail("--kernel takes " + kernelNameList() + ", not \"" + value + "\".");
      }
      line.kernelGiven = true;
    } else if (name == "--dither") {
      if (!parseWhole(value, 0, kMaxDitherPercent, line.settings.ditherPercent)) {
        return fail("--dither takes a whole percentage from 0 to 100, not \"" + value + "\".");
      }
    } else if (name == "--fit" || name == "--size" || name == "--aspect" || name == "--background") {
      Framing& framing = line.settings.framing;
      if (name == "--fit") {
        if (value != "crop" && value != "letterbox" && value != "stretch") {
          return fail("--fit takes crop, letterbox or stretch, not \"" + value + "\".");
        }
        framing.fit = value == "crop" ? Fit::kCrop : (value == "letterbox" ? Fit::kLetterbox : Fit::kStretch);
      } else if (name == "--size") {
        if (!parseSize(value, framing.width, framing.height)) {
          return fail("--size takes WIDTHxHEIGHT, each 1 to 512, as 256x192, not \"" + value + "\".");
        }
        if (framing.fit == Fit::kNone) {
          framing.fit = Fit::kCrop;  // until a --fit says otherwise
        }
      } else if (name == "--aspect") {
        if (value != "square" && value != "tv") {
          return fail("--aspect takes square or tv, not \"" + value + "\".");
        }
        framing.aspect = value == "tv" ? PixelAspect::kTelevision : PixelAspect::kSquare;
      } else if (!parseColour(value, framing.background)) {
        return fail("--background takes a colour as RRGGBB in hexadecimal, as 000000 for black, not \"" + value + "\".");
      }
    } else if (name == "--gamma") {
      if (!parseHundredths(value, kLowestGamma, kHighestGamma, adjust.gammaHundredths)) {
        return fail("--gamma takes a number from 0.10 to 10.00 with at most two decimals, not \"" + value + "\".");
      }
    } else {
      int& target = name == "--brightness" ? adjust.brightness
                    : name == "--contrast" ? adjust.contrast
                                           : adjust.saturation;
      if (!parseWhole(value, -kAdjustmentLimit, kAdjustmentLimit, target)) {
        return fail(name + " takes a whole number from -100 to 100, not \"" + value + "\".");
      }
    }
  }
  if (line.kernelGiven && !methodDiffuses(line.settings.method)) {
    return fail(std::string("--kernel applies to the methods that diffuse the error, not to ") +
                methodName(line.settings.method) + ".");
  }
  if (line.dedupe && (line.formats & kSharedTileFormats) == 0) {
    return fail("--dedupe applies to the raw, c, asm and a99 formats: name one with --format.");
  }
  if (line.screen.placement != Placement::kTopLeft && (line.formats & kScreenFormats) == 0) {
    return fail("--place applies to the sc2, raw, c, asm, rom, ti and a99 formats: name one with --format.");
  }
  if (line.packing != Packing::kNone && (line.formats & (kFormatRaw | kFormatC | kFormatAsm)) == 0 &&
      !(line.packing == Packing::kZx0 && (line.formats & kFormatRom) != 0)) {
    return fail(line.packing == Packing::kZx0
                    ? "--compress=zx0 applies to the raw, c, asm and rom formats: name one with --format."
                    : "--compress=pletter applies to the raw, c and asm formats: name one with --format.");
  }
  return line;
}

std::string helpText() {
  return "Usage: kovrel [OPTION]... PICTURE [OPTION]...\n"
         "       kovrel --batch [OPTION]... PICTURE...\n"
         "Converts a PNG, JPEG, GIF (its first frame), BMP, WebP or 24-bit TGA picture\n"
         "into TMS9918 screen 2 pattern and colour tables (PICTURE.CHR, PICTURE.CLR)\n"
         "and a preview (PICTURE_tms.tga) beside it. Without a fit the picture must be\n"
         "512 x 512 or smaller.\n"
         "\n"
         "Options come before or after the picture; -- ends them.\n"
         "  --palette=NAME|FILE  the chip's colours: a preset (mame, datasheet, v9938)\n"
         "                       or a palette file, GIMP .gpl or lines of RRGGBB;\n"
         "                       15 colours (1-15) or 16 (0-15). Default: mame\n"
         "  --dither=P           error diffusion strength in percent, 0-100;\n"
         "                       0 carries no error. Default: 100\n"
         "  --method=M           classic (error carried on the coded values), linear\n"
         "                       (error carried in linear light: truer mid and dark\n"
         "                       tones) or ordered (an 8 x 8 Bayer pattern: stable\n"
         "                       between frames), or optimise (linear, then improved\n"
         "                       as the picture is seen from near and afar; about a\n"
         "                       second more). Default: classic\n"
         "  --kernel=K           how classic and linear spread the error: floyd,\n"
         "                       atkinson, jjn, stucki or sierra. Default: floyd\n"
         "  --brightness=B       -100 to 100, added as B% of full scale. Default: 0\n"
         "  --contrast=C         -100 to 100, around the middle grey. Default: 0\n"
         "  --saturation=S       -100 (grey) to 100. Default: 0\n"
         "  --gamma=G            0.10 to 10.00; above 1 lightens middle tones.\n"
         "                       Default: 1.00\n"
         "  --fit=MODE           scale the picture to 256 x 192: crop (fill, cut the\n"
         "                       overflow), letterbox (fit inside, background around)\n"
         "                       or stretch (ignore the aspect). Default: no scaling\n"
         "  --size=WxH           the size --fit scales to, 1-512 each (crop when no\n"
         "                       --fit is given). Default: 256x192\n"
         "  --aspect=A           square, or tv: keep round things round on a television,\n"
         "                       where the chip's pixels are 8/7 as wide as tall.\n"
         "                       Default: square\n"
         "  --background=RRGGBB  the colour under transparent pixels and around a\n"
         "                       letterbox. Default: 000000 (black)\n"
         "  --format=LIST        the files to write, comma-separated. Default: chr,clr,tga\n"
         "                       chr, clr: PICTURE.CHR, PICTURE.CLR (BSAVE tables)\n"
         "                       tga, png: the preview, PICTURE_tms.tga, PICTURE_tms.png\n"
         "                       sc2: PICTURE.SC2, the whole screen in one BSAVE file\n"
         "                       raw: PICTURE.pat, .col, .nam, the tables headerless\n"
         "                       c, asm: PICTURE.h, PICTURE.asm, the tables as source\n"
         "                       rom: PICTURE.rom, an MSX cartridge showing the screen\n"
         "                       ti: PICTURE_P, PICTURE_C, TI Artist's tables (TIFILES)\n"
         "                       a99: PICTURE.a99, the tables as TMS9900 assembler\n"
         "  --place=WHERE        topleft or centre: where a picture smaller than\n"
         "                       256 x 192 goes on the screen (sc2, raw, c, asm).\n"
         "                       Default: topleft\n"
         "  --dedupe             raw, c, asm: alike tiles of a third share a pattern\n"
         "  --compress=FORMAT    raw, c, asm: each table packed with zx0 or pletter\n"
         "                       (PICTURE.pat.zx0, PICTURE.col.plet5, ...); rom: zx0\n"
         "  --output=PATH        where the files go: a folder (ending in / or existing)\n"
         "                       for the usual names, else the base name of every\n"
         "                       file (--output=out/title: out/title.CHR, ...)\n"
         "  --report             print how far the preview looks from the picture\n"
         "                       (S-CIELAB mean Delta E at 24 and 48 pixels/degree)\n"
         "  --batch              convert every PICTURE in turn with the same options;\n"
         "                       carry on after one that fails, exit 1 if any failed\n"
         "  --quiet              no banner, progress or statistics; errors (one line\n"
         "                       each) and warnings go to standard error\n"
         "  --help               this text (-h too, when no file is named -h)\n"
         "  --version            the version\n"
         "\n"
         "Exit status: 0 converted, 1 the picture or an output failed, 2 a usage error.\n";
}

std::string settingsLine(const CommandLine& line) {
  const Settings& settings = line.settings;
  if (isDefault(settings) && line.formats == kDefaultFormats && !line.dedupe &&
      line.screen.placement == Placement::kTopLeft && line.packing == Packing::kNone && line.output.empty()) {
    return {};
  }
  std::string text;
  const auto add = [&text](const std::string& item) { text += (text.empty() ? "" : ", ") + item; };
  if (!sameUsableColours(settings.palette, kMamePalette)) {
    add("palette " + line.paletteName);
  }
  if (settings.method != Method::kClassic) {
    add(std::string("method ") + methodName(settings.method));
  }
  if (settings.kernel != ErrorKernel::kFloyd) {
    add(std::string("kernel ") + kernelName(settings.kernel));
  }
  if (settings.ditherPercent != kMaxDitherPercent) {
    add("dither " + std::to_string(settings.ditherPercent) + "%");
  }
  const Adjustments& adjust = settings.adjustments;
  if (adjust.brightness != 0) {
    add("brightness " + signedText(adjust.brightness));
  }
  if (adjust.contrast != 0) {
    add("contrast " + signedText(adjust.contrast));
  }
  if (adjust.saturation != 0) {
    add("saturation " + signedText(adjust.saturation));
  }
  if (adjust.gammaHundredths != kNeutralGamma) {
    add("gamma " + hundredthsText(adjust.gammaHundredths));
  }
  const Framing& framing = settings.framing;
  if (framing.fit != Fit::kNone) {
    const char* const mode = framing.fit == Fit::kCrop ? "crop" : (framing.fit == Fit::kLetterbox ? "letterbox" : "stretch");
    add(std::string("fit ") + mode + " to " + std::to_string(framing.width) + "x" + std::to_string(framing.height));
  }
  if (framing.aspect == PixelAspect::kTelevision) {
    add("aspect tv");
  }
  if (framing.background != std::array<std::uint8_t, 3>{}) {
    add("background " + colourText(framing.background));
  }
  if (line.formats != kDefaultFormats) {
    add("formats " + formatListText(line.formats));
  }
  if (line.screen.placement == Placement::kCentre) {
    add("placed centre");
  }
  if (line.dedupe) {
    add("dedupe");
  }
  if (line.packing != Packing::kNone) {
    add(std::string("compress ") + (line.packing == Packing::kZx0 ? "zx0" : "pletter"));
  }
  if (!line.output.empty()) {
    add("output " + line.output);
  }
  return "Settings: " + text + "\n";
}

}  // namespace kovrel::driver
