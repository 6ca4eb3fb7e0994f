// The receiver's state file: format, errors, and persistence across runs.
#include "state_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <set>

#include "bus_host.h"
#include "captured_output.h"
#include "quiet_receiver.h"
#include "state_file_bus.h"
#include "temp_folder.h"

namespace zk::virt {
namespace {

class StateFileTest : public ::testing::Test {
 protected:
  void Write(const std::string &text) { ASSERT_TRUE(write_file_atomically(path, text)); }
  std::string Read() { return read_text_file(path).value_or("<missing>"); }
  static int Receivers(Bus &bus) {
    test::BusHost host{bus};
    const bool found = host.open();
    host.close();
    return found ? 1 : 0;
  }

  // The kind of file at `p` as lstat sees it (0: nothing there).
  static mode_t Kind(const std::string &p) {
    struct stat st {};
    return lstat(p.c_str(), &st) == 0 ? st.st_mode & S_IFMT : 0;
  }

  test::TempFolder folder;
  std::string dir = folder.path;
  std::string path = dir + "/receiver.state";
};

TEST_F(StateFileTest, MissingFileIsCreatedWithACurrentReceiver) {
  StateFileBus files(path);
  auto state = parse_state(Read(), nullptr);
  ASSERT_TRUE(state);
  EXPECT_EQ(state->mode, Mode::kFirmware);
  EXPECT_EQ(state->firmware.major, 3);
  EXPECT_EQ(state->firmware.minor, 8);
  EXPECT_EQ(state->fw_generation(), 3);
  EXPECT_EQ(state->image_size(), 5);
  EXPECT_EQ(state->eeprom[2] & 0x0F, 6);       // inter-key delay
  EXPECT_EQ(state->eeprom[2] >> 4 & 0x03, 3);  // sensitivity
  EXPECT_EQ(state->eeprom[3] >> 1 & 0x03, 3);  // standard variant
  EXPECT_EQ(Receivers(files.bus()), 1);
}

TEST_F(StateFileTest, EveryFieldSurvivesARoundTrip) {
  ReceiverState s;
  s.mode = Mode::kBootloader;
  s.plugged = false;
  s.legacy_manufacturer = true;
  s.firmware_product_id = 0x0001;
  s.product = "Bench # receiver";
  s.firmware = {255, 12, {1, 2, 3}};
  s.bootloader = {1, 4, {9, 8, 7}};
  s.firmware_generation = 2;
  s.scm_hash = 0x01020304;
  s.presses = {0xA, 0xFFFFFFFF};
  s.auto_press = false;
  s.press_delay_ms = 0;
  s.next_fresh_hash = 77;
  s.eeprom[1023] = 0x12;
  s.flash = std::vector<uint8_t>(130, 0x5A);
  s.failing_requests = {{0xC0, 3, -9}, {0xC2, 12, -7}};
  const std::string text = format_state(s);
  auto back = parse_state(text, nullptr);
  ASSERT_TRUE(back);
  EXPECT_EQ(format_state(*back), text);
  EXPECT_EQ(back->eeprom, s.eeprom);
  EXPECT_EQ(back->flash, s.flash);
  EXPECT_EQ(back->presses, s.presses);
  EXPECT_EQ(back->product, s.product);
}

TEST_F(StateFileTest, MalformedLinesAreNamed) {
  const struct {
    const char *text;
    int line;
    const char *message;
  } cases[] = {
      {"mode = firmware\nmode = sideways\n", 2, "bad value \"sideways\" for mode"},
      {"# c\n\nplugged = maybe\n", 3, "expected yes or no"},
      {"colour = red\n", 1, "unknown key \"colour\""},
      {"firmware_version = 3\n", 1, "major.minor"},
      {"just words\n", 1, "expected \"key = value\""},
      {"eeprom 003: 00\n", 1, "bad row address"},
      {"eeprom 3F0: 00 GG\n", 1, "bad hex byte \"GG\""},
      {"eeprom 400: 00\n", 1, "bad row address"},
      {"eeprom 3F0: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n", 1, "row too long"},
      {"press = 0x100000000\n", 1, "32-bit"},
      {"fail_request = 0xC0/3\n", 1, "for fail_request"},
      {"fail_request = 0xC0/3 9\n", 1, "for fail_request"},
  };
  for (const auto &c : cases) {
    StateFileError error;
    EXPECT_FALSE(parse_state(c.text, &error)) << c.text;
    EXPECT_EQ(error.line, c.line) << c.text;
    EXPECT_NE(error.message.find(c.message), std::string::npos) << error.message;
  }
}

TEST_F(StateFileTest, MalformedFileLeavesNoReceiverAndIsNotOverwritten) {
  const std::string bad = "mode = firmware\nfirmware_version = x.y\n";
  Write(bad);
  zk::test::CapturedOutput log(stderr);
  StateFileBus files(path);
  const std::string err = log.text();
  EXPECT_NE(err.find(path + ":2: "), std::string::npos) << err;
  EXPECT_EQ(Receivers(files.bus()), 0);
  EXPECT_EQ(Read(), bad);
  // Mended while the program runs: the next scan finds the receiver.
  Write("firmware_version = 2.6\n");
  EXPECT_EQ(Receivers(files.bus()), 1);
}

TEST_F(StateFileTest, SeparateRunsSeeOneReceiver) {
  {
    StateFileBus run(path);
    test::BusHost host{run.bus()};
    ASSERT_TRUE(host.open());
    ASSERT_EQ(host.in(0xC2, 3, 3, 0x04), 1);  // variant byte
    host.close();                             // saved here
  }
  StateFileBus next(path);
  test::BusHost host{next.bus()};
  ASSERT_TRUE(host.open());
  EXPECT_EQ(host.peek(3), 0x04);
  // Leaving for the bootloader is saved as it happens.
  next.receiver()->edit([](ReceiverState &s) { s.leave_delay_ms = 0; });
  EXPECT_LT(host.in(0xC2, 5, 0x5A), 0);
  EXPECT_NE(Read().find("mode = bootloader"), std::string::npos);
}

TEST_F(StateFileTest, UnpluggedReceiverIsPluggedInByEditingTheFile) {
  ReceiverState s;
  s.plugged = false;
  Write(format_state(s));
  StateFileBus files(path);
  EXPECT_EQ(Receivers(files.bus()), 0);
  s.plugged = true;
  Write(format_state(s));
  test::BusHost host{files.bus()};
  ASSERT_TRUE(host.open());
  EXPECT_EQ(host.peek(1), 5);
  // Pulled out by hand while a handle is open: the handle has lost it.
  s.plugged = false;
  Write(format_state(s));
  EXPECT_EQ(host.peek(1), kUsbErrorNoDevice);
  EXPECT_EQ(Receivers(files.bus()), 0);
}

TEST_F(StateFileTest, SymbolicLinksAreFollowedAndTheirTargetReplaced) {
  Write(format_state(zk::test::QuietReceiverState()));
  const std::string first = dir + "/first", second = dir + "/second";
  ASSERT_EQ(symlink("receiver.state", first.c_str()), 0);  // relative to its folder
  ASSERT_EQ(symlink(first.c_str(), second.c_str()), 0);
  {
    StateFileBus files(second);
    test::BusHost host{files.bus()};
    ASSERT_TRUE(host.open());
    ASSERT_EQ(host.in(0xC2, 3, 3, 0x04), 1);
  }
  EXPECT_EQ(Kind(first), S_IFLNK);
  EXPECT_EQ(Kind(second), S_IFLNK);
  EXPECT_EQ(parse_state(Read(), nullptr)->eeprom[3], 0x04);
  // A link to nothing yet: the state file is made where it leads.
  const std::string dangling = dir + "/dangling";
  ASSERT_EQ(symlink("made.state", dangling.c_str()), 0);
  StateFileBus made(dangling);
  EXPECT_EQ(Receivers(made.bus()), 1);
  EXPECT_EQ(Kind(dangling), S_IFLNK);
  EXPECT_EQ(Kind(dir + "/made.state"), S_IFREG);
}

TEST_F(StateFileTest, AnythingButARegularFileIsRefusedAndLeftAsItIs) {
  struct Case {
    std::string name;
    std::string kind;
    mode_t mode;
  };
  std::vector<Case> cases;
  ASSERT_EQ(mkdir((dir + "/folder").c_str(), 0755), 0);
  cases.push_back({"folder", "a directory", S_IFDIR});
  ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0644), 0);
  cases.push_back({"fifo", "a FIFO", S_IFIFO});
  // A device node of its own (as /dev/null), where the system lets us make one.
  if (mknod((dir + "/device").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0)
    cases.push_back({"device", "a device", S_IFCHR});
  ASSERT_EQ(symlink("fifo", (dir + "/to-fifo").c_str()), 0);
  cases.push_back({"to-fifo", "a FIFO (" + dir + "/fifo)", S_IFLNK});
  for (const Case &c : cases) {
    const std::string p = dir + "/" + c.name;
    zk::test::CapturedOutput err(stderr);
    StateFileBus files(p);
    EXPECT_EQ(err.text(), "zirko virtual: " + p + ": is " + c.kind +
                              "; the state file must be a regular file\n");
    EXPECT_EQ(files.receiver(), nullptr) << c.name;
    EXPECT_EQ(Receivers(files.bus()), 0) << c.name;
    EXPECT_EQ(Kind(p), c.mode) << c.name;
    EXPECT_EQ(Kind(p + ".lock"), 0u) << c.name;
  }
  // Turned into something else while in use: off the bus until mended.
  Write(format_state(zk::test::QuietReceiverState()));
  StateFileBus files(path);
  test::BusHost host{files.bus()};
  ASSERT_TRUE(host.open());
  ASSERT_EQ(rename(path.c_str(), (path + ".away").c_str()), 0);
  ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
  zk::test::CapturedOutput err(stderr);
  EXPECT_EQ(host.peek(1), kUsbErrorNoDevice);
  EXPECT_EQ(err.text(), "zirko virtual: " + path + ": is a FIFO, not a state file\n");
  ASSERT_EQ(rename((path + ".away").c_str(), path.c_str()), 0);
  EXPECT_EQ(Receivers(files.bus()), 1);
}

TEST_F(StateFileTest, ErrorsQuoteOnlyAShortPieceOfABadValue) {
  StateFileError error;
  EXPECT_FALSE(parse_state("mode = " + std::string(100000, 'x') + "\n", &error));
  EXPECT_EQ(error.message, "bad value \"" + std::string(40, 'x') +
                               "...\" for mode (expected firmware or bootloader)");
  EXPECT_FALSE(parse_state("col\x1B[2Jour = red\n", &error));
  EXPECT_EQ(error.message, "unknown key \"col?[2Jour\"");
}

TEST_F(StateFileTest, HandEditsTakeEffectAtTheNextTransfer) {
  ReceiverState s = zk::test::QuietReceiverState();
  Write(format_state(s));
  StateFileBus files(path);
  test::BusHost host{files.bus()};
  ASSERT_TRUE(host.open());
  ASSERT_EQ(host.in(0xC0, 1, 0x04, 0, 1), 1);  // waits for a button
  // A press line: the waiting receiver takes it.
  s = *parse_state(Read(), nullptr);
  s.presses.push_back(0x600DF00D);
  Write(format_state(s));
  EXPECT_EQ(host.state(), kStateDone);
  EXPECT_EQ(host.peek(5), 0x0D);
  // What the receiver is, changed by hand: it comes back as another device.
  s = *parse_state(Read(), nullptr);
  s.mode = Mode::kBootloader;
  Write(format_state(s));
  EXPECT_EQ(host.peek(5), kUsbErrorNoDevice);
  host.close();
  ASSERT_TRUE(host.open());
  EXPECT_EQ(host.string(host.handle, 2), "bootldr");
}

// The README's table of state-file keys names every key the file has, and
// no other: its first column holds the names in backquotes.
TEST(StateFileKeys, ReadmeTableNamesExactlyTheKeys) {
  std::ifstream readme(ZIRKO_README);
  ASSERT_TRUE(readme) << ZIRKO_README;
  const std::regex name("`([a-z_]+)[^`]*`");
  std::set<std::string> documented, known;
  bool in_section = false;
  for (std::string line; std::getline(readme, line);) {
    if (line.rfind("### ", 0) == 0) in_section = line == "### State file";
    if (!in_section || line.rfind("| `", 0) != 0) continue;
    const std::string first = line.substr(1, line.find('|', 1) - 1);
    for (std::sregex_iterator it(first.begin(), first.end(), name), end; it != end; ++it)
      documented.insert((*it)[1]);
  }
  for (const StateKey &key : state_keys()) known.insert(key.name);
  EXPECT_EQ(known.size(), state_keys().size()) << "a key is in the table twice";
  EXPECT_EQ(documented, known);
}

}  // namespace
}  // namespace zk::virt

namespace zk::virt {
namespace {

// The running state keeps a full log of sent keys within its record, and a
// torn or edited log reads as a receiver that just got power.
TEST(RunRecord, SentKeysSurviveARoundTripAndBadOnesAreRefused) {
  RunState run;
  run.keys_sent = 1000;
  for (uint32_t i = 0; i < kSentKeysKept; ++i)
    run.sent_keys.push_back({0xFFFFFFF0u + i, 0x66, static_cast<uint8_t>(0xE9 + i)});
  const std::string text = format_run(run);
  EXPECT_LE(text.size(), 2048u);
  EXPECT_EQ(parse_run(text), run);
  EXPECT_EQ(parse_run(format_run(RunState{})), RunState{});
  const std::string line = text.substr(text.find("sent_keys "));
  for (const char *bad :
       {"sent_keys \n", "sent_keys 1:2\n", "sent_keys 1:2:3:4\n", "sent_keys 123456789:1:1\n",
        "sent_keys 1:100:1\n", "sent_keys 1:1:1x\n"}) {
    std::string broken = text;
    broken.replace(broken.find("sent_keys "), line.find('\n') + 1, bad);
    EXPECT_FALSE(parse_run(broken)) << bad;
  }
}

}  // namespace
}  // namespace zk::virt
