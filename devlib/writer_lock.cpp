// One writer per receiver: every program of ours that changes a receiver
// holds an advisory lock named after the receiver's place on its bus, so two
// programs never interleave their writes. Reading takes no lock.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "internal.h"
#include "usb_backend.h"

namespace {

constexpr int kRetryMs = 50;

struct HeldLock {
  int fd = -1;
  int depth = 0;  // nested holds; the lock is let go when the last one ends
};
HeldLock held;

std::string lock_folder() {
  const char *runtime = getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/') return std::string(runtime) + "/zirko";
  return "/tmp/zirko-" + std::to_string(getuid());
}

// The folder, made when missing; false (errno set) unless it is a folder of
// this user's, so that nobody else can take or fake the locks.
bool own_folder(const std::string &folder) {
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat info {};
  if (lstat(folder.c_str(), &info) != 0) return false;
  if (!S_ISDIR(info.st_mode) || info.st_uid != getuid()) {
    errno = EPERM;
    return false;
  }
  return true;
}

// The lock file of the open receiver; empty when the bus has none.
std::string lock_path() {
  if (!current_device) return {};
  const std::string bus = zk::usb_backend().bus_name();
  const std::string position = zk_bus_position(current_device);
  if (bus.empty() || position.empty()) return {};
  return lock_folder() + "/" + bus + "-" + position + ".lock";
}

// An open lock file, or -1 after one warning: a machine where no lock can
// be made still lets its user write, as before there were locks.
int open_lock(const std::string &path) {
  static bool warned = false;
  const size_t slash = path.rfind('/');
  int fd = -1;
  if (own_folder(path.substr(0, slash)))
    fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0 && !warned) {
    warned = true;
    ZK_LOGW("cannot use the lock %s: %s; writing without it", path.c_str(), strerror(errno));
  }
  return fd;
}

}  // namespace

int zk_lock_receiver(int wait_ms) {
  if (held.depth > 0) {
    ++held.depth;
    return 0;
  }
  const std::string path = lock_path();  // none with no receiver: nothing to keep others from
  const int fd = path.empty() ? -1 : open_lock(path);
  if (fd >= 0) {
    const zk::WaitClock &clock = zk::wait_clock();
    const int64_t start = clock.now_us();
    bool told = false;
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK && errno != EINTR) break;  // no lock to be had: write as before
      if (clock.now_us() - start >= int64_t(wait_ms) * 1000) {
        close(fd);
        ZK_LOGE("another program kept changing this receiver for %d s; nothing was changed",
                wait_ms / 1000);
        return ZK_ERR_BUSY;
      }
      if (!told) {
        fputs("another program is changing this receiver\n", stderr);
        told = true;
      }
      clock.sleep_ms(kRetryMs);
    }
  }
  held = {fd, 1};
  return 0;
}

void zk_unlock_receiver() {
  if (held.depth == 0 || --held.depth > 0) return;
  if (held.fd >= 0) close(held.fd);  // closing lets the lock go
  held.fd = -1;
}
