// zirko_util end to end, the output streams: JSON documents and errors, and writes that fail.
// The runner, the receivers and the shared texts are in e2e_fixture.h.
#include "e2e_fixture.h"

namespace {

using namespace zk::e2e;

// clang-format off
std::vector<Scenario> scenarios() {
  return {
    {"JsonFailures", kGen3 + "fail_request = 0xC2/2 -9\n",  // every EEPROM read stalls
     {
      {{"--json", "keys"}, "", 1, "[E] get_size(#): Error reading high byte of size\n{\"error\":\"USB transfer failed\",\"code\":-16}\n"},
      {{"--json", "status", "record", "a"}, "", 2, "{\"error\":\"`record' has no JSON output\",\"code\":-22}\n"},
      {{"--json", "status"}, "{\"mode\":\"firmware\",\"last_upgrade\":\"ok\"}\n"},
      // A chain that fails prints no half document.
      {{"--json", "status", "keys"}, "", 1, "[E] get_size(#): Error reading high byte of size\n{\"error\":\"USB transfer failed\",\"code\":-16}\n"},
     }},
    {"JsonWithoutReceiver", kNone,
     {
      {{"--json", "space"}, "", 1, "{\"error\":\"device disconnected, can't run command\",\"code\":-19}\n"},
      {{"--json", "version"}, "{\"program\":\"v" ZIRKO_VERSION "\",\"build\":\"v" ZIRKO_VERSION "-1-g3842eaf\",\"receiver\":null}\n"},
     }},
  };
}
// clang-format on

INSTANTIATE_TEST_SUITE_P(Cases, E2E, testing::ValuesIn(scenarios()), ScenarioName);

// A write that fails is an error, never "saved": a backup onto a full disk,
// and standard output onto one.
TEST_F(TempDir, FailedWritesAreReportedAndFailTheRun) {
  std::ofstream(dir_ / "receiver.state") << kFast << kTwoKeys;
  fs::create_symlink("/dev/full", dir_ / "full.zcfg");
  Result r = util({"saveconfig", "full"}, dir_);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Saving Configuration File 'full.zcfg'"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("saved"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("Error: full.zcfg: No space left on device\n"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::is_symlink(dir_ / "full.zcfg"));

  for (const std::vector<std::string> &args :
       {std::vector<std::string>{"keys"}, {"export", "-"}, {"help"}}) {
    pid_t pid = spawn(ZIRKO_UTIL_BIN, args, dir_, "/dev/full");
    Result full = finish(pid, dir_, "/dev/full");
    EXPECT_EQ(full.status, 1) << args[0];
    EXPECT_TRUE(full.err.ends_with("zirko_util: write error: No space left on device\n"))
        << full.err;
  }
}

}  // namespace
