// GoogleTest fixture over a rig (receiver_rig.h): the rig's calls are the
// fixture's own, TearDown closes what the test left open, and the
// expectations on the transcript show all of it when they fail.
//
//   class RecordTest : public zk::test::VirtualReceiverTest {};
//   TEST_F(RecordTest, ...) {
//     SetFirmwareVersion(2, 6);
//     ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
//     QueuePress(0xCAFE0001);  // delivered once the receiver waits
//     EXPECT_EQ(zk_set_record("a", 5), 0);
//     ExpectRequest(0xC0, 1, 0x04, 0, 0);
//   }
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "receiver_rig.h"

namespace zk::test {

template <class Rig>
class ReceiverTest : public ::testing::Test, public Rig {
 protected:
  void TearDown() override { Rig::Close(); }

  // A file name of this test process's own: CTest runs tests side by side.
  static std::string TempPath(const std::string &name) {
    return testing::TempDir() + "zirko_" + std::to_string(getpid()) + "_" + name;
  }

  // Some control transfer in the transcript has exactly these fields
  // (timeout_ms < 0: any timeout).
  ::testing::AssertionResult HasRequest(uint8_t request_type, uint8_t request, uint16_t value,
                                        uint16_t index, int length, long timeout_ms = -1) {
    for (const auto &t : this->Requests(request_type, request)) {
      if (t.value == value && t.index == index && t.length == length &&
          (timeout_ms < 0 || t.timeout_ms == static_cast<unsigned long>(timeout_ms))) {
        return ::testing::AssertionSuccess();
      }
    }
    char want[80];
    std::snprintf(want, sizeof want, "0x%02X/%d value 0x%X index 0x%X len %d", request_type,
                  request, value, index, length);
    return ::testing::AssertionFailure() << "no request " << want << " in the transcript:\n"
                                         << this->DescribeTranscript();
  }
  void ExpectRequest(uint8_t request_type, uint8_t request, uint16_t value, uint16_t index,
                     int length, long timeout_ms = -1) {
    EXPECT_TRUE(HasRequest(request_type, request, value, index, length, timeout_ms));
  }
  void ExpectNoRequest(uint8_t request_type, uint8_t request) {
    EXPECT_TRUE(this->Requests(request_type, request).empty())
        << "unexpected request 0x" << std::hex << int{request_type} << "/" << std::dec
        << int{request} << ":\n"
        << this->DescribeTranscript();
  }
  void ExpectNoTransfers() {
    EXPECT_TRUE(this->Transcript().empty()) << "transfers:\n" << this->DescribeTranscript();
  }
};

class VirtualReceiverTest : public ReceiverTest<VirtualRig> {};

// A virtual receiver whose history store (XDG_STATE_HOME) is a temporary
// folder of the test's own, removed afterwards.
class HistoryStoreTest : public VirtualReceiverTest {
 protected:
  void SetUp() override {
    state_ = TempPath("history_state");
    std::filesystem::remove_all(state_);
    setenv("XDG_STATE_HOME", state_.c_str(), 1);
  }
  void TearDown() override {
    VirtualReceiverTest::TearDown();
    unsetenv("XDG_STATE_HOME");
    std::filesystem::remove_all(state_);
  }
  std::string state_;
};

}  // namespace zk::test
