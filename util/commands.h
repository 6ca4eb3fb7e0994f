// Helpers shared by the device command modules.
#pragma once

#include "cmd.h"

// Build identification printed by `version`.
constexpr const char *ZIRKO_UTIL_RELEASE = "v1.4.4";
constexpr const char *ZIRKO_UTIL_BUILD_TAG = "v1.4.4-1-g3842eaf";

// Every registered command reports failure to the runner with this value.
constexpr int CMD_FAILED = -1;

// Logs the missing-argument error and shows the command's help. Returns true
// when at least `needed` arguments are present.
bool enough_args(const cmd_desc *cmd, int argc, int needed);
// Shows `help <name>` exactly as the help command does.
void show_help(const char *name);
// Reads a whole decimal (or, with base 16, hexadecimal) int; logs and returns
// false for anything else, so a typo never reaches the receiver as 0.
bool parse_int(const char *cmd_name, const char *text, int base, int *value);
// One line on standard output saying why a device operation failed; returns
// CMD_FAILED for the handler to pass on.
int device_failed(int code);
// Whether argv[0] is the given word or its short form.
bool word_is(const char *word, const char *full, const char *short_form = nullptr);
