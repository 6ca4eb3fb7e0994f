#include "bus.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <thread>
#include <utility>

namespace zk::virt {

struct Bus::Slot {
  std::unique_ptr<Receiver> receiver;  // null for a foreign device
  ForeignDevice foreign;
  Device *current = nullptr;  // its latest enumeration
  int port = 0;
};

// One enumeration of a slot: what libusb calls a device. Descriptors and
// strings are fixed when it appears, as the host caches them.
struct Bus::Device {
  Slot *slot = nullptr;
  uint64_t enumeration = 0;
  int refs = 0;
  UsbDeviceDescriptor descriptor;
  std::string manufacturer;
  std::string product;
};

struct Bus::Handle {
  Device *device = nullptr;
  std::vector<int> claimed;
  uint64_t holder = 0;  // as the receiver knows this handle's claim
};

namespace {

constexpr uint8_t kManufacturerIndex = 1;
constexpr uint8_t kProductIndex = 2;

template <typename T, typename Map>
T *find_in(Map &map, void *p) {
  auto it = map.find(static_cast<const T *>(p));
  return it == map.end() ? nullptr : it->second.get();
}

// The result of a transfer that never reaches a receiver: its handle is
// stale and a fault was to take it, a fault takes it, or the device is a
// foreign one, which answers no vendor request. Nothing when the receiver
// is to serve it (it tells a stale handle itself).
std::optional<int> refused_result(const std::optional<Fault> &fault, Receiver *receiver,
                                  uint64_t enumeration) {
  if (fault && receiver && receiver->arrival() != enumeration) return kUsbErrorNoDevice;
  if (fault && fault->action == Fault::Action::kError) return fault->error;
  if (fault && fault->action == Fault::Action::kDisconnect) {
    if (receiver) receiver->unplug();
    return kUsbErrorNoDevice;
  }
  if (!receiver) return kUsbErrorPipe;
  return std::nullopt;
}

}  // namespace

Bus::Bus() = default;
Bus::~Bus() = default;

Receiver &Bus::add_receiver(ReceiverState state, SharedState *shared) {
  std::lock_guard lock(mu_);
  auto slot = std::make_unique<Slot>();
  slot->receiver = std::make_unique<Receiver>(std::move(state), shared);
  slot->port = next_port_++;
  Receiver &receiver = *slot->receiver;
  slots_.push_back(std::move(slot));
  return receiver;
}

void Bus::add_foreign(const ForeignDevice &device) {
  std::lock_guard lock(mu_);
  auto slot = std::make_unique<Slot>();
  slot->foreign = device;
  slot->port = next_port_++;
  slots_.push_back(std::move(slot));
}

void Bus::skip_port() {
  std::lock_guard lock(mu_);
  ++next_port_;
}

Receiver *Bus::receiver(size_t i) {
  std::lock_guard lock(mu_);
  for (auto &slot : slots_) {
    if (slot->receiver && i-- == 0) return slot->receiver.get();
  }
  return nullptr;
}

Receiver *Bus::receiver_of(zk_usb_device *dev) {
  std::lock_guard lock(mu_);
  Device *device = device_of(dev);
  return device ? device->slot->receiver.get() : nullptr;
}

size_t Bus::receiver_count() {
  std::lock_guard lock(mu_);
  return std::count_if(slots_.begin(), slots_.end(),
                       [](auto &s) { return s->receiver != nullptr; });
}

std::vector<Transfer> Bus::transcript() {
  std::lock_guard lock(mu_);
  return {transcript_.begin(), transcript_.end()};
}

void Bus::clear_transcript() {
  std::lock_guard lock(mu_);
  transcript_.clear();
}

void Bus::set_transcript_limit(size_t transfers) {
  std::lock_guard lock(mu_);
  transcript_limit_ = transfers;
  while (transcript_.size() > transcript_limit_) transcript_.pop_front();
}

void Bus::add_fault(const Fault &fault) {
  std::lock_guard lock(mu_);
  Fault f = fault;
  if (f.nth > 0) f.nth += transfers_;  // kept as an absolute transfer number
  faults_.push_back(f);
}

void Bus::fail_transfer(int nth, int error) {
  add_fault({.action = Fault::Action::kError, .nth = nth, .error = error});
}

void Bus::fail_request(uint8_t request_type, uint8_t request, int error) {
  add_fault({.action = Fault::Action::kError,
             .request_type = request_type,
             .request = request,
             .error = error});
}

void Bus::disconnect_at(int nth) {
  add_fault({.action = Fault::Action::kDisconnect, .nth = nth});
}

void Bus::reply_length(uint8_t request_type, uint8_t request, int length) {
  add_fault({.action = Fault::Action::kReplyLength,
             .request_type = request_type,
             .request = request,
             .reply_length = length});
}

void Bus::clear_faults() {
  std::lock_guard lock(mu_);
  faults_.clear();
}

void Bus::set_latency(std::chrono::milliseconds latency) {
  std::lock_guard lock(mu_);
  latency_ = latency;
}

int Bus::init_refs() {
  std::lock_guard lock(mu_);
  return init_refs_;
}

int Bus::device_refs() {
  std::lock_guard lock(mu_);
  int refs = 0;
  for (auto &[key, d] : devices_) refs += d->refs;
  return refs;
}

int Bus::open_handles() {
  std::lock_guard lock(mu_);
  return static_cast<int>(handles_.size());
}

Bus::Holdings Bus::holdings() {
  std::lock_guard lock(mu_);
  return {handles_.size(), devices_.size(), transcript_.size()};
}

Bus::Device *Bus::device_of(zk_usb_device *dev) {
  return find_in<Device>(devices_, dev);
}

Bus::Handle *Bus::handle_of(zk_usb_handle *handle) {
  return find_in<Handle>(handles_, handle);
}

Bus::Device *Bus::current_device_locked(Slot &slot) {
  uint64_t enumeration = 0;
  if (slot.receiver) {
    const auto arrival = slot.receiver->arrival();
    if (!arrival) return nullptr;
    enumeration = *arrival;
  }
  if (slot.current && slot.current->enumeration == enumeration) return slot.current;
  Device *old = std::exchange(slot.current, new_device_locked(slot, enumeration));
  release_locked(old);
  return slot.current;
}

void Bus::release_locked(Device *device) {
  if (device && device->refs == 0 && device->slot->current != device) devices_.erase(device);
}

Bus::Device *Bus::new_device_locked(Slot &slot, uint64_t enumeration) {
  auto device = std::make_unique<Device>();
  device->slot = &slot;
  device->enumeration = enumeration;
  if (slot.receiver) {
    const ReceiverState state = slot.receiver->snapshot();
    const bool bootloader = state.mode == Mode::kBootloader;
    device->descriptor.idVendor = ZK_VENDOR_ID;
    device->descriptor.idProduct =
        bootloader ? state.bootloader_product_id : state.firmware_product_id;
    device->manufacturer =
        bootloader || state.legacy_manufacturer ? ZK_MANUFACTURER_LEGACY : ZK_MANUFACTURER;
    device->product = bootloader ? "bootldr" : state.product;
  } else {
    device->descriptor.idVendor = slot.foreign.vendor_id;
    device->descriptor.idProduct = slot.foreign.product_id;
    device->manufacturer = slot.foreign.manufacturer;
    device->product = slot.foreign.product;
  }
  device->descriptor.iManufacturer = kManufacturerIndex;
  device->descriptor.iProduct = kProductIndex;
  Device *added = device.get();
  devices_.emplace(added, std::move(device));
  return added;
}

bool Bus::handle_alive_locked(Handle &handle) {
  Receiver *receiver = handle.device->slot->receiver.get();
  return !receiver || receiver->arrival() == handle.device->enumeration;
}

std::optional<Fault> Bus::take_fault_locked(int request_type, int request) {
  ++transfers_;
  for (auto it = faults_.begin(); it != faults_.end(); ++it) {
    if (it->nth > 0) {
      if (it->nth != transfers_) continue;
      Fault fault = *it;
      faults_.erase(it);
      return fault;
    }
    if ((it->request_type < 0 || it->request_type == request_type) &&
        (it->request < 0 || it->request == request)) {
      Fault fault = *it;
      if (it->times > 0 && --it->times == 0) faults_.erase(it);
      return fault;
    }
  }
  return std::nullopt;
}

void Bus::record(Transfer transfer) {
  std::lock_guard lock(mu_);
  if (transcript_limit_ == 0) return;
  if (transcript_.size() >= transcript_limit_) transcript_.pop_front();
  transcript_.push_back(std::move(transfer));
}

int Bus::init() {
  std::lock_guard lock(mu_);
  ++init_refs_;
  return kUsbSuccess;
}

void Bus::exit() {
  std::lock_guard lock(mu_);
  --init_refs_;
}

void Bus::set_debug(int level) {
  std::lock_guard lock(mu_);
  debug_level_ = level;
}

int Bus::get_device_list(std::vector<zk_usb_device *> &devices) {
  std::lock_guard lock(mu_);
  devices.clear();
  for (auto &slot : slots_) {
    Device *device = current_device_locked(*slot);
    if (!device) continue;
    ++device->refs;
    devices.push_back(reinterpret_cast<zk_usb_device *>(device));
  }
  return static_cast<int>(devices.size());
}

void Bus::free_device_list(std::vector<zk_usb_device *> &devices) {
  std::lock_guard lock(mu_);
  for (auto *dev : devices) {
    if (Device *device = device_of(dev)) {
      --device->refs;
      release_locked(device);
    }
  }
  devices.clear();
}

int Bus::get_device_descriptor(zk_usb_device *dev, UsbDeviceDescriptor *desc) {
  std::lock_guard lock(mu_);
  Device *device = device_of(dev);
  if (!device) return kUsbErrorInvalidParam;
  if (int error = device->slot->foreign.descriptor_error) return error;
  *desc = device->descriptor;
  return kUsbSuccess;
}

int Bus::open(zk_usb_device *dev, zk_usb_handle **handle) {
  std::lock_guard lock(mu_);
  *handle = nullptr;
  Device *device = device_of(dev);
  if (!device) return kUsbErrorInvalidParam;
  Slot &slot = *device->slot;
  if (slot.receiver ? current_device_locked(slot) != device : false) return kUsbErrorNoDevice;
  if (int error = slot.foreign.open_error) return error;
  auto h = std::make_unique<Handle>();
  h->device = device;
  static uint32_t serial = 0;
  h->holder = uint64_t(::getpid()) << 32 | ++serial;
  ++device->refs;
  *handle = reinterpret_cast<zk_usb_handle *>(h.get());
  handles_.emplace(h.get(), std::move(h));
  return kUsbSuccess;
}

void Bus::close(zk_usb_handle *handle) {
  std::lock_guard lock(mu_);
  Handle *h = handle_of(handle);
  if (!h) return;
  Device *device = h->device;
  // Closing gives up the claim, as usbfs does.
  if (!h->claimed.empty() && device->slot->receiver) device->slot->receiver->release(h->holder);
  handles_.erase(h);
  --device->refs;
  release_locked(device);
}

int Bus::claim_interface(zk_usb_handle *handle, int iface) {
  std::lock_guard lock(mu_);
  Handle *h = handle_of(handle);
  if (!h) return kUsbErrorInvalidParam;
  if (!handle_alive_locked(*h)) return kUsbErrorNoDevice;
  // Receivers have the keyboard (0) and the vendor interface (1).
  const int interfaces = h->device->slot->receiver ? 2 : 1;
  if (iface < 0 || iface >= interfaces) return kUsbErrorNotFound;
  for (auto &[key, other] : handles_) {
    if (other.get() != h && other->device == h->device &&
        std::count(other->claimed.begin(), other->claimed.end(), iface)) {
      return kUsbErrorBusy;
    }
  }
  // Other programs on a shared receiver hold their claims in it.
  Receiver *receiver = h->device->slot->receiver.get();
  if (receiver && !receiver->claim(h->holder)) return kUsbErrorBusy;
  if (!std::count(h->claimed.begin(), h->claimed.end(), iface)) h->claimed.push_back(iface);
  return kUsbSuccess;
}

int Bus::release_interface(zk_usb_handle *handle, int iface) {
  std::lock_guard lock(mu_);
  Handle *h = handle_of(handle);
  if (!h) return kUsbErrorInvalidParam;
  if (!handle_alive_locked(*h)) return kUsbErrorNoDevice;
  auto it = std::find(h->claimed.begin(), h->claimed.end(), iface);
  if (it == h->claimed.end()) return kUsbErrorNotFound;
  h->claimed.erase(it);
  if (h->claimed.empty() && h->device->slot->receiver)
    h->device->slot->receiver->release(h->holder);
  return kUsbSuccess;
}

int Bus::get_string_descriptor_ascii(zk_usb_handle *handle, uint8_t index, unsigned char *data,
                                     int length) {
  std::lock_guard lock(mu_);
  Handle *h = handle_of(handle);
  if (!h || length <= 0) return kUsbErrorInvalidParam;
  if (!handle_alive_locked(*h)) return kUsbErrorNoDevice;
  if (int error = h->device->slot->foreign.string_error) return error;
  const std::string *text = index == kManufacturerIndex ? &h->device->manufacturer
                            : index == kProductIndex    ? &h->device->product
                                                        : nullptr;
  if (!text) return kUsbErrorPipe;
  const int n = std::min<int>(static_cast<int>(text->size()), length - 1);
  std::memcpy(data, text->data(), n);
  data[n] = 0;
  return n;
}

std::optional<Bus::Route> Bus::route(zk_usb_handle *handle, int request_type, int request) {
  std::lock_guard lock(mu_);
  Handle *h = handle_of(handle);
  if (!h) return std::nullopt;
  Route path;
  path.fault = take_fault_locked(request_type, request);
  path.receiver = h->device->slot->receiver.get();
  path.enumeration = h->device->enumeration;
  path.latency = latency_;
  return path;
}

int Bus::control_transfer(zk_usb_handle *handle, uint8_t request_type, uint8_t request,
                          uint16_t value, uint16_t index, unsigned char *data, uint16_t length,
                          unsigned int timeout_ms) {
  Transfer t;
  t.request_type = request_type;
  t.request = request;
  t.value = value;
  t.index = index;
  t.length = length;
  t.timeout_ms = timeout_ms;
  auto path = route(handle, request_type, request);
  if (!path) return kUsbErrorInvalidParam;
  auto [receiver, enumeration, fault, latency] = *path;
  if (latency.count() > 0) std::this_thread::sleep_for(latency);
  const bool in = request_type & 0x80;
  if (auto refused = refused_result(fault, receiver, enumeration)) {
    t.result = *refused;
  } else {
    const int forced = fault ? fault->reply_length : -1;
    // IN: the device may try to send more than asked; OUT: only part arrives.
    const int seen = in            ? std::max<int>(length, forced)
                     : forced >= 0 ? std::min<int>(length, forced)
                                   : length;
    Setup setup{request_type, request, value, index, static_cast<uint16_t>(seen)};
    std::vector<unsigned char> buffer(std::max<int>({setup.length, kReplyCapacity, 1}), 0);
    if (!in && length > 0) std::memcpy(buffer.data(), data, length);
    t.result = receiver->control(setup, buffer.data(), timeout_ms, enumeration);
    if (t.result >= 0 && forced >= 0) t.result = forced > length ? kUsbErrorOverflow : forced;
    if (in && length > 0)
      std::memcpy(data, buffer.data(), std::max(0, std::min<int>(length, t.result)));
    if (!in && t.result >= 0 && forced < 0) t.result = length;
  }
  if (in && t.result > 0) t.data.assign(data, data + t.result);
  if (!in && length > 0) t.data.assign(data, data + length);
  const int result = t.result;
  record(std::move(t));
  return result;
}

int Bus::interrupt_transfer(zk_usb_handle *handle, uint8_t endpoint, unsigned char *data,
                            int length, int *transferred, unsigned int timeout_ms) {
  *transferred = 0;
  Transfer t;
  t.kind = Transfer::Kind::kInterrupt;
  t.length = length;
  t.timeout_ms = timeout_ms;
  t.endpoint = endpoint;
  auto path = route(handle, -1, -1);
  if (!path) return kUsbErrorInvalidParam;
  auto [receiver, enumeration, fault, latency] = *path;
  if (auto refused = refused_result(fault, receiver, enumeration)) {
    t.result = *refused;
  } else {
    // Blocks with no bus lock held, so control transfers go on meanwhile.
    t.result =
        receiver->interrupt_read(endpoint, data, length, transferred, timeout_ms, enumeration);
  }
  if (*transferred > 0) t.data.assign(data, data + *transferred);
  const int result = t.result;
  record(std::move(t));
  return result;
}

int Bus::clear_halt(zk_usb_handle *handle, uint8_t) {
  std::lock_guard lock(mu_);
  Handle *h = handle_of(handle);
  if (!h) return kUsbErrorInvalidParam;
  return handle_alive_locked(*h) ? kUsbSuccess : kUsbErrorNoDevice;
}

int Bus::reset_device(zk_usb_handle *handle) {
  std::lock_guard lock(mu_);
  Handle *h = handle_of(handle);
  if (!h) return kUsbErrorInvalidParam;
  return handle_alive_locked(*h) ? kUsbSuccess : kUsbErrorNoDevice;
}

std::string Bus::bus_position(zk_usb_device *dev) {
  std::lock_guard lock(mu_);
  Device *device = device_of(dev);
  return device ? "1-" + std::to_string(device->slot->port) : std::string();
}

}  // namespace zk::virt

namespace zk::virt {

std::string Bus::bus_name() {
  std::lock_guard lock(mu_);
  return name_;
}

void Bus::set_bus_name(std::string name) {
  std::lock_guard lock(mu_);
  name_ = std::move(name);
}

}  // namespace zk::virt
