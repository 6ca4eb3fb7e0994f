// Scan, transfers, error texts and the device list, against the virtual bus.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>

#include "fake_clock.h"
#include "internal.h"
#include "receiver_test.h"
#include "text_assert.h"

namespace {

using zk::test::CapturedLog;
using zk::test::Contains;
using zk::test::Lacks;
using zk::virt::ForeignDevice;
using zk::virt::ReceiverState;

// Scans directly; TearDown closes every record the scans left in the list.
class Scan : public zk::test::VirtualReceiverTest {
 protected:
  void TearDown() override {
    zk::set_device_allocator(nullptr);
    zk::test::CloseEveryRecord();
    VirtualReceiverTest::TearDown();
  }

  static zk_device *list() { return zk_get_device_list(); }
  static bool list_empty() { return list()->next == list(); }
  static zk_device *first() { return list()->next; }
  static int scan(const char *manufacturer = ZK_MANUFACTURER) {
    return zk_open_devices(list(), ZK_VENDOR_ID, manufacturer);
  }

  void EditReceiver(void (*change)(ReceiverState &)) { receiver().edit(change); }
  void ExpectBusBalanced() {
    EXPECT_EQ(bus().init_refs(), 0);
    EXPECT_EQ(bus().open_handles(), 0);
  }
};

TEST_F(Scan, CurrentStringAcceptsProductId4OnInterface1) {
  CapturedLog log;
  ASSERT_EQ(scan(), 1);
  EXPECT_TRUE(Contains(log.text(), "[I] zk_open_devices("));
  EXPECT_TRUE(Contains(log.text(), "): trying to open: 20A0 :: Zirko Devices\n"));
  EXPECT_TRUE(Contains(log.text(), "): claiming interface: 1\n"));
  EXPECT_TRUE(Contains(log.text(), "): Vendor: Zirko Devices\n"));
  EXPECT_TRUE(Contains(log.text(), "):  [Vendor Match]\n"));
  const zk_device &record = *first();
  EXPECT_EQ(record.vendor_id, ZK_VENDOR_ID);
  EXPECT_EQ(record.product_id, 0x0004);
  EXPECT_EQ(record.iface, 1);
  EXPECT_EQ(record.index, 1);
  EXPECT_EQ(record.bootloader, 0);
  EXPECT_NE(record.handle, nullptr);
}

TEST_F(Scan, ProductId2IsAcceptedOnlyWithTheLegacyStringOnInterface0) {
  EditReceiver([](ReceiverState &s) {
    s.legacy_manufacturer = true;
    s.firmware_product_id = 0x0002;
  });
  EXPECT_EQ(scan(ZK_MANUFACTURER), 0);
  EXPECT_EQ(bus().open_handles(), 0);
  ASSERT_EQ(scan(ZK_MANUFACTURER_LEGACY), 1);
  EXPECT_EQ(first()->iface, 0);
  EXPECT_EQ(first()->product_id, 0x0002);
}

TEST_F(Scan, CurrentStringRefusesAProductIdOfTheLegacyRow) {
  EditReceiver([](ReceiverState &s) { s.firmware_product_id = 0x0002; });
  CapturedLog log;
  EXPECT_EQ(scan(), 0);
  EXPECT_TRUE(Contains(log.text(), "claiming interface: 1\n"));
  EXPECT_TRUE(Lacks(log.text(), "Vendor:"));
  ExpectBusBalanced();
}

TEST_F(Scan, AnotherManufacturerStringIsOpenedReportedClosedAndNotCounted) {
  Unplug();
  bus().add_foreign({ZK_VENDOR_ID, 0x0004, "Acme Remote", "Acme", 0, 0, 0});
  CapturedLog log;
  EXPECT_EQ(scan(), 0);
  EXPECT_TRUE(Contains(log.text(), "Vendor: Acme Remote\n"));
  EXPECT_TRUE(Contains(log.text(), "manufacturer string doesn't match"));
  ExpectBusBalanced();
}

TEST_F(Scan, UnknownManufacturerArgumentHasNoProductFilterAndNoClaim) {
  bus().add_foreign({ZK_VENDOR_ID, 0x0077, "Acme Remote", "Acme", 0, 0, 0});
  CapturedLog log;
  ASSERT_EQ(scan("Acme Remote"), 1);
  EXPECT_TRUE(Lacks(log.text(), "claiming interface"));
  EXPECT_EQ(first()->product_id, 0x0077);
  EXPECT_EQ(first()->iface, 1);
}

TEST_F(Scan, ProductStringThatOnlyBeginsWithBootldrIsFirmwareMode) {
  EditReceiver([](ReceiverState &s) { s.product = "bootldr2"; });
  ASSERT_EQ(scan(), 1);
  EXPECT_EQ(first()->bootloader, 0);
}

TEST_F(Scan, ExactProductStringBootldrMarksBootloaderMode) {
  SetBootloaderMode(true);
  CapturedLog log;
  ASSERT_EQ(scan(ZK_MANUFACTURER_LEGACY), 1);
  EXPECT_EQ(first()->bootloader, 1);
  EXPECT_TRUE(Contains(log.text(), "): bootloader found\n"));
}

TEST_F(Scan, TwoReceiversCountTwoWithIndexesInEnumerationOrder) {
  ReceiverState second = DefaultState();
  second.firmware_product_id = 0x0001;
  bus().add_receiver(second);
  ASSERT_EQ(scan(), 2);
  EXPECT_EQ(first()->index, 1);
  EXPECT_EQ(first()->product_id, 0x0004);
  EXPECT_EQ(first()->next->index, 2);
  EXPECT_EQ(first()->next->product_id, 0x0001);
  EXPECT_EQ(first()->next->next, list());
}

TEST_F(Scan, DeviceThatCannotBeOpenedIsSkipped) {
  bus().add_foreign({ZK_VENDOR_ID, 0x0004, ZK_MANUFACTURER, "x", zk::kUsbErrorAccess, 0, 0});
  CapturedLog log;
  EXPECT_EQ(scan(), 1);
  EXPECT_TRUE(Contains(log.text(), "Warning: cannot open USB device"));
}

TEST_F(Scan, UnreadableDescriptorSkipsTheDeviceAndTheScanGoesOn) {
  bus().add_foreign({ZK_VENDOR_ID, 0x0004, ZK_MANUFACTURER, "x", 0, zk::kUsbErrorIo, 0});
  ReceiverState second = DefaultState();
  bus().add_receiver(second);
  CapturedLog log;
  EXPECT_EQ(scan(), 2);  // the process goes on, and so does the scan
  EXPECT_TRUE(Contains(log.text(), "failed to get device descriptor"));
}

TEST_F(Scan, UnreadableStringsCloseTheDeviceWithAnError) {
  Unplug();
  bus().add_foreign({ZK_VENDOR_ID, 0x0004, ZK_MANUFACTURER, "x", 0, 0, zk::kUsbErrorPipe});
  CapturedLog log(ZK_LOG_WARNING);
  EXPECT_EQ(scan(), 0);
  EXPECT_TRUE(Contains(log.text(), "[E] zk_open_devices("));
  EXPECT_TRUE(Contains(log.text(), "): Cannot query device, is the GUI open?\n"));
  ExpectBusBalanced();
}

TEST_F(Scan, ForeignVendorIsNeverOpened) {
  Unplug();
  bus().add_foreign({});
  EXPECT_EQ(scan(), 0);
  ExpectBusBalanced();
}

zk_device *no_memory() {
  return nullptr;
}

TEST_F(Scan, FailedAllocationEndsTheScanWithMinus11AndKeepsNothing) {
  zk::set_device_allocator(no_memory);
  CapturedLog log;
  EXPECT_EQ(scan(), zk::kUsbErrorNoMem);
  EXPECT_TRUE(Contains(log.text(), "Cannot allocate memory"));
  EXPECT_TRUE(list_empty());
  ExpectBusBalanced();
}

zk_device *one_record_only() {
  static int calls = 0;
  return ++calls == 1 ? static_cast<zk_device *>(calloc(1, sizeof(zk_device))) : nullptr;
}

TEST_F(Scan, FailedAllocationDiscardsTheRecordsOfTheSameScan) {
  bus().add_receiver(DefaultState());
  zk::set_device_allocator(one_record_only);
  EXPECT_EQ(scan(), zk::kUsbErrorNoMem);
  EXPECT_TRUE(list_empty());
  ExpectBusBalanced();
}

TEST_F(Scan, EachKeptReceiverHoldsOneContextReferenceUntilClosed) {
  bus().add_receiver(DefaultState());
  ASSERT_EQ(scan(), 2);
  EXPECT_EQ(bus().init_refs(), 2);
  zk_first_device();
  zk_close_device();  // the other receiver of the scan goes with it
  ExpectBusBalanced();
}

TEST_F(Scan, WithTwoReceiversEveryOpenTakesTheFirstAndLeavesNothingOpen) {
  bus().add_receiver(DefaultState()).edit([](zk::virt::ReceiverState &s) { s.scm_hash = 2; });
  for (int i = 0; i < 1000; ++i) {
    ASSERT_EQ(zk_open_device(ZK_VENDOR_ID, ZK_MANUFACTURER), ZK_STATE_FIRMWARE);
    ASSERT_EQ(bus().open_handles(), 2);
    ASSERT_NE(zk_fw_scm_hash(), 2) << "cycle " << i;
    zk_close_device();
  }
  ExpectBusBalanced();
}

TEST_F(Scan, ScansThatFindNothingLeaveTheContextBalanced) {
  Unplug();
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(scan(), 0);
  ExpectBusBalanced();
  EXPECT_EQ(bus().device_refs(), 0);
}

TEST(UsbErrorText, EveryCodeHasItsText) {
  const std::pair<int, const char *> texts[] = {
      {0, "Success"},
      {-1, "Input/output error"},
      {-2, "Invalid parameter"},
      {-3, "Access denied (insufficient permissions)"},
      {-4, "No such device (it may have been disconnected)"},
      {-5, "Entity not found"},
      {-6, "Resource busy"},
      {-7, "Operation timed out"},
      {-8, "Overflow"},
      {-9, "Pipe error"},
      {-10, "System call interrupted (perhaps due to signal)"},
      {-11, "Insufficient memory"},
      {-12, "Operation not supported or unimplemented on this platform"},
      {-99, "Other error"},
      {-13, "Unknown error"},
      {-19, "Unknown error"},
      {5, "Unknown error"},
  };
  for (auto [code, text] : texts) EXPECT_STREQ(zk_usb_strerror(code), text) << code;
}

class Transfers : public zk::test::VirtualReceiverTest {};

TEST_F(Transfers, WithoutAHandleNothingIsSentAndTheAnswerIsMinus19) {
  unsigned char byte = 0;
  int transferred = 0;
  CapturedLog log;
  EXPECT_EQ(zk_send_msg(0xC2, 1, 0, 0, &byte, 1, 5000), -19);
  EXPECT_EQ(zk_set_interrupt_ep(0x83, &byte, 1, &transferred, 0), -19);
  EXPECT_TRUE(Contains(log.text(), "[D] zk_send_msg("));
  EXPECT_TRUE(Contains(log.text(), "[D] zk_set_interrupt_ep("));
  EXPECT_TRUE(Contains(log.text(), "): pointer to handle is invalid\n"));
  ExpectNoTransfers();
}

TEST_F(Transfers, ControlTransferCarriesItsArgumentsAndReturnsTheByteCount) {
  SetEeprom(0x10, 0xAB);
  ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
  unsigned char byte = 0;
  EXPECT_EQ(zk_send_msg(0xC2, 2 /* EEPROM read */, 0x10, 0, &byte, 1, 5000), 1);
  EXPECT_EQ(byte, 0xAB);
  ExpectRequest(0xC2, 2, 0x10, 0, 1, 5000);
}

TEST_F(Transfers, TimedOutTransferReturnsMinus7AndLogsItsText) {
  ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
  TimeOutRequest(0xC2, 2);
  unsigned char byte = 0;
  CapturedLog log;
  EXPECT_EQ(zk_send_msg(0xC2, 2, 0, 0, &byte, 1, 5000), zk::kUsbErrorTimeout);
  EXPECT_TRUE(Contains(log.text(), "[D] zk_send_msg("));
  EXPECT_TRUE(Contains(log.text(), "): Operation timed out\n"));
}

TEST_F(Transfers, ControlTransfersGoOnWhileAnotherThreadWaitsForTheInterruptByte) {
  SetGeneration(1);
  ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
  unsigned char status = 0;
  ASSERT_GE(zk_send_msg(0xC0, 1 /* record mode */, 0x04, 0, &status, 1, 5000), 0);
  unsigned char outcome = 0xEE;
  int transferred = 0;
  auto waiter = std::async(std::launch::async, [&] {
    return zk_set_interrupt_ep(0x83, &outcome, 1, &transferred, 0 /* no limit */);
  });
  for (int i = 0; i < 5; ++i) EXPECT_EQ(zk_major_version(), 1);
  EXPECT_EQ(waiter.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
  Press(0xCAFE0001);
  ASSERT_EQ(waiter.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(waiter.get(), 0);
  EXPECT_EQ(transferred, 1);
  EXPECT_EQ(outcome, 0);  // success
}

class DeviceList : public Scan {
 protected:
  void SetUp() override {
    Scan::SetUp();
    bus().add_receiver(DefaultState());
    ASSERT_EQ(scan(), 2);
    zk_first_device();
  }
  static int current_index() { return current_device ? current_device->index : 0; }
};

TEST_F(DeviceList, FirstEntryIsFirstAndNotLast) {
  EXPECT_EQ(current_index(), 1);
  EXPECT_EQ(current_handle, current_device->handle);
  EXPECT_EQ(zk_device_is_first(), 1);
  EXPECT_EQ(zk_device_is_last(), 0);
  EXPECT_EQ(zk_device_at_end(), 0);
}

TEST_F(DeviceList, NextWalksToTheLastEntryThenToTheEndPosition) {
  EXPECT_EQ(zk_next_device(), 0);
  EXPECT_EQ(current_index(), 2);
  EXPECT_EQ(zk_device_is_last(), 1);
  CapturedLog log;
  EXPECT_EQ(zk_next_device(), 0);
  EXPECT_TRUE(Contains(log.text(), "[V] zk_next_device("));
  EXPECT_TRUE(Contains(log.text(), "): last device in list\n"));
  EXPECT_EQ(zk_device_at_end(), 1);
  EXPECT_EQ(current_handle, nullptr);
  unsigned char byte = 0;
  EXPECT_EQ(zk_send_msg(0xC2, 1, 0, 0, &byte, 1, 5000), -19);
  zk_first_device();
  EXPECT_EQ(current_index(), 1);
}

TEST_F(DeviceList, PrevFromTheFirstEntryLeadsToTheEndPositionThenToTheLast) {
  EXPECT_EQ(zk_prev_device(), 0);
  EXPECT_EQ(zk_device_at_end(), 1);
  EXPECT_EQ(zk_prev_device(), 0);
  EXPECT_EQ(current_index(), 2);
}

TEST_F(Scan, NavigationOfAnEmptyListAnswersMinus4) {
  CapturedLog log;
  EXPECT_EQ(zk_next_device(), -4);
  EXPECT_EQ(zk_prev_device(), -4);
  EXPECT_TRUE(Contains(log.text(), "[E] zk_next_device("));
  EXPECT_TRUE(Contains(log.text(), "): there are no devices\n"));
}

TEST_F(Scan, ListOfOneEntry) {
  ASSERT_EQ(scan(), 1);
  zk_first_device();
  EXPECT_EQ(zk_prev_device(), -3);
  CapturedLog log;
  EXPECT_EQ(zk_next_device(), 0);
  EXPECT_TRUE(Contains(log.text(), "): only one element in list\n"));
  EXPECT_EQ(zk_device_at_end(), 1);
}

// A bus that counts arrivals and departures as libusb's hotplug events do.
class HotplugBus : public zk::virt::Bus {
 public:
  long changes = 1000;
  long bus_changes(int vendor_id) override { return vendor_id == ZK_VENDOR_ID ? changes : -1; }
};

TEST(BusChanged, ScansForAWhileAfterAChangeAndNowAndThenWithoutOne) {
  zk::test::FakeClock clock;
  HotplugBus hotplug;
  zk::set_usb_backend(&hotplug);
  // Polls 250 ms apart: the answers of polls 1 to 20.
  auto polls = [&](int count) {
    std::string answers;
    for (int i = 0; i < count; ++i, clock.advance(250))
      answers += zk_bus_changed(ZK_VENDOR_ID) ? '1' : '0';
    return answers;
  };
  EXPECT_EQ(polls(20),
            "11111111"
            "0000000"
            "1"
            "0000");     // first seen, then every 2 s
  hotplug.changes += 2;  // a receiver left and came back
  EXPECT_EQ(polls(12),
            "11111111"
            "0000");
  zk::virt::Bus plain;  // cannot tell: every poll scans
  zk::set_usb_backend(&plain);
  EXPECT_EQ(polls(3), "111");
  zk::set_usb_backend(nullptr);
}

}  // namespace
