// zirko_util end to end, the monitor of the keys the receiver sends.
// The runner, the receivers and the shared texts are in e2e_fixture.h.
#include <signal.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "e2e_fixture.h"

namespace {

using namespace zk::e2e;

const std::string kMonitorTime =
    "[E] monitor(#): the time is a number of seconds from 1 to 86400\n";

// clang-format off
std::vector<Scenario> scenarios() {
  return {
    {"MonitorChecksItsTimeAndNeedsTheFirmware", kGen3,
     {
      {{"monitor", "-t", "0"}, "", 2, kMonitorTime},
      {{"monitor", "--time=86401"}, "", 2, kMonitorTime},
      {{"monitor", "-t", "x"}, "", 2, "[E] monitor(#): invalid number: x\n" + kMonitorTime},
      {{"monitor", "-t", "1"}, "Keys from the virtual receiver (Ctrl-C ends):\n"},
      {{"--json", "monitor", "-t", "1"}, "{\"receiver\":\"listening\",\"source\":\"the virtual receiver\"}\n"},
     }},
    {"MonitorWithoutAReceiver", kNone,
     {
      {{"monitor", "-t", "1"}, "", 1, kNoDevice},
      {{"--json", "monitor", "-t", "1"}, "", 1, "{\"error\":\"device disconnected, can't run command\",\"code\":-19}\n"},
     }},
    {"MonitorInTheBootloader", kBoot2,
     {
      {{"monitor", "-t", "1"}, "", 1, "Error: the receiver runs its bootloader: it sends no keys\n"},
     }},
  };
}
// clang-format on

INSTANTIATE_TEST_SUITE_P(Cases, E2E, testing::ValuesIn(scenarios()), ScenarioName);

// Six buttons: a, F5, two that both send vol_up, caps lock (no name) and
// control with return.
const std::string kSixKeys =
    "eeprom 000: 00 29 36 06 00 01 00 AA AA 00 04 02 00 BB BB 00\n"
    "eeprom 010: 3E 03 00 CC CC E9 66 04 00 DD DD E9 66 05 00 EE\n"
    "eeprom 020: EE 00 39 06 00 FF FF 01 28\n";

// A monitor running beside the presses of zirko-virtual, as a person runs
// both in two terminals.
class Monitor : public TempDir {
 protected:
  void SetUp() override {
    TempDir::SetUp();
    fs::create_directory(dir_ / "tool");
    std::ofstream(dir_ / "receiver.state") << kFast << kSixKeys;
  }
  // zirko-virtual on the same receiver, its output kept apart from the monitor's.
  void Tool(const std::string &command, const std::string &hash = "") {
    std::vector<std::string> args{"--state", (dir_ / "receiver.state").string(), command};
    if (!hash.empty()) args.push_back(hash);
    EXPECT_EQ(run(ZIRKO_VIRTUAL_TOOL, args, dir_ / "tool").status, 0) << command;
  }
  // Whether the monitor has printed `text` within 10 s.
  bool Shown(const std::string &text) { return printed(dir_, text); }
};

TEST_F(Monitor, NamesTheKeyOfEachPressedButtonAndTheButtonsThatSendIt) {
  const pid_t monitor = spawn(ZIRKO_UTIL_BIN, {"monitor", "-t", "4"}, dir_);
  ASSERT_TRUE(Shown("(Ctrl-C ends)"));
  Tool("press", "0xCCCC0003");
  Tool("press", "0x12345678");  // never recorded: queued for a recording, types nothing
  Tool("press", "0xAAAA0001");
  Tool("press", "0xEEEE0005");
  Tool("press", "0xFFFF0006");
  const Result r = finish(monitor, dir_);
  EXPECT_EQ(r.out,
            "Keys from the virtual receiver (Ctrl-C ends):\n"
            "vol_up                   buttons 2 (CCCC0003), 3 (DDDD0004)\n"
            "a                        button 0 (AAAA0001)\n"
            "usage=0x39 modifier=0x00 button 4 (EEEE0005)\n"
            "left_ctrl return         button 5 (FFFF0006)\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(run(ZIRKO_VIRTUAL_TOOL, {"--state", (dir_ / "receiver.state").string(), "show"},
                dir_ / "tool")
                .out.find("Queued:      12345678\n"),
            std::string::npos);
}

TEST_F(Monitor, JsonLinesFollowTheReceiverThroughAnUnplugUntilCtrlC) {
  const pid_t monitor = spawn(ZIRKO_UTIL_BIN, {"--json", "monitor"}, dir_);
  ASSERT_TRUE(Shown("listening"));
  Tool("press", "0xCCCC0003");
  ASSERT_TRUE(Shown("vol_up"));
  Tool("unplug");
  ASSERT_TRUE(Shown("unplugged"));
  Tool("plug");
  ASSERT_TRUE(Shown("back"));
  Tool("press", "0xBBBB0002");
  ASSERT_TRUE(Shown("F5"));
  kill(monitor, SIGINT);
  const Result r = finish(monitor, dir_);
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<nlohmann::json> lines;
  std::istringstream out(r.out);
  for (std::string line; std::getline(out, line);) lines.push_back(nlohmann::json::parse(line));
  ASSERT_EQ(lines.size(), 5u) << r.out;
  EXPECT_EQ(lines[0],
            nlohmann::json::parse(R"({"receiver":"listening","source":"the virtual receiver"})"));
  EXPECT_EQ(lines[1], nlohmann::json::parse(R"({"key":"vol_up","usage":102,"modifier":233,
      "buttons":[{"index":2,"hash":"CCCC0003"},{"index":3,"hash":"DDDD0004"}]})"));
  EXPECT_EQ(lines[2]["receiver"], "unplugged");
  EXPECT_EQ(lines[3]["receiver"], "back");
  EXPECT_EQ(lines[4], nlohmann::json::parse(R"({"key":"F5","usage":62,"modifier":0,
      "buttons":[{"index":1,"hash":"BBBB0002"}]})"));
}

}  // namespace
