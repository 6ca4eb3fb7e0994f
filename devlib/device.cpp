// Device state, generation selection and the dispatch of every device call.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "internal.h"
#include "zirko_history.h"

zk_device *current_device = nullptr;
zk_usb_handle *current_handle = nullptr;
zk_ops *current_ops = nullptr;

namespace {

// Refusal texts of an empty slot; the second is for the settings that came with later firmware.
constexpr const char *kNoOperation = "invalid operation for this device or version";
constexpr const char *kNoFwOperation = "invalid operation for this device or fw version";

using VersionReply = std::array<unsigned char, 8>;  // major, minor, three date bytes

// The one place that knows about empty slots: calls the slot of the current
// table, or logs the refusal under the public call's name and answers -12.
template <auto Slot, typename... Args>
int call_slot(const char *caller, int line, const char *refusal, Args... args) {
  if (current_ops && current_ops->*Slot) return (current_ops->*Slot)(args...);
  zk_log(ZK_LOG_DEBUG, "[D] %s(%d): %s\n", caller, line, refusal);
  return ZK_ERR_UNSUPPORTED;
}
#define ZK_DISPATCH(slot, refusal, ...) \
  call_slot<&zk_ops::slot>(__func__, __LINE__, refusal __VA_OPT__(, ) __VA_ARGS__)

// The same for an operation that changes the receiver: it runs holding the
// writer lock, or not at all.
template <auto Slot, typename... Args>
int call_writing_slot(const char *caller, int line, const char *refusal, Args... args) {
  const zk::WriteLock lock;
  if (lock.result() < 0) return lock.result();
  return call_slot<Slot>(caller, line, refusal, args...);
}
#define ZK_DISPATCH_WRITE(slot, refusal, ...) \
  call_writing_slot<&zk_ops::slot>(__func__, __LINE__, refusal __VA_OPT__(, ) __VA_ARGS__)

void install_ops(zk_ops *ops) {
  delete current_ops;
  current_ops = ops;
}

// Reads the version reply into `reply`: 0, -9 without a handle, or -16 after
// the USB error text ("Success" for an empty reply), logged as `caller`.
int read_version(const char *caller, VersionReply &reply) {
  static_assert(std::tuple_size_v<VersionReply> == 8, "the version reply is 8 bytes");
  if (!current_handle) {
    ZK_LOGD_AS(caller, "invalid device");
    return ZK_ERR_NO_HANDLE;
  }
  const int result = zk::version_request(reply.data(), 5000 /* ms */);
  return zk::transfer_result(caller, result, 1) < 0 ? ZK_ERR_USB : 0;
}

zk_ops *select_bootloader(const char *caller, int major, int minor) {
  switch (major) {
    case 1:
      ZK_LOGD_AS(caller, "initializing btldr ver1");
      return zk_bl_ver1_init();
    case 2:
      if (minor == 0 || minor == 1) {
        ZK_LOGD_AS(caller, "initializing btldr ver2.%d", minor);
      } else {
        ZK_LOGD_AS(caller, "unknown minor, initializing v2.0");
      }
      return zk_bl_ver2_init();
    case -1:
      ZK_LOGE_AS(caller, "can not read version, unplug/plug device");
      return nullptr;
    default:
      ZK_LOGE_AS(caller, "version not supported, loading def: ver1");
      return zk_bl_ver1_init();
  }
}

zk_ops *select_firmware2(const char *caller, int minor) {
  if (minor == 0) {
    ZK_LOGD_AS(caller, "initializing fw ver2.0");
    return zk_fw_ver2_init();
  }
  if (minor >= 1 && minor <= 6) {
    ZK_LOGD_AS(caller, "initializing fw ver2.%d", minor);
    return zk_fw_ver2p1_init();
  }
  ZK_LOGD_AS(caller, "unknown minor version, using 2.0");
  return zk_fw_ver2_init();
}

zk_ops *select_firmware(const char *caller, int major, int minor) {
  switch (major) {
    case 0:
      ZK_LOGD_AS(caller, "major version 0, initializing fw ver1");
      return zk_fw_ver1_init();
    case 1:
      ZK_LOGD_AS(caller, "initializing fw ver1");
      return zk_fw_ver1_init();
    case 2:
      return select_firmware2(caller, minor);
    case 3:
      if (minor == 0 || minor == 1 || minor == 6 || minor == 7)
        ZK_LOGD_AS(caller, "initializing fw ver3.%d", minor);
      return zk_fw_ver3p0_init();
    case 255:
      ZK_LOGD_AS(caller, "beta firmware, initializing fw ver2");
      return zk_fw_ver2_init();
    case -1:
      ZK_LOGE_AS(caller, "can not read version, unplug/plug device");
      return nullptr;
    default:
      ZK_LOGE_AS(caller, "read: %d", major);
      ZK_LOGE_AS(caller, "version not supported, loading def: ver1");
      return zk_fw_ver1_init();
  }
}

std::string followed_position;

// The version reply the open read, for callers that need it again.
VersionReply opened_reply{};
bool opened_known = false;

// Makes the followed receiver current, or the first found; false when the
// followed one is not among them. A receiver followed is the only one kept
// open: the others are no business of this program.
bool select_device() {
  zk_first_device();
  if (followed_position.empty()) return true;
  while (current_device && zk_bus_position(current_device) != followed_position) zk_next_device();
  zk_discard_others();
  return current_device != nullptr;
}

// One scan with one manufacturer string: how many were found, with the
// receiver to use current, or 0.
int scan_and_select(int vendor_id, const char *manufacturer) {
  zk_discard_devices();
  int found = zk_open_devices(zk_get_device_list(), vendor_id, manufacturer);
  if (found <= 0 || select_device()) return found;
  zk_discard_devices();
  return 0;
}

// Scans with the asked manufacturer string, then with the legacy one. Each
// scan replaces the list of the one before, so no handle outlives its scan.
int _zk_open_device(int vendor_id, const char *manufacturer) {
  zk_close_device();
  int found = scan_and_select(vendor_id, manufacturer);
  // A bus without any device of the vendor needs no second look.
  if (found <= 0 && zk_last_scan_saw_vendor())
    found = scan_and_select(vendor_id, ZK_MANUFACTURER_LEGACY);
  if (found <= 0) ZK_LOGD("\n No devices found\n\n");
  return found;
}

// Closes the receiver that could not be initialised; -19.
int refuse_device(const char *caller, const char *reason) {
  ZK_LOGE_AS(caller, "%s", reason);
  zk_close_device();
  return ZK_ERR_NOT_USABLE;
}

// Opens every `poll_ms` until a receiver answers, a dot a second on standard
// output; a non-negative `limit_us` ends the wait with -6.
int wait_for_device(int vendor_id, const char *manufacturer, int64_t limit_us, int poll_ms) {
  const zk::WaitClock &clock = zk::wait_clock();
  const int64_t start = clock.now_us();
  int64_t next_dot_us = 1000000;
  zk_print_device_line("Waiting");
  int result;
  while ((result = zk_open_device(vendor_id, manufacturer)) < 0) {
    const int64_t waited = clock.now_us() - start;
    if (limit_us >= 0 && waited >= limit_us) {
      fputs("\n", stdout);
      ZK_LOGE_AS("zk_wait_for_device", "no receiver within %d s", int(limit_us / 1000000));
      return ZK_ERR_NO_RECEIVER;
    }
    if (zk_stop_requested()) {
      fputs("\n", stdout);
      return ZK_ERR_INTERRUPTED;
    }
    clock.sleep_ms(poll_ms);
    if (clock.now_us() - start >= next_dot_us) {
      next_dot_us += 1000000;
      fputs(".", stdout);
      fflush(stdout);
    }
  }
  fputs("\n", stdout);
  zk_print_device_line(result == ZK_STATE_BOOTLOADER ? "Bootloader Detected\n" : "FW Detected\n");
  return result;
}

}  // namespace

