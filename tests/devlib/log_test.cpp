// The log facility: line format, threshold and stream.
#include <gtest/gtest.h>

#include <string>

#include "captured_output.h"
#include "internal.h"

namespace {

using zk::test::CapturedOutput;

// Restores the default threshold that every program starts with.
class Log : public testing::Test {
 protected:
  void TearDown() override { zk_set_log_level(ZK_LOG_WARNING); }

  static std::string logged(int level) {
    CapturedOutput err(stderr);
    zk_log(level, "[X] %s(%d): level %d\n", "caller", 7, level);
    return err.text();
  }
};

TEST_F(Log, DefaultThresholdWritesWarningsButNotInformation) {
  EXPECT_EQ(logged(ZK_LOG_WARNING), "[X] caller(7): level 2\n");
  EXPECT_EQ(logged(ZK_LOG_ERROR), "[X] caller(7): level 1\n");
  EXPECT_EQ(logged(ZK_LOG_INFO), "");
}

TEST_F(Log, MacroPrefixCarriesLetterFunctionAndLine) {
  CapturedOutput err(stderr);
  int line = __LINE__ + 1;
  ZK_LOGE("invalid device, can't initialize, closing");
  EXPECT_EQ(err.text(), "[E] TestBody(" + std::to_string(line) +
                            "): invalid device, can't initialize, closing\n");
}

TEST_F(Log, NamedCallerReplacesFunctionName) {
  zk_set_log_level(ZK_LOG_DEBUG);
  CapturedOutput err(stderr);
  ZK_LOGD_AS("determine_iface", "fw_state: %s", "firmware");
  EXPECT_EQ(err.text().rfind("[D] determine_iface(", 0), 0u);
}

TEST_F(Log, ThresholdAboveFiveIsStoredAsFive) {
  EXPECT_EQ(zk_set_log_level(9), ZK_LOG_VERBOSE);
  EXPECT_EQ(logged(ZK_LOG_VERBOSE), "[X] caller(7): level 5\n");
  EXPECT_EQ(logged(0), "");
}

TEST_F(Log, ZeroOrNegativeThresholdSilencesEverything) {
  EXPECT_EQ(zk_set_log_level(0), 0);
  EXPECT_EQ(logged(ZK_LOG_ERROR), "");
  EXPECT_EQ(zk_set_log_level(-3), -3);
  EXPECT_EQ(logged(ZK_LOG_ERROR), "");
}

TEST_F(Log, EveryLevelGoesToStandardErrorNotStandardOutput) {
  zk_set_log_level(ZK_LOG_VERBOSE);
  for (int level = ZK_LOG_ERROR; level <= ZK_LOG_VERBOSE; ++level) {
    CapturedOutput out(stdout);
    EXPECT_NE(logged(level), "") << level;
    EXPECT_EQ(out.text(), "") << level;
  }
}

TEST(LibusbDebug, StoresAnyNonZeroAsOne) {
  EXPECT_EQ(zk_set_libusb_debug(7), 1);
  EXPECT_TRUE(zk_libusb_debug());
  EXPECT_EQ(zk_set_libusb_debug(0), 0);
  EXPECT_FALSE(zk_libusb_debug());
}

}  // namespace
