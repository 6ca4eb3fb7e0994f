// zirko_util end to end, configuration files and button maps: save, load, export and import.
// The runner, the receivers and the shared texts are in e2e_fixture.h.
#include <signal.h>
#include <sys/stat.h>

#include <chrono>

#include "e2e_fixture.h"

namespace {

using namespace zk::e2e;

// clang-format off
std::vector<Scenario> scenarios() {
  return {
    {"SaveAndLoadConfiguration", kGen3 + kTwoKeys,
     {
      {{"saveconfig", "backup"}, "\nSaving Configuration File 'backup.zcfg' to Disk\n\n\nConfiguration File saved\n"},
      {{"format"}, "Formatting Device, please wait...  Done!\n"},
      {{"loadconfig", "backup"}, "\nLoading Configuration File 'backup.zcfg' to Device\n\n\nConfiguration File Loaded Successfully\n"},
      {{"loadconfig", "backup.zcfg"}, "\nLoading Configuration File 'backup.zcfg' to Device\n\n\nConfiguration File Loaded Successfully\n"},
      {{"keys"}, kTwoKeysListing},
      {{"saveconfig", "backup.zcfg"}, "\nSaving Configuration File 'backup.zcfg.zcfg' to Disk\n\n\nConfiguration File saved\n"},
      {{"saveconfig", std::string(295, 'n')}, "", 1, "Error, file name too long (at most 294 characters)\n"},
      {{"loadconfig", "missing.zcfg"}, "", 1, "Error: missing.zcfg: No such file or directory\n"},
      {{"loadconfig"}, "", 2, kNotEnough + "Help for `loadconfig' command:\nusage: \n  loadconfig '<filename>'\nexample:\n  zirko loadconfig ~/Desktop/boxee.zcfg\n"},
     }},
  };
}
// clang-format on

INSTANTIATE_TEST_SUITE_P(Cases, E2E, testing::ValuesIn(scenarios()), ScenarioName);

// A map gives back exactly what it was exported from: names, modifiers and
// raw usages alike.
TEST_F(TempDir, ExportFormatImportGivesBackTheSameEeprom) {
  std::ofstream(dir_ / "receiver.state") << kFast;
  const std::vector<std::vector<std::string>> recordings = {
      {"record", "a"},
      {"record", "vol_up"},
      {"record_api", "1", "40"},   // control with return
      {"record_api", "5", "102"},  // a consumer usage no key name has
      {"record_api", "0", "57"},   // caps lock, which has no name
  };
  for (const auto &args : recordings) ASSERT_EQ(util(args, dir_).status, 0) << args[0];
  const std::string before = util({"dump", "1023"}, dir_).out;
  const Result exported = util({"export", "-"}, dir_);
  ASSERT_EQ(exported.status, 0) << exported.err;
  EXPECT_NE(exported.out.find("  left_ctrl return\n"), std::string::npos) << exported.out;
  EXPECT_NE(exported.out.find("  usage=0x66 modifier=0x05\n"), std::string::npos);
  std::ofstream(dir_ / "remote.zmap") << exported.out;

  ASSERT_EQ(util({"format"}, dir_).status, 0);
  ASSERT_NE(util({"dump", "1023"}, dir_).out, before);
  const Result imported = util({"import", "remote.zmap"}, dir_);
  EXPECT_EQ(imported.status, 0) << imported.err;
  EXPECT_EQ(util({"dump", "1023"}, dir_).out, before);
}

TEST_F(TempDir, MapWithOneBadLineIsRefusedWhole) {
  std::ofstream(dir_ / "receiver.state") << kFast << kTwoKeys;
  std::ofstream(dir_ / "bad.zmap") << "# the remote\nAAAA0001  b\nCCCC0003  left_ctrl retrun\n"
                                   << "DDDD0004  F6  # volume\n";
  const std::string before = util({"dump", "1023"}, dir_).out;
  const Result r = util({"import", "bad.zmap"}, dir_);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(without_lines(r.err),
            "[E] import(#): bad.zmap:3: unknown key name: 'retrun'\n"
            "Error: bad.zmap was not imported; the receiver was not changed\n");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(util({"dump", "1023"}, dir_).out, before);
}

// Merging keeps what the receiver holds and says where the map differs.
TEST_F(TempDir, MergeAddsNewButtonsAndKeepsTheReceiversKeys) {
  std::ofstream(dir_ / "receiver.state") << kFast << kTwoKeys;
  std::ofstream(dir_ / "more.zmap") << "AAAA0001 b\nBBBB0002 F5\nCCCC0003 left_alt+right_cmd tab\n";
  const Result r = util({"import", "--merge", "more.zmap"}, dir_);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, 36), "  kept AAAA0001 as a (the map has b)");
  EXPECT_EQ(util({"keys"}, dir_).out,
            kTwoKeysListing + "    2  CCCC0003    left_alt+right_cmd tab\n");
}

