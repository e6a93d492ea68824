#include "uk_native_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <chrono>

namespace uk {
namespace native {

namespace {

// A folder the lock files may live in: created when missing; an existing one must be a real
// folder (not a link) owned by this user unless the user named it himself.
bool usableFolder(const std::string &dir, bool mustOwn, int *error) {
  if (mkdir(dir.c_str(), 0700) == 0) return true;
  if (errno != EEXIST) {
    *error = errno;
    return false;
  }
  struct stat st;
  if (lstat(dir.c_str(), &st) != 0) {
    *error = errno;
    return false;
  }
  if (!S_ISDIR(st.st_mode) || (mustOwn && st.st_uid != geteuid())) {
    *error = EACCES;
    return false;
  }
  return true;
}

void sleepMicroseconds(long us) {
  struct timespec ts = {us / 1000000, (us % 1000000) * 1000};
  nanosleep(&ts, nullptr);
}

}  // namespace

std::string lockFolder(int *error) {
  *error = 0;
  if (const char *own = getenv("UK_LOCK_DIR")) {
    if (*own && usableFolder(own, false, error)) return own;
    if (!*own) *error = ENOENT;
    return std::string();
  }
  std::string dir;
  if (const char *run = getenv("XDG_RUNTIME_DIR"); run && *run)
    dir = std::string(run) + "/ukey";
  else
    dir = "/tmp/ukey-" + std::to_string(unsigned(geteuid()));
  return usableFolder(dir, true, error) ? dir : std::string();
}

std::string lockFileName(const std::string &name) {
  std::string out;
  uint32_t hash = 2166136261u;
  for (unsigned char ch : name) {
    hash = (hash ^ ch) * 16777619u;
    if (out.size() >= 100) continue;
    bool keep = (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') ||
                ch == '-' || ch == '_' || ch == '.';
    out += keep ? char(ch) : '_';
  }
  char tail[16];
  snprintf(tail, sizeof tail, "-%08x", unsigned(hash));
  return out + tail + ".lock";
}

NamedLock::NamedLock(const std::string &name) {
  std::string dir = lockFolder(&error_);
  if (dir.empty()) return;
  std::string path = dir + "/" + lockFileName(name);
  fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd_ < 0) error_ = errno;
}

NamedLock::~NamedLock() {
  if (fd_ >= 0) close(fd_);
}

bool NamedLock::lock(uint32_t ms) {
  if (fd_ < 0) return false;
  if (ms == kForever) {
    threads_.lock();
    while (flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) {
        error_ = errno;
        threads_.unlock();
        return false;
      }
    }
    return true;
  }
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
  if (!threads_.try_lock_until(deadline)) return false;
  // flock has no time limit of its own: try, and wait a little longer each time.
  long pause = 50;
  for (;;) {
    if (flock(fd_, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) {
      error_ = errno;
      break;
    }
    if (Clock::now() >= deadline) break;
    sleepMicroseconds(pause);
    if (pause < 5000) pause *= 2;
  }
  threads_.unlock();
  return false;
}

void NamedLock::unlock() {
  if (fd_ < 0) return;
  flock(fd_, LOCK_UN);
  threads_.unlock();
}

}  // namespace native
}  // namespace uk
