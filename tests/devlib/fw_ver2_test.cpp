// Generations 2 and 3 against the virtual receiver: recording and its wait,
// deleting, settings, listing, version text.
#include <gtest/gtest.h>

#include <string>

#include "fw_common.h"
#include "text_assert.h"
#include "virtual_receiver_fixture.h"

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;
using zk::test::Contains;
using zk::test::Lacks;

namespace {

// Wait clock that moves only when the wait sleeps.
int64_t fake_now_us = 0;
const zk::fw::WaitClock kFakeClock{[] { return fake_now_us; },
                                   [](int ms) { fake_now_us += int64_t(ms) * 1000; }};

class FwTest : public zk::test::VirtualReceiverTest {
 protected:
  void SetUp() override {
    VirtualReceiverTest::SetUp();
    fake_now_us = 0;
    zk::fw::set_wait_clock(&kFakeClock);
  }
  void TearDown() override {
    zk::fw::set_wait_clock(nullptr);
    VirtualReceiverTest::TearDown();
  }
  void Open(int major = 3, int minor = 8) {
    SetFirmwareVersion(major, minor);
    ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
    ClearTranscript();
  }
};

TEST_F(FwTest, RecordsNamesAndRawValuesWithTheirReports) {
  Open();
  QueuePress(0xA1);
  EXPECT_EQ(zk_set_record("a", 5), 0);
  QueuePress(0xB2);
  EXPECT_EQ(zk_set_record("A", 5), 0);
  QueuePress(0xC3);
  EXPECT_EQ(zk_set_record("vol_up", 5), 0);
  QueuePress(0xD4);
  EXPECT_EQ(zk_set_record_api(0x05, 0x28, 5), 0);
  ExpectRequest(0xC0, 1, 0x04, 0x00, 0, 5000);
  ExpectRequest(0xC0, 1, 0x04, 0x02, 0);
  ExpectRequest(0xC0, 1, 0x66, 0xE9, 0);
  ExpectRequest(0xC0, 1, 0x28, 0x05, 1);
  ExpectRequest(0xC0, 5, 1, 0, 1);
  EXPECT_EQ(Image(), (std::vector<uint8_t>{0,    29,   0x36, 0x06, 0, 0xA1, 0,    0,    0,   0,
                                           0x04, 0xB2, 0,    0,    0, 0x02, 0x04, 0xC3, 0,   0,
                                           0,    0xE9, 0x66, 0xD4, 0, 0,    0,    0x05, 0x28}));
}

TEST_F(FwTest, RecordingRefusalsAndUnknownOutcomes) {
  Open();
  AddEntry(0xA1, 0, 0x04);
  CaptureStderr();
  QueuePress(0xA1);
  EXPECT_EQ(zk_set_record("b", 5), -5);
  EXPECT_EQ(zk_set_record("nokey", 5), -8);
  EXPECT_EQ(zk_clear_state(), 0);
  EXPECT_EQ(zk_set_interrupt(5), 0);  // state code 0 is no known outcome
  std::string log = GetCapturedStderr();
  EXPECT_TRUE(Contains(log, "Error: button already exists"));
  EXPECT_TRUE(Contains(log, "[E] zk_ver2_set_record("));
  EXPECT_TRUE(Contains(log, "Key does not exist"));
  EXPECT_TRUE(Contains(log, "Unknown error, contact support: 0"));
  EXPECT_EQ(Requests(0xC0, 1).size(), 1u);  // nothing sent for the unknown name

  // Without a time-out the receiver is left waiting in record mode.
  EXPECT_EQ(zk_set_record("c", 0), 0);
  EXPECT_EQ(zk_get_state(), 1);
}

TEST_F(FwTest, FullImageRefusesTheNextButton) {
  Open();
  for (int i = 0; i < 169; ++i) AddEntry(0x100 + i, 0, 0x04);
  EXPECT_EQ(zk_keys_recorded(), 169);
  EXPECT_EQ(zk_keys_remaining(), 0);
  QueuePress(0xFFFF);
  CaptureStderr();
  EXPECT_EQ(zk_set_record("z", 5), -4);
  EXPECT_TRUE(Contains(GetCapturedStderr(), "Error: no space left on device"));
}

// Time-out argument, seconds waited, polls of the state code.
struct WaitCase {
  int timeout_s, waited_s, polls;
};
class WaitTimeoutTest : public FwTest, public testing::WithParamInterface<WaitCase> {};

TEST_P(WaitTimeoutTest, TimesOutAndSendsTheReceiverBackToNormal) {
  Open();
  ASSERT_EQ(zk_set_record("a", 0), 0);
  CaptureStderr();
  EXPECT_EQ(zk_set_interrupt(GetParam().timeout_s), -17);
  EXPECT_TRUE(Contains(GetCapturedStderr(), "timeout"));
  EXPECT_EQ(fake_now_us, int64_t(GetParam().waited_s) * 1000000);
  EXPECT_EQ(Requests(0xC0, 5).size(), size_t(GetParam().polls));
  ExpectRequest(0xC0, 0, 0, 0, 1);
  EXPECT_FALSE(receiver().waiting_for_button());
}

INSTANTIATE_TEST_SUITE_P(Rules, WaitTimeoutTest,
                         testing::Values(WaitCase{0, 100, 1000}, WaitCase{150, 100, 1000},
                                         WaitCase{5, 5, 50}, WaitCase{-1, 0, 0}));

TEST_F(FwTest, DeletesByNextButtonAndByKey) {
  Open();
  AddEntry(0xA1, 0, 0x04);
  AddEntry(0xB2, 0x02, 0x04);
  AddEntry(0xC3, 0x02, 0x04);
  QueuePress(0xA1);
  EXPECT_EQ(zk_set_delete(1), 0);
  ExpectRequest(0xC0, 2, 1, 0, 1);
  EXPECT_EQ(zk_keys_recorded(), 2);

  QueuePress(0xEE);
  CaptureStderr();
  EXPECT_EQ(zk_set_delete(1), -6);
  EXPECT_TRUE(Contains(GetCapturedStderr(), "Error: key not found"));

  EXPECT_EQ(zk_delete_buttons("A"), 2);  // the receiver's reply byte
  ExpectRequest(0xC0, 4, 0x04, 0x02, 2);
  EXPECT_EQ(zk_keys_recorded(), 0);
  EXPECT_EQ(zk_delete_buttons("nokey"), -8);
  EXPECT_EQ(Requests(0xC0, 4).size(), 1u);
}

TEST_F(FwTest, SettersWriteTheirFieldAndApply) {
  Open();
  SetEeprom(2, 0x80);  // upgrade flag must survive
  SetEeprom(3, 0x0F);
  EXPECT_EQ(zk_set_interkey_delay(5), 0);
  EXPECT_EQ(zk_set_sensitivity(2), 0);
  EXPECT_EQ(Eeprom(2), 0xA5);
  EXPECT_EQ(zk_get_interkey_delay(), 5);
  EXPECT_EQ(zk_get_sensitivity(), 2);

  EXPECT_EQ(zk_set_noise_cancel(3), 0);
  EXPECT_EQ(Eeprom(3), 0x4F);
  EXPECT_EQ(zk_get_noise_cancel(), 1);
  EXPECT_EQ(zk_set_noise_cancel(2), 0);
  EXPECT_EQ(Eeprom(3), 0x0F);

  // The feature switches are stored as "off" bits.
  EXPECT_EQ(zk_set_builtin_profile_support(0), 0);
  EXPECT_EQ(zk_set_sequence_modifiers(0), 0);
  EXPECT_EQ(Eeprom(3), 0x3F);
  EXPECT_EQ(zk_get_builtin_profile_support(), 0);
  EXPECT_EQ(zk_get_sequence_modifiers(), 0);
  EXPECT_EQ(zk_set_builtin_profile_support(1), 0);
  EXPECT_EQ(zk_get_builtin_profile_support(), 1);
  EXPECT_EQ(Requests(0xC2, 7).size(), 7u);
  EXPECT_EQ(receiver().active_settings(), std::make_pair(uint8_t{0xA5}, uint8_t{0x1F}));
}

TEST_F(FwTest, SleepDetectUsesItsOwnApplyRequest) {
  Open();
  SetEeprom(3, 0x46);
  EXPECT_EQ(zk_set_sleep_detect(1), 0);
  ExpectRequest(0xC2, 3, 3, 0xC6, 1);
  ExpectRequest(0xC0, 7, 1, 0, 1);
  ExpectNoRequest(0xC2, 7);
  EXPECT_EQ(zk_get_sleep_detect(), 1);
  EXPECT_EQ(zk_set_sleep_detect(0), 0);
  EXPECT_EQ(Eeprom(3), 0x46);
}

TEST_F(FwTest, SettingsRejectionsAndFailures) {
  Open();
  CaptureStderr();
  EXPECT_EQ(zk_set_interkey_delay(8), -8);
  EXPECT_EQ(zk_set_sensitivity(4), -8);
  EXPECT_EQ(zk_set_noise_cancel(4), -8);
  EXPECT_EQ(zk_set_builtin_profile_support(2), -8);
  EXPECT_EQ(zk_set_sequence_modifiers(-1), -8);
  EXPECT_EQ(zk_set_sleep_detect(2), -8);
  std::string log = GetCapturedStderr();
  ExpectNoTransfers();
  EXPECT_TRUE(Contains(log, "invalid interkey delay, range[0-7], def 6"));
  EXPECT_TRUE(Contains(log, "invalid noise canceler value, range[0-3]"));
  EXPECT_TRUE(Contains(log, "invalid value, should be 1 or 0"));
  EXPECT_TRUE(Contains(log, "invalid argument"));
  // The sensitivity text appears once only: the noise canceler has its own.
  size_t first = log.find("invalid sensitivity specified, range[0-3], def 3");
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(log.find("invalid sensitivity", first + 1), std::string::npos);

  FailRequest(0xC2, 3, zk::kUsbErrorPipe);
  CaptureStderr();
  EXPECT_EQ(zk_set_sensitivity(1), -16);
  EXPECT_TRUE(Contains(GetCapturedStderr(), "[E] zk_ver2_set_sensitivity("));
  ExpectNoRequest(0xC2, 7);
  FailRequest(0xC2, 2, zk::kUsbErrorPipe);
  EXPECT_EQ(zk_get_noise_cancel(), -16);
}

TEST_F(FwTest, GenerationTablesDifferOnlyInTheirFeatureSwitches) {
  Open(2, 0);
  EXPECT_EQ(zk_get_builtin_profile_support(), -12);
  EXPECT_EQ(zk_get_sequence_modifiers(), -12);
  EXPECT_GE(zk_get_noise_cancel(), 0);
  zk_close_device();
  Open(2, 6);
  EXPECT_EQ(zk_get_builtin_profile_support(), 1);
  EXPECT_EQ(zk_set_sequence_modifiers(1), -12);
}

TEST_F(FwTest, ListsPlainShiftedModifierMediaAndUnknownEntries) {
  Open();
  AddEntry(0xA1, 0x00, 0x04);
  AddEntry(0xB2, 0x02, 0x04);
  AddEntry(0xC3, 0x01, 0x28);
  AddEntry(0xD4, 0xE9, 0x66);
  AddEntry(0xE5, 0x00, 0x99);
  CaptureStdout();
  EXPECT_EQ(zk_display_config(), 0);
  EXPECT_EQ(GetCapturedStdout(),
            "\nRecorded Keys:\nIndex  hash        key\n-----  ---------   ---\n"
            "    0  A1    a\n    1  B2    A\n    2  C3    left_ctrl return\n"
            "    3  D4    vol_up\n    4  E5     !\n");
}

TEST_F(FwTest, ListsAndCountsEmptyAndShortImages) {
  Open();
  CaptureStdout();
  EXPECT_EQ(zk_display_config(), 0);
  EXPECT_EQ(GetCapturedStdout(), "No Keys Found\n");
  EXPECT_EQ(zk_keys_recorded(), 0);
  EXPECT_EQ(zk_keys_remaining(), 169);
  SetEeprom(1, 4);
  CaptureStdout();
  EXPECT_EQ(zk_display_config(), 0);
  EXPECT_EQ(GetCapturedStdout(),
            "\nRecorded Keys:\nIndex  hash        key\n-----  ---------   ---\n");
  SetEeprom(0, 4);  // 1028
  CaptureStderr();
  EXPECT_EQ(zk_keys_recorded(), -1);
  EXPECT_TRUE(Contains(GetCapturedStderr(), "something seems wrong, please format"));
}

TEST_F(FwTest, VersionTextCarriesDateAndHash) {
  SetFirmwareVersion(2, 12, {5, 14, 19});
  ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
  SetScmHash(0x1234ABCD);
  EXPECT_STREQ(zk_version_str(), "2.12 05-14-2019 [0x1234ABCD]");
  EXPECT_EQ(zk_fw_scm_hash(), 0x1234ABCD);
  FailRequest(0xC2, 12, zk::kUsbErrorPipe);
  EXPECT_STREQ(zk_version_str(), "2.12 05-14-2019 [0xFFFFFFF0]");
  FailRequest(0xC2, 1, zk::kUsbErrorPipe);
  CaptureStderr();
  EXPECT_EQ(zk_version_str(), nullptr);
  EXPECT_TRUE(Contains(GetCapturedStderr(), "usb tx result > 0: -9"));
}

TEST_F(FwTest, FormatSwitchAndRestartRequests) {
  Open();
  AddEntry(0xA1, 0, 0x04);
  EXPECT_EQ(zk_format_config(), 0);
  ExpectRequest(0xC0, 3, 0, 0, 1, 10000);
  EXPECT_EQ(Image().size(), 5u);
  EXPECT_EQ(zk_clear_state(), 0);
  ExpectRequest(0xC0, 6, 1, 0, 1);
  // The receiver drops off the bus on the switch: that is the success.
  EXPECT_EQ(zk_device_set_dfu(), 0);
  ExpectRequest(0xC2, 5, 0x5A, 0, 1);
  EXPECT_EQ(zk_reboot(), -16);  // it has left
}

}  // namespace
