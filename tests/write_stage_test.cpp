// The write stage under faults that strike between its steps: a target that
// refuses to be replaced after others were, a put-back that fails, stop
// signals at each step, and the permission bits of replaced files. Every
// case must end with the whole new set of outputs or the whole old one, and
// no temporary file.
//
// Steps are made exact by the test build of the program (kovrel_hooked),
// which stops itself with SIGSTOP where KOVREL_TEST_PAUSE says. It also puts
// files in place the portable way (move the target aside, then rename) when
// KOVREL_TEST_NO_EXCHANGE is set; every case runs both ways.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <set>
#include <string>
#include <vector>

#include "program_runner.h"
#include "test_pictures.h"

namespace kovrel::test {
namespace {

// 128 x 192: each table file is 7 + 3072 bytes, the preview 18 + 73728, more
// than one of the stage's 64 KiB writes.
constexpr int kWidth = 128;
constexpr int kHeight = 192;
constexpr std::size_t kWriteChunk = 65536;
constexpr int kNobody = 65534;

Bytes picture() {
  return makeTga(kWidth, kHeight, [](int x, int y) {
    return Rgb{static_cast<std::uint8_t>(x * 2), static_cast<std::uint8_t>(y),
               static_cast<std::uint8_t>(255 - x)};
  });
}

const char* const kNames[] = {"pic.CHR", "pic.CLR", "pic_tms.tga"};

using OutputSet = std::vector<Bytes>;  // in kNames' order; empty for a missing file

const OutputSet kOld = {{'o', 'l', 'd', ' ', 'C', 'H', 'R'},
                        {'o', 'l', 'd', ' ', 'C', 'L', 'R', '!'},
                        {'o', 'l', 'd', ' ', 'p', 'r', 'e', 'v', 'i', 'e', 'w'}};

void writeSet(const Folder& dir, const OutputSet& set) {
  for (std::size_t i = 0; i < set.size(); ++i) {
    dir.write(kNames[i], set[i]);
  }
}

OutputSet readSet(const Folder& dir) {
  OutputSet set;
  for (const char* name : kNames) {
    set.push_back(dir.read(name));
  }
  return set;
}

// What a run that nothing disturbs writes.
const OutputSet& newSet() {
  static const OutputSet set = [] {
    Folder dir;
    dir.write("pic.tga", picture());
    EXPECT_EQ(runKovrel(dir.path(), {"pic.tga"}).status, 0);
    return readSet(dir);
  }();
  return set;
}

std::vector<std::string> temporaries(const Folder& dir) {
  std::vector<std::string> names;
  for (const std::string& name : dir.files()) {
    if (name.rfind(".kovrel-", 0) == 0) {
      names.push_back(name);
    }
  }
  return names;
}

std::string failedWrite(const std::string& message) {
  return kBanner + "Converting pic.tga (128,192) to TMS9918 format in (16,24) screen 2 tiles...    " +
         progressText(16 * 24 * 8) + "\b\b\bOk   \n" + message;
}

// The two ways the program puts its files in place.
struct Way {
  const char* name;
  RunSetup setup;
};

std::vector<Way> ways() {
  RunSetup portable;
  portable.exe = KOVREL_HOOKED_EXE;
  portable.environment = {"KOVREL_TEST_NO_EXCHANGE=1"};
  return {{"exchange", RunSetup{}}, {"portable", portable}};
}

// Starts the test build stopped at step; a failed expectation when it did
// not stop there.
StartedRun startStopped(const Folder& dir, const std::string& step, RunSetup setup,
                        const RunLimits& limits = {}) {
  setup.exe = KOVREL_HOOKED_EXE;
  setup.environment.push_back("KOVREL_TEST_PAUSE=" + step);
  const StartedRun run = startKovrel(dir.path(), {"pic.tga"}, limits, setup);
  int status = 0;
  EXPECT_EQ(waitpid(run.pid, &status, WUNTRACED), run.pid);
  EXPECT_TRUE(WIFSTOPPED(status)) << step;
  return run;
}

// Marks a file immutable (chattr +i) for its lifetime; ok() is false where
// that is not allowed (no privilege, a file system without the flag).
class Immutable {
 public:
  explicit Immutable(const std::string& path) : fd_(open(path.c_str(), O_RDONLY)) {
    int flags = 0;
    if (fd_ >= 0 && ioctl(fd_, FS_IOC_GETFLAGS, &flags) == 0) {
      flags |= FS_IMMUTABLE_FL;
      ok_ = ioctl(fd_, FS_IOC_SETFLAGS, &flags) == 0;
    }
  }
  ~Immutable() {
    int flags = 0;
    if (ok_ && ioctl(fd_, FS_IOC_GETFLAGS, &flags) == 0) {
      flags &= ~FS_IMMUTABLE_FL;
      ioctl(fd_, FS_IOC_SETFLAGS, &flags);
    }
    if (fd_ >= 0) {
      close(fd_);
    }
  }
  Immutable(const Immutable&) = delete;
  Immutable& operator=(const Immutable&) = delete;
  bool ok() const { return ok_; }

