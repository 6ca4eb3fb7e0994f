// Everything a virtual receiver keeps across runs: what it presents on the
// bus, its versions, its EEPROM, and how it is pressed. Plain data, so that
// the state file, the model and tests share one picture of the receiver.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "bootloader.h"

namespace zk::virt {

enum class Mode { kFirmware, kBootloader };

// Major, minor and three build-date bytes, as the version replies carry them.
struct Version {
  uint8_t major = 0;
  uint8_t minor = 0;
  std::array<uint8_t, 3> date{};
};

inline constexpr int kEepromSize = 1024;
// Bytes of EEPROM the configuration image may use: header plus 169 entries.
inline constexpr int kImageRoom = 1020;
inline constexpr int kHeaderSize = 5;
inline constexpr int kEntrySize = 6;
inline constexpr uint8_t kInterruptEndpoint = 0x83;

// Default settings: inter-key delay 6, sensitivity 3 (byte A); standard
// variant, sequence modifiers and built-in profiles on (byte B).
inline constexpr uint8_t kDefaultSettingsA = 0x36;
inline constexpr uint8_t kDefaultSettingsB = 0x06;

struct ReceiverState {
  Mode mode = Mode::kFirmware;
  bool plugged = true;
  // Firmware mode presents the current manufacturer string unless legacy;
  // the bootloader always presents the legacy one.
  bool legacy_manufacturer = false;
  uint16_t firmware_product_id = 0x0004;
  uint16_t bootloader_product_id = 0x0002;
  std::string product = "Zirko IR Receiver";
  Version firmware{3, 8, {5, 14, 24}};
  Version bootloader{2, 1, {3, 2, 23}};
  // 0 = follow the firmware version (0, 1 and unknown majors: 1; 2 and 255:
  // 2; 3: 3). Tests pin a generation with a version that does not imply it.
  int firmware_generation = 0;
  // 0 = follow the bootloader version (major 2: 2, else 1).
  int bootloader_generation = 0;
  uint32_t scm_hash = 0x5EEDC0DE;
  std::array<uint8_t, kEepromSize> eeprom{};
  // Remote buttons waiting to be pressed, oldest first.
  std::deque<uint32_t> presses;
  // Presses come by themselves (fresh hashes once the queue is empty) this
  // long after the receiver starts waiting for a button.
  bool auto_press = true;
  int press_delay_ms = 1000;
  uint32_t next_fresh_hash = 0x1000;
  int reenumerate_delay_ms = 100;
  // Flash contents written by the bootloader; empty while never upgraded.
  std::vector<uint8_t> flash;
  // Faults of the upload protocol (see bootloader.h).
  BootloaderFaults bootloader_faults;
  // Requests the receiver answers with a USB error instead of serving them,
  // so that a person or a script can see how the programs take a failure.
  struct FailingRequest {
    uint8_t request_type;
    uint8_t request;
    int error;  // libusb error code, e.g. -9 for a stall
  };
  std::vector<FailingRequest> failing_requests;

  ReceiverState();
  // Effective generations after the version rules.
  int fw_generation() const;
  int bl_generation() const;
  // Used size from the header; invalid values are returned unchanged.
  int image_size() const { return eeprom[0] << 8 | eeprom[1]; }
  void set_image_size(int size);
  // Empty configuration image with default settings.
  void reset_eeprom();
};

// Generation of a firmware version major: 0, 1 and unknown majors fall back
// to generation 1, exactly as the host library chooses its tables.
int generation_of_firmware(int major);

}  // namespace zk::virt
