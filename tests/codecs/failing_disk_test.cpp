// Saving onto disks that fail: full (a small tmpfs where this process may
// mount one, and always through the write seam), read-only, a folder that
// has vanished, and the process killed in the middle of a large save. In
// every case the file at the target is the old one or the complete new
// one, never a part, and no temporary file is left behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "codec_test_support.h"

namespace {

const Bytes kOld = {'o', 'l', 'd', ' ', 'f', 'i', 'l', 'e'};

// A tmpfs of `size` mounted on a fresh folder for one test, when this
// process may mount (root outside a locked-down container).
class SmallDisk {
 public:
  explicit SmallDisk(const std::string& size) {
    if (::mount("tmpfs", dir_.Path("").c_str(), "tmpfs", MS_NOSUID | MS_NODEV, ("size=" + size).c_str()) == 0)
      mounted_ = true;
  }
  ~SmallDisk() {
    if (mounted_) ::umount2(dir_.Path("").c_str(), MNT_DETACH);
  }
  bool Mounted() const { return mounted_; }
  bool MakeReadOnly() {
    return ::mount("tmpfs", dir_.Path("").c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV,
                   nullptr) == 0;
  }
  const ScratchDir& Dir() const { return dir_; }

 private:
  ScratchDir dir_;
  bool mounted_ = false;
};

// write(2) that stops with "no space" after kRoom bytes in all.
constexpr std::size_t kRoom = 5000;
std::size_t gWritten = 0;
ssize_t FillingWrite(int fd, const void* data, size_t count) {
  if (gWritten >= kRoom) {
    errno = ENOSPC;
    return -1;
  }
  const std::size_t n = std::min(count, kRoom - gWritten);
  const ssize_t done = ::write(fd, data, n);
  if (done > 0) gWritten += std::size_t(done);
  return done;
}

void ExpectOldFileAlone(const ScratchDir& dir, const std::string& path) {
  EXPECT_EQ(LoadBytes(path), kOld);
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{FileNamePart(path)});
}

}  // namespace

TEST(FailingDisk, FullDiskLeavesTheOldFile) {
  const TBitmap picture = RandomPicture(300, 200, 1);  // 180 KB as BMP, 100 KB or more as JPEG
  {
    // Through the seam: works everywhere.
    ScratchDir dir;
    const std::string path = dir.Path("photo.bmp");
    SaveBytes(path, kOld);
    gWritten = 0;
    SetWriteFunctionForTesting(FillingWrite);
    std::string error;
    const bool saved = WritePicture(path, picture, error);
    SetWriteFunctionForTesting(nullptr);
    EXPECT_FALSE(saved);
    EXPECT_NE(error.find("No space left on device"), std::string::npos) << error;
    EXPECT_NE(error.find(path), std::string::npos) << error;
    ExpectOldFileAlone(dir, path);
  }
  SmallDisk disk("32k");
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here; the seam covered the full disk";
  const std::string path = disk.Dir().Path("photo.bmp");
  SaveBytes(path, kOld);
  for (const char* ext : {".bmp", ".png", ".jpg"}) {
    const std::string target = disk.Dir().Path(std::string("photo") + ext);
    if (target != path) SaveBytes(target, kOld);
    std::string error;
    EXPECT_FALSE(WritePicture(target, picture, error)) << ext;
    EXPECT_NE(error.find("No space left on device"), std::string::npos) << error;
    EXPECT_EQ(LoadBytes(target), kOld);
    if (target != path) std::filesystem::remove(target);
  }
  ExpectOldFileAlone(disk.Dir(), path);
}

TEST(FailingDisk, ReadOnlyFolderIsRefused) {
  const TBitmap picture = RandomPicture(20, 10, 2);
  SmallDisk disk("1m");
  std::string folder;
  if (disk.Mounted()) {
    SaveBytes(disk.Dir().Path("photo.png"), kOld);
    ASSERT_TRUE(disk.MakeReadOnly());
    folder = disk.Dir().Path("");
  } else if (::geteuid() != 0) {
    SaveBytes(disk.Dir().Path("photo.png"), kOld);
    std::filesystem::permissions(disk.Dir().Path(""), std::filesystem::perms(0555));
    folder = disk.Dir().Path("");
  } else {
    GTEST_SKIP() << "root without mount: no folder is read-only to this process";
  }
  for (const char* name : {"photo.png", "new.png"}) {
    std::string error;
    EXPECT_FALSE(WritePicture(folder + "/" + name, picture, error)) << name;
    EXPECT_NE(error.find(name), std::string::npos) << error;
  }
  EXPECT_EQ(LoadBytes(folder + "/photo.png"), kOld);
  EXPECT_EQ(disk.Dir().Entries(), std::vector<std::string>{"photo.png"});
  if (!disk.Mounted()) std::filesystem::permissions(folder, std::filesystem::perms(0755));
}