 private:
  int fd_;
  bool ok_ = false;
};

TEST(WriteStage, LastTargetRefusesReplacement) {
  // The preview cannot be replaced, which only its rename finds out: the
  // tables, already renamed over theirs, go back to their old content, or
  // away when they did not exist.
  for (const Way& way : ways()) {
    for (const bool oldTables : {true, false}) {
      Folder dir;
      dir.write("pic.tga", picture());
      writeSet(dir, kOld);
      if (!oldTables) {
        ASSERT_EQ(unlink((dir / "pic.CHR").c_str()), 0);
        ASSERT_EQ(unlink((dir / "pic.CLR").c_str()), 0);
      }
      const Immutable locked(dir / "pic_tms.tga");
      if (!locked.ok()) {
        GTEST_SKIP() << "cannot mark a file immutable here";
      }
      const RunResult run = runKovrel(dir.path(), {"pic.tga"}, {}, way.setup);
      EXPECT_EQ(run.out, failedWrite("cannot create pic_tms.tga file!\n")) << way.name;
      EXPECT_EQ(run.status, 1) << way.name;
      const OutputSet expected = oldTables ? kOld : OutputSet{{}, {}, kOld[2]};
      EXPECT_EQ(readSet(dir), expected) << way.name << " " << oldTables;
      EXPECT_EQ(dir.files().size(), oldTables ? 4u : 2u) << way.name << " " << oldTables;
    }
  }
}

TEST(WriteStage, SharedStickyFolder) {
  // A shared folder like /tmp (world-writable, sticky): the tables belong to
  // the user who runs the program, the preview to root, which that user may
  // not replace there.
  if (geteuid() != 0) {
    GTEST_SKIP() << "needs root to give the files to two users";
  }
  for (const Way& way : ways()) {
    Folder dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 01777), 0);
    dir.write("pic.tga", picture());
    writeSet(dir, kOld);
    ASSERT_EQ(chmod((dir / "pic.tga").c_str(), 0644), 0);
    for (const char* name : {"pic.CHR", "pic.CLR"}) {
      ASSERT_EQ(chown((dir / name).c_str(), kNobody, kNobody), 0);
    }
    const RunResult run = runKovrel(dir.path(), {"pic.tga"}, {-1, kNobody}, way.setup);
    EXPECT_EQ(run.out, failedWrite("cannot create pic_tms.tga file!\n")) << way.name;
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(readSet(dir), kOld) << way.name;
    EXPECT_EQ(dir.files().size(), 4u) << way.name;
    struct stat st {};
    ASSERT_EQ(stat((dir / "pic.CHR").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, static_cast<uid_t>(kNobody)) << "the old file itself is back";
  }
}

TEST(WriteStage, PutBackFails) {
  // After the pattern table is in place the folder becomes read-only: the
  // colour table cannot follow and the pattern table cannot go back. The
  // run says so, and the old pattern table is kept in a temporary file.
  if (geteuid() != 0) {
    GTEST_SKIP() << "needs root to run as another user";
  }
  for (const Way& way : ways()) {
    Folder dir;
    dir.write("pic.tga", picture());
    writeSet(dir, kOld);
    ASSERT_EQ(chown(dir.path().c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    const StartedRun started = startStopped(dir, "placed 1", way.setup, {-1, kNobody});
    ASSERT_EQ(chmod(dir.path().c_str(), 0555), 0);
    kill(started.pid, SIGCONT);
    const RunResult run = finishRun(started);
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    EXPECT_EQ(run.out, failedWrite("cannot put back pic.CHR file!\n")) << way.name;
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(readSet(dir), (OutputSet{newSet()[0], kOld[1], kOld[2]})) << way.name;
    bool oldKept = false;
    for (const std::string& name : temporaries(dir)) {
      oldKept = oldKept || dir.read(name) == kOld[0];
    }
    EXPECT_TRUE(oldKept) << way.name;
  }
}

TEST(WriteStage, StopSignalWhileStaging) {
  // At each step before the first rename, and in the middle of the
  // preview's writes, the run ends by the signal with the old set in place
  // and the temporary files gone.
  struct Step {
    const char* name;
    std::size_t staged;  // temporary files present at the step
  };
  const Step steps[] = {{"chunk 1", 1}, {"staged 1", 1}, {"staged 2", 2}, {"chunk 3", 3}, {"staged 3", 3}};
  for (const int number : {SIGINT, SIGTERM, SIGHUP}) {
    for (const Step& step : steps) {
      Folder dir;
      dir.write("pic.tga", picture());
      writeSet(dir, kOld);
      const StartedRun started = startStopped(dir, step.name, {});
      const std::vector<std::string> staged = temporaries(dir);
      EXPECT_EQ(staged.size(), step.staged) << step.name;
      if (std::string(step.name) == "chunk 3") {
        // The preview's temporary file holds one write so far.
        std::size_t partial = 0;
        for (const std::string& name : staged) {
          partial += dir.read(name).size() == kWriteChunk ? 1 : 0;
        }
        EXPECT_EQ(partial, 1u);
      }
      kill(started.pid, number);
      kill(started.pid, SIGCONT);
      const RunResult run = finishRun(started);
      EXPECT_EQ(run.signal, number) << step.name << " status " << run.status;
      EXPECT_EQ(readSet(dir), kOld) << step.name << " " << number;
      EXPECT_EQ(dir.files().size(), 4u) << step.name << " " << number;
    }
  }
  // Without earlier outputs nothing is left at all.
  Folder dir;
  dir.write("pic.tga", picture());
  const StartedRun started = startStopped(dir, "staged 2", {});
  kill(started.pid, SIGTERM);
  kill(started.pid, SIGCONT);
  EXPECT_EQ(finishRun(started).signal, SIGTERM);
  EXPECT_EQ(dir.files(), (std::set<std::string>{"pic.tga"}));
}

TEST(WriteStage, StopSignalWhileReplacing) {
  // Once renaming has begun the signal waits until the set is complete: the
  // run then ends by it, with every output new and nothing else left.
  for (const Way& way : ways()) {
    for (const char* step : {"placed 1", "placed 2"}) {
      for (const int number : {SIGINT, SIGTERM}) {
        Folder dir;
        dir.write("pic.tga", picture());
        writeSet(dir, kOld);
        const StartedRun started = startStopped(dir, step, way.setup);
        EXPECT_EQ(dir.read("pic.CHR"), newSet()[0]) << "stopped with the set half replaced";
        EXPECT_EQ(dir.read("pic_tms.tga"), kOld[2]);
        kill(started.pid, number);
        kill(started.pid, SIGCONT);
        const RunResult run = finishRun(started);
        EXPECT_EQ(run.signal, number) << way.name << " " << step;
        EXPECT_EQ(readSet(dir), newSet()) << way.name << " " << step;
        EXPECT_EQ(dir.files().size(), 4u) << way.name << " " << step;
      }
    }
  }
}

TEST(WriteStage, SignalTheCallerIgnores) {
  // Started under nohup, a hangup does not stop the run.
  Folder dir;
  dir.write("pic.tga", picture());
  writeSet(dir, kOld);
  RunSetup setup;
  setup.ignoredSignal = SIGHUP;
  const StartedRun started = startStopped(dir, "staged 1", setup);
  kill(started.pid, SIGHUP);
  kill(started.pid, SIGCONT);
  const RunResult run = finishRun(started);
  EXPECT_EQ(run.status, 0) << run.signal;
  EXPECT_EQ(readSet(dir), newSet());
  EXPECT_EQ(dir.files().size(), 4u);
}

mode_t modeOf(const Folder& dir, const std::string& name) {
  struct stat st {};
  EXPECT_EQ(stat((dir / name).c_str(), &st), 0) << name;
  return st.st_mode & 07777;
}

TEST(WriteStage, ReplacedFilesKeepTheirPermissions) {
  // A private pattern table stays private, a group-readable colour table
  // stays so; the new preview gets 0666 less the umask. Set-id bits are not
  // carried over to the new content.
  for (const Way& way : ways()) {
    for (const int mask : {022, 077}) {
      Folder dir;
      dir.write("pic.tga", picture());
      dir.write("pic.CHR", kOld[0]);
      dir.write("pic.CLR", kOld[1]);
      ASSERT_EQ(chmod((dir / "pic.CHR").c_str(), 0600), 0);
      ASSERT_EQ(chmod((dir / "pic.CLR").c_str(), 02750), 0);
      RunSetup setup = way.setup;
      setup.fileMask = mask;
      const RunResult run = runKovrel(dir.path(), {"pic.tga"}, {}, setup);
      EXPECT_EQ(run.status, 0) << run.out;
      EXPECT_EQ(readSet(dir), newSet()) << way.name;
      EXPECT_EQ(modeOf(dir, "pic.CHR"), 0600u) << way.name << " " << mask;
      EXPECT_EQ(modeOf(dir, "pic.CLR"), 0750u) << way.name << " " << mask;
      EXPECT_EQ(modeOf(dir, "pic_tms.tga"), static_cast<mode_t>(0666 & ~mask)) << way.name;
    }
  }
}

}  // namespace
}  // namespace kovrel::test
