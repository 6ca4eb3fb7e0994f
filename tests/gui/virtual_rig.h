// A virtual receiver installed as the library's USB backend for the life of
// the rig: firmware 3.8, empty memory, no automatic presses, prompt
// re-enumeration. Closing the library's device on destruction keeps tests
// independent of each other.
#ifndef ZIRKO_TESTS_GUI_VIRTUAL_RIG_H
#define ZIRKO_TESTS_GUI_VIRTUAL_RIG_H

#include <cstdint>
#include <vector>

#include "bus.h"
#include "quiet_receiver.h"
#include "usb_backend.h"
#include "zirko.h"

struct VirtualRig {
  zk::virt::Bus bus;
  zk::virt::Receiver &rx;

  VirtualRig() : rx(bus.add_receiver(zk::test::QuietReceiverState())) { zk::set_usb_backend(&bus); }
  ~VirtualRig() {
    zk_close_device();
    zk::set_usb_backend(nullptr);
  }
  VirtualRig(const VirtualRig &) = delete;
  VirtualRig &operator=(const VirtualRig &) = delete;

  // Read at open, so set before the window's poll opens the receiver.
  void setFirmware(int major, int minor) {
    rx.edit([&](zk::virt::ReceiverState &s) {
      s.firmware.major = static_cast<uint8_t>(major);
      s.firmware.minor = static_cast<uint8_t>(minor);
    });
  }
  void setBootloader(int major, int minor) {
    rx.edit([&](zk::virt::ReceiverState &s) {
      s.bootloader.major = static_cast<uint8_t>(major);
      s.bootloader.minor = static_cast<uint8_t>(minor);
    });
  }
  // Product variant bits 1-2 of EEPROM byte 3: Corvane is bit 2 alone.
  void setCorvane() {
    rx.edit([](zk::virt::ReceiverState &s) { s.eeprom[3] = (s.eeprom[3] & ~0x06) | 0x04; });
  }
  void addEntry(uint32_t hash, uint8_t modifier, uint8_t key) {
    rx.edit([&](zk::virt::ReceiverState &s) {
      const int size = s.image_size();
      for (int i = 0; i < 4; ++i) s.eeprom[size + i] = static_cast<uint8_t>(hash >> (8 * i));
      s.eeprom[size + 4] = modifier;
      s.eeprom[size + 5] = key;
      s.set_image_size(size + zk::virt::kEntrySize);
    });
  }
  int imageSize() { return rx.snapshot().image_size(); }
  // (modifier, key) of every stored button, in memory order.
  std::vector<std::pair<int, int>> entries() {
    auto s = rx.snapshot();
    std::vector<std::pair<int, int>> found;
    for (int at = zk::virt::kHeaderSize; at + zk::virt::kEntrySize <= s.image_size();
         at += zk::virt::kEntrySize)
      found.emplace_back(s.eeprom[at + 4], s.eeprom[at + 5]);
    return found;
  }
  // Control requests with this type and request seen so far.
  std::vector<zk::virt::Transfer> requests(uint8_t requestType, uint8_t request) {
    std::vector<zk::virt::Transfer> found;
    for (auto &t : bus.transcript())
      if (t.kind == zk::virt::Transfer::Kind::kControl && t.request_type == requestType &&
          t.request == request)
        found.push_back(t);
    return found;
  }
  int count(uint8_t requestType, uint8_t request) {
    return static_cast<int>(requests(requestType, request).size());
  }
};

#endif  // ZIRKO_TESTS_GUI_VIRTUAL_RIG_H
