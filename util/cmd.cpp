#include "cmd.h"

#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

namespace {

// Constructed on first use: registrations run from other files' static
// initialisers, whose order relative to ours is unspecified.
cmd_node &list_head() {
  static cmd_node head = {&head, &head, nullptr};
  return head;
}

const cmd_option kHelpOption = {CMD_HELP_KEY, "show this help", 'h', "help"};

bool matches(const cmd_option &opt, char short_name, const char *long_name) {
  if (short_name) return opt.short_name == short_name;
  return opt.long_name && strcmp(opt.long_name, long_name) == 0;
}

// The command's option with that short (or, when 0, long) name; the common
// help option when its table has none.
const cmd_option *find_option(const cmd_desc *cmd, char short_name, const char *long_name) {
  for (const cmd_option *opt = cmd->options; opt && opt->key; ++opt)
    if (matches(*opt, short_name, long_name)) return opt;
  return matches(kHelpOption, short_name, long_name) ? &kHelpOption : nullptr;
}

void store(dict *opts, const cmd_option *opt, const char *value) {
  if (value)
    dict_set(opts, opt->key, value, strlen(value) + 1);
  else
    dict_set(opts, opt->key, nullptr, 0);
}

// What option parsing met besides the options it stored.
struct opt_problems {
  bool quiet;
  int unknown = 0;  // options the command does not take
  int invalid = 0;  // a value missing
};

// An option that takes a value came without one; named as typed ("-t",
// "--timeout") in an error of the command.
void value_missing(const cmd_desc *cmd, const std::string &typed, const cmd_option *opt,
                   opt_problems &problems) {
  ++problems.invalid;
  if (!problems.quiet)
    ZK_LOGE_AS(cmd->name, "option '%s' needs a value (%s)", typed.c_str(), opt->value_name);
}

// Each returns the number of words it took after its own (a value), 0 or 1.
int handle_longopt(const cmd_desc *cmd, const char *word, const char *next, dict *opts,
                   opt_problems &problems) {
  char *copy = strdup(word);
  if (!copy) {
    ZK_LOGE("%s", strerror(errno));
    return 0;
  }
  char *value = strchr(copy, '=');
  if (value) *value++ = '\0';
  int taken = 0;
  if (const cmd_option *opt = find_option(cmd, 0, copy + 2)) {
    const char *stored = value;
    if (opt->value_name && !value && next) {
      stored = next;
      taken = 1;
    }
    if (opt->value_name && (!stored || !*stored))
      value_missing(cmd, copy, opt, problems);
    else
      store(opts, opt, stored);
  } else {
    if (!problems.quiet) ZK_LOGW("`%s' doesn not take '%s' option", cmd->name, copy);
    ++problems.unknown;
  }
  free(copy);
  return taken;
}

int handle_shortopt(const cmd_desc *cmd, const char *word, const char *next, dict *opts,
                    opt_problems &problems) {
  for (const char *c = word + 1; *c; ++c) {
    const cmd_option *opt = find_option(cmd, *c, nullptr);
    if (!opt) {
      if (!problems.quiet) ZK_LOGW("`%s' doesn not take '-%c' option", cmd->name, *c);
      ++problems.unknown;
    } else if (!opt->value_name) {
      store(opts, opt, nullptr);
    } else if (c[1]) {  // -t30: the rest of the word is the value
      store(opts, opt, c + 1);
      return 0;
    } else if (next) {
      store(opts, opt, next);
      return 1;
    } else {
      value_missing(cmd, std::string("-") + *c, opt, problems);
      return 0;
    }
  }
  return 0;
}

}  // namespace

void register_cmd(const cmd_desc *cmd) {
  cmd_node &head = list_head();
  cmd_node *at = head.next;
  while (at != &head && strcmp(at->desc->name, cmd->name) < 0) at = at->next;
  // Registration happens before main: running out of memory there leaves
  // nothing sensible to do but go on without the command.
  cmd_node *node = static_cast<cmd_node *>(malloc(sizeof(cmd_node)));
  if (!node) return;
  *node = {at, at->prev, cmd};
  at->prev->next = node;
  at->prev = node;
}

bool register_cmds(const cmd_desc *cmds, int count) {
  for (int i = 0; i < count; ++i) register_cmd(&cmds[i]);
  return true;
}

const cmd_node *cmd_list() {
  return &list_head();
}

const cmd_desc *find_cmd(const char *name) {
  const cmd_node *head = cmd_list();
  for (const cmd_node *n = head->next; n != head; n = n->next)
    if (strcmp(n->desc->name, name) == 0) return n->desc;
  return nullptr;
}

