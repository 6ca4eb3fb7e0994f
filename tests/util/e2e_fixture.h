// zirko_util end to end: each case runs the built program (or one of its
// command links) against a virtual receiver kept in a temporary state file and
// checks standard output, standard error and the exit status. Steps of one
// scenario share the receiver, so a later step sees what an earlier one did.
// The cases live in one file per family of commands; this header holds what
// they share: the scenario runner, the receivers and the common texts.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "image.h"
#include "program_output.h"
#include "zirko.h"

namespace zk::e2e {

namespace fs = std::filesystem;

struct Step {
  std::vector<std::string> args;
  std::string out;
  int status = 0;
  std::string err = "";                // log lines, with source lines shown as (#)
  std::string program = "zirko_util";  // or the name of a command link
  bool out_is_regex = false;
};

struct Scenario {
  std::string name;
  std::string state;  // state file contents before the first step
  std::vector<Step> steps;
  // Further receivers on the bus after the first, one state file each
  // (receiver-2.state...).
  std::vector<std::string> others = {};
};

inline void PrintTo(const Scenario &s, std::ostream *os) {
  *os << s.name;
}

// ---- receivers ----

// The receiver is shared by the steps' programs as one device: one that
// re-enumerates is away for the next step too, so it does so at once.
inline const std::string kFast =
    "press_delay_ms = 20\nreenumerate_delay_ms = 0\n"
    "leave_delay_ms = 0\neeprom_write_ms = 0\nformat_ms = 0\n";

inline const std::string kGen3 = kFast;  // firmware 3.8

inline const std::string kGen2 = kFast + "firmware_version = 2.6\n";

inline const std::string kGen1 = kFast + "firmware_version = 1.4\n";

inline const std::string kBoot2 = kFast + "mode = bootloader\n";  // bootloader 2.1

inline const std::string kNone = "plugged = no\n";

// Two recorded buttons: a (hash AAAA0001) and F5 (hash BBBB0002).
inline const std::string kTwoKeys =
    "eeprom 000: 00 11 36 06 00 01 00 AA AA 00 04 02 00 BB BB 00\neeprom 010: 3E\n";

// ---- expected texts ----

inline const std::string kVersion =
    "zirko_util version v" ZIRKO_VERSION " [v" ZIRKO_VERSION "-1-g3842eaf]\n";

inline const std::string kV38 = kVersion + "  Firmware: v3.8 [5EEDC0DE]\n";

inline const std::string kV26 = kVersion + "  Firmware: v2.6 [5EEDC0DE]\n";

// Bootloaders have no source hash.
inline const std::string kVBoot = kVersion + "  Booloader: v2.1 [no hash]\n";

inline const std::string kNoDevice = "device disconnected, can't run command\n";

inline const std::string kNotEnough = "[E] enough_args(#): Not Enough Arguments\n";

inline const std::string kUpgradeHelp =
    "Help for `upgrade' command:\nusage: \n  zirko upgrade <path to firmware file>\n"
    "example:\n  zirko upgrade ~/Desktop/zirko.bin\n";

inline const std::string kSeqModifiersRefused =
    "unrecognized option\n"
    "Help for `seq_modifiers' command:\n"
    "Enable this for windows media center\n"
    "usage: seq_modifiers enable|disable\n"
    "example: \n"
    "  seq_modifiers enable\n"
    "  seq_modifiers disable\n";

inline const std::string kNoKeys = "No Keys Found\n";

inline const std::string kTwoKeysListing =
    "\nRecorded Keys:\nIndex  hash        key\n-----  ---------   ---\n"
    "    0  AAAA0001    a\n    1  BBBB0002    F5\n";

inline const std::string kTwoKeysSpace =
    "\nMemory Info:\n  keys recorded:  2\n  keys remaining: 167\n  memory used:    1%\n";

inline std::string re_escape(const std::string &text) {
  return std::regex_replace(text, std::regex(R"([.^$|()\[\]{}*+?\\])"), "\\$&");
}

// A firmware upgrade of a 32-page image, starting in firmware mode, that
// stops after `pages` pages (32: it succeeds); the waits print a dot for
// every failed attempt, however many there are.
// Standard output is a file here, so no progress bars are drawn.
inline std::string upgrade_output(const std::string &manufacturer, bool completes = true) {
  const std::string start =
      re_escape("Uploading image: fw.bin to \"" + manufacturer +
                "\" 0x20A0\n[DEVICE]        Setting DFU\n") +
      R"(\[DEVICE\]        Waiting\.*\n\[DEVICE\]        Bootloader Detected\n)";
  if (!completes) return start;
  return start +
         R"(\[DEVICE\]        Waiting\.*\n\[DEVICE\]        FW Detected\n\[DEVICE\]        EOK\n)";
}

inline std::string settings(const std::string &version, const char *sleep, const char *noise,
                            const char *delay, const char *seq, const char *profiles,
                            const std::string &tail) {
  return version + "\nSettings:\n  sleep detection:  " + sleep + "\n  noise canceler:   " + noise +
         "\n  inter-key delay:  " + delay + "\n  seq. modifiers:   " + seq +
         "\n  state:            0\n  variant:          Zirko\n  builtin profiles: " + profiles +
         "\n" + tail;
}

inline const std::string kInBootloader =
    "the receiver is in its bootloader: run `zirko_util upgrade FILE`, or start zirko_gui to "
    "restore its firmware\n";

// In its bootloader the receiver has no firmware running, however it got there.
inline const std::string kStatusBoot = "Last upgrade attempt: Error: " + kInBootloader;

// A receiver running its firmware has no upgrade left unfinished.
inline const std::string kStatusOk = "Last upgrade attempt: OK (running firmware)\n";

// A command given words it would not use: nothing runs.
inline std::string extra(const std::string &cmd, const std::string &words) {
  return "[E] " + cmd + "(#): too many words: `" + words +
         "' would be ignored, so nothing was run; run each command on its own\n";
}

// ---- running the program ----

using Result = zk::test::ProgramOutput;
using zk::test::ReadFile;

// Starts the program in dir with its output going to files there (standard
// output to `out` when given).
inline pid_t spawn(const fs::path &program, const std::vector<std::string> &args,
                   const fs::path &dir, const char *out = "stdout") {
  std::vector<std::string> words = zk::test::CommandWords(program.string());
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (auto &w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    int o = open(out, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int e = open("stderr", O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (o < 0 || e < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0) _exit(127);
    std::string receivers = (dir / "receiver.state").string();
    for (int n = 2; fs::exists(dir / ("receiver-" + std::to_string(n) + ".state")); ++n)
      receivers += ":" + (dir / ("receiver-" + std::to_string(n) + ".state")).string();
    setenv("ZIRKO_VIRTUAL", receivers.c_str(), 1);
    setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);  // never the real home's history
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 0);  // the writer lock's file, unless a test shares one
    alarm(60);  // a hung run fails its case instead of the whole suite
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

inline Result finish(pid_t pid, const fs::path &dir, const char *out = "stdout") {
  Result r;
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return r;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  if (strcmp(out, "stdout") == 0) r.out = ReadFile(dir / "stdout");
  r.err = ReadFile(dir / "stderr");
  return r;
}

// Whether a started program has printed `text` to the file `out` in dir,
// within 10 s: a loaded machine may take seconds to start it.
inline bool printed(const fs::path &dir, const std::string &text, const char *out = "stdout") {
  for (int i = 0; i < 500; ++i) {
    if (ReadFile(dir / out).find(text) != std::string::npos) return true;
    usleep(20 * 1000);
  }
  return false;
}

inline Result run(const fs::path &program, const std::vector<std::string> &args,
                  const fs::path &dir) {
  return finish(spawn(program, args, dir), dir);
}

inline Result util(const std::vector<std::string> &args, const fs::path &dir) {
  return run(ZIRKO_UTIL_BIN, args, dir);
}

inline std::string without_lines(const std::string &log) {
  return std::regex_replace(log, std::regex(R"(\((\d+)\): )"), "(#): ");
}

// Each test gets a fresh directory: the state file, outputs, saved files.
class TempDir : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/zirko_util_e2e.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

class E2E : public TempDir, public testing::WithParamInterface<Scenario> {};

TEST_P(E2E, Runs) {
  const Scenario &sc = GetParam();
  std::ofstream(dir_ / "receiver.state") << sc.state;
  for (size_t i = 0; i < sc.others.size(); ++i)
    std::ofstream(dir_ / ("receiver-" + std::to_string(i + 2) + ".state")) << sc.others[i];
  // Firmware 3.9, 32 pages; and an image no bootloader takes (not whole pages).
  const auto image = zk::virt::make_image({{3, 9, {6, 1, 24}}, 0, 0x12345678}, 4096);
  std::ofstream(dir_ / "fw.bin", std::ios::binary)
      .write(reinterpret_cast<const char *>(image.data()), image.size());
  std::ofstream(dir_ / "bad.bin", std::ios::binary) << std::string(1000, 'x');
  const fs::path bin = ZIRKO_UTIL_BIN;
  for (const Step &step : sc.steps) {
    std::string shown = step.program;
    for (const auto &a : step.args) shown += " " + a;
    SCOPED_TRACE(shown);
    fs::path program =
        step.program == "zirko_util" ? bin : bin.parent_path() / "links" / step.program;
    Result r = run(program, step.args, dir_);
    if (step.out_is_regex)
      EXPECT_TRUE(std::regex_match(r.out, std::regex(step.out))) << r.out;
    else
      EXPECT_EQ(r.out, step.out);
    EXPECT_EQ(without_lines(r.err), step.err);
    EXPECT_EQ(r.status, step.status);
  }
}

// Each scenario's test is named after it.
inline std::string ScenarioName(const testing::TestParamInfo<Scenario> &info) {
  return info.param.name;
}

}  // namespace zk::e2e
