// The operating system seam on Windows: wide (UTF-16) file functions for
// UTF-8 names, file identity from GetFileInformationByHandle, a console
// control handler for stop requests, processor time from GetProcessTimes.
// Windows cannot swap two names in one step, so files are replaced the
// portable way (exchangeNames says kUnsupported).
#include <windows.h>
#include <shellapi.h>

#include <atomic>

#include "os/os.h"
#include "os/paths.h"

namespace kovrel {
namespace os {

const char* const* programArguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr || count != argc) {
    // Not expected; the code page's spelling is better than none.
    if (wide != nullptr) {
      LocalFree(wide);
    }
    return argv;
  }
  static std::vector<std::string> arguments;
  static std::vector<const char*> pointers;
  for (int i = 0; i < count; ++i) {
    arguments.push_back(narrow(wide[i]));
  }
  LocalFree(wide);
  for (const std::string& argument : arguments) {
    pointers.push_back(argument.c_str());
  }
  pointers.push_back(nullptr);
  return pointers.data();
}

double processorSeconds() {
  FILETIME created, ended, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user)) {
    return 0.0;
  }
  const auto ticks = [](const FILETIME& time) {
    return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  };
  // 100 ns ticks, read as whole milliseconds as on POSIX.
  const unsigned long long milliseconds = (ticks(kernel) + ticks(user)) / 10000;
  return static_cast<double>(milliseconds) / 1000.0;
}

namespace {

// A handle on an existing file or folder that reads nothing and lets others
// read, write and delete it meanwhile.
HANDLE openToInspect(const std::string& path) {
  return CreateFileW(widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

bool identify(const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
  const HANDLE file = openToInspect(path);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  const bool known = GetFileInformationByHandle(file, &info) != 0;
  CloseHandle(file);
  return known;
}

}  // namespace

bool isSameFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION ia{};
  BY_HANDLE_FILE_INFORMATION ib{};
  if (!identify(a, ia) || !identify(b, ib)) {
    return false;
  }
  return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
         ia.nFileIndexLow == ib.nFileIndexLow;
}

bool lookAt(const std::string& path, PathState& state) {
  state = PathState{};
  const DWORD attributes = GetFileAttributesW(widen(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  state.exists = true;
  state.folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  state.readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  return true;
}

namespace {
HANDLE handleOf(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
}  // namespace

WriteFile::~WriteFile() {
  if (handle_ != -1) {
    CloseHandle(handleOf(handle_));
  }
}

long long WriteFile::write(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kLargestWrite = std::size_t{1} << 30;
  DWORD written = 0;
  if (!::WriteFile(handleOf(handle_), data, static_cast<DWORD>(size < kLargestWrite ? size : kLargestWrite),
                   &written, nullptr)) {
    return -1;
  }
  return static_cast<long long>(written);
}

bool WriteFile::setMode(unsigned) { return true; }

bool WriteFile::close() {
  const HANDLE file = handleOf(handle_);
  handle_ = -1;
  return CloseHandle(file) != 0;
}

bool createUnique(std::string& name, WriteFile& file) {
  constexpr std::size_t kUnique = 6;
  constexpr int kAttempts = 100;
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  if (name.size() < kUnique) {
    return false;
  }
  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  // Only unlikely to meet another run's names, which CREATE_NEW refuses.
  unsigned long long seed = static_cast<unsigned long long>(now.QuadPart) ^
                            (static_cast<unsigned long long>(GetCurrentProcessId()) << 32);
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    unsigned long long bits = seed >> 16;
    for (std::size_t i = name.size() - kUnique; i < name.size(); ++i) {
      name[i] = kLetters[bits % (sizeof kLetters - 1)];
      bits /= sizeof kLetters - 1;
    }
    const HANDLE created = CreateFileW(widen(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (created != INVALID_HANDLE_VALUE) {
      file.handle_ = reinterpret_cast<std::intptr_t>(created);
      return true;
    }
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) {
      return false;
    }
  }
  return false;
}

bool removeFile(const std::string& path) {
  if (DeleteFileW(widen(path).c_str())) {
    return true;
  }
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool renameReplacing(const std::string& from, const std::string& to) {
  return MoveFileExW(widen(from).c_str(), widen(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

Exchange exchangeNames(const std::string&, const std::string&) { return Exchange::kUnsupported; }

namespace {

// What Windows's own handler gives a process that Ctrl-C ends.
constexpr UINT kStoppedExitCode = 0xC000013AU;  // STATUS_CONTROL_C_EXIT

std::atomic<bool> holding{false};
std::atomic<bool> stopRequested{false};
HANDLE released = nullptr;  // set when the StopRequests has ended

// Runs on a thread of its own. Ctrl-C and Ctrl-Break are held; the console
// closing (or the session ending) ends the process once this returns, so it
// waits until the held stage has cleaned up and ended the process itself.
BOOL WINAPI onConsoleEvent(DWORD event) {
  if (!holding.load()) {
    return FALSE;
  }
  stopRequested.store(true);
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
    return TRUE;
  }
  WaitForSingleObject(released, INFINITE);
  return FALSE;
}

}  // namespace

StopRequests::StopRequests() {
  if (released == nullptr) {
    released = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  } else {
    ResetEvent(released);
  }
  stopRequested.store(false);
  holding.store(true);
  SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

StopRequests::~StopRequests() {
  holding.store(false);
  SetConsoleCtrlHandler(onConsoleEvent, FALSE);
  if (stopRequested.load()) {
    ExitProcess(kStoppedExitCode);
  }
  SetEvent(released);
}

bool StopRequests::pending() const { return stopRequested.load(); }

}  // namespace os
}  // namespace kovrel
