#include "commands.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const char *failure_text(int code) {
  switch (code) {
    case -12:
      return "not supported by this receiver";
    case -16:
      return "USB transfer failed";
    case -19:
      return "receiver not usable";
    case -8:
      return "invalid value";
    default:
      return "device operation failed";
  }
}

}  // namespace

void show_help(const char *name) {
  char line[64];
  snprintf(line, sizeof line, "help %s", name);
  run_cmd_line(line, nullptr);
}

bool enough_args(const cmd_desc *cmd, int argc, int needed) {
  if (argc >= needed) return true;
  CMD_LOGE("Not Enough Arguments");
  show_help(cmd->name);
  return false;
}

bool parse_int(const char *cmd_name, const char *text, int base, int *value) {
  char *end = nullptr;
  errno = 0;
  long v = strtol(text, &end, base);
  if (end == text || *end != '\0' || errno == ERANGE || v < INT_MIN || v > INT_MAX) {
    CMD_LOG_AS(1, "E", cmd_name, "invalid number: %s", text);
    return false;
  }
  *value = static_cast<int>(v);
  return true;
}

int device_failed(int code) {
  printf("Error: %s (%d)\n", failure_text(code), code);
  return CMD_FAILED;
}

bool word_is(const char *word, const char *full, const char *short_form) {
  return strcmp(word, full) == 0 || (short_form && strcmp(word, short_form) == 0);
}
