// Runs a program once and prints the processor time it used, user plus
// system, in microseconds. Its standard output is discarded.
// Usage: kovrel_cpu_time PROGRAM [ARGUMENT ...]
// Exit status: the program's, or 127 when it cannot be started.
//
// The program is started with posix_spawn, which shares this process's
// memory until the program is loaded instead of copying it as fork does:
// the time measured is the program's own, not the copying of its starter.
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
