// Test fixture: a receiver (firmware 3.8, firmware mode, empty configuration,
// no automatic presses, prompt re-enumeration) behind the emulated kernel USB
// interface. The library runs on its libusb backend, so every call goes
// through the system's libusb and usbfs requests to the device model.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emulated_bus.h"
#include "quiet_receiver.h"
#include "zirko.h"

namespace zk::test {

class EmulatedReceiverTest : public ::testing::Test {
 protected:
  using Transfer = zk::virt::Transfer;

  EmulatedReceiverTest() : receiver_(bus_.add_receiver(DefaultState())) {}

  // Every record the scans left is closed, so that libusb's default context
  // is gone before the next test's testbed replaces this one.
  void TearDown() override {
    zk_device *list = zk_get_device_list();
    while (list->next != list) {
      zk_first_device();
      zk_close_device();
    }
    zk_close_device();
  }

  static zk::virt::ReceiverState DefaultState() { return QuietReceiverState(); }

  zk::emu::EmulatedBus &bus() { return bus_; }
  zk::virt::Receiver &receiver() { return receiver_; }

  void SetFirmwareVersion(int major, int minor) {
    receiver_.edit([&](zk::virt::ReceiverState &s) {
      s.firmware.major = static_cast<uint8_t>(major);
      s.firmware.minor = static_cast<uint8_t>(minor);
    });
  }
  // Versions are read and descriptors cached at enumeration: a change of
  // version shows after the receiver comes back.
  void Reenumerate() {
    receiver_.reenumerate(zk::virt::Mode::kFirmware);
    bus_.sync();
    bus_.sync();
  }
  int OpenReceiver() { return zk_open_device(ZK_VENDOR_ID, ZK_MANUFACTURER); }

  std::vector<Transfer> Requests(uint8_t request_type, uint8_t request) {
    std::vector<Transfer> found;
    for (const Transfer &t : bus_.transcript()) {
      if (t.kind == Transfer::Kind::kControl && t.request_type == request_type &&
          t.request == request)
        found.push_back(t);
    }
    return found;
  }
  std::vector<Transfer> InterruptReads() {
    std::vector<Transfer> found;
    for (const Transfer &t : bus_.transcript()) {
      if (t.kind == Transfer::Kind::kInterrupt) found.push_back(t);
    }
    return found;
  }
  std::vector<uint8_t> Image() {
    const zk::virt::ReceiverState s = receiver_.snapshot();
    return {s.eeprom.begin(), s.eeprom.begin() + s.image_size()};
  }

 private:
  zk::emu::EmulatedBus bus_;
  zk::virt::Receiver &receiver_;
};

}  // namespace zk::test
