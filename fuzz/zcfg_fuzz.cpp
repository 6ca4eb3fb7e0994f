// Loading a configuration file into the receiver: the file check, the write
// and the listing of what was loaded, against the in-process virtual
// receiver. A file the library accepts must land in the EEPROM byte for
// byte; one it refuses must leave the EEPROM untouched.
#include <algorithm>
#include <array>
#include <cstdint>

#include "bus.h"
#include "fuzz_support.h"
#include "quiet_receiver.h"
#include "usb_backend.h"
#include "zirko.h"

namespace {

struct Rig {
  zk::virt::Bus bus;
  zk::virt::Receiver &receiver = bus.add_receiver(zk::test::QuietReceiverState());
  std::string path = zk::fuzz::scratch_path("config.zcfg");
};

Rig &rig() {
  static Rig *instance = new Rig;  // never destroyed: the library holds its handle
  return *instance;
}

// Two recorded buttons, so that a refused load has something to lose.
void reset_receiver(zk::virt::Receiver &receiver) {
  receiver.edit([](zk::virt::ReceiverState &s) {
    s.reset_eeprom();
    const uint8_t entries[] = {0x01, 0x00, 0xCA, 0xFE, 0x00, 0x04,
                               0x02, 0x00, 0xCA, 0xFE, 0x02, 0x05};
    std::copy(std::begin(entries), std::end(entries), s.eeprom.begin() + zk::virt::kHeaderSize);
    s.set_image_size(zk::virt::kHeaderSize + int(sizeof entries));
  });
}

}  // namespace

// The receiver stays open for the whole process: the bus keeps a record of
// every handle it gave out, which would grow with each run.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  zk::set_usb_backend(&rig().bus);
  if (zk_open_device(ZK_VENDOR_ID, ZK_MANUFACTURER) != ZK_STATE_FIRMWARE)
    zk::fuzz::fail("the virtual receiver did not open");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Rig &r = rig();
  reset_receiver(r.receiver);
  zk::fuzz::write_file(r.path, data, size);
  const auto before = r.receiver.snapshot().eeprom;
  const int result = zk_load_config(r.path.c_str());
  const auto after = r.receiver.snapshot().eeprom;
  if (result == 0) {
    if (size > after.size() || !std::equal(data, data + size, after.begin()))
      zk::fuzz::fail("an accepted file of %zu bytes is not what the EEPROM holds", size);
  } else if (after != before) {
    zk::fuzz::fail("a refused file (result %d) changed the EEPROM", result);
  }
  zk_display_config();
  zk_keys_recorded();
  zk_keys_remaining();
  r.bus.clear_transcript();
  return 0;
}
