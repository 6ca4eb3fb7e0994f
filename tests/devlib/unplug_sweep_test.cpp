// The receiver pulled out at every transfer of an operation in turn: no
// crash, no endless wait, an error, a receiver that opens again with a
// configuration that still reads and has lost no button it was not asked to
// lose, and the operation succeeding when run again.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "captured_output.h"
#include "fake_clock.h"
#include "image.h"
#include "receiver_test.h"
#include "zirko_history.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Entry = std::array<uint8_t, 6>;

constexpr uint32_t kNewButton = 0xB0B0B0B0;

// An image of n entries whose hashes start at `first`; 42 entries make 257
// bytes, so removing one moves the size across a 256-byte boundary.
Bytes ImageOf(int n, uint8_t first) {
  Bytes image{0, 0, 0x36, 0x06, 0};
  for (int i = 0; i < n; ++i)
    image.insert(image.end(), {uint8_t(first + i), 0xE1, 0xE2, 0xE3, 0, 4});
  image[0] = uint8_t(image.size() >> 8);
  image[1] = uint8_t(image.size());
  return image;
}

std::vector<Entry> EntriesOf(const Bytes &image) {
  std::vector<Entry> entries;
  for (size_t at = 5; at + 6 <= image.size(); at += 6) {
    Entry e;
    std::copy(image.begin() + at, image.begin() + at + 6, e.begin());
    entries.push_back(e);
  }
  return entries;
}

class UnplugSweep : public zk::test::VirtualReceiverTest {
 protected:
  struct Operation {
    const char *name;
    int firmware_generation;
    int bootloader_generation;  // 0: the operation does not upgrade
    std::function<int(zk::virt::Receiver &)> run;
    // What an interrupted run may leave, given the image before it and after
    // an uninterrupted one.
    std::function<bool(const Bytes &before, const Bytes &after, const Bytes &now)> acceptable;
  };

  static bool OldOrNew(const Bytes &before, const Bytes &after, const Bytes &now) {
    return now == before || now == after;
  }

  void Arrange(const Operation &op) {
    zk_close_device();
    bus().clear_faults();
    Plug();
    SetBootloaderMode(false);
    SetGeneration(op.firmware_generation);
    if (op.bootloader_generation) SetBootloaderVersion(op.bootloader_generation, 1);
    SetImage(ImageOf(42, 0x10));
  }

  // The image as the library reads it, through a fresh open.
  Bytes ReadBack() {
    const int size = zk_eeprom_peek(0) << 8 | zk_eeprom_peek(1);
    Bytes image;
    for (int i = 0; i < size && i < 1024; ++i) image.push_back(uint8_t(zk_eeprom_peek(i)));
    return image;
  }

  // Runs the operation with the receiver pulled out at transfer `nth` (0:
  // never); the image and the result.
  std::pair<int, Bytes> RunCut(const Operation &op, int nth, size_t *transfers = nullptr) {
    Arrange(op);
    EXPECT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
    KeepInHistory();
    ClearTranscript();
    if (nth) DisconnectAt(nth);
    zk::test::CapturedOutput out(stdout);
    zk::test::CapturedOutput err(stderr);
    const int result = op.run(receiver());
    out.text();
    stderr_ = err.text();
    if (transfers) *transfers = Transcript().size();
    zk_close_device();
    bus().clear_faults();
    Plug();
    return {result, Image()};
  }

  // What the programs do before a change: the image goes into the history.
  void KeepInHistory() {
    unsigned char image[1024];
    const int length = zk_read_config_image(image, sizeof image);
    ASSERT_GT(length, 0);
    ASSERT_GE(zk_history_keep(image, length, "sweep"), 0) << zk_history_error();
  }

  // Undo as the programs run it: the newest entry that differs from the
  // receiver goes back. True when the image is then the one before.
  bool UndoRestores(const Bytes &before) {
    unsigned char now[1024];
    const int length = zk_read_config_image(now, sizeof now);
    const int n = zk_history_undo_entry(now, length > 0 ? length : 0);
    if (n < 0) return false;
    zk::test::CapturedOutput out(stdout);
    if (n > 0 && zk_history_restore(n, nullptr) != 0) return false;
    out.text();
    return Image() == before;
  }

