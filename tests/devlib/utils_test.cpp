// Progress bar, whole-file helpers, checksums and time helpers.
#include <gtest/gtest.h>
#include <sys/time.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "captured_output.h"
#include "internal.h"
#include "text_assert.h"

namespace {

using zk::test::Contains;

std::string bar(float done, float total) {
  zk::test::CapturedOutput out(stdout);
  zk_progress_bar(done, total);
  return out.text();
}

TEST(ProgressBar, ThirdDoneShowsFourteenSignsAnd33Percent) {
  EXPECT_EQ(bar(1, 3), "[" + std::string(14, '=') + ">" + std::string(26, ' ') + "] 33%\r");
}

TEST(ProgressBar, NothingDoneShowsArrowAndFortySpaces) {
  EXPECT_EQ(bar(0, 5), "[>" + std::string(40, ' ') + "] 0%\r");
}

TEST(ProgressBar, HalfDoneShowsTwentySigns) {
  EXPECT_EQ(bar(1, 2), "[" + std::string(20, '=') + ">" + std::string(20, ' ') + "] 50%\r");
}

TEST(ProgressBar, AllDoneShowsFortySignsAndNoSpaces) {
  EXPECT_EQ(bar(3, 3), "[" + std::string(40, '=') + ">] 100%\r");
}

class Files : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("zirko_utils_" + std::to_string(getpid()) + "_" +
            testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string path(const char *name) const { return (dir_ / name).string(); }

  std::filesystem::path dir_;
};

TEST_F(Files, RoundTripKeepsEveryByte) {
  const unsigned char bytes[] = {0, 1, 0xFF, 'z', 0x80};
  ASSERT_EQ(buf_to_file(path("a.bin").c_str(), bytes, 5, "wb"), 5);
  unsigned char *read = nullptr;
  ASSERT_EQ(file_to_buf(path("a.bin").c_str(), &read, "rb"), 5);
  EXPECT_EQ(memcmp(read, bytes, 5), 0);
  free(read);
}

TEST_F(Files, EmptyFileGivesZeroAndAOneByteBuffer) {
  ASSERT_EQ(buf_to_file(path("empty").c_str(), reinterpret_cast<const unsigned char *>(""), 0,
                        "wb"),
            0);
  unsigned char *read = nullptr;
  EXPECT_EQ(file_to_buf(path("empty").c_str(), &read, "rb"), 0);
  EXPECT_NE(read, nullptr);
  free(read);
}

TEST_F(Files, MissingFileLogsItsNameAndGivesMinus14) {
  unsigned char *read = nullptr;
  zk::test::CapturedOutput err(stderr);
  EXPECT_EQ(file_to_buf(path("missing").c_str(), &read, "rb"), -14);
  std::string log = err.text();
  EXPECT_TRUE(Contains(log, "[E] file_to_buf("));
  EXPECT_TRUE(Contains(log, "file " + path("missing") + " not found\n\n"));
  EXPECT_EQ(read, nullptr);
}

TEST_F(Files, NoPathToReadLogsInvalidFile) {
  unsigned char *read = nullptr;
  zk::test::CapturedOutput err(stderr);
  EXPECT_EQ(file_to_buf(nullptr, &read, "rb"), -14);
  EXPECT_TRUE(Contains(err.text(), "): invalid file\n"));
}

TEST_F(Files, WriteRefusalsEachGiveMinus9WithTheirText) {
  const unsigned char byte = 1;
  struct Case {
    const char *path;
    const unsigned char *buffer;
    const char *mode;
    std::string text;
  };
  std::string unopenable = path("no/such/dir/file");
  const std::vector<Case> cases = {
      {nullptr, &byte, "wb", "file (null) could not be opened"},
      {"x", nullptr, "wb", "invalid buffer"},
      {"x", &byte, nullptr, "invalid file operations"},
      {unopenable.c_str(), &byte, "wb", "file " + unopenable + " could not be opened"},
  };
  for (const Case &c : cases) {
    zk::test::CapturedOutput err(stderr);
    EXPECT_EQ(buf_to_file(c.path, c.buffer, 1, c.mode), -9) << c.text;
    EXPECT_TRUE(Contains(err.text(), "[E] buf_to_file(")) << c.text;
  }
  for (const Case &c : cases) {
    zk::test::CapturedOutput err(stderr);
    buf_to_file(c.path, c.buffer, 1, c.mode);
    EXPECT_TRUE(Contains(err.text(), c.text + "\n"));
  }
}

TEST_F(Files, ShortWriteLogsCouldNotBeSaved) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  std::vector<unsigned char> big(1 << 20, 0xAA);  // larger than any stdio buffer
  zk::test::CapturedOutput err(stderr);
  EXPECT_EQ(buf_to_file("/dev/full", big.data(), long(big.size()), "wb"), -9);
  EXPECT_TRUE(Contains(err.text(), "file could not be saved\n"));
}

const unsigned char *text(const char *s) { return reinterpret_cast<const unsigned char *>(s); }

TEST(Crc, Crc8OfAbcIs5F) { EXPECT_EQ(zk_crc8(text("abc"), 3), 0x5F); }

TEST(Crc, Crc8UpdateContinuesAPartialCrc) {
  EXPECT_EQ(zk_crc8_update(text("bc"), 2, zk_crc8(text("a"), 1)), 0x5F);
  EXPECT_EQ(zk_crc8(text(""), 0), 0);
}

TEST(Crc, Crc16IsMsbFirstPolynomial1021) {
  EXPECT_EQ(zk_crc16(text("123456789"), 9, 0xFFFF), 0x29B1);  // CCITT-FALSE check value
  EXPECT_EQ(zk_crc16(text("123456789"), 9, 0x0000), 0x31C3);  // XMODEM check value
}

TEST(Crc, Crc32IsMsbFirstWithoutInversion) {
  EXPECT_EQ(zk_crc32(text("123456789"), 9, 0xFFFFFFFF), 0x0376E6E7u);  // MPEG-2 check value
}

TEST(Time, ElapsedCountsMicrosecondsSinceThen) {
  timeval then{};
  gettimeofday(&then, nullptr);
  then.tv_sec -= 2;
  int64_t elapsed = zk_elapsed_us(&then);
  EXPECT_GE(elapsed, 2000000);
  EXPECT_LT(elapsed, 3000000);
  EXPECT_EQ(zk_timed_out(&then, 1000000), 1);
  EXPECT_EQ(zk_timed_out(&then, 10000000), 0);
}

TEST(Time, TimestampIsMinuteTimesHundredPlusSeconds) {
  float stamp = zk_timestamp();
  EXPECT_GE(stamp, 0.0f);
  EXPECT_LT(stamp, 5960.0f);
  EXPECT_LT(stamp - 100 * int(stamp / 100), 60.0f);
}

}  // namespace
