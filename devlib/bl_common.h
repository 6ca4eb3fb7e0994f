// What the two bootloader generations share: preparation, the page loop with
// its progress display, and the shape of a whole upload. Each generation
// passes its own function names (every line names the function the table
// really holds) and its own packet sender and finishing step.
#pragma once

#include "internal.h"

namespace zk::bl {

inline constexpr int kPageSize = 128;
inline constexpr int kBootloaderSize = 2048;  // bytes of flash the bootloader keeps
inline constexpr int kFlagAddress = 2;        // EEPROM settings byte A
inline constexpr int kUpgradeFlag = 0x80;     // set while an upload is unfinished
inline constexpr unsigned kTimeoutMs = 5000;
inline constexpr unsigned kInfoTimeoutMs = 10000;

struct Generation {
  const char *upload_fn;    // the generation's upload_fw
  const char *pre_boot_fn;  // its preparation
  const char *info_fn;      // its device-information read
  const char *write_fn;     // its page loop
  int info_length;          // exact length of the device-information reply
  int info_offset;          // where page size and device size start in it
  void (*prepared)();       // optional: runs once the upgrade flag is set
  // Sends page `number`: 0, or negative after its own lines.
  int (*send_page)(const unsigned char *page, int number);
  // Leaves the bootloader after the last page: 0, or -13 after its own lines.
  int (*post_boot)();
};

// upload_fw of a generation: preparation, pages, finishing. 0 or -13.
int upload(const Generation &g, const unsigned char *image, int size, void *callback_arg,
           zk_progress_cb callback);

// Slot 2 of both tables: request 0xC2/6. 0, or -16 when the transfer fails.
int reboot();

}  // namespace zk::bl
