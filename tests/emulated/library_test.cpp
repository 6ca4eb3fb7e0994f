// The device library on its libusb backend: real libusb-1.0 enumerates,
// opens, claims and transfers through usbfs requests that the emulated
// kernel interface serves from the virtual receiver.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <thread>

#include "captured_output.h"
#include "emulated_rig.h"
#include "image.h"
#include "receiver_test.h"

namespace {

using namespace std::chrono_literals;
using zk::virt::ForeignDevice;
using zk::virt::ReceiverState;
class EmulatedReceiverTest : public zk::test::ReceiverTest<zk::test::EmulatedRig> {};

bool Contains(const std::vector<std::string> &events, const std::string &event) {
  return std::find(events.begin(), events.end(), event) != events.end();
}

class Scan : public EmulatedReceiverTest {
 protected:
  static zk_device *list() { return zk_get_device_list(); }
  static zk_device *first() { return list()->next; }
  static int scan(const char *manufacturer) {
    return zk_open_devices(list(), ZK_VENDOR_ID, manufacturer);
  }
};

TEST_F(Scan, KeepsOnlyReceiversOfTheAskedRowInEnumerationOrder) {
  ReceiverState second = DefaultState();
  second.firmware_product_id = 0x0001;
  bus().add_foreign({.vendor_id = 0x1234});
  bus().add_foreign({.vendor_id = ZK_VENDOR_ID, .product_id = 0x0004});  // other maker
  bus().add_foreign({.vendor_id = ZK_VENDOR_ID, .product_id = 0x0004, .string_error = -9});
  bus().add_receiver(second);
  ReceiverState legacy = DefaultState();
  legacy.legacy_manufacturer = true;
  legacy.firmware_product_id = 0x0002;
  bus().add_receiver(legacy);

  zk::test::CapturedOutput scan_log(stderr);
  ASSERT_EQ(scan(ZK_MANUFACTURER), 2);
  const std::string err = scan_log.text();
  EXPECT_NE(err.find("manufacturer string doesn't match"), std::string::npos) << err;
  EXPECT_NE(err.find("Cannot query device, is the GUI open?"), std::string::npos) << err;
  // The order is libusb's own; the indexes follow it.
  EXPECT_EQ(first()->index, 1);
  EXPECT_EQ(first()->next->index, 2);
  EXPECT_EQ(first()->product_id + first()->next->product_id, 0x0004 + 0x0001);
  EXPECT_EQ(first()->iface, 1);
  EXPECT_EQ(first()->next->iface, 1);
  EXPECT_EQ(first()->next->next, list());
  // The legacy receiver is claimed on interface 0 only when its row is asked.
  EXPECT_FALSE(Contains(bus().events(), "claim 0 = 0"));
  TearDown();

  zk::test::CapturedOutput legacy_scan(stderr);
  ASSERT_EQ(scan(ZK_MANUFACTURER_LEGACY), 1);
  legacy_scan.text();
  EXPECT_EQ(first()->product_id, 0x0002);
  EXPECT_EQ(first()->iface, 0);
  EXPECT_EQ(first()->bootloader, 0);
  EXPECT_TRUE(Contains(bus().events(), "claim 0 = 0"));
}

class Open : public EmulatedReceiverTest, public testing::WithParamInterface<int> {};

TEST_P(Open, GenerationFollowsTheVersionAndCloseGoesThroughLibusbReset) {
  static constexpr int kMinor[] = {0, 4, 6, 8};
  SetFirmwareVersion(GetParam(), kMinor[GetParam()]);
  ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
  EXPECT_EQ(zk_major_version(), GetParam());
  EXPECT_EQ(zk_minor_version(), kMinor[GetParam()]);
  ASSERT_FALSE(Requests(0xC2, 1).empty());
  EXPECT_EQ(Requests(0xC2, 1)[0].length, 8);
  // The get_state slot is filled from generation 2 on: it polls, gen 1 does not.
  const size_t polls = Requests(0xC0, 5).size();
  zk_get_state();
  EXPECT_EQ(Requests(0xC0, 5).size(), polls + (GetParam() == 1 ? 0 : 1));

  bus().clear_transcript();
  zk_close_device();
  // libusb gives the interface up around the reset and takes it back.
  EXPECT_EQ(bus().events(),
            (std::vector<std::string>{"clear_halt 0x83 = 0", "release 1 = 0", "reset = 0",
                                      "disconnect_claim 1 = 0", "release 1 = 0"}));
  // Closed descriptors are forgotten, with their claims.
  for (int i = 0; i < 200 && bus().open_clients() > 0; ++i) std::this_thread::sleep_for(5ms);
  EXPECT_EQ(bus().open_clients(), 0);
}

INSTANTIATE_TEST_SUITE_P(Generations, Open, testing::Values(1, 2, 3));

class Operations : public EmulatedReceiverTest, public testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    static constexpr int kMinor[] = {0, 4, 6, 8};
    SetFirmwareVersion(GetParam(), kMinor[GetParam()]);
    ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
  }
  // Both wait for the outcome: generation 1 on the interrupt endpoint.
  int Record(const char *key, uint32_t hash) {
    receiver().queue_press(hash);
    return zk_set_record(key, 5);
  }
  int Delete(uint32_t hash) {
    receiver().queue_press(hash);
    return zk_set_delete(1);
  }
};

