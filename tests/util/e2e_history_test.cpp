// zirko_util end to end, the history of configurations: verify, undo and restore.
// The runner, the receivers and the shared texts are in e2e_fixture.h.
#include "e2e_fixture.h"

namespace {

using namespace zk::e2e;

// A pattern: the newest entry in full, then three more.
const std::string kJsonHistory =
    R"(\{"folder":"[^"]+/state/zirko/history","history":\[\{"number":1,"time":"[-0-9T:]+",)"
    R"("change":"restore 3","buttons":1,"firmware":"3\.8","position":"[^"]*"\}(,\{[^}]+\}){3}\]\}\n)";

// clang-format off
std::vector<Scenario> scenarios() {
  return {
    {"VerifyAgainstABackupAndAMap", kGen3 + kTwoKeys,
     {
      {{"saveconfig", "backup"}, "\nSaving Configuration File 'backup.zcfg' to Disk\n\n\nConfiguration File saved\n"},
      {{"verify", "backup.zcfg"}, "The receiver matches backup.zcfg\n"},
      {{"verify", "missing.zcfg"}, "", 1, "Error: missing.zcfg: No such file or directory\n"},
      {{"export", "backup.zmap"}, "Exported 2 buttons to 'backup.zmap'\n"},
      {{"delete_index", "1"}, "  Deleted button 1 (hash BBBB0002)\n"},
      {{"interkey_delay", "3"}, "interkey delay set: 3\n"},
      {{"verify", "backup.zcfg"}, "missing  BBBB0002  F5\nsetting  inter-key delay: 3 (the file has 6)\nThe receiver differs from backup.zcfg: 1 missing, 0 extra, 0 changed, 1 settings\n", 1},
      {{"verify", "backup.zmap"}, "missing  BBBB0002  F5\nThe receiver differs from backup.zmap: 1 missing, 0 extra, 0 changed, 0 settings\n", 1},
      {{"undo"}, "Restoring the configuration from before `interkey_delay 3' \\([-0-9: ]+, 1 button\\)\nConfiguration restored\n", 0, "", "zirko_util", true},
      {{"restore", "3"}, "Restoring the configuration from before `delete_index 1' \\([-0-9: ]+, 2 buttons\\)\nConfiguration restored\n", 0, "", "zirko_util", true},
      {{"verify", "backup.zcfg"}, "The receiver matches backup.zcfg\n"},
      {{"restore", "0"}, "", 2, "[E] restore(#): an entry is numbered 1 to 100, as `history' lists them\n"},
      {{"restore", "9"}, "", 1, "Error: the history has no entry 9 (it holds 4)\n"},
      {{"--json", "history"}, kJsonHistory, 0, "", "zirko_util", true},
     }},
  };
}
// clang-format on

INSTANTIATE_TEST_SUITE_P(Cases, E2E, testing::ValuesIn(scenarios()), ScenarioName);

// A change undone gives back the EEPROM as it was, every byte of it; the
// undo is a change too, and a second undo takes it back.
TEST_F(TempDir, UndoGivesBackTheEepromByteForByte) {
  for (const std::vector<std::string> &change : {std::vector<std::string>{"format"},
                                                 {"delete_index", "0"},
                                                 {"import", "--allow-empty", "empty.zmap"}}) {
    SCOPED_TRACE(change[0]);
    fs::remove_all(dir_ / "state");
    std::ofstream(dir_ / "receiver.state") << kFast;
    std::ofstream(dir_ / "empty.zmap") << "# no buttons\n";
    for (const char *key : {"a", "b", "c"}) ASSERT_EQ(util({"record", key}, dir_).status, 0);
    const std::string before = util({"dump", "1023"}, dir_).out;
    ASSERT_EQ(util(change, dir_).status, 0);
    const std::string changed = util({"dump", "1023"}, dir_).out;
    ASSERT_NE(changed, before);
    const std::string changed_keys = util({"keys"}, dir_).out;
    const Result listed = util({"history"}, dir_);
    EXPECT_TRUE(std::regex_search(listed.out,
                                  std::regex("\n   1  [-0-9: ]+  " + change[0] + " .*  3 buttons")))
        << listed.out;
    EXPECT_NE(listed.out.find("   4  "), std::string::npos) << "the three recordings";
    ASSERT_EQ(util({"undo"}, dir_).status, 0);
    EXPECT_EQ(util({"dump", "1023"}, dir_).out, before);
    // Back to the change's buttons; what lies beyond them is not the image.
    ASSERT_EQ(util({"undo"}, dir_).status, 0);
    EXPECT_EQ(util({"keys"}, dir_).out, changed_keys);
  }
}

// When the history cannot be written nothing changes, unless asked for.
TEST_F(TempDir, UnwritableHistoryRefusesChangesWithoutNoHistory) {
  std::ofstream(dir_ / "receiver.state") << kFast << kTwoKeys;
  std::ofstream(dir_ / "state") << "a file where the folder should be";
  for (const std::vector<std::string> &change :
       {std::vector<std::string>{"format"}, {"record", "z"}, {"interkey_delay", "2"}}) {
    const Result r = util(change, dir_);
    EXPECT_EQ(r.status, 1) << change[0];
    EXPECT_EQ(r.err,
              "Error: the configuration could not be kept in the history: " +
                  (dir_ / "state" / "zirko").string() +
                  ": Not a directory\nNothing was changed; --no-history changes the receiver "
                  "without keeping it\n")
        << change[0];
  }
  EXPECT_EQ(util({"keys"}, dir_).out, kTwoKeysListing);
  EXPECT_EQ(util({"--no-history", "format"}, dir_).status, 0);
  EXPECT_EQ(util({"keys"}, dir_).out, kNoKeys);
}

}  // namespace
