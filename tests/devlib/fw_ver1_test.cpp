// Generation 1: the outcome byte on the interrupt endpoint, the operations
// it lacks, and log lines under its own function names.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "text_assert.h"
#include "virtual_receiver_fixture.h"

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;
using zk::test::Contains;
using zk::test::Lacks;

namespace {

// The virtual bus, except that every interrupt read yields one chosen byte:
// outcome bytes the receiver model never sends.
class ForcedOutcome : public zk::UsbBackend {
 public:
  ForcedOutcome(zk::UsbBackend &bus, uint8_t byte) : bus_(bus), byte_(byte) {}
  int init() override { return bus_.init(); }
  void exit() override { bus_.exit(); }
  void set_debug(int level) override { bus_.set_debug(level); }
  int get_device_list(std::vector<zk_usb_device *> &d) override { return bus_.get_device_list(d); }
  void free_device_list(std::vector<zk_usb_device *> &d) override { bus_.free_device_list(d); }
  int get_device_descriptor(zk_usb_device *dev, zk::UsbDeviceDescriptor *desc) override {
    return bus_.get_device_descriptor(dev, desc);
  }
  int open(zk_usb_device *dev, zk_usb_handle **h) override { return bus_.open(dev, h); }
  void close(zk_usb_handle *h) override { bus_.close(h); }
  int claim_interface(zk_usb_handle *h, int i) override { return bus_.claim_interface(h, i); }
  int release_interface(zk_usb_handle *h, int i) override { return bus_.release_interface(h, i); }
  int get_string_descriptor_ascii(zk_usb_handle *h, uint8_t i, unsigned char *d, int n) override {
    return bus_.get_string_descriptor_ascii(h, i, d, n);
  }
  int control_transfer(zk_usb_handle *h, uint8_t t, uint8_t r, uint16_t v, uint16_t i,
                       unsigned char *d, uint16_t n, unsigned int ms) override {
    return bus_.control_transfer(h, t, r, v, i, d, n, ms);
  }
  int interrupt_transfer(zk_usb_handle *, uint8_t, unsigned char *data, int, int *transferred,
                         unsigned int) override {
    data[0] = byte_;
    *transferred = 1;
    return 0;
  }
  int clear_halt(zk_usb_handle *h, uint8_t ep) override { return bus_.clear_halt(h, ep); }
  int reset_device(zk_usb_handle *h) override { return bus_.reset_device(h); }

 private:
  zk::UsbBackend &bus_;
  uint8_t byte_;
};

class Ver1Test : public zk::test::VirtualReceiverTest {
 protected:
  void SetUp() override {
    VirtualReceiverTest::SetUp();
    SetGeneration(1);
    ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
    ClearTranscript();
  }
  size_t Interrupts() {
    size_t n = 0;
    for (auto &t : Transcript()) {
      if (t.kind == Transfer::Kind::kInterrupt && t.endpoint == 0x83 && t.timeout_ms == 0) ++n;
    }
    return n;
  }
};

TEST_F(Ver1Test, RecordingWaitsForTheOutcomeByteWithoutLimit) {
  SetAutoPress(true, 200);
  EXPECT_EQ(zk_set_record("a", 5), 0);
  EXPECT_EQ(Interrupts(), 1u);
  ExpectNoRequest(0xC0, 5);
  ExpectRequest(0xC0, 1, 0x04, 0, 0);
  EXPECT_EQ(zk_keys_recorded(), 1);
}

TEST_F(Ver1Test, OutcomeBytesBecomeResults) {
  AddEntry(0xA1, 0, 0x04);
  CaptureStderr();
  QueuePress(0xA1);
  EXPECT_EQ(zk_set_record_api(0, 0x05, 5), -5);
  QueuePress(0xEE);
  EXPECT_EQ(zk_set_delete(1), -6);
  for (int i = 1; i < 169; ++i) AddEntry(0x100 + i, 0, 0x04);
  QueuePress(0xFF);
  EXPECT_EQ(zk_set_record("b", 5), -4);
  std::string log = GetCapturedStderr();
  EXPECT_TRUE(Contains(log, "error: button exists"));
  EXPECT_TRUE(Contains(log, "error: key not found"));
  EXPECT_TRUE(Contains(log, "error: no space on device"));

  ForcedOutcome seven(bus(), 7);
  zk::set_usb_backend(&seven);
  EXPECT_EQ(zk_set_interrupt(5), 7);
  zk::set_usb_backend(&bus());
}

TEST_F(Ver1Test, FailedInterruptReadGivesMinusSeven) {
  ASSERT_EQ(zk_set_record("a", 0), 0);
  FailTransfer(1, zk::kUsbErrorIo);
  EXPECT_EQ(zk_set_interrupt(5), -7);
  ExpectNoRequest(0xC0, 0);
  EXPECT_TRUE(receiver().waiting_for_button());

  FailTransfer(1, zk::kUsbErrorTimeout);
  EXPECT_EQ(zk_set_interrupt(5), -7);
  ExpectRequest(0xC0, 0, 0, 0, 1);
  EXPECT_FALSE(receiver().waiting_for_button());
}

TEST_F(Ver1Test, LacksStateRequestIndexDeletionAndNewerSwitches) {
  EXPECT_EQ(zk_get_state(), 0);
  ExpectNoTransfers();
  EXPECT_EQ(zk_delete_index(0), -12);
  EXPECT_EQ(zk_get_builtin_profile_support(), -12);
  EXPECT_EQ(zk_set_builtin_profile_support(1), -12);
  EXPECT_EQ(zk_get_sequence_modifiers(), -12);
  EXPECT_EQ(zk_set_sequence_modifiers(1), -12);
  ExpectNoTransfers();
}

TEST_F(Ver1Test, LogsUnderGenerationOneNames) {
  const std::string path = testing::TempDir() + "zirko_ver1_empty.zcfg";
  std::fclose(std::fopen(path.c_str(), "wb"));
  FailRequest(0xC2, 3, zk::kUsbErrorPipe);
  CaptureStderr();
  EXPECT_EQ(zk_set_sensitivity(1), -16);
  EXPECT_EQ(zk_set_noise_cancel(9), -8);
  EXPECT_EQ(zk_set_record("nokey", 5), -8);
  EXPECT_EQ(zk_load_config(path.c_str()), -6);
  SetEeprom(0, 0x10);
  EXPECT_EQ(zk_display_config(), -1);
  std::string log = GetCapturedStderr();
  std::remove(path.c_str());
  EXPECT_TRUE(Contains(log, "[E] zk_ver1_set_sensitivity("));
  EXPECT_TRUE(Contains(log, "): failed to update settings\n"));
  EXPECT_TRUE(Contains(log, "[E] zk_ver1_set_noise_cancel("));
  EXPECT_TRUE(Contains(log, "[E] zk_ver1_set_record("));
  EXPECT_TRUE(Contains(log, "[E] zk_ver1_load_config("));
  EXPECT_TRUE(Contains(log, "[E] zk_ver1_display_config("));
  EXPECT_TRUE(Lacks(log, "zk_ver2_"));
}

// The desktop application reads the receiver from its GUI thread while a
// worker waits for the outcome on the same handle.
TEST_F(Ver1Test, ControlTransfersGoOnWhileAnotherThreadWaits) {
  std::atomic<bool> done{false};
  int result = 1;
  std::thread worker([&] {
    result = zk_set_record("a", 5);
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
}

}  // namespace
