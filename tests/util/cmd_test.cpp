// Command framework: registry order, option parsing, chaining, the line
// tokenizer and help formatting, exercised through small test commands.
#include "cmd.h"

#include <gtest/gtest.h>
#include <string.h>

#include <regex>
#include <string>
#include <vector>

#include "captured_output.h"

namespace {

// What the last test command saw, and how many words it will claim.
struct Call {
  std::string name;
  std::vector<std::string> args;
  std::string color;  // value of the color option, if given
  bool verbose = false;
  std::string wait;  // value of the wait option, if given
};
std::vector<Call> calls;
int consume = 0;

int record_call(int argc, char **argv, const cmd_desc *cmd, void *, dict *opts) {
  Call c{cmd->name, {argv, argv + argc}, "", dict_has(opts, "verbose") != 0, ""};
  if (const char *color = static_cast<const char *>(dict_get(opts, "color", nullptr)))
    c.color = color;
  uint32_t length = 0;
  if (const char *wait = static_cast<const char *>(dict_get(opts, "wait", &length)))
    c.wait = length ? wait : "(none)";
  calls.push_back(c);
  return consume;
}

int fail(int, char **, const cmd_desc *cmd, void *, dict *) {
  calls.push_back({cmd->name, {}, "", false, ""});
  return -1;
}

const cmd_option kOptions[] = {
    {"verbose", "talk more", 'v', "verbose"},
    {"color", "pick a color", 0, "color"},
    {"quiet", "talk less", 'q', nullptr},
    {nullptr, nullptr, 0, nullptr},
};

const cmd_option kWaitOption[] = {
    {"wait", "how long", 'w', "wait", "SECONDS"},
    {nullptr, nullptr, 0, nullptr},
};

// Registered in reverse order: the registry must sort them.
const cmd_desc kTestCmds[] = {
    {"tst_write", record_call, "writes", "usage: tst_write", kWaitOption, {1, 1}, CMD_WRITES},
    {"tst_chain", record_call, "chains", "usage: tst_chain", nullptr, {0, 1, CMD_CHAINS}},
    {"tst_opts", record_call, "takes options", "usage: tst_opts", kOptions},
    {"tst_fail", fail, "always fails", "usage: tst_fail", nullptr},
    {"tst_b", record_call, "second", "usage: tst_b", nullptr},
    {"tst_a", record_call, "first", "usage: tst_a", nullptr},
    {"tst_a_very_long_name", record_call, "long", "usage: long", nullptr},
};
const bool registered = register_cmds(kTestCmds, sizeof kTestCmds / sizeof kTestCmds[0]);

class Framework : public testing::Test {
 protected:
  void SetUp() override {
    calls.clear();
    consume = 0;
  }
};

// Words as argv: run_cmds takes mutable words, as main's are.
struct Words {
  explicit Words(std::vector<std::string> w) : storage(std::move(w)) {
    for (auto &s : storage) ptrs.push_back(s.data());
    ptrs.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(storage.size()); }
  char **argv() { return ptrs.data(); }
  std::vector<std::string> storage;
  std::vector<char *> ptrs;
};

// Log lines carry source line numbers, which tests should not pin.
std::string without_lines(const std::string &log) {
  return std::regex_replace(log, std::regex(R"(\((\d+)\): )"), "(#): ");
}

std::vector<std::string> tokenize(std::string line) {
  std::vector<char> buffer(line.begin(), line.end());
  buffer.push_back('\0');
  char *words[CMD_MAX_WORDS + 1];
  int n = tokenize_cmd_string(buffer.data(), words, CMD_MAX_WORDS);
  EXPECT_EQ(words[n], nullptr);
  return {words, words + n};
}

TEST_F(Framework, RegistryIsInByteOrderWhateverTheRegistrationOrder) {
  ASSERT_TRUE(registered);
  std::vector<std::string> names;
  const cmd_node *head = cmd_list();
  for (const cmd_node *n = head->next; n != head; n = n->next) {
    EXPECT_EQ(n->next->prev, n);
    names.push_back(n->desc->name);
  }
  ASSERT_GE(names.size(), 32u);  // 25 commands and ours
  for (size_t i = 1; i < names.size(); ++i) EXPECT_LT(names[i - 1], names[i]);
  EXPECT_EQ(find_cmd("tst_a")->summary, std::string("first"));
  EXPECT_EQ(find_cmd("TST_A"), nullptr);
  EXPECT_EQ(find_cmd("tst"), nullptr);
}

TEST_F(Framework, TokenizerSplitsOnRunsOfSpacesAndTabs) {
  EXPECT_EQ(tokenize("  one \t two\t\tthree  "), (std::vector<std::string>{"one", "two", "three"}));
  EXPECT_EQ(tokenize("\"quoted words\""), (std::vector<std::string>{"\"quoted", "words\""}));
}

TEST_F(Framework, TokenizerEscapes) {
  zk::test::CapturedOutput err(stderr);
  EXPECT_EQ(tokenize(R"(my\ file a\\b \	tab end\)"),
            (std::vector<std::string>{"my file", "a\\b", "\ttab", "end\\"}));
  EXPECT_EQ(err.text(), "");

  zk::test::CapturedOutput warning(stderr);
  EXPECT_EQ(tokenize(R"(x\ny)"), (std::vector<std::string>{"x\\ny"}));
  EXPECT_EQ(without_lines(warning.text()),
            "[W] tokenize_cmd_string(#): invalid escape character: n\n");
}

TEST_F(Framework, TokenizerKeepsTheRestOfALongLineInItsLastWord) {
  std::string line;
  for (int i = 0; i < 70; ++i) line += "w" + std::to_string(i) + (i == 65 ? "\\x  " : " ");
  std::vector<std::string> words = tokenize(line);
  ASSERT_EQ(words.size(), 63u);
  EXPECT_EQ(words[61], "w61");
  EXPECT_EQ(words[62], line.substr(line.find("w62")));
}

TEST_F(Framework, EmptyLineIsRejected) {
  zk::test::CapturedOutput err(stderr);
  EXPECT_EQ(run_cmd_line(" \t  ", nullptr), CMD_EINVAL);
  EXPECT_EQ(without_lines(err.text()), "[E] run_cmd_line(#): command line empty\n");
  EXPECT_TRUE(calls.empty());
}

TEST_F(Framework, RunCmdLinePassesEscapedWords) {
  EXPECT_EQ(run_cmd_line("tst_a one\\ two three", nullptr), 0);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].args, (std::vector<std::string>{"one two", "three"}));
  EXPECT_EQ(run_cmd_line("tst_fail", nullptr), 1);
  zk::test::CapturedOutput err(stderr);
  EXPECT_EQ(run_cmd_line("nosuch", nullptr), CMD_ENOSYS);
  EXPECT_EQ(without_lines(err.text()), "[E] run_cmd(#): could not find command 'nosuch'\n");
}

