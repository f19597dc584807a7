#include "image/output_file.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <new>
#include <string>
#include <utility>

#include "os/os.h"
#include "os/paths.h"

#if defined(KOVREL_TEST_HOOKS) && defined(_WIN32)
#include <windows.h>
#endif

namespace kovrel {
namespace {

// Bytes written between two looks for a held signal: a 512 x 512 preview
// takes 13 writes, and a signal is acted on within one of them.
constexpr std::size_t kWriteChunk = std::size_t{64} << 10;

#if defined(KOVREL_TEST_HOOKS)
// The test build of the program stops itself at the step KOVREL_TEST_PAUSE
// names ("staged 2": file 2 is staged; "chunk 3": file 3's first chunk is
// written; "placed 1": file 1 is in place). On POSIX it stops with SIGSTOP
// (tests/CMakeLists.txt), so that a test can send a signal at a known
// moment; on Windows (tests/windows_identity.py, in a console) it sends
// its console a Ctrl-C and gives the handler's thread time to run. With KOVREL_TEST_NO_EXCHANGE set it
// puts files in place the portable way.
void pauseAt(const char* step, std::size_t file) {
  const char* wanted = std::getenv("KOVREL_TEST_PAUSE");
  if (wanted != nullptr && std::string(step) + " " + std::to_string(file + 1) == wanted) {
#if defined(_WIN32)
    GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
    Sleep(500);
#else
    std::raise(SIGSTOP);
#endif
  }
}
bool exchangeAllowed() { return std::getenv("KOVREL_TEST_NO_EXCHANGE") == nullptr; }
#else
void pauseAt(const char*, std::size_t) {}
bool exchangeAllowed() { return true; }
#endif

// Writes data[0 .. size) in chunks; false on a failed write or when a stop
// signal waits after a chunk.
bool writeAll(os::WriteFile& out, const std::uint8_t* data, std::size_t size, const os::StopRequests& stops,
              std::size_t file) {
  std::size_t done = 0;
  while (done < size) {
    const long long n = out.write(data + done, std::min(size - done, kWriteChunk));
    if (n < 0) {
      return false;
    }
    if (done == 0) {
      pauseAt("chunk", file);
    }
    done += static_cast<std::size_t>(n);
    if (stops.pending()) {
      return false;
    }
  }
  return true;
}

// One output on its way to its target. Every name it may need is made while
// staging, so that putting it in place and back allocates nothing.
class StagedFile {
 public:
  StagedFile() = default;
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;
  // Removes the staged file if it was never put in place. The target's old
  // content, once moved aside, is removed only by finish(): if it could not
  // be put back it stays, rather than be lost.
  ~StagedFile() {
    if (!staged_.empty()) {
      os::removeFile(staged_);
    }
  }

  // Creates the temporary file beside target and writes data to it, with
  // the target's permission bits if it exists. False (and no temporary file
  // kept) on any failure: no permission, a read-only target (Windows), a
  // full disk, a file-size limit, a folder in the target's place, a name
  // too long, or a stop request.
  bool stage(const std::string& target, const std::uint8_t* data, std::size_t size,
             const os::StopRequests& stops, std::size_t file) {
    // A folder in the target's place, a target the system will not replace,
    // or a name it cannot create (too long a path or file name) would only
    // fail at the rename; find them now, before any target of the run has
    // been replaced.
    os::PathState existing;
    if (!os::lookAt(target, existing) || existing.folder || existing.readOnly) {
      return false;
    }
    // Short names in the target's own folder, so that the renames stay
    // within one file system and work even when the target's name is long.
    const std::string folder = target.substr(0, fileNameStart(target));
    target_ = target;
    aside_ = folder + ".kovrel-XXXXXX";
    std::string name = aside_;
    os::WriteFile out;
    if (!os::createUnique(name, out)) {
      return false;
    }
    staged_ = std::move(name);
    bool ok = out.setMode(existing.mode);
    ok = ok && writeAll(out, data, size, stops, file);
    ok = out.close() && ok;
    if (!ok) {
      os::removeFile(staged_);
      staged_.clear();
    }
    return ok;
  }

