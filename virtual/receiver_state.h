// Everything a virtual receiver keeps across runs: what it presents on the
// bus, its versions, its EEPROM, and how it is pressed and how fast it works;
// and, apart from it, what its RAM holds while it runs. Plain data, so that
// the state file, the model and tests share one picture of the receiver.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "bootloader_state.h"

namespace zk::virt {

enum class Mode { kFirmware, kBootloader };

// Major, minor and three build-date bytes, as the version replies carry them.
struct Version {
  uint8_t major = 0;
  uint8_t minor = 0;
  std::array<uint8_t, 3> date{};
  bool operator==(const Version &) const = default;
};

// The receiver's layout, kept apart from the library's on purpose: the model
// is an independent reading of the receiver, so a slip in one shows in tests
// against the other.
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
  // How long the hardware takes (0: no time at all, as the test suites
  // want): after a mode switch the receiver stays on the bus this long
  // before it leaves; each EEPROM byte written takes eeprom_write_ms (a
  // recorded or deleted button reports state code 2 meanwhile); erasing
  // every button takes format_ms.
  int leave_delay_ms = 300;
  int eeprom_write_ms = 4;
  int format_ms = 3000;
  // A test setting: the state code the firmware reports whatever it is
  // doing (-1: its own).
  int report_state_code = -1;
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
    bool operator==(const FailingRequest &) const = default;
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
  bool operator==(const ReceiverState &) const = default;
};

enum class Wait : uint8_t { kNone, kRecord, kDelete };

// The two bytes a recorded button types, with the button that typed them.
struct KeyReport {
  uint32_t hash = 0;
  uint8_t key = 0;
  uint8_t modifier = 0;
  bool operator==(const KeyReport &) const = default;
};

// Key reports the receiver keeps for the programs that follow its keys: the
// latest ones only, so a program that looks seldom may miss some, but the
// running state stays small.
inline constexpr size_t kSentKeysKept = 16;

// What the receiver's RAM holds while it runs: presence on the bus, the
// operation it waits for, its outcome, the settings it runs with, the
// bootloader's upload position. Lost when the receiver loses power, so a
// fresh one (as a program finds it on a state file nobody used since the
// machine started) is off the bus and arrives at once when plugged.
struct RunState {
  bool present = false;
  uint64_t enumeration = 0;
  // What the current enumeration presents; a change made by hand to the
  // persistent state shows up as a difference (see identity_hash).
  uint64_t identity = 0;
  // Times in clock milliseconds; -1 when nothing is under way.
  int64_t return_at = -1;  // comes back on the bus
  int64_t leave_at = -1;   // leaves the bus, after a mode switch, for leave_to
  Mode leave_to = Mode::kFirmware;
  bool stay_away = false;  // once it left, stays off until plugged in again
  int64_t busy_until = 0;  // a request's EEPROM work: later ones wait
  Wait wait = Wait::kNone;
  uint8_t record_key = 0;
  uint8_t record_modifier = 0;
  int64_t wait_started = 0;
  uint8_t state_code = 0;
  // The outcome of a finished record or delete, reported (state code and,
  // on generation 1, the interrupt byte) once its EEPROM work is done.
  uint8_t final_code = 0;
  int64_t final_at = -1;
  bool outcome_due = false;
  bool outcome_ready = false;  // generation 1: a byte for the interrupt endpoint
  uint8_t outcome = 0;
  uint8_t active_a = 0;  // settings bytes the firmware runs with
  uint8_t active_b = 0;
  // The host handle that claimed the receiver's interface (process id in
  // the high half; 0: none), good for the enumeration it was taken on.
  uint64_t claim_holder = 0;
  uint64_t claim_enumeration = 0;
  BootloaderRun boot;
  // Key reports sent in normal mode: how many so far, and the latest of
  // them (at most kSentKeysKept), oldest first.
  uint64_t keys_sent = 0;
  std::deque<KeyReport> sent_keys;
  bool operator==(const RunState &) const = default;
};

// Hash of what the host learns of a receiver when it opens it: its mode,
// strings, product ids, versions and generations.
uint64_t identity_hash(const ReceiverState &state);

// Generation of a firmware version major: 0, 1 and unknown majors fall back
// to generation 1, exactly as the host library chooses its tables.
int generation_of_firmware(int major);

}  // namespace zk::virt
