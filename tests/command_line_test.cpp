// Where arguments may go and what a run says about them: options after the
// picture, pictures a run does not convert, --batch, --quiet, -h, and the
// note for tables of a picture that is not a whole screen. Each expectation
// is a separate plain run of the program (options before the picture, one
// picture at a time), not the program's own account of itself.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/program_runner.h"
#include "tests/test_pictures.h"

namespace kovrel::test {
namespace {

Rgb noiseAt(int x, int y) {
  const unsigned h = static_cast<unsigned>(x * 7919 + y * 104729) * 2654435761u;
  return Rgb{static_cast<std::uint8_t>(h >> 24), static_cast<std::uint8_t>(h >> 16), static_cast<std::uint8_t>(h >> 8)};
}
Rgb rampAt(int x, int y) {
  return Rgb{static_cast<std::uint8_t>(x * 6), static_cast<std::uint8_t>(y * 8), static_cast<std::uint8_t>(255 - x * 5)};
}

std::string withoutSeconds(const std::string& text) {
  std::string out = text;
  for (std::size_t at = out.find(" analysed in "); at != std::string::npos; at = out.find(" analysed in ", at + 1)) {
    const std::size_t end = out.find(" seconds.", at);
    out.replace(at + 13, end - at - 13, "S");
  }
  return out;
}

struct Ran {
  RunResult result;
  std::string err;
};

Ran run(const Folder& dir, const std::vector<std::string>& args) {
  RunSetup setup;
  setup.errorPath = dir / ".stderr";
  Ran r;
  r.result = runKovrel(dir.path(), args, {}, setup);
  const Bytes err = dir.read(".stderr");
  r.err.assign(err.begin(), err.end());
  std::remove((dir / ".stderr").c_str());
  return r;
}

// The three default outputs of stem, concatenated: empty when none exist.
Bytes outputsOf(const Folder& dir, const std::string& stem) {
  Bytes all;
  for (const std::string& name : {stem + ".CHR", stem + ".CLR", stem + "_tms.tga"}) {
    const Bytes bytes = dir.read(name);
    all.insert(all.end(), bytes.begin(), bytes.end());
  }
  return all;
}

void writePictures(const Folder& dir) {
  dir.write("a.tga", makeTga(40, 30, noiseAt));
  dir.write("b.tga", makeTga(24, 16, rampAt));
  dir.write("bad.tga", Bytes{'n', 'o', 't', ' ', 'a', ' ', 'p', 'i', 'c', 't', 'u', 'r', 'e'});
}

TEST(CommandLine, OptionsAfterThePictureApplyAsBefore) {
  const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> cases = {
      {{"a.tga", "--dither=50"}, {"--dither=50", "a.tga"}},
      {{"a.tga", "--fit=crop", "--palette=datasheet"}, {"--fit=crop", "--palette=datasheet", "a.tga"}},
      {{"--brightness=20", "a.tga", "--gamma=1.5"}, {"--brightness=20", "--gamma=1.5", "a.tga"}},
      {{"a.tga", "--", "--dither=0"}, {"a.tga"}},  // after --, a name: ignored as a second picture
  };
  Folder plainDir;
  writePictures(plainDir);
  ASSERT_EQ(run(plainDir, {"a.tga"}).result.status, 0);
  for (const auto& [after, before] : cases) {
    SCOPED_TRACE(after[1]);
    Folder one;
    Folder two;
    writePictures(one);
    writePictures(two);
    const Ran late = run(one, after);
    const Ran early = run(two, before);
    EXPECT_EQ(late.result.status, 0) << late.result.out;
    EXPECT_EQ(withoutSeconds(late.result.out), withoutSeconds(early.result.out));
    EXPECT_EQ(outputsOf(one, "a"), outputsOf(two, "a"));
    EXPECT_FALSE(outputsOf(one, "a").empty());
    if (after.size() == 2 || after[1] != "--") {
      EXPECT_NE(outputsOf(one, "a"), outputsOf(plainDir, "a")) << "the option made no difference";
    }
  }
  // An unknown option after the picture is an error like one before it.
  Folder dir;
  writePictures(dir);
  const Ran bogus = run(dir, {"a.tga", "--bogus"});
  EXPECT_EQ(bogus.result.status, 2);
  EXPECT_EQ(bogus.result.out, kBanner + "Unknown option --bogus (kovrel --help lists the options).\n");
  EXPECT_FALSE(dir.exists("a.CHR"));
}

TEST(CommandLine, IgnoredPicturesGetOneLineOnStandardErrorAlone) {
  Folder plainDir;
  writePictures(plainDir);
  const Ran plain = run(plainDir, {"a.tga"});
  EXPECT_EQ(plain.err, "");
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> named;  // what the line must mention
  } cases[] = {
      {{"a.tga", "b.tga"}, {"b.tga", "a.tga", "--batch"}},
      {{"a.tga", "b.tga", "bad.tga", "none.tga"}, {"b.tga", "2 more", "--batch"}},
      {{"--", "a.tga", "--b.tga"}, {"--b.tga", "--batch"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    Folder dir;
    writePictures(dir);
    const Ran r = run(dir, c.args);
    EXPECT_EQ(r.result.status, 0);
    EXPECT_EQ(withoutSeconds(r.result.out), withoutSeconds(plain.result.out));  // standard output unchanged
    ASSERT_FALSE(r.err.empty());
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;  // one line
    for (const std::string& word : c.named) {
      EXPECT_NE(r.err.find(word), std::string::npos) << word << " in " << r.err;
    }
    EXPECT_EQ(outputsOf(dir, "a"), outputsOf(plainDir, "a"));
    EXPECT_FALSE(dir.exists("b.CHR"));
  }
}

TEST(CommandLine, BatchConvertsEveryPictureAndCarriesOnAfterAFailure) {
  // The expectations: each picture converted alone, options before it.
  Folder alone;
  writePictures(alone);
  ASSERT_EQ(run(alone, {"--dither=70", "a.tga"}).result.status, 0);
  ASSERT_EQ(run(alone, {"--dither=70", "b.tga"}).result.status, 0);

  for (const bool quiet : {false, true}) {
    SCOPED_TRACE(quiet ? "quiet" : "plain");
    Folder dir;
    writePictures(dir);
    dir.write("c.tga", makeTga(16, 8, rampAt));
    ASSERT_EQ(mkdir((dir / "c.CLR").c_str(), 0700), 0);  // c's files cannot all be written
    std::vector<std::string> args = {"--batch", "a.tga", "bad.tga", "missing.tga", "c.tga", "b.tga", "--dither=70"};
    if (quiet) {
      args.insert(args.begin(), "--quiet");
    }
    const Ran r = run(dir, args);
    EXPECT_EQ(r.result.status, 1);
    EXPECT_EQ(outputsOf(dir, "a"), outputsOf(alone, "a"));
    EXPECT_EQ(outputsOf(dir, "b"), outputsOf(alone, "b"));
    EXPECT_FALSE(dir.exists("bad.CHR"));
    EXPECT_FALSE(dir.exists("c.CHR"));  // all or nothing, as a single run
    EXPECT_FALSE(dir.exists("c_tms.tga"));
    if (quiet) {
      EXPECT_EQ(r.result.out, "a.tga: a.CHR, a.CLR, a_tms.tga\nb.tga: b.CHR, b.CLR, b_tms.tga\n");
      EXPECT_EQ(r.err,
                "kovrel: bad.tga: Unsupported file format!\n"
                "kovrel: cannot open missing.tga file!\n"
                "kovrel: c.tga: cannot create c.CLR file!\n");
    } else {
      EXPECT_EQ(r.result.out.rfind(kBanner, 0), 0u);
      EXPECT_EQ(r.result.out.find(kBanner, 1), std::string::npos) << "one banner";
      EXPECT_NE(r.result.out.find("\nUnsupported file format!\ncannot open missing.tga file!\n"), std::string::npos);
      const std::string summary = "Batch: 2 of 5 pictures converted; failed: bad.tga, missing.tga, c.tga.\n";
      EXPECT_EQ(r.result.out.substr(r.result.out.size() - summary.size()), summary);
      EXPECT_EQ(r.err, "");
    }
  }
  Folder good;
  writePictures(good);
  EXPECT_EQ(run(good, {"--batch", "--quiet", "a.tga", "b.tga"}).result.status, 0);
}

TEST(CommandLine, QuietRunsAndHelp) {
  Folder plainDir;
  writePictures(plainDir);
  ASSERT_EQ(run(plainDir, {"a.tga"}).result.status, 0);
  const std::string help = run(plainDir, {"--help"}).result.out;
  const struct {
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string err;
  } cases[] = {
      {{"--quiet", "a.tga"}, 0, "", ""},
      {{"a.tga", "--quiet"}, 0, "", ""},
      {{"--quiet", "bad.tga"}, 1, "", "kovrel: bad.tga: Unsupported file format!\n"},
      {{"--quiet", "--fit=crop", "none.tga"}, 1, "", "kovrel: cannot open none.tga file!\n"},
      {{"--quiet"}, 2, "", "kovrel: Syntax: Kovrel [file.tga]\n"},
      {{"a.tga", "--dither=x", "--quiet"}, 2, "", "kovrel: --dither takes a whole percentage from 0 to 100, not \"x\".\n"},
      {{"-h"}, 0, help, ""},
      {{"a.tga", "-h"}, 0, help, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.front() + " " + c.args.back());
    Folder dir;
    writePictures(dir);
    const Ran r = run(dir, c.args);
    EXPECT_EQ(r.result.status, c.status);
    EXPECT_EQ(r.result.out, c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(outputsOf(dir, "a"), c.status == 0 && c.out.empty() ? outputsOf(plainDir, "a") : Bytes{});
  }
  EXPECT_EQ(help.rfind("Usage: kovrel", 0), 0u);
  // A file named -h is a picture like any other.
  Folder dir;
  dir.write("-h", makeTga(40, 30, noiseAt));
  EXPECT_EQ(run(dir, {"-h"}).result.status, 0);
  EXPECT_EQ(outputsOf(dir, "-h"), outputsOf(plainDir, "a"));
}

TEST(CommandLine, TablesOfAPictureThatIsNotAScreenSaySo) {
  Folder dir;
  writePictures(dir);
  // A PNG of 40 x 30: the program's own PNG preview of a.tga.
  ASSERT_EQ(run(dir, {"--format=png", "a.tga"}).result.status, 0);
  const std::string note =
      "Note: a_tms.CHR and a_tms.CLR hold the tiles of a 40 x 30 picture, not a 256 x 192 screen, so BLOAD ,S "
      "will not show them as one; use --fit=crop for a whole screen, or --format=sc2 for one file holding the "
      "picture on the screen.\n";
  const std::string closing = "Note: the .CLR and .CHR files have correct headers only for 256x192 images. \n";
  const struct {
    std::vector<std::string> args;
    std::string tail;  // the end of standard output
  } cases[] = {
      {{"a_tms.png"}, note + closing},
      {{"--format=chr", "a_tms.png"}, "Note: a_tms.CHR hold" + note.substr(note.find(" hold") + 5) + closing},
      {{"--fit=crop", "a_tms.png"}, " seconds.\n" + closing},
      {{"--format=sc2", "a_tms.png"}, " seconds.\n"},
      {{"a.tga"}, " seconds.\n" + closing},  // a TGA's text is what it always was
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.front());
    const Ran r = run(dir, c.args);
    EXPECT_EQ(r.result.status, 0);
    const std::string& out = r.result.out;
    ASSERT_GE(out.size(), c.tail.size());
    EXPECT_EQ(out.substr(out.size() - c.tail.size()), c.tail);
  }
  const Ran quiet = run(dir, {"--quiet", "a_tms.png"});
  EXPECT_EQ(quiet.result.out, "");
  EXPECT_EQ(quiet.err, note);
}

}  // namespace
}  // namespace kovrel::test
