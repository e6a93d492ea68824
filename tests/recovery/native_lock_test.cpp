// The native named lock (device-exclusive mutex and per-device mutex of the native skin): it
// excludes other processes, other lock objects and other threads, gives up after its time limit,
// is free again when its holder dies, and keeps its files in a folder only the user controls.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "uk_native_lock.h"

namespace {

using uk::native::NamedLock;

// A private lock folder for each test (UK_LOCK_DIR), removed afterwards.
class NativeLock : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/uk-lock-test-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    dir_ = tmpl;
    setenv("UK_LOCK_DIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("UK_LOCK_DIR");
    std::string cmd = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(0, system(cmd.c_str()));
  }
  std::string dir_;
};

// A child process that takes the lock, reports it on a pipe and holds it until told to go (or,
// with die, is killed while holding it).
struct Holder {
  pid_t pid = -1;
  int toChild = -1;
  bool start(const std::string &name) {
    int up[2], down[2];
    if (pipe(up) || pipe(down)) return false;
    pid = fork();
    if (pid == 0) {
      close(up[0]);
      close(down[1]);
      NamedLock lock(name);
      char c = lock.lock() ? 'L' : 'F';
      if (write(up[1], &c, 1) != 1) _exit(3);
      if (read(down[0], &c, 1) < 0) _exit(4);  // wait for the word (or the end of the pipe)
      lock.unlock();
      _exit(0);
    }
    close(up[1]);
    close(down[0]);
    toChild = down[1];
    char c = 0;
    bool locked = read(up[0], &c, 1) == 1 && c == 'L';
    close(up[0]);
    return locked;
  }
  int release() {
    char c = 'x';
    if (write(toChild, &c, 1) != 1) return -1;
    close(toChild);
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
  }
  void kill9() {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    close(toChild);
  }
};

TEST_F(NativeLock, AnotherProcessHoldingTheLockMakesTheWaitRunOutThenItIsFree) {
  Holder other;
  ASSERT_TRUE(other.start("MUTEX_FOR_DEVICE_EXCLUSIVE_KELM_ORV"));
  NamedLock lock("MUTEX_FOR_DEVICE_EXCLUSIVE_KELM_ORV");
  ASSERT_TRUE(lock.valid());
  EXPECT_FALSE(lock.lock(150));
  NamedLock unrelated("some other name");
  EXPECT_TRUE(unrelated.lock(0));
  unrelated.unlock();
  EXPECT_EQ(0, other.release());
  EXPECT_TRUE(lock.lock(5000));
  lock.unlock();
}

TEST_F(NativeLock, ALockWhoseHolderDiedIsFree) {
  Holder other;
  ASSERT_TRUE(other.start("dies holding it"));
  NamedLock lock("dies holding it");
  EXPECT_FALSE(lock.lock(50));
  other.kill9();
  EXPECT_TRUE(lock.lock(5000));
  lock.unlock();
}

TEST_F(NativeLock, AWaitWithoutLimitEndsWhenTheHolderLetsGo) {
  Holder other;
  ASSERT_TRUE(other.start("forever"));
  std::atomic<bool> got{false};
  std::thread waiter([&] {
    NamedLock lock("forever");
    got = lock.lock();
    lock.unlock();
  });
  usleep(100 * 1000);
  EXPECT_FALSE(got);
  EXPECT_EQ(0, other.release());
  waiter.join();
  EXPECT_TRUE(got);
}

TEST_F(NativeLock, ObjectsAndThreadsOfOneProcessExcludeEachOther) {
  NamedLock a("shared"), b("shared");
  ASSERT_TRUE(a.lock(0));
  EXPECT_FALSE(b.lock(20));
  // A second thread on the same object waits for the first as well.
  std::atomic<int> inside{0}, most{0};
  auto work = [&] {
    for (int i = 0; i < 200; ++i) {
      ASSERT_TRUE(b.lock(10000));
      int now = ++inside;
      if (now > most) most = now;
      --inside;
      b.unlock();
    }
  };
  a.unlock();
  std::thread t1(work), t2(work);
  t1.join();
  t2.join();
  EXPECT_EQ(1, most.load());
}

TEST(NativeLockNames, FileNamesKeepSafeCharactersAndTellNamesApart) {
  using uk::native::lockFileName;
  const std::string device = "usb#vid_0b0c&pid_10ae#UKQ5711#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
  const std::string file = lockFileName(device);
  EXPECT_EQ(0u, file.find("usb_vid_0b0c_pid_10ae_UKQ5711__a5dcbf10-6530-11d2-901f-00c04fb951ed_-"));
  EXPECT_EQ(std::string::npos, file.find('/'));
  EXPECT_NE(lockFileName("a#b"), lockFileName("a&b"));
  EXPECT_EQ(lockFileName("a#b"), lockFileName("a#b"));
  const std::string traversal = lockFileName("../../etc/passwd");
  EXPECT_EQ(std::string::npos, traversal.find('/'));
  EXPECT_LE(lockFileName(std::string(5000, 'x')).size(), 100u + 14u);
}

TEST(NativeLockFolder, TheDefaultFolderMustBeTheUsersOwnAndNoLink) {
  char tmpl[] = "/tmp/uk-lock-run-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(tmpl));
  const std::string run = tmpl;
  const char *saved = getenv("XDG_RUNTIME_DIR");
  const std::string savedRun = saved ? saved : "";
  setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
  int error = 0;
  EXPECT_EQ(run + "/ukey", uk::native::lockFolder(&error));
  struct stat st;
  ASSERT_EQ(0, stat((run + "/ukey").c_str(), &st));
  EXPECT_EQ(0700u, st.st_mode & 0777u);
  // A link planted in its place is refused, and no lock is taken through it.
  ASSERT_EQ(0, rmdir((run + "/ukey").c_str()));
  ASSERT_EQ(0, symlink("/tmp", (run + "/ukey").c_str()));
  EXPECT_EQ("", uk::native::lockFolder(&error));
  EXPECT_NE(0, error);
  NamedLock refused("anything");
  EXPECT_FALSE(refused.valid());
  EXPECT_FALSE(refused.lock(0));
  if (saved)
    setenv("XDG_RUNTIME_DIR", savedRun.c_str(), 1);
  else
    unsetenv("XDG_RUNTIME_DIR");
  std::string cmd = "rm -rf '" + run + "'";
  ASSERT_EQ(0, system(cmd.c_str()));
}

}  // namespace
