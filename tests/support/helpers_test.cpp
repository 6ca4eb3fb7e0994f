// The suites' own helpers: output capture and the receiver rig.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "captured_output.h"
#include "receiver_rig.h"

namespace {

// The file behind a descriptor, to tell that a stream came back to it.
std::pair<dev_t, ino_t> FileOf(int fd) {
  struct stat st {};
  EXPECT_EQ(fstat(fd, &st), 0);
  return {st.st_dev, st.st_ino};
}

TEST(CapturedOutput, TakesStdioAndRawWritesUntilTakenThenGivesTheStreamBack) {
  for (FILE *stream : {stdout, stderr}) {
    const auto before = FileOf(fileno(stream));
    zk::test::CapturedOutput captured(stream);
    std::fprintf(stream, "stdio %d\n", 1);
    std::fflush(stream);
    ASSERT_EQ(write(fileno(stream), "raw\n", 4), 4);
    std::fputs("unflushed", stream);
    EXPECT_EQ(captured.text(), "stdio 1\nraw\nunflushed");
    EXPECT_EQ(FileOf(fileno(stream)), before);
    std::fputs("", stream);
    EXPECT_EQ(captured.text(), "stdio 1\nraw\nunflushed");  // taken once, kept
  }
}

// As the settings loader does with its log file.
TEST(CapturedOutput, GivesTheStreamBackAfterTheCodeReopenedIt) {
  const std::string path = testing::TempDir() + "zirko_capture_" + std::to_string(getpid());
  const auto before = FileOf(fileno(stderr));
  {
    zk::test::CapturedOutput captured(stderr);
    std::fputs("before\n", stderr);
    ASSERT_TRUE(std::freopen(path.c_str(), "w", stderr));
    std::fputs("into the file\n", stderr);
    EXPECT_EQ(captured.text(), "before\n");
  }
  EXPECT_EQ(FileOf(fileno(stderr)), before);
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  EXPECT_EQ(text.str(), "into the file\n");
  std::remove(path.c_str());
}

TEST(VirtualRig, IsTheLibrarysReceiverForItsLifeOnly) {
  const zk::UsbBackend *outside = &zk::usb_backend();
  {
    zk::test::VirtualRig rig;
    EXPECT_EQ(&zk::usb_backend(), &rig.bus());
    rig.AddEntry(0xA1, 0x02, 0x04);
    rig.AddEntry(0xA2, 0x00, 0x28);
    ASSERT_EQ(rig.OpenReceiver(), ZK_STATE_FIRMWARE);
    EXPECT_EQ(zk_keys_recorded(), 2);
    EXPECT_EQ(rig.Entries(), (std::vector<std::pair<int, int>>{{0x02, 0x04}, {0x00, 0x28}}));
    EXPECT_EQ(rig.ImageSize(), 5 + 2 * 6);
    EXPECT_GT(rig.RequestCount(0xC2, 1), 0);  // versions are read at open
  }
  EXPECT_EQ(&zk::usb_backend(), outside);
  EXPECT_EQ(zk_fw_state(), -12);  // closed with the rig
}

}  // namespace
