// Programs sharing one virtual receiver through its state file: what one
// does, the next transfer of any other sees, and none undoes another.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

#include "quiet_receiver.h"
#include "state_file.h"
#include "state_file_bus.h"
#include "temp_folder.h"
#include "usb_backend.h"
#include "zirko.h"

namespace {

using namespace std::chrono_literals;
using zk::virt::StateFileBus;

// One direction of a pipe between the test and a child, a byte at a time.
struct Channel {
  int fds[2] = {-1, -1};
  Channel() { EXPECT_EQ(pipe(fds), 0); }
  ~Channel() {
    close(fds[0]);
    close(fds[1]);
  }
  void send(char byte) { EXPECT_EQ(write(fds[1], &byte, 1), 1); }
  char receive() {
    char byte = 0;
    return read(fds[0], &byte, 1) == 1 ? byte : '?';
  }
};

class SharedReceiver : public testing::Test {
 protected:
  void TearDown() override {
    zk_close_device();
    zk::set_usb_backend(nullptr);
  }
  void Create(int firmware_major) {
    zk::virt::ReceiverState s = zk::test::QuietReceiverState();
    s.firmware.major = static_cast<uint8_t>(firmware_major);
    ASSERT_TRUE(zk::virt::write_file_atomically(path_, zk::virt::format_state(s)));
  }
  // Runs `body` in a program of its own that opens the receiver through its
  // own bus on the state file; `body`'s result is the exit status.
  pid_t Program(const std::function<int(StateFileBus &)> &body) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    alarm(30);  // a hung program fails the test instead of hanging it
    StateFileBus bus(path_);
    zk::set_usb_backend(&bus.bus());
    int status =
        zk_open_device(ZK_VENDOR_ID, ZK_MANUFACTURER) == ZK_STATE_FIRMWARE ? body(bus) : 99;
    zk_close_device();
    _exit(status);
  }
  static int ExitStatus(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  // This test's own program on the receiver.
  void OpenHere() {
    here_ = std::make_unique<StateFileBus>(path_);
    zk::set_usb_backend(&here_->bus());
    ASSERT_EQ(zk_open_device(ZK_VENDOR_ID, ZK_MANUFACTURER), ZK_STATE_FIRMWARE);
  }

  zk::virt::test::TempFolder folder_;
  std::string path_ = folder_.path + "/receiver.state";
  std::unique_ptr<StateFileBus> here_;
};

class OneRecordsAnotherLists : public SharedReceiver, public testing::WithParamInterface<int> {};

// Generation 1 waits on the interrupt endpoint, 3 polls its state code: both
// waits end with a press from another program.
TEST_P(OneRecordsAnotherLists, WhileTheRecorderStillHasItOpen) {
  Create(GetParam());
  Channel result, release;
  const pid_t recorder = Program([&](StateFileBus &) {
    result.send(static_cast<char>(zk_set_record("a", 10)));
    return release.receive() == 'x' ? 0 : 1;
  });
  StateFileBus presser(path_);
  for (int i = 0; i < 500 && !presser.receiver()->waiting_for_button(); ++i)
    std::this_thread::sleep_for(10ms);
  ASSERT_TRUE(presser.receiver()->waiting_for_button());
  EXPECT_EQ(presser.receiver()->press_button(0xCAFE0001).outcome,
            zk::virt::Receiver::Pressed::kTaken);
  EXPECT_EQ(result.receive(), 0);
  OpenHere();
  EXPECT_EQ(zk_keys_recorded(), 1);
  release.send('x');
  EXPECT_EQ(ExitStatus(recorder), 0);
}

INSTANTIATE_TEST_SUITE_P(Generations, OneRecordsAnotherLists, testing::Values(1, 3));

// Every program writes while the others do, then each records a button in
// turn; nothing any of them did is lost, although all of them still hold
// the receiver open until the end.
TEST_F(SharedReceiver, ConcurrentProgramsLoseNothing) {
  constexpr int kPrograms = 6;
  constexpr int kWrites = 20;
  Create(3);
  Channel done;
  std::vector<std::unique_ptr<Channel>> turns;
  std::vector<pid_t> programs;
  for (int i = 0; i < kPrograms; ++i) {
    turns.push_back(std::make_unique<Channel>());
    Channel &turn = *turns.back();
    programs.push_back(Program([&, i](StateFileBus &bus) {
      for (int n = 0; n < kWrites; ++n)
        if (zk_eeprom_poke(900 + i, n + 1) != 0) return 1;
      done.send('w');
      if (turn.receive() != 'r') return 2;
      bus.receiver()->queue_press(0xB0000000u + i);
      const int recorded = zk_set_record_api(0, 0x04 + i, 5);
      done.send('r');
      if (turn.receive() != 'x') return 3;
      return recorded == 0 ? 0 : 4;
    }));
  }
  for (int i = 0; i < kPrograms; ++i) EXPECT_EQ(done.receive(), 'w');
  for (auto &turn : turns) {
    turn->send('r');
    EXPECT_EQ(done.receive(), 'r');
  }
  for (auto &turn : turns) turn->send('x');
  for (pid_t pid : programs) EXPECT_EQ(ExitStatus(pid), 0);
  OpenHere();
  EXPECT_EQ(zk_keys_recorded(), kPrograms);
  for (int i = 0; i < kPrograms; ++i) EXPECT_EQ(zk_eeprom_peek(900 + i), kWrites) << i;
}

// Killed at any moment, a program leaves the whole state file (the last
// EEPROM row is always there) and a lock that the next program takes.
TEST_F(SharedReceiver, AProgramKilledWhileWritingLeavesNoTornFile) {
  Create(3);
  for (int round = 0; round < 20; ++round) {
    const pid_t writer = Program([](StateFileBus &) {
      for (int n = 0;; ++n) zk_eeprom_poke(500 + n % 100, n & 0xFF);
      return 0;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(5 + round));
    kill(writer, SIGKILL);
    EXPECT_EQ(ExitStatus(writer), 128 + SIGKILL);
    const std::string text = zk::virt::read_text_file(path_).value_or("");
    EXPECT_TRUE(zk::virt::parse_state(text, nullptr)) << round;
    EXPECT_NE(text.find("\neeprom 3F0: FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF\n"),
              std::string::npos)
        << round;
  }
  OpenHere();
  EXPECT_EQ(zk_eeprom_peek(2), 0x36);
}

}  // namespace
