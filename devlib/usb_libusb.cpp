// The libusb-1.0 backend on the default context. The seam's opaque device and
// handle types are libusb's own, reinterpreted.
#include <libusb.h>

#include <atomic>

#include "usb_backend.h"

namespace zk {

namespace {

libusb_device *to_libusb(zk_usb_device *dev) {
  return reinterpret_cast<libusb_device *>(dev);
}
libusb_device_handle *to_libusb(zk_usb_handle *handle) {
  return reinterpret_cast<libusb_device_handle *>(handle);
}

// Arrivals and departures counted by the hotplug callback, which runs in
// whichever thread handles libusb's events.
std::atomic<long> hotplug_events{0};

int LIBUSB_CALL count_hotplug_event(libusb_context *, libusb_device *, libusb_hotplug_event,
                                    void *) {
  ++hotplug_events;
  return 0;  // stay registered
}

// Registers the callback for the process's life; false where the platform
// sends no hotplug events.
bool watch_vendor(int vendor_id) {
  if (libusb_init(nullptr) < 0) return false;  // the watch's own reference
  if (!libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) return false;
  const auto events = static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED |
                                                        LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT);
  return libusb_hotplug_register_callback(nullptr, events, LIBUSB_HOTPLUG_NO_FLAGS, vendor_id,
                                          LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
                                          count_hotplug_event, nullptr, nullptr) == 0;
}

class LibusbBackend final : public UsbBackend {
 public:
  // The first use takes a reference that lives as long as the process, so
  // that a scan does not start and stop the USB library each time.
  int init() override {
    static const int kept = libusb_init(nullptr);
    return kept < 0 ? kept : libusb_init(nullptr);
  }
  void exit() override { libusb_exit(nullptr); }

  void set_debug(int level) override { libusb_set_option(nullptr, LIBUSB_OPTION_LOG_LEVEL, level); }

  int get_device_list(std::vector<zk_usb_device *> &devices) override {
    libusb_device **list = nullptr;
    ssize_t count = libusb_get_device_list(nullptr, &list);
    if (count < 0) return static_cast<int>(count);
    devices.assign(reinterpret_cast<zk_usb_device **>(list),
                   reinterpret_cast<zk_usb_device **>(list) + count);
    libusb_free_device_list(list, 0);  // the references now travel in `devices`
    return static_cast<int>(count);
  }

  void free_device_list(std::vector<zk_usb_device *> &devices) override {
    for (zk_usb_device *dev : devices) libusb_unref_device(to_libusb(dev));
    devices.clear();
  }

  int get_device_descriptor(zk_usb_device *dev, UsbDeviceDescriptor *desc) override {
    libusb_device_descriptor raw{};
    int result = libusb_get_device_descriptor(to_libusb(dev), &raw);
    if (result < 0) return result;
    *desc = {raw.idVendor, raw.idProduct, raw.iManufacturer, raw.iProduct};
    return 0;
  }

  std::string bus_position(zk_usb_device *dev) override {
    uint8_t ports[8];
    int depth = libusb_get_port_numbers(to_libusb(dev), ports, sizeof ports);
    if (depth <= 0) return {};
    std::string position = std::to_string(libusb_get_bus_number(to_libusb(dev))) + "-";
    for (int i = 0; i < depth; ++i) position += (i ? "." : "") + std::to_string(ports[i]);
    return position;
  }

  std::string bus_name() override { return "usb"; }

  int open(zk_usb_device *dev, zk_usb_handle **handle) override {
    libusb_device_handle *raw = nullptr;
    int result = libusb_open(to_libusb(dev), &raw);
    *handle = reinterpret_cast<zk_usb_handle *>(raw);
    return result;
  }

  void close(zk_usb_handle *handle) override { libusb_close(to_libusb(handle)); }

  int claim_interface(zk_usb_handle *handle, int iface) override {
    return libusb_claim_interface(to_libusb(handle), iface);
  }

  int kernel_driver_active(zk_usb_handle *handle, int iface) override {
    return libusb_kernel_driver_active(to_libusb(handle), iface);
  }

  int release_interface(zk_usb_handle *handle, int iface) override {
    return libusb_release_interface(to_libusb(handle), iface);
  }

  int get_string_descriptor_ascii(zk_usb_handle *handle, uint8_t index, unsigned char *data,
                                  int length) override {
    return libusb_get_string_descriptor_ascii(to_libusb(handle), index, data, length);
  }

  int control_transfer(zk_usb_handle *handle, uint8_t request_type, uint8_t request, uint16_t value,
                       uint16_t index, unsigned char *data, uint16_t length,
                       unsigned int timeout_ms) override {
    return libusb_control_transfer(to_libusb(handle), request_type, request, value, index, data,
                                   length, timeout_ms);
  }

  int interrupt_transfer(zk_usb_handle *handle, uint8_t endpoint, unsigned char *data, int length,
                         int *transferred, unsigned int timeout_ms) override {
    return libusb_interrupt_transfer(to_libusb(handle), endpoint, data, length, transferred,
                                     timeout_ms);
  }

  int clear_halt(zk_usb_handle *handle, uint8_t endpoint) override {
    return libusb_clear_halt(to_libusb(handle), endpoint);
  }

  int reset_device(zk_usb_handle *handle) override {
    return libusb_reset_device(to_libusb(handle));
  }

  long bus_changes(int vendor_id) override {
    static const bool watching = watch_vendor(vendor_id);
    if (!watching) return -1;
    timeval no_wait{0, 0};  // only the events already queued
    libusb_handle_events_timeout_completed(nullptr, &no_wait, nullptr);
    return hotplug_events.load();
  }
};

}  // namespace

UsbBackend &libusb_backend() {
  static LibusbBackend backend;
  return backend;
}

}  // namespace zk
