// Versions, waiting for the receiver, restarting it, and its bootloader:
// entering and leaving it, the last upgrade's outcome, and upgrades.
#include <stdio.h>
#include <string.h>

#include "commands.h"

namespace {

constexpr const char *kVersionHistory =
    "Version History:\n"
    " 1.2.7\n"
    " - firmware 3.0 support: sequenced modifiers\n"
    " - settings shows the product variant\n"
    " - version shows the firmware source hash\n"
    " 1.2.6\n"
    " - firmware upgrade waits for the receiver to come back\n"
    " - upgrade falls back to the legacy manufacturer string\n"
    " 1.2.5\n"
    " - sleep/suspend detection on firmware 2.x\n"
    " - clearer messages when no receiver is attached\n"
    " 1.2.4\n"
    " - built in profiles can be switched on and off\n"
    " 1.2.3\n"
    " - faster configuration backup and restore\n"
    " - loadconfig reports the file name as typed\n"
    " 1.2.2\n"
    " - bootloader 2 support with page checksums and retries\n"
    " 1.2.1\n"
    " - delete_index command removes one button by its position\n"
    " - keys numbers the recorded buttons\n"
    " 1.2.0\n"
    " - firmware 2.0 support: state polling instead of interrupts\n"
    " - record waits at most 100 seconds for a button\n"
    " 1.1.7\n"
    " - status command shows whether the last upgrade finished\n"
    " - upgrade resumes on a receiver left in its bootloader\n"
    " 1.1.6\n"
    " - dfu can kick the receiver out of the bootloader\n"
    " 1.1.5\n"
    " - media and system keys for record\n"
    " - record shows the valid key names when a name is unknown\n"
    " 1.1.4\n"
    " - interkey_delay command\n"
    " - settings command gathers every setting on one screen\n"
    " 1.1.1\n"
    " - fixed reading the firmware version on older receivers\n"
    " 1.1.0\n"
    " - saveconfig and loadconfig commands\n"
    " - keys lists the recorded buttons with their key names\n"
    " 1.0.9\n"
    " - noise canceler setting\n"
    " - fewer phantom presses reported by older firmware\n"
    " 1.0.8\n"
    " - record_api command for raw HID values\n"
    " 1.0.7\n"
    " - progress bar during upgrades\n"
    " - reboot command\n"
    " 1.0.6\n"
    " - commands can be chained on one command line\n"
    " 1.0.5\n"
    " - space command shows memory used and remaining\n"
    " 1.0.4\n"
    " - wait command for scripting\n"
    " - normal command takes the receiver out of record mode\n"
    " 1.0.3\n"
    " - peek and dump commands read the EEPROM\n"
    " - dump prints sixteen bytes per line with addresses\n"
    " 1.0.2\n"
    " - upgrade accepts a manufacturer string and vendor id\n"
    " 1.0.1\n"
    " - help lists every command with a summary\n"
    " - help <command> shows usage and examples\n"
    " 1.0.0\n"
    "  - first public release\n"
    "  - record, delete, format and upgrade\n"
    "  - version and help commands\n"
    " 0.9.9\n"
    "  - command links: run a command by its own name\n"
    " 0.9.8\n"
    "  - first test release for early receivers\n";

int version(int argc, char **argv, const cmd_desc *, void *, dict *) {
  printf("zirko_util version %s [%s]\n", ZIRKO_UTIL_RELEASE, ZIRKO_UTIL_BUILD_TAG);
  if (argc > 0 && strcmp(argv[0], "history") == 0) printf("%s", kVersionHistory);
  int state = zk_fw_state();
  if (state < 0) return argc;
  int major = zk_major_version();
  int minor = zk_minor_version();
  unsigned hash = static_cast<unsigned>(zk_fw_scm_hash());
  if (state == ZK_STATE_FIRMWARE)
    printf("  Firmware:");
  else if (state == ZK_STATE_BOOTLOADER)
    printf("  Booloader:");
  printf(" v%d.%d [%08X]\n", major & 0xFF, minor & 0xFF, hash);
  return argc;
}

int wait_cmd(int argc, char **, const cmd_desc *, void *, dict *) {
  // A second handle on an open receiver could never claim its interface,
  // and the wait would then never end.
  zk_close_device();
  zk_wait_for_device(ZK_VENDOR_ID, ZK_MANUFACTURER);
  return argc;
}

int status(int, char **, const cmd_desc *, void *, dict *) {
  printf("Last upgrade attempt: %s\n", zk_last_upgrade_attempt() == 0 ? "OK" : "Error");
  return 0;
}

int reboot(int argc, char **, const cmd_desc *, void *, dict *) {
  printf("Rebooting zirko...");
  fflush(stdout);
  int rc = zk_reboot();
  if (rc < 0) {
    printf("\n");
    return device_failed(rc);
  }
  printf("done\n");
  return argc;
}

int dfu(int argc, char **argv, const cmd_desc *cmd, void *, dict *opts) {
  if (dict_has(opts, "leave") || (argc > 0 && strcmp(argv[0], "leave") == 0)) {
    printf("Kicking device out of bootloader...");
    fflush(stdout);
    if (zk_leave_bootloader() < 0) {
      printf("Error, could not leave bootloader\n");
      return CMD_FAILED;
    }
    printf("Done!\n");
  } else if (argc == 0) {
    printf("Putting device in Firmware Upgrade Mode...");
    fflush(stdout);
    if (zk_device_set_dfu() < 0) {
      printf("\nError\n");
      return CMD_FAILED;
    }
    printf("  Done!\n");
  } else {
    printf("Error: invalid dfu option\n");
    show_help(cmd->name);
  }
  return argc;
}

int upgrade(int argc, char **argv, const cmd_desc *cmd, void *, dict *) {
  if (!enough_args(cmd, argc, 1)) return argc;
  if (argc == 1) {
    printf("Uploading image: %s to \"%s\" 0x%X\n", argv[0], ZK_MANUFACTURER, ZK_VENDOR_ID);
    fflush(stdout);
    if (zk_upgrade_fw(argv[0], ZK_VENDOR_ID, ZK_MANUFACTURER, nullptr, nullptr) < 0) {
      printf("Error, upload failed\n");
      return CMD_FAILED;
    }
  } else if (argc == 3) {
    int vendor;
    if (!parse_int(cmd->name, argv[2], 16, &vendor)) return CMD_FAILED;
    printf("Uploading image: %s to \"%s\" 0x%X\n", argv[0], argv[1], vendor);
    fflush(stdout);
    if (zk_upgrade_fw(argv[0], vendor, argv[1], nullptr, nullptr) < 0) {
      zk_leave_bootloader();
      return CMD_FAILED;
    }
  }
  return argc;
}

const cmd_option kDfuOptions[] = {
    {"leave", "leave the bootloader and start the firmware", 0, "leave"},
    {nullptr, nullptr, 0, nullptr},
};

const cmd_desc kCommands[] = {
    {"dfu", dfu, "Kick in or out of Device Firmware Upgrade mode",
     "usage: \n  dfu\nexample: \n  zirko dfu \n  zirko dfu --leave", kDfuOptions},
    {"reboot", reboot, "Restart the receiver", "usage: \n  zirko_util reboot\n", nullptr},
    {"status", status, "Last Zirko Status", "Last Zirko Status", nullptr},
    {"upgrade", upgrade, "Uploads new firmware image to zirko hardware",
     "usage: \n  zirko upgrade <path to firmware file>\nexample:\n  zirko upgrade "
     "~/Desktop/zirko.bin",
     nullptr},
    {"version", version, "Print the application version and device version if connected",
     "usage: version [history]\n history     shows the history log", nullptr},
    {"wait", wait_cmd, "Waits for the device to be plugged in (used for scripting)",
     "usage: \n  zirko wait", nullptr},
};
const bool registered = register_cmds(kCommands, sizeof kCommands / sizeof kCommands[0]);

}  // namespace
