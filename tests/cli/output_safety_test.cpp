// What tessarin-cli does around the pictures: outputs that would destroy
// an input or each other are refused before any work, saves go through
// symbolic links, a target the user may not write is refused as cp
// refuses it, every message names its file, and every usage or range error
// exits 2 before any file is read.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "cli/cli.h"
#include "cli_test_support.h"
#include "codecs/picture_io.h"
#include "support/pictures.h"

namespace fs = std::filesystem;

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

using OutputSafety = CliFolderTest;

}  // namespace

// The first two faults of the old --out-dir handling: the input overwritten
// with no word, and one of two results lost, both with exit 0.
TEST_F(OutputSafety, OutDirRefusesToOverwriteAnInputOrMergeTwoOutputs) {
  const std::string photo = Save("d/photo.png", RandomPicture(12, 8, 1));
  const std::string before = Slurp(photo);
  CliRun r = Cli({"miniature", photo, "--out-dir", Path("d")});
  EXPECT_EQ(r.code, kExitUsage) << r.err;
  EXPECT_NE(r.err.find(photo), std::string::npos) << r.err;
  EXPECT_EQ(Slurp(photo), before);
  // The same folder written another way.
  r = Cli({"miniature", photo, "--out-dir", Path("d/../d/.")});
  EXPECT_EQ(r.code, kExitUsage) << r.err;
  EXPECT_EQ(Slurp(photo), before);

  const std::string a = Save("a/p.png", RandomPicture(6, 6, 2));
  const std::string b = Save("b/p.png", RandomPicture(7, 5, 3));
  r = Cli({"miniature", a, b, "--out-dir", Path("out")});
  EXPECT_EQ(r.code, kExitUsage) << r.err;
  EXPECT_NE(r.err.find(a), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(b), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(Path("out"))) << "refused before any work";

  // Found before any file is read: the inputs need not even exist.
  r = Cli({"miniature", Path("x/q.png"), Path("y/q.png"), "--out-dir", Path("out")});
  EXPECT_EQ(r.code, kExitUsage) << r.err;
  r = Cli({"miniature", a, a, "--out-dir", Path("out")});
  EXPECT_EQ(r.code, kExitUsage) << r.err;
}

TEST_F(OutputSafety, UsageAndRangeErrorsExitTwoBeforeAnyFileIsRead) {
  const std::string missing = Path("missing.bmp");
  const struct {
    std::vector<std::string> args;
    const char* names;  // what the message must be about
  } cases[] = {
      {{"blur", missing, Path("o.png"), "--zone", "31"}, "--zone"},
      {{"tone", missing, Path("o.png"), "--contrast", "101"}, "--contrast"},
      {{"miniature", missing, "-o", Path("o.png"), "--contrast", "101"}, "--contrast"},
      {{"miniature", missing, "-o", Path("o.png"), "--point", "-2147483648,0"}, "--point"},
      {{"miniature", missing, "-o", Path("o.png"), "--point", "0,2147483647"}, "--point"},
      {{"guides", "--view", "700x500", "--point", "-2147483648,0"}, "--point"},
      {{"overlay", missing, missing, missing, Path("o.png"), "--offset", "-2147483648,5"}, "--offset"},
      {{"resize", missing, Path("o.png"), "--size", "65535x65535"}, "--size"},
      {{"mask", Path("o.png"), "--picture", "40000x40000"}, "--picture"},
      {{"rotate", missing, Path("o.png"), "--angle", "nan"}, "--angle"},
  };
  for (const auto& c : cases) {
    const CliRun r = Cli(c.args);
    EXPECT_EQ(r.code, kExitUsage) << c.args[0] << " " << c.names << ": " << r.err;
    EXPECT_NE(r.err.find(c.names), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("missing.bmp"), std::string::npos)
        << "read before the options were checked: " << r.err;
  }
  EXPECT_FALSE(fs::exists(Path("o.png")));
}

