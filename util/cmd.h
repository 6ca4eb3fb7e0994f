// Command framework of zirko_util: the sorted registry of commands, option
// parsing, the runners that execute one command or a chain of them, and the
// tokenizer used when a command runs another command line.
#pragma once

#include "option_dict.h"
#include "zirko.h"

// Log line prefix "[L] function(line): " under an explicit function name, for
// handlers whose lines carry the name the user knows rather than ours.
#define CMD_LOG_AS(level, letter, fn, fmt, ...) \
  zk_log(level, "[" letter "] %s(%d): " fmt "\n", fn, __LINE__ __VA_OPT__(, ) __VA_ARGS__)
#define CMD_LOGE(fmt, ...) CMD_LOG_AS(1, "E", __func__, fmt __VA_OPT__(, ) __VA_ARGS__)
#define CMD_LOGW(fmt, ...) CMD_LOG_AS(2, "W", __func__, fmt __VA_OPT__(, ) __VA_ARGS__)
#define CMD_LOGV(fmt, ...) CMD_LOG_AS(5, "V", __func__, fmt __VA_OPT__(, ) __VA_ARGS__)

// Failure codes of the runners (negated errno numbers).
constexpr int CMD_ENOMEM = -12;
constexpr int CMD_EINVAL = -22;  // empty command line
constexpr int CMD_ENOSYS = -38;  // no such command

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
};

struct cmd_desc {
  const char *name;
  cmd_handler handler;
  const char *summary;        // one line in the command list
  const char *usage;          // shown by `help <command>`
  const cmd_option *options;  // null when the command takes none
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

// Parses the options at argv[index] onward and moves index past them.
dict *cmd_getopt(const cmd_desc *cmd, int argc, char **argv, int &index);

// 0 when the handler succeeded, 1 when it failed, CMD_ENOMEM or CMD_ENOSYS.
int run_cmd(const char *name, int argc, char **argv, void *appdata);
// 0 when the whole chain ran; CMD_ENOSYS or CMD_ENOMEM; else the (positive)
// index of the first word after the failed command's options. failed_at, when
// given, receives the position of the command word where the chain stopped.
int run_cmds(int argc, char **argv, void *appdata, int *failed_at = nullptr);
// Runs one line of text as a command; run_cmd's result, CMD_ENOMEM, or
// CMD_EINVAL when the line holds no word.
int run_cmd_line(const char *text, void *appdata);

// Splits buffer in place into at most max_words words (see run_cmd_line);
// words[count] is set to null, so words needs max_words + 1 slots.
int tokenize_cmd_string(char *buffer, char **words, int max_words);
