// What the command-line tests share: tessarin-cli run inside the test
// process, and a scratch folder of pictures for each test.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "codecs/picture_io.h"

struct CliRun {
  int code;
  std::string out, err;
};

inline CliRun Cli(const std::vector<std::string>& args, bool terminal = false) {
  std::ostringstream out, err;
  const int code = RunTessarinCli(args, out, err, terminal);
  return {code, out.str(), err.str()};
}

// A fresh folder per test, named after the test, removed afterwards.
class CliFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("tessarin-cli-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
            "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  // Writes `picture` to `name` in the folder (its subfolders made) and
  // returns the path.
  std::string Save(const std::string& name, const TBitmap& picture) const {
    std::filesystem::create_directories(std::filesystem::path(Path(name)).parent_path());
    std::string error;
    EXPECT_TRUE(WritePicture(Path(name), picture, error)) << error;
    return Path(name);
  }

  TBitmap Load(const std::string& path) const {
    TBitmap picture;
    std::string error;
    EXPECT_TRUE(ReadPicture(path, picture, error)) << error;
    return picture;
  }

  std::filesystem::path dir_;
};
