#include "emulated_bus.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "emulated_input.h"
#include "usb_descriptors.h"

namespace zk::emu {

namespace {

using namespace std::chrono_literals;

// The device node is a regular file, so libusb's poll always reports it
// ready; an empty reap that follows another one is answered after this
// pause so that a waiting libusb does not spin.
constexpr auto kIdleReap = 10ms;
constexpr auto kWatchInterval = 5ms;
constexpr int kBus = 1;
// usbfs refuses larger interrupt buffers from a full-speed device as well.
constexpr int kMaxInterruptBuffer = 4096;
constexpr int kSetupSize = 8;

struct GObjectUnref {
  void operator()(gpointer object) const {
    if (object) g_object_unref(object);
  }
};
using DataRef = std::unique_ptr<UMockdevIoctlData, GObjectUnref>;

// Resolves client memory; null (and the error dropped) when the client
// passed a bad pointer.
DataRef resolve(UMockdevIoctlData *data, size_t offset, size_t length) {
  GError *error = nullptr;
  DataRef resolved(umockdev_ioctl_data_resolve(data, offset, length, &error));
  if (error) g_error_free(error);
  return resolved;
}

// URB status the kernel would report for the model's libusb-style result.
int urb_status(int result) {
  if (result >= 0) return 0;
  switch (result) {
    case kUsbErrorPipe:
      return -EPIPE;
    case kUsbErrorNoDevice:
      return -ESHUTDOWN;
    case kUsbErrorOverflow:
      return -EOVERFLOW;
    default:
      return -EPROTO;
  }
}

uint16_t le16(const uint8_t *p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

std::string hex(const std::vector<uint8_t> &bytes) {
  std::string out;
  char pair[3];
  for (uint8_t b : bytes) {
    std::snprintf(pair, sizeof pair, "%02X", b);
    out += pair;
  }
  return out;
}

// Sysfs attribute text in the testbed's record format.
std::string attribute_text(const std::string &value) {
  std::string out;
  for (char ch : value) {
    if (ch == '\\')
      out += "\\\\";
    else if (ch == '\n')
      out += "\\n";
    else
      out += ch;
  }
  return out + "\\n";  // sysfs values end with a line end
}

std::string format(const char *fmt, auto... args) {
  char text[128];
  std::snprintf(text, sizeof text, fmt, args...);
  return text;
}

}  // namespace

struct EmulatedBus::Impl {
  struct Slot {
    std::unique_ptr<virt::Receiver> owned;
    virt::Receiver *receiver = nullptr;  // null for a foreign device
    virt::ForeignDevice foreign;
    int port = 0;
    bool listed = false;
    uint64_t enumeration = 0;
    std::string syspath;
    std::string devnode;
    std::string input_node;             // the keyboard interface's event node, or ""
    std::vector<std::string> children;  // sysfs paths under the device, parents first
    uint64_t keys_seen = 0;             // key reports of the receiver already on the node
  };
  // One enumeration of a slot under one device node.
  struct Node {
    Slot *slot = nullptr;  // null: a node nobody serves any more
    uint64_t enumeration = 0;
    DeviceIdentity identity;
  };
  struct Urb {
    DataRef urb;
    DataRef buffer;
    uintptr_t address = 0;  // in the client, as DISCARDURB names it
    virt::Transfer transfer;
    usbdevfs_urb *raw() { return reinterpret_cast<usbdevfs_urb *>(urb->data); }
  };
  struct Client {
    UMockdevIoctlClient *client = nullptr;  // referenced
    std::shared_ptr<Node> node;
    std::vector<int> claimed;
    std::vector<Urb> pending;  // interrupt reads
    std::deque<Urb> done;
    int empty_reaps = 0;
  };
  struct Reply {
    Reply() = default;
    Reply(long result, int error, DataRef keep = {})
        : result(result), error(error), keep(std::move(keep)) {}
    long result = 0;
    int error = 0;
    DataRef keep;  // reaped URB: must live until the reply is synced back
  };
  struct Publication {
    Slot *slot;
    std::string record;
    std::string input_node;  // "" for none
    InputIdentity input;
  };