dict *cmd_getopt(const cmd_desc *cmd, int argc, char **argv, int &index, int *unknown, bool quiet,
                 int *invalid) {
  dict *opts = new_dict();
  if (!opts) return nullptr;
  opt_problems problems{quiet};
  for (; index < argc && argv[index][0] == '-'; ++index) {
    const char *word = argv[index];
    if (strlen(word) < 2) {
      ZK_LOGV("single -, stopping");
      break;
    }
    if (strcmp(word, "--") == 0) {  // what follows are words, whatever they look like
      ++index;
      break;
    }
    // No option is a digit: "-1" is a number for the command to judge.
    if (isdigit(static_cast<unsigned char>(word[1]))) break;
    ZK_LOGV("opt: %s, carg = %d", word, index);
    const char *next = index + 1 < argc ? argv[index + 1] : nullptr;
    if (word[1] == '-')
      index += handle_longopt(cmd, word, next, opts, problems);
    else
      index += handle_shortopt(cmd, word, next, opts, problems);
  }
  if (unknown) *unknown = problems.unknown;
  if (invalid) *invalid = problems.invalid;
  return opts;
}

void show_help(const char *name) {
  char line[64];
  snprintf(line, sizeof line, "help %s", name);
  run_cmd_line(line, nullptr);
}

namespace {

constexpr int kHelpShown = 1;  // a step's verdict besides 0 and the failure codes

// One command of a line, ready to run.
struct cmd_step {
  const cmd_desc *cmd = nullptr;
  dict *opts = nullptr;
  int args = 0;   // index of its first argument
  int next = -1;  // where the next command starts; -1 when its handler decides
};

bool writes(const cmd_desc *cmd, int given) {
  return (cmd->flags & CMD_WRITES) || ((cmd->flags & CMD_WRITES_WITH_ARGS) && given > 0);
}

bool is_help_word(const char *word) {
  return strcmp(word, "-h") == 0 || strcmp(word, "--help") == 0;
}

bool enough_args(const cmd_desc *cmd, int given) {
  if (given >= cmd->args.min) return true;
  ZK_LOGE("Not Enough Arguments");
  show_usage(cmd->name);
  return false;
}

// Words after those a command uses: a trailing -h or --help asks for its
// help; anything else would be dropped, so the line is refused.
int refuse_extra_words(const cmd_desc *cmd, int argc, char **argv, int from) {
  std::string extra;
  for (int i = from; i < argc; ++i) {
    if (is_help_word(argv[i])) {
      show_help(cmd->name);
      return kHelpShown;
    }
    extra += (extra.empty() ? "" : " ") + std::string(argv[i]);
  }
  ZK_LOGE_AS(cmd->name,
             "too many words: `%s' would be ignored, so nothing was run; run each command on "
             "its own",
             extra.c_str());
  return CMD_EINVAL;
}

// Checks the words of a command whose options are parsed: 0, kHelpShown or
// CMD_EINVAL. Alone, it is the only command of its line.
int check_words(const cmd_desc *cmd, int argc, char **argv, int unknown, int invalid, bool alone,
                const cmd_hooks *hooks, cmd_step &step) {
  if (dict_has(step.opts, CMD_HELP_KEY)) {
    show_help(cmd->name);
    return kHelpShown;
  }
  if (invalid > 0) return CMD_EINVAL;  // said which option
  const int given = argc - step.args;
  if (hooks && hooks->allowed && !hooks->allowed(cmd, writes(cmd, given))) return CMD_EINVAL;
  if (unknown > 0 && writes(cmd, given)) {  // the warnings above said which
    show_usage(cmd->name);
    return CMD_EINVAL;
  }
  const cmd_args &args = cmd->args;
  if (args.max < 0) return 0;
  if (!enough_args(cmd, given)) return CMD_EINVAL;
  const int used = given < args.max ? given : args.max;
  const bool chains =
      !alone && (args.chain == CMD_CHAINS || (args.chain == CMD_CHAINS_BARE && used == 0));
  step.next = chains ? step.args + used : argc;
  if (chains || used == given) return 0;
  return refuse_extra_words(cmd, argc, argv, step.args + used);
}

// Looks the command up, parses its options from argv[index] on and checks its
// words: 0 with the step filled in, kHelpShown, CMD_EINVAL, CMD_ENOSYS or
// CMD_ENOMEM (the last two logged as `caller`). Quiet leaves out the option
// warnings, given already when the line was checked.
int prepare(const char *caller, const char *name, int argc, char **argv, int index, bool quiet,
            bool alone, const cmd_hooks *hooks, cmd_step &step) {
  const cmd_desc *cmd = find_cmd(name);
  if (!cmd) {
    ZK_LOGE_AS(caller, "could not find command '%s'", name);
    return CMD_ENOSYS;
  }
  int unknown = 0, invalid = 0;
  dict *opts = cmd_getopt(cmd, argc, argv, index, &unknown, quiet, &invalid);
  if (!opts) {
    ZK_LOGE_AS(caller, "could not create option dictionary");
    return CMD_ENOMEM;
  }
  step = {cmd, opts, index, -1};
  int rc = check_words(cmd, argc, argv, unknown, invalid, alone, hooks, step);
  if (rc != 0) delete_dict(opts);
  return rc;
}

// Checks a chain before anything runs, as far as its commands declare their
// words; stops quietly at an unknown name, reported once the run reaches it.
// 0 with `checked` set past the last command checked, kHelpShown, or a failure.
int check_line(int argc, char **argv, const cmd_hooks *hooks, int &checked, int *failed_at) {
  int at = 0;
  checked = 0;
  while (at < argc && find_cmd(argv[at])) {
    cmd_step step;
    int rc = prepare(__func__, argv[at], argc, argv, at + 1, false, false, hooks, step);
    if (rc != 0) {
      if (failed_at) *failed_at = at;
      return rc;
    }
    delete_dict(step.opts);
    checked = at + 1;
    if (step.next < 0) break;
    at = step.next;
  }
  return 0;
}

// Runs a prepared step and releases its options; the handler's result.
int run_step(const char *caller, const cmd_step &step, void *appdata, int argc, char **argv) {
  ZK_LOGV_AS(caller, "running command: %s", step.cmd->name);
  int used = step.cmd->handler(argc - step.args, argv + step.args, step.cmd, appdata, step.opts);
  delete_dict(step.opts);
  return used;
}

}  // namespace

