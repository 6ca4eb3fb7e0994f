// zirko_util end to end, several receivers on the bus, and two programs at one receiver.
// The runner, the receivers and the shared texts are in e2e_fixture.h.
#include <signal.h>

#include <chrono>

#include "e2e_fixture.h"

namespace {

using namespace zk::e2e;

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

const std::string kJsonTwoReceivers =
    "[{\"index\":1,\"position\":\"1-1\",\"mode\":\"firmware\",\"major\":3,\"minor\":8,\"variant\":"
    "\"Zirko\",\"recorded\":2,\"remaining\":167},"
    "{\"index\":2,\"position\":\"1-2\",\"mode\":\"firmware\",\"major\":2,\"minor\":6,\"variant\":"
    "\"Zirko\",\"recorded\":0,\"remaining\":169}]\n";

// clang-format off
std::vector<Scenario> scenarios() {
  return {
    {"SeveralReceivers", kGen3 + kTwoKeys,
     {
      {{"list"}, kTwoReceivers},
      {{"--json", "list"}, kJsonTwoReceivers},
      {{"list", "status"}, kTwoReceivers + kStatusOk, 0, kUsingFirst},
      {{"--device", "2", "record", "vol_up"}, " Press any button on the remote to link it with 'vol_up'\n\n  Succesfully recorded button\n"},
      {{"keys", "-d", "1-2"}, "\nRecorded Keys:\nIndex  hash        key\n-----  ---------   ---\n    0  779B1020    vol_up\n"},
      // Reading works on the first, which kept its buttons.
      {{"keys"}, kTwoKeysListing, 0, kUsingFirst},
      {{"upgrade", "fw.bin"}, "", 2, refused("upgrade", 2, kTwoReceiversAfter)},
      {{"noise_canceler", "enable"}, "", 2, refused("noise_canceler", 2, kTwoReceiversAfter)},
      {{"noise_canceler"}, "  noise canceler:   Disabled\n", 0, kUsingFirst},
      {{"--device=1-2", "upgrade", "fw.bin"}, upgrade_output("Zirko Devices"), 0, "", "zirko_util", true},
      {{"list"}, "1  1-1  firmware 3.8     Zirko    2 recorded, 167 free\n2  1-2  firmware 3.9     Zirko    1 recorded, 168 free\n"},
      {{"-d", "3", "keys"}, "", 1, "no receiver 3: 2 found (see `zirko_util list')\n"},
      {{"-d1-5", "keys"}, "", 1, "no receiver at 1-5 (see `zirko_util list')\n"},
      {{"keys", "-d"}, "", 2, "[E] device_value(#): option '-d' needs a value (an index from `zirko_util list', or a bus position)\n"},
      // What acts on no one receiver needs no choice.
      {{"help", "list"}, "Help for `list' command:\n[^]*", 0, "", "zirko_util", true},
     },
     {kGen2}},
    {"ReceiversInBothModes", kBoot2,
     {
      {{"list"}, kThreeReceivers},
      // Without a choice the first running its firmware, as ever.
      {{"status"}, kStatusOk, 0, "3 receivers found; using 1-2 (choose one with --device)\n"},
      {{"-d", "1", "status"}, kStatusBoot},
      {{"dfu", "leave"}, "", 2, refused("dfu", 3, std::regex_replace(kThreeReceivers, std::regex("(^|\n)(.)"), "$1  $2"))},
      {{"-d", "3", "space"}, kTwoKeysSpace},
      {{}, kThreeReceivers, 0, "", "list"},
     },
     {kGen1 + "eeprom 000: 00 05 36 04 00\n", kGen3 + kTwoKeys}},
  };
}
// clang-format on

INSTANTIATE_TEST_SUITE_P(Cases, E2E, testing::ValuesIn(scenarios()), ScenarioName);

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

// A second writer waits while the first holds the receiver, saying so, and
// gives up after a bounded time; reading never waits.
TEST_F(TempDir, SecondWriterWaitsThenGivesUp) {
  std::ofstream(dir_ / "receiver.state") << kFast << kTwoKeys << "press_delay_ms = 60000\n";
  setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
  const pid_t recording = spawn(ZIRKO_UTIL_BIN, {"record", "-t", "8", "a"}, dir_);
  // The prompt comes just before the recording takes the receiver, which
  // it then holds while it waits.
  EXPECT_TRUE(printed(dir_, "Press any"));
  usleep(300 * 1000);
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

}  // namespace
