// Choice of the USB backend: installed (tests), virtual bus, or libusb.
#include "usb_backend.h"

#include <cstdlib>

namespace zk {

namespace {
UsbBackend *installed = nullptr;
}  // namespace

UsbBackend &usb_backend() {
  if (installed) return *installed;
  const char *state_file = getenv("ZIRKO_VIRTUAL");
  if (state_file && *state_file) return virt::bus_for_state_file(state_file);
  return libusb_backend();
}

void set_usb_backend(UsbBackend *backend) {
  installed = backend;
}

}  // namespace zk

// Anything but libusb is a model of the receiver, never real hardware.
int zk_backend_is_virtual() {
  return &zk::usb_backend() != &zk::libusb_backend() ? 1 : 0;
}
