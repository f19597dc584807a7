// Runs a program once and prints the processor time it used, user plus
// system, in microseconds. Its standard output is discarded.
// Usage: kovrel_cpu_time PROGRAM [ARGUMENT ...]
// Exit status: the program's, or 127 when it cannot be started.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: kovrel_cpu_time PROGRAM [ARGUMENT ...]\n", stderr);
    return 2;
  }
  const pid_t child = fork();
  if (child < 0) {
    std::perror("fork");
    return 127;
  }
  if (child == 0) {
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
      dup2(null, STDOUT_FILENO);
    }
    execv(argv[1], argv + 1);
    _exit(127);
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
