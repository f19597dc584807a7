// Output files that replace their target only when complete.
//
// A StagedFile writes its bytes to a new temporary file in the target's
// folder. commit() renames it over the target; until then an existing target
// keeps its old content. A StagedFile that is not committed removes its
// temporary file when destroyed, so a failed run leaves nothing behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/status.h"

namespace kovrel {

class StagedFile {
 public:
  StagedFile() = default;
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;
  ~StagedFile();

  // Creates the temporary file beside target and writes bytes to it, checking
  // every write and the close. Returns false (and keeps no temporary file)
  // on any failure: no permission, a full disk, a file-size limit, a folder
  // in the target's place, a target name too long to create.
  bool stage(const std::string& target, const std::uint8_t* data, std::size_t size);

  // Renames the staged file over the target. Returns false, and removes the
  // temporary file, when the rename fails (a folder in the target's place).
  bool commit();

 private:
  std::string target_;
  std::string temporary_;
};

// A file's path and its complete bytes, data[0 .. size), which the caller
// keeps alive until writeOutputFiles returns.
struct OutputFile {
  std::string path;
  const std::uint8_t* data;
  std::size_t size;
};

// Writes a run's outputs together: stages every file in order, and only when
// all are staged renames each over its target. Returns kCannotCreate with the
// path of the first file that could not be staged (then no target changed)
// or renamed; a rename fails only in a race with another program.
Outcome writeOutputFiles(const std::vector<OutputFile>& files);

// True when both paths name one existing file (same device and inode), also
// through links or different spellings.
bool isSameFile(const std::string& a, const std::string& b);

}  // namespace kovrel
