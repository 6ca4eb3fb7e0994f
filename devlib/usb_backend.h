// The library's one seam to USB. It mirrors the libusb-1.0 calls the library
// uses, with libusb's result codes and semantics, so that the libusb backend
// and the virtual receiver bus are interchangeable under identical code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zirko.h"

namespace zk {

struct UsbDeviceDescriptor {
  uint16_t idVendor = 0;
  uint16_t idProduct = 0;
  uint8_t iManufacturer = 0;
  uint8_t iProduct = 0;
};

// LIBUSB_ERROR_* values, so that code above the backend needs no libusb.
enum UsbError : int {
  kUsbSuccess = 0,
  kUsbErrorIo = -1,
  kUsbErrorInvalidParam = -2,
  kUsbErrorAccess = -3,
  kUsbErrorNoDevice = -4,
  kUsbErrorNotFound = -5,
  kUsbErrorBusy = -6,
  kUsbErrorTimeout = -7,
  kUsbErrorOverflow = -8,
  kUsbErrorPipe = -9,
  kUsbErrorInterrupted = -10,
  kUsbErrorNoMem = -11,
  kUsbErrorNotSupported = -12,
  kUsbErrorOther = -99,
};

class UsbBackend {
 public:
  virtual ~UsbBackend() = default;
  // libusb_init(NULL): reference-counted default context. 0 or an error.
  virtual int init() = 0;
  // libusb_exit(NULL): releases one reference taken by init().
  virtual void exit() = 0;
  virtual void set_debug(int level) = 0;
  // libusb_get_device_list: each device carries one reference. Returns the
  // count or an error.
  virtual int get_device_list(std::vector<zk_usb_device *> &devices) = 0;
  // libusb_free_device_list(list, 1): drops the list's references.
  virtual void free_device_list(std::vector<zk_usb_device *> &devices) = 0;
  virtual int get_device_descriptor(zk_usb_device *dev, UsbDeviceDescriptor *desc) = 0;
  // libusb_open: 0 and a handle (which holds its own device reference).
  virtual int open(zk_usb_device *dev, zk_usb_handle **handle) = 0;
  virtual void close(zk_usb_handle *handle) = 0;
  virtual int claim_interface(zk_usb_handle *handle, int iface) = 0;
  virtual int release_interface(zk_usb_handle *handle, int iface) = 0;
  // libusb_kernel_driver_active: 1 when a kernel driver holds the interface
  // (a claim then fails with busy, though no program holds it).
  virtual int kernel_driver_active(zk_usb_handle *, int /* iface */) { return 0; }
  // Bytes written (NUL-terminated) or an error.
  virtual int get_string_descriptor_ascii(zk_usb_handle *handle, uint8_t index, unsigned char *data,
                                          int length) = 0;
  // Bytes transferred or an error. timeout 0 waits without limit.
  virtual int control_transfer(zk_usb_handle *handle, uint8_t request_type, uint8_t request,
                               uint16_t value, uint16_t index, unsigned char *data, uint16_t length,
                               unsigned int timeout_ms) = 0;
  // 0 or an error; *transferred receives the byte count in both cases.
  virtual int interrupt_transfer(zk_usb_handle *handle, uint8_t endpoint, unsigned char *data,
                                 int length, int *transferred, unsigned int timeout_ms) = 0;
  virtual int clear_halt(zk_usb_handle *handle, uint8_t endpoint) = 0;
  virtual int reset_device(zk_usb_handle *handle) = 0;
  // Where the device is plugged in ("bus-port.port"), which stays the same
  // when the device enumerates again; empty when the backend cannot tell.
  virtual std::string bus_position(zk_usb_device *) { return {}; }
  // Names the bus in the files that belong to one of its devices (the lock
  // that keeps two programs from writing to one receiver at once): the same
  // name in every program that sees this bus. Empty: the bus has no such files.
  virtual std::string bus_name() { return {}; }
  // How many devices of the vendor have arrived or left so far, counted from
  // the first call; -1 when the backend cannot tell (every poll must scan).
  virtual long bus_changes(int /* vendor_id */) { return -1; }
};

// The backend in use: an installed one (tests), else the virtual bus when
// ZIRKO_VIRTUAL names state files (one receiver each, separated by ':'),
// else libusb.
UsbBackend &usb_backend();
// Installs a backend (null restores the default choice). Not owned.
void set_usb_backend(UsbBackend *backend);

// The libusb-1.0 implementation.
UsbBackend &libusb_backend();

}  // namespace zk

namespace zk::virt {
// The virtual receiver bus for a ZIRKO_VIRTUAL value: one receiver per state
// file, in the order named (created on first use, kept for the process).
// Defined by the virtual receiver library.
UsbBackend &bus_for_state_file(const char *paths);
}  // namespace zk::virt
