// Firmware generation 2 (2.0 to 2.6 and beta firmware): the outcome of a
// recording or deletion is polled as a state code.
#include "fw_common.h"

namespace {

using namespace zk::fw;

const char *zk_ver2_version_str() {
  return version_str(__func__);
}
int zk_ver2_set_record(const char *name, int timeout_s) {
  return set_record(__func__, name, timeout_s);
}
int zk_ver2_set_interrupt(int timeout_s) {
  return wait_outcome(__func__, timeout_s);
}
int zk_ver2_delete_buttons(const char *name) {
  return delete_buttons(__func__, name);
}
int zk_ver2_delete_index(int index) {
  return delete_index(__func__, index);
}
int zk_ver2_set_noise_cancel(int value) {
  return set_noise_cancel(__func__, value);
}
int zk_ver2_set_sensitivity(int value) {
  return set_sensitivity(__func__, value);
}
int zk_ver2_set_interkey_delay(int value) {
  return set_interkey_delay(__func__, value);
}
int zk_ver2_set_sleep_detect(int value) {
  return set_sleep_detect(__func__, value);
}
int zk_ver2_display_config() {
  return display_config(__func__);
}
int zk_ver2_save_config(const char *path) {
  return save_config(__func__, path);
}
int zk_ver2_load_config(const char *path) {
  return load_config(__func__, path);
}
int zk_ver2_keys_remaining() {
  return keys_remaining(__func__);
}
int zk_ver2p1_set_builtin_profile_support(int value) {
  return set_builtin_profile_support(__func__, value);
}

}  // namespace

zk_ops *zk_fw_ver2_init() {
  zk_ops *ops = zk_new_ops(__func__);
  if (!ops) return nullptr;
  fill_shared_slots(ops);
  ops->version_str = zk_ver2_version_str;
  ops->set_record = zk_ver2_set_record;
  ops->set_interrupt = zk_ver2_set_interrupt;
  ops->delete_buttons = zk_ver2_delete_buttons;
  ops->set_noise_cancel = zk_ver2_set_noise_cancel;
  ops->set_sensitivity = zk_ver2_set_sensitivity;
  ops->set_interkey_delay = zk_ver2_set_interkey_delay;
  ops->set_sleep_detect = zk_ver2_set_sleep_detect;
  ops->get_state = get_state;
  ops->display_config = zk_ver2_display_config;
  ops->save_config = zk_ver2_save_config;
  ops->load_config = zk_ver2_load_config;
  ops->keys_remaining = zk_ver2_keys_remaining;
  ops->delete_index = zk_ver2_delete_index;
  return ops;
}

// 2.1 to 2.6 add the switch for the built-in remote profiles.
zk_ops *zk_fw_ver2p1_init() {
  zk_ops *ops = zk_fw_ver2_init();
  if (!ops) return nullptr;
  ops->get_builtin_profile_support = get_builtin_profile_support;
  ops->set_builtin_profile_support = zk_ver2p1_set_builtin_profile_support;
  return ops;
}
