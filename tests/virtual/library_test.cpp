// The device library end to end over the virtual receiver, through the
// shared fixture and through ZIRKO_VIRTUAL.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <future>

#include "state_file.h"
#include "virtual_receiver_fixture.h"

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
  std::system(("rm -rf " + std::string(pattern)).c_str());
}

}  // namespace
