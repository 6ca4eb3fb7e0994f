#include "receiver_state.h"

namespace zk::virt {

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

}  // namespace zk::virt
