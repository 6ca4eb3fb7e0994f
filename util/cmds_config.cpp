// Backing up the receiver's configuration image to a file and restoring it.
#include <stdio.h>
#include <string.h>

#include "commands.h"

namespace {

constexpr size_t kPathSize = 300;  // the library's limit on a path, NUL included
constexpr const char *kExtension = ".zcfg";

int saveconfig(int argc, char **argv, const cmd_desc *cmd, void *, dict *) {
  if (!enough_args(cmd, argc, 1)) return argc;
  size_t longest = kPathSize - 1 - strlen(kExtension);
  if (strlen(argv[0]) > longest) {
    printf("Error, file name too long (at most %zu characters)\n", longest);
    return CMD_FAILED;
  }
  char path[kPathSize];
  snprintf(path, sizeof path, "%s%s", argv[0], kExtension);
  printf("\nSaving Configuration File '%s' to Disk\n", path);
  fflush(stdout);
  int rc = zk_save_config(path);
  if (rc != 0) {
    printf("\n");
    return device_failed(rc);
  }
  printf("\n\nConfiguration File saved\n");
  return argc;
}

int loadconfig(int argc, char **argv, const cmd_desc *cmd, void *, dict *) {
  if (!enough_args(cmd, argc, 1)) return argc;
  printf("\nLoading Configuration File '%s' to Device\n", argv[0]);
  fflush(stdout);
  int rc = zk_load_config(argv[0]);
  if (rc != 0) {
    printf("\n");
    return device_failed(rc);
  }
  printf("\n\nConfiguration File Loaded Successfully\n");
  return argc;
}

const cmd_desc kCommands[] = {
    {"loadconfig", loadconfig, "Load configuration file from disk to zirko",
     "usage: \n  loadconfig '<filename>'\nexample:\n  zirko loadconfig ~/Desktop/boxee.zcfg",
     nullptr},
    {"saveconfig", saveconfig, "Save configuration file to disk",
     "usage: \n  saveconfig '<filname>'\nexample:\n  zirko saveconfig ~/Desktop/boxee", nullptr},
};
const bool registered = register_cmds(kCommands, sizeof kCommands / sizeof kCommands[0]);

}  // namespace
