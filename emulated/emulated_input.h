// The input event nodes the kernel's HID driver makes for a receiver's
// keyboard interface, behind the umockdev testbed: the evdev requests a
// program such as libevdev makes (device name, ids, capability bits, key
// state) are answered from the receiver's identity, and reads return the
// events queued for the node, as an evdev node opened O_NONBLOCK does.
#pragma once

#include <linux/input.h>
#include <umockdev.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace zk::emu {

struct InputIdentity {
  uint16_t vendor_id = 0;
  uint16_t product_id = 0;
  std::string name;  // as the kernel names it: manufacturer and product
};

class InputNodes {
 public:
  InputNodes();
  ~InputNodes();
  InputNodes(const InputNodes &) = delete;
  InputNodes &operator=(const InputNodes &) = delete;

  // Serves the testbed's requests on every node added.
  UMockdevIoctlBase *handler() { return handler_; }
  // A node appears (again) with nothing queued; one removed answers its
  // readers ENODEV, as an unplugged device's node does.
  void add(const std::string &devnode, const InputIdentity &identity);
  void remove(const std::string &devnode);
  // False for a node that is not there.
  bool queue(const std::string &devnode, const std::vector<input_event> &events);
  // The evdev requests served, by name ("EVIOCGNAME", "EVIOCGRAB"...).
  std::vector<std::string> requests();

 private:
  struct Node {
    InputIdentity identity;
    bool present = true;
    std::vector<input_event> pending;
  };
  static gboolean on_ioctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer self);
  static gboolean on_read(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer self);
  std::pair<long, int> answer(const Node &node, unsigned long request, UMockdevIoctlData *arg);

  UMockdevIoctlBase *handler_;
  std::mutex mu_;
  std::map<std::string, Node> nodes_;
  std::vector<std::string> requests_;
};

// What the kernel's HID driver sends for one key report of the receiver:
// the modifiers and the key go down and up, each after its MSC_SCAN, as
// one report does; nothing for a report it has no key for.
std::vector<input_event> kernel_events(uint8_t key, uint8_t modifier);

// The events of an evemu events text ("E: <sec>.<usec> <type> <code>
// <value>", type and code in hex), or nothing when a line is not one.
std::optional<std::vector<input_event>> parse_evemu(const std::string &text);

}  // namespace zk::emu
