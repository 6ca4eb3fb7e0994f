// The receiver state the suites start from: firmware 3.8, empty memory, no
// automatic presses, and a receiver that takes no time for anything
// (presses, leaving and re-enumerating, EEPROM writes, format), so that
// tests press explicitly and never wait on the clock.
#pragma once

#include "receiver_state.h"

namespace zk::test {

inline zk::virt::ReceiverState QuietReceiverState() {
  zk::virt::ReceiverState state;
  state.auto_press = false;
  state.press_delay_ms = 0;
  state.reenumerate_delay_ms = 0;
  state.leave_delay_ms = 0;
  state.eeprom_write_ms = 0;
  state.format_ms = 0;
  return state;
}

}  // namespace zk::test
