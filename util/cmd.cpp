#include "cmd.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

namespace {

// Constructed on first use: registrations run from other files' static
// initialisers, whose order relative to ours is unspecified.
cmd_node &list_head() {
  static cmd_node head = {&head, &head, nullptr};
  return head;
}

void handle_longopt(const cmd_desc *cmd, const char *word, dict *opts) {
  char *copy = strdup(word);
  if (!copy) {
    CMD_LOGE("%s", strerror(errno));
    return;
  }
  char *value = strchr(copy, '=');
  if (value) *value++ = '\0';
  const char *name = copy + 2;
  for (const cmd_option *opt = cmd->options; opt && opt->key; ++opt) {
    if (!opt->long_name || strcmp(opt->long_name, name) != 0) continue;
    if (value)
      dict_set(opts, opt->key, value, strlen(value) + 1);
    else
      dict_set(opts, opt->key, nullptr, 0);
    free(copy);
    return;
  }
  CMD_LOGW("`%s' doesn not take '%s' option", cmd->name, copy);
  free(copy);
}

void handle_shortopt(const cmd_desc *cmd, const char *word, dict *opts) {
  for (const char *c = word + 1; *c; ++c) {
    const cmd_option *opt = cmd->options;
    while (opt && opt->key && opt->short_name != *c) ++opt;
    if (opt && opt->key)
      dict_set(opts, opt->key, nullptr, 0);
    else
      CMD_LOGW("`%s' doesn not take '-%c' option", cmd->name, *c);
  }
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

dict *cmd_getopt(const cmd_desc *cmd, int argc, char **argv, int &index) {
  dict *opts = new_dict();
  if (!opts) return nullptr;
  for (; index < argc && argv[index][0] == '-'; ++index) {
    const char *word = argv[index];
    if (strlen(word) < 2) {
      CMD_LOGV("single -, stopping");
      break;
    }
    CMD_LOGV("opt: %s, carg = %d", word, index);
    if (word[1] == '-')
      handle_longopt(cmd, word, opts);
    else
      handle_shortopt(cmd, word, opts);
  }
  return opts;
}

namespace {

// Looks the command up, parses its options from argv[index] on (advancing
// index past them) and runs its handler on the words after them, putting the
// handler's result in `used`. 0, CMD_ENOSYS or CMD_ENOMEM, logged as `caller`.
int run_named(const char *caller, const char *name, int argc, char **argv, int &index,
              void *appdata, int &used) {
  const cmd_desc *cmd = find_cmd(name);
  if (!cmd) {
    CMD_LOG_AS(1, "E", caller, "could not find command '%s'", name);
    return CMD_ENOSYS;
  }
  CMD_LOG_AS(5, "V", caller, "running command: %s", cmd->name);
  dict *opts = cmd_getopt(cmd, argc, argv, index);
  if (!opts) {
    CMD_LOG_AS(1, "E", caller, "could not create option dictionary");
    return CMD_ENOMEM;
  }
  used = cmd->handler(argc - index, argv + index, cmd, appdata, opts);
  delete_dict(opts);
  return 0;
}

}  // namespace

int run_cmds(int argc, char **argv, void *appdata, int *failed_at) {
  int cursor = 0;
  while (cursor < argc) {
    if (failed_at) *failed_at = cursor;
    int index = cursor + 1;
    int used = 0;
    int rc = run_named(__func__, argv[cursor], argc, argv, index, appdata, used);
    if (rc < 0) return rc;
    if (used < 0) return index;
    // A count beyond the words given simply ends the chain.
    cursor = used > argc - index ? argc : index + used;
  }
  if (failed_at) *failed_at = -1;
  return 0;
}

int run_cmd(const char *name, int argc, char **argv, void *appdata) {
  int index = 0;
  int used = 0;
  int rc = run_named(__func__, name, argc, argv, index, appdata, used);
  if (rc < 0) return rc;
  return used < 0 ? 1 : 0;
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
        CMD_LOGW("invalid escape character: %c", next);
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
    CMD_LOGE("could not allocate command line buffer");
    return CMD_ENOMEM;
  }
  memcpy(copy, text, length + 1);
  char **words = static_cast<char **>(calloc(CMD_MAX_WORDS + 1, sizeof(char *)));
  if (!words) {
    CMD_LOGE("could not allocate argv");
    free(copy);
    return CMD_ENOMEM;
  }
  int count = tokenize_cmd_string(copy, words, CMD_MAX_WORDS);
  int result = CMD_EINVAL;
  if (count == 0)
    CMD_LOGE("command line empty");
  else
    result = run_cmd(words[0], count - 1, words + 1, appdata);
  free(words);
  free(copy);
  return result;
}
