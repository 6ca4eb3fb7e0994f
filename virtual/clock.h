// Time as the virtual receiver keeps it: wall-clock milliseconds, so that
// every program sharing one receiver reads the same times. Tests may install
// a clock that moves only when something sleeps on it.
#pragma once

#include <cstdint>

namespace zk::virt {

struct Clock {
  int64_t (*now_ms)();
  void (*sleep_ms)(int64_t ms);
};

const Clock &clock();
// Installs a clock (null restores the wall clock). Not owned.
void set_clock(const Clock *clock);
// True while the wall clock is in use: waits may then be cut short by other
// threads instead of sleeping on the clock.
bool wall_clock_in_use();

inline int64_t now_ms() {
  return clock().now_ms();
}

}  // namespace zk::virt
