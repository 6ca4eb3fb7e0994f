// Writes the registered command names, one a line, for the build to make the
// multi-call links from: the registry is the only list of commands.
// Run at build time: command_names <output>.
#include <stdio.h>

#include "cmd.h"

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s <output file>\n", argv[0]);
    return 2;
  }
  FILE *out = fopen(argv[1], "w");
  if (!out) {
    perror(argv[1]);
    return 1;
  }
  const cmd_node *head = cmd_list();
  for (const cmd_node *n = head->next; n != head; n = n->next) fprintf(out, "%s\n", n->desc->name);
  return fclose(out) == 0 ? 0 : 1;
}
