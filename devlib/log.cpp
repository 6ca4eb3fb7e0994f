// The log facility: one formatted write per line onto the stream of its level.
#include <array>
#include <cstdarg>
#include <cstdio>

#include "internal.h"

namespace {

int log_level = ZK_LOG_WARNING;
bool libusb_debug = false;

// One stream per level 0 to 5, all standard error. Built on first use so that
// a line logged from another file's static initialiser finds it ready.
std::array<FILE *, 6> &log_streams() {
  static std::array<FILE *, 6> streams{stderr, stderr, stderr, stderr, stderr, stderr};
  return streams;
}

}  // namespace

void zk_log(int level, const char *format, ...) {
  if (level <= 0 || level > log_level) return;
  va_list args;
  va_start(args, format);
  vfprintf(log_streams()[level], format, args);
  va_end(args);
}

int zk_set_log_level(int level) {
  log_level = level > ZK_LOG_VERBOSE ? ZK_LOG_VERBOSE : level;
  return log_level;
}

int zk_set_libusb_debug(int flag) {
  libusb_debug = flag != 0;
  return libusb_debug ? 1 : 0;
}

bool zk_libusb_debug() {
  return libusb_debug;
}
