#include "emulated_input.h"

#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <sstream>
#include <thread>

namespace zk::emu {

namespace {

// A read that finds nothing waits this long before it answers EAGAIN: the
// node is a plain file to the preload, so the reader's poll never waits.
constexpr auto kIdleRead = std::chrono::milliseconds(10);
// Key codes a USB keyboard with media and system keys reports.
constexpr int kLastKeyCode = 255;

struct DataUnref {
  void operator()(UMockdevIoctlData *data) const { g_object_unref(data); }
};
using Data = std::unique_ptr<UMockdevIoctlData, DataUnref>;

void set_bit(std::vector<uint8_t> &bits, int bit) {
  if (bit / 8 < static_cast<int>(bits.size())) bits[bit / 8] |= static_cast<uint8_t>(1 << bit % 8);
}

// The bytes an evdev request reads, or nothing for a request evdev refuses.
std::optional<std::vector<uint8_t>> reply_of(unsigned nr, const InputIdentity &id) {
  auto bytes = [](const auto &value) {
    const auto *p = reinterpret_cast<const uint8_t *>(&value);
    return std::vector<uint8_t>(p, p + sizeof value);
  };
  auto text = [](const std::string &s) {
    return std::vector<uint8_t>(s.c_str(), s.c_str() + s.size() + 1);
  };
  std::vector<uint8_t> bits(KEY_MAX / 8 + 1, 0);
  switch (nr) {
    case _IOC_NR(EVIOCGVERSION):
      return bytes(int{EV_VERSION});
    case _IOC_NR(EVIOCGID):
      return bytes(input_id{BUS_USB, id.vendor_id, id.product_id, 0x0100});
    case _IOC_NR(EVIOCGNAME(0)):
      return text(id.name);
    case _IOC_NR(EVIOCGPHYS(0)):
      return text("usb-zirko-emulated/input0");
    case _IOC_NR(EVIOCGUNIQ(0)):
      return text("");
    case _IOC_NR(EVIOCGPROP(0)):
    case _IOC_NR(EVIOCGKEY(0)):
    case _IOC_NR(EVIOCGLED(0)):
    case _IOC_NR(EVIOCGSND(0)):
    case _IOC_NR(EVIOCGSW(0)):
      return bits;  // nothing held, lit or switched
    case _IOC_NR(EVIOCGBIT(0, 0)):
      for (int type : {EV_SYN, EV_KEY, EV_MSC}) set_bit(bits, type);
      return bits;
    case _IOC_NR(EVIOCGBIT(EV_KEY, 0)):
      for (int code = 1; code <= kLastKeyCode; ++code) set_bit(bits, code);
      return bits;
    case _IOC_NR(EVIOCGBIT(EV_MSC, 0)):
      set_bit(bits, MSC_SCAN);
      return bits;
    default:
      if (nr > _IOC_NR(EVIOCGBIT(0, 0)) && nr < _IOC_NR(EVIOCGBIT(EV_MAX, 0))) return bits;
      return std::nullopt;
  }
}

const char *request_name(unsigned nr) {
  switch (nr) {
    case _IOC_NR(EVIOCGVERSION):
      return "EVIOCGVERSION";
    case _IOC_NR(EVIOCGID):
      return "EVIOCGID";
    case _IOC_NR(EVIOCGNAME(0)):
      return "EVIOCGNAME";
    case _IOC_NR(EVIOCGRAB):
      return "EVIOCGRAB";
    case _IOC_NR(EVIOCREVOKE):
      return "EVIOCREVOKE";
    default:
      return nr >= _IOC_NR(EVIOCGBIT(0, 0)) && nr <= _IOC_NR(EVIOCGBIT(EV_MAX, 0)) ? "EVIOCGBIT"
                                                                                   : "EVIOC";
  }
}

}  // namespace

InputNodes::InputNodes() : handler_(umockdev_ioctl_base_new()) {
  g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(on_ioctl), this);
  g_signal_connect(handler_, "handle-read", G_CALLBACK(on_read), this);
}

InputNodes::~InputNodes() {
  g_signal_handlers_disconnect_by_data(handler_, this);
  g_object_unref(handler_);
}

void InputNodes::add(const std::string &devnode, const InputIdentity &identity) {
  std::lock_guard lock(mu_);
  nodes_[devnode] = Node{identity, true, {}};
}

