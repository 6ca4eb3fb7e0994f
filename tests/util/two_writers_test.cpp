// Two zirko_util processes changing one virtual receiver at the same time:
// whatever the timing, the receiver must end as one of the two orders of
// running them one after the other would leave it, and both must succeed.
// That is what "nothing lost" means: no button that neither meant to remove
// goes missing, and no writer reports work that is not there.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "program_output.h"

extern char **environ;

namespace fs = std::filesystem;

namespace {

struct Writer {
  const char *name;
  std::vector<std::string> args;
};

const Writer kWriters[] = {
    {"record", {"record", "-t", "20", "b"}},
    {"delete_index", {"delete_index", "3"}},
    {"import_merge", {"import", "--merge", "more.zmap"}},
    {"loadconfig", {"loadconfig", "other.zcfg"}},
    {"poke", {"interkey_delay", "2"}},
};

// A configuration image of `buttons` buttons with consecutive hashes from
// first_hash, each the key a.
std::vector<unsigned char> image(int buttons, uint8_t settings_a, uint32_t first_hash) {
  std::vector<unsigned char> bytes{0, 0, settings_a, 0x06, 0x00};
  for (int i = 0; i < buttons; ++i) {
    const uint32_t hash = first_hash + uint32_t(i);
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(uint8_t(hash >> shift));
    bytes.push_back(0x00);
    bytes.push_back(0x04);
  }
  bytes[0] = uint8_t(bytes.size() >> 8);
  bytes[1] = uint8_t(bytes.size());
  return bytes;
}

std::string state_file(const std::vector<unsigned char> &eeprom) {
  std::string text =
      "press_delay_ms = 20\nreenumerate_delay_ms = 0\nleave_delay_ms = 0\n"
      "eeprom_write_ms = 0\nformat_ms = 0\n";
  for (size_t at = 0; at < eeprom.size(); at += 16) {
    char line[16];
    snprintf(line, sizeof line, "eeprom %03X:", unsigned(at & 0xFFF));
    text += line;
    for (size_t i = at; i < at + 16 && i < eeprom.size(); ++i) {
      snprintf(line, sizeof line, " %02X", eeprom[i]);
      text += line;
    }
    text += "\n";
  }
  return text;
}

class TwoWriters : public testing::TestWithParam<std::pair<int, int>> {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/zirko_two_writers.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    std::ofstream(dir_ / "more.zmap") << "CCCC0001 c\nCCCC0002 d\n";
    const auto other = image(11, 0x33, 0x20000000);
    std::ofstream(dir_ / "other.zcfg", std::ios::binary)
        .write(reinterpret_cast<const char *>(other.data()), std::streamsize(other.size()));
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Starts zirko_util on the receiver of `state`, its output in files named
  // after `tag`; the lock files live in the test's own folder.
  pid_t Start(const std::vector<std::string> &args, const std::string &state,
              const std::string &tag) {
    std::vector<std::string> words = zk::test::CommandWords(ZIRKO_UTIL_BIN);
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (auto &w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    std::vector<std::string> env_text{"ZIRKO_VIRTUAL=" + (dir_ / state).string(),
                                      "XDG_RUNTIME_DIR=" + dir_.string()};
    std::vector<char *> env;
    for (auto &e : env_text) env.push_back(e.data());
    env.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, (dir_ / (tag + ".out")).c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, (dir_ / (tag + ".err")).c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addchdir_np(&actions, dir_.c_str());
    pid_t pid = -1;
    EXPECT_EQ(posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), env.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }

  zk::test::ProgramOutput Finish(pid_t pid, const std::string &tag) {
    zk::test::ProgramOutput r;
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid)
      r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = zk::test::ReadFile(dir_ / (tag + ".out"));
    r.err = zk::test::ReadFile(dir_ / (tag + ".err"));
    return r;
  }

  zk::test::ProgramOutput Run(const std::vector<std::string> &args, const std::string &state) {
    return Finish(Start(args, state, "run"), "run");
  }

  void Fresh(const std::string &state) {
    std::ofstream(dir_ / state) << state_file(image(20, 0x36, 0x10000000));
  }

  // The EEPROM after running the writers one after the other.
  std::string InTurn(const Writer &first, const Writer &second) {
    Fresh("turn.state");
    EXPECT_EQ(Run(first.args, "turn.state").status, 0) << first.name;
    EXPECT_EQ(Run(second.args, "turn.state").status, 0) << second.name;
    return Run({"dump", "1023"}, "turn.state").out;
  }

  fs::path dir_;
};

TEST_P(TwoWriters, EndAsOneOrderOfRunningThemInTurnWould) {
  const Writer &a = kWriters[GetParam().first], &b = kWriters[GetParam().second];
  const std::string a_then_b = InTurn(a, b), b_then_a = InTurn(b, a);
  constexpr int kTrials = 3;
  int lost = 0;
  for (int trial = 0; trial < kTrials; ++trial) {
    Fresh("both.state");
    const pid_t first = Start(a.args, "both.state", "a");
    const pid_t second = Start(b.args, "both.state", "b");
    const auto ra = Finish(first, "a"), rb = Finish(second, "b");
    EXPECT_EQ(ra.status, 0) << a.name << ": " << ra.out << ra.err;
    EXPECT_EQ(rb.status, 0) << b.name << ": " << rb.out << rb.err;
    const std::string both = Run({"dump", "1023"}, "both.state").out;
    if (both != a_then_b && both != b_then_a) ++lost;
  }
  EXPECT_EQ(lost, 0) << lost << " of " << kTrials << " trials left the receiver as neither order";
}

std::vector<std::pair<int, int>> pairs() {
  std::vector<std::pair<int, int>> all;
  const int count = int(std::size(kWriters));
  for (int i = 0; i < count; ++i)
    for (int j = i; j < count; ++j) all.push_back({i, j});
  return all;
}

INSTANTIATE_TEST_SUITE_P(Pairs, TwoWriters, testing::ValuesIn(pairs()),
                         [](const testing::TestParamInfo<std::pair<int, int>> &info) {
                           return std::string(kWriters[info.param.first].name) + "_and_" +
                                  kWriters[info.param.second].name;
                         });

}  // namespace
