// The receiver's memory and endpoints as the host sees them: the one place
// in the library that knows addresses, sizes and bits. (The virtual receiver
// keeps its own copy on purpose, as an independent model.)
#pragma once

#include <cstdint>

namespace zk::layout {

// ---- EEPROM ----
inline constexpr int kEepromSize = 1024;  // bytes; addresses 0 to 1023

// Configuration image: size header (big-endian), two settings bytes, a
// reserved byte, then 6-byte button entries.
inline constexpr int kSizeHighAddr = 0;
inline constexpr int kSizeLowAddr = 1;
inline constexpr int kSettingsAAddr = 2;
inline constexpr int kSettingsBAddr = 3;
inline constexpr int kReservedAddr = 4;
inline constexpr int kHeaderSize = 5;
inline constexpr int kEntrySize = 6;     // hash (4, little-endian), second byte, key code
inline constexpr int kImageRoom = 1020;  // bytes; at most 169 buttons
inline constexpr int kMaxButtons = (kImageRoom - kHeaderSize) / kEntrySize;
inline constexpr int kMaxImageSize = kHeaderSize + kEntrySize * kMaxButtons;
inline constexpr int kSizeLimit = 1024;  // a stored size this large is corrupt

// Settings byte A.
inline constexpr uint8_t kInterkeyMask = 0x0F;
inline constexpr uint8_t kSensitivityMask = 0x30;
inline constexpr uint8_t kUpgradeFlag = 0x80;  // set while an upload is unfinished
// Settings byte B.
inline constexpr uint8_t kTestedBit = 0x01;
inline constexpr uint8_t kVariantBits = 0x06;     // bits 1-2
inline constexpr uint8_t kVariantCorvane = 0x04;  // bit 2 set, bit 1 clear
inline constexpr uint8_t kVariantZirko = 0x06;
inline constexpr uint8_t kSequenceOffBit = 0x10;
inline constexpr uint8_t kProfilesOffBit = 0x20;
inline constexpr uint8_t kNoiseBit = 0x40;
inline constexpr uint8_t kSleepBit = 0x80;
// Reserved byte: generation 2 bootloaders leave when they find this mark.
inline constexpr uint8_t kLeaveMark = 0x50;

// ---- flash ----
inline constexpr int kPageSize = 128;         // bytes per upload page
inline constexpr int kBootloaderSize = 2048;  // bytes of flash the bootloader keeps
// Flash an image may fill: the smallest receiver's flash less its bootloader.
inline constexpr long kMaxFirmwareSize = 16384 - kBootloaderSize;

// ---- endpoints ----
inline constexpr uint8_t kOutcomeEndpoint = 0x83;  // interrupt IN: generation 1 outcomes

}  // namespace zk::layout
