// The virtual bus: enumeration, references, faults, re-enumeration.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "bus_host.h"
#include "quiet_receiver.h"
#include "state_file.h"
#include "state_file_bus.h"
#include "temp_folder.h"
#include "zirko.h"

namespace zk::virt {
namespace {

using namespace std::chrono_literals;

ReceiverState Prompt() {
  return zk::test::QuietReceiverState();
}

struct Seen {
  UsbDeviceDescriptor desc;
  int descriptor_rc = 0;
  int open_rc = 0;
  int maker_rc = 0;
  std::string maker;
  std::string product;
};

// What a scan finds, device by device, with every handle closed again.
std::vector<Seen> Scan(Bus &bus) {
  std::vector<zk_usb_device *> devices;
  bus.get_device_list(devices);
  std::vector<Seen> seen;
  for (auto *dev : devices) {
    Seen s;
    s.descriptor_rc = bus.get_device_descriptor(dev, &s.desc);
    zk_usb_handle *h = nullptr;
    s.open_rc = bus.open(dev, &h);
    if (h) {
      unsigned char text[256] = {};
      s.maker_rc = bus.get_string_descriptor_ascii(h, s.desc.iManufacturer, text, sizeof text);
      s.maker = reinterpret_cast<char *>(text);
      bus.get_string_descriptor_ascii(h, s.desc.iProduct, text, sizeof text);
      s.product = reinterpret_cast<char *>(text);
      bus.close(h);
    }
    seen.push_back(s);
  }
  bus.free_device_list(devices);
  return seen;
}

TEST(VirtualBus, ScanKeepsOrderAndForeignDevicesMisbehaveAsAsked) {
  Bus bus;
  bus.add_foreign({.vendor_id = 0x046D});
  bus.add_receiver(Prompt());
  bus.add_foreign({.vendor_id = ZK_VENDOR_ID, .manufacturer = "Someone Else"});
  bus.add_foreign({.vendor_id = ZK_VENDOR_ID, .product = "bootldr2"});
  bus.add_foreign({.vendor_id = ZK_VENDOR_ID, .open_error = kUsbErrorAccess});
  bus.add_foreign({.vendor_id = ZK_VENDOR_ID, .descriptor_error = kUsbErrorIo});
  bus.add_foreign({.vendor_id = ZK_VENDOR_ID, .string_error = kUsbErrorPipe});
  ASSERT_EQ(bus.init(), 0);
  const auto seen = Scan(bus);
  ASSERT_EQ(seen.size(), 7u);
  EXPECT_EQ(seen[0].desc.idVendor, 0x046D);
  EXPECT_EQ(seen[1].desc.idProduct, 0x0004);
  EXPECT_EQ(seen[1].maker, ZK_MANUFACTURER);
  EXPECT_EQ(seen[1].product, "Zirko IR Receiver");
  EXPECT_EQ(seen[2].maker, "Someone Else");
  EXPECT_EQ(seen[3].product, "bootldr2");
  EXPECT_EQ(seen[4].open_rc, kUsbErrorAccess);
  EXPECT_EQ(seen[5].descriptor_rc, kUsbErrorIo);
  EXPECT_EQ(seen[6].maker_rc, kUsbErrorPipe);
  bus.exit();
  EXPECT_EQ(bus.init_refs(), 0);
  EXPECT_EQ(bus.device_refs(), 0);
  EXPECT_EQ(bus.open_handles(), 0);
}

TEST(VirtualBus, HandleHoldsItsDeviceReference) {
  Bus bus;
  bus.add_receiver(Prompt());
  test::BusHost host{bus};
  ASSERT_TRUE(host.open());
  EXPECT_EQ(bus.device_refs(), 1);
  EXPECT_EQ(bus.claim_interface(host.handle, 1), 0);
  EXPECT_EQ(bus.claim_interface(host.handle, 2), kUsbErrorNotFound);
  host.close();
  EXPECT_EQ(bus.device_refs(), 0);
  EXPECT_EQ(bus.open_handles(), 0);
}

class FaultTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(host.open()); }
  Bus bus;
  Receiver &receiver = bus.add_receiver(Prompt());
  test::BusHost host{bus};
};

TEST_F(FaultTest, NthTransferAndEveryMatchingRequestFail) {
  bus.fail_transfer(2, kUsbErrorTimeout);
  EXPECT_EQ(host.peek(0), 0);
  EXPECT_EQ(host.peek(1), kUsbErrorTimeout);
  EXPECT_EQ(host.peek(1), 5);  // one transfer only
  bus.fail_request(0xC0, 5, kUsbErrorPipe);
  EXPECT_EQ(host.state(), kUsbErrorPipe);
  EXPECT_EQ(host.state(), kUsbErrorPipe);
  EXPECT_EQ(host.peek(1), 5);
  bus.clear_faults();
  EXPECT_EQ(host.state(), kStateIdle);
  // A failed write never reached the EEPROM.
  bus.fail_request(0xC2, 3, kUsbErrorIo);
  EXPECT_EQ(host.in(0xC2, 3, 2, 0x11), kUsbErrorIo);
  EXPECT_EQ(host.peek(2), kDefaultSettingsA);
}

TEST_F(FaultTest, ReplyLengthOverrideGivesShortAndOverlongReplies) {
  std::vector<uint8_t> reply;
  bus.reply_length(0xC2, 1, 0);
  EXPECT_EQ(host.in(0xC2, 1, 0, 0, 8, &reply), 0);
  bus.clear_faults();
  bus.reply_length(0xC2, 1, 7);
  EXPECT_EQ(host.in(0xC2, 1, 0, 0, 10, &reply), 7);
  EXPECT_EQ(reply[0], 3);
  EXPECT_EQ(host.in(0xC2, 1, 0, 0, 4), kUsbErrorOverflow);
}