TEST(FailingDisk, VanishedFolderIsAClearError) {
  ScratchDir dir;
  const std::string folder = dir.Path("gone");
  std::filesystem::create_directories(folder);
  std::filesystem::remove(folder);
  std::string error;
  EXPECT_FALSE(WritePicture(folder + "/photo.jpg", RandomPicture(8, 8, 3), error));
  EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
  EXPECT_NE(error.find(folder + "/photo.jpg"), std::string::npos) << error;
  EXPECT_TRUE(dir.Entries().empty());
}

// A child process saves a large picture over an old file and is killed at
// moments spread over the whole save. Afterwards the target holds exactly
// the old bytes or exactly the new file. The new file has no name while it
// is written, so nothing else is in the folder, except when the kill falls
// between naming the finished file and renaming it (two system calls): the
// hidden temporary file then left is removed by the next save there.
TEST(FailingDisk, KillDuringALargeSaveLeavesOldOrNewNeverAPart) {
  ScratchDir dir;
  const TBitmap picture = RandomPicture(1400, 1000, 4);  // 4.2 MB as BMP
  const std::string reference = dir.Path("reference.bmp");
  std::string error;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(WritePicture(reference, picture, error)) << error;
  const auto took = std::chrono::steady_clock::now() - start;
  const Bytes fresh = LoadBytes(reference);
  std::filesystem::create_directories(dir.Path("target"));
  const std::string path = dir.Path("target/photo.bmp");

  constexpr int kKills = 16;
  int sawOld = 0, sawNew = 0, namedLeft = 0;
  for (int i = 0; i < kKills; ++i) {
    SaveBytes(path, kOld);
    // From right away to a little past the time a whole save takes.
    const auto delay = took * (i + 1) / (kKills - 2);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      std::string childError;
      WritePicture(path, picture, childError);
      ::_exit(0);
    }
    std::this_thread::sleep_for(delay);
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    const Bytes now = LoadBytes(path);
    if (now == kOld) {
      ++sawOld;
    } else {
      ASSERT_TRUE(now == fresh) << "kill " << i << " left a file of " << now.size() << " bytes";
      ++sawNew;
    }
    auto entries = [&] {
      std::vector<std::string> names;
      for (const auto& e : std::filesystem::directory_iterator(dir.Path("target")))
        names.push_back(e.path().filename().string());
      std::sort(names.begin(), names.end());
      return names;
    };
    std::vector<std::string> names = entries();
    if (names.size() > 1) {
      // Only the one named file of the killed save, complete.
      ASSERT_EQ(names.size(), 2u) << "kill " << i;
      ASSERT_EQ(names[0].rfind(".tessarin-save-" + std::to_string(child) + "-", 0), 0u) << names[0];
      EXPECT_EQ(LoadBytes(dir.Path("target/" + names[0])), fresh) << "kill " << i;
      ++namedLeft;
      ASSERT_TRUE(WritePicture(dir.Path("target/other.bmp"), SolidPicture(2, 2, {1, 2, 3}), error)) << error;
      std::filesystem::remove(dir.Path("target/other.bmp"));
      names = entries();
    }
    ASSERT_EQ(names, std::vector<std::string>{"photo.bmp"}) << "kill " << i;
  }
  EXPECT_EQ(sawOld + sawNew, kKills);
  // The window is two system calls long: most kills miss it.
  EXPECT_LE(namedLeft, kKills / 4);
}

TEST(FailingDisk, TemporaryFilesOfDeadSavesAreRemovedByTheNextSave) {
  ScratchDir dir;
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) ::_exit(0);
  ASSERT_EQ(::waitpid(child, nullptr, 0), child);  // a process id that no longer runs
  const std::string dead = ".tessarin-save-" + std::to_string(child) + "-0123456789abcdef";
  const std::string running = ".tessarin-save-1-0123456789abcdef";  // init runs
  const std::string unrelated = ".tessarin-save-notes";
  for (const std::string& name : {dead, running, unrelated}) SaveBytes(dir.Path(name), kOld);
  std::string error;
  ASSERT_TRUE(WritePicture(dir.Path("photo.png"), RandomPicture(4, 4, 5), error)) << error;
  std::vector<std::string> names = dir.Entries();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{running, unrelated, "photo.png"}));
}
