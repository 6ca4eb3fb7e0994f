// Single EEPROM bytes, and the product variant and factory-test mark in byte 3.
#include <array>

#include "internal.h"

namespace {

using namespace zk::layout;

// The bytes read since the outermost zk_begin_snapshot, for the receiver
// that was current then; -1 where a byte has not been read.
struct Snapshot {
  int depth = 0;
  const zk_usb_handle *handle = nullptr;
  std::array<int, kEepromSize> bytes;

  void forget() { bytes.fill(-1); }
  // The byte read earlier in this snapshot, or -1.
  int held(int address) {
    if (depth == 0) return -1;
    if (handle != current_handle) {  // another receiver became current
      forget();
      handle = current_handle;
    }
    return bytes[address];
  }
  void keep(int address, int byte) {
    if (depth > 0 && handle == current_handle) bytes[address] = byte;
  }
};

Snapshot snapshot;

// False, after the debug line under `caller`, when no receiver is open. The
// transfer would refuse too, but these calls answer -19 rather than -16.
bool handle_ready(const char *caller) {
  if (current_handle) return true;
  ZK_LOGD_AS(caller, "pointer to handle is invalid");
  return false;
}

// Rewrites byte 3 with `clear` bits cleared and `set` bits set, logging as `caller`.
int update_byte3(const char *caller, int clear, int set) {
  if (!handle_ready(caller)) return ZK_ERR_NOT_USABLE;
  int byte = zk_eeprom_peek(kSettingsBAddr);
  if (byte < 0) {
    ZK_LOGE_AS(caller, "Error reading byte");
    return ZK_ERR_USB;
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

void zk_begin_snapshot() {
  if (snapshot.depth++ > 0) return;
  snapshot.handle = current_handle;
  snapshot.forget();
}

void zk_end_snapshot() {
  if (snapshot.depth > 0) --snapshot.depth;
}

void zk::forget_snapshot() {
  snapshot.forget();
}

bool zk::snapshot_open() {
  return snapshot.depth > 0;
}

int zk_eeprom_peek(int address) {
  if (!handle_ready(__func__)) return ZK_ERR_NOT_USABLE;
  if (!address_valid(__func__, address)) return ZK_ERR_INVALID;
  if (int held = snapshot.held(address); held >= 0) return held;
  unsigned char byte = 0;
  int result = zk_send_msg(0xC2, 2 /* EEPROM read byte */, address, 0, &byte, 1, 5000 /* ms */);
  if (zk::transfer_result(__func__, result, 1) < 0) return ZK_ERR_USB;
  snapshot.keep(address, byte);
  return byte;
}

int zk_eeprom_poke(int address, int value) {
  if (!handle_ready(__func__)) return ZK_ERR_NOT_USABLE;
  if (!address_valid(__func__, address)) return ZK_ERR_INVALID;
  if (value < 0 || value > 0xFF) {
    ZK_LOGE("value %d is not a byte", value);
    return ZK_ERR_INVALID;
  }
  const zk::WriteLock lock;
  if (lock.result() < 0) return lock.result();
  snapshot.forget();         // a write may change what the receiver derives from it
  unsigned char status = 0;  // the write travels in the setup packet; this byte is unused
  int result =
      zk_send_msg(0xC2, 3 /* EEPROM write byte */, address, value, &status, 1, 5000 /* ms */);
  return zk::transfer_result(__func__, result, 0) < 0 ? ZK_ERR_USB : 0;
}

int zk_product_type() {
  if (!current_device) {
    ZK_LOGD("invalid operation for this device or version");
    return ZK_ERR_UNSUPPORTED;
  }
  int byte = zk_eeprom_peek(kSettingsBAddr);
  if (byte < 0) {
    ZK_LOGE("Error reading byte");
    return ZK_ERR_USB;
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
      return ZK_ERR_UNKNOWN_VARIANT;
  }
}

int zk_set_product_corvane() {
  return update_byte3(__func__, kVariantBits, kVariantCorvane);
}

int zk_mfg_tested() {
  return update_byte3(__func__, kTestedBit, 0);
}

int zk_initialize_product(int type) {
  if (!handle_ready(__func__)) return ZK_ERR_NOT_USABLE;
  if (type == ZK_PRODUCT_CORVANE) {
    zk_set_product_corvane();  // its result is reported by its own lines, not passed on
  } else if (type != ZK_PRODUCT_ZIRKO) {
    ZK_LOGE("Unknown Product ID");
  }
  return 0;
}
