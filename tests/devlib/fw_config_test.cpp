// The configuration image: delete by index and its rewrite, save and load.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "text_assert.h"
#include "virtual_receiver_fixture.h"

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;
using zk::test::Contains;

namespace {

using Bytes = std::vector<uint8_t>;

// Image with settings 0x25/0x5E, reserved byte 0x50 and n entries.
Bytes ImageOf(int n) {
  Bytes image{0, uint8_t(5 + 6 * n), 0x25, 0x5E, 0x50};
  for (int i = 0; i < n; ++i) {
    Bytes entry{uint8_t(0x10 + i), 0xBE, 0xAD, 0xDE, 0x00, uint8_t(0x04 + i)};
    image.insert(image.end(), entry.begin(), entry.end());
  }
  return image;
}

Bytes Without(Bytes image, int index) {
  image.erase(image.begin() + 5 + 6 * index, image.begin() + 11 + 6 * index);
  image[1] = uint8_t(image.size());
  return image;
}

class ConfigTest : public zk::test::VirtualReceiverTest {
 protected:
  void SetUp() override {
    VirtualReceiverTest::SetUp();
    ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
    path_ = testing::TempDir() + "zirko_config_" +
            testing::UnitTest::GetInstance()->current_test_info()->name() + ".zcfg";
  }
  void TearDown() override {
    std::remove(path_.c_str());
    VirtualReceiverTest::TearDown();
  }
  Bytes ReadFile() {
    std::ifstream in(path_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  void WriteFile(const Bytes &bytes) {
    std::ofstream(path_, std::ios::binary)
        .write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
  }
  std::string path_;
};

TEST_F(ConfigTest, DeleteIndexRemovesFirstMiddleAndLastEntry) {
  for (int index = 0; index < 3; ++index) {
    SetImage(ImageOf(3));
    ClearTranscript();
    EXPECT_EQ(zk_delete_index(index), 0);
    EXPECT_EQ(Image(), Without(ImageOf(3), index)) << "index " << index;
    EXPECT_EQ(Requests(0xC2, 3).size(), 17u);  // the whole image, header included
  }
  SetImage(ImageOf(1));
  EXPECT_EQ(zk_delete_index(0), 0);
  EXPECT_EQ(Image(), Without(ImageOf(1), 0));
}

TEST_F(ConfigTest, DeleteIndexRefusesIndexesOutsideTheImage) {
  SetImage(ImageOf(2));
  ClearTranscript();
  CaptureStderr();
  EXPECT_EQ(zk_delete_index(2), -1);
  EXPECT_EQ(zk_delete_index(-1), -1);
  EXPECT_TRUE(Contains(GetCapturedStderr(), "index invalid"));
  ExpectNoRequest(0xC2, 3);
}

TEST_F(ConfigTest, DeleteIndexReportsFailedTransfers) {
  SetImage(ImageOf(2));
  ClearTranscript();
  FailTransfer(7, zk::kUsbErrorPipe);  // a byte read of the copy
  EXPECT_EQ(zk_delete_index(0), -16);
  ExpectNoRequest(0xC2, 3);
  EXPECT_EQ(Image(), ImageOf(2));

  FailRequest(0xC2, 3, zk::kUsbErrorPipe);
  EXPECT_EQ(zk_delete_index(0), -16);
}

TEST_F(ConfigTest, SavedFileLoadsBackByteForByte) {
  SetImage(ImageOf(4));
  ASSERT_EQ(zk_save_config(path_.c_str()), 0);
  EXPECT_EQ(ReadFile(), ImageOf(4));

  ASSERT_EQ(zk_format_config(), 0);
  ASSERT_EQ(zk_set_sensitivity(0), 0);
  ClearTranscript();
  EXPECT_EQ(zk_load_config(path_.c_str()), 0);
  EXPECT_EQ(Image(), ImageOf(4));
  ExpectNoRequest(0xC2, 7);  // settings take effect at the next start

  SetImage(ImageOf(0));
  ASSERT_EQ(zk_save_config(path_.c_str()), 0);
  EXPECT_EQ(ReadFile(), ImageOf(0));
}

TEST_F(ConfigTest, FullImageSavesAndLoads) {
  for (int i = 0; i < 169; ++i) AddEntry(0x100 + i, 0, 0x04);
  const Bytes full = Image();
  ASSERT_EQ(full.size(), 1019u);
  ASSERT_EQ(zk_save_config(path_.c_str()), 0);
  ASSERT_EQ(zk_format_config(), 0);
  EXPECT_EQ(zk_load_config(path_.c_str()), 0);
  EXPECT_EQ(Image(), full);
}

TEST_F(ConfigTest, LoadRefusesFilesTheReceiverCouldNotUse) {
  Bytes too_long(1024, 0);
  too_long[0] = 0x04;
  Bytes mismatched = ImageOf(2);
  mismatched[1] = 11;
  const Bytes stored = ImageOf(1);
  for (const Bytes &file : {Bytes{}, Bytes{0, 4, 0x36, 0x06}, too_long, mismatched}) {
    WriteFile(file);
    SetImage(stored);
    ClearTranscript();
    CaptureStderr();
    EXPECT_EQ(zk_load_config(path_.c_str()), -6) << file.size() << " bytes";
    EXPECT_TRUE(Contains(GetCapturedStderr(), "invalid configuration file"));
    ExpectNoRequest(0xC2, 3);
    EXPECT_EQ(Image(), stored);
  }
  CaptureStderr();
  EXPECT_EQ(zk_load_config((path_ + ".missing").c_str()), -6);
  EXPECT_TRUE(Contains(GetCapturedStderr(), "could not open file"));
}

TEST_F(ConfigTest, SaveAndLoadFailures) {
  CaptureStderr();
  EXPECT_EQ(zk_save_config(nullptr), -6);
  EXPECT_EQ(zk_save_config(std::string(300, 'x').c_str()), -6);
  std::string log = GetCapturedStderr();
  EXPECT_TRUE(Contains(log, "invalid file"));
  EXPECT_TRUE(Contains(log, "file name too long"));

  SetImage(ImageOf(1));
  ASSERT_EQ(zk_save_config(path_.c_str()), 0);
  FailTransfer(4, zk::kUsbErrorPipe);
  EXPECT_EQ(zk_save_config(path_.c_str()), -16);
  FailTransfer(4, zk::kUsbErrorPipe);
  EXPECT_EQ(zk_load_config(path_.c_str()), -16);
  EXPECT_EQ(zk_save_config((testing::TempDir() + "no/such/dir.zcfg").c_str()), -6);
}

}  // namespace
