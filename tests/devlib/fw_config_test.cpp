// The configuration image: a user's whole session, delete by index and its
// rewrite, save and load.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "captured_output.h"
#include "receiver_test.h"
#include "text_assert.h"

using zk::test::CapturedOutput;
using zk::test::Contains;

namespace {

using Bytes = std::vector<uint8_t>;

// Image with settings 0x25/0x5E, reserved byte 0x50 and n entries.
Bytes ImageOf(int n, int without = -1) {
  Bytes image{0, 0, 0x25, 0x5E, 0x50};
  for (int i = 0; i < n; ++i) {
    if (i != without)
      image.insert(image.end(), {uint8_t(0x10 + i), uint8_t(i >> 8), 0xDE, 0, 0, 4});
  }
  image[0] = uint8_t(image.size() >> 8);
  image[1] = uint8_t(image.size());
  return image;
}

// The whole EEPROM after deleting `index` by copying the image, moving the
// entries behind it down and writing the image back from address 0; bytes
// past the new size keep their old values.
std::array<uint8_t, zk::virt::kEepromSize> RewrittenWhole(
    std::array<uint8_t, zk::virt::kEepromSize> eeprom, int index) {
  const int size = eeprom[0] << 8 | eeprom[1];
  const int destination = 5 + 6 * index;
  std::copy(eeprom.begin() + destination + 6, eeprom.begin() + size, eeprom.begin() + destination);
  const int new_size = size - 6;
  eeprom[0] = uint8_t(new_size >> 8);
  eeprom[1] = uint8_t(new_size);
  return eeprom;
}

class ConfigTest : public zk::test::VirtualReceiverTest {
 protected:
  void SetUp() override {
    VirtualReceiverTest::SetUp();
    ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
  }
  void TearDown() override {
    std::remove(path_.c_str());
    VirtualReceiverTest::TearDown();
  }
  std::string Listing() {
    CapturedOutput out(stdout);
    EXPECT_EQ(zk_display_config(), 0);
    return out.text();
  }
  int Record(uint32_t hash, const char *name) {
    QueuePress(hash);
    return zk_set_record(name, 5);
  }
  void WriteFile(const Bytes &bytes) {
    std::ofstream(path_, std::ios::binary)
        .write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
  }
  const std::string path_ = TempPath("config_test.zcfg");
};

TEST_F(ConfigTest, RecordListDeleteSaveFormatLoadAndPress) {
  EXPECT_EQ(Record(0xCAFE0001, "a"), 0);
  EXPECT_EQ(Record(0xCAFE0002, "A"), 0);
  EXPECT_EQ(Record(0xCAFE0003, "vol_up"), 0);
  QueuePress(0xCAFE0004);
  EXPECT_EQ(zk_set_record_api(0x01, 0x28, 5), 0);
  ExpectRequest(0xC0, 1, 0x04, 0x02, 0, 5000);
  ExpectRequest(0xC0, 1, 0x66, 0xE9, 0);
  ExpectRequest(0xC0, 1, 0x28, 0x01, 1);
  const std::string heading = "\nRecorded Keys:\nIndex  hash        key\n-----  ---------   ---\n";
  EXPECT_EQ(Listing(), heading +
                           "    0  CAFE0001    a\n    1  CAFE0002    A\n"
                           "    2  CAFE0003    vol_up\n    3  CAFE0004    left_ctrl return\n");

  EXPECT_EQ(zk_delete_buttons("A"), 1);  // the receiver's count
  ExpectRequest(0xC0, 4, 0x04, 0x02, 2);
  EXPECT_EQ(zk_delete_index(0), 0);
  EXPECT_EQ(zk_set_noise_cancel(1), 0);
  const std::string kept =
      heading + "    0  CAFE0003    vol_up\n    1  CAFE0004    left_ctrl return\n";
  EXPECT_EQ(Listing(), kept);

  const Bytes image = Image();
  ASSERT_EQ(zk_save_config(path_.c_str()), 0);
  ASSERT_EQ(zk_format_config(), 0);
  ASSERT_EQ(zk_set_noise_cancel(0), 0);
  EXPECT_EQ(Listing(), "No Keys Found\n");
  ClearTranscript();
  EXPECT_EQ(zk_load_config(path_.c_str()), 0);
  ExpectNoRequest(0xC2, 7);  // loaded settings apply at the next start
  EXPECT_EQ(Listing(), kept);
  EXPECT_EQ(Image(), image);
  EXPECT_EQ(zk_get_noise_cancel(), 1);

  Press(0xCAFE0004);
  EXPECT_EQ(KeyReports(), (std::vector<zk::virt::KeyReport>{{0xCAFE0004, 0x28, 0x01}}));
}

TEST_F(ConfigTest, DeleteIndexLeavesTheEepromAsAWholeRewriteWould) {
  const Bytes full = ImageOf(169);
  for (int index = 0; index < 169; ++index) {
    SetImage(full);
    const auto before = receiver().snapshot().eeprom;
    ClearTranscript();
    ASSERT_EQ(zk_delete_index(index), 0);
    ASSERT_EQ(receiver().snapshot().eeprom, RewrittenWhole(before, index)) << "index " << index;
  }
  // The last button: its entry and the size header, nothing else.
  EXPECT_LE(Transcript().size(), 4u);
  SetImage(ImageOf(1));
  EXPECT_EQ(zk_delete_index(0), 0);
  EXPECT_EQ(Image(), ImageOf(0));

  SetImage(ImageOf(2));
  ClearTranscript();
  CapturedOutput err(stderr);
  EXPECT_EQ(zk_delete_index(2), -1);
  EXPECT_EQ(zk_delete_index(-1), -1);
  EXPECT_TRUE(Contains(err.text(), "index invalid"));
  FailTransfer(7, zk::kUsbErrorPipe);  // a byte read of the copy
  EXPECT_EQ(zk_delete_index(0), -16);
  ExpectNoRequest(0xC2, 3);
  EXPECT_EQ(Image(), ImageOf(2));
  FailRequest(0xC2, 3, zk::kUsbErrorPipe);
  EXPECT_EQ(zk_delete_index(0), -16);
}

TEST_F(ConfigTest, LoadRefusesFilesTheReceiverCouldNotUse) {
  Bytes too_long(1024, 0);
  too_long[0] = 0x04;
  Bytes mismatched = ImageOf(2);
  mismatched[1] = 11;
  for (const Bytes &file : {Bytes{}, Bytes{0, 4, 0x36, 0x06}, too_long, mismatched}) {
    WriteFile(file);
    SetImage(ImageOf(1));
    ClearTranscript();
    CapturedOutput err(stderr);
    EXPECT_EQ(zk_load_config(path_.c_str()), -6) << file.size() << " bytes";
    EXPECT_TRUE(Contains(err.text(), "invalid configuration file"));
    ExpectNoRequest(0xC2, 3);
  }
  CapturedOutput err(stderr);
  EXPECT_EQ(zk_load_config((path_ + ".missing").c_str()), -6);
  EXPECT_TRUE(Contains(err.text(), "could not open file"));
}

TEST_F(ConfigTest, SaveAndLoadFailures) {
  CapturedOutput err(stderr);
  EXPECT_EQ(zk_save_config(nullptr), -6);
  EXPECT_EQ(zk_save_config(std::string(300, 'x').c_str()), -6);
  const std::string log = err.text();
  EXPECT_TRUE(Contains(log, "invalid file"));
  EXPECT_TRUE(Contains(log, "file name too long"));

  for (int i = 0; i < 169; ++i) AddEntry(0x100 + i, 0, 0x04);  // the largest image
  ASSERT_EQ(zk_save_config(path_.c_str()), 0);
  EXPECT_EQ(zk_load_config(path_.c_str()), 0);
  FailTransfer(4, zk::kUsbErrorPipe);
  EXPECT_EQ(zk_save_config(path_.c_str()), -16);
  FailTransfer(4, zk::kUsbErrorPipe);
  EXPECT_EQ(zk_load_config(path_.c_str()), -16);
  EXPECT_EQ(zk_save_config((testing::TempDir() + "no/such/dir.zcfg").c_str()), -6);
}

}  // namespace

namespace {

// A program that takes no lock, here the receiver recording a button while a
// load writes, may move the size during the write: the write then stops
// before its own size, so the button recorded meanwhile is kept.
TEST_F(ConfigTest, WriteStopsBeforeItsSizeWhenTheSizeMovedUnderIt) {
  SetImage(ImageOf(20));
  bus().set_latency(std::chrono::milliseconds(1));
  SetAutoPress(true, 30);  // well inside the write of ~250 transfers
  ASSERT_EQ(zk_set_record_api(0, 0x05, 0), 0);
  Bytes other = ImageOf(20);
  for (size_t at = 5; at < other.size(); at += 6) other[at] ^= 0xFF;  // every hash differs
  CapturedOutput err(stderr);
  EXPECT_EQ(zk_write_config_image(other.data(), int(other.size())), ZK_ERR_BUSY);
  EXPECT_TRUE(Contains(err.text(), "nothing of the other program's work was lost"));
  EXPECT_EQ(ImageSize(), int(other.size()) + 6);
  EXPECT_EQ(Entries().size(), 21u);
  for (const auto &t : Requests(0xC2, 3)) EXPECT_NE(t.value, 1) << "the size's low byte written";
}

}  // namespace