  void Sweep(const Operation &op) {
    size_t transfers = 0;
    const Bytes before = ImageOf(42, 0x10);
    const auto [clean_result, after] = RunCut(op, 0, &transfers);
    ASSERT_EQ(clean_result, 0) << op.name;
    ASSERT_GT(transfers, 0u);
    int kept_old = 0, made_new = 0, mixed = 0, undone = 0;
    for (int nth = 1; nth <= int(transfers); ++nth) {
      SCOPED_TRACE(std::string(op.name) + ", pulled out at transfer " + std::to_string(nth));
      const auto [result, image] = RunCut(op, nth);
      ++(image == before ? kept_old : image == after ? made_new : mixed);
      EXPECT_TRUE(result < 0 || image == after) << "result " << result;
      const int state = OpenReceiver();
      ASSERT_GT(state, 0) << "the receiver does not open again";
      if (state == ZK_STATE_FIRMWARE) {
        zk::test::CapturedOutput out(stdout);
        EXPECT_EQ(zk_display_config(), 0);
        out.text();
        EXPECT_TRUE(op.acceptable(before, after, ReadBack())) << stderr_;
        // Undo straight after the cut; the redo then starts from the original.
        const bool restored = UndoRestores(before);
        EXPECT_TRUE(restored) << "undo after the cut";
        undone += restored;
      }
      zk::test::CapturedOutput out(stdout);
      const int redo = op.run(receiver());
      out.text();
      EXPECT_TRUE(redo == 0 || (redo == -5 && Image() == after)) << "redo gave " << redo;
      EXPECT_EQ(zk_fw_state(), ZK_STATE_FIRMWARE);
      if (state != ZK_STATE_FIRMWARE) {  // an upgrade cut off: undo once it is finished
        const bool restored = UndoRestores(before);
        EXPECT_TRUE(restored) << "undo after the upgrade was completed";
        undone += restored;
      }
      if (HasFailure()) return;
    }
    std::printf("%-22s %4zu cuts: %4d old, %4d new, %4d interrupted; undo restored %d\n", op.name,
                transfers, kept_old, made_new, mixed, undone);
  }

  std::string stderr_;
};

int Upgrade() {
  const Bytes image = zk::virt::make_image({{3, 9, {12, 1, 26}}, 0, 0x39393939}, 4 * 128);
  return zk_upgrade_fw_ext(image.data(), int(image.size()), ZK_VENDOR_ID, ZK_MANUFACTURER, nullptr,
                           nullptr);
}

// Upgrades touch only the upgrade flag of the configuration.
bool ConfigurationKept(const Bytes &before, const Bytes &, const Bytes &now) {
  Bytes unflagged = now;
  if (unflagged.size() > 2) unflagged[2] &= 0x7F;
  return unflagged == before;
}

// Every button but the deleted one (index 3) is still there, once or twice.
bool NoButtonLost(const Bytes &before, const Bytes &, const Bytes &now) {
  const std::vector<Entry> kept = EntriesOf(now);
  std::vector<Entry> wanted = EntriesOf(before);
  wanted.erase(wanted.begin() + 3);
  for (const Entry &e : wanted) {
    if (std::find(kept.begin(), kept.end(), e) == kept.end()) return false;
  }
  return true;
}

// A load cut short leaves a mix that still reads: a size the host accepts.
bool Readable(const Bytes &, const Bytes &, const Bytes &now) {
  return now.size() >= 5 && now.size() < 1024;
}

TEST_F(UnplugSweep, EveryTransferOfEveryOperation) {
  zk::test::FakeClock clock;
  const std::string history = TempPath("sweep_history");
  setenv("XDG_STATE_HOME", history.c_str(), 1);
  const std::string file = TempPath("sweep.zcfg");
  const Bytes loaded = ImageOf(30, 0x80);
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char *>(loaded.data()), std::streamsize(loaded.size()));
  const std::string saved = TempPath("sweep_saved.zcfg");

  const Operation operations[] = {
      {"save", 3, 0, [&](zk::virt::Receiver &) { return zk_save_config(saved.c_str()); }, OldOrNew},
      {"load", 3, 0, [&](zk::virt::Receiver &) { return zk_load_config(file.c_str()); }, Readable},
      {"delete_index", 3, 0, [](zk::virt::Receiver &) { return zk_delete_index(3); }, NoButtonLost},
      {"format", 3, 0, [](zk::virt::Receiver &) { return zk_format_config(); }, OldOrNew},
      {"record, generation 3", 3, 0,
       [](zk::virt::Receiver &r) {
         r.queue_press(kNewButton);
         return zk_set_record("a", 5);
       },
       OldOrNew},
      {"record, generation 1", 1, 0,
       [](zk::virt::Receiver &r) {
         r.queue_press(kNewButton);
         return zk_set_record("a", 5);
       },
       OldOrNew},
      {"upgrade, bootloader 1", 3, 1, [](zk::virt::Receiver &) { return Upgrade(); },
       ConfigurationKept},
      {"upgrade, bootloader 2", 3, 2, [](zk::virt::Receiver &) { return Upgrade(); },
       ConfigurationKept},
  };
  for (const Operation &op : operations) Sweep(op);
  unsetenv("XDG_STATE_HOME");
  std::filesystem::remove_all(history);
  std::remove(file.c_str());
  std::remove(saved.c_str());
}

}  // namespace
