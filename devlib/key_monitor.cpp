// Following the keys the receiver types: its input event nodes on the USB
// bus (found with libudev, read with libevdev), or the key reports of the
// virtual receiver, behind one small interface.
#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <libudev.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "bus.h"
#include "internal.h"
#include "key_decoder.h"
#include "usb_backend.h"
#include "zirko_keys.h"

namespace {

constexpr int kLongestWaitMs = 10000;
// How often the virtual receiver's sent keys are looked at: other programs
// press its buttons, and nothing wakes this one.
constexpr auto kVirtualPoll = std::chrono::milliseconds(20);

using Clock = std::chrono::steady_clock;

}  // namespace

// One source of key events; `next` has the contract of zk_key_monitor_next.
struct zk_key_monitor {
  virtual ~zk_key_monitor() = default;
  virtual int next(zk_key_event *event, Clock::time_point deadline) = 0;
  std::string source;
  std::string problem;
};

namespace {

// The virtual receiver: the reports its recorded buttons send, as it keeps
// them for every program that shares it.
class VirtualKeys : public zk_key_monitor {
 public:
  VirtualKeys(zk::virt::Receiver &receiver, uint64_t enumeration)
      : receiver_(receiver), enumeration_(enumeration) {
    source = "the virtual receiver";
    seen_ = receiver_.keys_sent_after(UINT64_MAX).total;
  }

  int next(zk_key_event *event, Clock::time_point deadline) override {
    for (;;) {
      if (!pending_.empty()) {
        const zk::virt::KeyReport report = pending_.front();
        pending_.pop_front();
        *event = {report.key, report.modifier, -1};
        return 1;
      }
      const auto sent = receiver_.keys_sent_after(seen_);
      seen_ = sent.total;
      pending_.assign(sent.reports.begin(), sent.reports.end());
      if (!pending_.empty()) continue;  // keys sent before it left come first
      if (!sent.present || sent.enumeration != enumeration_) return ZK_ERR_NOT_USABLE;
      const auto now = Clock::now();
      if (now >= deadline) return 0;
      std::this_thread::sleep_for(std::min<Clock::duration>(kVirtualPoll, deadline - now));
    }
  }

 private:
  zk::virt::Receiver &receiver_;
  uint64_t enumeration_;
  uint64_t seen_ = 0;
  std::deque<zk::virt::KeyReport> pending_;
};

struct UdevUnref {
  void operator()(udev *u) const { udev_unref(u); }
  void operator()(udev_device *d) const { udev_device_unref(d); }
  void operator()(udev_enumerate *e) const { udev_enumerate_unref(e); }
};
template <typename T>
using UdevPtr = std::unique_ptr<T, UdevUnref>;

// The event nodes of the input devices the kernel made for the USB device
// at a bus position ("1-1.4", its sysfs name): a receiver has one for its
// keyboard and more for its media and system keys.
std::vector<std::string> input_nodes_of(const std::string &position) {
  std::vector<std::string> nodes;
  UdevPtr<udev> u(udev_new());
  if (!u || position.empty()) return nodes;
  UdevPtr<udev_device> usb(
      udev_device_new_from_subsystem_sysname(u.get(), "usb", position.c_str()));
  UdevPtr<udev_enumerate> found(udev_enumerate_new(u.get()));
  if (!usb || !found) return nodes;
  udev_enumerate_add_match_subsystem(found.get(), "input");
  udev_enumerate_add_match_parent(found.get(), usb.get());
  udev_enumerate_scan_devices(found.get());
  udev_list_entry *entry;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(found.get())) {
    UdevPtr<udev_device> input(
        udev_device_new_from_syspath(u.get(), udev_list_entry_get_name(entry)));
    const char *node = input ? udev_device_get_devnode(input.get()) : nullptr;
    if (node && std::strncmp(node, "/dev/input/event", 16) == 0) nodes.push_back(node);
  }
  std::sort(nodes.begin(), nodes.end());
  return nodes;
}

// The receiver's input nodes, read without grabbing them, so the desktop
// still gets every key.
class EvdevKeys : public zk_key_monitor {
 public:
  ~EvdevKeys() override {
    for (Node &node : nodes_) {
      if (node.dev) libevdev_free(node.dev);
      if (node.fd >= 0) ::close(node.fd);
    }
  }

  // 0, or the failure of zk_key_monitor_open with `problem` set.
  int open(const std::vector<std::string> &paths) {
    for (const std::string &path : paths) {
      Node node;
      node.path = path;
      node.fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
      if (node.fd < 0) {
        const int error = errno;
        problem = path + ": " + std::strerror(error);
        return error == EACCES || error == EPERM ? ZK_ERR_ACCESS : ZK_ERR_FILE_READ;
      }
      const int rc = libevdev_new_from_fd(node.fd, &node.dev);
      if (rc < 0) {
        problem = path + ": " + std::strerror(-rc);
        ::close(node.fd);
        return ZK_ERR_FILE_READ;
      }
      source += (source.empty() ? "" : " ") + path;
      nodes_.push_back(node);
    }
    return 0;
  }