namespace zk {
void follow_bus_position(const std::string &position) {
  followed_position = position;
}
const std::string &followed_bus_position() {
  return followed_position;
}
}  // namespace zk

void zk_choose_device(const char *position) {
  followed_position = position ? position : "";
}

const char *zk_chosen_device() {
  return followed_position.c_str();
}

float zk_version_number(int major, int minor) {
  if (major < 0) return float(major);
  return major + minor / (minor < 10 ? 10.0f : 100.0f);
}

void zk_print_device_line(const char *text) {
  printf("[DEVICE]        %s", text);
  fflush(stdout);
}

zk_ops *zk_new_ops(const char *caller) {
  zk_ops *ops = new (std::nothrow) zk_ops{};
  if (!ops) ZK_LOGE_AS(caller, "Could not allocate memory");
  return ops;
}

zk_ops *determine_iface(int type, int major, int minor) {
  ZK_LOGD("fw_state: %s", type == ZK_STATE_FIRMWARE ? "firmware" : "bootloader");
  ZK_LOGD("version: %d.%d", major, minor);
  if (type == ZK_STATE_FIRMWARE) return select_firmware(__func__, major, minor);
  return select_bootloader(__func__, major, minor);
}

int zk_open_device(int vendor_id, const char *manufacturer) {
  if (_zk_open_device(vendor_id, manufacturer) <= 0) {
    ZK_LOGD("no device found");
    current_handle = nullptr;
    install_ops(zk_new_ops(__func__));  // every dispatch call now answers -12
    return ZK_ERR_NO_RECEIVER;
  }
  // One read gives both numbers.
  VersionReply reply{};
  const bool read = read_version("zk_major_version", reply) == 0;
  int major = read ? reply[0] : ZK_ERR_USB;
  int minor = read ? reply[1] : ZK_ERR_USB;
  int type = current_device->bootloader ? ZK_STATE_BOOTLOADER : ZK_STATE_FIRMWARE;
  if (type == ZK_STATE_BOOTLOADER) {
    ZK_LOGD("Bootloader v:%d.%d", major, minor);
  } else {
    ZK_LOGD("Firmware v:%d.%d", major, minor);
  }
  if (major < 0 || minor < 0)
    return refuse_device(__func__, "invalid device, can't initialize, closing");
  zk_ops *ops = determine_iface(type, major, minor);
  if (!ops) return refuse_device(__func__, "no interface registered, closing");
  install_ops(ops);
  opened_reply = reply;
  opened_known = true;
  return type;
}

