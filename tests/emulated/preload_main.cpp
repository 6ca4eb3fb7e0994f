// Entry point of the emulated-kernel suites: the process must run under the
// umockdev preload, so it restarts itself under it when started without.
#include <gtest/gtest.h>

#include <cstdlib>

#include "preload.h"

int main(int argc, char **argv) {
  zk::emu::restart_under_preload(argv, argv[0]);
  unsetenv("ZIRKO_VIRTUAL");  // the library must take its libusb backend
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
