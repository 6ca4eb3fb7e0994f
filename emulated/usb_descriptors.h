// What a device shows to the host's USB stack before any vendor request: its
// identity (fixed for one enumeration, as the kernel caches it) and the
// standard descriptors built from it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bus.h"
#include "receiver_state.h"

namespace zk::emu {

struct DeviceIdentity {
  uint16_t vendor_id = 0;
  uint16_t product_id = 0;
  uint16_t bcd_device = 0x0100;
  std::string manufacturer;
  std::string product;
  bool receiver = false;      // two interfaces with endpoints 0x81 and 0x83
  bool strings_fail = false;  // string requests stall
};

// A receiver as it enumerates in its current mode: the bootloader presents
// the legacy manufacturer string, its own product id and "bootldr".
DeviceIdentity identity_of(const virt::ReceiverState &state);
DeviceIdentity identity_of(const virt::ForeignDevice &device);

// Device descriptor followed by the one configuration, as sysfs's
// `descriptors` attribute holds them.
std::vector<uint8_t> descriptor_blob(const DeviceIdentity &identity);

// Reply to GET_DESCRIPTOR (wValue: type and index, wIndex: language), or
// nothing when the device stalls.
std::optional<std::vector<uint8_t>> get_descriptor(const DeviceIdentity &identity, uint16_t value);

// Interface that owns an endpoint address, or -1 when there is no such
// endpoint.
int interface_of_endpoint(const DeviceIdentity &identity, uint8_t endpoint);
int interface_count(const DeviceIdentity &identity);

}  // namespace zk::emu
