// Progress bar, whole-file helpers, checksums and time helpers.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "captured_output.h"
#include "internal.h"
#include "text_assert.h"

namespace {

using zk::test::Contains;

std::string bar(float done, float total, int mode = ZK_PROGRESS_ALWAYS) {
  zk_set_progress_output(mode);
  zk::test::CapturedOutput out(stdout);
  zk_progress_bar(done, total);
  zk_set_progress_output(ZK_PROGRESS_AUTO);
  return out.text();
}

// A file or a pipe gets no carriage-return bars unless they are asked for.
TEST(ProgressBar, DrawnOnlyOnATerminalByDefault) {
  EXPECT_EQ(bar(1, 2, ZK_PROGRESS_AUTO), "");
  EXPECT_EQ(bar(1, 2, ZK_PROGRESS_NEVER), "");
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
  ASSERT_EQ(
      buf_to_file(path("empty").c_str(), reinterpret_cast<const unsigned char *>(""), 0, "wb"), 0);
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
      {unopenable.c_str(), &byte, "wb",
       "file " + unopenable + " could not be saved: No such file or directory"},
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
  EXPECT_TRUE(Contains(err.text(), "file /dev/full could not be saved: No space left on device\n"));
}

// zk_save_file: whatever fails, the old file stays as it was, nothing else
// is left in its folder, and errno says why.
class SaveFile : public Files {
 protected:
  void SetUp() override {
    Files::SetUp();
    std::ofstream(path("old.zcfg")) << "old contents";
  }
  std::string Read(const char *name) {
    std::ifstream in(path(name));
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  int Save(const std::string &at, const std::string &bytes) {
    errno = 0;
    const int rc = zk_save_file(at.c_str(), bytes.data(), bytes.size());
    error_ = errno;
    return rc;
  }
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(dir_))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  int error_ = 0;
};

TEST_F(SaveFile, FailuresLeaveTheOldFileAndNoTemporaryFile) {
  // The file size limit makes the second write of the temporary file fail.
  signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  rlimit small = saved;
  small.rlim_cur = 4;
  setrlimit(RLIMIT_FSIZE, &small);
  const int rc = Save(path("old.zcfg"), "new contents, longer");
  setrlimit(RLIMIT_FSIZE, &saved);
  EXPECT_EQ(rc, -9);
  EXPECT_EQ(error_, EFBIG);
  EXPECT_EQ(Read("old.zcfg"), "old contents");
  EXPECT_EQ(Names(), std::vector<std::string>{"old.zcfg"});

  EXPECT_EQ(Save(dir_.string(), "x"), -9);
  EXPECT_EQ(error_, EISDIR);
  EXPECT_EQ(Save(path("no/such/folder"), "x"), -9);
  EXPECT_EQ(error_, ENOENT);
  EXPECT_EQ(Names(), std::vector<std::string>{"old.zcfg"});
}

// A link is followed: a link to a full device fails instead of being
// replaced by a regular file, a link to a file keeps pointing at it.
TEST_F(SaveFile, LinksAreFollowedToTheirTarget) {
  std::filesystem::create_symlink("old.zcfg", path("link.zcfg"));
  ASSERT_EQ(Save(path("link.zcfg"), "through the link"), 0);
  EXPECT_TRUE(std::filesystem::is_symlink(path("link.zcfg")));
  EXPECT_EQ(Read("old.zcfg"), "through the link");
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  std::filesystem::create_symlink("/dev/full", path("full.zcfg"));
  EXPECT_EQ(Save(path("full.zcfg"), "x"), -9);
  EXPECT_EQ(error_, ENOSPC);
  EXPECT_TRUE(std::filesystem::is_symlink(path("full.zcfg")));
}

TEST_F(SaveFile, ReplacedFileKeepsItsPermissions) {
  chmod(path("old.zcfg").c_str(), 0640);
  ASSERT_EQ(Save(path("old.zcfg"), "new"), 0);
  struct stat info {};
  ASSERT_EQ(stat(path("old.zcfg").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  EXPECT_EQ(Read("old.zcfg"), "new");
}

const unsigned char *text(const char *s) {
  return reinterpret_cast<const unsigned char *>(s);
}

TEST(Crc, Crc8OfAbcIs5F) {
  EXPECT_EQ(zk_crc8(text("abc"), 3), 0x5F);
}

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
