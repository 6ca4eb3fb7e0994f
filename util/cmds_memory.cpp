// Reading the receiver's EEPROM and how much of it the buttons use.
#include <stdio.h>

#include "commands.h"
#include "json_output.h"

namespace {

using zk::layout::kEepromSize;

// An EEPROM address from the command line, refused as a usage
// error before anything is read.
bool parse_address(const cmd_desc *cmd, const char *word, int *address) {
  return parse_in_range(cmd, word, "address", 0, kEepromSize - 1, address);
}

int dump(int argc, char **argv, const cmd_desc *cmd, void *, dict *) {
  int last;
  if (!parse_address(cmd, argv[0], &last)) return CMD_USAGE;
  printf("Reading:\n%04X  ", 0);
  for (int i = 0; i <= last; ++i) {
    if (i != 0 && i % 16 == 0) printf("\n%04X  ", i);
    if (i % 8 == 0) printf(" ");
    int byte = zk_eeprom_peek(i);
    if (byte < 0) {
      read_failed(byte);
      printf("\n");
      print_error("Error");
      return CMD_FAILED;
    }
    printf("%02X ", byte);
  }
  printf("\n");
  return argc;
}

int peek(int, char **argv, const cmd_desc *cmd, void *, dict *) {
  int address;
  if (!parse_address(cmd, argv[0], &address)) return CMD_USAGE;
  printf("Reading:\n");
  int value = zk_eeprom_peek(address);
  // A failed read shows its code, as the receiver's bytes are shown: in hex.
  printf("    Address: %X Data: %X\n", static_cast<unsigned>(address),
         static_cast<unsigned>(value));
  if (value < 0) {
    read_failed(value);
    return CMD_FAILED;
  }
  return 1;
}

int space(int argc, char **, const cmd_desc *, void *, dict *) {
  const zk::EepromSnapshot snapshot;  // both counts come from one size header
  if (json_output()) return print_json(space_json(), argc);
  if (zk_fw_state() != ZK_STATE_FIRMWARE) {
    printf("Device currently in bootloader\n");
    return 0;
  }
  int recorded = zk_keys_recorded();
  int remaining = zk_keys_remaining();
  if (recorded < 0 || remaining < 0) {
    int code = recorded < 0 ? recorded : remaining;
    read_failed(code);
    printf("%d\n", code);
    return CMD_FAILED;
  }
  printf("\nMemory Info:\n");
  printf("  keys recorded:  %d\n", recorded);
  printf("  keys remaining: %d\n", remaining);
  if (recorded + remaining == 0)
    printf("  memory used:  n/a\n");
  else
    printf("  memory used:  %3.0f%%\n", 100.0f * recorded / (recorded + remaining));
  return argc;
}

const cmd_desc kCommands[] = {
    {"dump",
     dump,
     "Dumps contents of eeprom to console",
     "usage: \n  dump 'size'\nexample: \n  zirko dump 100",
     nullptr,
     {1, 1}},
    {"peek",
     peek,
     "Peek EEPROM address",
     "usage: \n  peek 'location'\nexample: \n  peek 5\n  Address: 0x05 Data: 0x05",
     nullptr,
     {1, 1, CMD_CHAINS}},
    {"space",
     space,
     "Displays information about the space used and remaining",
     "usage: \n  space\n",
     nullptr,
     {0, 0},
     CMD_JSON},
};
const bool registered = register_cmds(kCommands, sizeof kCommands / sizeof kCommands[0]);

}  // namespace
