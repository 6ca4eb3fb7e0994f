// Firmware upgrade: firmware to bootloader, upload, and back to firmware.
// Every change of mode goes through close, wait and open, because the
// operation table is chosen only when a receiver opens.
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "internal.h"

namespace {

// Time the receiver needs to drop off the bus after a mode change.
constexpr std::chrono::milliseconds kSettle{500};

// Brings the open receiver into its bootloader; the result of the wait.
int enter_bootloader(int vendor_id) {
  zk_print_device_line("Setting DFU\n");
  zk_device_set_dfu();  // the receiver leaves the bus instead of answering
  zk_close_device();
  std::this_thread::sleep_for(kSettle);
  ZK_LOGI_AS("zk_upgrade_fw_ext", "waiting for bootloader");
  // Every bootloader presents the legacy manufacturer string.
  return zk_wait_for_device(vendor_id, ZK_MANUFACTURER_LEGACY);
}

}  // namespace

int zk_upgrade_fw(const char *path, int vendor_id, const char *manufacturer, void *callback_arg,
                  zk_progress_cb callback) {
  unsigned char *image = nullptr;
  long length = file_to_buf(path, &image, "rb");
  if (length < 0) {
    ZK_LOGE("could not open file");
    return -9;
  }
  // A file beyond INT_MAX is far too large for any receiver; preparation refuses it.
  int result = zk_upgrade_fw_ext(image, length > INT_MAX ? INT_MAX : int(length), vendor_id,
                                 manufacturer, callback_arg, callback);
  free(image);
  return result;
}

int zk_upgrade_fw_ext(const unsigned char *image, int length, int vendor_id,
                      const char *manufacturer, void *callback_arg, zk_progress_cb callback) {
  if (!current_handle && zk_wait_for_device(vendor_id, manufacturer) < 0) return -13;
  if (zk_fw_state() == ZK_STATE_BOOTLOADER) {
    ZK_LOGI("bootloader open");
    zk_print_device_line("Uploading\n");
  } else {
    enter_bootloader(vendor_id);
  }
  // A receiver that came back in firmware mode has no upload_fw.
  if (!current_ops || !current_ops->upload_fw ||
      current_ops->upload_fw(image, length, callback_arg, callback) < 0) {
    ZK_LOGE("upload firmware failed");
    zk_close_device();
    return -1;
  }
  std::this_thread::sleep_for(kSettle);
  zk_close_device();
  if (zk_wait_for_device(vendor_id, ZK_MANUFACTURER) == ZK_STATE_FIRMWARE) {
    zk_print_device_line("EOK\n");
    return 0;
  }
  zk_print_device_line("Failed\n");
  return -13;
}
