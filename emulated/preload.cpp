#include "preload.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace zk::emu {

namespace {

constexpr const char *kPreload = "libumockdev-preload.so.0";

bool under_preload() {
  const char *preload = getenv("LD_PRELOAD");
  return preload && std::strstr(preload, "libumockdev-preload");
}

}  // namespace

void set_preload_environment() {
  if (!under_preload()) {
    std::string preload = kPreload;
    if (const char *old = getenv("LD_PRELOAD"); old && *old) preload += std::string(":") + old;
    setenv("LD_PRELOAD", preload.c_str(), 1);
  }
  // A sanitizer runtime cannot come first under the preload.
  std::string asan = getenv("ASAN_OPTIONS") ? getenv("ASAN_OPTIONS") : "";
  if (asan.find("verify_asan_link_order") == std::string::npos) {
    asan += std::string(asan.empty() ? "" : ":") + "verify_asan_link_order=0";
    setenv("ASAN_OPTIONS", asan.c_str(), 1);
  }
}

void restart_under_preload(char **argv, const char *who) {
  if (under_preload()) return;
  set_preload_environment();
  execv("/proc/self/exe", argv);
  std::fprintf(stderr, "%s: cannot restart under %s: %s\n", who, kPreload, std::strerror(errno));
  std::exit(127);
}

}  // namespace zk::emu
