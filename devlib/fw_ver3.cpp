// Firmware generation 3: generation 2.1 plus sequenced modifiers.
#include "fw_common.h"

namespace {

int zk_ver3p0_set_sequence_modifiers(int value) {
  return zk::fw::set_sequence_modifiers(__func__, value);
}

}  // namespace

zk_ops *zk_fw_ver3p0_init() {
  zk_ops *ops = zk_fw_ver2p1_init();
  if (!ops) return nullptr;
  ops->set_sequence_modifiers = zk_ver3p0_set_sequence_modifiers;
  ops->get_sequence_modifiers = zk::fw::get_sequence_modifiers;
  return ops;
}
