// The operating system seam's contract (os/os.h) and the file-name split
// (os/paths.h). Portable C++ only, so that the Windows build of this test
// runs under wine as well (.ci/windows.sh).
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "os/os.h"
#include "os/paths.h"

namespace kovrel {
namespace {

namespace fs = std::filesystem;

TEST(Paths, FileNameStart) {
  struct Case {
    const char* path;
    std::size_t posix;
    std::size_t windows;
  };
  const Case cases[] = {
      {"pic.tga", 0, 0},
      {"sub/ab.tga", 4, 4},
      {"sub\\ab.tga", 0, 4},
      {"a/b\\c.tga", 2, 4},
      {"a\\b/c.tga", 4, 4},
      {"C:ab.tga", 0, 2},
      {"c:\\pics\\ab.tga", 0, 8},
      {"C:/pics/ab.tga", 8, 8},
      {"1:ab.tga", 0, 0},  // not a drive letter
      {":ab", 0, 0},
      {"\\\\server\\share\\ab.tga", 0, 15},
      {"sub/", 4, 4},
      {"", 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(fileNameStart(c.path, PathStyle::kPosix), c.posix) << c.path;
    EXPECT_EQ(fileNameStart(c.path, PathStyle::kWindows), c.windows) << c.path;
  }
}

std::string readAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeText(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// A scratch folder with a name outside any single-byte code page, removed
// afterwards. Paths given to the seam are its UTF-8 spelling.
class Seam : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              fs::u8path(std::string("kovrel-os-\xE7\x8C\xAB-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }
  fs::path at(const std::string& name) const { return folder_ / fs::u8path(name); }
  std::string name(const std::string& name) const { return at(name).u8string(); }

  fs::path folder_;
};

TEST_F(Seam, FilesAreCreatedReplacedAndRemoved) {
  // Unique names: two from one pattern, each a new file with its bytes.
  const std::string pattern = name(".kovrel-XXXXXX");
  std::string first = pattern;
  std::string second = pattern;
  os::WriteFile a;
  os::WriteFile b;
  ASSERT_TRUE(os::createUnique(first, a));
  ASSERT_TRUE(os::createUnique(second, b));
  EXPECT_NE(first, second);
  EXPECT_EQ(first.substr(0, pattern.size() - 6), pattern.substr(0, pattern.size() - 6));
  const std::uint8_t bytes[] = {'r', 0, 'b', 0xFF};
  EXPECT_EQ(a.write(bytes, sizeof bytes), 4);
  EXPECT_TRUE(a.close());
  EXPECT_TRUE(b.close());
  EXPECT_EQ(readAll(fs::u8path(first)), std::string("r\0b\xFF", 4));
  std::string nowhere = name("no-folder/.kovrel-XXXXXX");
  os::WriteFile unmade;
  EXPECT_FALSE(os::createUnique(nowhere, unmade));

  // Replacing: the target's content is the source's, the source is gone.
  writeText(at("target"), "old");
  ASSERT_TRUE(os::renameReplacing(first, name("target")));
  EXPECT_EQ(readAll(at("target")), std::string("r\0b\xFF", 4));
  EXPECT_FALSE(fs::exists(fs::u8path(first)));
  EXPECT_FALSE(os::renameReplacing(name("missing"), name("target")));

  // Removing: a missing file counts as removed.
  EXPECT_TRUE(os::removeFile(second));
  EXPECT_FALSE(fs::exists(fs::u8path(second)));
  EXPECT_TRUE(os::removeFile(second));
}

TEST_F(Seam, WhatIsAtAPath) {
  writeText(at("file"), "x");
  fs::create_directory(at("folder"));
  os::PathState state;
  ASSERT_TRUE(os::lookAt(name("missing"), state));
  EXPECT_FALSE(state.exists);
  ASSERT_TRUE(os::lookAt(name("file"), state));
  EXPECT_TRUE(state.exists && !state.folder && !state.readOnly);
  ASSERT_TRUE(os::lookAt(name("folder"), state));
  EXPECT_TRUE(state.exists && state.folder);

  // A read-only file: Windows refuses to replace it, POSIX replaces any.
  fs::permissions(at("file"), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  ASSERT_TRUE(os::lookAt(name("file"), state));
  EXPECT_EQ(state.readOnly, kNativePathStyle == PathStyle::kWindows);
#if !defined(_WIN32)
  EXPECT_EQ(state.mode, 0444u);
#endif
  fs::permissions(at("file"), fs::perms::owner_all);
}

TEST_F(Seam, FileIdentity) {
  writeText(at("file"), "same");
  writeText(at("copy"), "same");
  fs::create_directory(at("sub"));
  fs::create_hard_link(at("file"), at("sub") / "link");
  const std::string separator = kNativePathStyle == PathStyle::kWindows ? "\\" : "/";
  struct Case {
    std::string a;
    std::string b;
    bool same;
  };
  const Case cases[] = {
      {name("file"), name("file"), true},
      {name("file"), name("sub") + separator + ".." + separator + "file", true},
      {name("file"), name("sub") + separator + "link", true},
      {name("file"), name("copy"), false},
      {name("file"), name("missing"), false},
      {name("missing"), name("missing"), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(os::isSameFile(c.a, c.b), c.same) << c.a << " and " << c.b;
  }
}

TEST(SeamProcess, ProcessorTimeIsNotWallTime) {
  const double start = os::processorSeconds();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const double slept = os::processorSeconds();
  EXPECT_LT(slept - start, 0.1);
  volatile unsigned long long sum = 0;
  while (os::processorSeconds() - slept < 0.2) {
    for (int i = 0; i < 100000; ++i) {
      sum = sum + static_cast<unsigned long long>(i);
    }
  }
  EXPECT_GE(os::processorSeconds() - slept, 0.2);
}

#if !defined(_WIN32)
// Stop requests on POSIX: a signal that would end the program is held while
// the object lives and reported as pending, then let through to the
// caller's handler when it ends. One the caller ignores or blocks is not a
// stop request.
volatile std::sig_atomic_t delivered = 0;
extern "C" void noteSignal(int) { delivered = 1; }

TEST(SeamProcess, StopRequestsAreHeldThenLetThrough) {
  struct Case {
    int number;
    void (*action)(int);
    bool callerBlocks;
    bool pending;
  };
  const Case cases[] = {
      {SIGINT, noteSignal, false, true},  {SIGTERM, noteSignal, false, true},
      {SIGHUP, noteSignal, false, true},  {SIGHUP, SIG_IGN, false, false},
      {SIGTERM, noteSignal, true, false},
  };
  for (const Case& c : cases) {
    delivered = 0;
    std::signal(c.number, c.action);
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, c.number);
    if (c.callerBlocks) {
      sigprocmask(SIG_BLOCK, &blocked, nullptr);
    }
    {
      const os::StopRequests stops;
      EXPECT_FALSE(stops.pending());
      std::raise(c.number);
      EXPECT_EQ(stops.pending(), c.pending) << c.number;
      EXPECT_EQ(delivered, 0) << c.number;
      EXPECT_EQ(std::raise(SIGXFSZ), 0);  // ignored while held
    }
    EXPECT_EQ(delivered, c.pending ? 1 : 0) << c.number;
    sigprocmask(SIG_UNBLOCK, &blocked, nullptr);  // a blocked one arrives now
    std::signal(c.number, SIG_DFL);
  }
}
#endif

}  // namespace
}  // namespace kovrel
