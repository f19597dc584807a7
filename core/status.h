// Outcome of a core step. Errors are values: every step that can fail
// returns one of these, and only the driver turns it into console text.
#pragma once

#include <string>

namespace kovrel {

enum class Status {
  kOk,
  kCannotOpen,         // input file could not be opened
  kUnsupportedFormat,  // not an uncompressed 24-bit bottom-left TGA
  kUnsupportedSize,    // a side is 0 or larger than kMaxSide
  kCannotCreate,       // an output file could not be written completely
  kCannotRestore,      // after a failed output, an earlier one could not be put back
  kOutOfMemory,        // the system refused memory
  kInterrupted,        // a stop signal arrived while the outputs were written
};

// A status together with the path it concerns (the input for read errors,
// the failing output for write errors).
struct Outcome {
  Status status = Status::kOk;
  std::string path;
};

// The exact console text for an outcome, newline included where the program
// prints one. kOk gives an empty string.
std::string statusMessage(const Outcome& outcome);

}  // namespace kovrel
