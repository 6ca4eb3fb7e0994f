// One virtual receiver for a test to drive (firmware 3.8, firmware mode,
// empty configuration, no automatic presses, prompt re-enumeration), on a
// bus of the suite's kind: what a test sets on it before the code under test
// opens it, and what it reads back afterwards. Plain C++ with no test
// framework, so that the GoogleTest suites (receiver_test.h) and the Qt
// Test suites share it.
//
//   zk::test::VirtualRig rig;  // the library's USB backend while it lives
//   rig.SetFirmwareVersion(2, 6);
//   rig.AddEntry(0xCAFE0001, 0, 0x04);
//   ...the code under test opens the receiver and deletes the button...
//   check rig.Entries().empty() and rig.RequestCount(0xC0, 4) == 1
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "bus.h"
#include "quiet_receiver.h"
#include "usb_backend.h"
#include "zirko.h"

namespace zk::test {

// Closes every record the library's scans left in its list, and the open
// device with them.
inline void CloseEveryRecord() {
  zk_device *list = zk_get_device_list();
  while (list->next != list) {
    zk_first_device();
    zk_close_device();
  }
  zk_close_device();
}

// BusT owns the receivers added to it and keeps a transcript of what they
// saw: zk::virt::Bus in-process, or the emulated kernel interface's bus.
template <class BusT>
class ReceiverRig {
 public:
  using Transfer = zk::virt::Transfer;

  ReceiverRig() : receiver_(bus_.add_receiver(DefaultState())) {}
  ReceiverRig(const ReceiverRig &) = delete;
  ReceiverRig &operator=(const ReceiverRig &) = delete;

  static zk::virt::ReceiverState DefaultState() { return QuietReceiverState(); }

  BusT &bus() { return bus_; }
  zk::virt::Receiver &receiver() { return receiver_; }

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
  // Product variant bits 1-2 of EEPROM byte 3: Corvane is bit 2 alone.
  void SetCorvane() {
    receiver_.edit([](zk::virt::ReceiverState &s) { s.eeprom[3] = (s.eeprom[3] & ~0x06) | 0x04; });
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
  int ImageSize() { return receiver_.snapshot().image_size(); }
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
  // (modifier, key) of every stored button, in memory order.
  std::vector<std::pair<int, int>> Entries() {
    auto s = receiver_.snapshot();
    std::vector<std::pair<int, int>> found;
    for (int at = zk::virt::kHeaderSize; at + zk::virt::kEntrySize <= s.image_size();
         at += zk::virt::kEntrySize)
      found.emplace_back(s.eeprom[at + 4], s.eeprom[at + 5]);
    return found;
  }

  // ---- remote buttons and presence ----

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
  void Unplug() { receiver_.unplug(); }
  void Plug() { receiver_.plug(); }

  // ---- opening and the transcript ----

  static int OpenReceiver() { return zk_open_device(ZK_VENDOR_ID, ZK_MANUFACTURER); }
  void ClearTranscript() { bus_.clear_transcript(); }
  std::vector<Transfer> Transcript() { return bus_.transcript(); }
  // Control transfers with this type and request, in order.
  std::vector<Transfer> Requests(uint8_t request_type, uint8_t request) {
    std::vector<Transfer> found;
    for (const Transfer &t : bus_.transcript()) {
      if (t.kind == Transfer::Kind::kControl && t.request_type == request_type &&
          t.request == request)
        found.push_back(t);
    }
    return found;
  }
  int RequestCount(uint8_t request_type, uint8_t request) {
    return static_cast<int>(Requests(request_type, request).size());
  }
  std::vector<Transfer> InterruptReads() {
    std::vector<Transfer> found;
    for (const Transfer &t : bus_.transcript()) {
      if (t.kind == Transfer::Kind::kInterrupt) found.push_back(t);
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
    for (const Transfer &t : bus_.transcript()) out += "  " + Describe(t) + "\n";
    return out;
  }

 protected:
  ~ReceiverRig() = default;

 private:
  BusT bus_;
  zk::virt::Receiver &receiver_;
};

// The rig on the in-process virtual bus, which is the library's USB backend
// for as long as the rig lives.
class VirtualRig : public ReceiverRig<zk::virt::Bus> {
 public:
  VirtualRig() { zk::set_usb_backend(&bus()); }
  ~VirtualRig() { Close(); }

  // Closes the library's device and gives it its default backend back, so
  // that tests stay independent of each other.
  static void Close() {
    zk_close_device();
    zk::set_usb_backend(nullptr);
  }

  // ---- faults (n counts transfers from now: 1 is the next one) ----

  void FailTransfer(int nth, int error) { bus().fail_transfer(nth, error); }
  void FailRequest(uint8_t request_type, uint8_t request, int error) {
    bus().fail_request(request_type, request, error);
  }
  void TimeOutRequest(uint8_t request_type, uint8_t request) {
    bus().fail_request(request_type, request, zk::kUsbErrorTimeout);
  }
  void DisconnectAt(int nth) { bus().disconnect_at(nth); }
  void ReplyLength(uint8_t request_type, uint8_t request, int length) {
    bus().reply_length(request_type, request, length);
  }
};

}  // namespace zk::test
