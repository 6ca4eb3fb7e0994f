// Versions, waiting for the receiver, restarting it, and its bootloader:
// entering and leaving it, the last upgrade's outcome, and upgrades.
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>

#include <vector>

#include "commands.h"
#include "console.h"
#include "history_keep.h"
#include "json_output.h"
#include "zirko_history.h"
#include "zirko_map.h"

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

int version(int argc, char **argv, const cmd_desc *cmd, void *, dict *) {
  if (argc > 0 && strcmp(argv[0], "history") != 0) return unrecognized(cmd);
  if (json_output()) {
    json_result result = version_json();
    if (argc > 0) result.object["history"] = kVersionHistory;
    return print_json(result, argc);
  }
  print_program_version();
  if (argc > 0) printf("%s", kVersionHistory);
  int state = zk_fw_state();
  if (state < 0) return argc;
  int major, minor;
  zk_opened_version(&major, &minor);  // the open read it; the receiver is not asked again
  const int hash = zk_fw_scm_hash();
  if (state == ZK_STATE_FIRMWARE)
    printf("  Firmware:");
  else if (state == ZK_STATE_BOOTLOADER)
    printf("  Booloader:");
  // A bootloader has no hash: its refusal is no number to show as one.
  if (hash == ZK_ERR_UNSUPPORTED)
    printf(" v%d.%d [no hash]\n", major & 0xFF, minor & 0xFF);
  else
    printf(" v%d.%d [%08X]\n", major & 0xFF, minor & 0xFF, static_cast<unsigned>(hash));
  return argc;
}

int wait_cmd(int argc, char **, const cmd_desc *, void *, dict *) {
  // A second handle on an open receiver could never claim its interface,
  // and the wait would then never end.
  zk_close_device();
  const StopGuard guard;
  if (zk_wait_for_device(ZK_VENDOR_ID, ZK_MANUFACTURER) == ZK_ERR_INTERRUPTED) {
    print_error("Interrupted: stopped waiting for the receiver");
    return CMD_FAILED;
  }
  return argc;
}

