// Requests and operations that every firmware generation shares.
#include "fw_common.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "usb_backend.h"
#include "zirko_history.h"

namespace zk::fw {
namespace {

constexpr unsigned kTimeoutMs = 5000;
constexpr unsigned kFormatTimeoutMs = 10000;
constexpr int kPollMs = 100;
constexpr int kMaxWaitS = 100;
constexpr int kMaxPathLen = 300;

// One firmware request: the byte count, or ZK_ERR_USB when it failed.
int request(int type, int request, int value, int index, unsigned char *reply, int length,
            unsigned timeout_ms = kTimeoutMs) {
  int result = zk_send_msg(type, request, value, index, reply, length, timeout_ms);
  return zk::transfer_result(__func__, result, 0);
}

int fill_report_buffer(const char *name, uint8_t report[2]) {
  if (zk_key_report(name, report) != 1) {
    ZK_LOGE("Key does not exist");
    return ZK_ERR_INVALID;
  }
  ZK_LOGD("keyReport[0]=%d keyReport[1]=%d ", report[0], report[1]);
  return 0;
}

int read_settings_byte(int address) {
  int value = zk_eeprom_peek(address);
  return value < 0 ? ZK_ERR_USB : value;
}

// Read-modify-write of one settings field, then the apply-settings request.
int update_settings(const char *fn, int address, uint8_t mask, uint8_t bits) {
  int old = read_settings_byte(address);
  if (old < 0) return old;
  int result = zk_eeprom_poke(address, (old & ~mask) | (bits & mask));
  if (result < 0) {
    ZK_LOGE_AS(fn, "failed to update settings");
    return result;
  }
  unsigned char reply[1] = {0};
  return request(0xC2, 7 /* apply settings */, 0, 0, reply, 1) < 0 ? ZK_ERR_USB : 0;
}

int get_field(int address, uint8_t mask) {
  int byte = read_settings_byte(address);
  return byte < 0 ? byte : byte & mask;
}

// Whole image into a new buffer of size + 1 bytes; 0 or a failure code.
// Reads EEPROM bytes 0 to size - 1, one transfer each, stopping at the first
// failed read (-16). With `progress`, the bar follows every byte read.
int read_eeprom(unsigned char *image, int size, bool progress) {
  for (int i = 0; i < size; ++i) {
    int byte = zk_eeprom_peek(i);
    if (byte < 0) return ZK_ERR_USB;
    image[i] = uint8_t(byte);
    if (progress) zk_progress_bar(float(i + 1), float(size));
  }
  return 0;
}

using Image = std::unique_ptr<unsigned char[]>;

// The first `size` EEPROM bytes into a new zeroed copy `spare` bytes longer:
// 0, ZK_ERR_CONFIG_MEMORY after `no_memory` is logged under `fn`, or ZK_ERR_USB.
int copy_eeprom(const char *fn, int size, int spare, bool progress, const char *no_memory,
                Image &image) {
  image.reset(new (std::nothrow) unsigned char[size_t(size) + size_t(spare)]());
  if (!image) {
    ZK_LOGE_AS(fn, "%s", no_memory);
    return ZK_ERR_CONFIG_MEMORY;
  }
  return read_eeprom(image.get(), size, progress) < 0 ? ZK_ERR_USB : 0;
}

// Writes the size header, low byte first: a write cut off between the two
// leaves a size that never hides an entry below the new size. With the old
// size known (not negative), only the bytes that change are written.
int write_size(int old_size, int new_size) {
  const bool known = old_size >= 0;
  if ((!known || (old_size & 0xFF) != (new_size & 0xFF)) &&
      zk_eeprom_poke(kSizeLowAddr, new_size & 0xFF) < 0)
    return ZK_ERR_USB;
  if ((!known || (old_size >> 8) != (new_size >> 8)) &&
      zk_eeprom_poke(kSizeHighAddr, new_size >> 8) < 0)
    return ZK_ERR_USB;
  return 0;
}

// The size header read again just before it is written: a program that
// takes no lock may have changed the receiver meanwhile, and writing our
// size over its own would hide or cut its buttons. Its low byte is enough:
// every button added or removed moves it, as 6 is no multiple of 256.
// 0, or the failure.
int size_unchanged(const char *fn, int expected) {
  zk::forget_snapshot();  // from the receiver, never from an earlier read
  const int low = zk_eeprom_peek(kSizeLowAddr);
  if (low < 0) return ZK_ERR_USB;
  if (expected < 0 || low == (expected & 0xFF)) return 0;  // a corrupt size is rewritten whole
  ZK_LOGE_AS(fn,
             "another program changed this receiver's size during this write, so the write "
             "stopped before its size: nothing of the other program's work was lost; check "
             "the buttons and run the command again");
  return ZK_ERR_BUSY;
}

// After a write stopped part way, the receiver holds a mix of old and new.
int report_interrupted(const char *fn, bool wrote) {
  if (wrote) {
    ZK_LOGE_AS(fn,
               "the receiver's configuration may be incomplete: run the command again, or "
               "load a saved configuration");
  }
  return ZK_ERR_USB;
}

// A stop asked for between entries: the size header still covers whole
// entries, old or new.
int report_stopped(const char *fn, bool wrote) {
  ZK_LOGI_AS(fn, "stopped before the next entry%s", wrote ? "; the size header was left" : "");
  return ZK_ERR_INTERRUPTED;
}

// The receiver's refusals of a recording or deletion and their results.
struct Refusal {
  int state;
  int result;
  const char *text;
};
constexpr Refusal kRefusals[] = {
    {ZK_RX_NO_SPACE, ZK_ERR_NO_SPACE, "Error: no space left on device"},
    {ZK_RX_EXISTS, ZK_ERR_EXISTS, "Error: button already exists"},
    {ZK_RX_NOT_FOUND, ZK_ERR_NOT_FOUND, "Error: key not found"},
};

const Refusal *refusal_of(int state) {
  for (const Refusal &refusal : kRefusals)
    if (refusal.state == state) return &refusal;
  return nullptr;
}

}  // namespace

// A file the receiver could not make sense of is refused before any write.
bool config_file_valid(const char *fn, const unsigned char *data, long length) {
  if (length < kHeaderSize || length > kMaxImageSize || (length - kHeaderSize) % kEntrySize != 0) {
    ZK_LOGE_AS(fn, "invalid configuration file: %ld bytes, expected 5 + 6 per button, at most %d",
               length, kMaxImageSize);
    return false;
  }
  int stored = (data[0] << 8) | data[1];
  if (stored != length) {
    ZK_LOGE_AS(fn, "invalid configuration file: %ld bytes, but its size field says %d", length,
               stored);
    return false;
  }
  return true;
}

void fill_shared_slots(zk_ops *ops) {
  ops->reboot = zk::restart;
  ops->set_delete = set_delete;
  ops->set_record_api = set_record_api;
  ops->set_normal = set_normal;
  ops->get_noise_cancel = get_noise_cancel;
  ops->get_sensitivity = get_sensitivity;
  ops->get_interkey_delay = get_interkey_delay;
  ops->get_sleep_detect = get_sleep_detect;
  ops->clear_state = clear_state;
  ops->format_config = format_config;
  ops->keys_recorded = keys_recorded;
  ops->device_set_dfu = device_set_dfu;
  ops->fw_scm_hash = fw_scm_hash;
}

int set_normal() {
  unsigned char reply[1] = {0};
  return request(0xC0, 0 /* leave record/delete mode */, 0, 0, reply, 1) < 0 ? ZK_ERR_USB : 0;
}

int set_delete(int wait) {
  unsigned char reply[1] = {0};
  if (request(0xC0, 2 /* delete mode */, 1, 0, reply, 1) < 0) return ZK_ERR_USB;
  return wait ? zk_set_interrupt(0) : 0;
}

int set_record_api(int modifier, int key, int timeout_s) {
  unsigned char reply[1] = {0};
  if (request(0xC0, 1 /* record */, key, modifier, reply, 1) < 0) return ZK_ERR_USB;
  return timeout_s ? zk_set_interrupt(timeout_s) : 0;
}

int format_config() {
  unsigned char reply[1] = {0};
  return request(0xC0, 3 /* erase buttons */, 0, 0, reply, 1, kFormatTimeoutMs) < 0 ? ZK_ERR_USB
                                                                                    : 0;
}

int get_state() {
  unsigned char reply[1] = {0};
  return request(0xC0, 5 /* read state */, 1, 0, reply, 1) < 0 ? ZK_ERR_USB : reply[0];
}

int clear_state() {
  unsigned char reply[1] = {0};
  return request(0xC0, 6 /* clear state */, 1, 0, reply, 1) < 0 ? ZK_ERR_USB : reply[0];
}

// The receiver leaves at once, so a failed or empty transfer is the success;
// a reply or a stall means it stayed.
int device_set_dfu() {
  unsigned char reply[1] = {0};
  int result = zk_send_msg(0xC2, 5 /* to bootloader */, 0x5A, 0, reply, 1, kTimeoutMs);
  return result > 0 || result == zk::kUsbErrorPipe ? ZK_ERR_USB : 0;
}

int fw_scm_hash() {
  unsigned char reply[8] = {0};
  if (request(0xC2, 12 /* scm hash */, 0, 0, reply, 8) < 0) return ZK_ERR_USB;
  return int(uint32_t(reply[0]) | uint32_t(reply[1]) << 8 | uint32_t(reply[2]) << 16 |
             uint32_t(reply[3]) << 24);
}

int set_record(const char *fn, const char *name, int timeout_s) {
  uint8_t report[2];
  if (zk_key_report(name, report) != 1) {
    ZK_LOGE_AS(fn, "Key does not exist");
    return ZK_ERR_INVALID;
  }
  // A failed transfer is -16, never a code that reads as the receiver's outcome.
  int result = zk_send_msg(0xC0, 1 /* record */, report[0], report[1], nullptr, 0, kTimeoutMs);
  if (result < 0) {
    ZK_LOGE_AS(fn, "USB transfer failed: %s", zk_usb_strerror(result));
    return ZK_ERR_USB;
  }
  if (strlen(name) == 1)
    ZK_LOGD_AS(fn, "keyReport[0]=%d keyReport[1]=%d ", report[0], report[1]);
  else
    ZK_LOGD_AS(fn, "keyReport[0]=%d, keyReport[1]=%d", report[0], report[1]);
  return timeout_s ? zk_set_interrupt(timeout_s) : 0;
}

int wait_outcome(const char *fn, int timeout_s) {
  if (timeout_s == 0 || timeout_s > kMaxWaitS) timeout_s = kMaxWaitS;
  const int64_t limit_us = int64_t(timeout_s) * 1000000;
  const WaitClock &clock = wait_clock();
  const int64_t start = clock.now_us();
  bool timed_out = true;
  int state = 0;
  while (clock.now_us() - start < limit_us) {
    if (zk_stop_requested()) {
      // Back in normal mode, so that no later press is taken for this wait.
      zk_set_normal();
      return ZK_ERR_INTERRUPTED;
    }
    state = zk_get_state();
    if (state < 0) {
      ZK_LOGE_AS(fn, "USB transfer failed while waiting for the button");
      return state;
    }
    if (state != ZK_RX_RECORDING && state != ZK_RX_DELETING) {
      timed_out = false;
      break;
    }
    clock.sleep_ms(kPollMs);
  }
  if (timed_out) {
    ZK_LOGE_AS(fn, "timeout");
    zk_set_normal();
    return ZK_ERR_TIMEOUT;
  }
  if (state == ZK_RX_DONE) return 0;
  if (const Refusal *refusal = refusal_of(state)) {
    ZK_LOGE_AS(fn, "%s", refusal->text);
    return refusal->result;
  }
  ZK_LOGE_AS(fn, "Unknown error, contact support: %d", state);
  return state;
}

int delete_buttons(const char *fn, const char *name) {
  ZK_LOGD_AS(fn, "deleting button: %s", name ? name : "(null)");
  uint8_t report[2];
  if (fill_report_buffer(name, report) < 0) return ZK_ERR_INVALID;
  unsigned char reply[2] = {0, 0};
  if (request(0xC0, 4 /* delete key */, report[0], report[1], reply, 2) < 0) return ZK_ERR_USB;
  return reply[0];
}

int delete_index(const char *fn, int index) {
  ZK_LOGI_AS(fn, "going to delete key at index: %d", index);
  // Whether the size below comes from the receiver now, not from a caller's
  // earlier read: with nothing moved it then needs no second read.
  const bool fresh = !zk::snapshot_open();
  // The size is read once: every later step works from this value.
  const int size = get_size();
  if (size < 0) {
    ZK_LOGE_AS(fn, "error getting size");
    return ZK_ERR_FAILED;
  }
  if (index < 0 || int64_t(kEntrySize) * index + kEntrySize > size) {
    ZK_LOGE_AS(fn, "index invalid");
    return ZK_ERR_FAILED;
  }
  const int destination = kHeaderSize + kEntrySize * index;
  const int source = destination + kEntrySize;
  ZK_LOGD_AS(fn, "eep size: %d", size);
  ZK_LOGD_AS(fn, "mem_size: %d", size - kHeaderSize);
  ZK_LOGD_AS(fn, "destination: %d", destination);
  ZK_LOGD_AS(fn, "keysize: %d", kEntrySize);
  ZK_LOGD_AS(fn, "source: %d", source);
  ZK_LOGD_AS(fn, "bytes to move: %d", size - source);
  // Only the deleted entry and those behind it change; deleting the last
  // entry moves nothing and needs no copy.
  const int new_size = size - kEntrySize;
  std::vector<unsigned char> tail(destination < new_size ? size_t(size - destination) : 0);
  for (int i = 0; i < int(tail.size()); ++i) {
    int byte = zk_eeprom_peek(destination + i);
    if (byte < 0) return ZK_ERR_USB;
    tail[i] = uint8_t(byte);
  }
  ZK_LOGI_AS(fn, "new size: %d", new_size);
  bool wrote = false;
  for (int address = destination; address < new_size; ++address) {
    if ((address - destination) % kEntrySize == 0 && zk_stop_requested())
      return report_stopped(fn, wrote);
    zk_progress_bar(float(address - destination + 1), float(new_size - destination));
    const unsigned char moved = tail[address - destination + kEntrySize];
    if (moved == tail[address - destination]) continue;
    if (zk_eeprom_poke(address, moved) < 0) return report_interrupted(fn, wrote);
    wrote = true;
  }
  if (!(fresh && tail.empty()))
    if (int rc = size_unchanged(fn, size)) return rc;
  if (write_size(size, new_size) < 0) return report_interrupted(fn, wrote);
  return 0;
}

int get_interkey_delay() {
  return get_field(kSettingsAAddr, kInterkeyMask);
}

int get_sensitivity() {
  int field = get_field(kSettingsAAddr, kSensitivityMask);
  return field < 0 ? field : field >> 4;
}

int get_noise_cancel() {
  int field = get_field(kSettingsBAddr, kNoiseBit);
  return field < 0 ? field : field != 0;
}

int get_sleep_detect() {
  int field = get_field(kSettingsBAddr, kSleepBit);
  return field < 0 ? field : field != 0;
}

// The two feature bits are stored as "off" flags.
int get_builtin_profile_support() {
  int field = get_field(kSettingsBAddr, kProfilesOffBit);
  return field < 0 ? field : field == 0;
}

int get_sequence_modifiers() {
  int field = get_field(kSettingsBAddr, kSequenceOffBit);
  return field < 0 ? field : field == 0;
}

int set_interkey_delay(const char *fn, int value) {
  if (value < 0 || value > 7) {
    ZK_LOGE_AS(fn, "invalid interkey delay, range[0-7], def 6");
    return ZK_ERR_INVALID;
  }
  return update_settings(fn, kSettingsAAddr, kInterkeyMask, uint8_t(value));
}

int set_sensitivity(const char *fn, int value) {
  if (value < 0 || value > 3) {
    ZK_LOGE_AS(fn, "invalid sensitivity specified, range[0-3], def 3");
    return ZK_ERR_INVALID;
  }
  return update_settings(fn, kSettingsAAddr, kSensitivityMask, uint8_t(value << 4));
}

// The receiver has one noise canceler bit; the value's lowest bit sets it.
int set_noise_cancel(const char *fn, int value) {
  if (value < 0 || value > 3) {
    ZK_LOGE_AS(fn, "invalid noise canceler value, range[0-3]");
    return ZK_ERR_INVALID;
  }
  return update_settings(fn, kSettingsBAddr, kNoiseBit, (value & 1) ? kNoiseBit : 0);
}

int set_builtin_profile_support(const char *fn, int value) {
  if (value != 0 && value != 1) {
    ZK_LOGE_AS(fn, "invalid value, should be 1 or 0");
    return ZK_ERR_INVALID;
  }
  return update_settings(fn, kSettingsBAddr, kProfilesOffBit, value ? 0 : kProfilesOffBit);
}

int set_sequence_modifiers(const char *fn, int value) {
  if (value != 0 && value != 1) {
    ZK_LOGE_AS(fn, "invalid value, should be 1 or 0");
    return ZK_ERR_INVALID;
  }
  return update_settings(fn, kSettingsBAddr, kSequenceOffBit, value ? 0 : kSequenceOffBit);
}

// Sleep detect has its own apply request, which carries the new value.
int set_sleep_detect(const char *fn, int value) {
  if (value != 0 && value != 1) {
    ZK_LOGE_AS(fn, "invalid argument");
    return ZK_ERR_INVALID;
  }
  int old = read_settings_byte(kSettingsBAddr);
  if (old < 0) return ZK_ERR_USB;
  if (zk_eeprom_poke(kSettingsBAddr, (value ? kSleepBit : 0) | (old & ~kSleepBit & 0xFF)) < 0)
    return ZK_ERR_USB;
  unsigned char reply[1] = {0};
  if (request(0xC0, 7 /* apply sleep detect */, value, 0, reply, 1) < 0) return ZK_ERR_USB;
  return reply[0];
}

int get_size() {
  int high = zk_eeprom_peek(kSizeHighAddr);
  if (high < 0) {
    ZK_LOGE("Error reading high byte of size");
    return high;
  }
  int low = zk_eeprom_peek(kSizeLowAddr);
  if (low < 0) {
    ZK_LOGE("Error reading low byte of size");
    return low;
  }
  ZK_LOGD("sizeH: %d", high);
  ZK_LOGD("sizeL: %d", low);
  int size = high * 256 + low;
  ZK_LOGD("size: %d", size);
  if (size >= kSizeLimit) {
    ZK_LOGE("something seems wrong, please format");
    return ZK_ERR_FAILED;
  }
  return size;
}

int keys_recorded() {
  int size = get_size();
  return size < 0 ? size : (size - kHeaderSize) / kEntrySize;
}

int keys_remaining(const char *fn) {
  int size = get_size();
  if (size < 0) return size;
  int left = (kImageRoom - size) / kEntrySize;
  ZK_LOGD_AS(fn, "Space left on device: %d", left);
  return left;
}

int display_config(const char *fn) {
  int size = get_size();
  if (size < 0) {
    ZK_LOGE_AS(fn, "could not determine size");
    return size;
  }
  // Zeroed room for one more entry: a size that ends inside an entry never
  // lets the listing read past the copy.
  Image image;
  if (int rc = copy_eeprom(fn, size, kEntrySize, false, "malloc failed", image)) return rc;
  zk_print_config(image.get(), size);
  return 0;
}

int save_config(const char *fn, const char *path) {
  if (!path) {
    ZK_LOGE_AS(fn, "invalid file %s", "(null)");
    return ZK_ERR_FILE;
  }
  if (strlen(path) >= kMaxPathLen) {
    ZK_LOGE_AS(fn, "file name too long");
    return ZK_ERR_FILE;
  }
  ZK_LOGD_AS(fn, "saving file %s", path);
  int size = get_size();
  if (size < 0) {
    ZK_LOGE_AS(fn, "could not determine size");
    return size;
  }
  Image image;
  if (int rc = copy_eeprom(fn, size, 1, true, "could not allocate memory", image)) return rc;
  return buf_to_file(path, image.get(), size, "wb") < 0 ? ZK_ERR_FILE : 0;
}

int load_config(const char *fn, const char *path) {
  unsigned char *data = nullptr;
  long length = file_to_buf(path, &data, "rb");
  if (length < 0) {
    ZK_LOGE_AS(fn, "could not open file");
    return ZK_ERR_FILE;
  }
  std::unique_ptr<unsigned char, decltype(&free)> owned(data, free);
  if (!config_file_valid(fn, data, length)) return ZK_ERR_FILE;
  return write_config(fn, data, int(length));
}

int write_config(const char *fn, const unsigned char *data, int length, const unsigned char *known,
                 int known_length) {
  // -1 for a corrupt size: both bytes are written
  const int old_size = known ? known_length : get_size();
  if (old_size < -1) return ZK_ERR_USB;
  // Settings and entries first, the size last: until it is written the
  // receiver still reads a whole image of the old size. A byte that already
  // holds its value is not written again: reads are cheap, EEPROM writes
  // are slow and wear the memory.
  bool wrote = false;
  for (int i = kSettingsAAddr; i < length; ++i) {
    if (i >= kHeaderSize && (i - kHeaderSize) % kEntrySize == 0 && zk_stop_requested())
      return report_stopped(fn, wrote);
    zk_progress_bar(float(i - 1), float(length));
    const int old = known && i < known_length ? known[i] : zk_eeprom_peek(i);
    if (old < 0) return report_interrupted(fn, wrote);
    if (old == data[i]) continue;
    if (zk_eeprom_poke(i, data[i]) < 0) return report_interrupted(fn, wrote);
    wrote = true;
  }
  for (int i = length - 1; i <= length; ++i) zk_progress_bar(float(i), float(length));
  if (!wrote && old_size == length) return 0;  // the receiver holds the image already
  if (int rc = size_unchanged(fn, old_size)) return rc;
  if (write_size(old_size, length) < 0) return report_interrupted(fn, wrote);
  return 0;
}

const char *version_str(const char *fn) {
  static char text[50];
  unsigned char reply[8] = {0};
  const int result = zk::version_request(reply, kTimeoutMs);
  if (result <= 0) {
    ZK_LOGE_AS(fn, "usb tx result > 0: %d", result);
    return nullptr;
  }
  snprintf(text, sizeof text, "%g %02d-%02d-20%02d [0x%08X]",
           double(zk_version_number(reply[0], reply[1])), reply[2], reply[3], reply[4],
           unsigned(zk_fw_scm_hash()));
  return text;
}

}  // namespace zk::fw

