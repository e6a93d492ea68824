// System randomness on Linux: getrandom(), falling back to /dev/urandom.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <fcntl.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/random.h>
#endif

namespace ukcrypto {

bool platformRandom(uint8_t* out, size_t n) {
  size_t got = 0;
#if defined(__linux__)
  while (got < n) {
    ssize_t r = getrandom(out + got, n - got, 0);
    if (r > 0) {
      got += static_cast<size_t>(r);
    } else if (r < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  if (got == n) return true;
#endif
  int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  while (got < n) {
    ssize_t r = read(fd, out + got, n - got);
    if (r > 0) {
      got += static_cast<size_t>(r);
    } else if (r < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  close(fd);
  return got == n;
}

}  // namespace ukcrypto
