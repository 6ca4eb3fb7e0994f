// What the listings cost on the bus: each fact the receiver holds is read
// once, however many lines show it.
#include <gtest/gtest.h>

#include "captured_output.h"
#include "cmd.h"
#include "commands.h"
#include "receiver_test.h"

namespace {

class ListingCost : public zk::test::VirtualReceiverTest,
                    public testing::WithParamInterface<std::tuple<const char *, bool, size_t>> {
 protected:
  void TearDown() override {
    set_json_output(false);
    VirtualReceiverTest::TearDown();
  }
};

// Empty receiver: the hash (the version is the open's), settings bytes A and B, the state
// code, the two size bytes and the header byte the key listing copies last;
// space needs only the size.
TEST_P(ListingCost, EmptyReceiver) {
  const auto [line, json, transfers] = GetParam();
  set_json_output(json);
  ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
  ClearTranscript();
  zk::test::CapturedOutput out(stdout);
  EXPECT_GE(run_cmd_line(line, nullptr), 0);
  EXPECT_EQ(Transcript().size(), transfers) << out.text() << DescribeTranscript();
}

INSTANTIATE_TEST_SUITE_P(Commands, ListingCost,
                         testing::Values(std::tuple("settings", false, 7),
                                         std::tuple("space", false, 2),
                                         std::tuple("settings", true, 7),
                                         std::tuple("space", true, 2)));

}  // namespace
