// Turns the input events of the receiver's input nodes back into the key
// reports its recorded buttons store. The kernel's HID driver splits one
// report into modifier keys held and one key pressed, and tells the HID
// usage of that key in an MSC_SCAN event just before it.
#pragma once

#include <cstdint>
#include <optional>

namespace zk {

struct DecodedKey {
  uint8_t usage = 0;     // HID key code or marker code; 0 for a key we cannot tell
  uint8_t modifier = 0;  // modifier bits, or the second byte of a media or system key
  int code = 0;          // the input event's key code
  bool operator==(const DecodedKey &) const = default;
};

class KeyDecoder {
 public:
  // One input event (type, code, value as the kernel sends them); a key
  // report once a key other than a modifier goes down.
  std::optional<DecodedKey> feed(uint16_t type, uint16_t code, int32_t value);

 private:
  uint32_t scan_ = 0;  // HID usage (page << 16 | id) of the event that follows
  bool scanned_ = false;
  uint8_t modifiers_ = 0;
};

// The key report of a HID usage (page << 16 | id) with the modifiers held,
// as the receiver encodes it; nothing for a usage it cannot send.
std::optional<DecodedKey> report_of_usage(uint32_t usage, uint8_t modifiers);
// The HID keyboard usage of an input key code, for events without MSC_SCAN;
// 0 when it has none.
uint8_t keyboard_usage_of_code(int code);

}  // namespace zk
