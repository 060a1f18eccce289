#include "app/single_instance.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

class SingleInstance : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tessarin-lock-XXXXXX";
    dir_ = mkdtemp(pattern);
    lock_ = dir_ + "/test.lock";
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string dir_, lock_;
};

// Runs in a child: takes the lock, says so through the pipe, then waits to
// be killed. Returns the child's pid once the lock is held.
pid_t ChildHoldingLock(const std::string& path) {
  int ready[2];
  if (pipe(ready) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    close(ready[0]);
    TSingleInstance lock(path);
    const char state = lock.state() == TSingleInstance::State::First ? 'F' : 'X';
    if (write(ready[1], &state, 1) != 1) _exit(2);
    for (;;) pause();
  }
  close(ready[1]);
  char state = 0;
  const bool ok = read(ready[0], &state, 1) == 1 && state == 'F';
  close(ready[0]);
  return ok ? pid : -1;
}

}  // namespace

TEST_F(SingleInstance, SecondHolderFindsTheFirst) {
  {
    TSingleInstance first(lock_);
    EXPECT_EQ(first.state(), TSingleInstance::State::First);
    TSingleInstance second(lock_);
    EXPECT_EQ(second.state(), TSingleInstance::State::AlreadyRunning);
  }
  // The lock goes with its holder.
  TSingleInstance again(lock_);
  EXPECT_EQ(again.state(), TSingleInstance::State::First);
}

TEST_F(SingleInstance, AProcessKilledOutrightLeavesNoLockBehind) {
  const pid_t child = ChildHoldingLock(lock_);
  ASSERT_GT(child, 0);
  {
    TSingleInstance mine(lock_);
    EXPECT_EQ(mine.state(), TSingleInstance::State::AlreadyRunning);
  }
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  // The file is still there, but nobody holds it: a new start runs.
  EXPECT_TRUE(fs::exists(lock_));
  TSingleInstance mine(lock_);
  EXPECT_EQ(mine.state(), TSingleInstance::State::First);
}

TEST_F(SingleInstance, ALinkIsNeverFollowed) {
  const std::string victim = dir_ + "/victim";
  { std::ofstream(victim) << "keep"; }
  chmod(victim.c_str(), 0644);
  fs::create_symlink(victim, lock_);
  TSingleInstance lock(lock_);
  EXPECT_EQ(lock.state(), TSingleInstance::State::Unknown);  // runs, and touches nothing
  std::ifstream in(victim);
  std::string text;
  in >> text;
  EXPECT_EQ(text, "keep");
  struct stat info;
  ASSERT_EQ(stat(victim.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0644u);
}

TEST_F(SingleInstance, AnUnusableLockPlaceStillLetsTheProgramRun) {
  TSingleInstance lock(dir_ + "/no/such/folder/test.lock");
  EXPECT_EQ(lock.state(), TSingleInstance::State::Unknown);
}

TEST(LockFile, NameAndPlace) {
  // The name: a GUID in upper-case hexadecimal, groups of 8-4-4-4-12.
  const std::string guid = MutexName;
  ASSERT_EQ(guid.size(), 36u);
  for (std::size_t i = 0; i < guid.size(); ++i) {
    if (i == 8 || i == 13 || i == 18 || i == 23)
      EXPECT_EQ(guid[i], '-');
    else
      EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(guid[i])) && !std::islower(guid[i])) << i;
  }
  const char* savedRuntime = std::getenv("XDG_RUNTIME_DIR");
  const std::string saved = savedRuntime ? savedRuntime : "";
  setenv("XDG_RUNTIME_DIR", "/tmp", 1);
  EXPECT_EQ(LockFilePath(), "/tmp/" + guid + ".lock");
  setenv("XDG_RUNTIME_DIR", "relative/dir", 1);
  const std::string user = "-" + std::to_string(getuid()) + ".lock";
  EXPECT_TRUE(LockFilePath().ends_with(guid + user)) << LockFilePath();
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_TRUE(LockFilePath().ends_with(guid + user)) << LockFilePath();
  if (savedRuntime) setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
}
