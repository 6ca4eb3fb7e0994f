// Recording and deleting remote buttons, and listing what is recorded.
#include <stdio.h>

#include "commands.h"

namespace {

constexpr int kRecordWait = 100;  // seconds the receiver waits for a button

// Says why a recording failed; the existing-button text is the one users know.
void print_record_failure(int rc) {
  switch (rc) {
    case -5:
      printf("Error, button exists\n");
      break;
    case -4:
      printf("Error, no space left on the receiver\n");
      break;
    case -6:
      printf("Error, key not found by the receiver\n");
      break;
    case -8:
      printf("Error, unknown key name\n");
      break;
    case -17:
      printf("Error, timed out waiting for a button\n");
      break;
    case -12:
      printf("Error, recording not supported by this receiver\n");
      break;
    default:
      printf("Error, recording failed (%d)\n", rc);
      break;
  }
}

int record(int argc, char **argv, const cmd_desc *cmd, void *, dict *) {
  if (!enough_args(cmd, argc, 1)) return argc;
  printf(" Press any button on the remote to link it with '%s'\n\n", argv[0]);
  fflush(stdout);
  int rc = zk_set_record(argv[0], kRecordWait);
  if (rc != 0) {
    print_record_failure(rc);
    return CMD_FAILED;
  }
  printf("  Succesfully recorded button\n");
  return argc;
}

int record_api(int argc, char **argv, const cmd_desc *cmd, void *, dict *) {
  if (!enough_args(cmd, argc, 2)) return argc;
  int modifier, usage;
  if (!parse_int(cmd->name, argv[0], 10, &modifier) || !parse_int(cmd->name, argv[1], 10, &usage))
    return CMD_FAILED;
  if (modifier < 0 || modifier > 255 || usage < 0 || usage > 255) {
    CMD_LOG_AS(1, "E", cmd->name, "modifier and HID usage must be 0 to 255");
    return CMD_FAILED;
  }
  printf("hit a key on the remote to be paired with %d %d\n", modifier, usage);
  fflush(stdout);
  int rc = zk_set_record_api(modifier, usage, kRecordWait);
  if (rc != 0) {
    print_record_failure(rc);
    return CMD_FAILED;
  }
  printf("  Succesfully recorded button\n");
  return argc;
}

int delete_cmd(int argc, char **, const cmd_desc *, void *, dict *) {
  printf(" The Next button pressed will be deleted, please press a button\n\n");
  fflush(stdout);
  int rc = zk_set_delete(1);
  if (rc == -6) {
    printf("Error, that button is not recorded\n");
    return CMD_FAILED;
  }
  if (rc != 0) return device_failed(rc);
  printf("  Button Deleted Successfully\n");
  return argc;
}

int delete_index(int argc, char **argv, const cmd_desc *cmd, void *, dict *) {
  if (!enough_args(cmd, argc, 1)) return argc;
  int index;
  if (!parse_int(cmd->name, argv[0], 10, &index)) return CMD_FAILED;
  int rc = zk_delete_index(index);
  if (rc < 0) return device_failed(rc);
  return 1;
}

int normal(int argc, char **, const cmd_desc *, void *, dict *) {
  int rc = zk_set_normal();
  if (rc != 0) return device_failed(rc);
  printf("Succesfully set device to normal operation\n");
  return argc;
}

int keys(int argc, char **, const cmd_desc *, void *, dict *) {
  int rc = zk_display_config();
  if (rc < 0) return device_failed(rc);
  return argc;
}

int format(int, char **, const cmd_desc *, void *, dict *) {
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
    {"delete", delete_cmd, "Delete next remote button zirko sees from saved database",
     "usage: \n  delete \nexample: \n  zirko delete", nullptr},
    {"delete_index", delete_index, "Delete button at index displayed in `zirko_util settings`",
     "usage: \n  delete_index <index> \nexample: \n  zirko delete_index 0", nullptr},
    {"format", format, "Remove all saved buttons from zirko",
     "usage: \n  format \nexample: \n  zirko format", nullptr},
    {"keys", keys, "Shows the recorded remote keys and their pairings", "usage: \n  keys\n",
     nullptr},
    {"normal", normal, "Put zirko in normal user mode",
     "usage: \n  normal \nexample: \n  zirko normal", nullptr},
    {"record", record, "Record infrared buttons and link them to HID keys",
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
     nullptr},
    {"record_api", record_api, "Advanced button recording",
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
     nullptr},
};
const bool registered = register_cmds(kCommands, sizeof kCommands / sizeof kCommands[0]);

}  // namespace
