// zirko-virtual, run as a person runs it, on a receiver that this test
// shares through the same state file. Pressing, unplugging and plugging in
// under a running window are in the desktop application's tests.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "bus_host.h"
#include "program_output.h"
#include "quiet_receiver.h"
#include "state_file.h"
#include "state_file_bus.h"
#include "temp_folder.h"

namespace zk::virt {
namespace {

class Tool : public ::testing::Test {
 protected:
  // Runs the tool with ZIRKO_VIRTUAL unset; its exit status, the output in
  // out_ and err_.
  int Run(const std::string &args, const std::string &virtual_env = "") {
    std::string command = "env -u ZIRKO_VIRTUAL " + virtual_env;
    for (const std::string &word : zk::test::CommandWords(ZIRKO_VIRTUAL_TOOL))
      command += " " + word;
    command += " " + args + " >" + dir_ + "/out 2>" + dir_ + "/err";
    const int status = std::system(command.c_str());
    out_ = read_text_file(dir_ + "/out").value_or("");
    err_ = read_text_file(dir_ + "/err").value_or("");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  bool Shows(const std::string &part) { return out_.find(part) != std::string::npos; }

  test::TempFolder folder_;
  std::string dir_ = folder_.path;
  std::string path_ = dir_ + "/receiver.state";
  std::string out_, err_;
};

TEST_F(Tool, MistakesActOnNothing) {
  const struct {
    std::string args;
    const char *error;
  } cases[] = {
      {"show", "no state file: set ZIRKO_VIRTUAL or give --state"},
      {"--state " + path_ + " unplugged", "unknown command \"unplugged\""},
      {"--state " + path_ + " press 0x1G", "bad hash \"0x1G\""},
      {"--state " + path_ + " press 123456789", "bad hash \"123456789\""},
      {"--state " + path_ + " press -1", "bad hash \"-1\""},
      {"--state " + path_ + " press 0x", "bad hash \"0x\""},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(Run(c.args), 2) << c.args;
    EXPECT_NE(err_.find(std::string(c.error) + "\nusage: zirko-virtual"), std::string::npos);
  }
  EXPECT_FALSE(read_text_file(path_));  // nothing created
  EXPECT_EQ(Run("--state " + dir_ + " show"), 1);
  EXPECT_EQ(err_,
            "zirko virtual: " + dir_ + ": is a directory; the state file must be a regular file\n");
}

TEST_F(Tool, PressesShowsAndResetsTheSharedReceiver) {
  ASSERT_TRUE(write_file_atomically(path_, format_state(zk::test::QuietReceiverState())));
  StateFileBus files(path_);
  test::BusHost host{files.bus()};
  ASSERT_TRUE(host.open());
  ASSERT_EQ(host.in(0xC0, 1, 0x05, 0, 1), 1);
  EXPECT_EQ(Run("--state " + path_ + " press 0xBBBB0002"), 0);
  EXPECT_EQ(out_, "Pressed button BBBB0002: the receiver took it.\n");
  // The hash as `keys' prints it, without 0x, is the same button.
  EXPECT_EQ(Run("--state " + path_ + " press bbbb0002"), 0);
  EXPECT_EQ(out_, "Pressed button BBBB0002: the receiver sent its key.\n");
  EXPECT_EQ(Run("--state " + path_ + " press 0xAAAA0001"), 0);
  EXPECT_EQ(out_, "Button AAAA0001 queued: the receiver takes it when it next waits for one.\n");
  EXPECT_EQ(Run("--state " + path_ + " show"), 0);
  EXPECT_TRUE(Shows("Receiver:    on the bus, firmware mode\n")) << out_;
  EXPECT_TRUE(Shows("Queued:      AAAA0001\n")) << out_;
  EXPECT_TRUE(Shows("    0  BBBB0002    b\n")) << out_;

  EXPECT_EQ(Run("--state " + path_ + " reset"), 0);
  EXPECT_EQ(host.peek(1), kUsbErrorNoDevice);  // the old one left the bus
  host.close();
  ASSERT_TRUE(host.open());
  EXPECT_EQ(host.size(), 5);
}

// With several receivers in ZIRKO_VIRTUAL the tool never guesses which one.
TEST_F(Tool, SeveralReceiversNeedTheOneNamed) {
  const std::string other = dir_ + "/other.state";
  const std::string both = "ZIRKO_VIRTUAL=" + path_ + ":" + other;
  EXPECT_EQ(Run("unplug", both), 2);
  EXPECT_NE(err_.find("ZIRKO_VIRTUAL names 2 receivers; choose one with --state FILE\n"),
            std::string::npos)
      << err_;
  EXPECT_FALSE(read_text_file(path_));  // nothing created, nothing unplugged
  EXPECT_EQ(Run("--state " + other + " unplug", both), 0);
  StateFileBus files(std::vector<std::string>{path_, other});
  EXPECT_TRUE(files.receiver(0)->run_snapshot().present);
  EXPECT_FALSE(files.receiver(1)->run_snapshot().present);
}

}  // namespace
}  // namespace zk::virt
