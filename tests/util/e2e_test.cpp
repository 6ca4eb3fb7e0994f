// zirko_util end to end: each case runs the built program (or one of its
// command links) against a virtual receiver kept in a temporary state file and
// checks standard output, standard error and the exit status. Steps of one
// scenario share the receiver, so a later step sees what an earlier one did.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "image.h"
#include "program_output.h"
#include "zirko.h"

namespace fs = std::filesystem;

namespace {

struct Step {
  std::vector<std::string> args;
  std::string out;
  int status = 0;
  std::string err = "";                // log lines, with source lines shown as (#)
  std::string program = "zirko_util";  // or the name of a command link
  bool out_is_regex = false;
};

struct Scenario {
  std::string name;
  std::string state;  // state file contents before the first step
  std::vector<Step> steps;
  // Further receivers on the bus after the first, one state file each
  // (receiver-2.state...).
  std::vector<std::string> others = {};
};
void PrintTo(const Scenario &s, std::ostream *os) {
  *os << s.name;
}

// ---- receivers ----

// The receiver is shared by the steps' programs as one device: one that
// re-enumerates is away for the next step too, so it does so at once.
const std::string kFast =
    "press_delay_ms = 20\nreenumerate_delay_ms = 0\n"
    "leave_delay_ms = 0\neeprom_write_ms = 0\nformat_ms = 0\n";
const std::string kGen3 = kFast;  // firmware 3.8
const std::string kGen2 = kFast + "firmware_version = 2.6\n";
const std::string kGen20 = kFast + "firmware_version = 2.0\n";
const std::string kGen1 = kFast + "firmware_version = 1.4\n";
const std::string kBoot2 = kFast + "mode = bootloader\n";  // bootloader 2.1
const std::string kBoot1 = kBoot2 + "bootloader_version = 1.2\n";
const std::string kNone = "plugged = no\n";
// Two recorded buttons: a (hash AAAA0001) and F5 (hash BBBB0002).
const std::string kTwoKeys =
    "eeprom 000: 00 11 36 06 00 01 00 AA AA 00 04 02 00 BB BB 00\neeprom 010: 3E\n";
// A used size of 1024 is never valid: every image operation refuses it.
const std::string kCorrupt = "eeprom 000: 04 00 36 06 00\n";

// ---- expected texts ----

const std::string kVersion =
    "zirko_util version v" ZIRKO_VERSION " [v" ZIRKO_VERSION "-1-g3842eaf]\n";
const std::string kV38 = kVersion + "  Firmware: v3.8 [5EEDC0DE]\n";
const std::string kV26 = kVersion + "  Firmware: v2.6 [5EEDC0DE]\n";
const std::string kV14 = kVersion + "  Firmware: v1.4 [5EEDC0DE]\n";
// Bootloaders have no source hash.
const std::string kVBoot = kVersion + "  Booloader: v2.1 [no hash]\n";

const std::string kHelpList =
    "Commands:\n"
    "  delete         Delete next remote button zirko sees from saved database\n"
    "  delete_index   Delete button at index displayed in `zirko_util settings`\n"
    "  dfu            Kick in or out of Device Firmware Upgrade mode\n"
    "  dump           Dumps contents of eeprom to console\n"
    "  export         Write the recorded buttons to a button map file\n"
    "  format         Remove all saved buttons from zirko\n"
    "  help           Show this help. Also try `help <command>`\n"
    "  history        List the configurations kept before each change\n"
    "  import         Load a button map file into zirko\n"
    "  interkey_delay set the interkey delay\n"
    "  keys           Shows the recorded remote keys and their pairings\n"
    "  list           List the receivers plugged in, to choose one with --device\n"
    "  loadconfig     Load configuration file from disk to zirko\n"
    "  monitor        Show each key the receiver sends, and the buttons that send it\n"
    "  noise_canceler Noise canceler to prevent phantom presses\n"
    "  normal         Put zirko in normal user mode\n"
    "  peek           Peek EEPROM address\n"
    "  profiles       enable or disable built in profiles\n"
    "  reboot         Restart the receiver\n"
    "  record         Record infrared buttons and link them to HID keys\n"
    "  record_api     Advanced button recording\n"
    "  restore        Put back a configuration from the history\n"
    "  saveconfig     Save configuration file to disk\n"
    "  seq_modifiers  enable or disable sequencing the modifiers\n"
    "  settings       Displays all the devices current settings\n"
    "  sleep_detect   Turns on sleep/suspend detection\n"
    "  space          Displays information about the space used and remaining\n"
    "  status         Last Zirko Status\n"
    "  undo           Put back the configuration from before the last change\n"
    "  upgrade        Uploads new firmware image to zirko hardware\n"
    "  verify         Compare the receiver with a backup or a button map\n"
    "  version        Print the application version and device version if connected\n"
    "  wait           Waits for the device to be plugged in (used for scripting)\n";

const std::string kNoDevice = "device disconnected, can't run command\n";
const std::string kRecordUsage =
    "usage:\n zirko record 'word'Available Options:\t\n"
    "  escape, return, enter, escape, backspace, delete, \n"
    "  tab, space, F[1-12], printscreen, scroll, pause, \n"
    "  insert, home, pageup, pagedown, end, right, left, \n"
    "  down, up, wake, media keys:\n"
    "  eject, vol_up, vol_down, mute, play/pause, stop, \n"
    "  fastforward, rewind\n";
const std::string kDumpHelp =
    "Help for `dump' command:\nusage: \n  dump 'size'\nexample: \n  zirko dump 100\n";
const std::string kNotEnough = "[E] enough_args(#): Not Enough Arguments\n";
const std::string kDfuHelp =
    "Help for `dfu' command:\nusage: \n  dfu\nexample: \n  zirko dfu \n  zirko dfu --leave\n"
    "OPTIONS:\n  --leave              leave the bootloader and start the firmware\n";
const std::string kFormatHelp =
    "Help for `format' command:\nusage: \n  format \nexample: \n  zirko format\n";
const std::string kUpgradeHelp =
    "Help for `upgrade' command:\nusage: \n  zirko upgrade <path to firmware file>\n"
    "example:\n  zirko upgrade ~/Desktop/zirko.bin\n";
const std::string kRecordedA =
    " Press any button on the remote to link it with 'a'\n\n  Succesfully recorded button\n";
const std::string kNoKeys = "No Keys Found\n";
const std::string kTwoKeysListing =
    "\nRecorded Keys:\nIndex  hash        key\n-----  ---------   ---\n"
    "    0  AAAA0001    a\n    1  BBBB0002    F5\n";
const std::string kEmptySpace =
    "\nMemory Info:\n  keys recorded:  0\n  keys remaining: 169\n  memory used:    0%\n";
const std::string kTwoKeysSpace =
    "\nMemory Info:\n  keys recorded:  2\n  keys remaining: 167\n  memory used:    1%\n";

std::string re_escape(const std::string &text) {
  return std::regex_replace(text, std::regex(R"([.^$|()\[\]{}*+?\\])"), "\\$&");
}

// A firmware upgrade of a 32-page image, starting in firmware mode, that
// stops after `pages` pages (32: it succeeds); the waits print a dot for
// every failed attempt, however many there are.
// Standard output is a file here, so no progress bars are drawn.
std::string upgrade_output(const std::string &manufacturer, bool completes = true) {
  const std::string start =
      re_escape("Uploading image: fw.bin to \"" + manufacturer +
                "\" 0x20A0\n[DEVICE]        Setting DFU\n") +
      R"(\[DEVICE\]        Waiting\.*\n\[DEVICE\]        Bootloader Detected\n)";
  if (!completes) return start;
  return start +
         R"(\[DEVICE\]        Waiting\.*\n\[DEVICE\]        FW Detected\n\[DEVICE\]        EOK\n)";
}

std::string settings(const std::string &version, const char *sleep, const char *noise,
                     const char *delay, const char *seq, const char *profiles,
                     const std::string &tail) {
  return version + "\nSettings:\n  sleep detection:  " + sleep + "\n  noise canceler:   " + noise +
         "\n  inter-key delay:  " + delay + "\n  seq. modifiers:   " + seq +
         "\n  state:            0\n  variant:          Zirko\n  builtin profiles: " + profiles +
         "\n" + tail;
}

const std::string kMonitorTime =
    "[E] monitor(#): the time is a number of seconds from 1 to 86400\n";
const std::string kNotSupported = "Error: not supported by this receiver (-12)\n";
const std::string kInBootloader =
    "the receiver is in its bootloader: run `zirko_util upgrade FILE`, or start zirko_gui to "
    "restore its firmware\n";
// In its bootloader the receiver has no firmware running, however it got there.
const std::string kStatusBoot = "Last upgrade attempt: Error: " + kInBootloader;
// A receiver running its firmware has no upgrade left unfinished.
const std::string kStatusOk = "Last upgrade attempt: OK (running firmware)\n";
// A command given words it would not use: nothing runs.
std::string extra(const std::string &cmd, const std::string &words) {
  return "[E] " + cmd + "(#): too many words: `" + words +
         "' would be ignored, so nothing was run; run each command on its own\n";
}

// Two receivers: the first with two buttons, the second empty.
const std::string kTwoReceivers =
    "1  1-1  firmware 3.8     Zirko    2 recorded, 167 free\n"
    "2  1-2  firmware 2.6     Zirko    0 recorded, 169 free\n";
const std::string kTwoReceiversAfter =  // once the second has recorded a button
    "  1  1-1  firmware 3.8     Zirko    2 recorded, 167 free\n"
    "  2  1-2  firmware 2.6     Zirko    1 recorded, 168 free\n";
// In their bootloader, running firmware 1.4 (Corvane), and running 3.8.
const std::string kThreeReceivers =
    "1  1-1  bootloader 2.1   Zirko    0 recorded, 169 free\n"
    "2  1-2  firmware 1.4     Corvane  0 recorded, 169 free\n"
    "3  1-3  firmware 3.8     Zirko    2 recorded, 167 free\n";
const std::string kUsingFirst = "2 receivers found; using 1-1 (choose one with --device)\n";
// A command that would change one of several receivers, none chosen.
std::string refused(const std::string &cmd, int count, const std::string &listing) {
  return std::to_string(count) + " receivers found; `" + cmd +
         "' changes a receiver, so choose one with --device:\n" + listing;
}

// ---- the cases ----

std::vector<Scenario> scenarios() {
  return {
      {"NoArgumentsShowsVersionAndCommands", kGen3, {{{}, kV38 + kHelpList}}},
      {"HelpAndHelpOfOneCommand",
       kGen3,
       {{{"help"}, kHelpList},
        {{"help", "dfu"}, kDfuHelp},
        {{"help", "nosuch"}, "", 1, "[E] help(#): help: command `nosuch' not found.\n"}}},
      {"HelpAndMistakesNeverAct",
       kGen3 + kTwoKeys,
       {{{"format", "--help"}, kFormatHelp},
        {{"dfu", "-h"}, kDfuHelp},
        {{"record", "a", "-h"},
         "Help for `record' command:\n[^]*--timeout SECONDS[^]*",
         0,
         "",
         "zirko_util",
         true},
        {{"format", "-x"},
         "",
         2,
         "[W] handle_shortopt(#): `format' doesn not take '-x' option\n" + kFormatHelp},
        {{"dfu", "--now"},
         "",
         2,
         "[W] handle_longopt(#): `dfu' doesn not take '--now' option\n" + kDfuHelp},
        {{"record", "a", "record", "b"}, "", 2, extra("record", "record b")},
        {{"status", "record", "a", "b"}, "", 2, extra("record", "b")},
        {{"record", "nosuch"}, "", 2, "Not a valid word: nosuch\n\n" + kRecordUsage},
        // The receiver kept its buttons and its firmware mode.
        {{"keys"}, kTwoKeysListing},
        {{"version"}, kV38}}},
      {"ProgramOptionsNeedNoReceiver",
       kNone,
       {{{"--version"}, kVersion},
        {{"-h"},
         "usage: zirko_util [-v|--verbose]... [--json] [--no-history] [-d|--device RECEIVER]\n"
         "                  [--] [command [arguments]]...\n"
         "       zirko_util command -h|--help\n"
         "       zirko_util -h|--help|--version\n"
         "RECEIVER is an index or a bus position from `zirko_util list' (default:\n"
         "$ZIRKO_DEVICE); the options may also follow a command.\n\n" +
             kHelpList},
        {{"format", "--help"}, kFormatHelp},
        {{"version"}, kVersion},
        {{"--bogus"},
         "",
         2,
         "[E] read_program_options(#): unknown option '--bogus'; see `zirko_util --help'\n"}}},
      // One case per kind of failure: 1 when the receiver fails, 2 for usage.
      {"ExitStatus",
       kGen3 + "fail_request = 0xC2/2 -9\n",  // every EEPROM read stalls
       {{{"status"}, kStatusOk},
        {{"noise_canceler"}, "  noise canceler:   NA\n", 1},
        {{"interkey_delay"}, "  inter-key delay:  NA\n", 1},
        {{"dump"}, "", 2, kNotEnough + kDumpHelp},
        {{"status", "keys", "x"}, "", 2, extra("keys", "x")},
        {{"seq_modifiers", "on"},
         "",
         2,
         "unrecognized option\nHelp for `seq_modifiers' command:\nEnable this for windows media "
         "center\nusage: seq_modifiers enable|disable\nexample: \n  seq_modifiers enable\n  "
         "seq_modifiers disable\n"},
        {{"dfu", "foo"}, "", 2, "Error: invalid dfu option\n" + kDfuHelp},
        {{"upgrade", "fw.bin", "zirko"},
         "",
         2,
         "[E] upgrade(#): a manufacturer string needs the vendor id after it\n" + kUpgradeHelp}}},
      {"UpgradeRefusesABadImageBeforeTheSwitch",
       kGen3,
       {{{"upgrade", "bad.bin"},
         "",
         1,
         "[E] zk_check_fw_image(#): firmware image of 1000 bytes: its size must be a multiple of "
         "128\nError: bad.bin is not an image the receiver takes; the receiver was not changed\n"},
        {{"version"}, kV38}}},
      {"WaitsEndAtTheirTimeout",
       kGen1 + "auto_press = no\n",
       {{{"record", "-t", "1", "a"},
         " Press any button on the remote to link it with 'a'\n\n",
         1,
         "[E] zk_ver1_set_interrupt(#): timeout\nError, timed out waiting for a button\n"},
        {{"delete", "--timeout=1"},
         " The Next button pressed will be deleted, please press a button\n\n",
         1,
         "[E] zk_ver1_set_interrupt(#): timeout\nError, timed out waiting for a button\n"},
        {{"record_api", "-t101", "0", "4"},
         "",
         2,
         "[E] record_api(#): the timeout is a number of seconds from 1 to 100\n"}}},
      {"ListedKeyNames",
       kGen3,
       {{{"record", "printscreen"},
         " Press any button on the remote to link it with 'printscreen'\n\n"
         "  Succesfully recorded button\n"},
        {{"record", "fastforward"},
         " Press any button on the remote to link it with 'fastforward'\n\n"
         "  Succesfully recorded button\n"},
        {{"keys"},
         "\nRecorded Keys:\nIndex  hash        key\n-----  ---------   ---\n"
         "    0  [0-9A-F]+    print_screen\n    1  [0-9A-F]+    fast_forward\n",
         0,
         "",
         "zirko_util",
         true}}},
      {"VersionHistory",
       kGen3,
       {{{"version", "history"},
         "zirko_util version v1\\.4\\.4 \\[v1\\.4\\.4-1-g3842eaf\\]\nVersion History:\n 1\\.2\\.7\n"
         "( -.*\n)+ 1\\.2\\.6\n[^]*\n 0\\.9\\.8\n  - .*\n  Firmware: v3\\.8 \\[5EEDC0DE\\]\n",
         0,
         "",
         "zirko_util",
         true}}},
      {"Generation3Commands",
       kGen3 + "press = 0xAAAA0001\npress = 0xBBBB0002\npress = 0xAAAA0001\npress = 0xBBBB0002\n",
       {{{"settings"},
         settings(kV38, "Disabled", "Disabled", "6", "Enabled", "Enable", kEmptySpace + kNoKeys)},
        {{"record", "a"}, kRecordedA},
        {{"record_api", "2", "62"},
         "hit a key on the remote to be paired with 2 62\n  Succesfully recorded button\n"},
        {{"keys"},
         "\nRecorded Keys:\nIndex  hash        key\n-----  ---------   ---\n"
         "    0  AAAA0001    a\n    1  BBBB0002    left_shift F5\n"},
        {{"record", "a"},
         " Press any button on the remote to link it with 'a'\n\n",
         1,
         "[E] zk_ver2_set_interrupt(#): Error: button already exists\nError, button exists\n"},
        {{"space"},
         "\nMemory Info:\n  keys recorded:  2\n  keys remaining: 167\n  memory used:    1%\n"},
        {{"peek", "2"}, "Reading:\n    Address: 2 Data: 36\n"},
        {{"seq_modifiers", "disable"}, "disabling sequencing modifiers\n"},
        {{"seq_modifiers"}, "  seq. modifiers:   Disabled\n"},
        {{"noise_canceler", "disable"}, "disabling noise canceler\n"},
        {{"interkey_delay", "3"}, "interkey delay set: 3\n"},
        {{"interkey_delay"}, "  inter-key delay:  3\n"},
        {{"delete_index", "0"}, "  Deleted button 0 (hash AAAA0001)\n"},
        {{"delete"},
         " The Next button pressed will be deleted, please press a button\n\n"
         "  Button Deleted Successfully\n"},
        {{"keys"}, kNoKeys},
        {{"normal"}, "Succesfully set device to normal operation\n"},
        {{"status"}, kStatusOk},
        {{"reboot"}, "Rebooting zirko...done\n"},
        {{"dfu"}, "Putting device in Firmware Upgrade Mode...  Done!\n"},
        {{"version"}, kVBoot}}},
      {"Generation2Commands",
       kGen2 + kTwoKeys,
       {{{"settings"},
         settings(kV26, "Disabled", "Disabled", "6", "NA", "Enable",
                  kTwoKeysSpace + kTwoKeysListing)},
        {{"profiles", "disable", "version"}, "disabling built in profiles\n" + kV26},
        {{"seq_modifiers", "enable"}, "enabling sequencing modifiers\n", 1, kNotSupported},
        {{"seq_modifiers"}, "  seq. modifiers:   NA\n"},
        {{"delete_index", "1"}, "  Deleted button 1 (hash BBBB0002)\n"},
        {{"keys"},
         "\nRecorded Keys:\nIndex  hash        key\n-----  ---------   ---\n"
         "    0  AAAA0001    a\n"},
        {{"record", "F5"},
         " Press any button on the remote to link it with 'F5'\n\n  Succesfully recorded button\n"},
        {{"format", "version"}, "", 2, extra("format", "version")}}},
      {"Generation20HasNoProfiles",
       kGen20,
       {{{"profiles"}, "  builtin profiles: NA\n"},
        {{"profiles", "enable"}, "enabling built in profiles\n", 1, kNotSupported}}},
      {"Generation1Commands",
       kGen1 + kTwoKeys,
       {{{"settings"},
         settings(kV14, "Disabled", "Disabled", "6", "NA", "NA", kTwoKeysSpace + kTwoKeysListing)},
        {{"delete_index", "0"}, "", 1, kNotSupported},
        {{"record", "b"},
         " Press any button on the remote to link it with 'b'\n\n  Succesfully recorded button\n"},
        {{"space"},
         "\nMemory Info:\n  keys recorded:  3\n  keys remaining: 166\n  memory used:    2%\n"},
        {{"noise_canceler", "en"}, "enabling noise canceler\n"},
        {{"noise_canceler"}, "  noise canceler:   Enabled\n"},
        {{"status"}, kStatusOk},
        {{"dump", "1"}, "Reading:\n0000   00 17 \n"}}},
      {"BootloaderCommands",
       kBoot2,
       {{{"settings"},
         settings(kVBoot, "NA", "NA", "NA", "NA", "NA", "Device currently in bootloader\n"),
         0,
         "Error: " + kInBootloader},
        {{"status"}, kStatusBoot},
        {{"--json", "status"}, "{\"mode\":\"bootloader\",\"last_upgrade\":\"error\"}\n"},
        {{"space"}, "Device currently in bootloader\n"},
        {{"keys"}, "", 1, "Error: " + kInBootloader},
        {{"record", "a"},
         " Press any button on the remote to link it with 'a'\n\n",
         1,
         "Error: " + kInBootloader},
        {{"interkey_delay"}, "  inter-key delay:  NA\n"},
        {{"dfu"}, "Putting device in Firmware Upgrade Mode...  Done!\n"},
        {{"dump", "2"}, "Reading:\n0000   00 05 36 \n"},
        {{"dfu", "--leave"}, "Kicking device out of bootloader...Done!\n"},
        {{"version"}, kV38}}},
      {"Bootloader1CannotBeLeftWithoutAnImage",
       kBoot1,
       {{{"status"}, kStatusBoot},
        {{"dfu", "leave"},
         "Kicking device out of bootloader...Error, could not leave bootloader\n",
         1,
         "[E] zk_ver1_leave_bootloader(#): invalid command, please upload a new image\n"}}},
      {"Chaining",
       kGen3,
       {{{"status", "version"}, kStatusOk + kV38},
        {{"settings", "version"}, "", 2, extra("settings", "version")},
        {{"noise_canceler", "enable", "version"}, "", 2, extra("noise_canceler", "version")},
        {{"noise_canceler", "on", "version"}, "", 2, extra("noise_canceler", "version")},
        {{"format", "version"}, "", 2, extra("format", "version")},
        {{"wait", "version"}, "", 2, extra("wait", "version")},
        {{"status", "nosuch", "version"},
         kStatusOk,
         1,
         "[E] run_cmds(#): could not find command 'nosuch'\ncommand not found: nosuch\n"}}},
      {"Options",
       kGen3,
       {{{"dump", "-x", "0"},
         "Reading:\n0000   00 \n",
         0,
         "[W] handle_shortopt(#): `dump' doesn not take '-x' option\n"},
        {{"version", "--foo=bar"},
         kV38,
         0,
         "[W] handle_longopt(#): `version' doesn not take '--foo' option\n"}}},
      {"DumpOfSeveralLines",
       kGen3 + kTwoKeys,
       {{{"dump", "20"},
         "Reading:\n0000   00 11 36 06 00 01 00 AA  AA 00 04 02 00 BB BB 00 \n"
         "0010   3E FF FF FF FF \n"},
        {{"peek", "99999"}, "", 2, "[E] peek(#): address must be 0 to 1023: 99999\n"},
        {{"dump", "1024"}, "", 2, "[E] dump(#): address must be 0 to 1023: 1024\n"}}},
      {"SaveAndLoadConfiguration",
       kGen3 + kTwoKeys,
       {{{"saveconfig", "backup"},
         "\nSaving Configuration File 'backup.zcfg' to Disk\n\n\nConfiguration File saved\n"},
        {{"format"}, "Formatting Device, please wait...  Done!\n"},
        {{"loadconfig", "backup"},
         "\nLoading Configuration File 'backup.zcfg' to Device\n\n\nConfiguration File Loaded "
         "Successfully\n"},
        {{"loadconfig", "backup.zcfg"},
         "\nLoading Configuration File 'backup.zcfg' to Device\n\n\nConfiguration File Loaded "
         "Successfully\n"},
        {{"keys"}, kTwoKeysListing},
        {{"saveconfig", "backup.zcfg"},
         "\nSaving Configuration File 'backup.zcfg.zcfg' to Disk\n\n\nConfiguration File saved\n"},
        {{"saveconfig", std::string(295, 'n')},
         "",
         1,
         "Error, file name too long (at most 294 characters)\n"},
        {{"loadconfig", "missing.zcfg"}, "", 1, "Error: missing.zcfg: No such file or directory\n"},
        {{"loadconfig"},
         "",
         2,
         kNotEnough + "Help for `loadconfig' command:\nusage: \n  loadconfig '<filename>'\n"
                      "example:\n  zirko loadconfig ~/Desktop/boxee.zcfg\n"}}},
      {"VerifyAgainstABackupAndAMap",
       kGen3 + kTwoKeys,
       {{{"saveconfig", "backup"},
         "\nSaving Configuration File 'backup.zcfg' to Disk\n\n\nConfiguration File saved\n"},
        {{"verify", "backup.zcfg"}, "The receiver matches backup.zcfg\n"},
        {{"verify", "missing.zcfg"}, "", 1, "Error: missing.zcfg: No such file or directory\n"},
        {{"export", "backup.zmap"}, "Exported 2 buttons to 'backup.zmap'\n"},
        {{"delete_index", "1"}, "  Deleted button 1 (hash BBBB0002)\n"},
        {{"interkey_delay", "3"}, "interkey delay set: 3\n"},
        {{"verify", "backup.zcfg"},
         "missing  BBBB0002  F5\nsetting  inter-key delay: 3 (the file has 6)\n"
         "The receiver differs from backup.zcfg: 1 missing, 0 extra, 0 changed, 1 settings\n",
         1},
        {{"verify", "backup.zmap"},
         "missing  BBBB0002  F5\n"
         "The receiver differs from backup.zmap: 1 missing, 0 extra, 0 changed, 0 settings\n",
         1},
        {{"undo"},
         "Restoring the configuration from before `interkey_delay 3' \\([-0-9: ]+, 1 buttons\\)\n"
         "Configuration restored\n",
         0,
         "",
         "zirko_util",
         true},
        {{"restore", "3"},
         "Restoring the configuration from before `delete_index 1' \\([-0-9: ]+, 2 buttons\\)\n"
         "Configuration restored\n",
         0,
         "",
         "zirko_util",
         true},
        {{"verify", "backup.zcfg"}, "The receiver matches backup.zcfg\n"},
        {{"restore", "0"},
         "",
         2,
         "[E] restore(#): an entry is numbered 1 to 100, as `history' lists them\n"},
        {{"restore", "9"}, "", 1, "Error: the history has no entry 9 (it holds 4)\n"},
        {{"--json", "history"},
         R"(\{"folder":"[^"]+/state/zirko/history","history":\[\{"number":1,"time":"[-0-9T:]+",)"
         R"("change":"restore 3","buttons":1,"firmware":"3\.8","position":"[^"]*"\}(,\{[^}]+\}){3}\]\}\n)",
         0,
         "",
         "zirko_util",
         true}}},
      {"NoReceiver",
       kNone,
       {{{}, kVersion + kHelpList},
        {{"record", "a"}, "", 1, kNoDevice},
        {{"settings"}, "", 1, kNoDevice},
        {{"export", "-"}, "", 1, kNoDevice},  // nothing lands in the data stream
        {{"help", "wait"}, "Help for `wait' command:\nusage: \n  zirko wait\n"},
        {{}, "", 2, kNotEnough + kDumpHelp, "dump"},
        {{}, kVersion, 0, "", "version"}}},
      {"FailingDeviceOperations",
       kGen3 + kCorrupt,
       {{{"space"},
         "-1\n",
         1,
         "[E] get_size(#): something seems wrong, please format\n"
         "[E] get_size(#): something seems wrong, please format\n"},
        {{"keys", "version"}, "", 2, extra("keys", "version")},
        {{"keys"},
         "",
         1,
         "[E] get_size(#): something seems wrong, please format\n"
         "[E] zk_ver2_display_config(#): could not determine size\n"
         "Error: device operation failed (-1)\n"},
        {{"delete_index", "0"},
         "",
         1,
         "[E] get_size(#): something seems wrong, please format\n"
         "[E] zk_ver2_delete_index(#): error getting size\n"
         "[E] get_size(#): something seems wrong, please format\n"
         "Error: device operation failed (-1)\n"},
        {{"interkey_delay", "9"},
         "",
         2,
         "[E] interkey_delay(#): the inter-key delay must be 0 to 7: 9\n"},
        {{"delete_index", "x"}, "", 2, "[E] delete_index(#): invalid number: x\n"},
        {{"delete_index", "400000000"},
         "",
         2,
         "[E] delete_index(#): the index must be 0 to 168: 400000000\n"},
        {{"interkey_delay", "-1"},
         "",
         2,
         "[E] interkey_delay(#): the inter-key delay must be 0 to 7: -1\n"},
        {{"sleep_detect", "-1"},
         "",
         2,
         "unrecognized option\nHelp for `sleep_detect' command:\nusage: \n  sleep_detect "
         "enable|disable\nexample: \n  sleep_detect enable\n  sleep_detect disable\n"},
        {{"seq_modifiers", "-1"},
         "",
         2,
         "unrecognized option\nHelp for `seq_modifiers' command:\nEnable this for windows media "
         "center\nusage: seq_modifiers enable|disable\nexample: \n  seq_modifiers enable\n  "
         "seq_modifiers disable\n"},
        {{"format"}, "Formatting Device, please wait...  Done!\n"},
        {{"delete_index", "0"},
         "",
         1,
         "[E] zk_ver2_delete_index(#): index invalid\n"
         "Error: no button at index 0: the receiver has no buttons\n"}}},
      {"UpgradeWithOneArgument",
       kGen3,
       {{{"upgrade", "fw.bin"}, upgrade_output("Zirko Devices"), 0, "", "zirko_util", true},
        {{"version"}, kVersion + "  Firmware: v3.9 [12345678]\n"},
        {{"upgrade", "missing.bin"}, "", 1, "Error: missing.bin: No such file or directory\n"},
        {{"upgrade", "fw.bin", "Zirko Devices"},
         "",
         2,
         "[E] upgrade(#): a manufacturer string needs the vendor id after it\n" + kUpgradeHelp},
        {{"upgrade"}, "", 2, kNotEnough + kUpgradeHelp}}},
      {"UpgradeWithThreeArguments",
       kGen2,
       {{{"upgrade", "fw.bin", "zirko", "20a0"},
         upgrade_output("zirko"),
         0,
         "",
         "zirko_util",
         true},
        {{"version"}, kVersion + "  Firmware: v3.9 [12345678]\n"},
        {{"upgrade", "fw.bin", "zirko", "2O"}, "", 2, "[E] upgrade(#): invalid number: 2O\n"},
        {{"upgrade", "fw.bin", "zirko", "-1"},
         "",
         2,
         "[E] upgrade(#): the vendor id must be 0 to FFFF (hexadecimal): -1\n"}}},
      {"UpgradeWithAPageTheBootloaderKeepsRefusing",
       kGen3 + "bootloader_reject_page = 2\nbootloader_reject_times = 200\n",
       {{{"upgrade", "fw.bin"},
         upgrade_output("Zirko Devices", false),
         1,
         "[E] zk_ver2_send_packet(#): Page 2 Error: \n"
         "[E] zk_ver2_send_packet(#): CRC mismatch\n"
         "[E] zk_ver2_send_packet(#): Page failed\n"
         "[E] zk_ver2_write_buf(#): sending packet failed\n"
         "[E] zk_upgrade_fw_ext(#): upload firmware failed\n"
         "Error, upload failed\n",
         "zirko_util",
         true},
        {{"status", "version"}, kStatusBoot + kVBoot}}},
      {"FailedUpgradeStaysInTheBootloader",
       kBoot2,
       {{{"upgrade", "bad.bin", "zirko", "0x20A0"},
         "Uploading image: bad.bin to \"zirko\" 0x20A0\n[DEVICE]        Uploading\n",
         1,
         "[E] zk_ver2_pre_boot(#): image provided is incorrect size\n"
         "[E] zk_ver2_upload_fw(#): could not prep device\n"
         "[E] zk_upgrade_fw_ext(#): upload firmware failed\n"},
        {{"version"}, kVBoot},
        {{"status"}, kStatusBoot},
        {{"keys"}, "", 1, "Error: " + kInBootloader}}},
      {"ReceiverRefusingARequest",
       kGen3 + "fail_request = 0xC0/3 -9\n",
       {{{"format"},
         "Formatting Device, please wait...\n",
         1,
         "Error: USB transfer failed (-16)\n"},
        {{"version"}, kV38}}},
      {"JsonFailures",
       kGen3 + "fail_request = 0xC2/2 -9\n",  // every EEPROM read stalls
       {{{"--json", "keys"},
         "",
         1,
         "[E] get_size(#): Error reading high byte of size\n"
         "{\"error\":\"USB transfer failed\",\"code\":-16}\n"},
        {{"--json", "status", "record", "a"},
         "",
         2,
         "{\"error\":\"`record' has no JSON output\",\"code\":-22}\n"},
        {{"--json", "status"}, "{\"mode\":\"firmware\",\"last_upgrade\":\"ok\"}\n"},
        // A chain that fails prints no half document.
        {{"--json", "status", "keys"},
         "",
         1,
         "[E] get_size(#): Error reading high byte of size\n"
         "{\"error\":\"USB transfer failed\",\"code\":-16}\n"}}},
      {"JsonWithoutReceiver",
       kNone,
       {{{"--json", "space"},
         "",
         1,
         "{\"error\":\"device disconnected, can't run command\",\"code\":-19}\n"},
        {{"--json", "version"},
         "{\"program\":\"v" ZIRKO_VERSION "\",\"build\":\"v" ZIRKO_VERSION
         "-1-g3842eaf\",\"receiver\":null}\n"}}},
      {"SeveralReceivers",
       kGen3 + kTwoKeys,
       {{{"list"}, kTwoReceivers},
        {{"--json", "list"},
         "[{\"index\":1,\"position\":\"1-1\",\"mode\":\"firmware\",\"major\":3,\"minor\":8,"
         "\"variant\":\"Zirko\",\"recorded\":2,\"remaining\":167},{\"index\":2,\"position\":"
         "\"1-2\",\"mode\":\"firmware\",\"major\":2,\"minor\":6,\"variant\":\"Zirko\","
         "\"recorded\":0,\"remaining\":169}]\n"},
        {{"list", "status"}, kTwoReceivers + kStatusOk, 0, kUsingFirst},
        {{"--device", "2", "record", "vol_up"},
         " Press any button on the remote to link it with 'vol_up'\n\n"
         "  Succesfully recorded button\n"},
        {{"keys", "-d", "1-2"},
         "\nRecorded Keys:\nIndex  hash        key\n-----  ---------   ---\n"
         "    0  779B1020    vol_up\n"},
        // Reading works on the first, which kept its buttons.
        {{"keys"}, kTwoKeysListing, 0, kUsingFirst},
        {{"upgrade", "fw.bin"}, "", 2, refused("upgrade", 2, kTwoReceiversAfter)},
        {{"noise_canceler", "enable"}, "", 2, refused("noise_canceler", 2, kTwoReceiversAfter)},
        {{"noise_canceler"}, "  noise canceler:   Disabled\n", 0, kUsingFirst},
        {{"--device=1-2", "upgrade", "fw.bin"},
         upgrade_output("Zirko Devices"),
         0,
         "",
         "zirko_util",
         true},
        {{"list"},
         "1  1-1  firmware 3.8     Zirko    2 recorded, 167 free\n"
         "2  1-2  firmware 3.9     Zirko    1 recorded, 168 free\n"},
        {{"-d", "3", "keys"}, "", 1, "no receiver 3: 2 found (see `zirko_util list')\n"},
        {{"-d1-5", "keys"}, "", 1, "no receiver at 1-5 (see `zirko_util list')\n"},
        {{"keys", "-d"},
         "",
         2,
         "[E] device_value(#): option '-d' needs a value (an index from `zirko_util list', or a "
         "bus position)\n"},
        // What acts on no one receiver needs no choice.
        {{"help", "list"}, "Help for `list' command:\n[^]*", 0, "", "zirko_util", true}},
       {kGen2}},
      {"ReceiversInBothModes",
       kBoot2,
       {{{"list"}, kThreeReceivers},
        // Without a choice the first running its firmware, as ever.
        {{"status"}, kStatusOk, 0, "3 receivers found; using 1-2 (choose one with --device)\n"},
        {{"-d", "1", "status"}, kStatusBoot},
        {{"dfu", "leave"},
         "",
         2,
         refused("dfu", 3, std::regex_replace(kThreeReceivers, std::regex("(^|\n)(.)"), "$1  $2"))},
        {{"-d", "3", "space"}, kTwoKeysSpace},
        {{}, kThreeReceivers, 0, "", "list"}},
       {kGen1 + "eeprom 000: 00 05 36 04 00\n", kGen3 + kTwoKeys}},
      {"CommandLineConventions",
       kGen3 + kTwoKeys,
       {{{"space", "--json"}, "{\"recorded\":2,\"remaining\":167,\"used_percent\":1}\n"},
        {{"--json", "status", "space"},
         "[{\"mode\":\"firmware\",\"last_upgrade\":\"ok\"},"
         "{\"recorded\":2,\"remaining\":167,\"used_percent\":1}]\n"},
        {{"status", "--", "version"}, kStatusOk + kV38},
        {{"--", "status"}, kStatusOk},
        {{"saveconfig", "--", "--json"},
         "\nSaving Configuration File '--json.zcfg' to Disk\n\n\nConfiguration File saved\n"},
        {{"record", "-t"}, "", 2, "[E] record(#): option '-t' needs a value (SECONDS)\n"},
        {{"delete", "--timeout"},
         "",
         2,
         "[E] delete(#): option '--timeout' needs a value (SECONDS)\n"},
        {{"--json=yes", "keys"},
         "",
         2,
         "[E] take_long_option(#): option '--json' takes no value\n"}}},
      {"CommandLinks",
       kGen3 + kTwoKeys,
       {{{}, kV38, 0, "", "version"},
        {{}, kHelpList, 0, "", "help"},
        {{"status"}, "Help for `status' command:\nLast Zirko Status\n", 0, "", "help"},
        {{"0"}, "Reading:\n0000   00 \n", 0, "", "dump"},
        {{"9"},
         "",
         2,
         "[E] interkey_delay(#): the inter-key delay must be 0 to 7: 9\n",
         "interkey_delay"}}},
      {"MonitorChecksItsTimeAndNeedsTheFirmware",
       kGen3,
       {{{"monitor", "-t", "0"}, "", 2, kMonitorTime},
        {{"monitor", "--time=86401"}, "", 2, kMonitorTime},
        {{"monitor", "-t", "x"}, "", 2, "[E] monitor(#): invalid number: x\n" + kMonitorTime},
        {{"monitor", "-t", "1"}, "Keys from the virtual receiver (Ctrl-C ends):\n"},
        {{"--json", "monitor", "-t", "1"},
         "{\"receiver\":\"listening\",\"source\":\"the virtual receiver\"}\n"}}},
      {"MonitorWithoutAReceiver",
       kNone,
       {{{"monitor", "-t", "1"}, "", 1, kNoDevice},
        {{"--json", "monitor", "-t", "1"},
         "",
         1,
         "{\"error\":\"device disconnected, can't run command\",\"code\":-19}\n"}}},
      {"MonitorInTheBootloader",
       kBoot2,
       {{{"monitor", "-t", "1"},
         "",
         1,
         "Error: the receiver runs its bootloader: it sends no keys\n"}}},
  };
}

