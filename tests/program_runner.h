// Runs the built kovrel program in a child process, for the end-to-end and
// fault tests, and gives each test a scratch folder.
#pragma once

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace kovrel::test {

using Bytes = std::vector<std::uint8_t>;

const std::string kBanner =
    "Kovrel 1.0 - TGA to TMS9918 screen 2 converter\n"
    "Exhaustive colour-pair search per 8-pixel line, with error diffusion\n"
    "\n"
    "Credits to Mirtoven for his Floyd-Steinberg implementation.\n"
    " \n";
const Bytes kChrHeader = {0xFE, 0x00, 0x00, 0xFF, 0x17, 0x00, 0x00};
const Bytes kClrHeader = {0xFE, 0x00, 0x20, 0xFF, 0x37, 0x00, 0x00};

struct RunResult {
  int status = -1;  // exit status, or -1 when the program did not exit
  int signal = 0;   // the signal that ended the program, or 0
  std::string out;
};

struct RunLimits {
  // Largest file the program may write (RLIMIT_FSIZE); negative for no
  // limit. SIGXFSZ keeps its default action, as under a shell: the program
  // itself must make a write past the limit fail instead of ending it.
  long fileSizeLimit = -1;
  // Run under this user and group id instead of the test's own (root can
  // write anywhere, so read-only tests drop to an unprivileged user).
  int asUser = -1;
  // Largest address space in bytes (RLIMIT_AS, ulimit -v); negative for none.
  long memoryLimit = -1;
};

// How the program is started, beyond its limits.
struct RunSetup {
  std::string exe = KOVREL_EXE;
  std::vector<std::string> environment;  // NAME=value entries added
  int ignoredSignal = 0;                 // started with this one ignored, as nohup does SIGHUP
  int fileMask = -1;                     // the umask, when not negative
  std::string errorPath;                 // standard error goes to this file, when not empty
};

// A started program: its process and the read end of its standard output.
struct StartedRun {
  pid_t pid = -1;
  int out = -1;
};

// Starts the program in folder with the given arguments, the way a shell
// does: every signal at its default action and none blocked.
inline StartedRun startKovrel(const std::string& folder, const std::vector<std::string>& args,
                              const RunLimits& limits = {}, const RunSetup& setup = {}) {
  int pipeFds[2];
  EXPECT_EQ(pipe(pipeFds), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(pipeFds[1], STDOUT_FILENO);
    close(pipeFds[0]);
    close(pipeFds[1]);
    for (const int number : {SIGINT, SIGTERM, SIGHUP, SIGXFSZ, SIGPIPE}) {
      std::signal(number, number == setup.ignoredSignal ? SIG_IGN : SIG_DFL);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (!setup.errorPath.empty()) {
      const int errorFd = open(setup.errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (errorFd < 0 || dup2(errorFd, STDERR_FILENO) < 0) {
        _exit(127);
      }
      close(errorFd);
    }
    if (setup.fileMask >= 0) {
      umask(static_cast<mode_t>(setup.fileMask));
    }
    const auto limit = [](int resource, long bytes) {
      const rlimit value{static_cast<rlim_t>(bytes), static_cast<rlim_t>(bytes)};
      return bytes < 0 || setrlimit(resource, &value) == 0;
    };
    if (!limit(RLIMIT_FSIZE, limits.fileSizeLimit)) {
      _exit(126);
    }
    std::string exe = setup.exe;
    // Opened before any change of user: the other user may not be allowed
    // through the folders the build lives in (a private temporary clone).
    const int exeFd = open(exe.c_str(), O_RDONLY);
    if (exeFd < 0) {
      _exit(127);
    }
    if (limits.asUser >= 0 && (setgid(static_cast<gid_t>(limits.asUser)) != 0 ||
                               setuid(static_cast<uid_t>(limits.asUser)) != 0)) {
      _exit(126);
    }
    if (chdir(folder.c_str()) != 0) {
      _exit(127);
    }
    std::vector<char*> argv;
    argv.push_back(exe.data());
    std::vector<std::string> copies = args;
    for (std::string& a : copies) {
      argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> environment = setup.environment;
    for (std::string& entry : environment) {
      putenv(entry.data());
    }
    // Last: the limit must not starve the test's own code in the child.
    if (!limit(RLIMIT_AS, limits.memoryLimit)) {
      _exit(126);
    }
    fexecve(exeFd, argv.data(), environ);
    _exit(127);
  }
  close(pipeFds[1]);
  return {pid, pipeFds[0]};
}

// Reads the started program's output to its end and waits for it.
inline RunResult finishRun(const StartedRun& started) {
  RunResult run;
  char buffer[4096];
  ssize_t n;
  while ((n = read(started.out, buffer, sizeof buffer)) > 0) {
    run.out.append(buffer, static_cast<std::size_t>(n));
  }
  close(started.out);
  int status = 0;
  waitpid(started.pid, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return run;
}

// Runs the program in folder with the given arguments; returns its exit
// status and everything it wrote to standard output.
inline RunResult runKovrel(const std::string& folder, const std::vector<std::string>& args,
                           const RunLimits& limits = {}, const RunSetup& setup = {}) {
  return finishRun(startKovrel(folder, args, limits, setup));
}

class Folder {
 public:
  Folder() {
    char name[] = "/tmp/kovrel-run-XXXXXX";
    path_ = mkdtemp(name);
  }
  ~Folder() { std::system(("chmod -R u+w '" + path_ + "'; rm -rf '" + path_ + "'").c_str()); }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  void write(const std::string& name, const Bytes& bytes) const {
    std::ofstream(*this / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  Bytes read(const std::string& name) const {
    std::ifstream in(*this / name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  bool exists(const std::string& name) const {
    struct stat st {};
    return stat((*this / name).c_str(), &st) == 0;
  }
  // Every name in the folder, dot files included.
  std::set<std::string> files() const {
    std::set<std::string> names;
    std::FILE* ls = popen(("ls -A '" + path_ + "'").c_str(), "r");
    char line[4096];
    while (std::fgets(line, sizeof line, ls) != nullptr) {
      std::string s(line);
      s.pop_back();
      names.insert(s);
    }
    pclose(ls);
    return names;
  }

 private:
  std::string path_;
};

// The progress text for total TileLines, from the figures the program must
// print: each integer percentage once, when a line first raises it.
inline std::string progressText(unsigned total) {
  std::string text;
  for (unsigned n = 0; n < total; ++n) {
    if ((100 * n) / total < (100 * n + 100) / total) {
      char figure[16];
      std::snprintf(figure, sizeof figure, "\b\b\b%2u%%", (100 * n) / total);
      text += figure;
    }
  }
  return text;
}

}  // namespace kovrel::test
