// Several virtual receivers on one bus, each kept in a state file of its
// own, as ZIRKO_VIRTUAL=a.state:b.state:c.state names them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "captured_output.h"
#include "quiet_receiver.h"
#include "state_file.h"
#include "state_file_bus.h"
#include "temp_folder.h"
#include "usb_backend.h"
#include "zirko.h"

namespace zk::virt {
namespace {

struct Listed {
  std::string position;
  int state, major, minor;
  bool operator==(const Listed &) const = default;
};
void PrintTo(const Listed &l, std::ostream *os) {
  *os << l.position << " state " << l.state << " v" << l.major << "." << l.minor;
}

class SeveralReceivers : public ::testing::Test {
 protected:
  void TearDown() override {
    zk_close_device();
    zk_choose_device(nullptr);
    zk::set_usb_backend(nullptr);
  }
  // A state file per receiver; "boot" puts it in its bootloader (2.1).
  std::string Files(const std::vector<std::string> &kinds) {
    std::string value;
    for (size_t i = 0; i < kinds.size(); ++i) {
      ReceiverState s = zk::test::QuietReceiverState();
      if (kinds[i] == "boot") s.mode = Mode::kBootloader;
      if (kinds[i] == "fw2") s.firmware = {2, 6, {1, 2, 24}};
      const std::string path = folder.path + "/" + std::to_string(i) + ".state";
      EXPECT_TRUE(write_file_atomically(path, format_state(s)));
      value += (i ? ":" : "") + path;
    }
    return value;
  }
  static std::vector<Listed> List() {
    zk_receiver found[8];
    const int n = zk_list_receivers(ZK_VENDOR_ID, found, 8, 1);
    std::vector<Listed> listed;
    for (int i = 0; i < n && i < 8; ++i)
      listed.push_back({found[i].position, found[i].state, found[i].major, found[i].minor});
    return listed;
  }
  test::TempFolder folder;
};

TEST_F(SeveralReceivers, EachFileIsOneReceiverInTheOrderNamed) {
  const struct {
    std::vector<std::string> kinds;
    std::vector<Listed> listed;
  } cases[] = {
      {{"fw", "boot"}, {{"1-1", 2, 3, 8}, {"1-2", 1, 2, 1}}},
      {{"boot", "fw2", "fw"}, {{"1-1", 1, 2, 1}, {"1-2", 2, 2, 6}, {"1-3", 2, 3, 8}}},
  };
  for (const auto &c : cases) {
    StateFileBus files(split_state_paths(Files(c.kinds)));
    zk::set_usb_backend(&files.bus());
    EXPECT_EQ(List(), c.listed);
    // The first found, as before, is the first running its firmware.
    ASSERT_EQ(zk_open_device(ZK_VENDOR_ID, ZK_MANUFACTURER), ZK_STATE_FIRMWARE);
    EXPECT_EQ(zk_major_version(), c.listed[c.kinds[0] == "boot" ? 1 : 0].major);
    // Each position opens its own receiver, in its own mode.
    for (const Listed &l : c.listed) {
      ASSERT_EQ(zk_open_device_at(ZK_VENDOR_ID, ZK_MANUFACTURER, l.position.c_str()), l.state);
      EXPECT_EQ(zk_minor_version(), l.minor) << l.position;
    }
    // A write reaches that one receiver's file only.
    ASSERT_EQ(zk_open_device_at(ZK_VENDOR_ID, ZK_MANUFACTURER, "1-2"), c.listed[1].state);
    ASSERT_EQ(zk_eeprom_poke(4, 0x42), 0);
    zk_close_device();
    for (size_t i = 0; i < c.kinds.size(); ++i)
      EXPECT_EQ(files.receiver(i)->snapshot().eeprom[4], i == 1 ? 0x42 : 0x00) << i;
    zk_choose_device(nullptr);
  }
}

TEST_F(SeveralReceivers, OneUnpluggedWhileAnotherStaysInUse) {
  StateFileBus files(split_state_paths(Files({"fw", "fw2", "boot"})));
  zk::set_usb_backend(&files.bus());
  ASSERT_EQ(zk_open_device_at(ZK_VENDOR_ID, ZK_MANUFACTURER, "1-2"), ZK_STATE_FIRMWARE);
  files.receiver(0)->unplug();
  // The others keep their positions; the one in use goes on answering.
  EXPECT_EQ(List(), (std::vector<Listed>{{"1-2", 2, 2, 6}, {"1-3", 1, 2, 1}}));
  EXPECT_EQ(zk_get_interkey_delay(), 6);
  EXPECT_EQ(zk_open_device_at(ZK_VENDOR_ID, ZK_MANUFACTURER, "1-1"), ZK_ERR_NO_RECEIVER);
  files.receiver(0)->plug();
  // The choice holds for every later open until it is changed.
  zk_choose_device("1-3");
  EXPECT_EQ(zk_open_device(ZK_VENDOR_ID, ZK_MANUFACTURER), ZK_STATE_BOOTLOADER);
  zk_choose_device("");
  ASSERT_EQ(zk_open_device(ZK_VENDOR_ID, ZK_MANUFACTURER), ZK_STATE_FIRMWARE);
  EXPECT_EQ(zk_major_version(), 3);
  zk_close_device();  // while its bus lives
}

TEST_F(SeveralReceivers, ARefusedFileLeavesItsPortEmpty) {
  const std::string value = Files({"fw", "fw2"});
  const std::string first = value.substr(0, value.find(':'));
  zk::test::CapturedOutput err(stderr);
  // A folder, the first file again, and an empty name between colons.
  StateFileBus files(split_state_paths(folder.path + ":" + value + "::" + first));
  EXPECT_EQ(err.text(), "zirko virtual: " + folder.path +
                            ": is a directory; the state file must be a regular file\n"
                            "zirko virtual: " +
                            first + ": named twice; each file is one receiver\n");
  zk::set_usb_backend(&files.bus());
  EXPECT_EQ(List(), (std::vector<Listed>{{"1-2", 2, 3, 8}, {"1-3", 2, 2, 6}}));
  EXPECT_EQ(files.size(), 4u);
  EXPECT_EQ(files.receiver(0), nullptr);
  EXPECT_FALSE(files.usable());
}

}  // namespace
}  // namespace zk::virt