// ---- running the program ----

using Result = zk::test::ProgramOutput;
using zk::test::ReadFile;

// Starts the program in dir with its output going to files there (standard
// output to `out` when given).
pid_t spawn(const fs::path &program, const std::vector<std::string> &args, const fs::path &dir,
            const char *out = "stdout") {
  std::vector<std::string> words = zk::test::CommandWords(program.string());
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (auto &w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    int o = open(out, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int e = open("stderr", O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (o < 0 || e < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0) _exit(127);
    std::string receivers = (dir / "receiver.state").string();
    for (int n = 2; fs::exists(dir / ("receiver-" + std::to_string(n) + ".state")); ++n)
      receivers += ":" + (dir / ("receiver-" + std::to_string(n) + ".state")).string();
    setenv("ZIRKO_VIRTUAL", receivers.c_str(), 1);
    setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);  // never the real home's history
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 0);  // the writer lock's file, unless a test shares one
    alarm(60);  // a hung run fails its case instead of the whole suite
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

Result finish(pid_t pid, const fs::path &dir, const char *out = "stdout") {
  Result r;
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return r;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  if (strcmp(out, "stdout") == 0) r.out = ReadFile(dir / "stdout");
  r.err = ReadFile(dir / "stderr");
  return r;
}

Result run(const fs::path &program, const std::vector<std::string> &args, const fs::path &dir) {
  return finish(spawn(program, args, dir), dir);
}

std::string without_lines(const std::string &log) {
  return std::regex_replace(log, std::regex(R"(\((\d+)\): )"), "(#): ");
}

// Each test gets a fresh directory: the state file, outputs, saved files.
class TempDir : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/zirko_util_e2e.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

class E2E : public TempDir, public testing::WithParamInterface<Scenario> {};

TEST_P(E2E, Runs) {
  const Scenario &sc = GetParam();
  std::ofstream(dir_ / "receiver.state") << sc.state;
  for (size_t i = 0; i < sc.others.size(); ++i)
    std::ofstream(dir_ / ("receiver-" + std::to_string(i + 2) + ".state")) << sc.others[i];
  // Firmware 3.9, 32 pages; and an image no bootloader takes (not whole pages).
  const auto image = zk::virt::make_image({{3, 9, {6, 1, 24}}, 0, 0x12345678}, 4096);
  std::ofstream(dir_ / "fw.bin", std::ios::binary)
      .write(reinterpret_cast<const char *>(image.data()), image.size());
  std::ofstream(dir_ / "bad.bin", std::ios::binary) << std::string(1000, 'x');
  const fs::path bin = ZIRKO_UTIL_BIN;
  for (const Step &step : sc.steps) {
    std::string shown = step.program;
    for (const auto &a : step.args) shown += " " + a;
    SCOPED_TRACE(shown);
    fs::path program =
        step.program == "zirko_util" ? bin : bin.parent_path() / "links" / step.program;
    Result r = run(program, step.args, dir_);
    if (step.out_is_regex)
      EXPECT_TRUE(std::regex_match(r.out, std::regex(step.out))) << r.out;
    else
      EXPECT_EQ(r.out, step.out);
    EXPECT_EQ(without_lines(r.err), step.err);
    EXPECT_EQ(r.status, step.status);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, E2E, testing::ValuesIn(scenarios()),
                         [](const testing::TestParamInfo<Scenario> &info) {
                           return info.param.name;
                         });

// `wait` keeps trying until a receiver appears, then reports what it found.
TEST_F(TempDir, WaitReturnsOnceAReceiverIsPluggedIn) {
  std::ofstream(dir_ / "receiver.state") << kFast << "plugged = no\n";
  pid_t pid = spawn(ZIRKO_UTIL_BIN, {"wait"}, dir_);
  usleep(1500 * 1000);
  std::ofstream(dir_ / "receiver.state") << kFast << "plugged = yes\n";
  Result r = finish(pid, dir_);
  EXPECT_TRUE(std::regex_match(
      r.out, std::regex(R"(\[DEVICE\]        Waiting\.+\n\[DEVICE\]        FW Detected\n)")))
      << r.out;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
}

Result util(const std::vector<std::string> &args, const fs::path &dir) {
  return run(ZIRKO_UTIL_BIN, args, dir);
}

// A map gives back exactly what it was exported from: names, modifiers and
// raw usages alike.
TEST_F(TempDir, ExportFormatImportGivesBackTheSameEeprom) {
  std::ofstream(dir_ / "receiver.state") << kFast;
  const std::vector<std::vector<std::string>> recordings = {
      {"record", "a"},
      {"record", "vol_up"},
      {"record_api", "1", "40"},   // control with return
      {"record_api", "5", "102"},  // a consumer usage no key name has
      {"record_api", "0", "57"},   // caps lock, which has no name
  };
  for (const auto &args : recordings) ASSERT_EQ(util(args, dir_).status, 0) << args[0];
  const std::string before = util({"dump", "1023"}, dir_).out;
  const Result exported = util({"export", "-"}, dir_);
  ASSERT_EQ(exported.status, 0) << exported.err;
  EXPECT_NE(exported.out.find("  left_ctrl return\n"), std::string::npos) << exported.out;
  EXPECT_NE(exported.out.find("  usage=0x66 modifier=0x05\n"), std::string::npos);
  std::ofstream(dir_ / "remote.zmap") << exported.out;

  ASSERT_EQ(util({"format"}, dir_).status, 0);
  ASSERT_NE(util({"dump", "1023"}, dir_).out, before);
  const Result imported = util({"import", "remote.zmap"}, dir_);
  EXPECT_EQ(imported.status, 0) << imported.err;
  EXPECT_EQ(util({"dump", "1023"}, dir_).out, before);
}

TEST_F(TempDir, MapWithOneBadLineIsRefusedWhole) {
  std::ofstream(dir_ / "receiver.state") << kFast << kTwoKeys;
  std::ofstream(dir_ / "bad.zmap") << "# the remote\nAAAA0001  b\nCCCC0003  left_ctrl retrun\n"
                                   << "DDDD0004  F6  # volume\n";
  const std::string before = util({"dump", "1023"}, dir_).out;
  const Result r = util({"import", "bad.zmap"}, dir_);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(without_lines(r.err),
            "[E] import(#): bad.zmap:3: unknown key name: 'retrun'\n"
            "Error: bad.zmap was not imported; the receiver was not changed\n");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(util({"dump", "1023"}, dir_).out, before);
}

// Merging keeps what the receiver holds and says where the map differs.
TEST_F(TempDir, MergeAddsNewButtonsAndKeepsTheReceiversKeys) {
  std::ofstream(dir_ / "receiver.state") << kFast << kTwoKeys;
  std::ofstream(dir_ / "more.zmap") << "AAAA0001 b\nBBBB0002 F5\nCCCC0003 left_alt+right_cmd tab\n";
  const Result r = util({"import", "--merge", "more.zmap"}, dir_);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, 36), "  kept AAAA0001 as a (the map has b)");
  EXPECT_EQ(util({"keys"}, dir_).out,
            kTwoKeysListing + "    2  CCCC0003    left_alt+right_cmd tab\n");
}

// What no receiver may be sent: each is refused at once, naming the file
// and the reason, and the EEPROM stays as it was.
TEST_F(TempDir, UnusableFilesAreRefusedAtOnceAndChangeNothing) {
  std::ofstream(dir_ / "receiver.state") << kFast << kTwoKeys;
  ASSERT_EQ(util({"export", "good.zmap"}, dir_).status, 0);
  const std::string good = ReadFile(dir_ / "good.zmap");
  std::ofstream(dir_ / "empty.zmap").close();
  std::ofstream(dir_ / "comments.zmap") << "# only\n\n   # comments\n";
  std::ofstream(dir_ / "cut40.zmap") << good.substr(0, 40);
  std::ofstream(dir_ / "noend.zmap") << good.substr(0, good.find("# end of map"));
  ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  std::ofstream(dir_ / "big").close();
  fs::resize_file(dir_ / "big", 200u << 20);  // sparse: costs no disk
  const std::string no_map = " was not imported; the receiver was not changed\n";
  const std::string empty = "the map has no buttons; importing it would erase every button";
  const struct {
    std::vector<std::string> args;
    std::string error, log;  // the error line, and a part of the log, both on stderr
  } cases[] = {
      {{"import", "empty.zmap"}, "Error: empty.zmap" + no_map, empty},
      {{"import", "comments.zmap"}, "Error: comments.zmap" + no_map, empty},
      {{"import", "cut40.zmap"}, "Error: cut40.zmap" + no_map, empty},
      {{"import", "noend.zmap"}, "Error: noend.zmap" + no_map, "it was cut short"},
      {{"loadconfig", "fifo"}, "Error: fifo: not a regular file (a FIFO)\n", ""},
      {{"import", "fifo"}, "Error: fifo: not a regular file (a FIFO)\n", ""},
      {{"upgrade", "fifo"}, "Error: fifo: not a regular file (a FIFO)\n", ""},
      {{"loadconfig", "."}, "Error: .: not a regular file (a folder)\n", ""},
      {{"loadconfig", "/dev/zero"},
       "Error: /dev/zero: not a regular file (a character device)\n",
       ""},
      {{"import", "/dev/zero"}, "Error: /dev/zero: not a regular file (a character device)\n", ""},
      {{"upgrade", "/dev/zero"}, "Error: /dev/zero: not a regular file (a character device)\n", ""},
      {{"loadconfig", "big"}, "Error: big: File too large: 209715200 bytes, at most 1019\n", ""},
      {{"import", "big"}, "Error: big: File too large: 209715200 bytes, at most 1048576\n", ""},
      {{"upgrade", "big"}, "Error: big: File too large: 209715200 bytes, at most 16384\n", ""},
      {{"loadconfig", "good.zmap"},
       "Error: good.zmap is not a configuration file; the receiver was not changed\n",
       "[E] zk_check_config_image(#): invalid configuration file: "},
  };
  const std::string before = util({"dump", "1023"}, dir_).out;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    const auto start = std::chrono::steady_clock::now();
    const Result r = util(c.args, dir_);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(without_lines(r.err).find(c.error), std::string::npos) << r.err;
    EXPECT_NE(without_lines(r.err).find(c.log), std::string::npos) << r.err;
    EXPECT_EQ(util({"dump", "1023"}, dir_).out, before);
  }
}

