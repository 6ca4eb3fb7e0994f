// Command framework of zirko_util: the sorted registry of commands, option
// parsing, the runners that execute one command or a chain of them, and the
// tokenizer used when a command runs another command line.
#pragma once

#include "option_dict.h"
#include "zirko.h"

// Failure codes of the runners (negated errno numbers).
constexpr int CMD_ENOMEM = -12;
constexpr int CMD_ENODEV = -19;  // the line needs a receiver and the caller has none
constexpr int CMD_EINVAL = -22;  // empty command line, or a usage error (already explained)
constexpr int CMD_ENOSYS = -38;  // no such command

// Handler results besides the consumed word count.
constexpr int CMD_FAILED = -1;  // the device operation failed (exit status 1)
constexpr int CMD_USAGE = -2;   // wrong words or options, already explained (exit status 2)

// Words kept by the tokenizer: the last one runs to the end of the line.
constexpr int CMD_MAX_WORDS = 63;

struct cmd_desc;

// Returns the number of argv words consumed (0 or more), or a negative value
// when the command failed. opts is owned by the framework.
typedef int (*cmd_handler)(int argc, char **argv, const cmd_desc *cmd, void *appdata, dict *opts);

struct cmd_option {
  const char *key;          // key stored in the option dictionary; null ends a table
  const char *description;  // shown by `help <command>`
  char short_name;          // -c, or 0
  const char *long_name;    // --name[=value], or null
  // Null for a flag. Otherwise the option takes a value, named so in the help:
  // -c VALUE, -cVALUE, --name VALUE or --name=VALUE.
  const char *value_name = nullptr;
};

// Every command takes -h and --help (unless its own table claims them): the
// command's help is shown and nothing runs. Stored under this key.
constexpr const char *CMD_HELP_KEY = "help";

// Where the next command of a line starts once a command has taken its words.
enum cmd_chain {
  CMD_ENDS_LINE,    // no command may follow: further words would be ignored, so they are refused
  CMD_CHAINS,       // the next command starts after the words it uses
  CMD_CHAINS_BARE,  // as CMD_CHAINS when given no argument, else as CMD_ENDS_LINE
};

// The words a command takes after its options, checked before any command of
// the line runs. A maximum below 0 leaves the words to the handler unchecked.
struct cmd_args {
  int min = 0;  // fewer: "Not Enough Arguments" and the usage
  int max = -1;
  cmd_chain chain = CMD_ENDS_LINE;
  // What a shell offers for the first argument: words separated by spaces, or
  // one of the CMD_COMPLETE_ classes below; null for nothing.
  const char *complete = nullptr;
};
constexpr const char *CMD_COMPLETE_KEYS = "<keys>";
constexpr const char *CMD_COMPLETE_CONFIGS = "<zcfg>";
constexpr const char *CMD_COMPLETE_FILES = "<files>";
constexpr const char *CMD_COMPLETE_COMMANDS = "<commands>";

// cmd_desc flags.
constexpr unsigned CMD_WRITES = 1u << 0;            // changes the receiver or its mode
constexpr unsigned CMD_WRITES_WITH_ARGS = 1u << 1;  // changes the receiver when given an argument
constexpr unsigned CMD_NO_RECEIVER = 1u << 2;       // may run with no receiver attached
constexpr unsigned CMD_JSON = 1u << 3;              // prints one JSON object under --json
constexpr unsigned CMD_NO_CHOICE = 1u << 4;         // acts on no one receiver: needs no --device

struct cmd_desc {
  const char *name;
  cmd_handler handler;
  const char *summary;        // one line in the command list
  const char *usage;          // shown by `help <command>`
  const cmd_option *options;  // null when the command takes none
  cmd_args args = {};
  unsigned flags = 0;  // CMD_WRITES...; a writing command refuses options it does not take
};

// Registry node: a circular doubly linked list around a sentinel head, kept
// in ascending byte order of the names.
struct cmd_node {
  cmd_node *next;
  cmd_node *prev;
  const cmd_desc *desc;  // null in the head
};

// Inserts a descriptor in name order; called from static initialisers.
void register_cmd(const cmd_desc *cmd);
// Registers a whole table; returns true so it can seed a static variable.
bool register_cmds(const cmd_desc *cmds, int count);
// The sentinel head; walk head->next until it comes back to the head.
const cmd_node *cmd_list();
const cmd_desc *find_cmd(const char *name);

// Parses the options at argv[index] onward and moves index past them; a word
// `--' ends them and is passed over. Options the command does not take are
// warned about (unless quiet) and counted in *unknown when given; an option
// missing its value is an error (unless quiet) counted in *invalid.
dict *cmd_getopt(const cmd_desc *cmd, int argc, char **argv, int &index, int *unknown = nullptr,
                 bool quiet = false, int *invalid = nullptr);

// What the program adds to the checks of a line it runs; each hook is
// optional and says itself why it refuses.
struct cmd_hooks {
  // Asked for every command of the line while the line is checked, with
  // whether it changes the receiver given its words; false refuses the line
  // as a usage error.
  bool (*allowed)(const cmd_desc *cmd, bool changes) = nullptr;
  // Called once the line has been checked, before its first command runs;
  // false stops the run with CMD_ENODEV.
  bool (*ready)(const cmd_desc *first) = nullptr;
};

// 0 when the handler succeeded (or help was shown), 1 when it failed, 2 on a
// usage error; CMD_ENOMEM, CMD_ENOSYS or CMD_ENODEV. Words the command does
// not use are refused as a usage error.
int run_cmd(const char *name, int argc, char **argv, void *appdata,
            const cmd_hooks *hooks = nullptr);
// 0 when the whole chain ran (or help was shown); CMD_EINVAL on a usage error;
// CMD_ENOSYS, CMD_ENOMEM or CMD_ENODEV; else the (positive) index of the first
// word after the failed command's options. The line is checked before any
// command runs, as far as the commands declare their words. failed_at, when
// given, receives the position of the command word where the chain stopped.
int run_cmds(int argc, char **argv, void *appdata, int *failed_at = nullptr,
             const cmd_hooks *hooks = nullptr);
// Runs one line of text as a command; run_cmd's result, CMD_ENOMEM, or
// CMD_EINVAL when the line holds no word.
int run_cmd_line(const char *text, void *appdata);

// Shows `help <name>` exactly as the help command does.
void show_help(const char *name);
// The same text on standard error: the usage shown after a usage error,
// which must never land in a data stream.
void show_usage(const char *name);

// Splits buffer in place into at most max_words words (see run_cmd_line);
// words[count] is set to null, so words needs max_words + 1 slots.
int tokenize_cmd_string(char *buffer, char **words, int max_words);