// What no receiver may be sent: each is refused at once, naming the file
// and the reason, and the EEPROM stays as it was.
TEST_F(TempDir, UnusableFilesAreRefusedAtOnceAndChangeNothing) {
  std::ofstream(dir_ / "receiver.state") << kFast << kTwoKeys;
  ASSERT_EQ(util({"export", "good.zmap"}, dir_).status, 0);
  const std::string good = ReadFile(dir_ / "good.zmap");
  std::ofstream(dir_ / "empty.zmap").close();
  std::ofstream(dir_ / "comments.zmap") << "# only\n\n   # comments\n";
  std::ofstream(dir_ / "cut40.zmap") << good.substr(0, 40);
  std::ofstream(dir_ / "noend.zmap") << good.substr(0, good.find("# end of map"));
  ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  std::ofstream(dir_ / "big").close();
  fs::resize_file(dir_ / "big", 200u << 20);  // sparse: costs no disk
  const std::string no_map = " was not imported; the receiver was not changed\n";
  const std::string empty = "the map has no buttons; importing it would erase every button";
  // clang-format off
  const struct {
    std::vector<std::string> args;
    std::string error, log;  // the error line, and a part of the log, both on stderr
  } cases[] = {
      {{"import", "empty.zmap"}, "Error: empty.zmap" + no_map, empty},
      {{"import", "comments.zmap"}, "Error: comments.zmap" + no_map, empty},
      {{"import", "cut40.zmap"}, "Error: cut40.zmap" + no_map, empty},
      {{"import", "noend.zmap"}, "Error: noend.zmap" + no_map, "it was cut short"},
      {{"loadconfig", "fifo"}, "Error: fifo: not a regular file (a FIFO)\n", ""},
      {{"import", "fifo"}, "Error: fifo: not a regular file (a FIFO)\n", ""},
      {{"upgrade", "fifo"}, "Error: fifo: not a regular file (a FIFO)\n", ""},
      {{"loadconfig", "."}, "Error: .: not a regular file (a folder)\n", ""},
      {{"loadconfig", "/dev/zero"}, "Error: /dev/zero: not a regular file (a character device)\n", ""},
      {{"import", "/dev/zero"}, "Error: /dev/zero: not a regular file (a character device)\n", ""},
      {{"upgrade", "/dev/zero"}, "Error: /dev/zero: not a regular file (a character device)\n", ""},
      {{"loadconfig", "big"}, "Error: big: File too large: 209715200 bytes, at most 1019\n", ""},
      {{"import", "big"}, "Error: big: File too large: 209715200 bytes, at most 1048576\n", ""},
      {{"upgrade", "big"}, "Error: big: File too large: 209715200 bytes, at most 16384\n", ""},
      {{"loadconfig", "good.zmap"}, "Error: good.zmap is not a configuration file; the receiver was not changed\n", "[E] zk_check_config_image(#): invalid configuration file: "},
  };
  // clang-format on
  const std::string before = util({"dump", "1023"}, dir_).out;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    const auto start = std::chrono::steady_clock::now();
    const Result r = util(c.args, dir_);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(without_lines(r.err).find(c.error), std::string::npos) << r.err;
    EXPECT_NE(without_lines(r.err).find(c.log), std::string::npos) << r.err;
    EXPECT_EQ(util({"dump", "1023"}, dir_).out, before);
  }
}

// A signal during a bulk write stops it between two buttons with a
// configuration that still reads, and undo gives back the one from before.
TEST_F(TempDir, SignalDuringLoadconfigStopsAtASafePointAndUndoRestores) {
  std::ofstream(dir_ / "receiver.state") << kFast << kTwoKeys;
  // The image is its 17 bytes: what the load wrote beyond them is no button.
  const std::string before = util({"dump", "16"}, dir_).out;
  std::vector<unsigned char> image{0, 0, 0x36, 0x06, 0};
  for (int i = 0; i < 100; ++i)
    image.insert(image.end(), {uint8_t(0x40 + i), 0xC0, 0xFF, 0xEE, 0, 4});
  image[0] = uint8_t(image.size() >> 8);
  image[1] = uint8_t(image.size());
  std::ofstream(dir_ / "big.zcfg", std::ios::binary)
      .write(reinterpret_cast<const char *>(image.data()), std::streamsize(image.size()));
  std::ofstream(dir_ / "receiver.state", std::ios::app) << "eeprom_write_ms = 10\n";
  const pid_t pid = spawn(ZIRKO_UTIL_BIN, {"loadconfig", "big.zcfg"}, dir_);
  EXPECT_TRUE(printed(dir_, "Loading"));
  usleep(400 * 1000);  // some buttons are written by now, far from all 100
  kill(pid, SIGINT);
  const Result r = finish(pid, dir_);
  EXPECT_EQ(r.status, 130);
  EXPECT_EQ(r.err,
            "Interrupted: stopped between two buttons. The previous configuration is in the "
            "history: `zirko_util undo' restores it\n");
  const Result keys = util({"keys"}, dir_);
  EXPECT_EQ(keys.status, 0) << "the configuration still reads";
  EXPECT_NE(keys.out.find("\n    1  "), std::string::npos) << keys.out;
  EXPECT_EQ(keys.out.find("\n    2  "), std::string::npos)
      << "the size header is still the old one";
  ASSERT_EQ(util({"undo"}, dir_).status, 0);
  EXPECT_EQ(util({"dump", "16"}, dir_).out, before);
  EXPECT_EQ(util({"keys"}, dir_).out, kTwoKeysListing);
}

}  // namespace
