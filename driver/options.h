// kovrel's command line: [OPTION]... PICTURE [OPTION]... [more pictures]
//
// Options are the arguments that begin with "--", before or after the
// picture; "--" alone ends them, and every argument after it is a picture.
// The first other argument is the picture; without --batch the other
// pictures are ignored (the program says so on standard error), with it
// each is converted in turn. A path that begins with "--" can be given as
// ./--name; one that begins with a single "-" is an ordinary path, except
// "-h", which asks for the help when no file of that name exists.
#pragma once

#include <string>
#include <vector>

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
  Packing packing = Packing::kNone;  // --compress
  std::string output;  // --output, as given; empty when not given
  bool report = false;  // --report: the perceived difference after the statistics
  bool kernelGiven = false;  // --kernel, which only the diffusing methods take
  bool help = false;
  bool version = false;
  bool batch = false;  // --batch: every picture in turn
  bool quiet = false;  // --quiet: errors alone, on standard error
  bool hasPicture = false;
  std::string picture;  // the path exactly as typed
  std::vector<std::string> morePictures;  // the picture arguments after the first
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
