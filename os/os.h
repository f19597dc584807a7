// What the operating system does differently, behind one interface with a
// POSIX implementation (os_posix.cpp) and a Windows one (os_windows.cpp):
// program arguments, processor time, file identity, creating, replacing and
// removing files, permission bits, and stop requests (signals on POSIX;
// Ctrl-C, Ctrl-Break and the console closing on Windows). Names are UTF-8
// (os/paths.h); large blocks of memory are in os/memory.h. Errors are plain
// false: the caller knows which file it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kovrel {
namespace os {

// The program's arguments as UTF-8, argc of them then a null, as main's argv.
// POSIX: argv itself. Windows: read from the wide command line, since argv
// holds them in the code page and loses what it cannot spell; kept until the
// process ends.
const char* const* programArguments(int argc, char** argv);

// Processor time this process has used so far, user plus system, in
// seconds.
double processorSeconds();

// True when both paths name one existing file, also through links or
// different spellings (POSIX: device and inode; Windows: volume serial
// number and file index).
bool isSameFile(const std::string& a, const std::string& b);

// What is at a path that an output may replace.
struct PathState {
  bool exists = false;
  bool folder = false;
  // The system would refuse to replace it (Windows: the read-only
  // attribute). POSIX replaces a file whatever its mode.
  bool readOnly = false;
  // Permission bits a replacement should carry (POSIX 0777 part); for a new
  // file, 0666 less the umask. Meaningless on Windows.
  unsigned mode = 0;
};

// Fills state for path; false when it cannot be told (a name too long, a
// folder on the way that is a file), true with exists false when nothing is
// there.
bool lookAt(const std::string& path, PathState& state);

// A file open for writing, created by createUnique.
class WriteFile {
 public:
  WriteFile() = default;
  WriteFile(const WriteFile&) = delete;
  WriteFile& operator=(const WriteFile&) = delete;
  ~WriteFile();  // closes it unchecked if close() was not called

  // Writes up to size bytes of data; the count written, or -1 on failure.
  long long write(const std::uint8_t* data, std::size_t size);
  // Gives the file the permission bits mode (POSIX); true on Windows.
  bool setMode(unsigned mode);
  // Closes the file; false when its last writes failed.
  bool close();

 private:
  friend bool createUnique(std::string& name, WriteFile& file);
  std::intptr_t handle_ = -1;
};

// Creates a new file whose name is name with its last six characters (six
// 'X's) replaced to make it unique, and opens it for writing; name then
// holds the name made. False when no file could be created.
bool createUnique(std::string& name, WriteFile& file);

// Removes a file; false when it was there and could not be removed.
bool removeFile(const std::string& path);

// Renames from to to, replacing a file at to. False on failure.
bool renameReplacing(const std::string& from, const std::string& to);

// Swaps the names of two files in one step, so that neither name ever goes
// missing.
enum class Exchange {
  kDone,
  kMissing,      // one of the two does not exist
  kUnsupported,  // the system or the file system cannot swap names
  kRefused,      // it can, but not these (no permission, say)
};
Exchange exchangeNames(const std::string& a, const std::string& b);

// For its lifetime, the requests that stop the program from a terminal or
// the system are held instead of ending it at once, and a file-size limit
// fails a write instead of ending the process (POSIX SIGXFSZ). On POSIX
// these are SIGINT, SIGTERM and SIGHUP, unless the caller blocks or ignores
// them; on Windows, Ctrl-C, Ctrl-Break and the console closing, logging off
// or shutting down. One the object holds is acted on when it ends: the
// process ends as the request would have ended it (POSIX: the signal is
// let through; a handler the caller set runs instead). A closing console
// waits until then, within the few seconds Windows grants.
class StopRequests {
 public:
  StopRequests();
  StopRequests(const StopRequests&) = delete;
  StopRequests& operator=(const StopRequests&) = delete;
  ~StopRequests();

  // True when a request that should stop the program is being held.
  // The state it keeps lives in os_*.cpp: one at a time, as the program
  // has one thread.
  bool pending() const;
};

}  // namespace os
}  // namespace kovrel
