// The rig (receiver_rig.h) behind the emulated kernel USB interface: the
// library runs on its libusb backend, so every call goes through the
// system's libusb and usbfs requests to the device model, and nothing is
// installed. For the suites that link the emulated interface.
#pragma once

#include "emulated_bus.h"
#include "receiver_rig.h"

namespace zk::test {

class EmulatedRig : public ReceiverRig<zk::emu::EmulatedBus> {
 public:
  ~EmulatedRig() { Close(); }

  // Every record the scans left is closed, so that libusb's default context
  // is gone before the next test's testbed replaces this one.
  static void Close() { CloseEveryRecord(); }
};

}  // namespace zk::test
