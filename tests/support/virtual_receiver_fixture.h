// Test fixture: a fresh virtual bus with one receiver (current generation,
// firmware 3.8, firmware mode, empty configuration, no automatic presses,
// prompt re-enumeration) installed as the library's USB backend.
//
//   class RecordTest : public zk::test::VirtualReceiverTest {};
//   TEST_F(RecordTest, ...) {
//     SetFirmwareVersion(2, 6);
//     ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
//     QueuePress(0xCAFE0001);  // delivered once the receiver waits
//     EXPECT_EQ(zk_set_record("a", 5), 0);
//     ExpectRequest(0xC0, 1, 0x04, 0, 0);
//   }
//
// TearDown closes the library's device and restores the default backend.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bus.h"
#include "quiet_receiver.h"
#include "usb_backend.h"
#include "zirko.h"

namespace zk::test {

class VirtualReceiverTest : public ::testing::Test {
 protected:
  using Transfer = zk::virt::Transfer;

  VirtualReceiverTest() : receiver_(bus_.add_receiver(DefaultState())) {}

  void SetUp() override { zk::set_usb_backend(&bus_); }
  void TearDown() override {
    zk_close_device();
    zk::set_usb_backend(nullptr);
  }

  static zk::virt::ReceiverState DefaultState() { return QuietReceiverState(); }

  zk::virt::Bus &bus() { return bus_; }
  zk::virt::Receiver &receiver() { return receiver_; }

  // A file name of this test process's own: CTest runs tests side by side.
  static std::string TempPath(const std::string &name) {
    return testing::TempDir() + "zirko_" + std::to_string(getpid()) + "_" + name;
  }

  // ---- configuration (before opening: versions are read at open) ----

  // The generation follows the version: majors 0, 1 and unknown give 1,
  // 2 and 255 give 2, 3 gives 3.
  void SetFirmwareVersion(int major, int minor, std::array<uint8_t, 3> date = {5, 14, 24}) {
    receiver_.edit([&](zk::virt::ReceiverState &s) {
      s.firmware = {static_cast<uint8_t>(major), static_cast<uint8_t>(minor), date};
    });
  }
  void SetBootloaderVersion(int major, int minor, std::array<uint8_t, 3> date = {3, 2, 23}) {
    receiver_.edit([&](zk::virt::ReceiverState &s) {
      s.bootloader = {static_cast<uint8_t>(major), static_cast<uint8_t>(minor), date};
    });
  }
  // A typical version of each generation: 1 → 1.2, 2 → 2.6, 3 → 3.8.
  void SetGeneration(int generation) {
    static constexpr int kMinor[] = {0, 2, 6, 8};
    SetFirmwareVersion(generation, kMinor[generation]);
  }
  // Re-enumerates the receiver in the given mode (bootloader mode presents
  // the legacy manufacturer string and the product string "bootldr").
  void SetBootloaderMode(bool bootloader) {
    receiver_.reenumerate(bootloader ? zk::virt::Mode::kBootloader : zk::virt::Mode::kFirmware);
  }
  void SetScmHash(uint32_t hash) {
    receiver_.edit([&](zk::virt::ReceiverState &s) { s.scm_hash = hash; });
  }

  // ---- EEPROM ----

  uint8_t Eeprom(int address) { return receiver_.snapshot().eeprom.at(address); }
  void SetEeprom(int address, uint8_t value) {
    receiver_.edit([&](zk::virt::ReceiverState &s) { s.eeprom.at(address) = value; });
  }
  // Writes a whole image from address 0 (header included).
  void SetImage(const std::vector<uint8_t> &image) {
    receiver_.edit([&](zk::virt::ReceiverState &s) {
      std::copy(image.begin(), image.end(), s.eeprom.begin());
    });
  }
  // The configuration image as stored: size header through last entry.
  std::vector<uint8_t> Image() {
    auto s = receiver_.snapshot();
    const int size = std::min(s.image_size(), zk::virt::kEepromSize);
    return {s.eeprom.begin(), s.eeprom.begin() + size};
  }
  // Appends a recorded button directly (hash, modifier byte, key code).
  void AddEntry(uint32_t hash, uint8_t modifier, uint8_t key) {
    receiver_.edit([&](zk::virt::ReceiverState &s) {
      const int size = s.image_size();
      for (int i = 0; i < 4; ++i) s.eeprom[size + i] = static_cast<uint8_t>(hash >> (8 * i));
      s.eeprom[size + 4] = modifier;
      s.eeprom[size + 5] = key;
      s.set_image_size(size + zk::virt::kEntrySize);
    });
  }

