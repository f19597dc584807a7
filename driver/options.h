// kovrel's command line: [OPTION]... PICTURE [ignored]...
//
// Options are the arguments before the picture that begin with "--"; "--"
// alone ends them. The first other argument is the picture, and arguments
// after it are ignored. A path that begins with "--" can be given as
// ./--name; one that begins with a single "-" is an ordinary path.
#pragma once

#include <string>

#include "core/conversion.h"
#include "files/run_files.h"
#include "screen/screen.h"

namespace kovrel::driver {

struct CommandLine {
  Settings settings;
  std::string paletteName;  // as given: a preset's name or the file's path
  unsigned formats = kDefaultFormats;
  ScreenSettings screen;  // --place
  bool dedupe = false;
  std::string output;  // --output, as given; empty when not given
  bool help = false;
  bool version = false;
  bool hasPicture = false;
  std::string picture;  // the path exactly as typed
  std::string error;    // the one line that says what is wrong, newline included; empty when none
};

// Parses argv[1 .. argc), reading a palette file when one is named.
CommandLine parseCommandLine(int argc, const char* const* argv);

// The --help text.
std::string helpText();

// The line naming the settings that differ from the defaults, newline
// included; empty when all are the defaults.
std::string settingsLine(const CommandLine& line);

}  // namespace kovrel::driver