// A second writer waits while the first holds the receiver, saying so, and
// gives up after a bounded time; reading never waits.
TEST_F(TempDir, SecondWriterWaitsThenGivesUp) {
  std::ofstream(dir_ / "receiver.state") << kFast << kTwoKeys << "press_delay_ms = 60000\n";
  setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
  const pid_t recording = spawn(ZIRKO_UTIL_BIN, {"record", "-t", "8", "a"}, dir_);
  usleep(500 * 1000);                       // the recording holds the receiver while it waits
  const fs::path second = dir_ / "second";  // the same receiver, other output files
  fs::create_directory(second);
  fs::create_symlink(dir_ / "receiver.state", second / "receiver.state");
  EXPECT_EQ(util({"keys"}, second).out, kTwoKeysListing);
  const auto start = std::chrono::steady_clock::now();
  const Result waited = util({"delete_index", "0"}, second);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(waited.status, 1);
  EXPECT_EQ(waited.out, "");
  EXPECT_EQ(without_lines(waited.err),
            "another program is changing this receiver\n"
            "[E] zk_lock_receiver(#): another program kept changing this receiver for 5 s; "
            "nothing was changed\n"
            "Error: another program is changing this receiver (-21)\n");
  EXPECT_GE(took, std::chrono::milliseconds(ZK_LOCK_WAIT_MS));
  EXPECT_LT(took, std::chrono::milliseconds(ZK_LOCK_WAIT_MS + 1500));
  kill(recording, SIGTERM);
  finish(recording, dir_);
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(util({"keys"}, dir_).out, kTwoKeysListing);
}

