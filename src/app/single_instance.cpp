#include "app/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

std::string LockFilePath() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  struct stat info;
  if (runtime != nullptr && runtime[0] == '/' && ::stat(runtime, &info) == 0 && S_ISDIR(info.st_mode))
    return std::string(runtime) + "/" + MutexName + ".lock";
  const char* temp = std::getenv("TMPDIR");
  const std::string folder = (temp != nullptr && temp[0] == '/') ? temp : "/tmp";
  return folder + "/" + MutexName + "-" + std::to_string(::getuid()) + ".lock";
}

TSingleInstance::TSingleInstance(const std::string& path) {
  // Never through a link: in a shared temporary folder another user could
  // plant one pointing at a file of ours.
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd_ < 0) return;
  struct stat info;
  if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
    ::close(fd_);
    fd_ = -1;
    return;
  }
  int result;
  do {
    result = ::flock(fd_, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result == 0) {
    state_ = State::First;
  } else {
    state_ = errno == EWOULDBLOCK ? State::AlreadyRunning : State::Unknown;
    ::close(fd_);
    fd_ = -1;
  }
}

TSingleInstance::~TSingleInstance() {
  if (fd_ >= 0) ::close(fd_);
}
