// zirko_util end to end, the firmware: versions, status, the bootloader, upgrades, and waiting for
// a receiver. The runner, the receivers and the shared texts are in e2e_fixture.h.
#include <signal.h>

#include "e2e_fixture.h"

namespace {

using namespace zk::e2e;

const std::string kBoot1 = kBoot2 + "bootloader_version = 1.2\n";

const std::string kBadImageRefused =
    "[E] zk_check_fw_image(#): firmware image of 1000 bytes: its size must be a multiple of 128\n"
    "Error: bad.bin is not an image the receiver takes; the receiver was not changed\n";

// A pattern: the releases from the newest to the first, then the firmware.
const std::string kVersionHistory =
    "zirko_util version v1\\.4\\.4 \\[v1\\.4\\.4-1-g3842eaf\\]\n"
    "Version History:\n"
    " 1\\.2\\.7\n"
    "( -.*\n"
    ")+ 1\\.2\\.6\n"
    "[^]*\n"
    " 0\\.9\\.8\n"
    "  - .*\n"
    "  Firmware: v3\\.8 \\[5EEDC0DE\\]\n";

const std::string kPageRefused =
    "[E] zk_ver2_send_packet(#): Page 2 Error: \n"
    "[E] zk_ver2_send_packet(#): CRC mismatch\n"
    "[E] zk_ver2_send_packet(#): Page failed\n"
    "[E] zk_ver2_write_buf(#): sending packet failed\n"
    "[E] zk_upgrade_fw_ext(#): upload firmware failed\n"
    "Error, upload failed\n";

const std::string kBadImageInBootloader =
    "[E] zk_ver2_pre_boot(#): image provided is incorrect size\n"
    "[E] zk_ver2_upload_fw(#): could not prep device\n"
    "[E] zk_upgrade_fw_ext(#): upload firmware failed\n";

// clang-format off
std::vector<Scenario> scenarios() {
  return {
    {"UpgradeRefusesABadImageBeforeTheSwitch", kGen3,
     {
      {{"upgrade", "bad.bin"}, "", 1, kBadImageRefused},
      {{"version"}, kV38},
     }},
    {"VersionHistory", kGen3,
     {
      {{"version", "history"}, kVersionHistory, 0, "", "zirko_util", true},
     }},
    {"BootloaderCommands", kBoot2,
     {
      {{"settings"}, settings(kVBoot, "NA", "NA", "NA", "NA", "NA", "Device currently in bootloader\n"), 0, "Error: " + kInBootloader},
      {{"status"}, kStatusBoot},
      {{"--json", "status"}, "{\"mode\":\"bootloader\",\"last_upgrade\":\"error\"}\n"},
      {{"space"}, "Device currently in bootloader\n"},
      {{"keys"}, "", 1, "Error: " + kInBootloader},
      {{"record", "a"}, " Press any button on the remote to link it with 'a'\n\n", 1, "Error: " + kInBootloader},
      {{"interkey_delay"}, "  inter-key delay:  NA\n"},
      {{"dfu"}, "Putting device in Firmware Upgrade Mode...  Done!\n"},
      {{"dump", "2"}, "Reading:\n0000   00 05 36 \n"},
      {{"dfu", "--leave"}, "Kicking device out of bootloader...Done!\n"},
      {{"version"}, kV38},
     }},
    {"Bootloader1CannotBeLeftWithoutAnImage", kBoot1,
     {
      {{"status"}, kStatusBoot},
      {{"dfu", "leave"}, "Kicking device out of bootloader...Error, could not leave bootloader\n", 1, "[E] zk_ver1_leave_bootloader(#): invalid command, please upload a new image\n"},
     }},
    {"UpgradeWithOneArgument", kGen3,
     {
      {{"upgrade", "fw.bin"}, upgrade_output("Zirko Devices"), 0, "", "zirko_util", true},
      {{"version"}, kVersion + "  Firmware: v3.9 [12345678]\n"},
      {{"upgrade", "missing.bin"}, "", 1, "Error: missing.bin: No such file or directory\n"},
      {{"upgrade", "fw.bin", "Zirko Devices"}, "", 2, "[E] upgrade(#): a manufacturer string needs the vendor id after it\n" + kUpgradeHelp},
      {{"upgrade"}, "", 2, kNotEnough + kUpgradeHelp},
     }},
    {"UpgradeWithThreeArguments", kGen2,
     {
      {{"upgrade", "fw.bin", "zirko", "20a0"}, upgrade_output("zirko"), 0, "", "zirko_util", true},
      {{"version"}, kVersion + "  Firmware: v3.9 [12345678]\n"},
      {{"upgrade", "fw.bin", "zirko", "2O"}, "", 2, "[E] upgrade(#): invalid number: 2O\n"},
      {{"upgrade", "fw.bin", "zirko", "-1"}, "", 2, "[E] upgrade(#): the vendor id must be 0 to FFFF (hexadecimal): -1\n"},
     }},
    {"UpgradeWithAPageTheBootloaderKeepsRefusing", kGen3 + "bootloader_reject_page = 2\nbootloader_reject_times = 200\n",
     {
      {{"upgrade", "fw.bin"}, upgrade_output("Zirko Devices", false), 1, kPageRefused, "zirko_util", true},
      {{"status", "version"}, kStatusBoot + kVBoot},
     }},
    {"FailedUpgradeStaysInTheBootloader", kBoot2,
     {
      {{"upgrade", "bad.bin", "zirko", "0x20A0"}, "Uploading image: bad.bin to \"zirko\" 0x20A0\n[DEVICE]        Uploading\n", 1, kBadImageInBootloader},
      {{"version"}, kVBoot},
      {{"status"}, kStatusBoot},
      {{"keys"}, "", 1, "Error: " + kInBootloader},
     }},
  };
}
// clang-format on

INSTANTIATE_TEST_SUITE_P(Cases, E2E, testing::ValuesIn(scenarios()), ScenarioName);

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

// A signal during an upgrade leaves the receiver in its bootloader, and the
// same upgrade run again finishes it.
TEST_F(TempDir, SignalDuringUpgradeLeavesTheBootloaderToFinishLater) {
  const auto firmware = zk::virt::make_image({{3, 9, {6, 1, 24}}, 0, 0x12345678}, 4096);
  std::ofstream(dir_ / "fw.bin", std::ios::binary)
      .write(reinterpret_cast<const char *>(firmware.data()), std::streamsize(firmware.size()));
  // Slow EEPROM writes keep the receiver at its upgrade flag for a while.
  std::ofstream(dir_ / "receiver.state") << kFast << kTwoKeys << "eeprom_write_ms = 600\n";
  const pid_t pid = spawn(ZIRKO_UTIL_BIN, {"upgrade", "fw.bin"}, dir_);
  EXPECT_TRUE(printed(dir_, "Bootloader Detected"));
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

}  // namespace
