// zirko-virtual, run as a person runs it, on a receiver that this test
// shares through the same state file.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "bus_host.h"
#include "quiet_receiver.h"
#include "state_file.h"
#include "state_file_bus.h"

namespace zk::virt {
namespace {

struct Outcome {
  int status = -1;
  std::string out, err;
};

class Tool : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zk_tool_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    path_ = dir_ + "/receiver.state";
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
  // Runs the tool with `args` (ZIRKO_VIRTUAL unset unless given).
  Outcome RunTool(const std::string &args, const std::string &env = "") {
    const std::string out = dir_ + "/out", err = dir_ + "/err";
    const std::string command = "env -u ZIRKO_VIRTUAL " + env + " " + ZIRKO_VIRTUAL_TOOL + " " +
                                args + " >" + out + " 2>" + err;
    Outcome r;
    const int status = std::system(command.c_str());
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = read_text_file(out).value_or("");
    r.err = read_text_file(err).value_or("");
    return r;
  }
  Outcome Command(const std::string &args) { return RunTool("--state " + path_ + " " + args); }
  static bool Has(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
  }

  std::string dir_, path_;
};

TEST_F(Tool, MistakesActOnNothing) {
  const struct {
    std::string args;
    const char *error;
  } cases[] = {
      {"show", "no state file: set ZIRKO_VIRTUAL or give --state"},
      {"--state " + path_, "no command"},
      {"--state " + path_ + " unplugged", "unknown command \"unplugged\""},
      {"--state " + path_ + " plug now", "too many arguments"},
      {"--state " + path_ + " press 0x1G", "bad hash \"0x1G\""},
  };
  for (const auto &c : cases) {
    const Outcome r = RunTool(c.args);
    EXPECT_EQ(r.status, 2) << c.args;
    EXPECT_TRUE(Has(r.err, c.error)) << r.err;
    EXPECT_TRUE(Has(r.err, "usage: zirko-virtual")) << r.err;
  }
  EXPECT_FALSE(read_text_file(path_));  // nothing created
  const Outcome refused = RunTool("--state " + dir_ + " show");
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err,
            "zirko virtual: " + dir_ + ": is a directory; the state file must be a regular file\n");
}

TEST_F(Tool, UnplugPlugPressAndResetActOnTheSharedReceiver) {
  ASSERT_TRUE(write_file_atomically(path_, format_state(zk::test::QuietReceiverState())));
  StateFileBus files(path_);
  test::BusHost host{files.bus()};
  ASSERT_TRUE(host.open());

  Outcome r = RunTool("show", "ZIRKO_VIRTUAL=" + path_);
  EXPECT_TRUE(Has(r.out, "Receiver:    on the bus, firmware mode\n")) << r.out;
  EXPECT_TRUE(Has(r.out, "Firmware:    3.8 (05-14-24), generation 3, source hash 5EEDC0DE\n"));
  EXPECT_TRUE(Has(r.out, "No Keys Found\n"));

  EXPECT_EQ(Command("unplug").out, "The receiver is unplugged.\n");
  EXPECT_EQ(host.peek(1), kUsbErrorNoDevice);
  EXPECT_TRUE(Has(Command("show").out, "Receiver:    unplugged\n"));
  EXPECT_EQ(Command("plug").out, "The receiver is plugged in.\n");
  host.close();
  ASSERT_TRUE(host.open());

  // Not waiting: queued for the next wait. Waiting: taken at once.
  EXPECT_EQ(Command("press 0xAAAA0001").out,
            "Button AAAA0001 queued: the receiver takes it when it next waits for one.\n");
  ASSERT_EQ(host.in(0xC0, 1, 0x04, 0, 1), 1);
  EXPECT_EQ(host.state(), kStateDone);
  ASSERT_EQ(host.in(0xC0, 1, 0x05, 0, 1), 1);
  EXPECT_TRUE(Has(Command("show").out, "Waiting:     for a button to record (key 0x05"));
  EXPECT_EQ(Command("press 0xBBBB0002").out, "Pressed button BBBB0002: the receiver took it.\n");
  EXPECT_EQ(host.state(), kStateDone);
  r = Command("show");
  EXPECT_TRUE(Has(r.out, "    0  AAAA0001    a\n    1  BBBB0002    b\n")) << r.out;

  EXPECT_EQ(Command("reset").out, "The receiver is a new one: firmware 3.8, empty memory.\n");
  EXPECT_EQ(host.peek(1), kUsbErrorNoDevice);  // the old one left the bus
  host.close();
  ASSERT_TRUE(host.open());
  EXPECT_EQ(host.size(), 5);
}

}  // namespace
}  // namespace zk::virt
