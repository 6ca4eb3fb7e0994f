// Output for scripts: under `--json', `version', `status', `space', `keys' and
// `settings' print one JSON object each on a line of its own, and a failure
// as {"error": "...", "code": N} on standard error. The field names are
// documented in the README and the man page.
#pragma once

#include <nlohmann/json.hpp>

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

// Prints the object, or the failure; the handler's result: `consumed`, or
// CMD_FAILED.
int print_json(const json_result &result, int consumed);
// {"error": text, "code": code} on standard error.
void print_json_error(const char *text, int code);
