#include "bootloader.h"

#include "receiver.h"
#include "usb_backend.h"

namespace zk::virt {

int Bootloader::control(Receiver &receiver, const Setup &setup, const unsigned char *,
                        unsigned char *reply) {
  if (setup.request_type != 0xC2) return kUsbErrorPipe;
  switch (setup.request) {
    case 2 /* EEPROM read */:
      return receiver.eeprom_read(setup, reply);
    case 3 /* EEPROM write */:
      return receiver.eeprom_write(setup, reply);
    case 4 /* bootloader version */:
      return receiver.version_reply(receiver.state_.bootloader, reply);
    case 6 /* restart */:
      return receiver.restart(reply);
    default:
      return kUsbErrorPipe;
  }
}

}  // namespace zk::virt