TEST_F(Framework, UnknownOptionsAreReportedAndDropped) {
  consume = 2;
  Words w({"tst_a", "-x", "--foo=bar", "--", "100", "-y"});
  zk::test::CapturedOutput err(stderr);
  EXPECT_EQ(run_cmds(w.argc(), w.argv(), nullptr), 0);
  EXPECT_EQ(without_lines(err.text()),
            "[W] handle_shortopt(#): `tst_a' doesn not take '-x' option\n"
            "[W] handle_longopt(#): `tst_a' doesn not take '--foo' option\n");
  ASSERT_EQ(calls.size(), 1u);
  // Options end at `--' or the first other word; later dashes reach the handler.
  EXPECT_EQ(calls[0].args, (std::vector<std::string>{"100", "-y"}));
}

TEST_F(Framework, KnownOptionsReachTheHandler) {
  consume = 2;
  Words w({"tst_opts", "-qv", "--color=red", "--color=blue=ish", "-", "--verbose"});
  zk::test::CapturedOutput err(stderr);
  EXPECT_EQ(run_cmds(w.argc(), w.argv(), nullptr), 0);
  EXPECT_EQ(err.text(), "");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_TRUE(calls[0].verbose);
  EXPECT_EQ(calls[0].color, "blue=ish");  // the later value wins
  EXPECT_EQ(calls[0].args, (std::vector<std::string>{"-", "--verbose"}));
}

TEST_F(Framework, OptionValueIsStoredWithItsTerminator) {
  Words w({"--color=red", "--verbose", "x"});
  int index = 0;
  dict *opts = cmd_getopt(find_cmd("tst_opts"), w.argc(), w.argv(), index);
  ASSERT_NE(opts, nullptr);
  EXPECT_EQ(index, 2);
  uint32_t length = 99;
  EXPECT_STREQ(static_cast<const char *>(dict_get(opts, "color", &length)), "red");
  EXPECT_EQ(length, 4u);
  ASSERT_NE(dict_get(opts, "verbose", &length), nullptr);
  EXPECT_EQ(length, 0u);
  delete_dict(opts);
}

