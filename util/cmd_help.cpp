// The built-in `help` command: the command list, or one command's usage.
#include <stdio.h>
#include <string.h>

#include <string>

#include "cmd.h"

namespace {

constexpr int kNameWidth = 14;  // summaries start in column 18

void print_command_list() {
  printf("Commands:\n");
  const cmd_node *head = cmd_list();
  for (const cmd_node *n = head->next; n != head; n = n->next) {
    int pad = kNameWidth - static_cast<int>(strlen(n->desc->name));
    printf("  %s %*s%s\n", n->desc->name, pad > 0 ? pad : 0, "", n->desc->summary);
  }
}

// Names in a 19-character column ("-c, --name", "-c" or "--name", followed by
// the value's name when the option takes one), then the description.
void print_options(FILE *out, const cmd_option *options) {
  fprintf(out, "OPTIONS:\n");
  for (const cmd_option *opt = options; opt->key; ++opt) {
    std::string names;
    if (opt->short_name) names += std::string("-") + opt->short_name;
    if (opt->short_name && opt->long_name) names += ", ";
    if (opt->long_name) names += std::string("--") + opt->long_name;
    if (names.empty()) {
      fprintf(out, "    %s\n", opt->description);
      continue;
    }
    if (opt->value_name) names += std::string(" ") + opt->value_name;
    fprintf(out, "  %-19s  %s\n", names.c_str(), opt->description);
  }
}

void print_usage_of(FILE *out, const cmd_desc *target) {
  fprintf(out, "Help for `%s' command:\n%s\n", target->name, target->usage);
  if (target->options) print_options(out, target->options);
}

int help(int argc, char **argv, const cmd_desc *cmd, void *, dict *) {
  if (argc == 0) {
    print_command_list();
    return 0;
  }
  const cmd_desc *target = find_cmd(argv[0]);
  if (!target) {
    ZK_LOGE_AS("help", "%s: command `%s' not found.", cmd->name, argv[0]);
    return -1;
  }
  print_usage_of(stdout, target);
  return argc;
}

const cmd_desc kHelp[] = {
    {"help",
     help,
     "Show this help. Also try `help <command>`",
     "usage: help [command]\n"
     "  `help' with no arguments will show a list of all commands.\n"
     "  `help <command>' will show a detailed help for `command'",
     nullptr,
     {0, 1, CMD_ENDS_LINE, CMD_COMPLETE_COMMANDS},
     CMD_NO_RECEIVER | CMD_NO_CHOICE},
};
const bool registered = register_cmds(kHelp, 1);

}  // namespace

void show_usage(const char *name) {
  fflush(stdout);
  if (const cmd_desc *cmd = find_cmd(name)) print_usage_of(stderr, cmd);
}
