#include "emulated_input.h"

#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <iterator>
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

// The kernel's own reading of HID usages, kept apart from the library's so
// that a slip in either shows in the tests of the other: keyboard usages
// from 0x04 on, then the media and system keys the receiver sends.
constexpr uint16_t kKeyboardKeys[] = {
    KEY_A,          KEY_B,          KEY_C,          KEY_D,          KEY_E,         KEY_F,
    KEY_G,          KEY_H,          KEY_I,          KEY_J,          KEY_K,         KEY_L,
    KEY_M,          KEY_N,          KEY_O,          KEY_P,          KEY_Q,         KEY_R,
    KEY_S,          KEY_T,          KEY_U,          KEY_V,          KEY_W,         KEY_X,
    KEY_Y,          KEY_Z,          KEY_1,          KEY_2,          KEY_3,         KEY_4,
    KEY_5,          KEY_6,          KEY_7,          KEY_8,          KEY_9,         KEY_0,
    KEY_ENTER,      KEY_ESC,        KEY_BACKSPACE,  KEY_TAB,        KEY_SPACE,     KEY_MINUS,
    KEY_EQUAL,      KEY_LEFTBRACE,  KEY_RIGHTBRACE, KEY_BACKSLASH,  KEY_BACKSLASH, KEY_SEMICOLON,
    KEY_APOSTROPHE, KEY_GRAVE,      KEY_COMMA,      KEY_DOT,        KEY_SLASH,     KEY_CAPSLOCK,
    KEY_F1,         KEY_F2,         KEY_F3,         KEY_F4,         KEY_F5,        KEY_F6,
    KEY_F7,         KEY_F8,         KEY_F9,         KEY_F10,        KEY_F11,       KEY_F12,
    KEY_SYSRQ,      KEY_SCROLLLOCK, KEY_PAUSE,      KEY_INSERT,     KEY_HOME,      KEY_PAGEUP,
    KEY_DELETE,     KEY_END,        KEY_PAGEDOWN,   KEY_RIGHT,      KEY_LEFT,      KEY_DOWN,
    KEY_UP,         KEY_NUMLOCK,    KEY_KPSLASH,    KEY_KPASTERISK, KEY_KPMINUS,   KEY_KPPLUS,
    KEY_KPENTER,    KEY_KP1,        KEY_KP2,        KEY_KP3,        KEY_KP4,       KEY_KP5,
    KEY_KP6,        KEY_KP7,        KEY_KP8,        KEY_KP9,        KEY_KP0,       KEY_KPDOT,
    KEY_102ND,      KEY_COMPOSE,
};
struct UsageKey {
  uint32_t usage;  // page << 16 | id
  uint16_t code;
};
constexpr UsageKey kMediaKeys[] = {
    {0xC00B8, KEY_EJECTCD},      {0xC00E9, KEY_VOLUMEUP},    {0xC00EA, KEY_VOLUMEDOWN},
    {0xC00E2, KEY_MUTE},         {0xC00CD, KEY_PLAYPAUSE},   {0xC00B7, KEY_STOPCD},
    {0xC00B4, KEY_REWIND},       {0xC00B3, KEY_FASTFORWARD}, {0xC00B5, KEY_NEXTSONG},
    {0xC00B6, KEY_PREVIOUSSONG}, {0xC0224, KEY_BACK},        {0x10081, KEY_POWER},
    {0x10082, KEY_SLEEP},        {0x10083, KEY_WAKEUP},
};
constexpr uint16_t kModifierKeys[] = {KEY_LEFTCTRL,  KEY_LEFTSHIFT,  KEY_LEFTALT,  KEY_LEFTMETA,
                                      KEY_RIGHTCTRL, KEY_RIGHTSHIFT, KEY_RIGHTALT, KEY_RIGHTMETA};

// The HID usage the receiver's firmware sends for a stored key report.
std::optional<uint32_t> usage_of_report(uint8_t key, uint8_t modifier) {
  switch (key) {
    case 0x66:
      return 0xC0000 | modifier;
    case 0x67:
      return modifier == 0x01 ? std::optional<uint32_t>(0x10082) : std::nullopt;
    case 0x68:
      return modifier == 0x80 ? std::optional<uint32_t>(0xC0224) : std::nullopt;
    case 0xFE:
      return 0x10081;
    case 0xFF:
      return 0x10083;
    default:
      return 0x70000 | key;
  }
}

std::optional<uint16_t> code_of_usage(uint32_t usage) {
  const uint32_t id = usage & 0xFFFF;
  if (usage >> 16 == 0x07 && id >= 0x04 && id < 0x04 + std::size(kKeyboardKeys))
    return kKeyboardKeys[id - 0x04];
  for (const UsageKey &key : kMediaKeys)
    if (key.usage == usage) return key.code;
  return std::nullopt;
}

input_event event(uint16_t type, uint16_t code, int32_t value) {
  input_event ev{};
  ev.type = type;
  ev.code = code;
  ev.value = value;
  return ev;
}

}  // namespace

std::vector<input_event> kernel_events(uint8_t key, uint8_t modifier) {
  const auto usage = usage_of_report(key, modifier);
  const auto code = usage ? code_of_usage(*usage) : std::nullopt;
  if (!code) return {};
  const bool keyboard = *usage >> 16 == 0x07;
  std::vector<input_event> events;
  for (int value : {1, 0}) {
    for (int bit = 0; keyboard && bit < 8; ++bit) {
      if (!(modifier & 1 << bit) || value == 0) continue;
      events.push_back(event(EV_MSC, MSC_SCAN, 0x700E0 + bit));
      events.push_back(event(EV_KEY, kModifierKeys[bit], 1));
    }
    events.push_back(event(EV_MSC, MSC_SCAN, static_cast<int32_t>(*usage)));
    events.push_back(event(EV_KEY, *code, value));
    for (int bit = 0; keyboard && value == 0 && bit < 8; ++bit) {
      if (!(modifier & 1 << bit)) continue;
      events.push_back(event(EV_MSC, MSC_SCAN, 0x700E0 + bit));
      events.push_back(event(EV_KEY, kModifierKeys[bit], 0));
    }
    events.push_back(event(EV_SYN, SYN_REPORT, 0));
  }
  return events;
}

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
