#include "core/status.h"

namespace kovrel {

std::string statusMessage(const Outcome& outcome) {
  const auto where = [&outcome] {
    return "Palette file " + outcome.path + ", line " + std::to_string(outcome.line) + ": ";
  };
  switch (outcome.status) {
    case Status::kOk:
      return {};
    case Status::kCannotOpen:
      return "cannot open " + outcome.path + " file!\n";
    case Status::kUnsupportedFormat:
      return "Unsupported file format!\n";
    case Status::kUnsupportedSize:
      // The size message has no newline of its own.
      return "Unsupported size!";
    case Status::kCannotCreate:
      return "cannot create " + outcome.path + " file!\n";
    case Status::kPaletteUnreadable:
      return "Palette file " + outcome.path + " cannot be read.\n";
    case Status::kPaletteBadLine:
      return where() + "not a colour: a palette file has lines of RRGGBB or #RRGGBB, or is a GIMP palette.\n";
    case Status::kPaletteBadValue:
      return where() + "a colour component is not a whole number from 0 to 255.\n";
    case Status::kPaletteTooMany:
      return where() + "a 17th colour; a palette has 15 colours (1 to 15) or 16 (0 to 15).\n";
    case Status::kPaletteTooFew:
      return where() + "too few colours; a palette has 15 colours (1 to 15) or 16 (0 to 15).\n";
    case Status::kPictureTooLarge:
      return outcome.path + " is larger than the 256 x 192 screen, which the sc2, raw, c and asm formats hold: "
             "scale it to fit first (--fit).\n";
  }
  return {};
}

}  // namespace kovrel
