// Bootloader mode of the virtual receiver: every request the receiver gets
// while it runs its bootloader comes here. Both generations share the
// version, EEPROM, restart and device information; generation 1 takes
// unnumbered 132-byte packets into consecutive pages and leaves with 0xC2/9
// (wValue 11); generation 2 takes 131-byte packets checked by page number
// and CRC-8, reports each page's status (0xC2/10) and leaves with 0xC2/11.
// Leaving boots the uploaded image only when it passes its check.
#pragma once

#include <array>
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
  bool operator==(const BootloaderFaults &) const = default;
};

// What the bootloader keeps in RAM during one run (one enumeration).
struct BootloaderRun {
  int next_page = 0;  // generation 1: where the next packet goes; 2: first page not yet taken
  // Status of the last page (generation 2): page number (little-endian), CRC
  // received, CRC computed, and one of Bootloader::PageStatus.
  std::array<uint8_t, 5> status{0, 0, 0, 0, 0xFF};
  bool operator==(const BootloaderRun &) const = default;
};

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
