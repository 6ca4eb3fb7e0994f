// zirko_util end to end, recording, listing and deleting buttons.
// The runner, the receivers and the shared texts are in e2e_fixture.h.
#include <signal.h>

#include "e2e_fixture.h"

namespace {

using namespace zk::e2e;

// A used size of 1024 is never valid: every image operation refuses it.
const std::string kCorrupt = "eeprom 000: 04 00 36 06 00\n";

const std::string kDeleteWithoutSize =
    "[E] get_size(#): something seems wrong, please format\n"
    "[E] zk_ver2_delete_index(#): error getting size\n"
    "[E] get_size(#): something seems wrong, please format\n"
    "Error: device operation failed (-1)\n";

// clang-format off
std::vector<Scenario> scenarios() {
  return {
    {"WaitsEndAtTheirTimeout", kGen1 + "auto_press = no\n",
     {
      {{"record", "-t", "1", "a"}, " Press any button on the remote to link it with 'a'\n\n", 1, "[E] zk_ver1_set_interrupt(#): timeout\nError, timed out waiting for a button\n"},
      {{"delete", "--timeout=1"}, " The Next button pressed will be deleted, please press a button\n\n", 1, "[E] zk_ver1_set_interrupt(#): timeout\nError, timed out waiting for a button\n"},
      {{"record_api", "-t101", "0", "4"}, "", 2, "[E] record_api(#): the timeout is a number of seconds from 1 to 100\n"},
     }},
    {"ListedKeyNames", kGen3,
     {
      {{"record", "printscreen"}, " Press any button on the remote to link it with 'printscreen'\n\n  Succesfully recorded button\n"},
      {{"record", "fastforward"}, " Press any button on the remote to link it with 'fastforward'\n\n  Succesfully recorded button\n"},
      {{"keys"}, "\nRecorded Keys:\nIndex  hash        key\n-----  ---------   ---\n    0  [0-9A-F]+    print_screen\n    1  [0-9A-F]+    fast_forward\n", 0, "", "zirko_util", true},
     }},
    {"FailingDeviceOperations", kGen3 + kCorrupt,
     {
      {{"space"}, "-1\n", 1, "[E] get_size(#): something seems wrong, please format\n[E] get_size(#): something seems wrong, please format\n"},
      {{"keys", "version"}, "", 2, extra("keys", "version")},
      {{"keys"}, "", 1, "[E] get_size(#): something seems wrong, please format\n[E] zk_ver2_display_config(#): could not determine size\nError: device operation failed (-1)\n"},
      {{"delete_index", "0"}, "", 1, kDeleteWithoutSize},
      {{"interkey_delay", "9"}, "", 2, "[E] interkey_delay(#): the inter-key delay must be 0 to 7: 9\n"},
      {{"delete_index", "x"}, "", 2, "[E] delete_index(#): invalid number: x\n"},
      {{"delete_index", "400000000"}, "", 2, "[E] delete_index(#): the index must be 0 to 168: 400000000\n"},
      {{"interkey_delay", "-1"}, "", 2, "[E] interkey_delay(#): the inter-key delay must be 0 to 7: -1\n"},
      {{"sleep_detect", "-1"}, "", 2, "unrecognized option\nHelp for `sleep_detect' command:\nusage: \n  sleep_detect enable|disable\nexample: \n  sleep_detect enable\n  sleep_detect disable\n"},
      {{"seq_modifiers", "-1"}, "", 2, kSeqModifiersRefused},
      {{"format"}, "Formatting Device, please wait...  Done!\n"},
      {{"delete_index", "0"}, "", 1, "[E] zk_ver2_delete_index(#): index invalid\nError: no button at index 0: the receiver has no buttons\n"},
     }},
    {"ReceiverRefusingARequest", kGen3 + "fail_request = 0xC0/3 -9\n",
     {
      {{"format"}, "Formatting Device, please wait...\n", 1, "Error: USB transfer failed (-16)\n"},
      {{"version"}, kV38},
     }},
  };
}
// clang-format on

INSTANTIATE_TEST_SUITE_P(Cases, E2E, testing::ValuesIn(scenarios()), ScenarioName);

// A signal while the receiver waits for a button puts it back in normal
// mode: a button pressed later is not recorded.
TEST_F(TempDir, SignalDuringRecordLeavesNothingRecorded) {
  for (const auto &[sig, status] :
       {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}, std::pair{SIGHUP, 129}}) {
    std::ofstream(dir_ / "receiver.state") << kFast << "auto_press = no\n";
    const pid_t pid = spawn(ZIRKO_UTIL_BIN, {"record", "z"}, dir_);
    EXPECT_TRUE(printed(dir_, "Press any"));
    usleep(300 * 1000);  // the record request is on its way
    kill(pid, sig);
    const Result r = finish(pid, dir_);
    EXPECT_EQ(r.status, status);
    EXPECT_EQ(r.err, "Interrupted: the receiver is back in normal mode; nothing was recorded\n");
    EXPECT_EQ(run(ZIRKO_VIRTUAL_TOOL, {"press"}, dir_).status, 0);
    EXPECT_EQ(util({"keys"}, dir_).out, kNoKeys);
  }
}

}  // namespace
