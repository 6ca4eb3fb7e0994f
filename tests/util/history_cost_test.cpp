// What keeping the history costs on the bus: the used part of the image is
// read once per command line, and a command that needs the image anyway
// reads nothing more; then an upgrade that loses the map gets it back.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "captured_output.h"
#include "cmd.h"
#include "history_keep.h"
#include "image.h"
#include "receiver_test.h"
#include "zirko_history.h"

namespace {

namespace fs = std::filesystem;

class HistoryCost : public zk::test::HistoryStoreTest {
 protected:
  void SetUp() override {
    HistoryStoreTest::SetUp();
    for (uint32_t i = 0; i < 3; ++i) AddEntry(0xCAFE0000 + i, 0, uint8_t(4 + i));
  }
  // Runs one command line with the receiver open; its EEPROM reads.
  int Reads(const std::string &line) {
    if (zk_fw_state() < 0) {
      EXPECT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
    }
    ClearTranscript();
    history_new_line();
    zk::test::CapturedOutput out(stdout);
    zk::test::CapturedOutput err(stderr);
    EXPECT_EQ(run_cmd_line(line.c_str(), nullptr), 0) << line << err.text();
    return RequestCount(0xC2, 2 /* EEPROM read */);
  }
};

constexpr int kImage = 5 + 6 * 3;  // bytes of the image with three buttons
// A write reads the size once more just before writing it, in case another
// program changed the receiver meanwhile.
constexpr int kSizeCheck = 1;

TEST_F(HistoryCost, TheImageIsReadOncePerCommandLine) {
  EXPECT_EQ(Reads("delete_index 0"), kImage + kSizeCheck)
      << "the hash and the moved entries come from it";
  const std::string saved = TempPath("cost.zcfg");
  std::ofstream(saved, std::ios::binary)
      .write(reinterpret_cast<const char *>(Image().data()), std::streamsize(ImageSize()));
  AddEntry(0xCAFE0009, 0, 9);
  EXPECT_EQ(Reads("loadconfig " + saved), kImage + kSizeCheck)
      << "the bytes compared are the ones kept";
  EXPECT_EQ(Reads("format"), 5 + 6 * 2);
  EXPECT_EQ(zk_history_count(), 3);
  fs::remove(saved);
}

// The new firmware comes up without the buttons: the upgrade puts them back
// from what it kept before the switch, with the upgrade's own flag as it is.
TEST_F(HistoryCost, UpgradeThatLosesTheMapRestoresIt) {
  const std::vector<uint8_t> before = Image();
  const auto image = zk::virt::make_image({{3, 9, {12, 1, 26}}, 0, 0x39393939}, 4 * 128);
  const std::string file = TempPath("cost.bin");
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char *>(image.data()), std::streamsize(image.size()));
  // Wipe the buttons while the receiver sits in its bootloader, which its
  // slow EEPROM writes (the upgrade flag) keep it in for a while.
  receiver().edit([](zk::virt::ReceiverState &s) { s.eeprom_write_ms = 30; });
  std::atomic<bool> wiped{false};
  std::thread wiper([&] {
    for (int i = 0; i < 20000 && !wiped; ++i) {
      if (receiver().snapshot().mode == zk::virt::Mode::kBootloader) {
        SetEeprom(1, 5);
        wiped = true;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
  });
  ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
  zk::test::CapturedOutput out(stdout);
  history_new_line();
  const int rc = run_cmd_line(("upgrade " + file).c_str(), nullptr);
  wiper.join();
  const std::string said = out.text();
  ASSERT_TRUE(wiped);
  EXPECT_EQ(rc, 0);
  EXPECT_NE(said.find("The upgrade changed the receiver's configuration; restoring it from the "
                      "history\nConfiguration restored: 3 buttons\n"),
            std::string::npos)
      << said;
  std::vector<uint8_t> now = Image();
  ASSERT_EQ(now.size(), before.size());
  now[2] &= 0x7F;
  now[4] = before[4];
  EXPECT_EQ(now, before);
  fs::remove(file);
}

}  // namespace
