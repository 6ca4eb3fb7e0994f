// Bootloader mode of the virtual receiver: every request the receiver gets
// while it runs its bootloader comes here. Today it answers what any
// bootloader must (version, EEPROM, restart); device information, page
// packets, page status and leaving the bootloader belong here as well.
#pragma once

#include <cstdint>

namespace zk::virt {

class Receiver;
struct Setup;

class Bootloader {
 public:
  // Called with the receiver's lock held; may use the receiver's private
  // helpers (EEPROM access, restart, re-enumeration into firmware mode).
  // `out` holds the data stage of OUT requests; IN replies go to `reply`
  // (kReplyCapacity bytes). Returns the reply length or a libusb error.
  int control(Receiver &receiver, const Setup &setup, const unsigned char *out,
              unsigned char *reply);
};

}  // namespace zk::virt
