// Recording and deleting remote buttons, and listing what is recorded.
#include <stdio.h>
#include <string.h>

#include "commands.h"
#include "console.h"
#include "history_keep.h"
#include "json_output.h"
#include "zirko_history.h"

namespace {

constexpr int kRecordWait = 100;  // seconds: the longest wait the firmware offers
constexpr const char *kTimeoutKey = "timeout";

const cmd_option kWaitOptions[] = {
    {kTimeoutKey, "seconds to wait for a remote button, 1 to 100 (default 100)", 't', "timeout",
     "SECONDS"},
    {nullptr, nullptr, 0, nullptr},
};

// The wait given with -t, or the default; false after saying what is wrong.
bool wait_seconds(const cmd_desc *cmd, dict *opts, int *seconds) {
  *seconds = kRecordWait;
  if (!dict_has(opts, kTimeoutKey)) return true;
  uint32_t length = 0;
  const char *value = static_cast<const char *>(dict_get(opts, kTimeoutKey, &length));
  if (length > 0 && parse_int(cmd->name, value, 10, seconds) && *seconds >= 1 &&
      *seconds <= kRecordWait)
    return true;
  ZK_LOGE_AS(cmd->name, "the timeout is a number of seconds from 1 to %d", kRecordWait);
  return false;
}

// The name the key table knows for a typed key name.
const char *table_key_name(const char *typed) {
  for (const key_alias &alias : kKeyAliases)
    if (strcmp(typed, alias.listed) == 0) return alias.name;
  return typed;
}

// Whether the key table knows the name; if not, the lookup has said so and
// shown the valid names.
bool key_known(const char *name) {
  uint8_t report[2];
  if (strlen(name) == 1) return zk_lookup_char(name[0], report) == 1;
  return zk_lookup_word(name, report) == 1;
}

// Says why a recording failed. The receiver's own refusals keep their texts;
// a failed transfer is never reported as one of them.
int recording_failed(int rc, const char *nothing = "nothing was recorded") {
  switch (rc) {
    case ZK_ERR_INTERRUPTED:
      print_error("Interrupted: the receiver is back in normal mode; %s", nothing);
      break;
    case ZK_ERR_NO_SPACE:
    case ZK_ERR_EXISTS:
    case ZK_ERR_TIMEOUT:
      print_error("Error, %s", zk_result_text(rc));
      break;
    case ZK_ERR_NOT_FOUND:
      print_error("Error, key not found by the receiver");
      break;
    case ZK_ERR_INVALID:
      print_error("Error, unknown key name");
      break;
    case ZK_ERR_UNSUPPORTED:
      read_failed(rc);
      if (!report_bootloader(rc)) print_error("Error, recording %s", zk_result_text(rc));
      break;
    default:
      return device_failed(rc);
  }
  return CMD_FAILED;
}

int record(int argc, char **argv, const cmd_desc *cmd, void *, dict *opts) {
  int seconds;
  if (!wait_seconds(cmd, opts, &seconds)) return CMD_USAGE;
  const char *key = table_key_name(argv[0]);
  if (!key_known(key)) return CMD_USAGE;
  if (!keep_before_change(change_name(cmd->name, argc, argv).c_str())) return CMD_FAILED;
  printf(" Press any button on the remote to link it with '%s'\n\n", argv[0]);
  fflush(stdout);
  const StopGuard guard;
  int rc = zk_set_record(key, seconds);
  if (rc != 0) return recording_failed(rc);
  printf("  Succesfully recorded button\n");
  return argc;
}

int record_api(int argc, char **argv, const cmd_desc *cmd, void *, dict *opts) {
  int seconds, modifier, usage;
  if (!wait_seconds(cmd, opts, &seconds)) return CMD_USAGE;
  if (!parse_in_range(cmd, argv[0], "the modifier", 0, 255, &modifier) ||
      !parse_in_range(cmd, argv[1], "the HID usage", 0, 255, &usage))
    return CMD_USAGE;
  if (!keep_before_change(change_name(cmd->name, argc, argv).c_str())) return CMD_FAILED;
  printf("hit a key on the remote to be paired with %d %d\n", modifier, usage);
  fflush(stdout);
  const StopGuard guard;
  int rc = zk_set_record_api(modifier, usage, seconds);
  if (rc != 0) return recording_failed(rc);
  printf("  Succesfully recorded button\n");
  return argc;
}

int delete_cmd(int argc, char **, const cmd_desc *cmd, void *, dict *opts) {
  int seconds;
  if (!wait_seconds(cmd, opts, &seconds)) return CMD_USAGE;
  if (!keep_before_change(cmd->name)) return CMD_FAILED;
  printf(" The Next button pressed will be deleted, please press a button\n\n");
  fflush(stdout);
  // Delete mode, then the wait for the button with the time asked for, the
  // receiver locked throughout: it moves the entries itself once pressed.
  const StopGuard guard;
  int rc;
  {
    const zk::WriteLock lock;
    rc = lock.result();
    if (rc == 0) rc = zk_set_delete(0);
    if (rc == 0) rc = zk_set_interrupt(seconds);
  }
  if (rc == ZK_ERR_NOT_FOUND) {
    print_error("Error, that button is not recorded");
    return CMD_FAILED;
  }
  if (rc == ZK_ERR_TIMEOUT || rc == ZK_ERR_INTERRUPTED)
    return recording_failed(rc, "nothing was deleted");
  if (rc != 0) return device_failed(rc);
  printf("  Button Deleted Successfully\n");
  return argc;
}

using zk::layout::kEntrySize;
using zk::layout::kHeaderSize;
using zk::layout::kMaxButtons;

// The hash of the button at an index (0 to kMaxButtons - 1), read before it
// is deleted so that the user sees which one went; false when it cannot be read.
bool entry_hash(int index, unsigned *hash) {
  const int address = kHeaderSize + kEntrySize * index;
  *hash = 0;
  for (int i = 0; i < 4; ++i) {
    int byte = zk_eeprom_peek(address + i);
    if (byte < 0) return false;
    *hash |= unsigned(byte) << (8 * i);
  }
  return true;
}

// Says which indexes there are when the receiver has no button at this one.
int no_such_index(int index, int rc) {
  const int recorded = rc == ZK_ERR_FAILED ? zk_keys_recorded() : -1;
  if (recorded < 0 || index < recorded) return device_failed(rc);
  read_failed(rc);
  end_progress_line();
  if (recorded == 0)
    print_error("Error: no button at index %d: the receiver has no buttons", index);
  else
    print_error("Error: no button at index %d: the receiver has %d, at index 0 to %d", index,
                recorded, recorded - 1);
  return CMD_FAILED;
}

int delete_index(int, char **argv, const cmd_desc *cmd, void *, dict *) {
  int index;
  if (!parse_in_range(cmd, argv[0], "the index", 0, kMaxButtons - 1, &index)) return CMD_USAGE;
  // Held from the hash read to the deletion, so the hash shown is the one deleted.
  if (int rc = zk_lock_receiver(ZK_LOCK_WAIT_MS)) return device_failed(rc);
  // The history's read of the image serves the hash and the delete too.
  const zk::EepromSnapshot snapshot;
  if (!keep_before_change(change_name(cmd->name, 1, argv).c_str())) {
    zk_unlock_receiver();
    return CMD_FAILED;
  }
  unsigned hash = 0;
  bool known = entry_hash(index, &hash);
  const StopGuard guard;
  int rc = zk_delete_index(index);
  zk_unlock_receiver();
  if (rc == ZK_ERR_INTERRUPTED) return write_failed(rc);
  if (rc < 0) return no_such_index(index, rc);
  end_progress_line();
  if (known)
    printf("  Deleted button %d (hash %X)\n", index, hash);
  else
    printf("  Deleted button %d\n", index);
  return 1;
}

int normal(int argc, char **, const cmd_desc *, void *, dict *) {
  int rc = zk_set_normal();
  if (rc != 0) return device_failed(rc);
  printf("Succesfully set device to normal operation\n");
  return argc;
}

int keys(int argc, char **, const cmd_desc *, void *, dict *) {
  if (json_output()) return print_json(keys_json(), argc);
  int rc = zk_display_config();
  if (rc < 0) return device_failed(rc);
  return argc;
}

int format(int, char **, const cmd_desc *cmd, void *, dict *) {
  if (!keep_before_change(cmd->name)) return CMD_FAILED;
  printf("Formatting Device, please wait...");
  fflush(stdout);
  int rc = zk_format_config();
  if (rc != 0) {
    printf("\n");
    return device_failed(rc);
  }
  printf("  Done!\n");
  return 1;
}

const cmd_desc kCommands[] = {
    {"delete",
     delete_cmd,
     "Delete next remote button zirko sees from saved database",
     "usage: \n  delete \nexample: \n  zirko delete",
     kWaitOptions,
     {0, 0},
     CMD_WRITES},
    {"delete_index",
     delete_index,
     "Delete button at index displayed in `zirko_util settings`",
     "usage: \n  delete_index <index> \nexample: \n  zirko delete_index 0",
     nullptr,
     {1, 1, CMD_CHAINS},
     CMD_WRITES},
    {"format",
     format,
     "Remove all saved buttons from zirko",
     "usage: \n  format \nexample: \n  zirko format",
     nullptr,
     {0, 0},
     CMD_WRITES},
    {"keys",
     keys,
     "Shows the recorded remote keys and their pairings",
     "usage: \n  keys\n",
     nullptr,
     {0, 0},
     CMD_JSON},
    {"normal",
     normal,
     "Put zirko in normal user mode",
     "usage: \n  normal \nexample: \n  zirko normal",
     nullptr,
     {0, 0},
     CMD_WRITES},
    {"record",
     record,
     "Record infrared buttons and link them to HID keys",
     "usage: \n  record '<keyboard key>'\n"
     "examples:\t\t\n  zirko record a   \n  zirko record space\n"
     "valid commands:\n  a-z <any single letter>\n"
     "  return, enter, escape, backspace, delete, tab, \n"
     "  space, F[1-12], printscreen, scroll, pause, insert, \n"
     "  home, pageup, pagedown, end, right, left, down, up, \n"
     "Media Keys: \n"
     "  wake, eject, vol_up, vol_down, mute, play/pause, stop \n"
     "  rewind, fast_forward, next_track, prev_track \n"
     "System Keys: \n  suspend\n",
     kWaitOptions,
     {1, 1, CMD_ENDS_LINE, CMD_COMPLETE_KEYS},
     CMD_WRITES},
    {"record_api",
     record_api,
     "Advanced button recording",
     "Send the raw HID value down to zirko to be linked with button recorded\n"
     "usage:\n  record_api 'arg1 arg2'   arg1 is key-modifier \n"
     "                           arg2 is HID key\n"
     "example:\n  zirko record_api 136 4   '136' represents right cmd + left cmd\n"
     "                           '4' represents 'a' in HID\n\n"
     "Key modifiers are defined in the IEEE HID Spec as follows:\n"
     "LEFT  CONTROL          1\nLEFT  SHIFT            2\nLEFT  ALT              4\n"
     "LEFT  CMD|WIN          8\nRIGHT CONTROL          16\nRIGHT SHIFT            32\n"
     "RIGHT ALT              64\nRIGHT CMD|WIN          128\n\n"
     "To record Control + Shift, logically or 1 & 2 to make 3",
     kWaitOptions,
     {2, 2},
     CMD_WRITES},
};
const bool registered = register_cmds(kCommands, sizeof kCommands / sizeof kCommands[0]);

}  // namespace
