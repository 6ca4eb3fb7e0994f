#include "clock.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace zk::virt {

namespace {

int64_t wall_now_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

void wall_sleep_ms(int64_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

const Clock kWallClock{wall_now_ms, wall_sleep_ms};
std::atomic<const Clock *> installed{&kWallClock};

}  // namespace

const Clock &clock() {
  return *installed;
}

void set_clock(const Clock *clock) {
  installed.store(clock ? clock : &kWallClock);
}

bool wall_clock_in_use() {
  return installed == &kWallClock;
}

}  // namespace zk::virt