// The upgrade flag belongs to the bootloader: a receiver running its firmware
// has no upgrade left unfinished.
int status(int, char **, const cmd_desc *, void *, dict *) {
  if (json_output()) return print_json(status_json(), 0);
  if (zk_fw_state() == ZK_STATE_FIRMWARE) {
    printf("Last upgrade attempt: OK (running firmware)\n");
    return 0;
  }
  // A receiver still in its bootloader did not get a firmware it runs,
  // whether the image was refused or the upload cut: never OK.
  int flag = zk_last_upgrade_attempt();
  printf("Last upgrade attempt: Error: %s\n", kInBootloader);
  return flag < 0 && read_failed(flag) ? CMD_FAILED : 0;
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

// A switch between firmware and bootloader, with what the user reads
// before, on failure and after.
struct mode_switch {
  const char *doing;
  int (*call)();
  const char *failed;
  const char *done;
};

bool switch_mode(const mode_switch &change) {
  printf("%s", change.doing);
  fflush(stdout);
  const bool switched = change.call() >= 0;
  printf("%s", switched ? change.done : change.failed);
  return switched;
}

int dfu(int argc, char **argv, const cmd_desc *cmd, void *, dict *opts) {
  if (argc > 0 && strcmp(argv[0], "leave") != 0) {
    print_error("Error: invalid dfu option");
    show_usage(cmd->name);
    return CMD_USAGE;
  }
  static constexpr mode_switch kLeave = {"Kicking device out of bootloader...", zk_leave_bootloader,
                                         "Error, could not leave bootloader\n", "Done!\n"};
  static constexpr mode_switch kEnter = {"Putting device in Firmware Upgrade Mode...",
                                         zk_device_set_dfu, "\nError\n", "  Done!\n"};
  const bool leave = argc > 0 || dict_has(opts, "leave");
  return switch_mode(leave ? kLeave : kEnter) ? argc : CMD_FAILED;
}

// Reads the configuration back from the new firmware; one the upgrade lost
// or changed is written back from what was kept before the switch, keeping
// the upgrade's own marks. False when it could not be put back.
bool configuration_kept(const std::vector<unsigned char> &before) {
  std::vector<unsigned char> now;
  const int rc = zk::map::read_receiver_image(now);
  if (rc == 0 && zk::map::without_upgrade_marks(now) == zk::map::without_upgrade_marks(before))
    return true;
  printf("The upgrade %s the receiver's configuration; restoring it from the history\n",
         rc == 0 ? "changed" : "lost");
  std::vector<unsigned char> restored = before;
  const bool current_known = rc == 0 && now.size() > 4;
  if (current_known) {
    restored[2] = uint8_t((restored[2] & 0x7F) | (now[2] & 0x80));
    restored[4] = now[4];
  }
  const int written = zk_write_config_image_over(restored.data(), int(restored.size()),
                                                 current_known ? now.data() : nullptr,
                                                 current_known ? int(now.size()) : 0);
  if (written != 0) {
    device_failed(written);
    print_error(
        "The configuration from before the upgrade is in the history: `zirko_util undo' "
        "restores it");
    return false;
  }
  printf("Configuration restored: %zu buttons\n", zk::map::buttons_of(restored).size());
  return true;
}

// The image is read and checked while the receiver still runs its firmware:
// a generation-1 bootloader cannot leave without a good image. A receiver
// already in its bootloader applies its own size check.
int upgrade(int argc, char **argv, const cmd_desc *cmd, void *, dict *) {
  if (argc == 2) {
    ZK_LOGE_AS(cmd->name, "a manufacturer string needs the vendor id after it");
    show_usage(cmd->name);
    return CMD_USAGE;
  }
  const char *manufacturer = argc == 3 ? argv[1] : ZK_MANUFACTURER;
  int vendor = ZK_VENDOR_ID;
  if (argc == 3 && !parse_int(cmd->name, argv[2], 16, &vendor)) return CMD_USAGE;
  if (vendor < 0 || vendor > 0xFFFF) {
    ZK_LOGE_AS(cmd->name, "the vendor id must be 0 to FFFF (hexadecimal): %s", argv[2]);
    return CMD_USAGE;
  }
  std::vector<unsigned char> image;
  if (std::string reason = read_input_file(argv[0], ZK_FIRMWARE_FILE_MAX, image); !reason.empty())
    return file_refused(argv[0], reason);
  // The receiver opened at the start was looked for under our vendor id.
  if (vendor != ZK_VENDOR_ID) zk_close_device();
  if (zk_fw_state() != ZK_STATE_BOOTLOADER &&
      zk_check_fw_image(image.data(), long(image.size())) < 0) {
    print_error("Error: %s is not an image the receiver takes; the receiver was not changed",
                argv[0]);
    return CMD_FAILED;
  }
  std::vector<unsigned char> before;
  if (zk_fw_state() == ZK_STATE_FIRMWARE && zk::map::read_receiver_image(before) != 0)
    before.clear();
  if (!before.empty() && !keep_before_change(change_name(cmd->name, 1, argv).c_str(), &before))
    return CMD_FAILED;
  printf("Uploading image: %s to \"%s\" 0x%X\n", argv[0], manufacturer, vendor);
  fflush(stdout);
  int length = image.size() > size_t(INT_MAX) ? INT_MAX : int(image.size());
  const StopGuard guard;
  if (zk_upgrade_fw_ext(image.data(), length, vendor, manufacturer, nullptr, nullptr) < 0) {
    end_progress_line();
    if (zk_stop_requested()) {
      print_error(
          "Interrupted: the upgrade was stopped and the receiver stays in its bootloader. To "
          "finish, run `zirko_util upgrade %s' again, or start zirko_gui, which installs its "
          "built-in firmware",
          argv[0]);
    } else if (argc == 1) {
      print_error("Error, upload failed");
    } else {
      zk_leave_bootloader();
    }
    return CMD_FAILED;
  }
  return before.empty() || configuration_kept(before) ? argc : CMD_FAILED;
}

const cmd_option kDfuOptions[] = {
    {"leave", "leave the bootloader and start the firmware", 0, "leave"},
    {nullptr, nullptr, 0, nullptr},
};

const cmd_desc kCommands[] = {
    {"dfu",
     dfu,
     "Kick in or out of Device Firmware Upgrade mode",
     "usage: \n  dfu\nexample: \n  zirko dfu \n  zirko dfu --leave",
     kDfuOptions,
     {0, 1, CMD_ENDS_LINE, "leave"},
     CMD_WRITES},
    {"reboot",
     reboot,
     "Restart the receiver",
     "usage: \n  zirko_util reboot\n",
     nullptr,
     {0, 0},
     CMD_WRITES},
    {"status",
     status,
     "Last Zirko Status",
     "Last Zirko Status",
     nullptr,
     {0, 0, CMD_CHAINS},
     CMD_JSON},
    {"upgrade",
     upgrade,
     "Uploads new firmware image to zirko hardware",
     "usage: \n  zirko upgrade <path to firmware file>\nexample:\n  zirko upgrade "
     "~/Desktop/zirko.bin",
     nullptr,
     {1, 3, CMD_ENDS_LINE, CMD_COMPLETE_FILES},
     CMD_WRITES | CMD_NO_RECEIVER},
    {"version",
     version,
     "Print the application version and device version if connected",
     "usage: version [history]\n history     shows the history log",
     nullptr,
     {0, 1, CMD_ENDS_LINE, "history"},
     CMD_NO_RECEIVER | CMD_JSON},
    {"wait",
     wait_cmd,
     "Waits for the device to be plugged in (used for scripting)",
     "usage: \n  zirko wait",
     nullptr,
     {0, 0},
     CMD_NO_RECEIVER},
};
const bool registered = register_cmds(kCommands, sizeof kCommands / sizeof kCommands[0]);

}  // namespace
