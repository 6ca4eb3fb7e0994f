// zirko_util end to end, the settings of each generation.
// The runner, the receivers and the shared texts are in e2e_fixture.h.
#include <nlohmann/json.hpp>

#include "e2e_fixture.h"

namespace {

using namespace zk::e2e;

const std::string kGen20 = kFast + "firmware_version = 2.0\n";

const std::string kV14 = kVersion + "  Firmware: v1.4 [5EEDC0DE]\n";

const std::string kRecordedA =
    " Press any button on the remote to link it with 'a'\n\n  Succesfully recorded button\n";

const std::string kEmptySpace =
    "\nMemory Info:\n  keys recorded:  0\n  keys remaining: 169\n  memory used:    0%\n";

const std::string kNotSupported = "Error: not supported by this receiver (-12)\n";

// clang-format off
std::vector<Scenario> scenarios() {
  return {
    {"Generation3Commands", kGen3 + "press = 0xAAAA0001\npress = 0xBBBB0002\npress = 0xAAAA0001\npress = 0xBBBB0002\n",
     {
      {{"settings"}, settings(kV38, "Disabled", "Disabled", "6", "Enabled", "Enable", kEmptySpace + kNoKeys)},
      {{"record", "a"}, kRecordedA},
      {{"record_api", "2", "62"}, "hit a key on the remote to be paired with 2 62\n  Succesfully recorded button\n"},
      {{"keys"}, "\nRecorded Keys:\nIndex  hash        key\n-----  ---------   ---\n    0  AAAA0001    a\n    1  BBBB0002    left_shift F5\n"},
      {{"record", "a"}, " Press any button on the remote to link it with 'a'\n\n", 1, "[E] zk_ver2_set_interrupt(#): Error: button already exists\nError, button exists\n"},
      {{"space"}, "\nMemory Info:\n  keys recorded:  2\n  keys remaining: 167\n  memory used:    1%\n"},
      {{"peek", "2"}, "Reading:\n    Address: 2 Data: 36\n"},
      {{"seq_modifiers", "disable"}, "disabling sequencing modifiers\n"},
      {{"seq_modifiers"}, "  seq. modifiers:   Disabled\n"},
      {{"noise_canceler", "disable"}, "disabling noise canceler\n"},
      {{"interkey_delay", "3"}, "interkey delay set: 3\n"},
      {{"interkey_delay"}, "  inter-key delay:  3\n"},
      {{"delete_index", "0"}, "  Deleted button 0 (hash AAAA0001)\n"},
      {{"delete"}, " The Next button pressed will be deleted, please press a button\n\n  Button Deleted Successfully\n"},
      {{"keys"}, kNoKeys},
      {{"normal"}, "Succesfully set device to normal operation\n"},
      {{"status"}, kStatusOk},
      {{"reboot"}, "Rebooting zirko...done\n"},
      {{"dfu"}, "Putting device in Firmware Upgrade Mode...  Done!\n"},
      {{"version"}, kVBoot},
     }},
    {"Generation2Commands", kGen2 + kTwoKeys,
     {
      {{"settings"}, settings(kV26, "Disabled", "Disabled", "6", "NA", "Enable", kTwoKeysSpace + kTwoKeysListing)},
      {{"profiles", "disable", "version"}, "disabling built in profiles\n" + kV26},
      {{"seq_modifiers", "enable"}, "enabling sequencing modifiers\n", 1, kNotSupported},
      {{"seq_modifiers"}, "  seq. modifiers:   NA\n"},
      {{"delete_index", "1"}, "  Deleted button 1 (hash BBBB0002)\n"},
      {{"keys"}, "\nRecorded Keys:\nIndex  hash        key\n-----  ---------   ---\n    0  AAAA0001    a\n"},
      {{"record", "F5"}, " Press any button on the remote to link it with 'F5'\n\n  Succesfully recorded button\n"},
      {{"format", "version"}, "", 2, extra("format", "version")},
     }},
    {"Generation20HasNoProfiles", kGen20,
     {
      {{"profiles"}, "  builtin profiles: NA\n"},
      {{"profiles", "enable"}, "enabling built in profiles\n", 1, kNotSupported},
     }},
    {"Generation1Commands", kGen1 + kTwoKeys,
     {
      {{"settings"}, settings(kV14, "Disabled", "Disabled", "6", "NA", "NA", kTwoKeysSpace + kTwoKeysListing)},
      {{"delete_index", "0"}, "", 1, kNotSupported},
      {{"record", "b"}, " Press any button on the remote to link it with 'b'\n\n  Succesfully recorded button\n"},
      {{"space"}, "\nMemory Info:\n  keys recorded:  3\n  keys remaining: 166\n  memory used:    2%\n"},
      {{"noise_canceler", "en"}, "enabling noise canceler\n"},
      {{"noise_canceler"}, "  noise canceler:   Enabled\n"},
      {{"status"}, kStatusOk},
      {{"dump", "1"}, "Reading:\n0000   00 17 \n"},
     }},
  };
}
// clang-format on

INSTANTIATE_TEST_SUITE_P(Cases, E2E, testing::ValuesIn(scenarios()), ScenarioName);

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

}  // namespace
