// Small shared utilities: progress bar, whole-file I/O, checksums, time.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>

#include "internal.h"

namespace {

constexpr int kBarWidth = 40;  // columns of "=" and spaces

struct FileCloser {
  void operator()(FILE *file) const { fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// Largest file any caller reads: a firmware image fills at most the flash.
constexpr long kMaxFileSize = 16384;

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

void zk_progress_bar(float done, float total) {
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

long file_to_buf(const char *path, unsigned char **out, const char *mode) {
  if (!path) {
    ZK_LOGE("invalid file");
    return ZK_ERR_FILE_READ;
  }
  // Opened without blocking, so a FIFO cannot hang the caller; only a
  // regular file of a size some receiver could take is read.
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat info {};
  if (fd < 0 || fstat(fd, &info) != 0) {
    if (fd >= 0) close(fd);
    ZK_LOGE("file %s not found\n", path);
    return ZK_ERR_FILE_READ;
  }
  if (!S_ISREG(info.st_mode)) {
    close(fd);
    ZK_LOGE("file %s is not a regular file", path);
    return ZK_ERR_FILE_READ;
  }
  if (info.st_size > kMaxFileSize) {
    close(fd);
    ZK_LOGE("file %s is too large: %lld bytes, at most %ld", path, (long long)info.st_size,
            kMaxFileSize);
    return ZK_ERR_FILE_READ;
  }
  File file(fdopen(fd, mode));
  if (!file) {
    close(fd);
    ZK_LOGE("file %s not found\n", path);
    return ZK_ERR_FILE_READ;
  }
  const long length = long(info.st_size);
  // One spare byte, so that an empty file still yields a buffer.
  auto *buffer = static_cast<unsigned char *>(malloc(size_t(length) + 1));
  if (!buffer) {
    ZK_LOGE("could not allocate memory");
    return ZK_ERR_NO_MEMORY;
  }
  if (fread(buffer, 1, size_t(length), file.get()) != size_t(length)) {
    ZK_LOGE("error reading file");
    free(buffer);
    return ZK_ERR_FILE_READ;
  }
  *out = buffer;
  return length;
}

long buf_to_file(const char *path, const unsigned char *buffer, long length, const char *mode) {
  if (!path) {
    ZK_LOGE("file %s could not be opened", "(null)");
    return ZK_ERR_FILE_IO;
  }
  if (!buffer) {
    ZK_LOGE("invalid buffer");
    return ZK_ERR_FILE_IO;
  }
  if (!mode) {
    ZK_LOGE("invalid file operations");
    return ZK_ERR_FILE_IO;
  }
  File file(fopen(path, mode));
  if (!file) {
    ZK_LOGE("file %s could not be opened", path);
    return ZK_ERR_FILE_IO;
  }
  if (fwrite(buffer, 1, length, file.get()) != static_cast<size_t>(length)) {
    ZK_LOGE("file could not be saved");
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
    default:
      return "device operation failed";
  }
}
