// A minimal host for the virtual bus tests: scans, opens and talks to the
// first receiver through the bus's USB seam, as the library would.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bus.h"

namespace zk::virt::test {

struct BusHost {
  Bus &bus;
  zk_usb_handle *handle = nullptr;

  // Opens the first device whose manufacturer string is a Zirko one.
  bool open() {
    std::vector<zk_usb_device *> devices;
    bus.get_device_list(devices);
    for (auto *dev : devices) {
      UsbDeviceDescriptor desc;
      if (bus.get_device_descriptor(dev, &desc) != 0 || desc.idVendor != ZK_VENDOR_ID) continue;
      zk_usb_handle *h = nullptr;
      if (bus.open(dev, &h) != 0) continue;
      const std::string maker = string(h, desc.iManufacturer);
      if (maker == ZK_MANUFACTURER || maker == ZK_MANUFACTURER_LEGACY) {
        handle = h;
        break;
      }
      bus.close(h);
    }
    bus.free_device_list(devices);
    return handle != nullptr;
  }
  void close() {
    if (handle) bus.close(handle);
    handle = nullptr;
  }
  std::string string(zk_usb_handle *h, uint8_t index) {
    unsigned char text[256] = {};
    return bus.get_string_descriptor_ascii(h, index, text, sizeof text) >= 0
               ? reinterpret_cast<char *>(text)
               : "";
  }
  // IN request; returns the result, reply bytes in `reply`.
  int in(uint8_t type, uint8_t request, uint16_t value = 0, uint16_t index = 0, int length = 1,
         std::vector<uint8_t> *reply = nullptr) {
    std::vector<uint8_t> buffer(length + 1, 0xAA);
    int rc = bus.control_transfer(handle, type, request, value, index, buffer.data(),
                                  static_cast<uint16_t>(length), 5000);
    if (reply) reply->assign(buffer.begin(), buffer.begin() + std::max(rc, 0));
    return rc;
  }
  // Reply byte 0 of a one-byte request, or the error.
  int byte(uint8_t type, uint8_t request, uint16_t value = 0, uint16_t index = 0) {
    std::vector<uint8_t> reply;
    int rc = in(type, request, value, index, 1, &reply);
    return rc == 1 ? reply[0] : (rc < 0 ? rc : -1000);
  }
  int state() { return byte(0xC0, 5, 1); }
  int peek(int address) { return byte(0xC2, 2, static_cast<uint16_t>(address)); }
  int size() { return peek(0) << 8 | peek(1); }
};

}  // namespace zk::virt::test
