// What the two bootloader generations share: preparation, the page loop with
// its progress display, and the shape of a whole upload. Each generation
// passes its own function names (every line names the function the table
// really holds) and its own packet sender and finishing step.
#pragma once

#include "internal.h"

namespace zk::bl {

using layout::kBootloaderSize;
using layout::kPageSize;
using layout::kUpgradeFlag;
inline constexpr int kFlagAddress = layout::kSettingsAAddr;
inline constexpr unsigned kTimeoutMs = 5000;
inline constexpr unsigned kInfoTimeoutMs = 10000;

struct Generation {
  const char *upload_fn;    // the generation's upload_fw
  const char *pre_boot_fn;  // its preparation
  const char *info_fn;      // its device-information read
  const char *write_fn;     // its page loop
  int info_length;          // exact length of the device-information reply
  int info_offset;          // where page size and device size start in it
  // Sends page `number`: 0, or negative after its own lines.
  int (*send_page)(const unsigned char *page, int number);
  // Leaves the bootloader after the last page: 0, or -13 after its own lines.
  int (*post_boot)();
};

// upload_fw of a generation: preparation, pages, finishing. 0 or -13.
int upload(const Generation &g, const unsigned char *image, int size, void *callback_arg,
           zk_progress_cb callback);

}  // namespace zk::bl
