/* The receiver's memory and endpoints as the host sees them: the one place
 * in the programs that knows addresses, sizes and bits. Taken in through
 * zirko.h. (The virtual receiver keeps its own copy on purpose, as an
 * independent model.) */
#ifndef ZIRKO_LAYOUT_H
#define ZIRKO_LAYOUT_H

/* The sizes, for C callers too. */
#define ZK_EEPROM_SIZE 1024 /* bytes; addresses 0 to 1023 */
#define ZK_IMAGE_ROOM 1020  /* bytes of EEPROM the configuration image may fill */
#define ZK_IMAGE_HEADER 5   /* size (2, big-endian), settings A and B, reserved */
#define ZK_ENTRY_SIZE 6     /* a button: hash (4, little-endian), second byte, key code */
#define ZK_MAX_BUTTONS ((ZK_IMAGE_ROOM - ZK_IMAGE_HEADER) / ZK_ENTRY_SIZE) /* 169 */
#define ZK_MAX_IMAGE_SIZE (ZK_IMAGE_HEADER + ZK_ENTRY_SIZE * ZK_MAX_BUTTONS)
#define ZK_FLASH_SIZE 16384 /* bytes of the smallest receiver's flash */

#ifdef __cplusplus
#include <cstdint>

namespace zk::layout {

// ---- EEPROM ----
inline constexpr int kEepromSize = ZK_EEPROM_SIZE;

// Configuration image: size header (big-endian), two settings bytes, a
// reserved byte, then 6-byte button entries.
inline constexpr int kSizeHighAddr = 0;
inline constexpr int kSizeLowAddr = 1;
inline constexpr int kSettingsAAddr = 2;
inline constexpr int kSettingsBAddr = 3;
inline constexpr int kReservedAddr = 4;
inline constexpr int kHeaderSize = ZK_IMAGE_HEADER;
inline constexpr int kEntrySize = ZK_ENTRY_SIZE;
inline constexpr int kImageRoom = ZK_IMAGE_ROOM;
inline constexpr int kMaxButtons = ZK_MAX_BUTTONS;
inline constexpr int kMaxImageSize = ZK_MAX_IMAGE_SIZE;
inline constexpr int kSizeLimit = kEepromSize;  // a stored size this large is corrupt

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
inline constexpr long kFlashSize = ZK_FLASH_SIZE;
inline constexpr long kMaxFirmwareSize = kFlashSize - kBootloaderSize;

// ---- endpoints ----
inline constexpr uint8_t kOutcomeEndpoint = 0x83;  // interrupt IN: generation 1 outcomes

}  // namespace zk::layout
#endif

#endif