  Impl();
  ~Impl();
  // Adds a filled slot: the watcher may publish it the moment it is listed.
  void add_slot(std::unique_ptr<Slot> slot);
  void sync();
  void watch();
  void wake_watcher();

  static gboolean on_ioctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer self);
  static void on_vanished(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer self);
  Reply dispatch(UMockdevIoctlClient *uc);
  Client &client_for(UMockdevIoctlClient *uc);
  void drop_client(UMockdevIoctlClient *uc);
  bool alive(const Client &c);
  Reply claim(Client &c, unsigned iface, const char *what);
  Reply release(Client &c, UMockdevIoctlData *arg);
  Reply clear_halt(Client &c, UMockdevIoctlData *arg);
  Reply capabilities(UMockdevIoctlData *arg);
  Reply submit(Client &c, UMockdevIoctlData *arg);
  Reply submit_control(Client &c, Urb urb);
  Reply submit_interrupt(Client &c, Urb urb);
  Reply reap(Client &c, UMockdevIoctlData *arg, std::unique_lock<std::mutex> &lock);
  Reply discard(Client &c, UMockdevIoctlData *arg);
  void poll_interrupts(Client &c, std::chrono::milliseconds wait);
  void finish(Client &c, size_t pending_index, int status, int length, int result);
  Reply log(const std::string &what, int error);
  std::string publication_record(Slot &slot, int devnum, const DeviceIdentity &identity);
  std::string input_record(Slot &slot, int devnum, const InputIdentity &input);
  void type_keys(Slot &slot);

  UMockdevTestbed *testbed = nullptr;
  UMockdevIoctlBase *handler = nullptr;

  std::mutex mu;  // everything below; never held across testbed calls
  std::vector<std::unique_ptr<Slot>> slots;
  std::map<std::string, std::shared_ptr<Node>> nodes;
  std::map<UMockdevIoctlClient *, Client> clients;
  std::vector<virt::Transfer> transcript;
  std::vector<std::string> events;
  int next_devnum = 2;  // 1 is the root hub's
  bool stopping = false;
  bool poked = false;
  std::condition_variable watcher_cv;