void zk_close_device() {
  if (!current_handle) return;
  ZK_LOGI("closing device handle");
  zk::forget_snapshot();
  opened_known = false;
  zk_close_usb(current_device, zk_fw_state());
  current_handle = nullptr;
  zk_unlink_device(current_device);
  free(current_device);
  current_device = nullptr;
  zk_discard_devices();  // the other receivers of the same scan
  install_ops(nullptr);
}

int zk_wait_for_device(int vendor_id, const char *manufacturer) {
  return wait_for_device(vendor_id, manufacturer, -1, 1000 /* ms */);
}

int zk_wait_for_device_for(int vendor_id, const char *manufacturer, int timeout_ms) {
  return zk_wait_for_device_every(vendor_id, manufacturer, timeout_ms, 100 /* ms */);
}

int zk_wait_for_device_every(int vendor_id, const char *manufacturer, int timeout_ms, int poll_ms) {
  return wait_for_device(vendor_id, manufacturer, int64_t(timeout_ms < 0 ? 0 : timeout_ms) * 1000,
                         poll_ms);
}

int zk_outcome_on_interrupt() {
  if (!current_ops || zk_fw_state() != ZK_STATE_FIRMWARE) return ZK_ERR_NOT_USABLE;
  return current_ops->outcome_on_interrupt ? 1 : 0;
}

int zk_fw_state() {
  if (!current_device) return ZK_ERR_UNSUPPORTED;
  return current_device->bootloader ? ZK_STATE_BOOTLOADER : ZK_STATE_FIRMWARE;
}

float zk_version() {
  VersionReply reply{};
  int result = read_version(__func__, reply);
  if (result < 0) return float(result);
  return zk_version_number(reply[0], reply[1]);
}

int zk_major_version() {
  VersionReply reply{};
  int result = read_version(__func__, reply);
  return result < 0 ? result : reply[0];
}

int zk_minor_version() {
  VersionReply reply{};
  int result = read_version(__func__, reply);
  return result < 0 ? result : reply[1];
}

int zk_opened_version(int *major, int *minor) {
  const int result = current_handle && opened_known ? ZK_OK : ZK_ERR_NO_HANDLE;
  if (major) *major = result < 0 ? result : opened_reply[0];
  if (minor) *minor = result < 0 ? result : opened_reply[1];
  return result;
}

int zk_read_version(int *major, int *minor) {
  VersionReply reply{};
  const int result = read_version(__func__, reply);
  if (major) *major = result < 0 ? result : reply[0];
  if (minor) *minor = result < 0 ? result : reply[1];
  return result;
}

int zk::version_request(unsigned char *reply, unsigned timeout_ms) {
  const int request = zk_fw_state() == ZK_STATE_BOOTLOADER ? 4 /* read version, bootloader */
                                                           : 1 /* read version, firmware */;
  return zk_send_msg(0xC2, request, 0, 0, reply, 8, timeout_ms);
}

const char *zk_version_str() {
  if (current_ops && current_ops->version_str) return current_ops->version_str();
  ZK_LOGD("%s", kNoOperation);
  return nullptr;
}

const char *zk_bl_version_str() {
  static char text[50];
  VersionReply reply{};
  if (read_version(__func__, reply) < 0) return nullptr;
  snprintf(text, sizeof text, "%g %02d-%02d-20%02d", zk_version_number(reply[0], reply[1]),
           reply[2], reply[3], reply[4]);
  return text;
}

