// Bootloader mode of the virtual receiver: every request the receiver gets
// while it runs its bootloader comes here. Both generations share the
// version, EEPROM, restart and device information; generation 1 takes
// unnumbered 132-byte packets into consecutive pages and leaves with 0xC2/9
// (wValue 11); generation 2 takes 131-byte packets checked by page number
// and CRC-8, reports each page's status (0xC2/10) and leaves with 0xC2/11.
// Leaving boots the uploaded image only when it passes its check.
#pragma once

#include <cstdint>

#include "bootloader_state.h"

namespace zk::virt {

class Receiver;
struct Setup;

struct ReceiverState;

// Makes the uploaded image the firmware the receiver runs (its version,
// generation and hash); false when it fails its check. A receiver never
// upgraded runs its factory firmware.
bool start_uploaded_firmware(ReceiverState &state);
// True when leaving the bootloader would start a firmware.
bool uploaded_firmware_sound(const ReceiverState &state);

class Bootloader {
 public:
  // Called with the receiver's lock held; may use the receiver's private
  // helpers (EEPROM access, leaving the bus) and its running state.
  // `out` holds the data stage of OUT requests (setup.length bytes arrived);
  // IN replies go to `reply` (kReplyCapacity bytes). Returns the reply
  // length, the bytes taken, or a libusb error.
  int control(Receiver &receiver, const Setup &setup, const unsigned char *out,
              unsigned char *reply);

 private:
  // Byte 4 of the page status.
  enum PageStatus : uint8_t {
    kPageTaken = 0,
    kPageCrcMismatch = 1,
    kPageShort = 2,
    kPageOutOfOrder = 3,
    kNoPage = 0xFF,
  };

  int device_info(Receiver &receiver, unsigned char *reply);
  int page_v1(Receiver &receiver, const Setup &setup, const unsigned char *out);
  int page_v2(Receiver &receiver, const Setup &setup, const unsigned char *out);
  int page_status(Receiver &receiver, unsigned char *reply);
  // True when the receiver was pulled out at this page.
  bool pulled_out_at(Receiver &receiver, int page);
  void write_page(Receiver &receiver, int page, const unsigned char *bytes);
  int restart(Receiver &receiver, unsigned char *reply);
  int leave(Receiver &receiver);
};

}  // namespace zk::virt
