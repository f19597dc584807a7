#include "image/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <utility>

namespace kovrel {
namespace {

// The signals that stop a run from a terminal or a service manager.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Bytes written between two looks for a held signal: a 512 x 512 preview
// takes 13 writes, and a signal is acted on within one of them.
constexpr std::size_t kWriteChunk = std::size_t{64} << 10;

#if defined(KOVREL_TEST_HOOKS)
// The test build of the program (tests/CMakeLists.txt) stops itself with
// SIGSTOP at the step KOVREL_TEST_PAUSE names ("staged 2": file 2 is staged;
// "chunk 3": file 3's first chunk is written; "placed 1": file 1 is in
// place), so that a test can send a signal at a known moment. With
// KOVREL_TEST_NO_EXCHANGE set it puts files in place the portable way.
void pauseAt(const char* step, std::size_t file) {
  const char* wanted = std::getenv("KOVREL_TEST_PAUSE");
  if (wanted != nullptr && std::string(step) + " " + std::to_string(file + 1) == wanted) {
    std::raise(SIGSTOP);
  }
}
bool exchangeAllowed() { return std::getenv("KOVREL_TEST_NO_EXCHANGE") == nullptr; }
#else
void pauseAt(const char*, std::size_t) {}
bool exchangeAllowed() { return true; }
#endif

// The signal state of the write stage, set for its lifetime: the stop
// signals held, SIGXFSZ ignored and not blocked (a blocked signal stays
// pending even when ignored). The destructor restores the caller's mask,
// which delivers a held signal. The program has one thread.
class WriteStageSignals {
 public:
  WriteStageSignals() {
    sigset_t mask;
    sigprocmask(SIG_BLOCK, nullptr, &callerMask_);
    mask = callerMask_;
    sigemptyset(&stopping_);
    for (const int number : kStopSignals) {
      sigaddset(&mask, number);
      // A signal the caller blocks or ignores would not end the run; it
      // must not stop the write stage either (nohup ignores SIGHUP).
      struct sigaction action {};
      if (!sigismember(&callerMask_, number) && sigaction(number, nullptr, &action) == 0 &&
          ((action.sa_flags & SA_SIGINFO) != 0 || action.sa_handler != SIG_IGN)) {
        sigaddset(&stopping_, number);
      }
    }
    sigdelset(&mask, SIGXFSZ);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGXFSZ, &ignore, &callerFileSize_);
    sigprocmask(SIG_SETMASK, &mask, nullptr);
  }
  WriteStageSignals(const WriteStageSignals&) = delete;
  WriteStageSignals& operator=(const WriteStageSignals&) = delete;
  ~WriteStageSignals() {
    sigaction(SIGXFSZ, &callerFileSize_, nullptr);
    sigprocmask(SIG_SETMASK, &callerMask_, nullptr);
  }

  // True when a signal that should stop the run is waiting.
  bool stopRequested() const {
    sigset_t pending;
    if (sigpending(&pending) != 0) {
      return false;
    }
    for (const int number : kStopSignals) {
      if (sigismember(&stopping_, number) == 1 && sigismember(&pending, number) == 1) {
        return true;
      }
    }
    return false;
  }

 private:
  sigset_t callerMask_;
  sigset_t stopping_;
  struct sigaction callerFileSize_ {};
};

// mkstemp creates files readable by the owner only; give the output the mode
// an ordinary create would: 0666 less the process's umask.
mode_t newFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return static_cast<mode_t>(0666 & ~mask);
}

