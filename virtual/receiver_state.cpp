#include "receiver_state.h"

namespace zk::virt {

namespace {

// FNV-1a, 64 bits.
void mix(uint64_t &hash, const void *bytes, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    hash ^= static_cast<const uint8_t *>(bytes)[i];
    hash *= 0x100000001B3ull;
  }
}

template <typename T>
void mix(uint64_t &hash, const T &value) {
  mix(hash, &value, sizeof value);
}

}  // namespace

int generation_of_firmware(int major) {
  switch (major) {
    case 2:
    case 255:  // beta firmware speaks the generation-2 protocol
      return 2;
    case 3:
      return 3;
    default:
      return 1;
  }
}

ReceiverState::ReceiverState() {
  reset_eeprom();
}

int ReceiverState::fw_generation() const {
  return firmware_generation != 0 ? firmware_generation : generation_of_firmware(firmware.major);
}

int ReceiverState::bl_generation() const {
  if (bootloader_generation != 0) return bootloader_generation;
  return bootloader.major == 2 ? 2 : 1;
}

void ReceiverState::set_image_size(int size) {
  eeprom[0] = static_cast<uint8_t>(size >> 8);
  eeprom[1] = static_cast<uint8_t>(size);
}

void ReceiverState::reset_eeprom() {
  eeprom.fill(0xFF);  // erased EEPROM cells read as 0xFF
  set_image_size(kHeaderSize);
  eeprom[2] = kDefaultSettingsA;
  eeprom[3] = kDefaultSettingsB;
  eeprom[4] = 0;
}

uint64_t identity_hash(const ReceiverState &s) {
  uint64_t hash = 0xCBF29CE484222325ull;
  for (const Version &v : {s.firmware, s.bootloader}) {
    mix(hash, v.major);
    mix(hash, v.minor);
    mix(hash, v.date);
  }
  mix(hash, s.product.data(), s.product.size());
  for (int value : {int(s.mode), int(s.legacy_manufacturer), int(s.firmware_product_id),
                    int(s.bootloader_product_id), s.firmware_generation, s.bootloader_generation})
    mix(hash, value);
  return hash;
}

}  // namespace zk::virt