TEST_F(Framework, ChainFollowsConsumedWordCounts) {
  consume = 1;
  Words w({"tst_a", "x", "tst_b", "y"});
  EXPECT_EQ(run_cmds(w.argc(), w.argv(), nullptr), 0);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].name, "tst_b");
  EXPECT_EQ(calls[1].args, (std::vector<std::string>{"y"}));

  // Claiming the word that follows keeps it from running as a command.
  calls.clear();
  consume = 2;
  Words v({"tst_a", "x", "tst_b"});
  EXPECT_EQ(run_cmds(v.argc(), v.argv(), nullptr), 0);
  EXPECT_EQ(calls.size(), 1u);

  // A claim beyond the words given ends the chain.
  calls.clear();
  consume = 50;
  EXPECT_EQ(run_cmds(v.argc(), v.argv(), nullptr), 0);
  EXPECT_EQ(calls.size(), 1u);
  EXPECT_EQ(run_cmds(0, v.argv(), nullptr), 0);
}

TEST_F(Framework, FailedChainReportsWhereItStopped) {
  Words w({"tst_a", "tst_opts", "-v", "tst_fail", "-q", "tst_a"});
  int failed_at = -5;
  zk::test::CapturedOutput err(stderr);
  EXPECT_EQ(run_cmds(w.argc(), w.argv(), nullptr, &failed_at), 5);
  err.text();
  EXPECT_EQ(failed_at, 3);
  ASSERT_EQ(calls.size(), 3u);  // the last tst_a never runs

  Words m({"tst_a", "nosuch", "tst_a"});
  zk::test::CapturedOutput missing(stderr);
  EXPECT_EQ(run_cmds(m.argc(), m.argv(), nullptr, &failed_at), CMD_ENOSYS);
  EXPECT_EQ(without_lines(missing.text()), "[E] run_cmds(#): could not find command 'nosuch'\n");
  EXPECT_EQ(failed_at, 1);
}

TEST_F(Framework, HelpListAlignsSummariesAtColumn18) {
  zk::test::CapturedOutput printed(stdout);
  EXPECT_EQ(run_cmd_line("help", nullptr), 0);
  std::string out = printed.text();
  EXPECT_EQ(out.substr(0, 10), "Commands:\n");
  EXPECT_NE(out.find("\n  tst_a          first\n  tst_a_very_long_name long\n  tst_b          "
                     "second\n"),
            std::string::npos);
  EXPECT_NE(out.find("\n  interkey_delay set the interkey delay\n"), std::string::npos);
}

TEST_F(Framework, HelpForOneCommand) {
  zk::test::CapturedOutput out(stdout);
  Words w({"help", "tst_opts"});
  EXPECT_EQ(run_cmds(w.argc(), w.argv(), nullptr), 0);
  EXPECT_EQ(out.text(),
            "Help for `tst_opts' command:\nusage: tst_opts\n"
            "OPTIONS:\n"
            "  -v, --verbose        talk more\n"
            "  --color              pick a color\n"
            "  -q                   talk less\n");
  EXPECT_TRUE(calls.empty());

  Words m({"help", "nosuch"});
  zk::test::CapturedOutput err(stderr);
  EXPECT_EQ(run_cmds(m.argc(), m.argv(), nullptr), 1);
  EXPECT_EQ(without_lines(err.text()), "[E] help(#): help: command `nosuch' not found.\n");
  EXPECT_TRUE(calls.empty());
}

