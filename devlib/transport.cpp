// USB discovery, the device list and the two kinds of transfer.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "internal.h"
#include "usb_backend.h"

namespace {

// Head sentinel of the circular list of opened receivers, in scan order.
zk_device device_list{0, 0, 0, 0, 0, nullptr, nullptr, &device_list, &device_list};

constexpr const char *kScan = "zk_open_devices";  // the scan's lines carry its name
constexpr int kStringSize = 256;                  // string descriptor buffer

bool vendor_seen = false;  // the last scan met a device of the asked vendor

zk_device *default_allocator() {
  return static_cast<zk_device *>(calloc(1, sizeof(zk_device)));
}
zk::DeviceAllocator allocate_device = default_allocator;

int report_usb(const char *caller, int result) {
  if (result < 0) ZK_LOGD_AS(caller, "%s", zk_usb_strerror(result));
  return result;
}

// The product ids accepted and the interface claimed for a known manufacturer string.
struct Claim {
  int iface;
  uint16_t product_a;
  uint16_t product_b;
};

std::optional<Claim> claim_for(const char *manufacturer) {
  if (strcmp(manufacturer, ZK_MANUFACTURER_LEGACY) == 0) return Claim{0, 0x0000, 0x0002};
  if (strcmp(manufacturer, ZK_MANUFACTURER) == 0) return Claim{1, 0x0001, 0x0004};
  return std::nullopt;  // any other string: no product filter, no claim
}

// A claim refused because another program holds the interface; one that
// the kernel's keyboard driver holds is no refusal, as the vendor requests
// on the default pipe need no claim.
bool held_by_another_program(zk::UsbBackend &usb, zk_usb_handle *handle, int iface, int result) {
  return result == zk::kUsbErrorBusy && usb.kernel_driver_active(handle, iface) != 1;
}

// Claims the interface the manufacturer argument asks for; false when the product id does not fit.
bool claim_interface(zk::UsbBackend &usb, zk_usb_handle *handle, uint16_t product,
                     const char *manufacturer) {
  std::optional<Claim> claim = claim_for(manufacturer);
  if (!claim) return true;
  ZK_LOGI_AS(kScan, "claiming interface: %d", claim->iface);
  if (product != claim->product_a && product != claim->product_b) return false;
  // Unchecked: the kernel's keyboard driver may hold the interface, and the
  // vendor requests on the default pipe need no claim. Whether another
  // program holds it, zk_claim_receiver tells.
  usb.claim_interface(handle, claim->iface);
  return true;
}

// Reads the manufacturer string into `text`; false (after its message) when unreadable or
// different.
bool manufacturer_matches(zk::UsbBackend &usb, zk_usb_handle *handle, uint8_t index,
                          const char *manufacturer, unsigned char *text) {
  if (usb.get_string_descriptor_ascii(handle, index, text, kStringSize) < 0) {
    ZK_LOGE_AS(kScan, "Cannot query device, is the GUI open?");
    return false;
  }
  ZK_LOGD_AS(kScan, "Vendor: %s", reinterpret_cast<char *>(text));
  if (strcmp(reinterpret_cast<char *>(text), manufacturer) != 0) {
    fputs("manufacturer string doesn't match", stderr);
    return false;
  }
  return true;
}

void append(zk_device *list, zk_device *record) {
  record->prev = list->prev;
  record->next = list;
  list->prev->next = record;
  list->prev = record;
}

// Fills and appends the record of an accepted receiver. It takes its own
// reference to the USB context, which closing it releases; false when that fails.
bool append_record(zk::UsbBackend &usb, zk_device *list, zk_device *record, zk_usb_device *dev,
                   zk_usb_handle *handle, const zk::UsbDeviceDescriptor &desc, int index) {
  if (usb.init() < 0) return false;
  ZK_LOGD_AS(kScan, " [Vendor Match]");
  record->iface = (desc.idProduct & 0xFFFD) == 0 ? 0 : 1;
  record->vendor_id = desc.idVendor;
  record->product_id = desc.idProduct;
  record->index = index;
  record->dev = dev;
  record->handle = handle;
  unsigned char text[kStringSize] = {};
  usb.get_string_descriptor_ascii(handle, desc.iProduct, text, kStringSize);  // unchecked
  if (memcmp(text, "bootldr", 8) == 0) {
    ZK_LOGD_AS(kScan, "bootloader found");
    record->bootloader = 1;
  }
  append(list, record);
  return true;
}

enum class Probe { kSkipped, kAppended, kNoMemory };

// Opens one device and keeps it when it is a receiver of the asked manufacturer.
Probe probe(zk::UsbBackend &usb, zk_device *list, zk_usb_device *dev, int vendor_id,
            const char *manufacturer, int count) {
  zk::UsbDeviceDescriptor desc;
  if (usb.get_device_descriptor(dev, &desc) < 0) {
    fputs("failed to get device descriptor", stderr);
    return Probe::kSkipped;
  }
  if (desc.idVendor != vendor_id) return Probe::kSkipped;
  vendor_seen = true;
  zk_usb_handle *handle = nullptr;
  if (usb.open(dev, &handle) < 0 || !handle) {
    fputs("Warning: cannot open USB device", stderr);
    return Probe::kSkipped;
  }
  unsigned char text[kStringSize] = {};
  if (!claim_interface(usb, handle, desc.idProduct, manufacturer) ||
      !manufacturer_matches(usb, handle, desc.iManufacturer, manufacturer, text)) {
    usb.close(handle);
    return Probe::kSkipped;
  }
  zk_device *record = allocate_device();
  if (!record) {
    fputs("Cannot allocate memory", stderr);
    usb.close(handle);
    return Probe::kNoMemory;
  }
  if (append_record(usb, list, record, dev, handle, desc, count + 1)) return Probe::kAppended;
  free(record);
  usb.close(handle);
  return Probe::kSkipped;
}

// Closes and frees the records appended after `mark`, with their context references.
void discard_after(zk::UsbBackend &usb, zk_device *list, zk_device *mark) {
  while (list->prev != mark) {
    zk_device *record = list->prev;
    zk_unlink_device(record);
    usb.release_interface(record->handle, record->iface);
    usb.close(record->handle);
    usb.exit();
    free(record);
  }
}

// Scans a listed bus; the count appended, or -11 (nothing kept) when a record cannot be allocated.
int scan(zk::UsbBackend &usb, std::vector<zk_usb_device *> &devices, zk_device *list, int vendor_id,
         const char *manufacturer) {
  zk_device *mark = list->prev;
  int count = 0;
  for (zk_usb_device *dev : devices) {
    Probe result = probe(usb, list, dev, vendor_id, manufacturer, count);
    if (result == Probe::kAppended) ++count;
    if (result == Probe::kNoMemory) {
      discard_after(usb, list, mark);
      return zk::kUsbErrorNoMem;
    }
  }
  return count;
}

void make_current(zk_device *entry) {
  current_device = entry == &device_list ? nullptr : entry;
  current_handle = current_device ? current_device->handle : nullptr;
}

zk_device *position() {
  return current_device ? current_device : &device_list;
}

bool list_empty() {
  return device_list.next == &device_list;
}

}  // namespace

