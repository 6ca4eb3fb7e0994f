// Writes the seed corpus of fuzz_usb_replies: each seed is what a virtual
// receiver answered while the library ran one operation (or all of them),
// encoded as the fuzz target reads its input, so that fuzzing starts from
// runs that go all the way through.
//
//   fuzz_usb_replies_seed fuzz/corpus/usb_replies
#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "bus.h"
#include "quiet_receiver.h"
#include "usb_replies.h"

namespace {

using namespace zk::fuzz::usb;

template <typename T, size_t N>
uint8_t index_in(const T (&table)[N], T value, const char *what) {
  const auto found = std::find(std::begin(table), std::end(table), value);
  if (found == std::end(table))
    zk::fuzz::fail("the receiver gave a %s the input cannot encode", what);
  return uint8_t(found - std::begin(table));
}

// Passes every call on to the virtual bus and writes down its answer.
class RecordingBackend : public zk::UsbBackend {
 public:
  RecordingBackend(zk::UsbBackend &bus, std::vector<uint8_t> &out) : bus_(bus), out_(out) {}

  int init() override { return bus_.init(); }
  void exit() override { bus_.exit(); }
  void set_debug(int level) override { bus_.set_debug(level); }

  int get_device_list(std::vector<zk_usb_device *> &devices) override {
    const int count = bus_.get_device_list(devices);
    if (count < 0 || count > 2) zk::fuzz::fail("device list of %d", count);
    out_.push_back(uint8_t(count));
    return count;
  }
  void free_device_list(std::vector<zk_usb_device *> &devices) override {
    bus_.free_device_list(devices);
  }

  int get_device_descriptor(zk_usb_device *dev, zk::UsbDeviceDescriptor *desc) override {
    const int result = bus_.get_device_descriptor(dev, desc);
    if (result < 0) return error(result);
    if (desc->idVendor != ZK_VENDOR_ID && desc->idVendor != kForeignVendorId)
      zk::fuzz::fail("vendor %04X", desc->idVendor);
    out_.push_back((desc->idVendor == ZK_VENDOR_ID ? 0 : kForeignVendor) |
                   index_in(kProducts, desc->idProduct, "product id"));
    return result;
  }

  int open(zk_usb_device *dev, zk_usb_handle **handle) override {
    const int result = bus_.open(dev, handle);
    if (result < 0) return error(result);
    out_.push_back(0);
    return result;
  }
  void close(zk_usb_handle *handle) override { bus_.close(handle); }
  int claim_interface(zk_usb_handle *handle, int iface) override {
    return bus_.claim_interface(handle, iface);
  }
  int release_interface(zk_usb_handle *handle, int iface) override {
    return bus_.release_interface(handle, iface);
  }

  int get_string_descriptor_ascii(zk_usb_handle *handle, uint8_t index, unsigned char *data,
                                  int length) override {
    const int result = bus_.get_string_descriptor_ascii(handle, index, data, length);
    if (result < 0) return error(result);
    const char *text = reinterpret_cast<const char *>(data);
    for (size_t i = 0; i < std::size(kStrings); ++i) {
      if (strcmp(text, kStrings[i]) == 0) {
        out_.push_back(uint8_t(i));
        return result;
      }
    }
    if (result >= kMaxRawString) zk::fuzz::fail("string of %d characters", result);
    out_.push_back(uint8_t(std::size(kStrings)));
    out_.push_back(uint8_t(result));
    out_.insert(out_.end(), data, data + result);
    return result;
  }

  int control_transfer(zk_usb_handle *handle, uint8_t request_type, uint8_t request, uint16_t value,
                       uint16_t index, unsigned char *data, uint16_t length,
                       unsigned int timeout_ms) override {
    const int result = bus_.control_transfer(handle, request_type, request, value, index, data,
                                             length, timeout_ms);
    if (result < 0) return error(result);
    transferred(result, request_type & 0x80 ? data : nullptr);
    return result;
  }

