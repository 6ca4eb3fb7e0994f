// The key monitor on real hardware's path: libudev finds the input node of
// the receiver in use under the emulated sysfs, and libevdev reads the
// events an evemu script plays on it, as the kernel's HID driver sends them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "emulated_rig.h"
#include "receiver_test.h"
#include "zirko_keys.h"

namespace {

class EvdevKeys : public zk::test::ReceiverTest<zk::test::EmulatedRig> {
 protected:
  void SetUp() override {
    ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
    char problem[256];
    ASSERT_EQ(zk_key_monitor_open(&keys_, problem, sizeof problem), 0) << problem;
  }
  void TearDown() override {
    zk_key_monitor_close(keys_);
    ReceiverTest::TearDown();
  }
  // The keys read until `count` came or a wait of a second found none.
  std::vector<zk_key_event> Read(size_t count) {
    std::vector<zk_key_event> read;
    zk_key_event key{};
    while (read.size() < count && zk_key_monitor_next(keys_, &key, 1000) == 1) read.push_back(key);
    return read;
  }
  // A receiver that came back may refuse its first opens, as on a real bus.
  static int OpenAgain() { return zk_wait_for_device_for(ZK_VENDOR_ID, ZK_MANUFACTURER, 3000); }
  zk_key_monitor *keys_ = nullptr;
};

// Volume up from the media keys, then shift with the A key: the two key
// reports the recorded buttons store, whatever else the node sends.
constexpr const char *kVolumeUpThenShiftA =
    "# volume up, then shift + a\n"
    "E: 100.000000 0004 0004 786665\n"  // MSC_SCAN consumer 0xE9
    "E: 100.000000 0001 0073 1\n"       // KEY_VOLUMEUP down
    "E: 100.000000 0000 0000 0\n"
    "E: 100.010000 0004 0004 786665\n"
    "E: 100.010000 0001 0073 0\n"
    "E: 100.010000 0000 0000 0\n"
    "E: 101.000000 0004 0004 458977\n"  // MSC_SCAN keyboard 0xE1
    "E: 101.000000 0001 002a 1\n"       // KEY_LEFTSHIFT down
    "E: 101.000000 0004 0004 458756\n"  // MSC_SCAN keyboard 0x04
    "E: 101.000000 0001 001e 1\n"       // KEY_A down
    "E: 101.000000 0000 0000 0\n"
    "E: 101.050000 0001 001e 2\n"  // a repeat
    "E: 101.100000 0001 001e 0\n"
    "E: 101.100000 0001 002a 0\n"
    "E: 101.100000 0000 0000 0\n";

TEST_F(EvdevKeys, ReadsTheReceiversKeysFromItsInputNode) {
  EXPECT_EQ(std::string(zk_key_monitor_source(keys_)), bus().input_node());
  ASSERT_TRUE(bus().play_events(kVolumeUpThenShiftA));
  const auto keys = Read(3);
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[0].usage, 0x66);
  EXPECT_EQ(keys[0].modifier, 0xE9);
  EXPECT_EQ(keys[1].usage, 0x04);
  EXPECT_EQ(keys[1].modifier, 0x02);
  // Read, never grabbed: the desktop keeps getting the keys.
  const auto requests = bus().input_requests();
  EXPECT_NE(std::find(requests.begin(), requests.end(), "EVIOCGNAME"), requests.end());
  EXPECT_EQ(std::find(requests.begin(), requests.end(), "EVIOCGRAB"), requests.end());
}

TEST_F(EvdevKeys, AnUnpluggedReceiverEndsTheReadingAndComesBackWithANewNode) {
  const std::string first = bus().input_node();
  Unplug();
  bus().sync();
  zk_key_event key{};
  EXPECT_EQ(zk_key_monitor_next(keys_, &key, 2000), ZK_ERR_NOT_USABLE);
  zk_key_monitor_close(keys_);
  keys_ = nullptr;
  zk_close_device();
  Plug();
  bus().sync();
  ASSERT_EQ(OpenAgain(), ZK_STATE_FIRMWARE);
  ASSERT_EQ(zk_key_monitor_open(&keys_, nullptr, 0), 0);
  EXPECT_NE(bus().input_node(), first);
  ASSERT_TRUE(bus().play_events("E: 1.0 0001 0073 1\nE: 1.0 0000 0000 0\n"));
  const auto keys = Read(1);  // no MSC_SCAN: the key code alone tells it
  ASSERT_EQ(keys.size(), 1u);
  EXPECT_EQ(keys[0].usage, 0x66);
  EXPECT_EQ(keys[0].modifier, 0xE9);
}

// A node that cannot be opened is named with the reason, and one closed to
// this user is told apart, so that the programs can say how to fix it.
TEST_F(EvdevKeys, ANodeThatCannotBeOpenedIsNamedWithTheReason) {
  zk_key_monitor_close(keys_);
  keys_ = nullptr;
  const std::string node = bus().input_node();
  const std::string file = std::string(getenv("UMOCKDEV_DIR")) + node;
  struct stat st {};
  ASSERT_EQ(stat(file.c_str(), &st), 0) << file;
  char problem[256];
  if (geteuid() != 0) {  // root may read any node
    ASSERT_EQ(chmod(file.c_str(), 0), 0);
    EXPECT_EQ(zk_key_monitor_open(&keys_, problem, sizeof problem), ZK_ERR_ACCESS);
    EXPECT_EQ(std::string(problem), node + ": Permission denied");
  }
  ASSERT_EQ(rename(file.c_str(), (file + ".away").c_str()), 0);
  EXPECT_EQ(zk_key_monitor_open(&keys_, problem, sizeof problem), ZK_ERR_FILE_READ);
  EXPECT_EQ(std::string(problem), node + ": No such file or directory");
  ASSERT_EQ(rename((file + ".away").c_str(), file.c_str()), 0);
}

TEST_F(EvdevKeys, ABootloaderHasNoInputNode) {
  zk_key_monitor_close(keys_);
  keys_ = nullptr;
  zk_close_device();
  SetBootloaderMode(true);
  bus().sync();
  ASSERT_EQ(OpenAgain(), ZK_STATE_BOOTLOADER);
  char problem[256];
  EXPECT_EQ(zk_key_monitor_open(&keys_, problem, sizeof problem), ZK_ERR_NOT_FOUND);
  EXPECT_NE(std::string(problem).find("runs its bootloader"), std::string::npos) << problem;
  EXPECT_FALSE(bus().play_events("E: 1.0 0001 0073 1\n"));
}

}  // namespace