// Writes data[0 .. size) in chunks; false on a failed write or when a stop
// signal waits after a chunk.
bool writeAll(int fd, const std::uint8_t* data, std::size_t size, const WriteStageSignals& signals,
              std::size_t file) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, data + done, std::min(size - done, kWriteChunk));
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    if (done == 0) {
      pauseAt("chunk", file);
    }
    done += static_cast<std::size_t>(n);
    if (signals.stopRequested()) {
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
      ::unlink(staged_.c_str());
    }
  }

  // Creates the temporary file beside target and writes data to it, with
  // the target's permission bits if it exists. False (and no temporary file
  // kept) on any failure: no permission, a full disk, a file-size limit, a
  // folder in the target's place, a name too long, or a stop signal.
  bool stage(const std::string& target, const std::uint8_t* data, std::size_t size,
             const WriteStageSignals& signals, std::size_t file) {
    // A folder in the target's place, or a name the system cannot create
    // (too long a path or file name), would only fail at the rename; find
    // them now, before any target of the run has been replaced.
    struct stat existing {};
    mode_t mode = 0;
    if (::stat(target.c_str(), &existing) == 0) {
      if (S_ISDIR(existing.st_mode)) {
        return false;
      }
      // Only the permission bits: set-user and set-group bits on a file
      // whose content changed would grant what the new content never had.
      mode = S_ISREG(existing.st_mode) ? (existing.st_mode & 0777) : newFileMode();
    } else if (errno == ENOENT) {
      mode = newFileMode();
    } else {
      return false;
    }
    // Short names in the target's own folder, so that the renames stay
    // within one file system and work even when the target's name is long.
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    target_ = target;
    aside_ = folder + ".kovrel-XXXXXX";
    std::string name = aside_;
    const int fd = ::mkstemp(name.data());
    if (fd < 0) {
      return false;
    }
    staged_ = std::move(name);
    bool ok = ::fchmod(fd, mode) == 0;
    ok = ok && writeAll(fd, data, size, signals, file);
    ok = (::close(fd) == 0) && ok;
    if (!ok) {
      ::unlink(staged_.c_str());
      staged_.clear();
    }
    return ok;
  }

  // Puts the staged file in place of the target and keeps the target's old
  // content, if any, under a temporary name. False when the target could not
  // be replaced; then putBack() still has to undo what was done.
  bool commit() {
#if defined(RENAME_EXCHANGE)
    // Swapping the two names replaces the target in one step: its name
    // never goes missing, and the old content ends under the staged name.
    if (exchangeAllowed()) {
      if (::renameat2(AT_FDCWD, staged_.c_str(), AT_FDCWD, target_.c_str(), RENAME_EXCHANGE) == 0) {
        std::swap(staged_, kept_);
        placed_ = true;
        return true;
      }
      if (errno == ENOENT) {
        return placeNew();
      }
      // A file system that cannot swap names says EINVAL; anything else is
      // a refusal (no permission, an immutable target) that the portable
      // way would meet too.
      if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
        return false;
      }
    }
#endif
    // Portable: move the target aside to a name of our own, then rename.
    const int fd = ::mkstemp(aside_.data());
    if (fd < 0) {
      return false;
    }
    ::close(fd);
    if (std::rename(target_.c_str(), aside_.c_str()) != 0) {
      const bool missing = errno == ENOENT;
      ::unlink(aside_.c_str());
      return missing && placeNew();
    }
    std::swap(aside_, kept_);
    return placeNew();
  }

  // Undoes commit(): the old content goes back under the target's name, or
  // a target that did not exist before is removed. False when that fails.
  bool putBack() {
    if (!kept_.empty()) {
      if (std::rename(kept_.c_str(), target_.c_str()) != 0) {
        return false;
      }
      kept_.clear();
    } else if (placed_ && ::unlink(target_.c_str()) != 0 && errno != ENOENT) {
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
      ::unlink(kept_.c_str());
      kept_.clear();
    }
  }

 private:
  bool placeNew() {
    if (std::rename(staged_.c_str(), target_.c_str()) != 0) {
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

Outcome writeStagedSet(const std::vector<OutputFile>& files, const WriteStageSignals& signals) {
  std::vector<StagedFile> staged(files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (!staged[i].stage(files[i].path, files[i].data, files[i].size, signals, i)) {
      if (signals.stopRequested()) {
        return {Status::kInterrupted, {}};
      }
      return {Status::kCannotCreate, files[i].path};
    }
    pauseAt("staged", i);
    if (signals.stopRequested()) {
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
  const WriteStageSignals signals;
  try {
    return writeStagedSet(files, signals);
  } catch (const std::bad_alloc&) {
    // Only while staging, which allocates: the staged files are removed.
    return {Status::kOutOfMemory, {}};
  }
}

bool isSameFile(const std::string& a, const std::string& b) {
  struct stat sa {};
  struct stat sb {};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) {
    return false;
  }
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool isFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace kovrel
