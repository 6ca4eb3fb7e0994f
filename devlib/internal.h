// Library-internal declarations shared by the devlib sources. Programs never
// include this; they see only zirko.h.
#pragma once

#include <string>
#include <string_view>

#include "zirko.h"

// Operation table of one firmware or bootloader generation. A null member is
// an operation the generation does not have; the dispatch calls answer -12.
// Unless a member says otherwise, it returns 0 (or the value read) on
// success and -16 when a transfer fails.
struct zk_ops {
  // version_str: the version text for zk_version_str, a static buffer
  // overwritten by the next call; null on failure.
  const char *(*version_str)();
  // leave_bootloader: bootloaders start the firmware; 0, or -13.
  int (*leave_bootloader)();
  // reboot: restart the receiver in its current mode.
  int (*reboot)();
  // set_delete: enter delete mode; with wait != 0, wait for the button and
  // return its outcome.
  int (*set_delete)(int wait);
  // set_record: record a key by name; -8 for an unknown name; with
  // timeout_s, wait for the outcome.
  int (*set_record)(const char *name, int timeout_s);
  // set_record_api: record a raw key report; with timeout_s, wait for the outcome.
  int (*set_record_api)(int modifier, int key, int timeout_s);
  // set_normal: leave record or delete mode.
  int (*set_normal)();
  // set_interrupt: wait up to timeout_s for a recording's outcome: 0,
  // -4/-5/-6, -17 on time-out.
  int (*set_interrupt)(int timeout_s);
  // delete_buttons: delete the buttons of a key name: the receiver's reply
  // byte, or negative.
  int (*delete_buttons)(const char *name);
  // The settings, from set_noise_cancel to set_sleep_detect: getters return
  // the field, setters -8 for a value out of range.
  int (*set_noise_cancel)(int value);
  int (*get_noise_cancel)();
  int (*set_sensitivity)(int value);
  int (*get_sensitivity)();
  int (*set_interkey_delay)(int value);
  int (*get_interkey_delay)();
  int (*get_sleep_detect)();
  int (*set_sleep_detect)(int value);
  // get/set_builtin_profile_support: firmware 2.1 and later: built-in
  // profiles on (1) or off (0).
  int (*get_builtin_profile_support)();
  int (*set_builtin_profile_support)(int value);
  // reserved19: used by no call; kept so every later member stays where
  // the generations' tables put it.
  void (*reserved19)();
  // get_state: the state code of a recording or deletion.
  int (*get_state)();
  // clear_state: clear the state code; its reply byte.
  int (*clear_state)();
  // display_config: print the recorded buttons.
  int (*display_config)();
  // format_config: erase every button.
  int (*format_config)();
  // save_config, load_config: configuration file to and from the
  // receiver; -6 for file errors.
  int (*save_config)(const char *path);
  int (*load_config)(const char *path);
  // keys_recorded, keys_remaining: buttons recorded and room left;
  // negative when the size is unreadable.
  int (*keys_recorded)();
  int (*keys_remaining)();
  // reserved28: used by no call; kept for the same reason as reserved19.
  void (*reserved28)();
  // device_set_dfu: ask the firmware to restart into its bootloader; -16
  // when it stays.
  int (*device_set_dfu)();
  // last_upgrade_attempt: bootloaders: 1 when the last upload did not
  // finish, 0 when it did.
  int (*last_upgrade_attempt)();
  // delete_index: generation 2 and later: delete the button at an index;
  // -1 for a bad index.
  int (*delete_index)(int index);
  // set/get_sequence_modifiers: generation 3: sequenced modifiers on (1)
  // or off (0).
  int (*set_sequence_modifiers)(int value);
  int (*get_sequence_modifiers)();
  // fw_scm_hash: the firmware's source-control hash.
  int (*fw_scm_hash)();
  // upload_fw: bootloaders: upload a whole image; 0 or -13 (generation 2
  // also -1).
  int (*upload_fw)(const unsigned char *image, int size, void *callback_arg,
                   zk_progress_cb callback);
  // Not a slot: the outcome of a recording or deletion arrives on the
  // interrupt endpoint instead of the state request.
  bool outcome_on_interrupt;
};

// upload_fw through the dispatch: -12 when the receiver is not in a bootloader.
int zk_upload_fw(const unsigned char *image, int size, void *callback_arg, zk_progress_cb callback);

// Table builders: each returns a new zero-filled table with its slots filled,
// or null (after "Could not allocate memory") when allocation fails.
zk_ops *zk_fw_ver1_init();
zk_ops *zk_fw_ver2_init();
zk_ops *zk_fw_ver2p1_init();
zk_ops *zk_fw_ver3p0_init();
zk_ops *zk_bl_ver1_init();
zk_ops *zk_bl_ver2_init();
// Allocates an empty table; logs "Could not allocate memory" from `caller`.
zk_ops *zk_new_ops(const char *caller);

// Process-wide device state (one receiver in use at a time).
extern zk_device *current_device;
extern zk_usb_handle *current_handle;
extern zk_ops *current_ops;