TEST_F(TempDir, JsonSettingsHasTheDocumentedFields) {
  std::ofstream(dir_ / "receiver.state") << kFast << kTwoKeys;
  const Result r = util({"--json", "settings"}, dir_);
  ASSERT_EQ(r.status, 0) << r.err;
  const auto settings = nlohmann::json::parse(r.out);
  EXPECT_EQ(settings["version"]["receiver"]["scm_hash"], "5EEDC0DE");
  EXPECT_EQ(settings["interkey_delay"], 6);
  EXPECT_EQ(settings["noise_canceler"], false);
  EXPECT_EQ(settings["variant"], "Zirko");
  EXPECT_EQ(settings["space"]["remaining"], 167);
  EXPECT_EQ(
      settings["keys"][1],
      nlohmann::json::parse(R"({"index":1,"hash":"BBBB0002","key":"F5","modifier":0,"usage":62})"));
}

// A write that fails is an error, never "saved": a backup onto a full disk,
// and standard output onto one.
TEST_F(TempDir, FailedWritesAreReportedAndFailTheRun) {
  std::ofstream(dir_ / "receiver.state") << kFast << kTwoKeys;
  fs::create_symlink("/dev/full", dir_ / "full.zcfg");
  Result r = util({"saveconfig", "full"}, dir_);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Saving Configuration File 'full.zcfg'"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("saved"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("Error: full.zcfg: No space left on device\n"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::is_symlink(dir_ / "full.zcfg"));

  for (const std::vector<std::string> &args :
       {std::vector<std::string>{"keys"}, {"export", "-"}, {"help"}}) {
    pid_t pid = spawn(ZIRKO_UTIL_BIN, args, dir_, "/dev/full");
    Result full = finish(pid, dir_, "/dev/full");
    EXPECT_EQ(full.status, 1) << args[0];
    EXPECT_TRUE(full.err.ends_with("zirko_util: write error: No space left on device\n"))
        << full.err;
  }
}

