// Generations 2 and 3 against the virtual receiver: outcomes of recording and
// deleting, the wait's time-out rules, settings, listing, version text.
#include <gtest/gtest.h>

#include "captured_output.h"
#include "fake_clock.h"
#include "fw_common.h"
#include "receiver_test.h"
#include "text_assert.h"

using zk::test::CapturedOutput;
using zk::test::Contains;

namespace {

class FwTest : public zk::test::VirtualReceiverTest {
 protected:
  void SetUp() override {
    VirtualReceiverTest::SetUp();
    ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
    ClearTranscript();
  }
  zk::test::FakeClock clock_;
};

TEST_F(FwTest, RecordingAndDeletingOutcomes) {
  AddEntry(0xA1, 0, 0x04);
  CapturedOutput err(stderr);
  QueuePress(0xA1);
  EXPECT_EQ(zk_set_record("b", 5), -5);
  QueuePress(0xEE);
  EXPECT_EQ(zk_set_delete(1), -6);
  EXPECT_EQ(zk_set_record("nokey", 5), -8);
  EXPECT_EQ(zk_delete_buttons("nokey"), -8);
  EXPECT_EQ(zk_clear_state(), 0);
  EXPECT_EQ(zk_set_interrupt(5), 0);  // state code 0 is no known outcome
  const std::string log = err.text();
  EXPECT_TRUE(Contains(log, "Error: button already exists"));
  EXPECT_TRUE(Contains(log, "Error: key not found"));
  EXPECT_TRUE(Contains(log, "[E] zk_ver2_set_record("));
  EXPECT_TRUE(Contains(log, "Unknown error, contact support: 0"));
  EXPECT_EQ(Requests(0xC0, 1).size(), 1u);  // nothing sent for unknown names
  ExpectNoRequest(0xC0, 4);
  ExpectRequest(0xC0, 2, 1, 0, 1);
  ExpectRequest(0xC0, 6, 1, 0, 1);

  EXPECT_EQ(zk_set_record("c", 0), 0);  // no wait: left in record mode
  EXPECT_EQ(zk_get_state(), 1);
}

TEST_F(FwTest, FullImageRefusesTheNextButton) {
  for (int i = 0; i < 169; ++i) AddEntry(0x100 + i, 0, 0x04);
  EXPECT_EQ(zk_keys_recorded(), 169);
  EXPECT_EQ(zk_keys_remaining(), 0);
  QueuePress(0xFFFF);
  CapturedOutput err(stderr);
  EXPECT_EQ(zk_set_record_api(0, 0x1D, 5), -4);
  EXPECT_TRUE(Contains(err.text(), "Error: no space left on device"));
}

struct WaitCase {
  int timeout_s, waited_s;
};
class WaitTimeoutTest : public FwTest, public testing::WithParamInterface<WaitCase> {};

TEST_P(WaitTimeoutTest, TimesOutAndSendsTheReceiverBackToNormal) {
  ASSERT_EQ(zk_set_record("a", 0), 0);
  CapturedOutput err(stderr);
  const int64_t start_ms = zk::test::FakeClock::now_ms();
  EXPECT_EQ(zk_set_interrupt(GetParam().timeout_s), -17);
  EXPECT_TRUE(Contains(err.text(), "timeout"));
  EXPECT_EQ(zk::test::FakeClock::now_ms() - start_ms, GetParam().waited_s * int64_t(1000));
  EXPECT_EQ(Requests(0xC0, 5).size(), size_t(GetParam().waited_s * 10));  // every 100 ms
  ExpectRequest(0xC0, 0, 0, 0, 1);
  EXPECT_FALSE(receiver().waiting_for_button());
}

INSTANTIATE_TEST_SUITE_P(Rules, WaitTimeoutTest,
                         testing::Values(WaitCase{0, 100}, WaitCase{150, 100}, WaitCase{5, 5},
                                         WaitCase{-1, 0}));

TEST_F(FwTest, SettersChangeOnlyTheirFieldAndApply) {
  SetEeprom(2, 0x80);  // the upgrade flag must survive
  SetEeprom(3, 0x0F);
  EXPECT_EQ(zk_set_interkey_delay(5), 0);
  EXPECT_EQ(zk_set_sensitivity(2), 0);
  EXPECT_EQ(Eeprom(2), 0xA5);
  EXPECT_EQ(zk_get_interkey_delay() * 10 + zk_get_sensitivity(), 52);
  EXPECT_EQ(zk_set_noise_cancel(3), 0);
  EXPECT_EQ(Eeprom(3), 0x4F);
  EXPECT_EQ(zk_get_noise_cancel(), 1);
  EXPECT_EQ(zk_set_noise_cancel(2), 0);
  // The feature switches are stored as "off" bits.
  EXPECT_EQ(zk_set_builtin_profile_support(0), 0);
  EXPECT_EQ(zk_set_sequence_modifiers(0), 0);
  EXPECT_EQ(Eeprom(3), 0x3F);
  EXPECT_EQ(zk_get_builtin_profile_support() + zk_get_sequence_modifiers(), 0);
  EXPECT_EQ(zk_set_builtin_profile_support(1), 0);
  EXPECT_EQ(zk_get_builtin_profile_support(), 1);
  EXPECT_EQ(Requests(0xC2, 7).size(), 7u);
  EXPECT_EQ(receiver().active_settings(), std::make_pair(uint8_t{0xA5}, uint8_t{0x1F}));

  // Sleep detect has its own apply request, carrying the value.
  ClearTranscript();
  EXPECT_EQ(zk_set_sleep_detect(1), 0);
  ExpectRequest(0xC2, 3, 3, 0x9F, 1);
  ExpectRequest(0xC0, 7, 1, 0, 1);
  ExpectNoRequest(0xC2, 7);
  EXPECT_EQ(zk_get_sleep_detect(), 1);
  EXPECT_EQ(zk_set_sleep_detect(0), 0);
  EXPECT_EQ(Eeprom(3), 0x1F);
}

TEST_F(FwTest, SettingsRejectionsAndFailures) {
  CapturedOutput rejections(stderr);
  for (auto setter :
       {zk_set_interkey_delay, zk_set_sensitivity, zk_set_noise_cancel,
        zk_set_builtin_profile_support, zk_set_sequence_modifiers, zk_set_sleep_detect}) {
    EXPECT_EQ(setter(8), -8);
  }
  EXPECT_EQ(zk_set_interkey_delay(-1), -8);
  std::string log = rejections.text();
  ExpectNoTransfers();
  EXPECT_TRUE(Contains(log, "invalid interkey delay, range[0-7], def 6"));
  EXPECT_TRUE(Contains(log, "invalid noise canceler value, range[0-3]"));
  EXPECT_TRUE(Contains(log, "invalid value, should be 1 or 0"));
  EXPECT_TRUE(Contains(log, "invalid argument"));
  EXPECT_EQ(log.find("invalid sensitivity specified, range[0-3], def 3"),
            log.rfind("invalid sensitivity"));  // not reused for the noise canceler

  FailRequest(0xC2, 3, zk::kUsbErrorPipe);
  CapturedOutput failure(stderr);
  EXPECT_EQ(zk_set_sensitivity(1), -16);
  log = failure.text();
  EXPECT_TRUE(Contains(log, "[E] zk_ver2_set_sensitivity("));
  EXPECT_TRUE(Contains(log, "failed to update settings"));
  ExpectNoRequest(0xC2, 7);
  FailRequest(0xC2, 2, zk::kUsbErrorPipe);
  EXPECT_EQ(zk_get_noise_cancel(), -16);
}

TEST_F(FwTest, ListsUnknownEntriesAndShortImages) {
  AddEntry(0xE5, 0x00, 0x99);
  CapturedOutput one(stdout);
  EXPECT_EQ(zk_display_config(), 0);
  const std::string heading = "\nRecorded Keys:\nIndex  hash        key\n-----  ---------   ---\n";
  EXPECT_EQ(one.text(), heading + "    0  E5     !\n");
  SetEeprom(1, 5);
  CapturedOutput none(stdout);
  EXPECT_EQ(zk_display_config(), 0);
  EXPECT_EQ(none.text(), "No Keys Found\n");
  EXPECT_EQ(zk_keys_remaining(), 169);
  SetEeprom(1, 4);
  CapturedOutput header_only(stdout);
  EXPECT_EQ(zk_display_config(), 0);
  EXPECT_EQ(header_only.text(), heading);
  SetEeprom(0, 4);  // 1028
  CapturedOutput err(stderr);
  EXPECT_EQ(zk_keys_recorded(), -1);
  EXPECT_TRUE(Contains(err.text(), "something seems wrong, please format"));
}

TEST_F(FwTest, VersionTextFormatSwitchAndRestart) {
  zk_close_device();
  SetFirmwareVersion(2, 12, {5, 14, 19});
  ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
  SetScmHash(0x1234ABCD);
  EXPECT_STREQ(zk_version_str(), "2.12 05-14-2019 [0x1234ABCD]");
  EXPECT_EQ(zk_get_builtin_profile_support(), -12);  // 2.x beyond 2.6 gets the 2.0 table
  FailRequest(0xC2, 12, zk::kUsbErrorPipe);
  EXPECT_STREQ(zk_version_str(), "2.12 05-14-2019 [0xFFFFFFF0]");

  EXPECT_EQ(zk_format_config(), 0);
  ExpectRequest(0xC0, 3, 0, 0, 1, 10000);
  // The receiver drops off the bus on the switch: that is the success.
  EXPECT_EQ(zk_device_set_dfu(), 0);
  ExpectRequest(0xC2, 5, 0x5A, 0, 1);
  EXPECT_EQ(zk_reboot(), -16);
  CapturedOutput err(stderr);
  EXPECT_EQ(zk_version_str(), nullptr);
  EXPECT_TRUE(Contains(err.text(), "usb tx result > 0: -4"));
}

}  // namespace