int zk_get_state() {
  if (zk_fw_state() == ZK_STATE_BOOTLOADER) return 0;  // the bootloader keeps no recording state
  return ZK_DISPATCH(get_state, kNoOperation);
}

int zk_device_set_dfu() {
  if (current_device && current_device->bootloader) {
    ZK_LOGI("device already in bootloader");
    return 1;
  }
  return ZK_DISPATCH_WRITE(device_set_dfu, kNoOperation);
}

int zk_leave_bootloader() {
  return ZK_DISPATCH_WRITE(leave_bootloader, kNoOperation);
}
int zk_reboot() {
  return ZK_DISPATCH_WRITE(reboot, kNoOperation);
}
int zk_set_delete(int wait) {
  return ZK_DISPATCH_WRITE(set_delete, kNoOperation, wait);
}
int zk_set_record(const char *key_name, int timeout_s) {
  return ZK_DISPATCH_WRITE(set_record, kNoOperation, key_name, timeout_s);
}
int zk_set_record_api(int modifier, int key_code, int timeout_s) {
  return ZK_DISPATCH_WRITE(set_record_api, kNoOperation, modifier, key_code, timeout_s);
}
int zk_set_normal() {
  return ZK_DISPATCH(set_normal, kNoOperation);
}
int zk_set_interrupt(int timeout_s) {
  return ZK_DISPATCH(set_interrupt, kNoOperation, timeout_s);
}
int zk_delete_buttons(const char *key_name) {
  return ZK_DISPATCH_WRITE(delete_buttons, kNoOperation, key_name);
}
int zk_set_noise_cancel(int value) {
  return ZK_DISPATCH_WRITE(set_noise_cancel, kNoOperation, value);
}
int zk_get_noise_cancel() {
  return ZK_DISPATCH(get_noise_cancel, kNoOperation);
}
int zk_set_sensitivity(int value) {
  return ZK_DISPATCH_WRITE(set_sensitivity, kNoOperation, value);
}
int zk_get_sensitivity() {
  return ZK_DISPATCH(get_sensitivity, kNoOperation);
}
int zk_set_interkey_delay(int value) {
  return ZK_DISPATCH_WRITE(set_interkey_delay, kNoOperation, value);
}
int zk_get_interkey_delay() {
  return ZK_DISPATCH(get_interkey_delay, kNoOperation);
}
int zk_get_sleep_detect() {
  return ZK_DISPATCH(get_sleep_detect, kNoFwOperation);
}
int zk_set_sleep_detect(int value) {
  return ZK_DISPATCH_WRITE(set_sleep_detect, kNoFwOperation, value);
}
int zk_get_builtin_profile_support() {
  return ZK_DISPATCH(get_builtin_profile_support, kNoFwOperation);
}
int zk_set_builtin_profile_support(int value) {
  return ZK_DISPATCH_WRITE(set_builtin_profile_support, kNoFwOperation, value);
}
int zk_set_sequence_modifiers(int value) {
  return ZK_DISPATCH_WRITE(set_sequence_modifiers, kNoFwOperation, value);
}
int zk_get_sequence_modifiers() {
  return ZK_DISPATCH(get_sequence_modifiers, kNoFwOperation);
}
int zk_clear_state() {
  return ZK_DISPATCH(clear_state, kNoOperation);
}
int zk_display_config() {
  return ZK_DISPATCH(display_config, kNoOperation);
}
int zk_format_config() {
  return ZK_DISPATCH_WRITE(format_config, kNoOperation);
}
int zk_save_config(const char *path) {
  return ZK_DISPATCH(save_config, kNoOperation, path);
}
int zk_load_config(const char *path) {
  return ZK_DISPATCH_WRITE(load_config, kNoOperation, path);
}
int zk_keys_recorded() {
  return ZK_DISPATCH(keys_recorded, kNoOperation);
}
int zk_keys_remaining() {
  return ZK_DISPATCH(keys_remaining, kNoOperation);
}
int zk_last_upgrade_attempt() {
  return ZK_DISPATCH(last_upgrade_attempt, kNoOperation);
}
int zk_delete_index(int index) {
  return ZK_DISPATCH_WRITE(delete_index, kNoOperation, index);
}
int zk_fw_scm_hash() {
  return ZK_DISPATCH(fw_scm_hash, kNoOperation);
}
int zk_upload_fw(const unsigned char *image, int size, void *callback_arg,
                 zk_progress_cb callback) {
  return ZK_DISPATCH_WRITE(upload_fw, kNoOperation, image, size, callback_arg, callback);
}