// A change undone gives back the EEPROM as it was, every byte of it; the
// undo is a change too, and a second undo takes it back.
TEST_F(TempDir, UndoGivesBackTheEepromByteForByte) {
  for (const std::vector<std::string> &change : {std::vector<std::string>{"format"},
                                                 {"delete_index", "0"},
                                                 {"import", "--allow-empty", "empty.zmap"}}) {
    SCOPED_TRACE(change[0]);
    fs::remove_all(dir_ / "state");
    std::ofstream(dir_ / "receiver.state") << kFast;
    std::ofstream(dir_ / "empty.zmap") << "# no buttons\n";
    for (const char *key : {"a", "b", "c"}) ASSERT_EQ(util({"record", key}, dir_).status, 0);
    const std::string before = util({"dump", "1023"}, dir_).out;
    ASSERT_EQ(util(change, dir_).status, 0);
    const std::string changed = util({"dump", "1023"}, dir_).out;
    ASSERT_NE(changed, before);
    const std::string changed_keys = util({"keys"}, dir_).out;
    const Result listed = util({"history"}, dir_);
    EXPECT_TRUE(std::regex_search(listed.out,
                                  std::regex("\n   1  [-0-9: ]+  " + change[0] + " .*  3 buttons")))
        << listed.out;
    EXPECT_NE(listed.out.find("   4  "), std::string::npos) << "the three recordings";
    ASSERT_EQ(util({"undo"}, dir_).status, 0);
    EXPECT_EQ(util({"dump", "1023"}, dir_).out, before);
    // Back to the change's buttons; what lies beyond them is not the image.
    ASSERT_EQ(util({"undo"}, dir_).status, 0);
    EXPECT_EQ(util({"keys"}, dir_).out, changed_keys);
  }
}

