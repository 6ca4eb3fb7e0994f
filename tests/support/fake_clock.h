// A wait clock that moves only when the library sleeps: waits of 100 s or a
// bounded wait for a receiver that never comes end at once. Installed for
// the life of the object.
#pragma once

#include <cstdint>

#include "internal.h"

namespace zk::test {

class FakeWaitClock {
 public:
  FakeWaitClock() {
    now_us_ = 0;
    zk::set_wait_clock(&kClock);
  }
  ~FakeWaitClock() { zk::set_wait_clock(nullptr); }
  FakeWaitClock(const FakeWaitClock &) = delete;
  FakeWaitClock &operator=(const FakeWaitClock &) = delete;
  // Time waited since the clock was installed.
  static int64_t now_us() { return now_us_; }

 private:
  static inline int64_t now_us_ = 0;
  static constexpr zk::WaitClock kClock{[] { return now_us_; },
                                        [](int ms) { now_us_ += int64_t(ms) * 1000; }};
};

}  // namespace zk::test
