// Saving a file safely: the checks on the target and the replacement of
// the file by a complete new one.
//
// The encoded bytes go to a new file in the target's folder that has no
// name yet (O_TMPFILE; where the file system cannot do that, a hidden
// temporary name), which is flushed to disk, named and renamed over the
// target only when everything succeeded. The file at the target is
// therefore always the old one or the complete new one, also when the
// program is killed in the middle, and a failure leaves nothing behind. (A
// kill in the two system calls between naming the finished file and
// renaming it leaves a hidden temporary file; the next save into that
// folder removes it.) A symbolic link is written through: the file it
// leads to is replaced and the link stays. A replaced file keeps its
// permission bits (and its owner and group where the user may set them); a
// new one gets 0666 less the umask. A target that is not a regular file,
// and a target the user may not write, are refused (as cp refuses it; the
// folder being writable is not enough).
#include "codecs/safe_save.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "codecs/picture_io.h"

namespace codecs {
namespace {

std::atomic<WriteFunction> gWrite{nullptr};

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(int fd, ByteView data) {
  WriteFunction write = gWrite.load();
  if (write == nullptr) write = ::write;
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = EIO;
      return false;
    }
    done += std::size_t(n);
  }
  return true;
}

// The file a save to `path` replaces: `path` itself, or the file a chain of
// symbolic links starting there leads to (which need not exist yet).
bool FollowLinks(const std::string& path, std::string& target, std::string& error) {
  target = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat info;
    if (::lstat(target.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return true;
    char link[PATH_MAX];
    const ssize_t n = ::readlink(target.c_str(), link, sizeof link - 1);
    if (n < 0) {
      error = SystemError("cannot follow the symbolic link", errno, path);
      return false;
    }
    const std::string next(link, std::size_t(n));
    target = next.front() == '/' ? next : FolderOf(target) + "/" + next;
  }
  error = SystemError("cannot follow the symbolic link", ELOOP, path);
  return false;
}

// A new, unnamed file in `folder` (O_TMPFILE), or -1 with errno set;
// errno is EOPNOTSUPP where the file system cannot make one.
int OpenUnnamed(const std::string& folder, mode_t mode) {
#ifdef O_TMPFILE
  const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
  if (fd >= 0) return fd;
  if (errno == EISDIR || errno == EINVAL) errno = EOPNOTSUPP;  // kernels and file systems without it
  return -1;
#else
  (void)folder, (void)mode;
  errno = EOPNOTSUPP;
  return -1;
#endif
}

// Temporary files are named ".tessarin-save-PID-..." after the process
// that writes them.
constexpr char kTemporaryPrefix[] = ".tessarin-save-";

// "FOLDER/.tessarin-save-PID-": what every temporary name of this process
// in `folder` starts with, and what RemoveStaleTemporaries parses.
std::string TemporaryStem(const std::string& folder) {
  return folder + "/" + kTemporaryPrefix + std::to_string(::getpid()) + "-";
}

// A name in `folder` that no file has yet.
std::string FreshName(const std::string& folder) {
  static std::mt19937_64 rng{std::random_device{}()};
  char suffix[17];
  std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(rng()));
  return TemporaryStem(folder) + suffix;
}

// Removes the temporary files in `folder` of processes that no longer run.
// A save killed between naming its finished file and renaming it (two
// system calls) leaves one behind; the next save into the folder takes it
// away. Files of running processes, and names that do not parse, stay.
void RemoveStaleTemporaries(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  const std::size_t prefix = sizeof kTemporaryPrefix - 1;
  while (const dirent* entry = ::readdir(dir)) {
    const char* name = entry->d_name;
    if (std::strncmp(name, kTemporaryPrefix, prefix) != 0) continue;
    char* end = nullptr;
    const long pid = std::strtol(name + prefix, &end, 10);
    if (end == name + prefix || *end != '-' || pid <= 0 || pid == long(::getpid())) continue;
    if (::kill(pid_t(pid), 0) == 0 || errno != ESRCH) continue;  // still running, or not ours to know
    ::unlinkat(::dirfd(dir), name, 0);
  }
  ::closedir(dir);
}

// Why a replacement failed: the message and errno, or, with `retryNamed`,
// that the unnamed file could not be given a name here (no /proc, or a file
// system without the links it needs) and a temporary name should be tried.
struct WriteFailure {
  const char* what = nullptr;
  int code = 0;
  bool retryNamed = false;
};

