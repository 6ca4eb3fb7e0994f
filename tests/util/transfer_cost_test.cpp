// What the commands that rewrite the buttons cost on the bus, against the
// fewest transfers the images before and after allow: every byte of the
// image read once (the history keeps it whole), every byte that changes
// written once, and the size's read-back only when something was written
// before it (another program may have moved it meanwhile).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "captured_output.h"
#include "cmd.h"
#include "history_keep.h"
#include "receiver_test.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using zk::layout::kEntrySize;
using zk::layout::kHeaderSize;

// Entry i of a test receiver; `salt` gives another key to the same hash.
void Entry(Bytes &image, int i, uint8_t salt = 0) {
  const uint8_t e[] = {uint8_t(i), uint8_t(i * 7), 0xA5, 0x5A, 0, uint8_t(4 + (i + salt) % 20)};
  image.insert(image.end(), e, e + kEntrySize);
}

Bytes ImageOf(int buttons, uint8_t salt = 0, int from = 0) {
  Bytes image = {0, 0, 0x36, 0x06, 0};
  for (int i = from; i < from + buttons; ++i) Entry(image, i, salt);
  image[0] = uint8_t(image.size() >> 8);
  image[1] = uint8_t(image.size());
  return image;
}

// The fewest transfers that turn the image `before` into `after` when the
// whole of `before` is read first (the history keeps it) and a byte is
// written only when it changes, so that one beyond `before` is read too;
// `memory` is what the EEPROM held there. Plus the size read again before
// it is written, as the image read may be old by then.
int Minimum(const Bytes &before, const Bytes &after, const Bytes &memory) {
  int writes = 0;
  for (size_t at = 2; at < after.size(); ++at)
    writes += (at < before.size() ? before[at] : memory[at]) != after[at];
  const int size_writes = (before[0] != after[0]) + (before[1] != after[1]);
  const int size_check = writes + size_writes > 0 ? 1 : 0;
  return int(std::max(before.size(), after.size())) + writes + size_writes + size_check;
}

class TransferCost : public zk::test::HistoryStoreTest {
 protected:
  // Runs one command line as a user types it; the transfers it made.
  int Transfers(const std::string &line) {
    if (zk_fw_state() < 0) {
      EXPECT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
    }
    ClearTranscript();
    history_new_line();
    zk::test::CapturedOutput out(stdout);
    zk::test::CapturedOutput err(stderr);
    EXPECT_EQ(run_cmd_line(line.c_str(), nullptr), 0) << line << err.text();
    return int(Transcript().size());
  }
  Bytes Memory() {
    const auto eeprom = receiver().snapshot().eeprom;
    return Bytes(eeprom.begin(), eeprom.end());
  }
};

// ---- import ----

struct ImportCase {
  const char *name;
  int buttons;   // on the receiver
  int mapped;    // in the map
  uint8_t salt;  // another key for every button of the map
  int from;      // the map's first button
};

class ImportCost : public TransferCost, public testing::WithParamInterface<ImportCase> {};

TEST_P(ImportCost, ReadsTheImageOnceAndWritesWhatChanges) {
  const ImportCase &c = GetParam();
  SetImage(ImageOf(c.buttons));
  const Bytes before = Image(), memory = Memory();
  const Bytes mapped = ImageOf(c.mapped, c.salt, c.from);
  std::string text;
  for (size_t at = kHeaderSize; at < mapped.size(); at += kEntrySize) {
    char line[64];
    snprintf(line, sizeof line, "%02X%02X%02X%02X usage=0x%02X modifier=0x%02X\n", mapped[at + 3],
             mapped[at + 2], mapped[at + 1], mapped[at], mapped[at + 5], mapped[at + 4]);
    text += line;
  }
  text += "# end of map: " + std::to_string(c.mapped) + " buttons\n";
  const std::string map = TempPath(std::string(c.name) + ".zmap");
  std::ofstream(map) << text;
  const int transfers = Transfers("import --allow-empty " + map);
  const Bytes after = Image();
  ASSERT_EQ(after.size(), mapped.size());
  EXPECT_TRUE(std::equal(after.begin() + kHeaderSize, after.end(), mapped.begin() + kHeaderSize));
  EXPECT_EQ(transfers, Minimum(before, after, memory)) << DescribeTranscript();
  fs::remove(map);
}

INSTANTIATE_TEST_SUITE_P(Maps, ImportCost,
                         testing::Values(ImportCase{"AsExported", 169, 169, 0, 0},
                                         ImportCase{"EveryKeyChanged", 169, 169, 3, 0},
                                         ImportCase{"FewerButtons", 40, 12, 0, 0},
                                         ImportCase{"MoreButtons", 12, 40, 0, 0},
                                         ImportCase{"OtherButtons", 30, 30, 0, 100},
                                         ImportCase{"ToAnEmptyReceiver", 0, 20, 0, 0},
                                         ImportCase{"EmptyMap", 20, 0, 0, 0}),
                         [](const testing::TestParamInfo<ImportCase> &info) {
                           return std::string(info.param.name);
                         });

// ---- delete_index ----

struct DeleteCase {
  int buttons;
  int index;
};

class DeleteIndexCost : public TransferCost, public testing::WithParamInterface<DeleteCase> {};

// The hash shown, the entries moved and the size come from the history's
// one read of the image.
TEST_P(DeleteIndexCost, ReadsTheImageOnceAndWritesWhatChanges) {
  const DeleteCase &c = GetParam();
  SetImage(ImageOf(c.buttons));
  const Bytes before = Image(), memory = Memory();
  const int transfers = Transfers("delete_index " + std::to_string(c.index));
  const Bytes after = Image();
  Bytes expected = ImageOf(0);
  for (int i = 0; i < c.buttons; ++i)
    if (i != c.index) Entry(expected, i);
  expected[0] = uint8_t(expected.size() >> 8);
  expected[1] = uint8_t(expected.size());
  EXPECT_EQ(after, expected);
  EXPECT_EQ(transfers, Minimum(before, after, memory)) << DescribeTranscript();
}

// The library's own delete, with no history: the size, then only the
// entries from the deleted one on.
TEST_P(DeleteIndexCost, TheLibraryReadsOnlyWhatMoves) {
  const DeleteCase &c = GetParam();
  SetImage(ImageOf(c.buttons));
  ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
  const Bytes before = Image(), memory = Memory();
  ClearTranscript();
  zk::test::CapturedOutput out(stdout);
  ASSERT_EQ(zk_delete_index(c.index), 0);
  const Bytes after = Image();
  const int destination = kHeaderSize + kEntrySize * c.index;
  const bool last = c.index == c.buttons - 1;
  // The bytes it reads: the size, then the tail from the deleted entry on;
  // the size again only when something was moved since.
  const int reads = 2 + (last ? 0 : int(before.size()) - destination) - (last ? 1 : 0);
  EXPECT_EQ(int(Transcript().size()), Minimum(before, after, memory) - int(before.size()) + reads)
      << DescribeTranscript();
}

INSTANTIATE_TEST_SUITE_P(Indexes, DeleteIndexCost,
                         testing::Values(DeleteCase{169, 168}, DeleteCase{169, 0},
                                         DeleteCase{169, 84}, DeleteCase{43, 42}, DeleteCase{43, 0},
                                         DeleteCase{1, 0}),
                         [](const testing::TestParamInfo<DeleteCase> &info) {
                           return std::to_string(info.param.index) + "Of" +
                                  std::to_string(info.param.buttons);
                         });

}  // namespace
