// What the virtual receiver's bootloader keeps: its upload faults (in the
// state file) and its running state (one enumeration). Plain data, so that
// the receiver's state needs nothing of the bootloader model.
#pragma once

#include <array>
#include <cstdint>

namespace zk::virt {

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

}  // namespace zk::virt