TEST_F(FaultTest, DisconnectAtTransferLeavesTheBus) {
  bus.disconnect_at(2);
  EXPECT_EQ(host.peek(0), 0);
  EXPECT_EQ(host.peek(1), kUsbErrorNoDevice);
  EXPECT_EQ(host.peek(1), kUsbErrorNoDevice);
  EXPECT_EQ(bus.clear_halt(host.handle, 0x83), kUsbErrorNoDevice);
  EXPECT_EQ(bus.reset_device(host.handle), kUsbErrorNoDevice);
  EXPECT_TRUE(Scan(bus).empty());
  receiver.plug();
  // The old handle belongs to the old enumeration.
  EXPECT_EQ(host.peek(1), kUsbErrorNoDevice);
  host.close();
  ASSERT_TRUE(host.open());
  EXPECT_EQ(host.peek(1), 5);
}

TEST_F(FaultTest, TranscriptRecordsEveryField) {
  bus.clear_transcript();
  std::vector<uint8_t> reply;
  host.in(0xC2, 2, 1, 0, 1, &reply);
  const auto t = bus.transcript();
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(t[0].kind, Transfer::Kind::kControl);
  EXPECT_EQ(t[0].request_type, 0xC2);
  EXPECT_EQ(t[0].request, 2);
  EXPECT_EQ(t[0].value, 1);
  EXPECT_EQ(t[0].length, 1);
  EXPECT_EQ(t[0].timeout_ms, 5000u);
  EXPECT_EQ(t[0].result, 1);
  EXPECT_EQ(t[0].data, std::vector<uint8_t>{5});
}

TEST(Reenumeration, BootloaderRequestBringsTheReceiverBackInBootloaderMode) {
  Bus bus;
  ReceiverState state = Prompt();
  state.reenumerate_delay_ms = 400;
  Receiver &receiver = bus.add_receiver(state);
  test::BusHost host{bus};
  ASSERT_TRUE(host.open());
  ASSERT_EQ(host.in(0xC2, 3, 20, 0x42), 1);
  EXPECT_EQ(host.in(0xC2, 5, 0x12), kUsbErrorPipe);  // wrong key: stays
  EXPECT_LT(host.in(0xC2, 5, 0x5A), 0);              // leaves at once
  EXPECT_EQ(host.peek(20), kUsbErrorNoDevice);
  host.close();
  EXPECT_TRUE(Scan(bus).empty());  // still away
  std::this_thread::sleep_for(450ms);
  const auto seen = Scan(bus);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].maker, ZK_MANUFACTURER_LEGACY);
  EXPECT_EQ(seen[0].product, "bootldr");
  EXPECT_EQ(seen[0].desc.idProduct, 0x0002);

  ASSERT_TRUE(host.open());
  std::vector<uint8_t> reply;
  ASSERT_EQ(host.in(0xC2, 4, 0, 0, 8, &reply), 8);
  EXPECT_EQ(reply[0], 2);
  EXPECT_EQ(reply[1], 1);
  EXPECT_EQ(host.peek(20), 0x42);  // EEPROM survives the restart
  EXPECT_EQ(host.state(), kUsbErrorPipe);
  // An unfinished upload keeps the bootloader across a restart.
  receiver.edit([](ReceiverState &s) { s.reenumerate_delay_ms = 0; });
  ASSERT_EQ(host.in(0xC2, 3, 2, kDefaultSettingsA | 0x80), 1);
  EXPECT_EQ(host.in(0xC2, 6), 1);
  host.close();
  EXPECT_EQ(Scan(bus).at(0).product, "bootldr");
  ASSERT_TRUE(host.open());
  ASSERT_EQ(host.in(0xC2, 3, 2, kDefaultSettingsA), 1);
  EXPECT_EQ(host.in(0xC2, 6), 1);
  host.close();
  EXPECT_EQ(Scan(bus).at(0).maker, ZK_MANUFACTURER);
}

// The desktop application polls for as long as it runs, through the state
// file: what the bus holds after thousands of transfers, re-enumerations
// and open-close cycles is what it held after the first few.
TEST(VirtualBus, APollingProgramHoldsNoMoreAfterThousandsOfTransfers) {
  test::TempFolder folder;
  const std::string path = folder.path + "/receiver.state";
  ASSERT_TRUE(write_file_atomically(path, format_state(Prompt())));
  StateFileBus files(path);
  zk::set_usb_backend(&files.bus());
  auto poll = [&](int cycles) {
    for (int i = 0; i < cycles; ++i) {
      ASSERT_EQ(zk_open_device(ZK_VENDOR_ID, ZK_MANUFACTURER), ZK_STATE_FIRMWARE);
      for (int n = 0; n < 5; ++n) ASSERT_EQ(zk_get_state(), 0);
      zk_close_device();
      if (i % 50 == 49) {
        files.receiver()->unplug();
        files.receiver()->plug();
      }
    }
  };
  poll(100);
  const Bus::Holdings early = files.bus().holdings();
  poll(2000);
  EXPECT_EQ(files.bus().holdings(), early);
  EXPECT_EQ(early.handles, 0u);
  EXPECT_LE(early.devices, 1u);
  EXPECT_EQ(early.transfers, 0u);
  zk::set_usb_backend(nullptr);
}

}  // namespace
}  // namespace zk::virt
