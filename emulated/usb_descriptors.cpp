#include "usb_descriptors.h"

#include <algorithm>

#include "zirko.h"

namespace zk::emu {

namespace {

constexpr uint8_t kManufacturerIndex = 1;
constexpr uint8_t kProductIndex = 2;
constexpr uint16_t kLanguageEnUs = 0x0409;

void put16(std::vector<uint8_t> &out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

std::vector<uint8_t> device_descriptor(const DeviceIdentity &id) {
  std::vector<uint8_t> d = {18, 1 /* device */};
  put16(d, 0x0110);  // USB 1.1, a low-speed keyboard
  d.insert(d.end(), {0, 0, 0, 8 /* ep0 packet size */});
  put16(d, id.vendor_id);
  put16(d, id.product_id);
  put16(d, id.bcd_device);
  d.insert(d.end(), {kManufacturerIndex, kProductIndex, 0 /* no serial */, 1 /* configs */});
  return d;
}

void interface(std::vector<uint8_t> &out, uint8_t number, uint8_t endpoints, uint8_t cls,
               uint8_t subclass, uint8_t protocol) {
  out.insert(out.end(), {9, 4 /* interface */, number, 0, endpoints, cls, subclass, protocol, 0});
}

void interrupt_in(std::vector<uint8_t> &out, uint8_t address) {
  out.insert(out.end(), {7, 5 /* endpoint */, address, 3 /* interrupt */, 8, 0, 10 /* ms */});
}

std::vector<uint8_t> config_descriptor(const DeviceIdentity &id) {
  std::vector<uint8_t> body;
  if (id.receiver) {
    // The keyboard the user sees, and the vendor interface the library uses.
    interface(body, 0, 1, 3 /* HID */, 1 /* boot */, 1 /* keyboard */);
    body.insert(body.end(), {9, 0x21 /* HID */, 0x11, 0x01, 0, 1, 0x22 /* report */, 63, 0});
    interrupt_in(body, 0x81);
    interface(body, 1, 1, 0xFF, 0, 0);
    interrupt_in(body, virt::kInterruptEndpoint);
  } else {
    interface(body, 0, 0, 0xFF, 0, 0);
  }
  std::vector<uint8_t> c = {9, 2 /* configuration */};
  put16(c, static_cast<uint16_t>(9 + body.size()));
  c.insert(c.end(), {static_cast<uint8_t>(interface_count(id)), 1, 0, 0x80 /* bus powered */,
                     50 /* 100 mA */});
  c.insert(c.end(), body.begin(), body.end());
  return c;
}

std::vector<uint8_t> string_descriptor(const std::string &text) {
  const size_t chars = std::min<size_t>(text.size(), 126);
  std::vector<uint8_t> s = {static_cast<uint8_t>(2 + 2 * chars), 3 /* string */};
  for (size_t i = 0; i < chars; ++i) put16(s, static_cast<uint8_t>(text[i]));
  return s;
}

}  // namespace

DeviceIdentity identity_of(const virt::ReceiverState &state) {
  const bool bootloader = state.mode == virt::Mode::kBootloader;
  const virt::Version &version = bootloader ? state.bootloader : state.firmware;
  DeviceIdentity id;
  id.vendor_id = ZK_VENDOR_ID;
  id.product_id = bootloader ? state.bootloader_product_id : state.firmware_product_id;
  id.bcd_device = static_cast<uint16_t>(version.major << 8 | version.minor);
  id.manufacturer =
      bootloader || state.legacy_manufacturer ? ZK_MANUFACTURER_LEGACY : ZK_MANUFACTURER;
  id.product = bootloader ? "bootldr" : state.product;
  id.receiver = true;
  return id;
}

DeviceIdentity identity_of(const virt::ForeignDevice &device) {
  DeviceIdentity id;
  id.vendor_id = device.vendor_id;
  id.product_id = device.product_id;
  id.manufacturer = device.manufacturer;
  id.product = device.product;
  id.strings_fail = device.string_error != 0;
  return id;
}

std::vector<uint8_t> descriptor_blob(const DeviceIdentity &identity) {
  std::vector<uint8_t> blob = device_descriptor(identity);
  const std::vector<uint8_t> config = config_descriptor(identity);
  blob.insert(blob.end(), config.begin(), config.end());
  return blob;
}

std::optional<std::vector<uint8_t>> get_descriptor(const DeviceIdentity &identity, uint16_t value) {
  const uint8_t index = static_cast<uint8_t>(value);
  switch (value >> 8) {
    case 1 /* device */:
      return device_descriptor(identity);
    case 2 /* configuration */:
      if (index != 0) return std::nullopt;
      return config_descriptor(identity);
    case 3 /* string */:
      if (identity.strings_fail) return std::nullopt;
      if (index == 0) {
        std::vector<uint8_t> languages = {4, 3};
        put16(languages, kLanguageEnUs);
        return languages;
      }
      if (index == kManufacturerIndex) return string_descriptor(identity.manufacturer);
      if (index == kProductIndex) return string_descriptor(identity.product);
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

int interface_of_endpoint(const DeviceIdentity &identity, uint8_t endpoint) {
  if (!identity.receiver) return -1;
  if (endpoint == 0x81) return 0;
  if (endpoint == virt::kInterruptEndpoint) return 1;
  return -1;
}

int interface_count(const DeviceIdentity &identity) {
  return identity.receiver ? 2 : 1;
}

}  // namespace zk::emu
