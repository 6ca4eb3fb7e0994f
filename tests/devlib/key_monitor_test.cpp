// The key monitor on the virtual receiver: the reports its recorded buttons
// send, from the moment the monitor opens, and the receiver leaving.
#include <gtest/gtest.h>

#include <string>

#include "receiver_test.h"
#include "zirko_keys.h"

namespace {

class VirtualKeys : public zk::test::VirtualReceiverTest {
 protected:
  void TearDown() override {
    zk_key_monitor_close(keys_);
    VirtualReceiverTest::TearDown();
  }
  int Open() {
    problem_[0] = '\0';
    return zk_key_monitor_open(&keys_, problem_, sizeof problem_);
  }
  zk_key_monitor *keys_ = nullptr;
  char problem_[256];
};

TEST_F(VirtualKeys, ReportsTheKeysOfRecordedButtonsPressedAfterItOpened) {
  AddEntry(0xCAFE0001, 0xE9, 0x66);
  AddEntry(0xCAFE0002, 0x01, 0x28);
  ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
  Press(0xCAFE0002);  // before the monitor: not seen
  ASSERT_EQ(Open(), 0) << problem_;
  EXPECT_EQ(std::string(zk_key_monitor_source(keys_)), "the virtual receiver");
  zk_key_event key{};
  EXPECT_EQ(zk_key_monitor_next(keys_, &key, 0), 0);
  Press(0xCAFE0001);
  Press(0x12345678);  // not recorded: types nothing
  Press(0xCAFE0002);
  ASSERT_EQ(zk_key_monitor_next(keys_, &key, 100), 1);
  EXPECT_EQ(key.usage, 0x66);
  EXPECT_EQ(key.modifier, 0xE9);
  EXPECT_EQ(key.code, -1);
  ASSERT_EQ(zk_key_monitor_next(keys_, &key, 100), 1);
  EXPECT_EQ(key.usage, 0x28);
  EXPECT_EQ(key.modifier, 0x01);
  EXPECT_EQ(zk_key_monitor_next(keys_, &key, 50), 0);
  // Keys typed just before the receiver left still come first.
  Press(0xCAFE0001);
  Unplug();
  EXPECT_EQ(zk_key_monitor_next(keys_, &key, 100), 1);
  EXPECT_EQ(zk_key_monitor_next(keys_, &key, 100), ZK_ERR_NOT_USABLE);
}

// Each refusal says why, and nothing is left to close.
TEST_F(VirtualKeys, RefusesWithoutAReceiverInItsFirmware) {
  EXPECT_EQ(Open(), ZK_ERR_NOT_USABLE);
  EXPECT_EQ(std::string(problem_), "no receiver open");
  EXPECT_EQ(keys_, nullptr);
  SetBootloaderMode(true);
  ASSERT_EQ(OpenReceiver(), ZK_STATE_BOOTLOADER);
  EXPECT_EQ(Open(), ZK_ERR_NOT_FOUND);
  EXPECT_EQ(std::string(problem_), "the receiver runs its bootloader, which sends no keys");
  EXPECT_EQ(keys_, nullptr);
  zk_key_event key{};
  EXPECT_EQ(zk_key_monitor_next(nullptr, &key, 0), ZK_ERR_INVALID);
}

}  // namespace
