// Faults around the built program's outputs: folders where files should go,
// a disk that fills up, paths too long to create, inputs that are not
// pictures, folders that cannot be written. Every failing run must print its
// message, exit with status 1, leave each existing file as it was and leave
// no temporary file behind.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "program_runner.h"
#include "test_pictures.h"

namespace kovrel::test {
namespace {

// 16 x 16: each table file is 7 + 32 = 39 bytes, the preview 18 + 768 = 786.
constexpr int kSide = 16;
constexpr long kTableFileBytes = 39;
constexpr long kPreviewBytes = 786;

Bytes picture() {
  return makeTga(kSide, kSide, [](int x, int y) {
    return Rgb{static_cast<std::uint8_t>(x * 16), static_cast<std::uint8_t>(y * 16),
               static_cast<std::uint8_t>(255 - x * 8)};
  });
}

// What a run prints when the picture loads but an output cannot be written.
std::string failedWrite(const std::string& typed, const std::string& failing) {
  return kBanner + "Converting " + typed + " (16,16) to TMS9918 format in (2,2) screen 2 tiles...    " +
         progressText(32) + "\b\b\bOk   \ncannot create " + failing + " file!\n";
}

// Earlier outputs of pic.tga, which a failed run must leave alone.
const Bytes kOldChr = {'o', 'l', 'd', ' ', 'C', 'H', 'R'};
const Bytes kOldClr = {'o', 'l', 'd', ' ', 'C', 'L', 'R', '!'};
const Bytes kOldPreview = {'o', 'l', 'd', ' ', 'p', 'r', 'e', 'v', 'i', 'e', 'w'};

void writeOldOutputs(const Folder& dir) {
  dir.write("pic.CHR", kOldChr);
  dir.write("pic.CLR", kOldClr);
  dir.write("pic_tms.tga", kOldPreview);
}

void expectOldOutputs(const Folder& dir) {
  EXPECT_EQ(dir.read("pic.tga"), picture());
  EXPECT_EQ(dir.read("pic.CHR"), kOldChr);
  EXPECT_EQ(dir.read("pic.CLR"), kOldClr);
  EXPECT_EQ(dir.read("pic_tms.tga"), kOldPreview);
  EXPECT_EQ(dir.files(), (std::set<std::string>{"pic.tga", "pic.CHR", "pic.CLR", "pic_tms.tga"}));
}

TEST(Faults, FolderInPlaceOfAnOutput) {
  for (const std::string name : {"pic.CHR", "pic.CLR", "pic_tms.tga"}) {
    Folder dir;
    dir.write("pic.tga", picture());
    writeOldOutputs(dir);
    ASSERT_EQ(std::remove((dir / name).c_str()), 0);
    ASSERT_EQ(mkdir((dir / name).c_str(), 0755), 0);
    const RunResult run = runKovrel(dir.path(), {"pic.tga"});
    EXPECT_EQ(run.out, failedWrite("pic.tga", name));
    EXPECT_EQ(run.status, 1);
    // The folder is still there and empty; the other outputs kept their
    // old content.
    EXPECT_EQ(dir.files(), (std::set<std::string>{"pic.tga", "pic.CHR", "pic.CLR", "pic_tms.tga"}));
    EXPECT_EQ(rmdir((dir / name).c_str()), 0) << name;
    EXPECT_EQ(dir.read("pic.tga"), picture());
    const std::pair<std::string, Bytes> old[] = {
        {"pic.CHR", kOldChr}, {"pic.CLR", kOldClr}, {"pic_tms.tga", kOldPreview}};
    for (const auto& [file, bytes] : old) {
      if (file != name) {
        EXPECT_EQ(dir.read(file), bytes) << name << ": " << file;
      }
    }
  }
}

TEST(Faults, DiskFillsUpWhileWriting) {
  // The limit is checked at every write: 20 bytes stop the first file, 100
  // let both tables through and stop the preview. The tables are then not
  // put in place either. SIGXFSZ is at its default action, as under a
  // shell: the program must not end by it.
  struct Case {
    long limit;
    std::string failing;
  };
  static_assert(20 < kTableFileBytes && kTableFileBytes < 100 && 100 < kPreviewBytes);
  for (const Case& c : {Case{0, "pic.CHR"}, Case{20, "pic.CHR"}, Case{100, "pic_tms.tga"}}) {
    Folder dir;
    dir.write("pic.tga", picture());
    writeOldOutputs(dir);
    RunResult run = runKovrel(dir.path(), {"pic.tga"}, {c.limit, -1});
    EXPECT_EQ(run.out, failedWrite("pic.tga", c.failing)) << c.limit;
    EXPECT_EQ(run.status, 1);
    expectOldOutputs(dir);

    // Without earlier outputs nothing at all is created.
    Folder empty;
    empty.write("pic.tga", picture());
    run = runKovrel(empty.path(), {"pic.tga"}, {c.limit, -1});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(empty.files(), (std::set<std::string>{"pic.tga"})) << c.limit;
  }
  // With room for the largest file the same run succeeds: the limit, not
  // something else, made the runs above fail.
  Folder dir;
  dir.write("pic.tga", picture());
  writeOldOutputs(dir);
  const RunResult run = runKovrel(dir.path(), {"pic.tga"}, {kPreviewBytes, -1});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(dir.read("pic.CHR").size(), static_cast<std::size_t>(kTableFileBytes));
  EXPECT_EQ(dir.read("pic_tms.tga").size(), static_cast<std::size_t>(kPreviewBytes));
  EXPECT_EQ(dir.files().size(), 4u);
}

TEST(Faults, OutOfMemory) {
#if defined(KOVREL_TEST_SANITIZED)
  GTEST_SKIP() << "the sanitizers reserve more address space than the limit allows";
#endif
  // Address space for the program itself but not for its working memory
  // (ulimit -v 8000 and less): one line, status 1, nothing written.
  for (const long kib : {3000L, 8000L}) {
    Folder dir;
    dir.write("pic.tga", picture());
    writeOldOutputs(dir);
    const RunResult run = runKovrel(dir.path(), {"pic.tga"}, {-1, -1, kib * 1024});
    EXPECT_EQ(run.out, kBanner + "out of memory\n") << kib;
    EXPECT_EQ(run.status, 1) << kib;
    expectOldOutputs(dir);
  }
}

TEST(Faults, PreviewHardLinkedToTheInput) {
  // pic_tms.tga is the input under another name: writing the preview would
  // replace the picture, so nothing is written.
  Folder dir;
  dir.write("pic.tga", picture());
  ASSERT_EQ(link((dir / "pic.tga").c_str(), (dir / "pic_tms.tga").c_str()), 0);
  const RunResult run = runKovrel(dir.path(), {"pic.tga"});
  EXPECT_EQ(run.out, failedWrite("pic.tga", "pic_tms.tga"));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(dir.read("pic_tms.tga"), picture());
  EXPECT_EQ(dir.files(), (std::set<std::string>{"pic.tga", "pic_tms.tga"}));
}

// Creates the folders of a relative path one by one below root (the whole
// path may be longer than the system accepts at once) and writes bytes to
// its last component. Returns a descriptor of the innermost folder.
int makeDeepFile(const std::string& root, const std::vector<std::string>& folders,
                 const std::string& name, const Bytes& bytes) {
  int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY);
  for (const std::string& folder : folders) {
    EXPECT_EQ(mkdirat(fd, folder.c_str(), 0755), 0);
    const int next = openat(fd, folder.c_str(), O_RDONLY | O_DIRECTORY);
    close(fd);
    fd = next;
  }
  const int file = openat(fd, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  EXPECT_EQ(write(file, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  close(file);
  return fd;
}

std::set<std::string> namesIn(int folderFd) {
  std::set<std::string> names;
  DIR* dir = fdopendir(dup(folderFd));
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") {
      names.insert(name);
    }
  }
  closedir(dir);
  return names;
}

std::string joined(const std::vector<std::string>& folders, const std::string& name) {
  std::string path;
  for (const std::string& folder : folders) {
    path += folder + "/";
  }
  return path + name;
}

TEST(Faults, PathsTooLong) {
  // 5000 characters: more than the system accepts for any path, so the
  // picture cannot be opened although it exists.
  {
    Folder dir;
    const std::vector<std::string> folders(19, std::string(249, 'd'));
    const std::string name = std::string(246, 'p') + ".tga";
    const std::string path = joined(folders, name);
    ASSERT_EQ(path.size(), 5000u);
    const int fd = makeDeepFile(dir.path(), folders, name, picture());
    const RunResult run = runKovrel(dir.path(), {path});
    EXPECT_EQ(run.out, kBanner + "cannot open " + path + " file!\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(namesIn(fd), (std::set<std::string>{name}));
    close(fd);
  }
  // 4093 characters: the picture and its table files can be named, the
  // preview (four characters longer) cannot. No table is written either.
  {
    Folder dir;
    const std::vector<std::string> folders(16, std::string(249, 'd'));
    const std::string name = std::string(89, 'p') + ".tga";
    const std::string path = joined(folders, name);
    ASSERT_EQ(path.size(), 4093u);
    const int fd = makeDeepFile(dir.path(), folders, name, picture());
    const RunResult run = runKovrel(dir.path(), {path});
    const std::string preview = path.substr(0, path.size() - 4) + "_tms.tga";
    EXPECT_EQ(run.out, failedWrite(path, preview));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(namesIn(fd), (std::set<std::string>{name}));
    close(fd);
  }
  // A 252-character file name: its preview's name has 256, one more than a
  // file name may have.
  {
    Folder dir;
    const std::string name = std::string(248, 'n') + ".tga";
    dir.write(name, picture());
    writeOldOutputs(dir);
    dir.write(name.substr(0, 249) + "CHR", kOldChr);
    const RunResult run = runKovrel(dir.path(), {name});
    EXPECT_EQ(run.out, failedWrite(name, name.substr(0, 248) + "_tms.tga"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(dir.read(name.substr(0, 249) + "CHR"), kOldChr);
    EXPECT_EQ(dir.files().size(), 5u);
  }
}

TEST(Faults, InputsThatAreNotPictures) {
  Folder dir;
  writeOldOutputs(dir);
  // /dev/null reads as an empty file; its outputs would go to /dev/nu.CHR
  // and so on, and must not be created.
  RunResult run = runKovrel(dir.path(), {"/dev/null"});
  EXPECT_EQ(run.out, kBanner + "Unsupported file format!\n");
  EXPECT_EQ(run.status, 1);
  struct stat st {};
  EXPECT_NE(stat("/dev/nu.CHR", &st), 0);
  EXPECT_NE(stat("/dev/nu_tms.tga", &st), 0);

  // A folder opens but cannot be read.
  ASSERT_EQ(mkdir((dir / "album.tga").c_str(), 0755), 0);
  run = runKovrel(dir.path(), {"album.tga"});
  EXPECT_EQ(run.out, kBanner + "Unsupported file format!\n");
  EXPECT_EQ(run.status, 1);

  // An input named like an output of another picture is read as a picture;
  // here it is the earlier table file, which is no TGA.
  run = runKovrel(dir.path(), {"pic.CHR"});
  EXPECT_EQ(run.out, kBanner + "Unsupported file format!\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(dir.files(),
            (std::set<std::string>{"album.tga", "pic.CHR", "pic.CLR", "pic_tms.tga"}));
  EXPECT_EQ(dir.read("pic.CHR"), kOldChr);
}

TEST(Faults, InputNamedLikeItsOwnOutput) {
  // pic.CHR holds a picture: its pattern table would be pic.CHR itself.
  Folder dir;
  dir.write("pic.CHR", picture());
  dir.write("pic.CLR", kOldClr);
  const RunResult run = runKovrel(dir.path(), {"pic.CHR"});
  EXPECT_EQ(run.out, failedWrite("pic.CHR", "pic.CHR"));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(dir.read("pic.CHR"), picture());
  EXPECT_EQ(dir.read("pic.CLR"), kOldClr);
  EXPECT_EQ(dir.files(), (std::set<std::string>{"pic.CHR", "pic.CLR"}));
}

TEST(Faults, ReadOnlyFolder) {
  Folder dir;
  dir.write("pic.tga", picture());
  writeOldOutputs(dir);
  ASSERT_EQ(chmod(dir.path().c_str(), 0555), 0);
  // Root may write anywhere; run as the unprivileged user then.
  const int user = geteuid() == 0 ? 65534 : -1;
  const RunResult run = runKovrel(dir.path(), {"pic.tga"}, {-1, user});
  EXPECT_EQ(run.out, failedWrite("pic.tga", "pic.CHR"));
  EXPECT_EQ(run.status, 1);
  expectOldOutputs(dir);
  ASSERT_EQ(chmod(dir.path().c_str(), 0700), 0);
}

}  // namespace
}  // namespace kovrel::test
