// zirko_util end to end, the program itself: help, options, chaining, exit statuses, the command
// links and the bash completion. The runner, the receivers and the shared texts are in
// e2e_fixture.h.
#include <algorithm>
#include <sstream>

#include "e2e_fixture.h"

namespace {

using namespace zk::e2e;

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

const std::string kDfuHelp =
    "Help for `dfu' command:\nusage: \n  dfu\nexample: \n  zirko dfu \n  zirko dfu --leave\n"
    "OPTIONS:\n  --leave              leave the bootloader and start the firmware\n";

const std::string kFormatHelp =
    "Help for `format' command:\nusage: \n  format \nexample: \n  zirko format\n";

const std::string kUsage =
    "usage: zirko_util [-v|--verbose]... [--json] [--no-history] [-d|--device RECEIVER]\n"
    "                  [--] [command [arguments]]...\n"
    "       zirko_util command -h|--help\n"
    "       zirko_util -h|--help|--version\n"
    "RECEIVER is an index or a bus position from `zirko_util list' (default:\n"
    "$ZIRKO_DEVICE); the options may also follow a command.\n"
    "\n";

// clang-format off
std::vector<Scenario> scenarios() {
  return {
    {"NoArgumentsShowsVersionAndCommands", kGen3,
     {
      {{}, kV38 + kHelpList},
     }},
    {"HelpAndHelpOfOneCommand", kGen3,
     {
      {{"help"}, kHelpList},
      {{"help", "dfu"}, kDfuHelp},
      {{"help", "nosuch"}, "", 1, "[E] help(#): help: command `nosuch' not found.\n"},
     }},
    {"HelpAndMistakesNeverAct", kGen3 + kTwoKeys,
     {
      {{"format", "--help"}, kFormatHelp},
      {{"dfu", "-h"}, kDfuHelp},
      {{"record", "a", "-h"}, "Help for `record' command:\n[^]*--timeout SECONDS[^]*", 0, "", "zirko_util", true},
      {{"format", "-x"}, "", 2, "[W] handle_shortopt(#): `format' doesn not take '-x' option\n" + kFormatHelp},
      {{"dfu", "--now"}, "", 2, "[W] handle_longopt(#): `dfu' doesn not take '--now' option\n" + kDfuHelp},
      {{"record", "a", "record", "b"}, "", 2, extra("record", "record b")},
      {{"status", "record", "a", "b"}, "", 2, extra("record", "b")},
      {{"record", "nosuch"}, "", 2, "Not a valid word: nosuch\n\n" + kRecordUsage},
      // The receiver kept its buttons and its firmware mode.
      {{"keys"}, kTwoKeysListing},
      {{"version"}, kV38},
     }},
    {"ProgramOptionsNeedNoReceiver", kNone,
     {
      {{"--version"}, kVersion},
      {{"-h"}, kUsage + kHelpList},
      {{"format", "--help"}, kFormatHelp},
      {{"version"}, kVersion},
      {{"--bogus"}, "", 2, "[E] read_program_options(#): unknown option '--bogus'; see `zirko_util --help'\n"},
     }},
    // One case per kind of failure: 1 when the receiver fails, 2 for usage.
    {"ExitStatus", kGen3 + "fail_request = 0xC2/2 -9\n",  // every EEPROM read stalls
     {
      {{"status"}, kStatusOk},
      {{"noise_canceler"}, "  noise canceler:   NA\n", 1},
      {{"interkey_delay"}, "  inter-key delay:  NA\n", 1},
      {{"dump"}, "", 2, kNotEnough + kDumpHelp},
      {{"status", "keys", "x"}, "", 2, extra("keys", "x")},
      {{"seq_modifiers", "on"}, "", 2, kSeqModifiersRefused},
      {{"dfu", "foo"}, "", 2, "Error: invalid dfu option\n" + kDfuHelp},
      {{"upgrade", "fw.bin", "zirko"}, "", 2, "[E] upgrade(#): a manufacturer string needs the vendor id after it\n" + kUpgradeHelp},
     }},
    {"Chaining", kGen3,
     {
      {{"status", "version"}, kStatusOk + kV38},
      {{"settings", "version"}, "", 2, extra("settings", "version")},
      {{"noise_canceler", "enable", "version"}, "", 2, extra("noise_canceler", "version")},
      {{"noise_canceler", "on", "version"}, "", 2, extra("noise_canceler", "version")},
      {{"format", "version"}, "", 2, extra("format", "version")},
      {{"wait", "version"}, "", 2, extra("wait", "version")},
      {{"status", "nosuch", "version"}, kStatusOk, 1, "[E] run_cmds(#): could not find command 'nosuch'\ncommand not found: nosuch\n"},
     }},
    {"Options", kGen3,
     {
      {{"dump", "-x", "0"}, "Reading:\n0000   00 \n", 0, "[W] handle_shortopt(#): `dump' doesn not take '-x' option\n"},
      {{"version", "--foo=bar"}, kV38, 0, "[W] handle_longopt(#): `version' doesn not take '--foo' option\n"},
     }},
    {"NoReceiver", kNone,
     {
      {{}, kVersion + kHelpList},
      {{"record", "a"}, "", 1, kNoDevice},
      {{"settings"}, "", 1, kNoDevice},
      {{"export", "-"}, "", 1, kNoDevice},  // nothing lands in the data stream
      {{"help", "wait"}, "Help for `wait' command:\nusage: \n  zirko wait\n"},
      {{}, "", 2, kNotEnough + kDumpHelp, "dump"},
      {{}, kVersion, 0, "", "version"},
     }},
    {"CommandLineConventions", kGen3 + kTwoKeys,
     {
      {{"space", "--json"}, "{\"recorded\":2,\"remaining\":167,\"used_percent\":1}\n"},
      {{"--json", "status", "space"}, "[{\"mode\":\"firmware\",\"last_upgrade\":\"ok\"},{\"recorded\":2,\"remaining\":167,\"used_percent\":1}]\n"},
      {{"status", "--", "version"}, kStatusOk + kV38},
      {{"--", "status"}, kStatusOk},
      {{"saveconfig", "--", "--json"}, "\nSaving Configuration File '--json.zcfg' to Disk\n\n\nConfiguration File saved\n"},
      {{"record", "-t"}, "", 2, "[E] record(#): option '-t' needs a value (SECONDS)\n"},
      {{"delete", "--timeout"}, "", 2, "[E] delete(#): option '--timeout' needs a value (SECONDS)\n"},
      {{"--json=yes", "keys"}, "", 2, "[E] take_long_option(#): option '--json' takes no value\n"},
     }},
    {"CommandLinks", kGen3 + kTwoKeys,
     {
      {{}, kV38, 0, "", "version"},
      {{}, kHelpList, 0, "", "help"},
      {{"status"}, "Help for `status' command:\nLast Zirko Status\n", 0, "", "help"},
      {{"0"}, "Reading:\n0000   00 \n", 0, "", "dump"},
      {{"9"}, "", 2, "[E] interkey_delay(#): the inter-key delay must be 0 to 7: 9\n", "interkey_delay"},
     }},
  };
}
// clang-format on

INSTANTIATE_TEST_SUITE_P(Cases, E2E, testing::ValuesIn(scenarios()), ScenarioName);

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