// When the history cannot be written nothing changes, unless asked for.
TEST_F(TempDir, UnwritableHistoryRefusesChangesWithoutNoHistory) {
  std::ofstream(dir_ / "receiver.state") << kFast << kTwoKeys;
  std::ofstream(dir_ / "state") << "a file where the folder should be";
  for (const std::vector<std::string> &change :
       {std::vector<std::string>{"format"}, {"record", "z"}, {"interkey_delay", "2"}}) {
    const Result r = util(change, dir_);
    EXPECT_EQ(r.status, 1) << change[0];
    EXPECT_EQ(r.err,
              "Error: the configuration could not be kept in the history: " +
                  (dir_ / "state" / "zirko").string() +
                  ": Not a directory\nNothing was changed; --no-history changes the receiver "
                  "without keeping it\n")
        << change[0];
  }
  EXPECT_EQ(util({"keys"}, dir_).out, kTwoKeysListing);
  EXPECT_EQ(util({"--no-history", "format"}, dir_).status, 0);
  EXPECT_EQ(util({"keys"}, dir_).out, kNoKeys);
}

// A signal while the receiver waits for a button puts it back in normal
// mode: a button pressed later is not recorded.
TEST_F(TempDir, SignalDuringRecordLeavesNothingRecorded) {
  for (const auto &[sig, status] :
       {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}, std::pair{SIGHUP, 129}}) {
    std::ofstream(dir_ / "receiver.state") << kFast << "auto_press = no\n";
    const pid_t pid = spawn(ZIRKO_UTIL_BIN, {"record", "z"}, dir_);
    for (int i = 0; i < 200 && ReadFile(dir_ / "stdout").find("Press any") == std::string::npos;
         ++i)
      usleep(10 * 1000);
    usleep(300 * 1000);  // the record request is on its way
    kill(pid, sig);
    const Result r = finish(pid, dir_);
    EXPECT_EQ(r.status, status);
    EXPECT_EQ(r.err, "Interrupted: the receiver is back in normal mode; nothing was recorded\n");
    EXPECT_EQ(run(ZIRKO_VIRTUAL_TOOL, {"press"}, dir_).status, 0);
    EXPECT_EQ(util({"keys"}, dir_).out, kNoKeys);
  }
}