  // ---- remote buttons ----

  // Presses now: completes a waiting record or delete, or types the key.
  void Press(uint32_t hash) { receiver_.press(hash); }
  // Delivered when the receiver next waits for a button (after the press
  // delay, 0 here), also to a library call that is already waiting.
  void QueuePress(uint32_t hash) { receiver_.queue_press(hash); }
  void SetAutoPress(bool on, int delay_ms) {
    receiver_.edit([&](zk::virt::ReceiverState &s) {
      s.auto_press = on;
      s.press_delay_ms = delay_ms;
    });
  }
  std::vector<zk::virt::KeyReport> KeyReports() { return receiver_.key_reports(); }

  // ---- faults (n counts transfers from now: 1 is the next one) ----

  void FailTransfer(int nth, int error) { bus_.fail_transfer(nth, error); }
  void FailRequest(uint8_t request_type, uint8_t request, int error) {
    bus_.fail_request(request_type, request, error);
  }
  void TimeOutRequest(uint8_t request_type, uint8_t request) {
    bus_.fail_request(request_type, request, zk::kUsbErrorTimeout);
  }
  void DisconnectAt(int nth) { bus_.disconnect_at(nth); }
  void ReplyLength(uint8_t request_type, uint8_t request, int length) {
    bus_.reply_length(request_type, request, length);
  }
  void Unplug() { receiver_.unplug(); }
  void Plug() { receiver_.plug(); }

  // ---- opening and the transcript ----

  int OpenReceiver() { return zk_open_device(ZK_VENDOR_ID, ZK_MANUFACTURER); }
  void ClearTranscript() { bus_.clear_transcript(); }
  std::vector<Transfer> Transcript() { return bus_.transcript(); }
  // Control transfers with this type and request, in order.
  std::vector<Transfer> Requests(uint8_t request_type, uint8_t request) {
    std::vector<Transfer> found;
    for (auto &t : bus_.transcript()) {
      if (t.kind == Transfer::Kind::kControl && t.request_type == request_type &&
          t.request == request) {
        found.push_back(t);
      }
    }
    return found;
  }

  static std::string Describe(const Transfer &t) {
    char buf[96];
    if (t.kind == Transfer::Kind::kInterrupt) {
      std::snprintf(buf, sizeof buf, "interrupt ep 0x%02X len %d timeout %u -> %d", t.endpoint,
                    t.length, t.timeout_ms, t.result);
    } else {
      std::snprintf(buf, sizeof buf, "0x%02X/%d value 0x%X index 0x%X len %d timeout %u -> %d",
                    t.request_type, t.request, t.value, t.index, t.length, t.timeout_ms, t.result);
    }
    return buf;
  }
  std::string DescribeTranscript() {
    std::string out;
    for (auto &t : bus_.transcript()) out += "  " + Describe(t) + "\n";
    return out;
  }

  // Some control transfer in the transcript has exactly these fields
  // (timeout_ms < 0: any timeout).
  ::testing::AssertionResult HasRequest(uint8_t request_type, uint8_t request, uint16_t value,
                                        uint16_t index, int length, long timeout_ms = -1) {
    for (auto &t : bus_.transcript()) {
      if (t.kind == Transfer::Kind::kControl && t.request_type == request_type &&
          t.request == request && t.value == value && t.index == index && t.length == length &&
          (timeout_ms < 0 || t.timeout_ms == static_cast<unsigned long>(timeout_ms))) {
        return ::testing::AssertionSuccess();
      }
    }
    char want[80];
    std::snprintf(want, sizeof want, "0x%02X/%d value 0x%X index 0x%X len %d", request_type,
                  request, value, index, length);
    return ::testing::AssertionFailure() << "no request " << want << " in the transcript:\n"
                                         << DescribeTranscript();
  }
  void ExpectRequest(uint8_t request_type, uint8_t request, uint16_t value, uint16_t index,
                     int length, long timeout_ms = -1) {
    EXPECT_TRUE(HasRequest(request_type, request, value, index, length, timeout_ms));
  }
  void ExpectNoRequest(uint8_t request_type, uint8_t request) {
    EXPECT_TRUE(Requests(request_type, request).empty())
        << "unexpected request 0x" << std::hex << int{request_type} << "/" << std::dec
        << int{request} << ":\n"
        << DescribeTranscript();
  }
  void ExpectNoTransfers() {
    EXPECT_TRUE(bus_.transcript().empty()) << "transfers:\n" << DescribeTranscript();
  }

 private:
  zk::virt::Bus bus_;
  zk::virt::Receiver &receiver_;
};

}  // namespace zk::test
