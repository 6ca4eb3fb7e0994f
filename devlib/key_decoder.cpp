#include "key_decoder.h"

#include <linux/input-event-codes.h>

#include <iterator>

namespace zk {

namespace {

constexpr uint32_t kKeyboardPage = 0x07;
constexpr uint32_t kConsumerPage = 0x0C;
constexpr uint32_t kDesktopPage = 0x01;
// Marker codes of the receiver's media and system keys.
constexpr uint8_t kMediaMarker = 0x66;
constexpr uint8_t kSleepMarker = 0x67;
constexpr uint8_t kBrowserMarker = 0x68;
constexpr uint8_t kPowerMarker = 0xFE;
constexpr uint8_t kWakeMarker = 0xFF;

// Input key codes of the keyboard page, from usage 0x04 on, as the kernel's
// HID driver maps them.
constexpr uint16_t kKeyboardCodes[] = {
    KEY_A,         KEY_B,          KEY_C,         KEY_D,
    KEY_E,         KEY_F,          KEY_G,         KEY_H,
    KEY_I,         KEY_J,          KEY_K,         KEY_L,
    KEY_M,         KEY_N,          KEY_O,         KEY_P,
    KEY_Q,         KEY_R,          KEY_S,         KEY_T,
    KEY_U,         KEY_V,          KEY_W,         KEY_X,
    KEY_Y,         KEY_Z,          KEY_1,         KEY_2,
    KEY_3,         KEY_4,          KEY_5,         KEY_6,
    KEY_7,         KEY_8,          KEY_9,         KEY_0,  // 0x1E
    KEY_ENTER,     KEY_ESC,        KEY_BACKSPACE, KEY_TAB,
    KEY_SPACE,     KEY_MINUS,      KEY_EQUAL,  // 0x28
    KEY_LEFTBRACE, KEY_RIGHTBRACE, KEY_BACKSLASH, KEY_BACKSLASH /* non-US # */,
    KEY_SEMICOLON, KEY_APOSTROPHE, KEY_GRAVE,     KEY_COMMA,
    KEY_DOT,       KEY_SLASH,      KEY_CAPSLOCK,  // 0x39
    KEY_F1,        KEY_F2,         KEY_F3,        KEY_F4,
    KEY_F5,        KEY_F6,         KEY_F7,        KEY_F8,
    KEY_F9,        KEY_F10,        KEY_F11,       KEY_F12,
    KEY_SYSRQ,     KEY_SCROLLLOCK, KEY_PAUSE,     KEY_INSERT,
    KEY_HOME,      KEY_PAGEUP,  // 0x4B
    KEY_DELETE,    KEY_END,        KEY_PAGEDOWN,  KEY_RIGHT,
    KEY_LEFT,      KEY_DOWN,       KEY_UP,        KEY_NUMLOCK,
    KEY_KPSLASH,   KEY_KPASTERISK, KEY_KPMINUS,   KEY_KPPLUS,
    KEY_KPENTER,   KEY_KP1,        KEY_KP2,  // 0x5A
    KEY_KP3,       KEY_KP4,        KEY_KP5,       KEY_KP6,
    KEY_KP7,       KEY_KP8,        KEY_KP9,       KEY_KP0,
    KEY_KPDOT,     KEY_102ND,      KEY_COMPOSE,  // 0x65
};
constexpr uint8_t kFirstKeyboardUsage = 0x04;

// Modifier keys in the order of the HID modifier bits (usages 0xE0 to 0xE7).
constexpr uint16_t kModifierCodes[] = {KEY_LEFTCTRL,  KEY_LEFTSHIFT,  KEY_LEFTALT,  KEY_LEFTMETA,
                                       KEY_RIGHTCTRL, KEY_RIGHTSHIFT, KEY_RIGHTALT, KEY_RIGHTMETA};

// Media and system keys: the input code, the usage the receiver sends, and
// the key report its recorded button stores.
struct SpecialKey {
  uint16_t code;
  uint32_t usage;
  uint8_t report_code, report_second;
};
constexpr SpecialKey kSpecialKeys[] = {
    {KEY_EJECTCD, kConsumerPage << 16 | 0xB8, kMediaMarker, 0xB8},
    {KEY_VOLUMEUP, kConsumerPage << 16 | 0xE9, kMediaMarker, 0xE9},
    {KEY_VOLUMEDOWN, kConsumerPage << 16 | 0xEA, kMediaMarker, 0xEA},
    {KEY_MUTE, kConsumerPage << 16 | 0xE2, kMediaMarker, 0xE2},
    {KEY_PLAYPAUSE, kConsumerPage << 16 | 0xCD, kMediaMarker, 0xCD},
    {KEY_STOPCD, kConsumerPage << 16 | 0xB7, kMediaMarker, 0xB7},
    {KEY_REWIND, kConsumerPage << 16 | 0xB4, kMediaMarker, 0xB4},
    {KEY_FASTFORWARD, kConsumerPage << 16 | 0xB3, kMediaMarker, 0xB3},
    {KEY_NEXTSONG, kConsumerPage << 16 | 0xB5, kMediaMarker, 0xB5},
    {KEY_PREVIOUSSONG, kConsumerPage << 16 | 0xB6, kMediaMarker, 0xB6},
    {KEY_BACK, kConsumerPage << 16 | 0x224, kBrowserMarker, 0x80},
    {KEY_POWER, kDesktopPage << 16 | 0x81, kPowerMarker, 0x00},
    {KEY_SLEEP, kDesktopPage << 16 | 0x82, kSleepMarker, 0x01},
    {KEY_WAKEUP, kDesktopPage << 16 | 0x83, kWakeMarker, 0x00},
};

int modifier_bit_of_code(uint16_t code) {
  for (int bit = 0; bit < 8; ++bit)
    if (kModifierCodes[bit] == code) return bit;
  return -1;
}

}  // namespace

uint8_t keyboard_usage_of_code(int code) {
  for (size_t i = 0; i < std::size(kKeyboardCodes); ++i)
    if (kKeyboardCodes[i] == code) return static_cast<uint8_t>(kFirstKeyboardUsage + i);
  return 0;
}

std::optional<DecodedKey> report_of_usage(uint32_t usage, uint8_t modifiers) {
  const uint32_t page = usage >> 16, id = usage & 0xFFFF;
  if (page == kKeyboardPage) {
    if (id < kFirstKeyboardUsage || id > 0xFF) return std::nullopt;
    return DecodedKey{static_cast<uint8_t>(id), modifiers, 0};
  }
  for (const SpecialKey &key : kSpecialKeys)
    if (key.usage == usage) return DecodedKey{key.report_code, key.report_second, 0};
  // Any other consumer usage of one byte: the media marker carries it.
  if (page == kConsumerPage && id > 0 && id <= 0xFF)
    return DecodedKey{kMediaMarker, static_cast<uint8_t>(id), 0};
  return std::nullopt;
}

std::optional<DecodedKey> KeyDecoder::feed(uint16_t type, uint16_t code, int32_t value) {
  if (type == EV_SYN) {
    scanned_ = false;
    return std::nullopt;
  }
  if (type == EV_MSC && code == MSC_SCAN) {
    scan_ = static_cast<uint32_t>(value);
    scanned_ = true;
    return std::nullopt;
  }
  if (type != EV_KEY) return std::nullopt;
  const bool scanned = scanned_;
  scanned_ = false;
  if (const int bit = modifier_bit_of_code(code); bit >= 0) {
    if (value)
      modifiers_ |= static_cast<uint8_t>(1u << bit);
    else
      modifiers_ &= static_cast<uint8_t>(~(1u << bit));
    return std::nullopt;
  }
  if (value != 1) return std::nullopt;  // a release or a repeat
  std::optional<DecodedKey> key = scanned ? report_of_usage(scan_, modifiers_) : std::nullopt;
  if (!key) {
    key = DecodedKey{keyboard_usage_of_code(code), modifiers_, 0};
    for (const SpecialKey &special : kSpecialKeys)
      if (special.code == code) key = DecodedKey{special.report_code, special.report_second, 0};
  }
  key->code = code;
  return key;
}

}  // namespace zk
