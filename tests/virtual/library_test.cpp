// The device library end to end over the virtual receiver, through the
// shared fixture and through ZIRKO_VIRTUAL.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>

#include "captured_output.h"
#include "fake_clock.h"
#include "image.h"
#include "receiver_test.h"
#include "state_file.h"

namespace {

using namespace std::chrono_literals;

class LibraryOverVirtual : public zk::test::VirtualReceiverTest {};

TEST_F(LibraryOverVirtual, RecordedButtonTypesTheNamedKey) {
  ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
  ExpectRequest(0xC2, 1, 0, 0, 8, 5000);
  QueuePress(0xC0FFEE01);
  EXPECT_EQ(zk_set_record("a", 5), 0);
  ExpectRequest(0xC0, 1, 0x04, 0, 0);
  ExpectRequest(0xC0, 5, 1, 0, 1);
  EXPECT_EQ(zk_keys_recorded(), 1);
  Press(0xC0FFEE01);
  EXPECT_EQ(KeyReports(), (std::vector<zk::virt::KeyReport>{{0xC0FFEE01, 0x04, 0}}));
  // The same button again is refused.
  QueuePress(0xC0FFEE01);
  EXPECT_EQ(zk_set_record("b", 5), -5);
}

TEST_F(LibraryOverVirtual, Generation1StopWhileTheWorkerWaits) {
  SetGeneration(1);
  ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
  ASSERT_EQ(zk_set_record_api(0, 0x04, 0), 0);
  auto worker = std::async(std::launch::async, [] { return zk_set_interrupt(0); });
  ASSERT_EQ(worker.wait_for(50ms), std::future_status::timeout);
  EXPECT_EQ(zk_set_normal(), 0);  // served while the read blocks
  ASSERT_EQ(worker.wait_for(50ms), std::future_status::timeout);
  Unplug();  // only leaving the bus ends the read
  EXPECT_EQ(worker.get(), -7);
}

TEST_F(LibraryOverVirtual, BootloaderSwitchAndBalancedReferences) {
  ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
  EXPECT_EQ(zk_device_set_dfu(), 0);
  ExpectRequest(0xC2, 5, 0x5A, 0, 1);
  zk_close_device();
  ASSERT_EQ(zk_open_device(ZK_VENDOR_ID, ZK_MANUFACTURER_LEGACY), ZK_STATE_BOOTLOADER);
  EXPECT_EQ(zk_major_version(), 2);
  ExpectRequest(0xC2, 4, 0, 0, 8);
  unsigned char reply[1];
  EXPECT_EQ(zk_send_msg(0xC2, 6 /* restart */, 0, 0, reply, 1, 5000), 1);
  zk_close_device();
  EXPECT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
  zk_close_device();
  EXPECT_EQ(bus().init_refs(), 0);
  EXPECT_EQ(bus().device_refs(), 0);
  EXPECT_EQ(bus().open_handles(), 0);
}

// The library against a receiver that takes its time, on a fake clock.
class LibraryMeetsHardwareTime : public zk::test::VirtualReceiverTest {
 protected:
  void Timing(int leave_ms, int eeprom_write_ms, int format_ms) {
    receiver().edit([&](zk::virt::ReceiverState &s) {
      s.leave_delay_ms = leave_ms;
      s.reenumerate_delay_ms = 100;
      s.eeprom_write_ms = eeprom_write_ms;
      s.format_ms = format_ms;
    });
  }
  // Upgrades from firmware 3.8 to 3.9 through the bootloader generation given.
  int Upgrade(int bootloader_generation) {
    SetBootloaderVersion(bootloader_generation, 1);
    const auto image = zk::virt::make_image({{3, 9, {6, 1, 24}}, 0, 0x12345678}, 4096);
    if (OpenReceiver() != ZK_STATE_FIRMWARE) return -1000;
    zk::test::CapturedOutput out(stdout);
    const int result = zk_upgrade_fw_ext(image.data(), int(image.size()), ZK_VENDOR_ID,
                                         ZK_MANUFACTURER, nullptr, nullptr);
    out.text();
    return result;
  }

