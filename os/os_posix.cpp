// The operating system seam on POSIX systems. Linux swaps names with
// renameat2; elsewhere exchangeNames says kUnsupported and the caller
// replaces files the portable way.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "os/os.h"

namespace kovrel {
namespace os {

const char* const* programArguments(int, char** argv) { return argv; }

double processorSeconds() {
  // clock() is this process's processor time here; read as whole
  // milliseconds, as the program always has.
  const auto milliseconds = static_cast<long long>(std::clock()) * 1000 / CLOCKS_PER_SEC;
  return static_cast<double>(milliseconds) / 1000.0;
}

bool isSameFile(const std::string& a, const std::string& b) {
  struct stat sa {};
  struct stat sb {};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) {
    return false;
  }
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

namespace {
// mkstemp creates files readable by the owner only; an output gets the mode
// an ordinary create would: 0666 less the process's umask.
unsigned newFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return static_cast<unsigned>(0666 & ~mask);
}
}  // namespace

bool lookAt(const std::string& path, PathState& state) {
  state = PathState{};
  struct stat existing {};
  if (::stat(path.c_str(), &existing) != 0) {
    state.mode = newFileMode();
    return errno == ENOENT;
  }
  state.exists = true;
  state.folder = S_ISDIR(existing.st_mode);
  // Only the permission bits: set-user and set-group bits on a file whose
  // content changed would grant what the new content never had.
  state.mode = S_ISREG(existing.st_mode) ? static_cast<unsigned>(existing.st_mode & 0777) : newFileMode();
  return true;
}

WriteFile::~WriteFile() {
  if (handle_ >= 0) {
    ::close(static_cast<int>(handle_));
  }
}

long long WriteFile::write(const std::uint8_t* data, std::size_t size) {
  for (;;) {
    const ssize_t n = ::write(static_cast<int>(handle_), data, size);
    if (n >= 0 || errno != EINTR) {
      return n;
    }
  }
}

bool WriteFile::setMode(unsigned mode) { return ::fchmod(static_cast<int>(handle_), static_cast<mode_t>(mode)) == 0; }

bool WriteFile::close() {
  const int fd = static_cast<int>(handle_);
  handle_ = -1;
  return ::close(fd) == 0;
}

bool createUnique(std::string& name, WriteFile& file) {
  const int fd = ::mkstemp(name.data());
  if (fd < 0) {
    return false;
  }
  file.handle_ = fd;
  return true;
}

bool removeFile(const std::string& path) { return ::unlink(path.c_str()) == 0 || errno == ENOENT; }

bool renameReplacing(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

Exchange exchangeNames(const std::string& a, const std::string& b) {
#if defined(RENAME_EXCHANGE)
  if (::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0) {
    return Exchange::kDone;
  }
  if (errno == ENOENT) {
    return Exchange::kMissing;
  }
  // A file system that cannot swap names says EINVAL; anything else is a
  // refusal (no permission, an immutable target) that the portable way
  // would meet too.
  return errno == EINVAL || errno == ENOSYS || errno == ENOTSUP ? Exchange::kUnsupported : Exchange::kRefused;
#else
  (void)a;
  (void)b;
  return Exchange::kUnsupported;
#endif
}

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The caller's signal state while a StopRequests lives: the stop signals
// are held, SIGXFSZ ignored and not blocked (a blocked signal stays pending
// even when ignored).
struct HeldSignals {
  sigset_t callerMask;
  sigset_t stopping;  // the held signals that stop the run
  struct sigaction callerFileSize;
} held;

}  // namespace

StopRequests::StopRequests() {
  sigset_t mask;
  sigprocmask(SIG_BLOCK, nullptr, &held.callerMask);
  mask = held.callerMask;
  sigemptyset(&held.stopping);
  for (const int number : kStopSignals) {
    sigaddset(&mask, number);
    // A signal the caller blocks or ignores would not end the run; it must
    // not stop it either (nohup ignores SIGHUP).
    struct sigaction action {};
    if (!sigismember(&held.callerMask, number) && sigaction(number, nullptr, &action) == 0 &&
        ((action.sa_flags & SA_SIGINFO) != 0 || action.sa_handler != SIG_IGN)) {
      sigaddset(&held.stopping, number);
    }
  }
  sigdelset(&mask, SIGXFSZ);
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGXFSZ, &ignore, &held.callerFileSize);
  sigprocmask(SIG_SETMASK, &mask, nullptr);
}

// Restoring the caller's mask delivers a held signal.
StopRequests::~StopRequests() {
  sigaction(SIGXFSZ, &held.callerFileSize, nullptr);
  sigprocmask(SIG_SETMASK, &held.callerMask, nullptr);
}

bool StopRequests::pending() const {
  sigset_t waiting;
  if (sigpending(&waiting) != 0) {
    return false;
  }
  for (const int number : kStopSignals) {
    if (sigismember(&held.stopping, number) == 1 && sigismember(&waiting, number) == 1) {
      return true;
    }
  }
  return false;
}

}  // namespace os
}  // namespace kovrel
