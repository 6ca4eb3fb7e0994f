// The library against a hostile receiver. Every USB call it makes is
// answered from the input (see usb_replies.h) while it opens the receiver
// and runs the settings, the key list, save, load, delete_index, recording
// and an upgrade.
//
// The wait clock is fake (a sleep passes at once); a run that waits or
// transfers far beyond what any operation needs is reported as a hang, and
// so is a USB handle still open once the receiver is closed and gone.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "usb_replies.h"

namespace {

using namespace zk::fuzz::usb;

// Far beyond the longest bounded wait (a 100 s recording, two 30 s upgrade waits).
constexpr int64_t kWaitLimitUs = 3600LL * 1000000;
// A whole-EEPROM load is about 1000 transfers, an upgrade a few hundred.
constexpr int kTransferLimit = 200000;

// The input as a stream of answers.
class Input {
 public:
  void reset(const uint8_t *data, size_t size) {
    data_ = data;
    left_ = size;
  }
  uint8_t byte(uint8_t fallback = 0) {
    if (left_ == 0) return fallback;
    --left_;
    return *data_++;
  }
  void bytes(unsigned char *out, int count) {
    for (int i = 0; i < count; ++i) out[i] = byte();
  }

 private:
  const uint8_t *data_ = nullptr;
  size_t left_ = 0;
};

int error_of(uint8_t answer) {
  return kErrors[answer & 0x0F];
}

class HostileBackend : public zk::UsbBackend {
 public:
  void start_run(const uint8_t *data, size_t size) {
    input_.reset(data, size);
    transfers_ = 0;
  }
  Input &input() { return input_; }
  int open_handles() const { return open_handles_; }

  int init() override { return 0; }
  void exit() override {}
  void set_debug(int) override {}

  int get_device_list(std::vector<zk_usb_device *> &devices) override {
    const int count = input_.byte() % 3;
    for (int i = 0; i < count; ++i) devices.push_back(device(i));
    return count;
  }
  void free_device_list(std::vector<zk_usb_device *> &devices) override { devices.clear(); }

  int get_device_descriptor(zk_usb_device *, zk::UsbDeviceDescriptor *desc) override {
    const uint8_t answer = input_.byte(kGone);
    if (answer >= kErrorMark) return error_of(answer);
    desc->idVendor = answer & kForeignVendor ? kForeignVendorId : ZK_VENDOR_ID;
    desc->idProduct = kProducts[(answer & 0x7F) % std::size(kProducts)];
    desc->iManufacturer = 1;
    desc->iProduct = 2;
    return 0;
  }

  int open(zk_usb_device *dev, zk_usb_handle **handle) override {
    const uint8_t answer = input_.byte(kGone);
    if (answer >= kErrorMark) return error_of(answer);
    *handle = reinterpret_cast<zk_usb_handle *>(dev);
    ++open_handles_;
    return 0;
  }
  void close(zk_usb_handle *) override { --open_handles_; }
  int claim_interface(zk_usb_handle *, int) override { return 0; }
  int release_interface(zk_usb_handle *, int) override { return 0; }

  // NUL-terminated within `length`, as libusb promises.
  int get_string_descriptor_ascii(zk_usb_handle *, uint8_t, unsigned char *data,
                                  int length) override {
    const uint8_t answer = input_.byte(kGone);
    if (answer >= kErrorMark) return error_of(answer);
    if (length <= 0) return zk::kUsbErrorInvalidParam;
    std::vector<unsigned char> text;
    if (answer < std::size(kStrings)) {
      text.assign(kStrings[answer], kStrings[answer] + strlen(kStrings[answer]));
    } else {
      text.resize(input_.byte() % kMaxRawString);
      input_.bytes(text.data(), int(text.size()));
    }
    const int count = std::min(int(text.size()), length - 1);
    std::copy_n(text.begin(), count, data);
    data[count] = '\0';
    return count;
  }

  int control_transfer(zk_usb_handle *, uint8_t request_type, uint8_t, uint16_t, uint16_t,
                       unsigned char *data, uint16_t length, unsigned int) override {
    count_transfer();
    const uint8_t answer = input_.byte(kGone);
    if (answer >= kErrorMark) return error_of(answer);
    const int count = std::min<int>(answer, length);
    if (request_type & 0x80) input_.bytes(data, count);
    return count;
  }

  int interrupt_transfer(zk_usb_handle *, uint8_t, unsigned char *data, int length,
                         int *transferred, unsigned int) override {
    count_transfer();
    *transferred = 0;
    const uint8_t answer = input_.byte(kGone);
    if (answer >= kErrorMark) return error_of(answer);
    *transferred = std::min<int>(answer, length);
    input_.bytes(data, *transferred);
    return 0;
  }

  int clear_halt(zk_usb_handle *, uint8_t) override { return 0; }
  int reset_device(zk_usb_handle *) override { return 0; }

 private:
  static zk_usb_device *device(int i) {
    static char devices[2];
    return reinterpret_cast<zk_usb_device *>(&devices[i]);
  }
  void count_transfer() {
    if (++transfers_ > kTransferLimit)
      zk::fuzz::fail("hang: more than %d transfers in one run", kTransferLimit);
  }

  Input input_;
  int transfers_ = 0;
  int open_handles_ = 0;
};

HostileBackend backend;
const Files *files = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
  zk::fuzz::buffer_discarded_output(*argc, *argv);
  zk::set_usb_backend(&backend);
  FakeClock::install(kWaitLimitUs);
  zk_set_log_level(ZK_LOG_VERBOSE);  // the log lines format what the receiver sent
  files = new Files;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  backend.start_run(data, size);
  Script script;
  Input &input = backend.input();
  script.operations = input.byte(script.operations);
  script.delete_index = input.byte();
  script.setting = input.byte();
  script.record = input.byte();
  FakeClock::start_run();
  run(script, *files);
  // Every receiver leaves; a scan that finds none must leave no handle open.
  backend.start_run(nullptr, 0);
  zk_open_device(ZK_VENDOR_ID, ZK_MANUFACTURER);
  if (backend.open_handles() != 0)
    zk::fuzz::fail(
        "%d USB handle(s) still open after the receiver was closed and a scan found "
        "no receiver",
        backend.open_handles());
  return 0;
}