// Writes `data` to a new file in `folder` with `mode` (and the owner of
// `existing`, when given and allowed), then renames it to `target`. With
// `unnamed` the file has no name until it is complete (O_TMPFILE), else a
// hidden temporary one. On failure nothing new is left in the folder.
bool WriteAndRename(const std::string& folder, const std::string& target, mode_t mode,
                    const struct stat* existing, ByteView data, bool unnamed, WriteFailure& failure) {
  std::string named;  // the temporary name, once the file has one
  int fd = -1;
  if (unnamed) {
    fd = OpenUnnamed(folder, mode);
    if (fd < 0 && errno == EOPNOTSUPP) {
      failure.retryNamed = true;
      return false;
    }
  } else {
    named = TemporaryStem(folder) + "XXXXXX";
    fd = ::mkstemp(named.data());
    if (fd < 0) named.clear();
  }
  if (fd < 0) {
    failure = {"cannot create a file in the folder", errno};
    return false;
  }
  auto fail = [&](const char* what, int code) {
    if (fd >= 0) ::close(fd);
    if (!named.empty()) ::unlink(named.c_str());
    failure.what = what, failure.code = code;
    return false;
  };
  // Keeping the owner needs privileges the user may not have; the
  // permission bits are kept either way.
  if (existing != nullptr && ::fchown(fd, existing->st_uid, existing->st_gid) != 0 &&
      ::fchown(fd, static_cast<uid_t>(-1), existing->st_gid) != 0) {
    // Neither owner nor group can be kept: the new file is the user's own.
  }
  if (::fchmod(fd, mode) != 0) return fail("cannot write file", errno);
  if (!WriteAll(fd, data) || ::fsync(fd) != 0) return fail("cannot write file", errno);
  if (unnamed) {
    // Give the finished file a name beside the target, then rename it.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    for (int attempt = 0;; ++attempt) {
      named = FreshName(folder);
      if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, named.c_str(), AT_SYMLINK_FOLLOW) == 0) break;
      const int code = errno;
      named.clear();
      if (code == EEXIST && attempt < 10) continue;
      if (code == ENOENT || code == EPERM || code == EACCES || code == EOPNOTSUPP || code == EXDEV)
        failure.retryNamed = true;
      return fail("cannot write file", code);
    }
  }
  if (::close(fd) != 0) {
    fd = -1;
    return fail("cannot write file", errno);
  }
  fd = -1;
  if (::rename(named.c_str(), target.c_str()) != 0) return fail("cannot replace file", errno);
  // Make the rename itself last across a power cut.
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

// Refuses a target that exists but is no regular file, or that the user may
// not write; a target that does not exist yet is fine here.
bool CheckTarget(const std::string& path, const std::string& target, std::string& error) {
  struct stat info;
  if (::stat(target.c_str(), &info) != 0) return true;
  if (!S_ISREG(info.st_mode)) {
    error = "not a regular file: " + path;
    return false;
  }
  if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
    error = SystemError("cannot write file", errno, path);
    return false;
  }
  return true;
}

}  // namespace

std::string SystemError(const std::string& what, int code, const std::string& path) {
  return what + " (" + std::strerror(code) + "): " + path;
}

bool ReplaceFile(const std::string& path, const std::string& target, ByteView data, std::string& error) {
  struct stat existing;
  const bool exists = ::stat(target.c_str(), &existing) == 0;
  mode_t mode;
  if (exists) {
    mode = existing.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  const std::string folder = FolderOf(target);
  RemoveStaleTemporaries(folder);
  WriteFailure failure;
  if (WriteAndRename(folder, target, mode, exists ? &existing : nullptr, data, true, failure)) return true;
  if (failure.retryNamed) {
    failure = {};
    if (WriteAndRename(folder, target, mode, exists ? &existing : nullptr, data, false, failure)) return true;
  }
  error = SystemError(failure.what, failure.code, path);
  return false;
}

bool ResolveSaveTarget(const std::string& path, std::string& target, std::string& error) {
  return FollowLinks(path, target, error) && CheckTarget(path, target, error);
}

bool CheckSaveFolder(const std::string& path, const std::string& target, std::string& error) {
  const std::string folder = FolderOf(target);
  struct stat info;
  if (::stat(folder.c_str(), &info) != 0) {
    error = SystemError("cannot create a file in the folder", errno, path);
    return false;
  }
  if (!S_ISDIR(info.st_mode)) {
    error = SystemError("cannot create a file in the folder", ENOTDIR, path);
    return false;
  }
  if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
    error = SystemError("cannot create a file in the folder", errno, path);
    return false;
  }
  return true;
}

}  // namespace codecs

void SetWriteFunctionForTesting(WriteFunction write) {
  codecs::gWrite.store(write);
}
