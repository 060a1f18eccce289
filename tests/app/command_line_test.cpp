#include "app/command_line.h"

#include <gtest/gtest.h>

TEST(CommandLine, StartupFileIsTheFirstArgumentThatIsNoOption) {
  const struct {
    std::vector<std::string> args;
    std::string file;
  } cases[] = {
      {{"tessarin"}, ""},
      {{"tessarin", "big.jpg"}, "big.jpg"},
      {{"tessarin", "a b/c.png", "second.png"}, "a b/c.png"},
      {{"tessarin", "--verbose", "x.bmp"}, "x.bmp"},
      {{"tessarin", "--", "-dash.jpg"}, "-dash.jpg"},
      {{"tessarin", "-x", "--"}, ""},
      {{"tessarin", ""}, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(StartupFile(c.args), c.file) << c.args.size();
}