namespace zk {
void set_device_allocator(DeviceAllocator allocator) {
  allocate_device = allocator ? allocator : default_allocator;
}
}  // namespace zk

int zk_bus_changed(int vendor_id) {
  // A receiver just plugged in may refuse the first opens (its permissions
  // come a moment later), and an event can be missed: scans stay worth it
  // for a while after a change, and now and then in any case.
  constexpr int64_t kWorthScanningUs = 2'000'000;
  static long seen = -1;
  static int64_t last_change_us = 0, last_yes_us = 0;
  const long changes = zk::usb_backend().bus_changes(vendor_id);
  if (changes < 0) return 1;
  const int64_t now_us = zk::wait_clock().now_us();
  if (changes != seen) {
    seen = changes;
    last_change_us = now_us;
  }
  const bool worth =
      now_us - last_change_us < kWorthScanningUs || now_us - last_yes_us >= kWorthScanningUs;
  if (worth) last_yes_us = now_us;
  return worth;
}

int zk::transfer_result(const char *caller, int result, int least) {
  if (result >= least) return result;
  ZK_LOGD_AS(caller, "%s", zk_usb_strerror(result < 0 ? result : 0));
  return ZK_ERR_USB;
}

const char *zk_usb_strerror(int code) {
  switch (code) {
    case zk::kUsbSuccess:
      return "Success";
    case zk::kUsbErrorIo:
      return "Input/output error";
    case zk::kUsbErrorInvalidParam:
      return "Invalid parameter";
    case zk::kUsbErrorAccess:
      return "Access denied (insufficient permissions)";
    case zk::kUsbErrorNoDevice:
      return "No such device (it may have been disconnected)";
    case zk::kUsbErrorNotFound:
      return "Entity not found";
    case zk::kUsbErrorBusy:
      return "Resource busy";
    case zk::kUsbErrorTimeout:
      return "Operation timed out";
    case zk::kUsbErrorOverflow:
      return "Overflow";
    case zk::kUsbErrorPipe:
      return "Pipe error";
    case zk::kUsbErrorInterrupted:
      return "System call interrupted (perhaps due to signal)";
    case zk::kUsbErrorNoMem:
      return "Insufficient memory";
    case zk::kUsbErrorNotSupported:
      return "Operation not supported or unimplemented on this platform";
    case zk::kUsbErrorOther:
      return "Other error";
    default:
      return "Unknown error";
  }
}

