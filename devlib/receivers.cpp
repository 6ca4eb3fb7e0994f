// Several receivers on one bus: listing them, and choosing the one every
// open takes.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fw_common.h"
#include "internal.h"

namespace {

// "1-4.2" as numbers {1, 4, 2}; a position the bus cannot tell sorts last.
std::vector<long> position_numbers(const std::string &position) {
  std::vector<long> numbers;
  const char *at = position.c_str();
  while (*at) {
    char *end = nullptr;
    numbers.push_back(strtol(at, &end, 10));
    if (end == at) return {};  // not a position we know how to order
    at = *end ? end + 1 : end;
  }
  return numbers;
}

bool bus_order(const std::pair<std::string, zk_device *> &a,
               const std::pair<std::string, zk_device *> &b) {
  const std::vector<long> x = position_numbers(a.first), y = position_numbers(b.first);
  if (x.empty() != y.empty()) return y.empty();
  return x < y;
}

// Makes a record of the listing's own scan current for as long as it lives,
// and puts the receiver in use back after.
class Borrowed {
 public:
  explicit Borrowed(zk_device *record) : device_(current_device), handle_(current_handle) {
    current_device = record;
    current_handle = record->handle;
  }
  ~Borrowed() {
    current_device = device_;
    current_handle = handle_;
  }
  Borrowed(const Borrowed &) = delete;
  Borrowed &operator=(const Borrowed &) = delete;

 private:
  zk_device *device_;
  zk_usb_handle *handle_;
};

// Version, variant and buttons: reads only. The size header is read once.
void read_details(zk_device *record, zk_receiver &out) {
  Borrowed borrowed(record);
  zk_read_version(&out.major, &out.minor);
  zk::EepromSnapshot snapshot;
  const int product = zk_product_type();
  out.product = product == ZK_PRODUCT_ZIRKO || product == ZK_PRODUCT_CORVANE ? product
                : product < 0                                                ? product
                                                                             : 0;
  out.recorded = zk::fw::keys_recorded();
  out.remaining = out.recorded < 0 ? out.recorded : zk::fw::keys_remaining("zk_list_receivers");
}

}  // namespace

int zk_list_receivers(int vendor_id, zk_receiver *list, int room, int details) {
  // A scan of our own, so the device list and the receiver in use stay as
  // they are.
  zk_device found{};
  found.next = found.prev = &found;
  int result = zk_open_devices(&found, vendor_id, ZK_MANUFACTURER);
  // Bootloaders and older firmware answer to the legacy string only.
  if (result >= 0 && zk_last_scan_saw_vendor()) {
    const int legacy = zk_open_devices(&found, vendor_id, ZK_MANUFACTURER_LEGACY);
    result = legacy < 0 ? legacy : result + legacy;
  }
  std::vector<std::pair<std::string, zk_device *>> receivers;
  for (zk_device *d = found.next; d != &found; d = d->next)
    receivers.emplace_back(zk_bus_position(d), d);
  std::stable_sort(receivers.begin(), receivers.end(), bus_order);
  for (size_t i = 0; result >= 0 && list && i < receivers.size() && int(i) < room; ++i) {
    zk_receiver &out = list[i];
    zk_device *record = receivers[i].second;
    out = {};
    snprintf(out.position, sizeof out.position, "%s", receivers[i].first.c_str());
    out.state = record->bootloader ? ZK_STATE_BOOTLOADER : ZK_STATE_FIRMWARE;
    out.major = out.minor = out.product = out.recorded = out.remaining = ZK_ERR_UNSUPPORTED;
    if (details) read_details(record, out);
  }
  zk_discard_records(&found);
  return result < 0 ? result : int(receivers.size());
}

const char *zk_current_position() {
  static std::string position;
  position = current_device ? zk_bus_position(current_device) : "";
  return position.c_str();
}

int zk_open_device_at(int vendor_id, const char *manufacturer, const char *position) {
  zk_choose_device(position);
  return zk_open_device(vendor_id, manufacturer);
}