TEST_F(OutputSafety, SavingThroughASymbolicLinkWritesTheFileItLeadsTo) {
  const TBitmap picture = RandomPicture(9, 7, 4);
  const std::string in = Save("in.png", picture);
  const std::string old = Save("real.png", SolidPicture(3, 3, {1, 2, 3}));
  struct Case {
    std::string link, leadsTo, target;
  };
  fs::create_directories(Path("links"));
  const Case cases[] = {
      {Path("link.png"), old, old},                                 // absolute
      {Path("links/up.png"), "../real.png", old},                   // relative to the link's folder
      {Path("links/chain.png"), "up.png", old},                     // a link to a link
      {Path("links/dangling.png"), "../new.png", Path("new.png")},  // the file does not exist yet
  };
  for (const Case& c : cases) {
    fs::create_symlink(c.leadsTo, c.link);
    const CliRun r = Cli({"tone", in, c.link});
    ASSERT_EQ(r.code, kExitOk) << c.link << ": " << r.err;
    EXPECT_TRUE(fs::is_symlink(c.link)) << c.link << " was replaced by a plain file";
    EXPECT_EQ(Load(c.target), picture) << c.link;
    fs::remove(c.target);
    fs::copy_file(in, c.target);  // a fresh old file for the next case
  }
  // Nothing but the files the test made.
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"in.png", "link.png", "links", "new.png", "real.png"}));
}

TEST_F(OutputSafety, EveryMessageNamesItsFile) {
  const std::string in = Save("in.png", RandomPicture(8, 8, 5));
  // An output folder that is a file. (A mask is made for any picture
  // within the limits, since it no longer goes through a square of the
  // picture's diagonal: the mask's failure here is the output's.)
  Save("file.png", RandomPicture(2, 2, 6));
  CliRun r = Cli({"mask", Path("file.png/m.png"), "--picture", "30x20"});
  EXPECT_EQ(r.code, kExitFailed);
  EXPECT_NE(r.err.find(Path("file.png/m.png")), std::string::npos) << r.err;
  r = Cli({"rotate", in, Path("file.png/o.png"), "--quarter", "left"});
  EXPECT_EQ(r.code, kExitFailed);
  EXPECT_NE(r.err.find(Path("file.png/o.png")), std::string::npos) << r.err;
  // A source picture that cannot be resampled to its own turned size is
  // not a case here: every picture within the limits can; but a turned
  // picture beyond the limits is refused at the save, naming the output.
}

TEST_F(OutputSafety, ProgressLineIsClearedBeforeAnError) {
  const std::string a = Save("a.png", RandomPicture(6, 4, 7));
  const CliRun r = Cli({"miniature", a, Path("missing.png"), "--out-dir", Path("out")}, true);
  EXPECT_EQ(r.code, kExitFailed);
  const std::size_t at = r.err.find("tessarin-cli: ");
  ASSERT_NE(at, std::string::npos) << r.err;
  // The error starts on an emptied line: carriage return, erase to the end.
  EXPECT_EQ(r.err.substr(at - 4, 4), "\r\x1b[K") << r.err;
  EXPECT_NE(r.err.find("missing.png", at), std::string::npos);
}

