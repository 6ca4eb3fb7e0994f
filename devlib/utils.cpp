// Small shared utilities: progress bar, whole-file I/O, checksums, time.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

#include "internal.h"

namespace {

constexpr int kBarWidth = 40;  // columns of "=" and spaces
int progress_mode = ZK_PROGRESS_AUTO;

struct FileCloser {
  void operator()(FILE *file) const { fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// Largest file any caller reads: a firmware image fills at most the flash.
constexpr long kMaxFileSize = zk::layout::kFlashSize;

// MSB first, no reflection, no final inversion; each byte enters the top 8 bits.
template <typename T>
T crc_msb_first(const unsigned char *bytes, uint32_t count, T crc, T poly) {
  constexpr int kShift = 8 * (sizeof(T) - 1);
  constexpr T kTopBit = T(1) << (8 * sizeof(T) - 1);
  for (uint32_t i = 0; i < count; ++i) {
    crc ^= T(bytes[i]) << kShift;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & kTopBit) ? T((crc << 1) ^ poly) : T(crc << 1);
  }
  return crc;
}

int64_t wall_now_us() {
  timeval now{};
  gettimeofday(&now, nullptr);
  return int64_t(now.tv_sec) * 1000000 + now.tv_usec;
}

void wall_sleep_ms(int ms) {
  usleep(useconds_t(ms) * 1000);
}

const zk::WaitClock kWallClock{wall_now_us, wall_sleep_ms};
const zk::WaitClock *installed_clock = &kWallClock;

}  // namespace

namespace zk {
const WaitClock &wait_clock() {
  return *installed_clock;
}
void set_wait_clock(const WaitClock *clock) {
  installed_clock = clock ? clock : &kWallClock;
}
}  // namespace zk

int zk_set_progress_output(int mode) {
  progress_mode = mode < 0 ? ZK_PROGRESS_AUTO : mode > 0 ? ZK_PROGRESS_ALWAYS : ZK_PROGRESS_NEVER;
  return progress_mode;
}

int zk_progress_shown() {
  if (progress_mode == ZK_PROGRESS_AUTO) return isatty(STDOUT_FILENO) ? 1 : 0;
  return progress_mode;
}

void zk_progress_bar(float done, float total) {
  if (!zk_progress_shown()) return;
  int percent = static_cast<int>(done / total * 100);
  int filled = 0;
  fputs("[", stdout);
  if (percent / 2.5 > 0) {
    filled = static_cast<int>(std::ceil(percent / 2.5));
    for (int i = 0; i < filled; ++i) fputc('=', stdout);
  }
  fputc('>', stdout);
  for (int i = filled; i < kBarWidth; ++i) fputc(' ', stdout);
  printf("] %d%%\r", percent);
  fflush(stdout);
}

namespace {

const char *file_kind(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a plain file";
}

long refuse_file(char *reason, size_t room, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
long refuse_file(char *reason, size_t room, const char *format, ...) {
  if (reason && room > 0) {
    va_list args;
    va_start(args, format);
    vsnprintf(reason, room, format, args);
    va_end(args);
  }
  return ZK_ERR_FILE_READ;
}

}  // namespace

long zk_read_input_file(const char *path, long max_bytes, unsigned char **out, char *reason,
                        size_t reason_size) {
  if (!path || !out) return refuse_file(reason, reason_size, "%s", strerror(EINVAL));
  // Opened without blocking, so a FIFO cannot hang the caller; only a
  // regular file is read, and only once its size is known to fit.
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return refuse_file(reason, reason_size, "%s", strerror(errno));
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    const int error = errno;
    close(fd);
    return refuse_file(reason, reason_size, "%s", strerror(error));
  }
  if (!S_ISREG(info.st_mode)) {
    close(fd);
    return refuse_file(reason, reason_size, "not a regular file (%s)", file_kind(info.st_mode));
  }
  if (info.st_size > max_bytes) {
    close(fd);
    return refuse_file(reason, reason_size, "%s: %lld bytes, at most %ld", strerror(EFBIG),
                       (long long)info.st_size, max_bytes);
  }
  const long length = long(info.st_size);
  // One spare byte, so that an empty file still yields a buffer.
  auto *buffer = static_cast<unsigned char *>(malloc(size_t(length) + 1));
  if (!buffer) {
    close(fd);
    return refuse_file(reason, reason_size, "%s", strerror(ENOMEM));
  }
  long done = 0;
  while (done < length) {
    ssize_t n = read(fd, buffer + done, size_t(length - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 ? errno : EIO;  // the file shrank while it was read
      close(fd);
      free(buffer);
      return refuse_file(reason, reason_size, "%s", strerror(error));
    }
    done += n;
  }
  close(fd);
  *out = buffer;
  return length;
}

long file_to_buf(const char *path, unsigned char **out, const char *) {
  if (!path) {
    ZK_LOGE("invalid file");
    return ZK_ERR_FILE_READ;
  }
  char reason[128];
  const long length = zk_read_input_file(path, kMaxFileSize, out, reason, sizeof reason);
  if (length >= 0) return length;
  if (access(path, F_OK) != 0)
    ZK_LOGE("file %s not found\n", path);
  else
    ZK_LOGE("file %s: %s", path, reason);
  return length;
}

long buf_to_file(const char *path, const unsigned char *buffer, long length, const char *mode) {
  if (!path) {
    ZK_LOGE("file %s could not be opened", "(null)");
    return ZK_ERR_FILE_IO;
  }
  if (!buffer || length < 0) {
    ZK_LOGE("invalid buffer");
    return ZK_ERR_FILE_IO;
  }
  if (!mode) {
    ZK_LOGE("invalid file operations");
    return ZK_ERR_FILE_IO;
  }
  if (zk_save_file(path, buffer, size_t(length)) != 0) {
    const int error = errno;
    ZK_LOGE("file %s could not be saved: %s", path, strerror(error));
    errno = error;  // the caller may name the reason too
    return ZK_ERR_FILE_IO;
  }
  return length;
}

uint8_t zk_crc8(const unsigned char *bytes, uint8_t count) {
  return zk_crc8_update(bytes, count, 0);
}

uint8_t zk_crc8_update(const unsigned char *bytes, uint8_t count, uint8_t initial) {
  return crc_msb_first<uint8_t>(bytes, count, initial, 0x07);
}

uint16_t zk_crc16(const unsigned char *bytes, uint32_t count, uint16_t initial) {
  return crc_msb_first<uint16_t>(bytes, count, initial, 0x1021);
}

uint32_t zk_crc32(const unsigned char *bytes, uint32_t count, uint32_t initial) {
  return crc_msb_first<uint32_t>(bytes, count, initial, 0x04C11DB7);
}

int64_t zk_elapsed_us(const struct timeval *then) {
  timeval now{};
  gettimeofday(&now, nullptr);
  return (int64_t(now.tv_sec) - then->tv_sec) * 1000000 + (now.tv_usec - then->tv_usec);
}

int zk_timed_out(const struct timeval *then, int64_t limit_us) {
  return zk_elapsed_us(then) >= limit_us ? 1 : 0;
}

float zk_timestamp() {
  timeval now{};
  gettimeofday(&now, nullptr);
  tm local{};
  time_t seconds = now.tv_sec;
  localtime_r(&seconds, &local);
  return local.tm_min * 100 + local.tm_sec + now.tv_usec / 1000000.0f;
}

const char *zk_result_text(int result) {
  switch (result) {
    case ZK_ERR_NO_SPACE:
      return "no space left on the receiver";
    case ZK_ERR_EXISTS:
      return "button exists";
    case ZK_ERR_NO_OUTCOME:
    case ZK_ERR_USB:
      return "USB transfer failed";
    case ZK_ERR_INVALID:
      return "invalid value";
    case ZK_ERR_UNSUPPORTED:
      return "not supported by this receiver";
    case ZK_ERR_TIMEOUT:
      return "timed out waiting for a button";
    case ZK_ERR_NOT_USABLE:
      return "receiver not usable";
    case ZK_ERR_IN_USE:
      return "receiver in use by another program";
    case ZK_ERR_BUSY:
      return "another program is changing this receiver";
    default:
      return "device operation failed";
  }
}
