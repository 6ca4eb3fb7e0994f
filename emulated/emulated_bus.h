// Virtual receivers behind an emulated kernel USB interface: a umockdev
// testbed shows each one in sysfs and as a usbfs device node, and serves
// the usbfs requests of an unmodified libusb with the same device model the
// virtual bus uses. A receiver that leaves the bus (re-enumeration into the
// bootloader and back, unplugging) disappears from sysfs and comes back
// under a new device number, as on a real bus.
//
// The testbed sets UMOCKDEV_DIR for this process and its children; programs
// that should see the devices run with libumockdev-preload. In a process
// that uses libusb itself, create the bus before libusb_init.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bus.h"
#include "receiver.h"

namespace zk::emu {

class EmulatedBus {
 public:
  EmulatedBus();
  ~EmulatedBus();
  EmulatedBus(const EmulatedBus &) = delete;
  EmulatedBus &operator=(const EmulatedBus &) = delete;

  // Devices join in port order and appear on the bus at once (the
  // receiver when it is plugged). An attached receiver is not owned and
  // must outlive the bus.
  virt::Receiver &add_receiver(virt::ReceiverState state = {});
  void attach_receiver(virt::Receiver &receiver);
  // Foreign devices: the open and descriptor faults of the virtual bus have
  // no usbfs counterpart and are ignored; string_error stalls strings.
  void add_foreign(const virt::ForeignDevice &device);
  virt::Receiver *receiver(size_t i = 0);

  // Shows presence changes of the receivers in sysfs now; a watcher thread
  // also does it every few milliseconds.
  void sync();

  // Vendor control transfers and interrupt reads as the device saw them.
  std::vector<virt::Transfer> transcript();
  // Interface, halt and reset requests: "claim 1 = 0", "reset = -19"...
  std::vector<std::string> events();
  void clear_transcript();
  // Device node of a receiver's current enumeration ("" while away).
  std::string device_node(size_t receiver = 0);
  // Descriptors whose device node is open by a live client.
  int open_clients();

  // The input event node of a receiver's keyboard interface, as the kernel's
  // HID driver makes it while the receiver runs its firmware ("" while it
  // has none).
  std::string input_node(size_t receiver = 0);
  // Queues the events of an evemu events text for the readers of that node;
  // false for a text that is not one, or a receiver without a node.
  bool play_events(const std::string &evemu, size_t receiver = 0);
  // The evdev requests the nodes served, by name ("EVIOCGNAME"...).
  std::vector<std::string> input_requests();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zk::emu