// A signal during a bulk write stops it between two buttons with a
// configuration that still reads, and undo gives back the one from before.
TEST_F(TempDir, SignalDuringLoadconfigStopsAtASafePointAndUndoRestores) {
  std::ofstream(dir_ / "receiver.state") << kFast << kTwoKeys;
  // The image is its 17 bytes: what the load wrote beyond them is no button.
  const std::string before = util({"dump", "16"}, dir_).out;
  std::vector<unsigned char> image{0, 0, 0x36, 0x06, 0};
  for (int i = 0; i < 100; ++i)
    image.insert(image.end(), {uint8_t(0x40 + i), 0xC0, 0xFF, 0xEE, 0, 4});
  image[0] = uint8_t(image.size() >> 8);
  image[1] = uint8_t(image.size());
  std::ofstream(dir_ / "big.zcfg", std::ios::binary)
      .write(reinterpret_cast<const char *>(image.data()), std::streamsize(image.size()));
  std::ofstream(dir_ / "receiver.state", std::ios::app) << "eeprom_write_ms = 10\n";
  const pid_t pid = spawn(ZIRKO_UTIL_BIN, {"loadconfig", "big.zcfg"}, dir_);
  for (int i = 0; i < 200 && ReadFile(dir_ / "stdout").find("Loading") == std::string::npos; ++i)
    usleep(10 * 1000);
  usleep(400 * 1000);  // some buttons are written by now, far from all 100
  kill(pid, SIGINT);
  const Result r = finish(pid, dir_);
  EXPECT_EQ(r.status, 130);
  EXPECT_EQ(r.err,
            "Interrupted: stopped between two buttons. The previous configuration is in the "
            "history: `zirko_util undo' restores it\n");
  const Result keys = util({"keys"}, dir_);
  EXPECT_EQ(keys.status, 0) << "the configuration still reads";
  EXPECT_NE(keys.out.find("\n    1  "), std::string::npos) << keys.out;
  EXPECT_EQ(keys.out.find("\n    2  "), std::string::npos)
      << "the size header is still the old one";
  ASSERT_EQ(util({"undo"}, dir_).status, 0);
  EXPECT_EQ(util({"dump", "16"}, dir_).out, before);
  EXPECT_EQ(util({"keys"}, dir_).out, kTwoKeysListing);
}

// A signal during an upgrade leaves the receiver in its bootloader, and the
// same upgrade run again finishes it.
TEST_F(TempDir, SignalDuringUpgradeLeavesTheBootloaderToFinishLater) {
  const auto firmware = zk::virt::make_image({{3, 9, {6, 1, 24}}, 0, 0x12345678}, 4096);
  std::ofstream(dir_ / "fw.bin", std::ios::binary)
      .write(reinterpret_cast<const char *>(firmware.data()), std::streamsize(firmware.size()));
  // Slow EEPROM writes keep the receiver at its upgrade flag for a while.
  std::ofstream(dir_ / "receiver.state") << kFast << kTwoKeys << "eeprom_write_ms = 600\n";
  const pid_t pid = spawn(ZIRKO_UTIL_BIN, {"upgrade", "fw.bin"}, dir_);
  for (int i = 0;
       i < 300 && ReadFile(dir_ / "stdout").find("Bootloader Detected") == std::string::npos; ++i)
    usleep(10 * 1000);
  usleep(100 * 1000);
  kill(pid, SIGINT);
  const Result r = finish(pid, dir_);
  EXPECT_EQ(r.status, 130);
  EXPECT_TRUE(r.err.ends_with(
      "Interrupted: the upgrade was stopped and the receiver stays in its bootloader. To finish, "
      "run `zirko_util upgrade fw.bin' again, or start zirko_gui, which installs its built-in "
      "firmware\n"))
      << r.err;
  EXPECT_EQ(util({"version"}, dir_).out, kVBoot);
  const Result again = util({"upgrade", "fw.bin"}, dir_);
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(util({"version"}, dir_).out, kVersion + "  Firmware: v3.9 [12345678]\n");
  EXPECT_EQ(util({"keys"}, dir_).out, kTwoKeysListing);
}

// Six buttons: a, F5, two that both send vol_up, caps lock (no name) and
// control with return.
const std::string kSixKeys =
    "eeprom 000: 00 29 36 06 00 01 00 AA AA 00 04 02 00 BB BB 00\n"
    "eeprom 010: 3E 03 00 CC CC E9 66 04 00 DD DD E9 66 05 00 EE\n"
    "eeprom 020: EE 00 39 06 00 FF FF 01 28\n";

// A monitor running beside the presses of zirko-virtual, as a person runs
// both in two terminals.
class Monitor : public TempDir {
 protected:
  void SetUp() override {
    TempDir::SetUp();
    fs::create_directory(dir_ / "tool");
    std::ofstream(dir_ / "receiver.state") << kFast << kSixKeys;
  }
  // zirko-virtual on the same receiver, its output kept apart from the monitor's.
  void Tool(const std::string &command, const std::string &hash = "") {
    std::vector<std::string> args{"--state", (dir_ / "receiver.state").string(), command};
    if (!hash.empty()) args.push_back(hash);
    EXPECT_EQ(run(ZIRKO_VIRTUAL_TOOL, args, dir_ / "tool").status, 0) << command;
  }
  // Whether the monitor has printed `text` within 10 s.
  bool Shown(const std::string &text) {
    for (int i = 0; i < 500; ++i) {
      if (ReadFile(dir_ / "stdout").find(text) != std::string::npos) return true;
      usleep(20 * 1000);
    }
    return false;
  }
};

