// Opening, generation selection, dispatch, version queries and closing.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "captured_output.h"
#include "internal.h"
#include "receiver_test.h"
#include "text_assert.h"

namespace {

using zk::test::CapturedLog;
using zk::test::CapturedOutput;
using zk::test::Contains;
using zk::test::Lacks;
using zk::virt::ReceiverState;

class Open : public zk::test::VirtualReceiverTest {
 protected:
  void ExpectNoDeviceState() {
    EXPECT_EQ(current_device, nullptr);
    EXPECT_EQ(current_handle, nullptr);
    EXPECT_EQ(zk_fw_state(), -12);
    EXPECT_EQ(bus().init_refs(), 0);
    EXPECT_EQ(bus().open_handles(), 0);
  }
};

TEST_F(Open, FirmwareReceiverOpensInFirmwareModeWithItsVersionLine) {
  SetFirmwareVersion(3, 7);
  CapturedLog log;
  ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
  EXPECT_EQ(zk_fw_state(), ZK_STATE_FIRMWARE);
  EXPECT_TRUE(Contains(log.text(), "[D] zk_open_device("));
  EXPECT_TRUE(Contains(log.text(), "): Firmware v:3.7\n"));
  EXPECT_TRUE(Contains(log.text(), "[D] determine_iface("));
  EXPECT_TRUE(Contains(log.text(), "): fw_state: firmware\n"));
  EXPECT_TRUE(Contains(log.text(), "): version: 3.7\n"));
  EXPECT_EQ(Requests(0xC2, 1).size(), 1u);  // one read gives major and minor
  ExpectRequest(0xC2, 1, 0, 0, 8, 5000);
  EXPECT_EQ(bus().init_refs(), 1);
}

TEST_F(Open, LegacyReceiverIsFoundByTheSecondScan) {
  receiver().edit([](ReceiverState &s) {
    s.legacy_manufacturer = true;
    s.firmware_product_id = 0x0002;
  });
  CapturedLog log;
  ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
  EXPECT_TRUE(Contains(log.text(), "trying to open: 20A0 :: Zirko Devices\n"));
  EXPECT_TRUE(Contains(log.text(), "trying to open: 20A0 :: zirko\n"));
  EXPECT_EQ(current_device->iface, 0);
  EXPECT_EQ(bus().init_refs(), 1);
}

TEST_F(Open, BootloaderReceiverOpensInBootloaderModeAndAsksRequest4) {
  SetBootloaderMode(true);
  CapturedLog log;
  ASSERT_EQ(OpenReceiver(), ZK_STATE_BOOTLOADER);
  EXPECT_EQ(zk_fw_state(), ZK_STATE_BOOTLOADER);
  EXPECT_TRUE(Contains(log.text(), "): Bootloader v:2.1\n"));
  EXPECT_TRUE(Contains(log.text(), "): fw_state: bootloader\n"));
  ExpectRequest(0xC2, 4, 0, 0, 8, 5000);
  ExpectNoRequest(0xC2, 1);
}

TEST_F(Open, NoReceiverAnswersMinus6AndCanBeCalledAgain) {
  Unplug();
  for (int i = 0; i < 2; ++i) {
    CapturedLog log;
    EXPECT_EQ(OpenReceiver(), -6);
    EXPECT_TRUE(Contains(log.text(), "[D] _zk_open_device("));
    EXPECT_TRUE(Contains(log.text(), "): \n No devices found\n\n\n"));
    EXPECT_TRUE(Contains(log.text(), "): no device found\n"));
    ExpectNoDeviceState();
  }
  ASSERT_NE(current_ops, nullptr);  // the empty table
  EXPECT_EQ(zk_reboot(), -12);
}

TEST_F(Open, AThousandFailedOpensTakeNoContextReference) {
  Unplug();
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(OpenReceiver(), -6);
  ExpectNoDeviceState();
  EXPECT_EQ(bus().device_refs(), 0);
  Plug();
  EXPECT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
  EXPECT_EQ(bus().init_refs(), 1);
}

TEST_F(Open, UnreadableVersionClosesTheReceiverWithMinus19) {
  FailRequest(0xC2, 1, zk::kUsbErrorPipe);
  CapturedLog log;
  EXPECT_EQ(OpenReceiver(), -19);
  EXPECT_TRUE(Contains(log.text(), "[E] zk_open_device("));
  EXPECT_TRUE(Contains(log.text(), "): invalid device, can't initialize, closing\n"));
  EXPECT_TRUE(Contains(log.text(), "): closing device handle\n"));
  ExpectNoDeviceState();
  EXPECT_EQ(current_ops, nullptr);
}

TEST_F(Open, CloseTwiceIsHarmless) {
  ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
  CapturedLog log;
  zk_close_device();
  zk_close_device();
  EXPECT_TRUE(Contains(log.text(), "[I] zk_close_device("));
  EXPECT_EQ(log.text().find("closing device handle"), log.text().rfind("closing device handle"));
  ExpectNoDeviceState();
  EXPECT_EQ(current_ops, nullptr);
  EXPECT_EQ(zk_get_device_list()->next, zk_get_device_list());
}

TEST_F(Open, WaitingForAPresentReceiverPrintsWaitingAndDetected) {
  CapturedOutput out(stdout);
  EXPECT_EQ(zk_wait_for_device(ZK_VENDOR_ID, ZK_MANUFACTURER), ZK_STATE_FIRMWARE);
  EXPECT_EQ(out.text(), "[DEVICE]        Waiting\n[DEVICE]        FW Detected\n");
}

TEST_F(Open, WaitingPrintsADotPerSecondUntilTheReceiverArrives) {
  SetBootloaderMode(true);
  Unplug();
  std::thread plugger([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    Plug();
  });
  CapturedOutput printed(stdout);
  int result = zk_wait_for_device(ZK_VENDOR_ID, ZK_MANUFACTURER);
  std::string out = printed.text();
  plugger.join();
  EXPECT_EQ(result, ZK_STATE_BOOTLOADER);
  EXPECT_TRUE(Contains(out, "[DEVICE]        Waiting.."));
  EXPECT_TRUE(Contains(out, ".\n[DEVICE]        Bootloader Detected\n"));
}

// ---- generation selection ----

enum class Table { kNone, kFw1, kFw2, kFw21, kFw3, kBootloader };

// Which builder made a table, told by the slots each generation adds.
Table kind_of(const zk_ops *ops) {
  if (!ops) return Table::kNone;
  if (ops->version_str == zk_bl_version_str) return Table::kBootloader;
  if (ops->set_sequence_modifiers) return Table::kFw3;
  if (ops->get_builtin_profile_support) return Table::kFw21;
  if (ops->delete_index) return Table::kFw2;
  return Table::kFw1;
}

struct Row {
  int type, major, minor;
  std::vector<std::string> lines;  // D or E texts, in this order
  Table table;
};

std::string describe(const Row &row) {
  return "type " + std::to_string(row.type) + " version " + std::to_string(row.major) + "." +
         std::to_string(row.minor);
}

void check_row(const Row &row) {
  CapturedLog log;
  std::unique_ptr<zk_ops> ops(determine_iface(row.type, row.major, row.minor));
  const std::string &text = log.text();
  EXPECT_EQ(kind_of(ops.get()), row.table) << describe(row);
  size_t at = text.find("version: " + std::to_string(row.major) + "." + std::to_string(row.minor));
  EXPECT_NE(at, std::string::npos) << describe(row) << "\n" << text;
  for (const std::string &line : row.lines) {
    at = text.find("): " + line + "\n", at);
    EXPECT_NE(at, std::string::npos) << describe(row) << ": " << line << "\n" << text;
  }
  if (row.lines.empty()) {
    EXPECT_TRUE(Lacks(text, "initializing")) << describe(row);
  }
}

TEST(DetermineIface, BootloaderRows) {
  const Row rows[] = {
      {1, 1, 0, {"initializing btldr ver1"}, Table::kBootloader},
      {1, 1, 9, {"initializing btldr ver1"}, Table::kBootloader},
      {1, 2, 0, {"initializing btldr ver2.0"}, Table::kBootloader},
      {1, 2, 1, {"initializing btldr ver2.1"}, Table::kBootloader},
      {1, 2, 5, {"unknown minor, initializing v2.0"}, Table::kBootloader},
      {1, -1, 0, {"can not read version, unplug/plug device"}, Table::kNone},
      {1, 7, 0, {"version not supported, loading def: ver1"}, Table::kBootloader},
      {1, 0, 3, {"version not supported, loading def: ver1"}, Table::kBootloader},
  };
  for (const Row &row : rows) check_row(row);
}

TEST(DetermineIface, FirmwareRows) {
  std::vector<Row> rows = {
      {2, 0, 4, {"major version 0, initializing fw ver1"}, Table::kFw1},
      {2, 1, 2, {"initializing fw ver1"}, Table::kFw1},
      {2, 2, 0, {"initializing fw ver2.0"}, Table::kFw2},
      {2, 2, 7, {"unknown minor version, using 2.0"}, Table::kFw2},
      {2, 2, 12, {"unknown minor version, using 2.0"}, Table::kFw2},
      {2, 3, 0, {"initializing fw ver3.0"}, Table::kFw3},
      {2, 3, 1, {"initializing fw ver3.1"}, Table::kFw3},
      {2, 3, 6, {"initializing fw ver3.6"}, Table::kFw3},
      {2, 3, 7, {"initializing fw ver3.7"}, Table::kFw3},
      {2, 3, 2, {}, Table::kFw3},
      {2, 3, 4, {}, Table::kFw3},
      {2, 3, 8, {}, Table::kFw3},
      {2, 255, 3, {"beta firmware, initializing fw ver2"}, Table::kFw2},
      {2, -1, 0, {"can not read version, unplug/plug device"}, Table::kNone},
      {2, 4, 0, {"read: 4", "version not supported, loading def: ver1"}, Table::kFw1},
  };
  for (int minor = 1; minor <= 6; ++minor) {
    rows.push_back({2, 2, minor, {"initializing fw ver2." + std::to_string(minor)}, Table::kFw21});
  }
  for (const Row &row : rows) check_row(row);
}

TEST(DetermineIface, ErrorRowsAreLoggedAtLevelE) {
  CapturedLog log(ZK_LOG_WARNING);
  std::unique_ptr<zk_ops> ops(determine_iface(2, 4, 0));
  EXPECT_TRUE(Contains(log.text(), "[E] determine_iface("));
  EXPECT_TRUE(Contains(log.text(), "): read: 4\n"));
  EXPECT_TRUE(Lacks(log.text(), "version: 4.0"));  // D lines stay below the threshold
}

TEST_F(Open, Firmware27GetsThe20TableWithoutBuiltinProfiles) {
  SetFirmwareVersion(2, 7);
  ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
  CapturedLog log;
  EXPECT_EQ(zk_get_builtin_profile_support(), -12);
  EXPECT_TRUE(Contains(log.text(), "): invalid operation for this device or fw version\n"));
}

TEST_F(Open, MajorVersion4InstallsGeneration1) {
  SetFirmwareVersion(4, 0);
  CapturedLog log;
  ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
  EXPECT_TRUE(Contains(log.text(), "): read: 4\n"));
  EXPECT_EQ(kind_of(current_ops), Table::kFw1);
}

TEST_F(Open, MajorVersion255InstallsThe20Table) {
  SetFirmwareVersion(255, 0);
  ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
  EXPECT_EQ(kind_of(current_ops), Table::kFw2);
}

// ---- dispatch ----

struct Call {
  const char *name;
  std::function<int()> call;
  bool fw_text;
};

std::vector<Call> dispatch_calls() {
  return {
      {"zk_leave_bootloader", [] { return zk_leave_bootloader(); }, false},
      {"zk_reboot", [] { return zk_reboot(); }, false},
      {"zk_set_delete", [] { return zk_set_delete(1); }, false},
      {"zk_set_record", [] { return zk_set_record("a", 1); }, false},
      {"zk_set_record_api", [] { return zk_set_record_api(0, 4, 1); }, false},
      {"zk_set_normal", [] { return zk_set_normal(); }, false},
      {"zk_set_interrupt", [] { return zk_set_interrupt(1); }, false},
      {"zk_delete_buttons", [] { return zk_delete_buttons("a"); }, false},
      {"zk_set_noise_cancel", [] { return zk_set_noise_cancel(1); }, false},
      {"zk_get_noise_cancel", [] { return zk_get_noise_cancel(); }, false},
      {"zk_set_sensitivity", [] { return zk_set_sensitivity(1); }, false},
      {"zk_get_sensitivity", [] { return zk_get_sensitivity(); }, false},
      {"zk_set_interkey_delay", [] { return zk_set_interkey_delay(1); }, false},
      {"zk_get_interkey_delay", [] { return zk_get_interkey_delay(); }, false},
      {"zk_get_sleep_detect", [] { return zk_get_sleep_detect(); }, true},
      {"zk_set_sleep_detect", [] { return zk_set_sleep_detect(1); }, true},
      {"zk_get_builtin_profile_support", [] { return zk_get_builtin_profile_support(); }, true},
      {"zk_set_builtin_profile_support", [] { return zk_set_builtin_profile_support(1); }, true},
      {"zk_get_state", [] { return zk_get_state(); }, false},
      {"zk_clear_state", [] { return zk_clear_state(); }, false},
      {"zk_display_config", [] { return zk_display_config(); }, false},
      {"zk_format_config", [] { return zk_format_config(); }, false},
      {"zk_save_config", [] { return zk_save_config("x.zcfg"); }, false},
      {"zk_load_config", [] { return zk_load_config("x.zcfg"); }, false},
      {"zk_keys_recorded", [] { return zk_keys_recorded(); }, false},
      {"zk_keys_remaining", [] { return zk_keys_remaining(); }, false},
      {"zk_device_set_dfu", [] { return zk_device_set_dfu(); }, false},
      {"zk_last_upgrade_attempt", [] { return zk_last_upgrade_attempt(); }, false},
      {"zk_delete_index", [] { return zk_delete_index(1); }, false},
      {"zk_set_sequence_modifiers", [] { return zk_set_sequence_modifiers(1); }, true},
      {"zk_get_sequence_modifiers", [] { return zk_get_sequence_modifiers(); }, true},
      {"zk_fw_scm_hash", [] { return zk_fw_scm_hash(); }, false},
  };
}

void expect_refusals() {
  for (const Call &c : dispatch_calls()) {
    CapturedLog log;
    EXPECT_EQ(c.call(), -12) << c.name;
    const std::string text = c.fw_text ? "invalid operation for this device or fw version"
                                       : "invalid operation for this device or version";
    EXPECT_TRUE(Contains(log.text(), std::string("[D] ") + c.name + "(")) << c.name;
    EXPECT_TRUE(Contains(log.text(), "): " + text + "\n")) << c.name;
  }
}

TEST(Dispatch, WithoutATableEveryCallRefusesWithItsText) {
  expect_refusals();
}

TEST_F(Open, WithNoReceiverTheEmptyTableRefusesEveryCall) {
  Unplug();
  ASSERT_EQ(OpenReceiver(), -6);
  expect_refusals();
  CapturedLog log;
  EXPECT_EQ(zk_version_str(), nullptr);
  EXPECT_TRUE(Contains(log.text(), "[D] zk_version_str("));
  EXPECT_TRUE(Contains(log.text(), "): invalid operation for this device or version\n"));
}

struct SeenArgs {
  int modifier = 0, key = 0, timeout = 0;
  const char *path = nullptr;
};
SeenArgs seen;

TEST(Dispatch, AFilledSlotGetsTheArgumentsAndGivesItsResultUnchanged) {
  auto ops = std::make_unique<zk_ops>();
  ops->set_record_api = [](int modifier, int key, int timeout) {
    seen.modifier = modifier, seen.key = key, seen.timeout = timeout;
    return 42;
  };
  ops->save_config = [](const char *path) {
    seen.path = path;
    return -9;
  };
  current_ops = ops.get();
  const char *path = "backup.zcfg";
  EXPECT_EQ(zk_set_record_api(0x02, 0x04, 100), 42);
  EXPECT_EQ(zk_save_config(path), -9);
  current_ops = nullptr;
  EXPECT_EQ(seen.modifier, 0x02);
  EXPECT_EQ(seen.key, 0x04);
  EXPECT_EQ(seen.timeout, 100);
  EXPECT_EQ(seen.path, path);
}

TEST_F(Open, GetStateInBootloaderModeAnswers0WithoutATransfer) {
  SetBootloaderMode(true);
  ASSERT_EQ(OpenReceiver(), ZK_STATE_BOOTLOADER);
  ClearTranscript();
  EXPECT_EQ(zk_get_state(), 0);
  ExpectNoTransfers();
}

TEST_F(Open, SwitchingToTheBootloaderInBootloaderModeAnswers1) {
  SetBootloaderMode(true);
  ASSERT_EQ(OpenReceiver(), ZK_STATE_BOOTLOADER);
  ClearTranscript();
  CapturedLog log;
  EXPECT_EQ(zk_device_set_dfu(), 1);
  EXPECT_TRUE(Contains(log.text(), "[I] zk_device_set_dfu("));
  EXPECT_TRUE(Contains(log.text(), "): device already in bootloader\n"));
  ExpectNoTransfers();
}

// ---- version queries ----

TEST_F(Open, Version37) {
  SetFirmwareVersion(3, 7);
  ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
  EXPECT_FLOAT_EQ(zk_version(), 3.7f);
  EXPECT_EQ(zk_major_version(), 3);
  EXPECT_EQ(zk_minor_version(), 7);
}

TEST_F(Open, MinorOf10OrMoreCountsHundredths) {
  SetFirmwareVersion(2, 12);
  ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
  EXPECT_FLOAT_EQ(zk_version(), 2.12f);
}

TEST_F(Open, EmptyVersionReplyGivesMinus16WithSuccessText) {
  ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
  ReplyLength(0xC2, 1, 0);
  CapturedLog log;
  EXPECT_FLOAT_EQ(zk_version(), -16.0f);
  EXPECT_EQ(zk_major_version(), -16);
  EXPECT_EQ(zk_minor_version(), -16);
  EXPECT_TRUE(Contains(log.text(), "[D] zk_version("));
  EXPECT_TRUE(Contains(log.text(), "): Success\n"));
}

TEST_F(Open, FailedVersionTransferGivesMinus16WithItsText) {
  ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
  FailRequest(0xC2, 1, zk::kUsbErrorPipe);
  CapturedLog log;
  EXPECT_EQ(zk_major_version(), -16);
  EXPECT_TRUE(Contains(log.text(), "[D] zk_major_version("));
  EXPECT_TRUE(Contains(log.text(), "): Pipe error\n"));
}

TEST(Version, WithoutADeviceAnswersMinus9) {
  CapturedLog log;
  EXPECT_FLOAT_EQ(zk_version(), -9.0f);
  EXPECT_EQ(zk_major_version(), -9);
  EXPECT_EQ(zk_minor_version(), -9);
  EXPECT_TRUE(Contains(log.text(), "): invalid device\n"));
}

TEST_F(Open, BootloaderVersionTextCarriesTheBuildDate) {
  SetBootloaderVersion(2, 1, {5, 3, 14});
  SetBootloaderMode(true);
  ASSERT_EQ(OpenReceiver(), ZK_STATE_BOOTLOADER);
  const char *text = zk_version_str();
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, "2.1 05-03-2014");
  EXPECT_EQ(Requests(0xC2, 4).size(), 2u);  // one at open, then the text
}

