// One scripted zirko_util session, run twice from the same receiver state:
// on the virtual backend (ZIRKO_VIRTUAL) and, through zirko-virtual-run, on
// the system's libusb against the emulated kernel interface. Every step must
// print the same and end with the same status, and both receivers must end
// in the same state.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "program_output.h"

namespace fs = std::filesystem;

namespace {

using Outcome = zk::test::ProgramOutput;
using zk::test::ReadFile;

// Runs `argv` in `dir` with `set` added to and `unset` taken from the
// environment; the suite's own preload is not passed on.
Outcome RunIn(const fs::path &dir, const std::vector<std::string> &argv,
              const std::vector<std::pair<std::string, std::string>> &set,
              const std::vector<std::string> &unset = {}) {
  const fs::path out = dir / ".out", err = dir / ".err";
  const pid_t pid = fork();
  if (pid == 0) {
    unsetenv("LD_PRELOAD");
    for (const auto &name : unset) unsetenv(name.c_str());
    for (const auto &[name, value] : set) setenv(name.c_str(), value.c_str(), 1);
    if (chdir(dir.c_str()) != 0) _exit(126);
    dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
    dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    std::vector<char *> args;
    for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return {ReadFile(out), ReadFile(err), WIFEXITED(status) ? WEXITSTATUS(status) : 128};
}

const std::vector<std::vector<std::string>> kSession = {
    {"version"},
    {"status"},
    {"record", "a"},
    {"record", "F5"},
    {"keys"},
    {"interkey_delay", "3"},
    {"noise_canceler", "disable"},
    {"settings"},
    {"saveconfig", "backup.zcfg"},
    {"format"},
    {"keys"},
    {"loadconfig", "backup.zcfg"},
    {"keys"},
    {"delete_index", "0"},
    {"peek", "2"},
    {"dfu"},
    {"version"},
    {"upgrade", "../fw.bin"},
    {"version", "keys"},
    {"space"},
};

class ScriptedSession : public testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::path(testing::TempDir()) / ("zirko_session_" + std::to_string(getpid()));
    fs::remove_all(root_);
    for (const char *side : {"virtual", "emulated"}) {
      fs::create_directories(root_ / side);
      std::ofstream(root_ / side / "receiver.state") << kState;
    }
    const Outcome image = RunIn(root_,
                                {ZIRKO_MKIMAGE_BIN, "--version", "3.9", "--date", "01-02-26",
                                 "--hash", "0x39393939", "fw.bin"},
                                {});
    ASSERT_EQ(image.status, 0) << image.err;
  }
  void TearDown() override { fs::remove_all(root_); }

  Outcome Virtual(const std::vector<std::string> &args) {
    std::vector<std::string> argv = {ZIRKO_UTIL_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    const fs::path dir = root_ / "virtual";
    return RunIn(dir, argv, {{"ZIRKO_VIRTUAL", (dir / "receiver.state").string()}});
  }
  // A state file named by ZIRKO_VIRTUAL that the launcher must not hand on:
  // the program has to take its libusb path.
  Outcome Emulated(const std::vector<std::string> &args) {
    const fs::path dir = root_ / "emulated";
    std::vector<std::string> argv = {ZIRKO_VIRTUAL_RUN_BIN, "--state",
                                     (dir / "receiver.state").string(), ZIRKO_UTIL_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunIn(dir, argv, {{"ZIRKO_VIRTUAL", (dir / "decoy.state").string()}});
  }

  // Without the hardware's own delays: the two sides start programs at
  // different speeds, and a receiver still leaving or re-enumerating (for
  // the next step's program too) would tell them apart.
  static constexpr const char *kState =
      "press_delay_ms = 20\nreenumerate_delay_ms = 0\n"
      "leave_delay_ms = 0\neeprom_write_ms = 0\nformat_ms = 0\n";
  fs::path root_;
};

TEST_F(ScriptedSession, SameOutputOnTheVirtualBackendAndOnRealLibusb) {
  for (const auto &step : kSession) {
    std::string name;
    for (const auto &arg : step) name += arg + " ";
    const Outcome expected = Virtual(step);
    const Outcome actual = Emulated(step);
    EXPECT_EQ(actual.out, expected.out) << name;
    EXPECT_EQ(actual.err, expected.err) << name;
    EXPECT_EQ(actual.status, expected.status) << name;
  }
  // The session did what it says, on both sides alike.
  EXPECT_NE(Virtual({"version"}).out.find("Firmware: v3.9 [39393939]"), std::string::npos);
  EXPECT_EQ(ReadFile(root_ / "emulated" / "receiver.state"),
            ReadFile(root_ / "virtual" / "receiver.state"));
  EXPECT_FALSE(fs::exists(root_ / "emulated" / "decoy.state"));
}

// The monitor on real libusb, libudev and libevdev: a press from
// zirko-virtual reaches it as the kernel's HID driver would send it.
TEST_F(ScriptedSession, MonitorReadsAPressThroughTheEmulatedInputNode) {
  const fs::path dir = root_ / "emulated";
  std::ofstream(dir / "receiver.state", std::ios::app)
      << "eeprom 000: 00 0B 36 06 00 03 00 CC CC E9 66\n";  // CCCC0003 sends vol_up
  auto monitor = std::async(std::launch::async, [&] { return Emulated({"monitor", "-t", "4"}); });
  for (int i = 0; i < 500 && ReadFile(dir / ".out").find("Ctrl-C") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const Outcome press = RunIn(
      root_,
      {ZIRKO_VIRTUAL_TOOL_BIN, "--state", (dir / "receiver.state").string(), "press", "0xCCCC0003"},
      {});
  EXPECT_EQ(press.out, "Pressed button CCCC0003: the receiver sent its key.\n");
  const Outcome r = monitor.get();
  EXPECT_TRUE(
      std::regex_match(r.out, std::regex(R"(Keys from /dev/input/event\d+ \(Ctrl-C ends\):\n)"
                                         R"(vol_up +button 0 \(CCCC0003\)\n)")))
      << r.out;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
}

TEST_F(ScriptedSession, LauncherPassesTheProgramsStatusAndRefusesAMissingProgram) {
  EXPECT_EQ(Emulated({"nosuch"}).status, Virtual({"nosuch"}).status);
  const fs::path dir = root_ / "emulated";
  const Outcome missing = RunIn(
      dir,
      {ZIRKO_VIRTUAL_RUN_BIN, "--state", "receiver.state", (root_ / "no-such-program").string()},
      {});
  EXPECT_EQ(missing.status, 127);
  EXPECT_NE(missing.err.find("cannot run"), std::string::npos);
  EXPECT_EQ(RunIn(dir, {ZIRKO_VIRTUAL_RUN_BIN}, {}, {"ZIRKO_VIRTUAL"}).status, 2);
}

}  // namespace
