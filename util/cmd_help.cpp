// The built-in `help` command: the command list, or one command's usage.
#include <stdio.h>
#include <string.h>

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

void print_options(const cmd_option *options) {
  printf("OPTIONS:\n");
  for (const cmd_option *opt = options; opt->key; ++opt) {
    printf("  ");
    if (opt->short_name && opt->long_name)
      printf("-%c, --%-13s", opt->short_name, opt->long_name);
    else if (opt->short_name)
      printf("-%c%17s", opt->short_name, "");
    else if (opt->long_name)
      printf("--%-17s", opt->long_name);
    printf("  %s\n", opt->description);
  }
}

int help(int argc, char **argv, const cmd_desc *cmd, void *, dict *) {
  if (argc == 0) {
    print_command_list();
    return 0;
  }
  const cmd_desc *target = find_cmd(argv[0]);
  if (!target) {
    CMD_LOG_AS(1, "E", "help", "%s: command `%s' not found.", cmd->name, argv[0]);
    return -1;
  }
  printf("Help for `%s' command:\n%s\n", target->name, target->usage);
  if (target->options) print_options(target->options);
  return argc;
}

const cmd_desc kHelp[] = {
    {"help", help, "Show this help. Also try `help <command>`",
     "usage: help [command]\n"
     "  `help' with no arguments will show a list of all commands.\n"
     "  `help <command>' will show a detailed help for `command'",
     nullptr},
};
const bool registered = register_cmds(kHelp, 1);

}  // namespace
