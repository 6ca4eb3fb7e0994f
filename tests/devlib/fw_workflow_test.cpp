// A user's whole session through the library: record, list, delete, back up,
// erase, restore, and use the restored button.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "virtual_receiver_fixture.h"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

class WorkflowTest : public zk::test::VirtualReceiverTest {
 protected:
  std::string Listing() {
    CaptureStdout();
    EXPECT_EQ(zk_display_config(), 0);
    return GetCapturedStdout();
  }
  int Record(uint32_t hash, const char *name) {
    QueuePress(hash);
    return zk_set_record(name, 5);
  }
};

const std::string kHeading = "\nRecorded Keys:\nIndex  hash        key\n-----  ---------   ---\n";

TEST_F(WorkflowTest, RecordListDeleteSaveFormatLoadAndPress) {
  ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
  EXPECT_EQ(Record(0xCAFE0001, "a"), 0);
  EXPECT_EQ(Record(0xCAFE0002, "A"), 0);
  EXPECT_EQ(Record(0xCAFE0003, "vol_up"), 0);
  QueuePress(0xCAFE0004);
  EXPECT_EQ(zk_set_record_api(0x01, 0x28, 5), 0);
  EXPECT_EQ(Listing(), kHeading +
                           "    0  CAFE0001    a\n"
                           "    1  CAFE0002    A\n"
                           "    2  CAFE0003    vol_up\n"
                           "    3  CAFE0004    left_ctrl return\n");

  EXPECT_EQ(zk_delete_buttons("A"), 1);
  EXPECT_EQ(zk_delete_index(0), 0);
  EXPECT_EQ(zk_set_noise_cancel(1), 0);
  const std::string kept = kHeading +
                           "    0  CAFE0003    vol_up\n"
                           "    1  CAFE0004    left_ctrl return\n";
  EXPECT_EQ(Listing(), kept);

  const std::string path = testing::TempDir() + "zirko_workflow.zcfg";
  const auto image = Image();
  ASSERT_EQ(zk_save_config(path.c_str()), 0);
  ASSERT_EQ(zk_format_config(), 0);
  ASSERT_EQ(zk_set_noise_cancel(0), 0);
  EXPECT_EQ(Listing(), "No Keys Found\n");
  EXPECT_EQ(zk_load_config(path.c_str()), 0);
  std::remove(path.c_str());
  EXPECT_EQ(Listing(), kept);
  EXPECT_EQ(Image(), image);
  EXPECT_EQ(zk_get_noise_cancel(), 1);

  Press(0xCAFE0004);
  ASSERT_EQ(KeyReports().size(), 1u);
  EXPECT_EQ(KeyReports()[0], (zk::virt::KeyReport{0xCAFE0004, 0x28, 0x01}));
}

}  // namespace
