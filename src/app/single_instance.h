// One running copy per user. The mark of a running copy is an exclusive
// lock on a file named after a fixed GUID: the kernel drops the lock when
// the process ends in any way, so a copy killed outright leaves nothing
// behind, and taking the lock is itself the test, so of several copies
// started at the same instant exactly one gets it.
#pragma once

#include <string>

// The GUID the lock file is named after; every copy uses the same one.
inline constexpr char MutexName[] = "7C3E9A41-52D8-4F6B-A0E3-1B9D64C2F875";

// Where the lock lives: $XDG_RUNTIME_DIR (private to the user) when it is
// set to an absolute folder, else the temporary folder with the user id in
// the file's name.
std::string LockFilePath();

class TSingleInstance {
 public:
  enum class State {
    First,           // this copy holds the lock
    AlreadyRunning,  // another copy holds it
    Unknown,         // the lock could not be taken or tested; run anyway
  };

  // Tries to take the lock on `path`; it is held until this object goes.
  explicit TSingleInstance(const std::string& path = LockFilePath());
  ~TSingleInstance();
  TSingleInstance(const TSingleInstance&) = delete;
  TSingleInstance& operator=(const TSingleInstance&) = delete;

  State state() const { return state_; }

 private:
  int fd_ = -1;
  State state_ = State::Unknown;
};