TEST_F(OutputSafety, DamagedButReadableJpegIsReportedAsAWarning) {
  const TBitmap picture = RandomPicture(24, 16, 8);
  std::string in = Save("in.jpg", picture);
  std::string bytes = Slurp(in);
  ASSERT_EQ(bytes.substr(0, 3), "\xFF\xD8\xFF");
  bytes.insert(2, "\x01\x02\x03");  // garbage between the first two markers
  std::ofstream(in, std::ios::binary | std::ios::trunc) << bytes;
  const CliRun r = Cli({"tone", in, Path("out.png")});
  EXPECT_EQ(r.code, kExitOk) << r.err;
  EXPECT_NE(r.err.find("warning"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("extraneous"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(in), std::string::npos) << r.err;
  EXPECT_TRUE(fs::exists(Path("out.png")));
}

namespace {

// Runs `command` through the shell as the user nobody; the exit code.
int AsNobody(const std::string& command) {
  return std::system(("runuser -u nobody -- sh -c '" + command + "' 2>>/dev/null").c_str());
}

std::string Quoted(const std::string& s) {
  return "\"" + s + "\"";
}

}  // namespace

// Root may write anything, so the permission cases run the real program as
// the user nobody, beside cp as the reference for what must be refused.
TEST_F(OutputSafety, TargetsTheUserMayNotWriteAreRefusedAsCpRefusesThem) {
  if (::geteuid() != 0 || std::system("runuser -u nobody -- true 2>/dev/null") != 0)
    GTEST_SKIP() << "needs root and runuser to run as nobody";
  const std::string program = Path("tessarin-cli");
  fs::copy_file(TESSARIN_CLI_PROGRAM, program);
  fs::permissions(dir_, fs::perms(0755));
  const TBitmap picture = RandomPicture(10, 6, 9);
  const std::string in = Save("in.png", picture);
  fs::create_directories(Path("own"));
  ASSERT_EQ(::chown(Path("own").c_str(), 65534, 65534), 0);
  const std::string oldBytes = Slurp(Save("old.png", SolidPicture(2, 2, {5, 5, 5})));

  struct Case {
    const char* name;
    int mode;
    bool nobodyOwns;
    bool writable;  // whether cp (and so tessarin-cli) may write it
  };
  const Case cases[] = {
      {"own/readonly.png", 0444, true, false},  // the user's own file, read-only
      {"own/others.png", 0644, false, false},   // another user's file in the user's folder
      {"new.png", -1, false, false},            // a new file in a folder the user may not write
      {"own/mine.png", 0640, true, true},       // the user's own file: replaced, mode kept
  };
  for (const Case& c : cases) {
    const std::string target = Path(c.name);
    auto reset = [&] {
      fs::remove(target);
      if (c.mode < 0) return;
      std::ofstream(target, std::ios::binary) << oldBytes;
      ASSERT_EQ(::chmod(target.c_str(), mode_t(c.mode)), 0);
      if (c.nobodyOwns) {
        ASSERT_EQ(::chown(target.c_str(), 65534, 65534), 0);
      }
    };
    reset();
    const bool cpWrote = AsNobody("cp " + Quoted(in) + " " + Quoted(target)) == 0;
    EXPECT_EQ(cpWrote, c.writable) << c.name << ": cp disagrees with the case";
    reset();
    const std::string errFile = Path("err.txt");
    const int code = std::system(("runuser -u nobody -- " TESSARIN_CLI_RUNNER " " + Quoted(program) +
                                  " tone " + Quoted(in) + " " + Quoted(target) + " 2>" + Quoted(errFile))
                                     .c_str());
    const std::string err = Slurp(errFile);
    if (c.writable) {
      EXPECT_EQ(code, 0) << c.name << ": " << err;
      struct stat info;
      ASSERT_EQ(::stat(target.c_str(), &info), 0);
      EXPECT_EQ(info.st_mode & 07777, mode_t(c.mode)) << c.name;
      EXPECT_EQ(info.st_uid, 65534u) << c.name;
      EXPECT_EQ(Load(target), picture) << c.name;
    } else {
      EXPECT_NE(code, 0) << c.name;
      EXPECT_NE(err.find("Permission denied"), std::string::npos) << c.name << ": " << err;
      EXPECT_NE(err.find(target), std::string::npos) << err;
      if (c.mode >= 0) {
        EXPECT_EQ(Slurp(target), oldBytes) << c.name << " was replaced";
      } else {
        EXPECT_FALSE(fs::exists(target));
      }
    }
  }
  // No temporary file was left anywhere.
  for (const auto& e : fs::recursive_directory_iterator(dir_))
    EXPECT_EQ(e.path().filename().string().find(".tessarin"), std::string::npos) << e.path();
}