  int interrupt_transfer(zk_usb_handle *handle, uint8_t endpoint, unsigned char *data, int length,
                         int *count, unsigned int timeout_ms) override {
    const int result = bus_.interrupt_transfer(handle, endpoint, data, length, count, timeout_ms);
    if (result < 0) return error(result);
    transferred(*count, data);
    return result;
  }

  int clear_halt(zk_usb_handle *handle, uint8_t endpoint) override {
    return bus_.clear_halt(handle, endpoint);
  }
  int reset_device(zk_usb_handle *handle) override { return bus_.reset_device(handle); }

 private:
  int error(int code) {
    out_.push_back(kErrorMark | index_in(kErrors, code, "error code"));
    return code;
  }
  void transferred(int count, const unsigned char *reply) {
    if (count >= kErrorMark) zk::fuzz::fail("transfer of %d bytes", count);
    out_.push_back(uint8_t(count));
    if (reply) out_.insert(out_.end(), reply, reply + count);
  }

  zk::UsbBackend &bus_;
  std::vector<uint8_t> &out_;
};

struct Receiver {
  const char *name;
  std::function<void(zk::virt::ReceiverState &)> setup;
};

// Two recorded buttons, the first of them on key "a".
void two_buttons(zk::virt::ReceiverState &s) {
  const uint8_t entries[] = {0x01, 0, 0xCA, 0xFE, 0x00, 0x04, 0x02, 0, 0xCA, 0xFE, 0x02, 0x05};
  std::copy(std::begin(entries), std::end(entries), s.eeprom.begin() + zk::virt::kHeaderSize);
  s.set_image_size(zk::virt::kHeaderSize + int(sizeof entries));
}

const Receiver kReceivers[] = {
    {"fw3", [](zk::virt::ReceiverState &s) { two_buttons(s); }},
    {"fw2",
     [](zk::virt::ReceiverState &s) {
       two_buttons(s);
       s.firmware = {2, 6, {5, 14, 24}};
       s.bootloader = {2, 0, {3, 2, 23}};
     }},
    {"fw1",
     [](zk::virt::ReceiverState &s) {
       two_buttons(s);
       s.firmware = {1, 2, {5, 14, 24}};
       s.bootloader = {1, 4, {3, 2, 23}};
     }},
    {"bootloader", [](zk::virt::ReceiverState &s) { s.mode = zk::virt::Mode::kBootloader; }},
};

struct Run {
  const char *name;
  uint8_t operations;
};

const Run kRuns[] = {
    {"settings", kSettings}, {"keys", kKeys},     {"save", kSave},       {"load", kLoad},
    {"delete", kDelete},     {"record", kRecord}, {"upgrade", kUpgrade}, {"all", 0xFF},
};

std::vector<uint8_t> record_run(const Receiver &receiver, const Run &run_spec, const Files &files) {
  zk::virt::Bus bus;
  zk::virt::ReceiverState state = zk::test::QuietReceiverState();
  receiver.setup(state);
  bus.add_receiver(state).queue_press(0xCAFE0001);
  const Script script{run_spec.operations, 0, 3, 0};
  std::vector<uint8_t> out{script.operations, script.delete_index, script.setting, script.record};
  RecordingBackend recorder(bus, out);
  zk::set_usb_backend(&recorder);
  run(script, files);
  zk::set_usb_backend(nullptr);
  return out;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
    return 2;
  }
  FakeClock::install(0);
  const Files files;
  for (const Receiver &receiver : kReceivers) {
    for (const Run &run_spec : kRuns) {
      const std::vector<uint8_t> seed = record_run(receiver, run_spec, files);
      const std::string path =
          std::string(argv[1]) + "/seed-" + receiver.name + "-" + run_spec.name;
      zk::fuzz::write_file(path, seed.data(), seed.size());
    }
  }
  return 0;
}