// Writes "[DEVICE]        " and the text (which carries its own line end, if
// any) to standard output whatever the log level, and flushes it.
void zk_print_device_line(const char *text);

// zk_wait_for_device_for with its own poll interval.
int zk_wait_for_device_every(int vendor_id, const char *manufacturer, int timeout_ms, int poll_ms);

// version_str of both bootloader tables: "%g %02d-%02d-20%02d".
const char *zk_bl_version_str();

// Closes the USB side of the current device: clear halt (firmware mode),
// reset, release the interface, close, release the library context.
void zk_close_usb(zk_device *device, int fw_state);
// Unlinks a record from device_list (it is not freed).
void zk_unlink_device(zk_device *device);
// Whether the last scan met any device of the vendor it asked for.
bool zk_last_scan_saw_vendor();
// Closes and frees every record in the device list; none is current after.
void zk_discard_devices();
// Closes and frees every record of a list of the caller's own (without the
// reset that closing the receiver in use makes).
void zk_discard_records(zk_device *list);
// Closes and frees every record but the current one.
void zk_discard_others();
// The backend's bus position of a found receiver ("" when unknown).
std::string zk_bus_position(const zk_device *device);

// Key names (keys.cpp).
namespace zk {
// One row of the key table: a character row has an empty word, a word row
// the character 0. The key report of a row is { code, second }.
struct KeyRow {
  const char *word;
  char character;
  uint8_t second;  // HID modifier bits, or the usage of a media/system key
  uint8_t code;    // HID key code, or a marker code
};
// The 139 rows in search order (93 character rows, then the words).
const KeyRow *key_table(int *count);
// The row a name stands for, without a word to the user: a one-character
// name among the character rows, a longer one among the word rows; or null.
const KeyRow *find_key_row(std::string_view name);
// The bit of a modifier name as the listing writes it ("left_ctrl" 0x01 to
// "right_cmd" 0x80), or 0 for any other name.
uint8_t modifier_bit(std::string_view name);
// The names of the set bits, from bit 0 up, joined by "+".
std::string modifier_names(uint8_t bits);
// The row's character, or its word.
std::string row_name(const KeyRow &row);
// How the listing of recorded buttons names a key report: the row that holds
// both bytes, or else the second byte's modifier names and the first row with
// the key code (row "!" when none has it).
struct ListedKey {
  const KeyRow *row;
  bool exact;         // the row holds both bytes: no modifier names
  uint8_t modifiers;  // otherwise the bits named before the row
};
ListedKey listed_key(uint8_t second, uint8_t code);
}  // namespace zk
// Key report of a recorded name: a one-character name through the character
// lookup, any other through the word lookup, taken on at most 255 characters.
// Returns 1 when found, otherwise that lookup's failure value (0 or -22) with
// the report left 0, 0.
int zk_key_report(const char *name, uint8_t report[2]);

// True after zk_set_libusb_debug(non-zero): scans then set the USB debug level 4.
bool zk_libusb_debug();

// Generation selection: the table for type 1 (bootloader) or 2 (firmware) and
// the version read, or null (after an error line) when none fits.
zk_ops *determine_iface(int type, int major, int minor);

namespace zk {

// reboot of every table: request 0xC2/6. 0, or -16 when the transfer fails.
int restart();

// While set (not empty), zk_open_device takes only the receiver at this bus
// position: the one chosen (zk_choose_device), or a receiver followed
// through its re-enumeration, not whichever comes first on the bus.
void follow_bus_position(const std::string &position);
const std::string &followed_bus_position();

// A transfer's result as the library's calls report it: the byte count, or,
// when the transfer failed or brought fewer than `least` bytes, ZK_ERR_USB
// after a debug line under `caller` with the USB error text ("Success" for a
// short reply).
int transfer_result(const char *caller, int result, int least);

// The version request (0xC2/4 in a bootloader, 0xC2/1 in firmware) into an
// 8-byte reply: major, minor, three date bytes. The transfer's own result,
// as zk_send_msg gives it.
int version_request(unsigned char *reply, unsigned timeout_ms);

// Drops the bytes of an open EEPROM snapshot: the receiver is going away,
// or the next read must come from the receiver.
void forget_snapshot();
// True while a caller holds a snapshot (zk_begin_snapshot).
bool snapshot_open();

// Clock of every wait the library makes (outcomes, receivers coming and
// going), replaceable so tests can run long limits without sleeping.
struct WaitClock {
  int64_t (*now_us)();
  void (*sleep_ms)(int ms);
};
const WaitClock &wait_clock();
// Installs a clock (null restores the wall clock). Not owned.
void set_wait_clock(const WaitClock *clock);

// Allocates the zero-filled record of one found receiver (freed with free()),
// or null. Replaceable so that tests can make the scan's allocation fail;
// null restores the default.
using DeviceAllocator = zk_device *(*)();
void set_device_allocator(DeviceAllocator allocator);
}  // namespace zk