namespace zk {
int restart() {
  unsigned char reply[1] = {0};
  return fw::request(0xC2, 6 /* restart */, 0, 0, reply, 1) < 0 ? ZK_ERR_USB : 0;
}
}  // namespace zk

int zk_write_config_image(const unsigned char *image, int length) {
  return zk_write_config_image_over(image, length, nullptr, 0);
}

int zk_check_config_image(const unsigned char *image, long length) {
  return image && zk::fw::config_file_valid(__func__, image, length) ? 0 : ZK_ERR_INVALID;
}

int zk_write_config_image_over(const unsigned char *image, int length, const unsigned char *current,
                               int current_length) {
  if (zk_fw_state() != ZK_STATE_FIRMWARE) {
    ZK_LOGD("invalid operation for this device or version");
    return ZK_ERR_UNSUPPORTED;
  }
  const zk::WriteLock lock;
  if (lock.result() < 0) return lock.result();
  if (!image || !zk::fw::config_file_valid(__func__, image, length)) return ZK_ERR_INVALID;
  if (current && (current_length < zk::fw::kHeaderSize || current_length > zk::fw::kMaxImageSize))
    current = nullptr;
  return zk::fw::write_config(__func__, image, length, current, current ? current_length : 0);
}

int zk_read_config_image(unsigned char *image, int room) {
  if (zk_fw_state() != ZK_STATE_FIRMWARE) {
    ZK_LOGD("invalid operation for this device or version");
    return ZK_ERR_UNSUPPORTED;
  }
  using namespace zk::fw;
  const int size = get_size();
  if (size < 0)
    return size == -1 ? ZK_ERR_INVALID : ZK_ERR_USB;  // -1: a corrupt size, already reported
  if (size < kHeaderSize || size > kMaxImageSize || (size - kHeaderSize) % kEntrySize != 0 ||
      !image || size > room) {
    ZK_LOGE("invalid configuration image: %d bytes, expected 5 + 6 per button", size);
    return ZK_ERR_INVALID;
  }
  // The size header is known now: the image is read from the byte after it.
  image[kSizeHighAddr] = uint8_t(size >> 8);
  image[kSizeLowAddr] = uint8_t(size);
  for (int i = kSettingsAAddr; i < size; ++i) {
    const int byte = zk_eeprom_peek(i);
    if (byte < 0) return ZK_ERR_USB;
    image[i] = uint8_t(byte);
  }
  return size;
}