  // Puts the staged file in place of the target and keeps the target's old
  // content, if any, under a temporary name. False when the target could not
  // be replaced; then putBack() still has to undo what was done.
  bool commit() {
    // Swapping the two names replaces the target in one step: its name
    // never goes missing, and the old content ends under the staged name.
    if (exchangeAllowed()) {
      switch (os::exchangeNames(staged_, target_)) {
        case os::Exchange::kDone:
          std::swap(staged_, kept_);
          placed_ = true;
          return true;
        case os::Exchange::kMissing:
          return placeNew();
        case os::Exchange::kRefused:
          return false;
        case os::Exchange::kUnsupported:
          break;
      }
    }
    // Portable: move the target aside to a name of our own, then rename.
    {
      os::WriteFile reserved;
      if (!os::createUnique(aside_, reserved)) {
        return false;
      }
      reserved.close();
    }
    if (!os::renameReplacing(target_, aside_)) {
      os::removeFile(aside_);
      os::PathState target;
      return os::lookAt(target_, target) && !target.exists && placeNew();
    }
    std::swap(aside_, kept_);
    return placeNew();
  }

  // Undoes commit(): the old content goes back under the target's name, or
  // a target that did not exist before is removed. False when that fails.
  bool putBack() {
    if (!kept_.empty()) {
      if (!os::renameReplacing(kept_, target_)) {
        return false;
      }
      kept_.clear();
    } else if (placed_ && !os::removeFile(target_)) {
      return false;
    }
    placed_ = false;
    return true;
  }

  // The whole set is in place: drops the target's old content.
  void finish() {
    if (!kept_.empty()) {
      // A failure leaves a stale copy of old content beside a complete set;
      // nothing of the run is lost by it.
      os::removeFile(kept_);
      kept_.clear();
    }
  }

 private:
  bool placeNew() {
    if (!os::renameReplacing(staged_, target_)) {
      return false;
    }
    staged_.clear();
    placed_ = true;
    return true;
  }

  std::string target_;
  std::string staged_;  // the new content while not in place
  std::string kept_;    // the target's old content while the target is replaced
  std::string aside_;   // a name pattern for moving the target aside
  bool placed_ = false;
};

Outcome writeStagedSet(const std::vector<OutputFile>& files, const os::StopRequests& stops) {
  std::vector<StagedFile> staged(files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (!staged[i].stage(files[i].path, files[i].data, files[i].size, stops, i)) {
      if (stops.pending()) {
        return {Status::kInterrupted, {}};
      }
      return {Status::kCannotCreate, files[i].path};
    }
    pauseAt("staged", i);
    if (stops.pending()) {
      return {Status::kInterrupted, {}};
    }
  }
  // From here on the set is finished whatever arrives: the stop signals stay
  // held until every target is new or every one is put back.
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (!staged[i].commit()) {
      // Back to front, the failed file first (a portable commit may have
      // moved its target aside already).
      std::size_t lost = files.size();
      for (std::size_t j = i + 1; j-- > 0;) {
        if (!staged[j].putBack()) {
          lost = j;
        }
      }
      if (lost < files.size()) {
        return {Status::kCannotRestore, files[lost].path};
      }
      return {Status::kCannotCreate, files[i].path};
    }
    pauseAt("placed", i);
  }
  for (StagedFile& file : staged) {
    file.finish();
  }
  return {};
}

}  // namespace

Outcome writeOutputFiles(const std::vector<OutputFile>& files) {
  const os::StopRequests stops;
  try {
    return writeStagedSet(files, stops);
  } catch (const std::bad_alloc&) {
    // Only while staging, which allocates: the staged files are removed.
    return {Status::kOutOfMemory, {}};
  }
}

bool isSameFile(const std::string& a, const std::string& b) { return os::isSameFile(a, b); }

bool isFolder(const std::string& path) {
  os::PathState state;
  return os::lookAt(path, state) && state.exists && state.folder;
}

}  // namespace kovrel