// Each receiver kept holds one reference to the USB context; a scan that keeps
// none leaves the context as it found it.
int zk_open_devices(zk_device *list, int vendor_id, const char *manufacturer) {
  ZK_LOGI("trying to open: %02X :: %s", vendor_id, manufacturer);
  zk::UsbBackend &usb = zk::usb_backend();
  vendor_seen = false;
  int result = usb.init();
  if (result < 0) return result;
  if (zk_libusb_debug()) usb.set_debug(4);
  std::vector<zk_usb_device *> devices;
  result = usb.get_device_list(devices);
  if (result >= 0) {
    result = scan(usb, devices, list, vendor_id, manufacturer);
    usb.free_device_list(devices);
  }
  usb.exit();
  return result;
}

int zk_send_msg(int request_type, int request, int value, int index, unsigned char *data,
                int length, unsigned int timeout_ms) {
  if (!current_handle) {
    ZK_LOGD("pointer to handle is invalid");
    return ZK_ERR_NOT_USABLE;
  }
  int result = zk::usb_backend().control_transfer(
      current_handle, uint8_t(request_type), uint8_t(request), uint16_t(value), uint16_t(index),
      data, uint16_t(length), timeout_ms);
  return report_usb(__func__, result);
}

int zk_set_interrupt_ep(int endpoint, unsigned char *data, int length, int *transferred,
                        unsigned int timeout_ms) {
  if (!current_handle) {
    ZK_LOGD("pointer to handle is invalid");
    return ZK_ERR_NOT_USABLE;
  }
  int result = zk::usb_backend().interrupt_transfer(current_handle, uint8_t(endpoint), data, length,
                                                    transferred, timeout_ms);
  return report_usb(__func__, result);
}

void zk_close_usb(zk_device *device, int fw_state) {
  zk::UsbBackend &usb = zk::usb_backend();
  if (fw_state == ZK_STATE_FIRMWARE) usb.clear_halt(device->handle, zk::layout::kOutcomeEndpoint);
  usb.reset_device(device->handle);
  usb.release_interface(device->handle, device->iface);
  usb.close(device->handle);
  usb.exit();
}

bool zk_last_scan_saw_vendor() {
  return vendor_seen;
}

int zk_claim_receiver(int claim) {
  if (!current_device) return ZK_ERR_NOT_USABLE;
  zk::UsbBackend &usb = zk::usb_backend();
  if (!claim) {
    usb.release_interface(current_device->handle, current_device->iface);
    return ZK_OK;
  }
  const int result = usb.claim_interface(current_device->handle, current_device->iface);
  if (held_by_another_program(usb, current_device->handle, current_device->iface, result))
    return ZK_ERR_IN_USE;
  return ZK_OK;
}

void zk_discard_devices() {
  zk_discard_records(&device_list);
  make_current(&device_list);
}

void zk_discard_records(zk_device *list) {
  discard_after(zk::usb_backend(), list, list);
}

void zk_discard_others() {
  zk_device *keep = current_device;
  if (!keep) return;
  zk_unlink_device(keep);
  zk_discard_records(&device_list);
  append(&device_list, keep);
  make_current(keep);
}

std::string zk_bus_position(const zk_device *device) {
  return zk::usb_backend().bus_position(device->dev);
}

void zk_unlink_device(zk_device *device) {
  device->prev->next = device->next;
  device->next->prev = device->prev;
  device->next = device->prev = nullptr;
}

// Navigation: the list head stands for the end position, where no device is current.
int zk_next_device() {
  if (list_empty()) {
    ZK_LOGE("there are no devices");
    return ZK_ERR_LIST_EMPTY;
  }
  if (device_list.next == device_list.prev) ZK_LOGV("only one element in list");
  if (current_device && current_device->next == &device_list) ZK_LOGV("last device in list");
  make_current(position()->next);
  return 0;
}

int zk_prev_device() {
  if (list_empty()) return ZK_ERR_LIST_EMPTY;
  if (device_list.next == device_list.prev) return ZK_ERR_LIST_SINGLE;
  make_current(position()->prev);
  return 0;
}

int zk_first_device() {
  make_current(device_list.next);
  return 0;
}

int zk_device_is_last() {
  return current_device && current_device->next == &device_list;
}
int zk_device_is_first() {
  return current_device && current_device->prev == &device_list;
}
int zk_device_at_end() {
  return !current_device && !list_empty();
}
zk_device *zk_get_device_list() {
  return &device_list;
}
