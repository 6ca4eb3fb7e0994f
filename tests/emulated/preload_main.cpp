// Entry point of the emulated-kernel suites: the process must run under the
// umockdev preload, so it restarts itself under it when started without.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char **argv) {
  const char *preload = getenv("LD_PRELOAD");
  if (!preload || !std::strstr(preload, "libumockdev-preload")) {
    std::string value = "libumockdev-preload.so.0";
    if (preload && *preload) value += std::string(":") + preload;
    setenv("LD_PRELOAD", value.c_str(), 1);
    // A sanitizer runtime cannot come first under the preload.
    setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 0);
    execv("/proc/self/exe", argv);
    std::fprintf(stderr, "cannot restart under the umockdev preload: %s\n", std::strerror(errno));
    return 1;
  }
  unsetenv("ZIRKO_VIRTUAL");  // the library must take its libusb backend
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