int run_cmds(int argc, char **argv, void *appdata, int *failed_at, const cmd_hooks *hooks) {
  int checked = 0;
  int rc = check_line(argc, argv, hooks, checked, failed_at);
  int cursor = 0;
  while (rc == 0 && cursor < argc) {
    if (failed_at) *failed_at = cursor;
    cmd_step step;
    rc = prepare(__func__, argv[cursor], argc, argv, cursor + 1, cursor < checked, false, hooks,
                 step);
    if (rc != 0) break;
    if (cursor == 0 && hooks && hooks->ready && !hooks->ready(step.cmd)) {
      delete_dict(step.opts);
      return CMD_ENODEV;
    }
    int used = run_step(__func__, step, appdata, argc, argv);
    if (used == CMD_USAGE) return CMD_EINVAL;
    if (used < 0) return step.args;
    // A count beyond the words given simply ends the chain.
    cursor = used > argc - step.args ? argc : step.args + used;
  }
  if (rc != 0 && rc != kHelpShown) return rc;
  if (failed_at) *failed_at = -1;
  return 0;
}

int run_cmd(const char *name, int argc, char **argv, void *appdata, const cmd_hooks *hooks) {
  cmd_step step;
  int rc = prepare(__func__, name, argc, argv, 0, false, true, hooks, step);
  if (rc == kHelpShown) return 0;
  if (rc == CMD_EINVAL) return 2;
  if (rc != 0) return rc;
  if (hooks && hooks->ready && !hooks->ready(step.cmd)) {
    delete_dict(step.opts);
    return CMD_ENODEV;
  }
  int used = run_step(__func__, step, appdata, argc, argv);
  return used == CMD_USAGE ? 2 : used < 0 ? 1 : 0;
}

int tokenize_cmd_string(char *buffer, char **words, int max_words) {
  int count = 0;
  bool open = false;
  char *out = buffer;  // words are compacted in place as escapes shrink them
  for (char *in = buffer; *in; ++in) {
    char c = *in;
    if (!open && c != ' ' && c != '\t') {
      if (count == max_words - 1) {
        // The last word keeps the rest of the line exactly as typed.
        words[count++] = out;
        memmove(out, in, strlen(in) + 1);
        words[count] = nullptr;
        return count;
      }
      words[count++] = out;
      open = true;
    }
    if (c == ' ' || c == '\t') {
      if (open) *out++ = '\0';
      open = false;
    } else if (c == '\\' && in[1] != '\0') {
      char next = *++in;
      if (next != ' ' && next != '\t' && next != '\\') {
        ZK_LOGW("invalid escape character: %c", next);
        *out++ = '\\';
      }
      *out++ = next;
    } else {
      *out++ = c;
    }
  }
  *out = '\0';
  words[count] = nullptr;
  return count;
}

int run_cmd_line(const char *text, void *appdata) {
  size_t length = strlen(text);
  char *copy = static_cast<char *>(malloc(length + 1));
  if (!copy) {
    ZK_LOGE("could not allocate command line buffer");
    return CMD_ENOMEM;
  }
  memcpy(copy, text, length + 1);
  char **words = static_cast<char **>(calloc(CMD_MAX_WORDS + 1, sizeof(char *)));
  if (!words) {
    ZK_LOGE("could not allocate argv");
    free(copy);
    return CMD_ENOMEM;
  }
  int count = tokenize_cmd_string(copy, words, CMD_MAX_WORDS);
  int result = CMD_EINVAL;
  if (count == 0)
    ZK_LOGE("command line empty");
  else
    result = run_cmd(words[0], count - 1, words + 1, appdata);
  free(words);
  free(copy);
  return result;
}