TEST_F(Open, BootloaderVersionTextFailsWithTheUsbErrorText) {
  SetBootloaderMode(true);
  ASSERT_EQ(OpenReceiver(), ZK_STATE_BOOTLOADER);
  FailRequest(0xC2, 4, zk::kUsbErrorIo);
  CapturedLog log;
  EXPECT_EQ(zk_version_str(), nullptr);
  EXPECT_TRUE(Contains(log.text(), "[D] zk_bl_version_str("));
  EXPECT_TRUE(Contains(log.text(), "): Input/output error\n"));
}

}  // namespace

namespace {

// Whether outcomes come on the interrupt endpoint follows the generation the
// library chose, so every program asks it instead of the version.
TEST_F(Open, OutcomeEndpointFollowsTheGeneration) {
  const struct {
    int major, minor, expected;
  } cases[] = {{0, 9, 1}, {1, 2, 1}, {1, 4, 1}, {2, 0, 0},
               {2, 6, 0}, {3, 8, 0}, {4, 0, 1}, {255, 0, 0}};
  CapturedLog log;  // the unknown major's complaint
  for (const auto &c : cases) {
    SetFirmwareVersion(c.major, c.minor);
    ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
    ClearTranscript();
    int major = -1, minor = -1;
    EXPECT_EQ(zk_opened_version(&major, &minor), 0);
    EXPECT_EQ(major * 100 + minor, c.major * 100 + c.minor);
    EXPECT_EQ(zk_outcome_on_interrupt(), c.expected) << c.major << "." << c.minor;
    ExpectNoTransfers();
    zk_close_device();
  }
  EXPECT_EQ(zk_outcome_on_interrupt(), ZK_ERR_NOT_USABLE);
  EXPECT_EQ(zk_opened_version(nullptr, nullptr), ZK_ERR_NO_HANDLE);
  SetBootloaderMode(true);
  ASSERT_EQ(OpenReceiver(), ZK_STATE_BOOTLOADER);
  EXPECT_EQ(zk_outcome_on_interrupt(), ZK_ERR_NOT_USABLE);
}

// One holder at a time, as usbfs grants the interface: another program's
// claim is reported, never overridden, and ends with its handle.
TEST_F(Open, ClaimIsHeldByOneProgramAtATime) {
  ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
  std::vector<zk_usb_device *> devices;
  ASSERT_EQ(bus().get_device_list(devices), 1);
  zk_usb_handle *other = nullptr;
  ASSERT_EQ(bus().open(devices[0], &other), 0);
  EXPECT_EQ(bus().claim_interface(other, 1), zk::kUsbErrorBusy);  // the open holds it

  EXPECT_EQ(zk_claim_receiver(0), 0);
  EXPECT_EQ(bus().claim_interface(other, 1), 0);
  EXPECT_EQ(zk_claim_receiver(1), ZK_ERR_IN_USE);
  EXPECT_EQ(zk_get_state(), ZK_RX_NORMAL);  // the default pipe needs no claim

  bus().close(other);
  EXPECT_EQ(zk_claim_receiver(1), 0);
  zk_close_device();
  EXPECT_EQ(zk_claim_receiver(1), ZK_ERR_NOT_USABLE);
  bus().free_device_list(devices);
}

}  // namespace