  zk::test::FakeClock clock_;
};

class LateLeavingReceiver : public LibraryMeetsHardwareTime,
                            public testing::WithParamInterface<int> {};

// A receiver stays on the bus a while after each mode switch, as real ones
// do; generation 1 leaves its upgrade flag set, which only generation 2
// hosts clear.
TEST_P(LateLeavingReceiver, UpgradeFollowsItThroughBothSwitches) {
  Timing(300, 4, 0);
  ASSERT_EQ(Upgrade(GetParam()), 0);
  EXPECT_FLOAT_EQ(zk_version(), 3.9f);
  EXPECT_EQ(zk_eeprom_peek(2), GetParam() == 1 ? 0xB6 : 0x36);
}

// One that takes its time to leave: the library waits for it to go instead
// of taking the receiver it still sees for the one that came back.
TEST_P(LateLeavingReceiver, UpgradeWaitsForAReceiverSlowerThanThePause) {
  Timing(800, 0, 0);
  ASSERT_EQ(Upgrade(GetParam()), 0);
  EXPECT_FLOAT_EQ(zk_version(), 3.9f);
}

INSTANTIATE_TEST_SUITE_P(BootloaderGenerations, LateLeavingReceiver, testing::Values(1, 2));

TEST_F(LibraryMeetsHardwareTime, BusyAndUnknownStateCodes) {
  Timing(0, 5, 0);
  ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
  QueuePress(0xC0DE);
  EXPECT_EQ(zk_set_record("a", 5), 0);
  std::vector<int> codes;
  for (const auto &t : Requests(0xC0, 5)) codes.push_back(t.data.at(0));
  EXPECT_EQ(codes.back(), 3);
  EXPECT_NE(std::find(codes.begin(), codes.end(), 2), codes.end()) << "no busy state seen";

  const struct {
    int code;
    int result;
    const char *log;
  } cases[] = {{2, -17, "timeout"}, {9, 9, "Unknown error, contact support: 9"}};
  for (const auto &c : cases) {
    receiver().edit([&](zk::virt::ReceiverState &s) { s.report_state_code = c.code; });
    QueuePress(0xC0DE + c.code);
    zk::test::CapturedOutput err(stderr);
    EXPECT_EQ(zk_set_record("b", 5), c.result) << c.code;
    EXPECT_NE(err.text().find(c.log), std::string::npos) << c.code;
  }
}

TEST_F(LibraryMeetsHardwareTime, FormatOutlastingItsTimeoutFailsButGoesOn) {
  Timing(0, 0, 12000);
  AddEntry(0xAB, 0, 0x04);
  ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
  const int64_t start = clock_.now_ms();
  EXPECT_EQ(zk_format_config(), -16);
  EXPECT_EQ(clock_.now_ms() - start, 10000);
  // The receiver answers again once it is done.
  EXPECT_EQ(zk_keys_recorded(), 0);
  EXPECT_EQ(clock_.now_ms() - start, 12000);
}

TEST(StateFileOverLibrary, ChangesPersistThroughTheEnvironment) {
  char pattern[] = "/tmp/zk_env_XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string path = std::string(pattern) + "/r.state";
  setenv("ZIRKO_VIRTUAL", path.c_str(), 1);
  ASSERT_EQ(zk_open_device(ZK_VENDOR_ID, ZK_MANUFACTURER), ZK_STATE_FIRMWARE);
  EXPECT_EQ(zk_get_interkey_delay(), 6);
  EXPECT_EQ(zk_set_interkey_delay(2), 0);
  zk_close_device();
  unsetenv("ZIRKO_VIRTUAL");
  auto state = zk::virt::parse_state(zk::virt::read_text_file(path).value_or(""), nullptr);
  ASSERT_TRUE(state);
  EXPECT_EQ(state->eeprom[2] & 0x0F, 2);
  std::error_code error;
  std::filesystem::remove_all(pattern, error);
}

}  // namespace