  std::mutex sync_mu;  // one sync at a time, so testbed changes keep their order
  std::set<std::string> attached;
  InputNodes input;
  std::thread watcher;
};

EmulatedBus::Impl::Impl() {
  testbed = umockdev_testbed_new();
  handler = umockdev_ioctl_base_new();
  g_signal_connect(handler, "handle-ioctl", G_CALLBACK(on_ioctl), this);
  g_signal_connect(handler, "client-vanished", G_CALLBACK(on_vanished), this);
  watcher = std::thread([this] { watch(); });
}

EmulatedBus::Impl::~Impl() {
  {
    std::lock_guard lock(mu);
    stopping = true;
  }
  watcher_cv.notify_all();
  watcher.join();
  g_signal_handlers_disconnect_by_data(handler, this);
  g_object_unref(testbed);
  std::lock_guard lock(mu);
  for (auto &[uc, client] : clients) g_object_unref(uc);
  clients.clear();
  g_object_unref(handler);
}

void EmulatedBus::Impl::add_slot(std::unique_ptr<Slot> slot) {
  std::lock_guard lock(mu);
  slot->port = static_cast<int>(slots.size()) + 1;
  slots.push_back(std::move(slot));
}

void EmulatedBus::Impl::watch() {
  std::unique_lock lock(mu);
  while (!stopping) {
    watcher_cv.wait_for(lock, kWatchInterval, [this] { return stopping || poked; });
    poked = false;
    if (stopping) break;
    lock.unlock();
    sync();
    lock.lock();
  }
}

void EmulatedBus::Impl::wake_watcher() {
  poked = true;
  watcher_cv.notify_all();
}

std::string EmulatedBus::Impl::publication_record(Slot &slot, int devnum,
                                                  const DeviceIdentity &id) {
  const std::string blob = hex(descriptor_blob(id));
  const std::string node = format("bus/usb/%03d/%03d", kBus, devnum);
  std::string r = format("P: /devices/usb%d/%d-%d\n", kBus, kBus, slot.port);
  r += "N: " + node + "=" + blob + "\n";
  r += "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n";
  r += "E: DEVNAME=/dev/" + node + "\n";
  r += format("E: BUSNUM=%03d\nE: DEVNUM=%03d\n", kBus, devnum);
  r += format("E: PRODUCT=%x/%x/%x\n", id.vendor_id, id.product_id, id.bcd_device);
  r += format("A: busnum=%d\\n\nA: devnum=%d\\n\n", kBus, devnum);
  r += format("A: idVendor=%04x\\n\nA: idProduct=%04x\\n\n", id.vendor_id, id.product_id);
  r += format("A: bcdDevice=%04x\\n\n", id.bcd_device);
  r += "A: manufacturer=" + attribute_text(id.manufacturer) + "\n";
  r += "A: product=" + attribute_text(id.product) + "\n";
  r += "A: speed=1.5\\n\nA: bConfigurationValue=1\\n\nA: bNumConfigurations=1\\n\n";
  r += format("A: bNumInterfaces=%2d\\n\n", interface_count(id));
  r += "H: descriptors=" + blob + "\n";
  return r;
}

// The keyboard interface of a receiver running its firmware, with the input
// device and event node the HID driver makes for it.
std::string EmulatedBus::Impl::input_record(Slot &slot, int devnum, const InputIdentity &input) {
  const std::string iface =
      format("/devices/usb%d/%d-%d/%d-%d:1.0", kBus, kBus, slot.port, kBus, slot.port);
  const std::string device = iface + format("/input/input%d", devnum);
  slot.children = {"/sys" + iface, "/sys" + device, "/sys" + device + format("/event%d", devnum)};
  std::string r = "P: " + iface + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n";
  r += "A: bInterfaceNumber=00\\n\nA: bInterfaceClass=03\\n\n\n";
  r += "P: " + device + "\nE: SUBSYSTEM=input\nE: ID_INPUT=1\nE: ID_INPUT_KEYBOARD=1\n";
  r += "A: name=" + attribute_text(input.name) + "\n\n";
  r += "P: " + device + format("/event%d\n", devnum);
  r += format("N: input/event%d\nE: SUBSYSTEM=input\nE: DEVNAME=/dev/input/event%d\n", devnum,
              devnum);
  r += "E: ID_INPUT=1\nE: ID_INPUT_KEYBOARD=1\n";
  return r;
}

// The keys the receiver typed since the last look reach its input node as
// the kernel's HID driver would send them.
void EmulatedBus::Impl::type_keys(Slot &slot) {
  const auto sent = slot.receiver->keys_sent_after(slot.keys_seen);
  slot.keys_seen = sent.total;
  for (const virt::KeyReport &report : sent.reports)
    input.queue(slot.input_node, kernel_events(report.key, report.modifier));
}

// Brings sysfs in line with the receivers: a receiver that left, or came
// back in a new enumeration, is removed; a present one not listed is added
// under the next device number.
void EmulatedBus::Impl::sync() {
  std::lock_guard sync_lock(sync_mu);
  std::vector<std::string> removals;
  std::vector<Publication> additions;
  {
    std::lock_guard lock(mu);
    for (auto &slot : slots) {
      const bool present = !slot->receiver || slot->receiver->present();
      const uint64_t enumeration = slot->receiver ? slot->receiver->enumeration() : 0;
      if (slot->listed && (!present || enumeration != slot->enumeration)) {
        slot->listed = false;
        // Children first: each keeps a link in its subsystem's folder.
        removals.insert(removals.end(), slot->children.rbegin(), slot->children.rend());
        removals.push_back(slot->syspath);
        slot->children.clear();
        if (!slot->input_node.empty()) input.remove(slot->input_node);
        slot->input_node.clear();
      }
      if (slot->listed && !slot->input_node.empty()) type_keys(*slot);
      if (slot->listed || !present) continue;
      const DeviceIdentity identity =
          slot->receiver ? identity_of(slot->receiver->snapshot()) : identity_of(slot->foreign);
      auto in_use = [&](int devnum) {
        return std::any_of(slots.begin(), slots.end(), [&](auto &s) {
          return s->listed && s->devnode == format("/dev/bus/usb/%03d/%03d", kBus, devnum);
        });
      };
      // Addresses run up to 127 and start again at 2, skipping those in use.
      auto after = [](int devnum) { return devnum >= 127 ? 2 : devnum + 1; };
      int devnum = next_devnum;
      while (in_use(devnum)) devnum = after(devnum);
      next_devnum = after(devnum);
      slot->listed = true;
      slot->enumeration = enumeration;
      slot->syspath = format("/sys/devices/usb%d/%d-%d", kBus, kBus, slot->port);
      slot->devnode = format("/dev/bus/usb/%03d/%03d", kBus, devnum);
      nodes[slot->devnode] = std::make_shared<Node>(Node{slot.get(), enumeration, identity});
      Publication add{slot.get(), publication_record(*slot, devnum, identity), "", {}};
      if (slot->receiver && slot->receiver->snapshot().mode == virt::Mode::kFirmware) {
        add.input = {identity.vendor_id, identity.product_id,
                     identity.manufacturer + " " + identity.product};
        add.input_node = format("/dev/input/event%d", devnum);
        slot->keys_seen = slot->receiver->keys_sent_after(UINT64_MAX).total;
        add.record += "\n" + input_record(*slot, devnum, add.input);
        slot->input_node = add.input_node;
      }
      additions.push_back(std::move(add));
    }
  }
  for (const std::string &syspath : removals) {
    umockdev_testbed_uevent(testbed, syspath.c_str(), "remove");
    umockdev_testbed_remove_device(testbed, syspath.c_str());
  }
  for (auto &add : additions) {
    std::string devnode;
    {
      std::lock_guard lock(mu);
      devnode = add.slot->devnode;
    }
    // The handler is attached before the device appears, so that no client
    // can open the node and meet a plain file.
    GError *error = nullptr;
    if (!add.input_node.empty()) {
      input.add(add.input_node, add.input);
      if (!attached.count(add.input_node)) {
        if (umockdev_testbed_attach_ioctl(testbed, add.input_node.c_str(), input.handler(),
                                          &error)) {
          attached.insert(add.input_node);
        } else {
          std::fprintf(stderr, "zirko emulated: cannot serve %s: %s\n", add.input_node.c_str(),
                       error->message);
          g_error_free(error);
          error = nullptr;
        }
      }
    }
    if (!attached.count(devnode)) {
      if (umockdev_testbed_attach_ioctl(testbed, devnode.c_str(), handler, &error)) {
        attached.insert(devnode);
      } else {
        std::fprintf(stderr, "zirko emulated: cannot serve %s: %s\n", devnode.c_str(),
                     error->message);
        g_error_free(error);
        error = nullptr;
      }
    }
    if (!umockdev_testbed_add_from_string(testbed, add.record.c_str(), &error)) {
      std::fprintf(stderr, "zirko emulated: cannot add %s: %s\n", devnode.c_str(), error->message);
      g_error_free(error);
    }
  }
}

gboolean EmulatedBus::Impl::on_ioctl(UMockdevIoctlBase *, UMockdevIoctlClient *client,
                                     gpointer self) {
  Reply reply = static_cast<Impl *>(self)->dispatch(client);
  umockdev_ioctl_client_complete(client, reply.result, reply.error);
  return TRUE;
}

void EmulatedBus::Impl::on_vanished(UMockdevIoctlBase *, UMockdevIoctlClient *client,
                                    gpointer self) {
  auto *impl = static_cast<Impl *>(self);
  std::lock_guard lock(impl->mu);
  impl->drop_client(client);
}

void EmulatedBus::Impl::drop_client(UMockdevIoctlClient *uc) {
  auto it = clients.find(uc);
  if (it == clients.end()) return;
  g_object_unref(uc);
  clients.erase(it);
}

EmulatedBus::Impl::Client &EmulatedBus::Impl::client_for(UMockdevIoctlClient *uc) {
  auto it = clients.find(uc);
  if (it != clients.end()) return it->second;
  // A closed descriptor is not always announced: forget clients that are no
  // longer connected, with their claims and unreaped URBs.
  for (auto stale = clients.begin(); stale != clients.end();) {
    if (umockdev_ioctl_client_get_connected(stale->first)) {
      ++stale;
    } else {
      g_object_unref(stale->first);
      stale = clients.erase(stale);
    }
  }
  Client &c = clients[uc];
  c.client = uc;
  g_object_ref(uc);
  auto node = nodes.find(umockdev_ioctl_client_get_devnode(uc));
  c.node = node != nodes.end() ? node->second : std::make_shared<Node>();
  return c;
}

bool EmulatedBus::Impl::alive(const Client &c) {
  const Node &node = *c.node;
  if (!node.slot) return false;
  virt::Receiver *receiver = node.slot->receiver;
  if (!receiver) return node.slot->listed;
  return receiver->present() && receiver->enumeration() == node.enumeration;
}

EmulatedBus::Impl::Reply EmulatedBus::Impl::log(const std::string &what, int error) {
  events.push_back(what + " = " + std::to_string(-error));
  return {error ? -1 : 0, error};
}

EmulatedBus::Impl::Reply EmulatedBus::Impl::dispatch(UMockdevIoctlClient *uc) {
  std::unique_lock lock(mu);
  Client &c = client_for(uc);
  const unsigned long request = umockdev_ioctl_client_get_request(uc);
  UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(uc);
  switch (request) {
    // Completed URBs can be reaped after the device is gone.
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY:
      return reap(c, arg, lock);
    case USBDEVFS_DISCARDURB:
      return discard(c, arg);
    default:
      break;
  }
  if (!alive(c)) {
    if (request == USBDEVFS_RESET) return log("reset", ENODEV);
    return {-1, ENODEV};
  }
  switch (request) {
    case USBDEVFS_GET_CAPABILITIES:
      return capabilities(arg);
    case USBDEVFS_CLAIMINTERFACE: {
      DataRef iface = resolve(arg, 0, sizeof(unsigned));
      if (!iface) return {-1, EFAULT};
      return claim(c, *reinterpret_cast<unsigned *>(iface->data), "claim");
    }
    case USBDEVFS_DISCONNECT_CLAIM: {
      // No kernel driver is bound here, so there is nothing to disconnect.
      DataRef request_data = resolve(arg, 0, sizeof(usbdevfs_disconnect_claim));
      if (!request_data) return {-1, EFAULT};
      auto *dc = reinterpret_cast<usbdevfs_disconnect_claim *>(request_data->data);
      return claim(c, dc->interface, "disconnect_claim");
    }
    case USBDEVFS_RELEASEINTERFACE:
      return release(c, arg);
    case USBDEVFS_CLEAR_HALT:
      return clear_halt(c, arg);
    case USBDEVFS_RESET:
      return log("reset", 0);
    case USBDEVFS_SUBMITURB:
      return submit(c, arg);
    default:
      return {-1, ENOTTY};
  }
}

EmulatedBus::Impl::Reply EmulatedBus::Impl::capabilities(UMockdevIoctlData *arg) {
  DataRef caps = resolve(arg, 0, sizeof(uint32_t));
  if (!caps) return {-1, EFAULT};
  const uint32_t value =
      USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM;
  std::memcpy(caps->data, &value, sizeof value);
  return {};
}

// Claims are not weighed against other descriptors: the testbed learns of a
// closed descriptor only some time later, and its stale claim would refuse
// the next opener, which a real kernel never does.
EmulatedBus::Impl::Reply EmulatedBus::Impl::claim(Client &c, unsigned iface, const char *what) {
  const std::string event = format("%s %u", what, iface);
  if (iface >= static_cast<unsigned>(interface_count(c.node->identity))) return log(event, ENOENT);
  if (!std::count(c.claimed.begin(), c.claimed.end(), static_cast<int>(iface))) {
    c.claimed.push_back(static_cast<int>(iface));
  }
  return log(event, 0);
}

EmulatedBus::Impl::Reply EmulatedBus::Impl::release(Client &c, UMockdevIoctlData *arg) {
  DataRef iface = resolve(arg, 0, sizeof(unsigned));
  if (!iface) return {-1, EFAULT};
  const int number = static_cast<int>(*reinterpret_cast<unsigned *>(iface->data));
  const std::string event = format("release %d", number);
  auto it = std::find(c.claimed.begin(), c.claimed.end(), number);
  if (it == c.claimed.end()) return log(event, EINVAL);
  c.claimed.erase(it);
  return log(event, 0);
}

EmulatedBus::Impl::Reply EmulatedBus::Impl::clear_halt(Client &c, UMockdevIoctlData *arg) {
  DataRef endpoint = resolve(arg, 0, sizeof(unsigned));
  if (!endpoint) return {-1, EFAULT};
  const unsigned address = *reinterpret_cast<unsigned *>(endpoint->data);
  const std::string event = format("clear_halt 0x%02X", address);
  if (address > 0xFF || interface_of_endpoint(c.node->identity, static_cast<uint8_t>(address)) < 0)
    return log(event, ENOENT);
  return log(event, 0);
}

EmulatedBus::Impl::Reply EmulatedBus::Impl::submit(Client &c, UMockdevIoctlData *arg) {
  if (arg->data_len < static_cast<int>(sizeof(uintptr_t))) return {-1, EFAULT};
  Urb urb;
  std::memcpy(&urb.address, arg->data, sizeof urb.address);
  urb.urb = resolve(arg, 0, sizeof(usbdevfs_urb));
  if (!urb.urb) return {-1, EFAULT};
  usbdevfs_urb *raw = urb.raw();
  const int limit =
      raw->type == USBDEVFS_URB_TYPE_CONTROL ? kSetupSize + 0xFFFF : kMaxInterruptBuffer;
  if (raw->buffer_length < 0 || raw->buffer_length > limit) return {-1, EINVAL};
  if (raw->buffer_length > 0) {
    urb.buffer = resolve(urb.urb.get(), offsetof(usbdevfs_urb, buffer), raw->buffer_length);
    if (!urb.buffer) return {-1, EFAULT};
    raw = urb.raw();
  }
  raw->actual_length = 0;
  switch (raw->type) {
    case USBDEVFS_URB_TYPE_CONTROL:
      return submit_control(c, std::move(urb));
    case USBDEVFS_URB_TYPE_INTERRUPT:
      return submit_interrupt(c, std::move(urb));
    default:
      return {-1, EINVAL};  // the receiver has no bulk or isochronous endpoints
  }
}

// Control URBs complete at once: the model answers within the call.
EmulatedBus::Impl::Reply EmulatedBus::Impl::submit_control(Client &c, Urb urb) {
  usbdevfs_urb *raw = urb.raw();
  if (raw->buffer_length < kSetupSize) return {-1, EINVAL};
  uint8_t *buffer = urb.buffer->data;
  const virt::Setup setup{buffer[0], buffer[1], le16(buffer + 2), le16(buffer + 4),
                          le16(buffer + 6)};
  if (setup.length > raw->buffer_length - kSetupSize) return {-1, EINVAL};
  uint8_t *data = buffer + kSetupSize;
  const bool in = setup.request_type & 0x80;
  const bool vendor = (setup.request_type & 0x60) == 0x40;
  virt::Receiver *receiver = c.node->slot->receiver;
  int result = kUsbErrorPipe;
  if (vendor && receiver) {
    result = receiver->control(setup, data);
    if (!in && result >= 0) result = setup.length;
  } else if (setup.request_type == 0x80 && setup.request == 6 /* GET_DESCRIPTOR */) {
    if (auto reply = get_descriptor(c.node->identity, setup.value)) {
      result = std::min<int>(static_cast<int>(reply->size()), setup.length);
      std::memcpy(data, reply->data(), result);
    }
  }
  raw->status = urb_status(result);
  raw->actual_length = std::max(0, result);
  if (vendor) {
    virt::Transfer t;
    t.request_type = setup.request_type;
    t.request = setup.request;
    t.value = setup.value;
    t.index = setup.index;
    t.length = setup.length;
    t.result = result;
    if (in && result > 0) t.data.assign(data, data + result);
    if (!in) t.data.assign(data, data + setup.length);
    transcript.push_back(std::move(t));
    wake_watcher();  // the request may have sent the receiver off the bus
  }
  c.done.push_back(std::move(urb));
  return {};
}

EmulatedBus::Impl::Reply EmulatedBus::Impl::submit_interrupt(Client &c, Urb urb) {
  const uint8_t endpoint = urb.raw()->endpoint;
  const int iface = interface_of_endpoint(c.node->identity, endpoint);
  if (iface < 0) return {-1, ENOENT};
  // usbfs claims the interface of an endpoint for a client that did not.
  if (!std::count(c.claimed.begin(), c.claimed.end(), iface)) c.claimed.push_back(iface);
  urb.transfer.kind = virt::Transfer::Kind::kInterrupt;
  urb.transfer.endpoint = endpoint;
  urb.transfer.length = urb.raw()->buffer_length;
  c.pending.push_back(std::move(urb));
  return {};
}

void EmulatedBus::Impl::finish(Client &c, size_t index, int status, int length, int result) {
  Urb urb = std::move(c.pending[index]);
  c.pending.erase(c.pending.begin() + static_cast<long>(index));
  urb.raw()->status = status;
  urb.raw()->actual_length = length;
  urb.transfer.result = result;
  if (length > 0) urb.transfer.data.assign(urb.buffer->data, urb.buffer->data + length);
  transcript.push_back(urb.transfer);
  c.done.push_back(std::move(urb));
}

// Interrupt reads wait in the model; the first pending one gets `wait`.
void EmulatedBus::Impl::poll_interrupts(Client &c, std::chrono::milliseconds wait) {
  if (!alive(c)) {
    while (!c.pending.empty()) finish(c, 0, -ESHUTDOWN, 0, kUsbErrorNoDevice);
    return;
  }
  Urb &urb = c.pending.front();
  int transferred = 0;
  unsigned char *data = urb.buffer ? urb.buffer->data : nullptr;
  const int result = c.node->slot->receiver->interrupt_read(
      urb.raw()->endpoint, data, urb.raw()->buffer_length, &transferred,
      static_cast<unsigned>(std::max<long>(1, wait.count())));
  if (result == kUsbErrorTimeout) return;
  finish(c, 0, urb_status(result), transferred, result);
  if (result == kUsbErrorNoDevice) {
    while (!c.pending.empty()) finish(c, 0, -ESHUTDOWN, 0, kUsbErrorNoDevice);
  }
}

EmulatedBus::Impl::Reply EmulatedBus::Impl::reap(Client &c, UMockdevIoctlData *arg,
                                                 std::unique_lock<std::mutex> &lock) {
  if (c.done.empty() && !c.pending.empty()) {
    poll_interrupts(c, c.empty_reaps > 0 ? std::chrono::milliseconds(kIdleReap) : 1ms);
  }
  if (c.done.empty()) {
    const int error = alive(c) ? EAGAIN : ENODEV;
    if (c.empty_reaps++ > 0 && c.pending.empty()) {
      lock.unlock();
      std::this_thread::sleep_for(kIdleReap);
    }
    return {-1, error};
  }
  DataRef slot = resolve(arg, 0, sizeof(void *));
  if (!slot) return {-1, EFAULT};
  Urb urb = std::move(c.done.front());
  c.done.pop_front();
  c.empty_reaps = 0;
  umockdev_ioctl_data_set_ptr(slot.get(), 0, urb.urb.get());
  return {0, 0, std::move(urb.urb)};
}

EmulatedBus::Impl::Reply EmulatedBus::Impl::discard(Client &c, UMockdevIoctlData *arg) {
  uintptr_t address = 0;
  if (arg->data_len < static_cast<int>(sizeof address)) return {-1, EFAULT};
  std::memcpy(&address, arg->data, sizeof address);
  for (size_t i = 0; i < c.pending.size(); ++i) {
    if (c.pending[i].address != address) continue;
    finish(c, i, -ENOENT, 0, kUsbErrorTimeout);  // libusb cancels on its time-out
    return log("discard", 0);
  }
  return log("discard", EINVAL);  // already completed, or never submitted
}

EmulatedBus::EmulatedBus() : impl_(std::make_unique<Impl>()) {}
EmulatedBus::~EmulatedBus() = default;

virt::Receiver &EmulatedBus::add_receiver(virt::ReceiverState state) {
  auto slot = std::make_unique<Impl::Slot>();
  slot->owned = std::make_unique<virt::Receiver>(std::move(state));
  slot->receiver = slot->owned.get();
  virt::Receiver &added = *slot->receiver;
  impl_->add_slot(std::move(slot));
  sync();
  return added;
}

void EmulatedBus::attach_receiver(virt::Receiver &receiver) {
  auto slot = std::make_unique<Impl::Slot>();
  slot->receiver = &receiver;
  impl_->add_slot(std::move(slot));
  sync();
}

void EmulatedBus::add_foreign(const virt::ForeignDevice &device) {
  auto slot = std::make_unique<Impl::Slot>();
  slot->foreign = device;
  impl_->add_slot(std::move(slot));
  sync();
}

virt::Receiver *EmulatedBus::receiver(size_t i) {
  std::lock_guard lock(impl_->mu);
  for (auto &slot : impl_->slots) {
    if (slot->receiver && i-- == 0) return slot->receiver;
  }
  return nullptr;
}

void EmulatedBus::sync() {
  impl_->sync();
}

std::vector<virt::Transfer> EmulatedBus::transcript() {
  std::lock_guard lock(impl_->mu);
  return impl_->transcript;
}

std::vector<std::string> EmulatedBus::events() {
  std::lock_guard lock(impl_->mu);
  return impl_->events;
}

void EmulatedBus::clear_transcript() {
  std::lock_guard lock(impl_->mu);
  impl_->transcript.clear();
  impl_->events.clear();
}

std::string EmulatedBus::device_node(size_t receiver) {
  std::lock_guard lock(impl_->mu);
  for (auto &slot : impl_->slots) {
    if (slot->receiver && receiver-- == 0) return slot->listed ? slot->devnode : "";
  }
  return "";
}

std::string EmulatedBus::input_node(size_t receiver) {
  std::lock_guard lock(impl_->mu);
  for (auto &slot : impl_->slots) {
    if (slot->receiver && receiver-- == 0) return slot->input_node;
  }
  return "";
}

bool EmulatedBus::play_events(const std::string &evemu, size_t receiver) {
  const auto events = parse_evemu(evemu);
  const std::string node = input_node(receiver);
  return events && !node.empty() && impl_->input.queue(node, *events);
}

std::vector<std::string> EmulatedBus::input_requests() {
  return impl_->input.requests();
}

int EmulatedBus::open_clients() {
  std::lock_guard lock(impl_->mu);
  return static_cast<int>(
      std::count_if(impl_->clients.begin(), impl_->clients.end(),
                    [](auto &entry) { return umockdev_ioctl_client_get_connected(entry.first); }));
}

}  // namespace zk::emu
