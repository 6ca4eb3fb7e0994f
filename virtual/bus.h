// A USB bus of virtual devices behind the library's USB seam: receivers and
// foreign devices in a fixed enumeration order, reference counting as
// libusb does it, a transcript of the latest transfers, and injected faults.
// It keeps only what is in use (open handles, referenced or current
// enumerations), so a program may poll it for as long as it runs.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "receiver.h"
#include "usb_backend.h"

namespace zk::virt {

// A device that is not a receiver, or one that misbehaves while scanned.
struct ForeignDevice {
  uint16_t vendor_id = 0x1234;
  uint16_t product_id = 0x0001;
  std::string manufacturer = "Other Maker";
  std::string product = "Other Device";
  int open_error = 0;        // libusb_open fails with this code
  int descriptor_error = 0;  // libusb_get_device_descriptor fails
  int string_error = 0;      // string descriptors cannot be read
};

// One transfer as the device saw it. Control transfers carry their setup;
// interrupt reads have request_type 0 and the endpoint in `endpoint`.
struct Transfer {
  enum class Kind { kControl, kInterrupt };
  Kind kind = Kind::kControl;
  uint8_t request_type = 0;
  uint8_t request = 0;
  uint16_t value = 0;
  uint16_t index = 0;
  int length = 0;
  unsigned int timeout_ms = 0;
  uint8_t endpoint = 0;
  int result = 0;             // bytes transferred or libusb error
  std::vector<uint8_t> data;  // bytes moved in either direction
};

// What an injected fault does to a transfer it matches.
struct Fault {
  enum class Action { kError, kDisconnect, kReplyLength };
  Action action = Action::kError;
  // Match: the nth transfer from now (1 = the next one), or, when 0, every
  // transfer with this request type and request (-1 matches any).
  int64_t nth = 0;
  int request_type = -1;
  int request = -1;
  int error = kUsbErrorIo;  // kError
  int reply_length = 0;     // kReplyLength: bytes the device sends (OUT: bytes that arrive)
  // Request matches: transfers it hits before it is used up (0: every one).
  int times = 0;
};

class Bus : public UsbBackend {
 public:
  Bus();
  ~Bus() override;

  // Devices join in enumeration order, each at the next port. The receiver
  // is owned by the bus; `shared` (not owned) keeps its state where other
  // programs find it.
  Receiver &add_receiver(ReceiverState state = {}, SharedState *shared = nullptr);
  void add_foreign(const ForeignDevice &device);
  // Leaves the next port empty, so the devices after it keep their places.
  void skip_port();
  Receiver *receiver(size_t i = 0);
  size_t receiver_count();
  // The receiver behind a device of a scan (null for a foreign device).
  Receiver *receiver_of(zk_usb_device *dev);

  // Transcript of the latest transfers (at most the limit) since creation
  // or the last clear; a limit of 0 keeps none.
  std::vector<Transfer> transcript();
  void clear_transcript();
  void set_transcript_limit(size_t transfers);

  void add_fault(const Fault &fault);
  void fail_transfer(int nth, int error);
  void fail_request(uint8_t request_type, uint8_t request, int error);
  void disconnect_at(int nth);
  void reply_length(uint8_t request_type, uint8_t request, int length);
  void clear_faults();
  // Delay added to every transfer (0: none).
  void set_latency(std::chrono::milliseconds latency);

  // Reference counts: tests assert that they balance.
  int init_refs();
  int device_refs();
  int open_handles();
  // What the bus holds on to: handles, enumerations, transcript entries.
  struct Holdings {
    size_t handles = 0;
    size_t devices = 0;
    size_t transfers = 0;
    bool operator==(const Holdings &) const = default;
  };
  Holdings holdings();

  // UsbBackend.
  int init() override;
  void exit() override;
  void set_debug(int level) override;
  int get_device_list(std::vector<zk_usb_device *> &devices) override;
  void free_device_list(std::vector<zk_usb_device *> &devices) override;
  int get_device_descriptor(zk_usb_device *dev, UsbDeviceDescriptor *desc) override;
  int open(zk_usb_device *dev, zk_usb_handle **handle) override;
  void close(zk_usb_handle *handle) override;
  int claim_interface(zk_usb_handle *handle, int iface) override;
  int release_interface(zk_usb_handle *handle, int iface) override;
  int get_string_descriptor_ascii(zk_usb_handle *handle, uint8_t index, unsigned char *data,
                                  int length) override;
  int control_transfer(zk_usb_handle *handle, uint8_t request_type, uint8_t request, uint16_t value,
                       uint16_t index, unsigned char *data, uint16_t length,
                       unsigned int timeout_ms) override;
  int interrupt_transfer(zk_usb_handle *handle, uint8_t endpoint, unsigned char *data, int length,
                         int *transferred, unsigned int timeout_ms) override;
  int clear_halt(zk_usb_handle *handle, uint8_t endpoint) override;
  int reset_device(zk_usb_handle *handle) override;
  // Every device sits on bus 1, at its port: "1-1", "1-2"...
  std::string bus_position(zk_usb_device *dev) override;
  // Empty unless set, so a bus of one program's own keeps no files; the bus
  // of a state file, which programs share, is named after the file.
  std::string bus_name() override;
  void set_bus_name(std::string name);

 private:
  struct Slot;
  struct Device;
  struct Handle;

  Device *device_of(zk_usb_device *dev);
  Handle *handle_of(zk_usb_handle *handle);
  Device *current_device_locked(Slot &slot);
  Device *new_device_locked(Slot &slot, uint64_t enumeration);
  // Frees an enumeration nothing refers to any more.
  void release_locked(Device *device);
  bool handle_alive_locked(Handle &handle);
  // Interrupt reads pass -1 and match only faults for any request.
  std::optional<Fault> take_fault_locked(int request_type, int request);
  // What a transfer on a handle meets: the receiver behind it (none for a
  // foreign device) with the enumeration the handle was opened on, and the
  // fault that takes this transfer. Nothing for a handle the bus never gave
  // out.
  struct Route {
    Receiver *receiver = nullptr;
    uint64_t enumeration = 0;
    std::optional<Fault> fault;
    std::chrono::milliseconds latency{0};
  };
  std::optional<Route> route(zk_usb_handle *handle, int request_type, int request);
  void record(Transfer transfer);

  std::mutex mu_;
  std::string name_;
  std::vector<std::unique_ptr<Slot>> slots_;
  std::unordered_map<const Device *, std::unique_ptr<Device>> devices_;
  std::unordered_map<const Handle *, std::unique_ptr<Handle>> handles_;  // open ones
  std::deque<Transfer> transcript_;
  size_t transcript_limit_ = 16384;
  std::vector<Fault> faults_;
  int64_t transfers_ = 0;
  std::chrono::milliseconds latency_{0};
  int init_refs_ = 0;
  int debug_level_ = 0;
  int next_port_ = 1;
};

}  // namespace zk::virt
