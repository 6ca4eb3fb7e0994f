// One fake time for the library's waits and the virtual receiver's clock:
// it moves only when either sleeps, so tests run long delays and time-outs
// (a 10-second format, a receiver that leaves late) at once and in order.
// Installed for the life of the object; single-threaded tests only.
#pragma once

#include <cstdint>

#include "clock.h"
#include "internal.h"

namespace zk::test {

class FakeClock {
 public:
  FakeClock() {
    now_ms_ = zk::virt::clock().now_ms();  // times the receiver already keeps stay meaningful
    zk::set_wait_clock(&kWait);
    zk::virt::set_clock(&kVirtual);
  }
  ~FakeClock() {
    zk::set_wait_clock(nullptr);
    zk::virt::set_clock(nullptr);
  }
  FakeClock(const FakeClock &) = delete;
  FakeClock &operator=(const FakeClock &) = delete;

  static int64_t now_ms() { return now_ms_; }
  static void advance(int64_t ms) { now_ms_ += ms; }

 private:
  static inline int64_t now_ms_ = 0;
  static constexpr zk::WaitClock kWait{[] { return now_ms_ * 1000; },
                                       [](int ms) { now_ms_ += ms; }};
  static constexpr zk::virt::Clock kVirtual{[] { return now_ms_; },
                                            [](int64_t ms) { now_ms_ += ms; }};
};

}  // namespace zk::test