TEST_F(Framework, OptionValuesFollowTheOptionOrJoinIt) {
  consume = 1;
  for (const auto &words : std::vector<std::vector<std::string>>{{"tst_write", "-w", "5", "x"},
                                                                 {"tst_write", "-w5", "x"},
                                                                 {"tst_write", "--wait", "5", "x"},
                                                                 {"tst_write", "--wait=5", "x"}}) {
    calls.clear();
    Words w(words);
    EXPECT_EQ(run_cmds(w.argc(), w.argv(), nullptr), 0) << words[1];
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].wait, "5") << words[1];
    EXPECT_EQ(calls[0].args, (std::vector<std::string>{"x"}));
  }
  calls.clear();
  Words missing({"tst_write", "x", "-w"});  // after the argument: not an option
  zk::test::CapturedOutput err(stderr);
  EXPECT_EQ(run_cmds(missing.argc(), missing.argv(), nullptr), CMD_EINVAL);
  err.text();
  EXPECT_TRUE(calls.empty());
  // A value left out is named as typed, never taken for missing arguments.
  for (const auto &[words, typed] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"tst_write", "-w"}, "-w"},
           {{"tst_write", "--wait"}, "--wait"},
           {{"tst_write", "--wait=", "x"}, "--wait"}}) {
    Words w(words);
    zk::test::CapturedOutput log(stderr);
    EXPECT_EQ(run_cmds(w.argc(), w.argv(), nullptr), CMD_EINVAL) << typed;
    EXPECT_EQ(without_lines(log.text()),
              "[E] tst_write(#): option '" + typed + "' needs a value (SECONDS)\n");
    EXPECT_TRUE(calls.empty());
  }
}

// Nothing of a line runs when any of its commands is asked for help, lacks
// words, would drop words, or is a writing command given an unknown option.
// Asked for, the help is the output; after a mistake it is a diagnostic.
TEST_F(Framework, LineIsCheckedBeforeAnythingRuns) {
  const std::string kWriteUsage =
      "Help for `tst_write' command:\nusage: tst_write\nOPTIONS:\n  -w, --wait SECONDS   how "
      "long\n";
  struct Case {
    std::vector<std::string> words;
    int result;
    std::string out_start;  // of standard output
    std::string err;
  } cases[] = {
      {{"tst_chain", "x", "tst_write", "--help"}, 0, "Help for `tst_write' command:", ""},
      {{"tst_chain", "x", "tst_write", "-xh"},
       0,
       "Help for `tst_write' command:",
       "[W] handle_shortopt(#): `tst_write' doesn not take '-x' option\n"},
      {{"tst_chain", "x", "tst_write", "x", "-h"}, 0, "Help for `tst_write' command:", ""},
      {{"tst_chain", "x", "tst_write"},
       CMD_EINVAL,
       "",
       "[E] enough_args(#): Not Enough Arguments\n" + kWriteUsage},
      {{"tst_chain", "x", "tst_write", "x", "tst_a"},
       CMD_EINVAL,
       "",
       "[E] tst_write(#): too many words: `tst_a' would be ignored, so nothing was run; run each "
       "command on its own\n"},
      {{"tst_chain", "x", "tst_write", "-q", "x"},
       CMD_EINVAL,
       "",
       "[W] handle_shortopt(#): `tst_write' doesn not take '-q' option\n" + kWriteUsage},
  };
  for (const Case &c : cases) {
    calls.clear();
    Words w(c.words);
    zk::test::CapturedOutput out(stdout);
    zk::test::CapturedOutput err(stderr);
    EXPECT_EQ(run_cmds(w.argc(), w.argv(), nullptr), c.result) << c.words.back();
    EXPECT_EQ(out.text().substr(0, c.out_start.size()), c.out_start);
    EXPECT_EQ(without_lines(err.text()), c.err);
    EXPECT_TRUE(calls.empty()) << c.words.back();
  }
}

TEST_F(Framework, DeclaredChainsGoOnAfterTheWordsUsed) {
  consume = 1;
  Words w({"tst_chain", "x", "tst_write", "y"});
  EXPECT_EQ(run_cmds(w.argc(), w.argv(), nullptr), 0);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].name, "tst_write");

  // Alone (a command link), words a command does not use are refused.
  calls.clear();
  zk::test::CapturedOutput err(stderr);
  EXPECT_EQ(run_cmd("tst_chain", 2, w.argv() + 1, nullptr), 2);
  err.text();
  EXPECT_TRUE(calls.empty());
}

const cmd_desc *ready_for = nullptr;
bool refuse(const cmd_desc *first) {
  ready_for = first;
  return false;
}

TEST_F(Framework, ReadyHookStopsTheLineBeforeItsFirstCommand) {
  Words w({"tst_chain", "tst_a"});
  const cmd_hooks hooks{nullptr, refuse};
  EXPECT_EQ(run_cmds(w.argc(), w.argv(), nullptr, nullptr, &hooks), CMD_ENODEV);
  EXPECT_EQ(ready_for, find_cmd("tst_chain"));
  EXPECT_EQ(run_cmd("tst_a", 0, w.argv(), nullptr, &hooks), CMD_ENODEV);
  EXPECT_TRUE(calls.empty());
}

}  // namespace
