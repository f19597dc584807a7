// Runs a program once and prints the processor time it used, user plus
// system, in microseconds. Its standard output is discarded.
// Usage: kovrel_cpu_time PROGRAM [ARGUMENT ...]
// Exit status: the program's, or 127 when it cannot be started.
//
// On POSIX the program is started with posix_spawn, which shares this
// process's memory until the program is loaded instead of copying it as fork
// does: the time measured is the program's own, not the copying of its
// starter. On Windows it is started with CreateProcess and timed with
// GetProcessTimes.
#if defined(_WIN32)
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

// One argument quoted as CommandLineToArgvW reads it back.
std::string quoted(const char* argument) {
  std::string text = "\"";
  std::size_t backslashes = 0;
  for (const char* c = argument; *c != '\0'; ++c) {
    if (*c == '\\') {
      ++backslashes;
    } else {
      text.append(*c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
      backslashes = 0;
    }
    text += *c;
  }
  text.append(backslashes, '\\');
  return text + "\"";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: kovrel_cpu_time PROGRAM [ARGUMENT ...]\n", stderr);
    return 2;
  }
  std::string line;
  for (int i = 1; i < argc; ++i) {
    line += (i > 1 ? " " : "") + quoted(argv[i]);
  }
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  const HANDLE nul = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOA start{};
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  start.hStdOutput = nul;
  start.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION child{};
  if (!CreateProcessA(argv[1], line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start, &child)) {
    std::fprintf(stderr, "kovrel_cpu_time: cannot start %s (error %lu)\n", argv[1], GetLastError());
    return 127;
  }
  WaitForSingleObject(child.hProcess, INFINITE);
  FILETIME created, ended, kernel, user;
  DWORD status = 127;
  GetExitCodeProcess(child.hProcess, &status);
  GetProcessTimes(child.hProcess, &created, &ended, &kernel, &user);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  CloseHandle(nul);
  const auto ticks = [](const FILETIME& time) {
    return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  };
  std::printf("%llu\n", (ticks(kernel) + ticks(user)) / 10);  // 100 ns ticks
  return static_cast<int>(status);
}

#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

extern char** environ;

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: kovrel_cpu_time PROGRAM [ARGUMENT ...]\n", stderr);
    return 2;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t child = 0;
  const int failed = posix_spawn(&child, argv[1], &actions, nullptr, argv + 1, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) {
    std::fprintf(stderr, "kovrel_cpu_time: cannot start %s: %s\n", argv[1], std::strerror(failed));
    return 127;
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child) {
    std::perror("wait4");
    return 127;
  }
  const long long micros = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000LL +
                           usage.ru_utime.tv_usec + usage.ru_stime.tv_usec;
  std::printf("%lld\n", micros);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 127;
}
#endif
