// What the hostile-receiver fuzz target and its seed recorder share: how the
// input encodes the answers to USB calls, and the library operations a run
// goes through.
//
// Input: four script bytes (operations, delete index, setting value, record
// choice), then one answer per USB call in the order the library makes them:
//   device list    count % 3 devices
//   descriptor     bit 7: foreign vendor; bits 0-6: product (kProducts)
//   open           0
//   string         index into kStrings, or any other value, a length byte
//                  (% 64) and that many characters
//   transfer       bytes transferred (at most the length asked), then for IN
//                  transfers the reply bytes
// Any answer of kErrorMark or above is the error kErrors[low nibble]. Once
// the input runs out, every call finds the receiver gone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "image.h"
#include "internal.h"
#include "usb_backend.h"
#include "zirko.h"

namespace zk::fuzz::usb {

inline constexpr uint8_t kErrorMark = 0xF0;
inline constexpr int kErrors[] = {
    kUsbErrorIo,
    kUsbErrorInvalidParam,
    kUsbErrorAccess,
    kUsbErrorNoDevice,
    kUsbErrorNotFound,
    kUsbErrorBusy,
    kUsbErrorTimeout,
    kUsbErrorOverflow,
    kUsbErrorPipe,
    kUsbErrorInterrupted,
    kUsbErrorNoMem,
    kUsbErrorNotSupported,
    kUsbErrorOther,
    -13,
    -100,
    1 << 20,  // a positive code from nowhere
};
inline constexpr uint8_t kGone = kErrorMark | 3;  // kUsbErrorNoDevice
inline constexpr const char *kStrings[] = {ZK_MANUFACTURER, ZK_MANUFACTURER_LEGACY, "bootldr",
                                           "Zirko IR Receiver"};
inline constexpr uint16_t kProducts[] = {0x0000, 0x0001, 0x0002, 0x0004, 0x0003, 0xFFFF};
inline constexpr uint8_t kForeignVendor = 0x80;
inline constexpr uint16_t kForeignVendorId = 0x1234;
inline constexpr int kMaxRawString = 64;

enum Operation : uint8_t {
  kSettings = 1 << 0,
  kKeys = 1 << 1,
  kSave = 1 << 2,
  kLoad = 1 << 3,
  kDelete = 1 << 4,
  kRecord = 1 << 5,
  kUpgrade = 1 << 6,
};

struct Script {
  uint8_t operations = 0xFF;
  uint8_t delete_index = 0;
  uint8_t setting = 0;
  uint8_t record = 0;  // bits 0-1: what to record or delete; bit 7: the longest wait
};

// The files a run reads and writes, and the firmware it uploads.
struct Files {
  std::string save_path = scratch_path("saved.zcfg");
  std::string config_path = scratch_path("load.zcfg");
  // Two pages, the smallest image an upgrade takes, and one the virtual
  // bootloader boots.
  std::vector<uint8_t> firmware = virt::make_image({{3, 8, {1, 15, 25}}, 0, 0x38001400}, 256);

  Files() {
    // Three buttons after the header and both settings bytes.
    const uint8_t config[23] = {0x00, 23, 0x36, 0x06, 0xFF, 1, 0, 0, 0, 0,    0x04, 2,
                                0,    0,  0,    0,    0x05, 3, 0, 0, 0, 0x02, 0x06};
    write_file(config_path, config, sizeof config);
  }
};

inline void run_settings(int value) {
  zk_version_str();
  zk_fw_scm_hash();
  zk_product_type();
  zk_last_upgrade_attempt();
  zk_get_interkey_delay();
  zk_set_interkey_delay(value % 8);
  zk_get_sensitivity();
  zk_set_sensitivity(value % 4);
  zk_get_noise_cancel();
  zk_set_noise_cancel(value % 4);
  zk_get_sleep_detect();
  zk_set_sleep_detect(value % 2);
  zk_get_builtin_profile_support();
  zk_set_builtin_profile_support(value % 2);
  zk_get_sequence_modifiers();
  zk_set_sequence_modifiers(value % 2);
}

inline void run_keys() {
  zk_display_config();
  zk_keys_recorded();
  zk_keys_remaining();
}

inline void run_record(uint8_t choice) {
  const int timeout_s = choice & 0x80 ? 0 : 5;  // 0: the longest wait
  switch (choice % 4) {
    case 0:
      zk_set_record("a", timeout_s);
      break;
    case 1:
      zk_set_record("vol_up", timeout_s);
      break;
    case 2:
      zk_set_record_api(0x02, 0x04, timeout_s);
      break;
    default:
      zk_set_delete(1);
      zk_delete_buttons("a");
      break;
  }
  zk_get_state();
  zk_clear_state();
  zk_set_normal();
}

// Opens the receiver, runs the script's operations, and closes it again.
inline void run(const Script &script, const Files &files) {
  zk_open_device(ZK_VENDOR_ID, ZK_MANUFACTURER);
  if (script.operations & kSettings) run_settings(script.setting);
  if (script.operations & kKeys) run_keys();
  if (script.operations & kSave) zk_save_config(files.save_path.c_str());
  if (script.operations & kLoad) zk_load_config(files.config_path.c_str());
  if (script.operations & kDelete) zk_delete_index(script.delete_index);
  if (script.operations & kRecord) run_record(script.record);
  if (script.operations & kUpgrade)
    zk_upgrade_fw_ext(files.firmware.data(), int(files.firmware.size()), ZK_VENDOR_ID,
                      ZK_MANUFACTURER, nullptr, nullptr);
  zk_close_device();
}

// A clock whose sleeps pass at once; `limit_us` of waiting in one run is a hang.
class FakeClock {
 public:
  static void install(int64_t limit_us) {
    limit_us_ = limit_us;
    static const WaitClock clock{now, sleep};
    set_wait_clock(&clock);
  }
  static void start_run() { run_start_us_ = now_us_; }

 private:
  static int64_t now() { return now_us_; }
  static void sleep(int ms) {
    now_us_ += int64_t(ms) * 1000;
    if (limit_us_ > 0 && now_us_ - run_start_us_ > limit_us_)
      fail("hang: the library waited more than %lld s (of fake time) in one run",
           static_cast<long long>(limit_us_ / 1000000));
  }
  static inline int64_t now_us_ = 0;
  static inline int64_t run_start_us_ = 0;
  static inline int64_t limit_us_ = 0;
};

}  // namespace zk::fuzz::usb
