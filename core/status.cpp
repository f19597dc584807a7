#include "core/status.h"

namespace kovrel {

std::string statusMessage(const Outcome& outcome) {
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
    case Status::kCannotRestore:
      return "cannot put back " + outcome.path + " file!\n";
    case Status::kOutOfMemory:
      return "out of memory\n";
    case Status::kInterrupted:
      return "interrupted\n";
  }
  return {};
}

}  // namespace kovrel
