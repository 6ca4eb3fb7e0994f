// Firmware generation 1 (0.x, 1.x and unknown majors): generation 2's requests,
// but the outcome of a recording or deletion arrives as one byte on the
// interrupt endpoint, there is no state request and no deletion by index.
#include "fw_common.h"
#include "usb_backend.h"

namespace {

using namespace zk::fw;

using zk::layout::kOutcomeEndpoint;

const char *zk_ver1_version_str() {
  return version_str(__func__);
}
int zk_ver1_set_record(const char *name, int timeout_s) {
  return set_record(__func__, name, timeout_s);
}
int zk_ver1_delete_buttons(const char *name) {
  return delete_buttons(__func__, name);
}
int zk_ver1_set_noise_cancel(int value) {
  return set_noise_cancel(__func__, value);
}
int zk_ver1_set_sensitivity(int value) {
  return set_sensitivity(__func__, value);
}
int zk_ver1_set_interkey_delay(int value) {
  return set_interkey_delay(__func__, value);
}
int zk_ver1_set_sleep_detect(int value) {
  return set_sleep_detect(__func__, value);
}
int zk_ver1_display_config() {
  return display_config(__func__);
}
int zk_ver1_save_config(const char *path) {
  return save_config(__func__, path);
}
int zk_ver1_load_config(const char *path) {
  return load_config(__func__, path);
}
int zk_ver1_keys_remaining() {
  return keys_remaining(__func__);
}

// The outcome is never polled on this generation.
int zk_ver1_get_state() {
  return ZK_RX_NORMAL;
}

// This generation's outcome byte, in its own codes.
enum Outcome : unsigned char { kRecorded = 0, kNoSpace = 1, kExists = 2, kKeyNotFound = 3 };

// Waits for the receiver's outcome byte: at most timeout_s seconds, or
// without limit for 0 (the desktop application's worker). A wait that ends
// takes the receiver out of record or delete mode, as later generations do.
int zk_ver1_set_interrupt(int timeout_s) {
  ZK_LOGD("Setting up Interrupt");
  unsigned char outcome[1] = {0};
  int transferred = 0;
  const unsigned timeout_ms = timeout_s > 0 ? unsigned(timeout_s) * 1000 : 0;
  int result = zk_set_interrupt_ep(kOutcomeEndpoint, outcome, 1, &transferred, timeout_ms);
  ZK_LOGD("Transferred %d bytes, Result: %X", transferred, outcome[0]);
  if (result == zk::kUsbErrorTimeout) {
    ZK_LOGE("timeout");
    zk_set_normal();
    return ZK_ERR_TIMEOUT;
  }
  // An empty read carries no outcome; it must not pass for success.
  if (result < 0 || transferred < 1) return ZK_ERR_NO_OUTCOME;
  switch (outcome[0]) {
    case kRecorded:
      return ZK_OK;
    case kNoSpace:
      ZK_LOGE("error: no space on device");
      return ZK_ERR_NO_SPACE;
    case kExists:
      ZK_LOGE("error: button exists");
      return ZK_ERR_EXISTS;
    case kKeyNotFound:
      ZK_LOGE("error: key not found");
      return ZK_ERR_NOT_FOUND;
    default:
      return outcome[0];
  }
}

}  // namespace

zk_ops *zk_fw_ver1_init() {
  zk_ops *ops = zk_new_ops(__func__);
  if (!ops) return nullptr;
  fill_shared_slots(ops);
  ops->version_str = zk_ver1_version_str;
  ops->set_record = zk_ver1_set_record;
  ops->set_interrupt = zk_ver1_set_interrupt;
  ops->delete_buttons = zk_ver1_delete_buttons;
  ops->set_noise_cancel = zk_ver1_set_noise_cancel;
  ops->set_sensitivity = zk_ver1_set_sensitivity;
  ops->set_interkey_delay = zk_ver1_set_interkey_delay;
  ops->set_sleep_detect = zk_ver1_set_sleep_detect;
  ops->get_state = zk_ver1_get_state;
  ops->display_config = zk_ver1_display_config;
  ops->save_config = zk_ver1_save_config;
  ops->load_config = zk_ver1_load_config;
  ops->keys_remaining = zk_ver1_keys_remaining;
  ops->outcome_on_interrupt = true;
  return ops;
}
