// Generation 1: the outcome byte on the interrupt endpoint, the operations
// it lacks, and log lines under its own function names.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "captured_output.h"
#include "receiver_test.h"
#include "text_assert.h"
#include "zirko_history.h"

using zk::test::Contains;
using zk::test::Lacks;

namespace {

// A bus whose interrupt reads yield an outcome byte the receiver model never
// sends.
struct SevenBus : zk::virt::Bus {
  int interrupt_transfer(zk_usb_handle *, uint8_t, unsigned char *data, int, int *transferred,
                         unsigned int) override {
    data[0] = 7;
    *transferred = 1;
    return 0;
  }
};

class Ver1Test : public zk::test::VirtualReceiverTest {
 protected:
  void SetUp() override {
    VirtualReceiverTest::SetUp();
    SetGeneration(1);
    ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
    ClearTranscript();
  }
};

TEST_F(Ver1Test, OutcomeBytesBecomeResults) {
  AddEntry(0xA1, 0, 0x04);
  zk::test::CapturedOutput err(stderr);
  QueuePress(0xA1);
  EXPECT_EQ(zk_set_record_api(0, 0x05, 5), -5);
  QueuePress(0xEE);
  EXPECT_EQ(zk_set_delete(1), -6);
  for (int i = 1; i < 169; ++i) AddEntry(0x100 + i, 0, 0x04);
  QueuePress(0xFF);
  EXPECT_EQ(zk_set_record("b", 5), -4);
  std::string log = err.text();
  EXPECT_TRUE(Contains(log, "error: button exists"));
  EXPECT_TRUE(Contains(log, "error: key not found"));
  EXPECT_TRUE(Contains(log, "error: no space on device"));
}

TEST(Ver1Outcome, UnknownByteIsTheResult) {
  SevenBus bus;
  bus.add_receiver().edit([](zk::virt::ReceiverState &s) { s.firmware = {1, 2, {}}; });
  zk::set_usb_backend(&bus);
  ASSERT_EQ(zk_open_device(ZK_VENDOR_ID, ZK_MANUFACTURER), ZK_STATE_FIRMWARE);
  EXPECT_EQ(zk_set_record("a", 5), 7);
  zk_close_device();
  zk::set_usb_backend(nullptr);
}

TEST_F(Ver1Test, FailedInterruptReadGivesMinusSeven) {
  ASSERT_EQ(zk_set_record("a", 0), 0);
  FailTransfer(1, zk::kUsbErrorIo);
  EXPECT_EQ(zk_set_interrupt(5), -7);
  ExpectNoRequest(0xC0, 0);
  EXPECT_TRUE(receiver().waiting_for_button());

  // A read that runs out of time is the wait's time-out.
  FailTransfer(1, zk::kUsbErrorTimeout);
  EXPECT_EQ(zk_set_interrupt(5), -17);
  ExpectRequest(0xC0, 0, 0, 0, 1);
  EXPECT_FALSE(receiver().waiting_for_button());
}

// The wait ends at its time-out, like later generations', and the receiver
// leaves record mode; 0 keeps the wait without limit.
TEST_F(Ver1Test, RecordingWaitEndsAtItsTimeout) {
  zk::test::CapturedOutput err(stderr);
  EXPECT_EQ(zk_set_record("a", 1), -17);
  EXPECT_TRUE(Contains(err.text(), "[E] zk_ver1_set_interrupt("));
  ExpectRequest(0xC0, 0, 0, 0, 1);
  EXPECT_FALSE(receiver().waiting_for_button());
  // Read in slices that a stop can end between, together the second asked for.
  unsigned waited_ms = 0;
  for (const Transfer &t : Transcript())
    if (t.endpoint == 0x83) waited_ms += t.timeout_ms;
  EXPECT_EQ(waited_ms, 1000u);
}

TEST_F(Ver1Test, StopAskedForEndsTheWaitInNormalMode) {
  std::thread stopper([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    zk_request_stop();
  });
  EXPECT_EQ(zk_set_record("a", 10), ZK_ERR_INTERRUPTED);
  stopper.join();
  zk_clear_stop();
  EXPECT_FALSE(receiver().waiting_for_button());
  Press(0xA1);
  EXPECT_EQ(zk_keys_recorded(), 0);
}

TEST_F(Ver1Test, LacksStateRequestIndexDeletionAndNewerSwitches) {
  EXPECT_EQ(zk_get_state(), 0);
  ExpectNoTransfers();
  EXPECT_EQ(zk_delete_index(0), -12);
  EXPECT_EQ(zk_get_builtin_profile_support(), -12);
  EXPECT_EQ(zk_set_builtin_profile_support(1), -12);
  EXPECT_EQ(zk_get_sequence_modifiers(), -12);
  EXPECT_EQ(zk_set_sequence_modifiers(1), -12);
}

TEST_F(Ver1Test, LogsUnderGenerationOneNames) {
  FailRequest(0xC2, 3, zk::kUsbErrorPipe);
  zk::test::CapturedOutput err(stderr);
  EXPECT_EQ(zk_set_sensitivity(1), -16);
  EXPECT_EQ(zk_set_record("nokey", 5), -8);
  SetEeprom(0, 0x10);
  EXPECT_EQ(zk_display_config(), -1);
  const std::string log = err.text();
  EXPECT_TRUE(Contains(log, "[E] zk_ver1_set_sensitivity("));
  EXPECT_TRUE(Contains(log, "): failed to update settings\n"));
  EXPECT_TRUE(Contains(log, "[E] zk_ver1_set_record("));
  EXPECT_TRUE(Contains(log, "[E] zk_ver1_display_config("));
  EXPECT_TRUE(Lacks(log, "zk_ver2_"));
}

// Without a time-out the read waits for the byte. The desktop application
// reads the receiver from its GUI thread meanwhile.
TEST_F(Ver1Test, RecordingWaitsOnTheInterruptEndpointWhileControlGoesOn) {
  std::atomic<bool> done{false};
  int result = 1;
  ASSERT_EQ(zk_set_record("a", 0), 0);
  std::thread worker([&] {
    result = zk_set_interrupt(0);
    done = true;
  });
  while (!receiver().waiting_for_button()) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(zk_get_sensitivity(), 3);
  EXPECT_EQ(zk_keys_recorded(), 0);
  EXPECT_FALSE(done);
  Press(0xA1);
  worker.join();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(zk_keys_recorded(), 1);
  ExpectNoRequest(0xC0, 5);
  const auto reads = Transcript();
  EXPECT_EQ(std::count_if(reads.begin(), reads.end(),
                          [](const Transfer &t) {
                            return t.endpoint == 0x83 && t.length == 1 && t.timeout_ms == 0;
                          }),
            1);
}

}  // namespace
