#include "image/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace kovrel {
namespace {

// mkstemp creates files readable by the owner only; give the output the mode
// an ordinary create would: 0666 less the process's umask.
mode_t newFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return static_cast<mode_t>(0666 & ~mask);
}

bool writeAll(int fd, const std::uint8_t* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

StagedFile::~StagedFile() {
  if (!temporary_.empty()) {
    ::unlink(temporary_.c_str());
  }
}

bool StagedFile::stage(const std::string& target, const std::uint8_t* data, std::size_t size) {
  // A folder in the target's place would only fail at the rename; find it
  // now, before any other output of the run has been committed.
  // A name the system cannot create (too long a path or file name) would
  // likewise only fail at the rename.
  struct stat existing {};
  if (::stat(target.c_str(), &existing) == 0 ? S_ISDIR(existing.st_mode) : errno != ENOENT) {
    return false;
  }
  // A short fixed name in the target's own folder, so the final rename stays
  // within one file system and works even when the target's name is long.
  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  std::string name = folder + ".kovrel-XXXXXX";
  const int fd = ::mkstemp(name.data());
  if (fd < 0) {
    return false;
  }
  temporary_ = name;
  target_ = target;
  bool ok = ::fchmod(fd, newFileMode()) == 0;
  ok = writeAll(fd, data, size) && ok;
  ok = (::close(fd) == 0) && ok;
  if (!ok) {
    ::unlink(temporary_.c_str());
    temporary_.clear();
  }
  return ok;
}

bool StagedFile::commit() {
  if (temporary_.empty()) {
    return false;
  }
  const bool ok = std::rename(temporary_.c_str(), target_.c_str()) == 0;
  if (!ok) {
    ::unlink(temporary_.c_str());
  }
  temporary_.clear();
  return ok;
}

Outcome writeOutputFiles(const std::vector<OutputFile>& files) {
  std::vector<StagedFile> staged(files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (!staged[i].stage(files[i].path, files[i].data, files[i].size)) {
      return {Status::kCannotCreate, files[i].path};
    }
  }
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (!staged[i].commit()) {
      return {Status::kCannotCreate, files[i].path};
    }
  }
  return {};
}

bool isSameFile(const std::string& a, const std::string& b) {
  struct stat sa {};
  struct stat sb {};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) {
    return false;
  }
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace kovrel