void InputNodes::remove(const std::string &devnode) {
  std::lock_guard lock(mu_);
  auto node = nodes_.find(devnode);
  if (node == nodes_.end()) return;
  node->second.present = false;
  node->second.pending.clear();
}

bool InputNodes::queue(const std::string &devnode, const std::vector<input_event> &events) {
  std::lock_guard lock(mu_);
  auto node = nodes_.find(devnode);
  if (node == nodes_.end() || !node->second.present) return false;
  node->second.pending.insert(node->second.pending.end(), events.begin(), events.end());
  return true;
}

std::vector<std::string> InputNodes::requests() {
  std::lock_guard lock(mu_);
  return requests_;
}

std::pair<long, int> InputNodes::answer(const Node &node, unsigned long request,
                                        UMockdevIoctlData *arg) {
  if (_IOC_TYPE(request) != 'E') return {-1, ENOTTY};
  const unsigned nr = _IOC_NR(request);
  requests_.push_back(request_name(nr));
  if (!node.present) return {-1, ENODEV};
  if (nr == _IOC_NR(EVIOCGRAB) || nr == _IOC_NR(EVIOCSCLOCKID)) return {0, 0};
  const auto reply = _IOC_DIR(request) == _IOC_READ ? reply_of(nr, node.identity) : std::nullopt;
  if (!reply) return {-1, EINVAL};
  const size_t room = _IOC_SIZE(request);
  GError *error = nullptr;
  Data out(umockdev_ioctl_data_resolve(arg, 0, room, &error));
  if (error) g_error_free(error);
  if (!out) return {-1, EFAULT};
  const size_t n = std::min(room, reply->size());
  std::memcpy(out->data, reply->data(), n);
  return {static_cast<long>(n), 0};
}

gboolean InputNodes::on_ioctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer self) {
  auto *nodes = static_cast<InputNodes *>(self);
  std::pair<long, int> result{-1, ENODEV};
  {
    std::lock_guard lock(nodes->mu_);
    auto node = nodes->nodes_.find(umockdev_ioctl_client_get_devnode(client));
    if (node != nodes->nodes_.end())
      result = nodes->answer(node->second, umockdev_ioctl_client_get_request(client),
                             umockdev_ioctl_client_get_arg(client));
  }
  umockdev_ioctl_client_complete(client, result.first, result.second);
  return TRUE;
}

gboolean InputNodes::on_read(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer self) {
  auto *nodes = static_cast<InputNodes *>(self);
  UMockdevIoctlData *buffer = umockdev_ioctl_client_get_arg(client);
  const size_t fits = buffer->data_len / sizeof(input_event);
  std::pair<long, int> result{-1, ENODEV};
  {
    std::lock_guard lock(nodes->mu_);
    auto node = nodes->nodes_.find(umockdev_ioctl_client_get_devnode(client));
    if (node != nodes->nodes_.end() && node->second.present) {
      auto &pending = node->second.pending;
      const size_t n = std::min(fits, pending.size());
      if (fits == 0) {
        result = {-1, EINVAL};  // evdev reads whole events only
      } else if (n == 0) {
        result = {-1, EAGAIN};
      } else {
        std::memcpy(buffer->data, pending.data(), n * sizeof(input_event));
        pending.erase(pending.begin(), pending.begin() + static_cast<long>(n));
        result = {static_cast<long>(n * sizeof(input_event)), 0};
      }
    }
  }
  if (result.second == EAGAIN) std::this_thread::sleep_for(kIdleRead);
  umockdev_ioctl_client_complete(client, result.first, result.second);
  return TRUE;
}

std::optional<std::vector<input_event>> parse_evemu(const std::string &text) {
  std::vector<input_event> events;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') continue;
    long sec = 0, usec = 0;
    unsigned type = 0, code = 0;
    int value = 0, used = 0;
    if (std::sscanf(line.c_str(), "E: %ld.%ld %x %x %d%n", &sec, &usec, &type, &code, &value,
                    &used) != 5 ||
        line.find_first_not_of(" \t", used) != std::string::npos || type > EV_MAX || code > KEY_MAX)
      return std::nullopt;
    input_event ev{};
    ev.input_event_sec = sec;
    ev.input_event_usec = usec;
    ev.type = static_cast<uint16_t>(type);
    ev.code = static_cast<uint16_t>(code);
    ev.value = value;
    events.push_back(ev);
  }
  return events;
}

}  // namespace zk::emu