TEST_F(Monitor, NamesTheKeyOfEachPressedButtonAndTheButtonsThatSendIt) {
  const pid_t monitor = spawn(ZIRKO_UTIL_BIN, {"monitor", "-t", "4"}, dir_);
  ASSERT_TRUE(Shown("(Ctrl-C ends)"));
  Tool("press", "0xCCCC0003");
  Tool("press", "0x12345678");  // never recorded: queued for a recording, types nothing
  Tool("press", "0xAAAA0001");
  Tool("press", "0xEEEE0005");
  Tool("press", "0xFFFF0006");
  const Result r = finish(monitor, dir_);
  EXPECT_EQ(r.out,
            "Keys from the virtual receiver (Ctrl-C ends):\n"
            "vol_up                   buttons 2 (CCCC0003), 3 (DDDD0004)\n"
            "a                        button 0 (AAAA0001)\n"
            "usage=0x39 modifier=0x00 button 4 (EEEE0005)\n"
            "left_ctrl return         button 5 (FFFF0006)\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(run(ZIRKO_VIRTUAL_TOOL, {"--state", (dir_ / "receiver.state").string(), "show"},
                dir_ / "tool")
                .out.find("Queued:      12345678\n"),
            std::string::npos);
}

TEST_F(Monitor, JsonLinesFollowTheReceiverThroughAnUnplugUntilCtrlC) {
  const pid_t monitor = spawn(ZIRKO_UTIL_BIN, {"--json", "monitor"}, dir_);
  ASSERT_TRUE(Shown("listening"));
  Tool("press", "0xCCCC0003");
  ASSERT_TRUE(Shown("vol_up"));
  Tool("unplug");
  ASSERT_TRUE(Shown("unplugged"));
  Tool("plug");
  ASSERT_TRUE(Shown("back"));
  Tool("press", "0xBBBB0002");
  ASSERT_TRUE(Shown("F5"));
  kill(monitor, SIGINT);
  const Result r = finish(monitor, dir_);
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<nlohmann::json> lines;
  std::istringstream out(r.out);
  for (std::string line; std::getline(out, line);) lines.push_back(nlohmann::json::parse(line));
  ASSERT_EQ(lines.size(), 5u) << r.out;
  EXPECT_EQ(lines[0],
            nlohmann::json::parse(R"({"receiver":"listening","source":"the virtual receiver"})"));
  EXPECT_EQ(lines[1], nlohmann::json::parse(R"({"key":"vol_up","usage":102,"modifier":233,
      "buttons":[{"index":2,"hash":"CCCC0003"},{"index":3,"hash":"DDDD0004"}]})"));
  EXPECT_EQ(lines[2]["receiver"], "unplugged");
  EXPECT_EQ(lines[3]["receiver"], "back");
  EXPECT_EQ(lines[4], nlohmann::json::parse(R"({"key":"F5","usage":62,"modifier":0,
      "buttons":[{"index":1,"hash":"BBBB0002"}]})"));
}

// The 33 command names of the help list, in its order.
std::vector<std::string> listed_commands() {
  std::vector<std::string> names;
  std::istringstream lines(kHelpList);
  std::string word;
  for (std::string line; std::getline(lines, line);)
    if (std::istringstream(line) >> word && word != "Commands:") names.push_back(word);
  EXPECT_EQ(names.size(), 33u);
  return names;
}

// -v raises the log level before the receiver is opened: the open is logged.
TEST_F(TempDir, VerboseLogsTheOpen) {
  std::ofstream(dir_ / "receiver.state") << kFast;
  for (const auto &args : {std::vector<std::string>{"-v", "status"}, {"status", "--verbose"}}) {
    Result r = run(ZIRKO_UTIL_BIN, args, dir_);
    EXPECT_EQ(r.out, kStatusOk);
    EXPECT_NE(r.err.find("[I] zk_open_devices("), std::string::npos) << r.err;
    EXPECT_EQ(r.status, 0);
  }
}

// ZIRKO_DEVICE chooses as --device does, and --device wins over it.
TEST_F(TempDir, DeviceFromTheEnvironment) {
  std::ofstream(dir_ / "receiver.state") << kFast;
  std::ofstream(dir_ / "receiver-2.state") << kGen2;
  setenv("ZIRKO_DEVICE", "2", 1);
  const Result chosen = util({"version"}, dir_);
  const Result overridden = util({"-d", "1", "version"}, dir_);
  setenv("ZIRKO_DEVICE", "1-7", 1);
  const Result missing = util({"keys"}, dir_);
  unsetenv("ZIRKO_DEVICE");
  EXPECT_EQ(chosen.out, kV26);
  EXPECT_EQ(chosen.err, "");
  EXPECT_EQ(overridden.out, kV38);
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(missing.err, "no receiver at 1-7 (see `zirko_util list')\n");
  EXPECT_EQ(missing.status, 1);
}

// The generated bash completion, asked for the last of the given words.
class Completion : public TempDir {
 protected:
  std::string Offered(const std::vector<std::string> &words) {
    std::ofstream script(dir_ / "complete.sh");
    script << "source " ZIRKO_UTIL_COMPLETION "\nCOMP_WORDS=(zirko_util";
    for (const auto &w : words) script << " '" << w << "'";
    script << ")\nCOMP_CWORD=" << words.size() << "\n_zirko_util\n"
           << "[ ${#COMPREPLY[@]} -eq 0 ] || printf '%s\\n' \"${COMPREPLY[@]}\"\n";
    script.close();
    Result r = run("/bin/bash", {"complete.sh"}, dir_);
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
  }
};

TEST_F(Completion, OffersCommandsOptionsAndKeyNames) {
  std::string listed;
  for (const auto &name : listed_commands()) listed += name + "\n";
  EXPECT_EQ(Offered({""}), listed);
  EXPECT_EQ(Offered({"record", "-"}),
            "-h\n--help\n-t\n--timeout\n-v\n--verbose\n--json\n--no-history\n-d\n--device\n");
  EXPECT_EQ(Offered({"record", "-t", "5", "printsc"}), "printscreen\n");
  EXPECT_EQ(Offered({"dfu", ""}), "leave\n");
  EXPECT_EQ(Offered({"status", "sp"}), "space\n");
}

// Only what the program then takes: bash gives `--timeout=5' as three
// words, a settings command takes the next word as its argument, and
// options end at `--'.
TEST_F(Completion, OffersOnlyWhatTheLineTakes) {
  const struct {
    std::vector<std::string> words;
    std::string offered;
  } cases[] = {
      {{"record", "--timeout", "=", "5", "printsc"}, "printscreen\n"},
      {{"--device", "=", "2", "sta"}, "status\n"},
      {{"-d", "1-2", "sta"}, "status\n"},
      {{"-d", ""}, ""},
      {{"keys", "--js"}, "--json\n"},
      {{"noise_canceler", ""}, "enable\ndisable\n"},
      {{"profiles", "s"}, ""},
      {{"interkey_delay", "3", "sta"}, "status\n"},
      {{"peek", "5", "sp"}, "space\n"},
      {{"status", "list", "ver"}, "verify\nversion\n"},
      {{"keys", "sta"}, ""},
      {{"saveconfig", "--", "-"}, ""},
      {{"nosuch", "sta"}, ""},
  };
  for (const auto &c : cases) EXPECT_EQ(Offered(c.words), c.offered) << c.words.back();
}

// One name per offer, spaces and all; directories for the folders on the way.
TEST_F(Completion, FileNamesKeepTheirSpaces) {
  std::ofstream(dir_ / "my backup.zcfg") << "x";
  std::ofstream(dir_ / "notes.txt") << "x";
  fs::create_directory(dir_ / "maps");
  EXPECT_EQ(Offered({"loadconfig", "m"}), "my backup.zcfg\nmaps\n");
  EXPECT_EQ(Offered({"loadconfig", ""}), "my backup.zcfg\nmaps\n");
  EXPECT_EQ(Offered({"import", "--merge", "n"}), "notes.txt\n");
}

// Every command has its link, and nothing else is linked.
TEST(CommandLinks, OnePerCommand) {
  const fs::path links = fs::path(ZIRKO_UTIL_BIN).parent_path() / "links";
  std::vector<std::string> linked, listed = listed_commands();
  for (const auto &entry : fs::directory_iterator(links)) {
    EXPECT_TRUE(fs::is_symlink(entry.symlink_status())) << entry.path();
    linked.push_back(entry.path().filename().string());
  }
  std::sort(linked.begin(), linked.end());
  EXPECT_EQ(listed.size(), 33u);
  EXPECT_EQ(linked, listed);
}

}  // namespace
