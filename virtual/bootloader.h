// Bootloader mode of the virtual receiver: every request the receiver gets
// while it runs its bootloader comes here. Both generations share the
// version, EEPROM, restart and device information; generation 1 takes
// unnumbered 132-byte packets into consecutive pages and leaves with 0xC2/9
// (wValue 11); generation 2 takes 131-byte packets checked by page number
// and CRC-8, reports each page's status (0xC2/10) and leaves with 0xC2/11.
// Leaving boots the uploaded image only when it passes its check.
#pragma once

#include <cstdint>

namespace zk::virt {

class Receiver;
struct Setup;

// Faults of the upload protocol, kept with the receiver's state (and in its
// state file). Page numbers count from 0; -1 means none.
struct BootloaderFaults {
  // Device-information reply length; 0 gives the generation's own (7 or 6).
  int info_length = 0;
  // Page size the device information reports; 0 gives the real 128.
  int info_page_size = 0;
  // Generation 2: this page is refused as a CRC mismatch on its next
  // `reject_times` arrivals (counted down as it happens).
  int reject_page = -1;
  int reject_times = 0;
  // The receiver is pulled out while this page arrives and plugged in again
  // after the re-enumeration delay; it happens once.
  int unplug_at_page = -1;
  // After leaving the bootloader the receiver stays off the bus until it is
  // plugged in again.
  bool stay_away_after_leave = false;
};

class Bootloader {
 public:
  // Called with the receiver's lock held; may use the receiver's private
  // helpers (EEPROM access, restart, re-enumeration into firmware mode).
  // `out` holds the data stage of OUT requests (setup.length bytes arrived);
  // IN replies go to `reply` (kReplyCapacity bytes). Returns the reply
  // length, the bytes taken, or a libusb error.
  int control(Receiver &receiver, const Setup &setup, const unsigned char *out,
              unsigned char *reply);

 private:
  // Page status bytes 0-3: page number (little-endian), CRC received, CRC
  // computed; byte 4 is one of these.
  enum PageStatus : uint8_t {
    kPageTaken = 0,
    kPageCrcMismatch = 1,
    kPageShort = 2,
    kPageOutOfOrder = 3,
    kNoPage = 0xFF,
  };

  void begin_session(Receiver &receiver);
  int device_info(Receiver &receiver, unsigned char *reply);
  int page_v1(Receiver &receiver, const Setup &setup, const unsigned char *out);
  int page_v2(Receiver &receiver, const Setup &setup, const unsigned char *out);
  int page_status(unsigned char *reply);
  // True when the receiver was pulled out at this page.
  bool pulled_out_at(Receiver &receiver, int page);
  void write_page(Receiver &receiver, int page, const unsigned char *bytes);
  int restart(Receiver &receiver, unsigned char *reply);
  int leave(Receiver &receiver);
  // Loads the uploaded image as the firmware to run; false when it fails
  // its check (or there is no image and no factory firmware).
  bool boot_image(Receiver &receiver);

  // Volatile state of one run of the bootloader (one enumeration).
  uint64_t session_ = 0;
  int next_page_ = 0;  // generation 1: where the next packet goes; 2: first page not yet taken
  uint8_t status_[5] = {0, 0, 0, 0, kNoPage};
};

}  // namespace zk::virt
