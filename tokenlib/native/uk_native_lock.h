// Named locks shared by the processes of one user on this machine: the native counterpart of the
// named mutexes the Windows programs share, used for the device-exclusive mutex a program holds
// around a whole token sequence. (The per-device mutex around one frame exchange stays within
// the process natively: the emulator, the only device here, takes each frame and its answer in
// one request.)
//
// A lock is a file in the user's lock folder, held with flock(2). The kernel drops it with the
// process, so a program that dies holding it does not block the others, as an abandoned mutex
// does not on Windows. Threads of one process that share a NamedLock wait for each other as well;
// two NamedLock objects of the same name exclude each other even inside one process.
#pragma once
#include <stdint.h>

#include <mutex>
#include <string>

namespace uk {
namespace native {

class NamedLock {
 public:
  static constexpr uint32_t kForever = 0xFFFFFFFFu;

  // Opens (creating it if needed) the lock file of name in lockFolder(); valid() tells whether
  // that worked and error() gives the system error when it did not.
  explicit NamedLock(const std::string &name);
  ~NamedLock();
  NamedLock(const NamedLock &) = delete;
  NamedLock &operator=(const NamedLock &) = delete;

  bool valid() const { return fd_ >= 0; }
  int error() const { return error_; }

  // Takes the lock, waiting at most ms milliseconds (kForever: without limit). False when the
  // time ran out or the lock file is not usable.
  bool lock(uint32_t ms = kForever);
  void unlock();

 private:
  int fd_ = -1;
  int error_ = 0;
  std::timed_mutex threads_;
};

// The folder of the lock files: $UK_LOCK_DIR when set, else "ukey" in $XDG_RUNTIME_DIR, else
// /tmp/ukey-<uid>. It is created (mode 0700) when missing; a folder the user does not own, or a
// symbolic link in its place, is refused. Empty, with *error set, when it cannot be had.
std::string lockFolder(int *error);

// The file name of a lock: the name's letters, digits, '-', '_' and '.', every other character
// as '_', at most 100 of them, then '-' and a hash of the whole name (so that names differing
// only in replaced characters do not share a file), then ".lock".
std::string lockFileName(const std::string &name);

}  // namespace native
}  // namespace uk
