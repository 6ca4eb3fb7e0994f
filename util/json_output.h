// Output for scripts: under `--json', `version', `status', `space', `keys',
// `settings' and `list' give one JSON value each, printed once the line has
// run (a chain prints one array of them), and a failure as
// {"error": "...", "code": N} on standard error. The field names are
// documented in the README and the man page.
#pragma once

#include <nlohmann/json.hpp>
#include <vector>

#include "zirko.h"

// What a command prints under --json: its object, or the library's code for
// the read that failed (then the object is not printed).
struct json_result {
  nlohmann::ordered_json object;  // fields in their documented order
  int failure = 0;
};

json_result version_json();
json_result status_json();
json_result space_json();
json_result keys_json();
json_result settings_json();
// An array of the receivers as `list' shows them.
json_result receivers_json(const std::vector<zk_receiver> &found);

// Keeps the object for the end of the line, or prints the failure; the
// handler's result: `consumed`, or CMD_FAILED.
int print_json(const json_result &result, int consumed);
// Prints what the line's commands kept, when the line succeeded: one object
// alone, several as one array in the order the commands ran.
void finish_json_output(bool succeeded);
// {"error": text, "code": code} on standard error.
void print_json_error(const char *text, int code);
