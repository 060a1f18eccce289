#include "cli/batch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli_test_support.h"
#include "support/fast_paths.h"
#include "support/pictures.h"

namespace fs = std::filesystem;

TEST(BatchFileList, SplitsLinesOrNulSeparatedNames) {
  struct Case {
    std::string text;
    bool nul;
    std::vector<std::string> names;
  } cases[] = {
      {"a.jpg\nb c.jpg\n", false, {"a.jpg", "b c.jpg"}},
      {"a.jpg\r\n\nb.jpg", false, {"a.jpg", "b.jpg"}},
      {std::string("a\nb.jpg\0c.jpg\0", 14), true, {"a\nb.jpg", "c.jpg"}},
      {"", false, {}},
  };
  for (const Case& c : cases) {
    std::istringstream in(c.text);
    EXPECT_EQ(ReadFileList(in, c.nul), c.names) << c.text;
  }
}

using BatchTest = CliFolderTest;

// --files-from adds the listed pictures; each failure is one line naming
// its file and exit 1, the rest are made; --skip-existing leaves an output
// that is there alone.
TEST_F(BatchTest, FilesFromSkipExistingAndOneLinePerFailure) {
  const ThreadsScope restore(ThreadCount());  // --threads changes the count
  const std::string a = Save("in/a.png", RandomPicture(12, 9, 1));
  const std::string b = Save("in/b.png", RandomPicture(12, 9, 2));
  std::ofstream(Path("in/bad.png")) << "not a picture";
  Save("out/b.png", SolidPicture(3, 3, {1, 2, 3}));  // made by an earlier run
  for (const bool nul : {false, true}) {
    const char sep = nul ? '\0' : '\n';
    std::ofstream(Path("list")) << a << sep << Path("in/bad.png") << sep << Path("in/missing.png") << sep;
    fs::remove(Path("out/a.png"));
    std::vector<std::string> args = {"miniature",       b,           "--files-from",
                                     Path("list"),      "--out-dir", Path("out"),
                                     "--skip-existing", "--threads", "1"};
    if (nul) args.push_back("-0");
    const CliRun r = Cli(args);
    EXPECT_EQ(r.code, kExitFailed) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << r.err;
    EXPECT_NE(r.err.find("bad.png"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("missing.png"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::exists(Path("out/a.png")));
    EXPECT_EQ(Load(Path("out/b.png")).Width(), 3);
    EXPECT_FALSE(fs::exists(Path("out/bad.png")));
  }
  EXPECT_EQ(Cli({"miniature", "--files-from", Path("nothere"), "--out-dir", Path("out")}).code, kExitUsage);
}
