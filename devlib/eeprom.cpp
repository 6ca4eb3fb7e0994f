// Single EEPROM bytes, and the product variant and factory-test mark in byte 3.
#include "internal.h"
#include "layout.h"

namespace {

using namespace zk::layout;

// False, after the debug line under `caller`, when no receiver is open. The
// transfer would refuse too, but these calls answer -19 rather than -16.
bool handle_ready(const char *caller) {
  if (current_handle) return true;
  ZK_LOGD_AS(caller, "pointer to handle is invalid");
  return false;
}

// Rewrites byte 3 with `clear` bits cleared and `set` bits set, logging as `caller`.
int update_byte3(const char *caller, int clear, int set) {
  if (!handle_ready(caller)) return -19;
  int byte = zk_eeprom_peek(kSettingsBAddr);
  if (byte < 0) {
    ZK_LOGE_AS(caller, "Error reading byte");
    return -16;
  }
  int result = zk_eeprom_poke(kSettingsBAddr, (byte & ~clear) | set);
  if (result < 0) {
    ZK_LOGE_AS(caller, "failed to update settings");
    return result;
  }
  return 0;
}

// The address travels as a 16-bit wValue: one outside the EEPROM would be
// cut to another byte's address.
bool address_valid(const char *caller, int address) {
  if (address >= 0 && address < kEepromSize) return true;
  ZK_LOGE_AS(caller, "address %d outside the EEPROM, range[0-%d]", address, kEepromSize - 1);
  return false;
}

}  // namespace

int zk_eeprom_peek(int address) {
  if (!handle_ready(__func__)) return -19;
  if (!address_valid(__func__, address)) return -8;
  unsigned char byte = 0;
  int result = zk_send_msg(0xC2, 2 /* EEPROM read byte */, address, 0, &byte, 1, 5000 /* ms */);
  if (result <= 0) {  // an empty reply carries no byte either
    ZK_LOGD("%s", zk_usb_strerror(result));
    return -16;
  }
  return byte;
}

int zk_eeprom_poke(int address, int value) {
  if (!handle_ready(__func__)) return -19;
  if (!address_valid(__func__, address)) return -8;
  if (value < 0 || value > 0xFF) {
    ZK_LOGE("value %d is not a byte", value);
    return -8;
  }
  unsigned char status = 0;  // the write travels in the setup packet; this byte is unused
  int result =
      zk_send_msg(0xC2, 3 /* EEPROM write byte */, address, value, &status, 1, 5000 /* ms */);
  if (result < 0) {
    ZK_LOGD("%s", zk_usb_strerror(result));
    return -16;
  }
  return 0;
}

int zk_product_type() {
  if (!current_device) {
    ZK_LOGD("invalid operation for this device or version");
    return -12;
  }
  int byte = zk_eeprom_peek(kSettingsBAddr);
  if (byte < 0) {
    ZK_LOGE("Error reading byte");
    return -16;
  }
  switch (byte & kVariantBits) {
    case kVariantCorvane:
      ZK_LOGD("variant: corvane");
      return ZK_PRODUCT_CORVANE;
    case kVariantZirko:
      ZK_LOGD("variant: zirko");
      return ZK_PRODUCT_ZIRKO;
    default:
      ZK_LOGE("unknown or unsupported variant");
      return -1;
  }
}

int zk_set_product_corvane() {
  return update_byte3(__func__, kVariantBits, kVariantCorvane);
}

int zk_mfg_tested() {
  return update_byte3(__func__, kTestedBit, 0);
}

int zk_initialize_product(int type) {
  if (!handle_ready(__func__)) return -19;
  if (type == ZK_PRODUCT_CORVANE) {
    zk_set_product_corvane();  // its result is reported by its own lines, not passed on
  } else if (type != ZK_PRODUCT_ZIRKO) {
    ZK_LOGE("Unknown Product ID");
  }
  return 0;
}