TEST_P(Operations, RecordAndDeleteReachTheReceiver) {
  ASSERT_EQ(Record("a", 0xCAFE0001), 0);
  ASSERT_FALSE(Requests(0xC0, 1).empty());
  EXPECT_EQ(Requests(0xC0, 1)[0].value, 0x04);
  if (GetParam() == 1) {
    ASSERT_EQ(InterruptReads().size(), 1u);
    EXPECT_EQ(InterruptReads()[0].endpoint, 0x83);
    EXPECT_EQ(InterruptReads()[0].data, std::vector<uint8_t>{0});
  } else {
    EXPECT_TRUE(InterruptReads().empty());
    EXPECT_FALSE(Requests(0xC0, 5).empty());
  }
  EXPECT_EQ(Record("b", 0xCAFE0001), -5);  // the same button again
  EXPECT_EQ(zk_keys_recorded(), 1);
  EXPECT_EQ(Delete(0xCAFE0001), 0);
  EXPECT_EQ(zk_keys_recorded(), 0);
  EXPECT_EQ(Delete(0xCAFE0001), -6);
}

TEST_P(Operations, SettingsAndConfigurationSurviveSaveFormatAndLoad) {
  ASSERT_EQ(zk_set_interkey_delay(4), 0);
  EXPECT_EQ(zk_get_interkey_delay(), 4);
  ASSERT_EQ(Record("a", 0xCAFE0001), 0);
  ASSERT_EQ(Record("F5", 0xCAFE0002), 0);
  const std::vector<uint8_t> before = Image();
  const std::string path = testing::TempDir() + "emulated_" + std::to_string(getpid()) + ".zcfg";
  zk::test::CapturedOutput out(stdout);  // progress bars
  const int saved = zk_save_config(path.c_str());
  const int formatted = zk_format_config();
  const int left = zk_keys_recorded();
  const int loaded = zk_load_config(path.c_str());
  out.text();
  ASSERT_EQ(saved, 0);
  ASSERT_EQ(formatted, 0);
  EXPECT_EQ(left, 0);
  ASSERT_EQ(loaded, 0);
  EXPECT_EQ(zk_keys_recorded(), 2);
  EXPECT_EQ(Image(), before);
  std::filesystem::remove(path);
}

INSTANTIATE_TEST_SUITE_P(Generations, Operations, testing::Values(1, 2, 3));

class Reenumeration : public EmulatedReceiverTest {
 protected:
  int Upgrade(const std::vector<uint8_t> &image) {
    zk::test::CapturedOutput out(stdout);
    const int result = zk_upgrade_fw_ext(image.data(), static_cast<int>(image.size()), ZK_VENDOR_ID,
                                         ZK_MANUFACTURER, nullptr, nullptr);
    out_ = out.text();
    return result;
  }
  static std::vector<uint8_t> Image39() {
    return zk::virt::make_image({.version = {3, 9, {1, 2, 26}}, .scm_hash = 0x39393939}, 12288);
  }
  std::string out_;
};

TEST_F(Reenumeration, UpgradeGoesThroughTheBootloaderUnderNewDeviceNumbers) {
  const std::string before = bus().device_node();
  ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
  ASSERT_EQ(Upgrade(Image39()), 0);
  EXPECT_NE(out_.find("[DEVICE]        EOK"), std::string::npos);
  EXPECT_GE(Requests(0x42, 9).size(), 96u);  // every page of the image
  EXPECT_EQ(zk_fw_state(), ZK_STATE_FIRMWARE);
  EXPECT_FLOAT_EQ(zk_version(), 3.9f);
  EXPECT_EQ(zk_fw_scm_hash(), 0x39393939);
  // Into the bootloader and back: two new device numbers.
  const std::string after = bus().device_node();
  EXPECT_NE(after, before);
  EXPECT_GE(std::stoi(after.substr(after.size() - 3)),
            std::stoi(before.substr(before.size() - 3)) + 2);
}

TEST_F(Reenumeration, ReceiverPulledOutMidUploadComesBackAndTheNextUpgradeCompletes) {
  receiver().edit([](ReceiverState &s) { s.bootloader_faults.unplug_at_page = 40; });
  ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
  EXPECT_EQ(Upgrade(Image39()), -1);
  zk_close_device();
  ASSERT_EQ(zk_wait_for_device(ZK_VENDOR_ID, ZK_MANUFACTURER_LEGACY), ZK_STATE_BOOTLOADER);
  EXPECT_EQ(zk_last_upgrade_attempt(), 1);
  zk_close_device();
  ASSERT_EQ(Upgrade(Image39()), 0);
  EXPECT_FLOAT_EQ(zk_version(), 3.9f);
}

TEST_F(Reenumeration, UnplugEndsTheInterruptWaitAndThePlugComesBackAsANewDevice) {
  SetFirmwareVersion(1, 4);
  ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
  ASSERT_EQ(zk_set_record_api(0, 0x04, 0), 0);
  auto worker = std::async(std::launch::async, [] { return zk_set_interrupt(0); });
  ASSERT_EQ(worker.wait_for(100ms), std::future_status::timeout);
  EXPECT_EQ(zk_major_version(), 1);  // control transfers go on meanwhile
  const std::string before = bus().device_node();
  receiver().unplug();
  ASSERT_EQ(worker.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(worker.get(), -7);
  bus().sync();
  EXPECT_EQ(bus().device_node(), "");
  EXPECT_EQ(zk_major_version(), -16);  // the handle lost its device
  zk_close_device();
  EXPECT_EQ(OpenReceiver(), -6);

  receiver().plug();
  bus().sync();
  EXPECT_NE(bus().device_node(), before);
  EXPECT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
  EXPECT_EQ(zk_major_version(), 1);
}

}  // namespace
