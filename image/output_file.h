// A run's output files, which replace their targets together and only when
// complete.
//
// Each file is first written to a new temporary file (.kovrel-XXXXXX) in its
// target's folder. Only when every file is complete are they put in place,
// one rename each; the target a rename replaces stays under a temporary name
// until all renames have succeeded, so that a failing rename can put the
// earlier targets back. Either every target then holds its new bytes, or
// every existing target holds its old ones, and no temporary file is left.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/status.h"

namespace kovrel {

// A file's path and its complete bytes, data[0 .. size), which the caller
// keeps alive until writeOutputFiles returns.
struct OutputFile {
  std::string path;
  const std::uint8_t* data;
  std::size_t size;
};

// Writes a run's outputs as one set, in order. A replaced target's
// permission bits are kept; a new file gets 0666 less the umask.
// Returns kCannotCreate with the first path that could not be written or put
// in place (every target as it was), kCannotRestore with a target that could
// not be put back after such a failure (its old content, if any, is left in a
// .kovrel- file beside it), kOutOfMemory, or kInterrupted (below).
//
// Signals: while it runs, SIGINT, SIGTERM and SIGHUP are held and SIGXFSZ is
// ignored, so that a file-size limit fails a write instead of ending the
// process; the caller's signal mask and SIGXFSZ action are restored on
// return. One of the three arriving while the files are written stops the
// run: the temporary files are removed, then the signal is let through
// (under its default action it ends the process; with a handler,
// kInterrupted is returned). One arriving during the renames is let through
// once the set is complete or put back. A signal the caller blocks or
// ignores is left alone.
Outcome writeOutputFiles(const std::vector<OutputFile>& files);

// True when both paths name one existing file (same device and inode), also
// through links or different spellings.
bool isSameFile(const std::string& a, const std::string& b);

// True when path names an existing folder (through links too).
bool isFolder(const std::string& path);

}  // namespace kovrel
