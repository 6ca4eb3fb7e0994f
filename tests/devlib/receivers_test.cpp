// Several receivers: the listing, the choice every open follows, and what
// the library holds on to while it goes through them.
#include <gtest/gtest.h>

#include "quiet_receiver.h"
#include "receiver_test.h"

namespace {

// Three receivers: firmware 3.8 with two buttons, firmware 2.6 (Corvane) and
// one in its bootloader.
class Receivers : public zk::test::VirtualReceiverTest {
 protected:
  void SetUp() override {
    AddEntry(0xAAAA0001, 0, 0x04);
    AddEntry(0xBBBB0002, 0, 0x3E);
    zk::virt::ReceiverState second = zk::test::QuietReceiverState();
    second.firmware = {2, 6, {1, 2, 24}};
    second.eeprom[3] = (second.eeprom[3] & ~0x06) | 0x04;
    bus().add_receiver(second);
    zk::virt::ReceiverState third = zk::test::QuietReceiverState();
    third.mode = zk::virt::Mode::kBootloader;
    bus().add_receiver(third);
  }
  void TearDown() override {
    zk_choose_device(nullptr);
    VirtualReceiverTest::TearDown();
  }
};

TEST_F(Receivers, ListingReadsEveryReceiverAndKeepsTheOneInUse) {
  ASSERT_EQ(zk_open_device_at(ZK_VENDOR_ID, ZK_MANUFACTURER, "1-2"), ZK_STATE_FIRMWARE);
  zk_receiver found[3];
  ASSERT_EQ(zk_list_receivers(ZK_VENDOR_ID, found, 3, 1), 3);
  const struct {
    const char *position;
    int state, major, minor, product, recorded, remaining;
  } expected[] = {
      {"1-1", ZK_STATE_FIRMWARE, 3, 8, ZK_PRODUCT_ZIRKO, 2, 167},
      {"1-2", ZK_STATE_FIRMWARE, 2, 6, ZK_PRODUCT_CORVANE, 0, 169},
      // The bootloader reads the EEPROM too.
      {"1-3", ZK_STATE_BOOTLOADER, 2, 1, ZK_PRODUCT_ZIRKO, 0, 169},
  };
  for (int i = 0; i < 3; ++i) {
    const auto &e = expected[i];
    SCOPED_TRACE(e.position);
    EXPECT_STREQ(found[i].position, e.position);
    EXPECT_EQ(found[i].state, e.state);
    EXPECT_EQ(found[i].major, e.major);
    EXPECT_EQ(found[i].minor, e.minor);
    EXPECT_EQ(found[i].product, e.product);
    EXPECT_EQ(found[i].recorded, e.recorded);
    EXPECT_EQ(found[i].remaining, e.remaining);
  }
  EXPECT_EQ(zk_major_version(), 2) << "the receiver in use stays in use";
  // Without details nothing is asked; a short list still counts them all.
  ClearTranscript();
  EXPECT_EQ(zk_list_receivers(ZK_VENDOR_ID, found, 1, 0), 3);
  ExpectNoTransfers();
  EXPECT_EQ(found[0].major, ZK_ERR_UNSUPPORTED);
}

TEST_F(Receivers, HandlesBalanceOverAThousandListOpenCloseCycles) {
  const char *positions[] = {"1-1", "1-2", "1-3"};
  const int states[] = {ZK_STATE_FIRMWARE, ZK_STATE_FIRMWARE, ZK_STATE_BOOTLOADER};
  zk_receiver found[3];
  for (int i = 0; i < 1000; ++i) {
    ASSERT_EQ(zk_list_receivers(ZK_VENDOR_ID, found, 3, i % 2), 3) << i;
    ASSERT_EQ(zk_open_device_at(ZK_VENDOR_ID, ZK_MANUFACTURER, positions[i % 3]), states[i % 3]);
    ASSERT_EQ(bus().open_handles(), 1) << "only the receiver in use is open, cycle " << i;
    zk_close_device();
  }
  EXPECT_EQ(bus().open_handles(), 0);
  EXPECT_EQ(bus().init_refs(), 0);
  EXPECT_EQ(bus().device_refs(), 0);
}

}  // namespace
