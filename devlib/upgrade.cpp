// Firmware upgrade: firmware to bootloader, upload, and back to firmware.
// Every change of mode goes through close, wait and open, because the
// operation table is chosen only when a receiver opens.
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "bl_common.h"
#include "internal.h"
#include "usb_backend.h"

namespace {

// A receiver restarts in well under a second; one still answering after
// this has refused to restart.
constexpr int kLeaveTimeoutMs = 10000;
// A receiver re-enumerates in a second or two; one that takes longer than
// this is not coming back by itself.
constexpr int kReturnTimeoutMs = 30000;
// Bus polls while a receiver leaves and comes back.
constexpr int kPollMs = 20;
using zk::layout::kMaxFirmwareSize;

constexpr const char *kUpgrade = "zk_upgrade_fw_ext";

// Asks the open receiver for its version until it stops answering: it has
// left the bus to restart. False when it still answers at the time-out.
bool wait_until_left() {
  const zk::WaitClock &clock = zk::wait_clock();
  const int64_t start = clock.now_us();
  unsigned char reply[8];
  for (;;) {
    int result = zk::version_request(reply, 1000 /* ms */);
    if (result == zk::kUsbErrorNoDevice || result == zk::kUsbErrorIo) return true;
    if (clock.now_us() - start >= int64_t(kLeaveTimeoutMs) * 1000) return false;
    clock.sleep_ms(kPollMs);
  }
}

// Waits for the receiver to come back: the wait's result.
int wait_for_return(int vendor_id, const char *manufacturer) {
  return zk_wait_for_device_every(vendor_id, manufacturer, kReturnTimeoutMs, kPollMs);
}

// Brings the open receiver into its bootloader: the wait's result, or -13
// when the receiver refused to switch.
int enter_bootloader(int vendor_id) {
  zk_print_device_line("Setting DFU\n");
  if (zk_device_set_dfu() < 0 || !wait_until_left()) {
    ZK_LOGE_AS(kUpgrade, "the receiver did not switch to its bootloader; nothing was changed");
    return ZK_ERR_UPGRADE;
  }
  zk_close_device();
  ZK_LOGI_AS(kUpgrade, "waiting for bootloader");
  // Every bootloader presents the legacy manufacturer string.
  int result = wait_for_return(vendor_id, ZK_MANUFACTURER_LEGACY);
  if (result < 0) {
    ZK_LOGE_AS(kUpgrade,
               "the receiver did not come back in its bootloader; unplug it, plug it "
               "in again and rerun the upgrade");
  }
  return result;
}

// Back to firmware after the upload: 0, or -13 after "[DEVICE] Failed".
int return_to_firmware(int vendor_id) {
  wait_until_left();
  zk_close_device();
  if (wait_for_return(vendor_id, ZK_MANUFACTURER) == ZK_STATE_FIRMWARE) {
    zk_print_device_line("EOK\n");
    return 0;
  }
  zk_print_device_line("Failed\n");
  return ZK_ERR_UPGRADE;
}

// Follows the receiver being upgraded, and no other, through its
// re-enumerations until the upgrade ends; then opens follow the receiver
// chosen before, if any.
class FollowReceiver {
 public:
  explicit FollowReceiver(const zk_device *device) : before_(zk::followed_bus_position()) {
    zk::follow_bus_position(zk_bus_position(device));
  }
  ~FollowReceiver() { zk::follow_bus_position(before_); }
  FollowReceiver(const FollowReceiver &) = delete;
  FollowReceiver &operator=(const FollowReceiver &) = delete;

 private:
  const std::string before_;
};

}  // namespace

int zk_check_fw_image(const unsigned char *image, long length) {
  if (!image || length <= 0) {
    ZK_LOGE("firmware image is empty");
    return ZK_ERR_INVALID;
  }
  if (length % zk::bl::kPageSize != 0) {
    ZK_LOGE("firmware image of %ld bytes: its size must be a multiple of %d", length,
            zk::bl::kPageSize);
    return ZK_ERR_INVALID;
  }
  if (length > kMaxFirmwareSize) {
    ZK_LOGE("firmware image of %ld bytes: larger than the receiver's %ld bytes of flash", length,
            kMaxFirmwareSize);
    return ZK_ERR_INVALID;
  }
  return 0;
}

int zk_enter_bootloader(int vendor_id) {
  if (zk_fw_state() == ZK_STATE_BOOTLOADER) return ZK_STATE_BOOTLOADER;
  if (zk_fw_state() != ZK_STATE_FIRMWARE) return ZK_ERR_NOT_USABLE;
  const zk::WriteLock lock;
  if (lock.result() < 0) return lock.result();
  FollowReceiver follow(current_device);
  int result = enter_bootloader(vendor_id);
  if (result == ZK_STATE_FIRMWARE) {  // came back without switching
    ZK_LOGE_AS(kUpgrade, "the receiver did not switch to its bootloader; nothing was changed");
    return ZK_ERR_UPGRADE;
  }
  return result;
}

int zk_upgrade_fw(const char *path, int vendor_id, const char *manufacturer, void *callback_arg,
                  zk_progress_cb callback) {
  unsigned char *image = nullptr;
  long length = file_to_buf(path, &image, "rb");
  if (length < 0) {
    ZK_LOGE("could not open file");
    return ZK_ERR_FILE_IO;
  }
  // A file beyond INT_MAX is far too large for any receiver; the check refuses it.
  int result = zk_upgrade_fw_ext(image, length > INT_MAX ? INT_MAX : int(length), vendor_id,
                                 manufacturer, callback_arg, callback);
  free(image);
  return result;
}

int zk_upgrade_fw_ext(const unsigned char *image, int length, int vendor_id,
                      const char *manufacturer, void *callback_arg, zk_progress_cb callback) {
  if (!current_handle && zk_wait_for_device_for(vendor_id, manufacturer, kReturnTimeoutMs) < 0)
    return ZK_ERR_UPGRADE;
  // Held through the receiver's restarts: its bus position stays the same.
  const zk::WriteLock lock;
  if (lock.result() < 0) return lock.result();
  FollowReceiver follow(current_device);
  if (zk_fw_state() == ZK_STATE_BOOTLOADER) {
    ZK_LOGI("bootloader open");
    zk_print_device_line("Uploading\n");
  } else {
    // A bad image is refused while the receiver still runs its firmware: a
    // generation-1 bootloader cannot leave without a good one. In its
    // bootloader the receiver's own size check applies.
    if (zk_check_fw_image(image, length) < 0) return ZK_ERR_UPGRADE;
    if (enter_bootloader(vendor_id) < 0) return ZK_ERR_UPGRADE;
  }
  // A receiver that came back in firmware mode has no upload (-12).
  if (zk_upload_fw(image, length, callback_arg, callback) < 0) {
    ZK_LOGE("upload firmware failed");
    zk_close_device();
    return ZK_ERR_FAILED;
  }
  return return_to_firmware(vendor_id);
}