  int next(zk_key_event *event, Clock::time_point deadline) override {
    for (;;) {
      for (Node &node : nodes_) {
        const int rc = drain(node, event);
        if (rc != 0) return rc;
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return 0;
      std::vector<pollfd> fds;
      for (const Node &node : nodes_) fds.push_back({node.fd, POLLIN, 0});
      const int ready = ::poll(fds.data(), fds.size(), static_cast<int>(left.count()));
      if (ready < 0 && errno != EINTR) {
        problem = std::string("poll: ") + std::strerror(errno);
        return ZK_ERR_FILE_READ;
      }
      for (size_t i = 0; i < fds.size(); ++i)
        if (fds[i].revents & (POLLHUP | POLLERR | POLLNVAL)) return ZK_ERR_NOT_USABLE;
    }
  }

 private:
  struct Node {
    std::string path;
    int fd = -1;
    libevdev *dev = nullptr;
  };

  // Reads what the node has: 1 at the first key pressed, 0 once nothing is
  // left, or a failure.
  int drain(Node &node, zk_key_event *event) {
    for (;;) {
      input_event ev{};
      int rc = libevdev_next_event(node.dev, flags_, &ev);
      if (rc == LIBEVDEV_READ_STATUS_SYNC) {
        flags_ = LIBEVDEV_READ_FLAG_SYNC;  // events were dropped: catch up on the state
      } else if (rc == -EAGAIN) {
        if (flags_ == LIBEVDEV_READ_FLAG_NORMAL) return 0;
        flags_ = LIBEVDEV_READ_FLAG_NORMAL;
        continue;
      } else if (rc == -ENODEV) {
        return ZK_ERR_NOT_USABLE;
      } else if (rc < 0) {
        problem = node.path + ": " + std::strerror(-rc);
        return ZK_ERR_FILE_READ;
      }
      if (auto key = decoder_.feed(ev.type, ev.code, ev.value)) {
        *event = {key->usage, key->modifier, key->code};
        return 1;
      }
    }
  }

  std::vector<Node> nodes_;
  zk::KeyDecoder decoder_;
  unsigned flags_ = LIBEVDEV_READ_FLAG_NORMAL;
};

void tell(char *problem, size_t size, const std::string &text) {
  if (problem && size > 0) std::snprintf(problem, size, "%s", text.c_str());
}

}  // namespace

int zk_key_monitor_open(zk_key_monitor **monitor, char *problem, size_t problem_size) {
  *monitor = nullptr;
  tell(problem, problem_size, "");
  if (!current_device || !current_handle) {
    tell(problem, problem_size, "no receiver open");
    return ZK_ERR_NOT_USABLE;
  }
  // A bootloader is no keyboard: the kernel makes no input node for it.
  if (current_device->bootloader) {
    tell(problem, problem_size, "the receiver runs its bootloader, which sends no keys");
    return ZK_ERR_NOT_FOUND;
  }
  if (auto *bus = dynamic_cast<zk::virt::Bus *>(&zk::usb_backend())) {
    zk::virt::Receiver *receiver = bus->receiver_of(current_device->dev);
    const auto arrival = receiver ? receiver->arrival() : std::nullopt;
    if (!arrival) {
      tell(problem, problem_size, "the virtual receiver is not on the bus");
      return ZK_ERR_NOT_USABLE;
    }
    *monitor = new (std::nothrow) VirtualKeys(*receiver, *arrival);
    return *monitor ? 0 : ZK_ERR_NO_MEMORY;
  }
  const std::string position = zk_bus_position(current_device);
  const std::vector<std::string> nodes = input_nodes_of(position);
  if (nodes.empty()) {
    tell(problem, problem_size,
         "the receiver at USB " + (position.empty() ? std::string("?") : position) +
             " has no input node: is the kernel's HID driver bound to it?");
    return ZK_ERR_NOT_FOUND;
  }
  auto *keys = new (std::nothrow) EvdevKeys;
  if (!keys) return ZK_ERR_NO_MEMORY;
  const int rc = keys->open(nodes);
  if (rc < 0) {
    tell(problem, problem_size, keys->problem);
    delete keys;
    return rc;
  }
  *monitor = keys;
  return 0;
}

int zk_key_monitor_next(zk_key_monitor *monitor, zk_key_event *event, int timeout_ms) {
  if (!monitor || !event) return ZK_ERR_INVALID;
  const int wait = std::clamp(timeout_ms, 0, kLongestWaitMs);
  monitor->problem.clear();
  return monitor->next(event, Clock::now() + std::chrono::milliseconds(wait));
}

const char *zk_key_monitor_source(const zk_key_monitor *monitor) {
  return monitor ? monitor->source.c_str() : "";
}

const char *zk_key_monitor_problem(const zk_key_monitor *monitor) {
  return monitor ? monitor->problem.c_str() : "";
}

void zk_key_monitor_close(zk_key_monitor *monitor) {
  delete monitor;
}
