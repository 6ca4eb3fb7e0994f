// Helpers shared by the device command modules.
#pragma once

#include <stdio.h>

#include <string>
#include <vector>

#include "cmd.h"

// Build identification printed by `version`; ZIRKO_VERSION is the project's.
constexpr const char *ZIRKO_UTIL_RELEASE = "v" ZIRKO_VERSION;
constexpr const char *ZIRKO_UTIL_BUILD_TAG = "v" ZIRKO_VERSION "-1-g3842eaf";

// "zirko_util version <release> [<build tag>]", the first line of `version`.
void print_program_version();

// Key names that the usage texts list but the key table spells otherwise:
// `record' takes both.
struct key_alias {
  const char *listed;
  const char *name;  // as in the key table
};
inline constexpr key_alias kKeyAliases[] = {
    {"printscreen", "print_screen"},
    {"fastforward", "fast_forward"},
};

// Reads a whole decimal (or, with base 16, hexadecimal) int; logs and returns
// false for anything else, so a typo never reaches the receiver as 0.
bool parse_int(const char *cmd_name, const char *text, int base, int *value);
// A whole decimal number from low to high, else false after saying what the
// valid range is ("<what> must be <low> to <high>: <word>") or that the word
// is no number: a usage error, found before the receiver is touched.
bool parse_in_range(const cmd_desc *cmd, const char *word, const char *what, int low, int high,
                    int *value);
// What a receiver in its bootloader needs, said wherever its firmware's
// operations are asked for.
inline constexpr const char *kInBootloader =
    "the receiver is in its bootloader: run `zirko_util upgrade FILE`, or start zirko_gui to "
    "restore its firmware";
// For an operation the receiver lacks (-12) because it runs its bootloader:
// says so on standard error and returns true.
bool report_bootloader(int code);
// One line on standard error saying why a device operation failed; returns
// CMD_FAILED for the handler to pass on.
int device_failed(int code);
// Counts a failed read (one the generation merely lacks does not count);
// true when it counts. Shown as "NA", a counted failure fails the command.
bool read_failed(int code);
// Device failures counted so far in this run; `settings` compares it before
// and after its parts.
int device_failures();
// One line on standard error naming the file and the system's reason for
// errno value `error`; returns CMD_FAILED.
int file_failed(const char *path, int error);
// The same with the reason as a text.
int file_refused(const char *path, const std::string &reason);
// A whole input file through the library's reader, which refuses a FIFO, a
// device or a file over max_bytes at once: empty, or why it was not read.
std::string read_input_file(const char *path, long max_bytes, std::vector<unsigned char> &data);
// A line on standard error (after what standard output holds so far): the
// diagnostics of the commands, never part of the data they print.
void print_error(const char *format, ...) __attribute__((format(printf, 1, 2)));
// The whole text of a file ("-": standard input), or the errno value that
// kept it from being read; more than a megabyte is refused with EFBIG.
int read_text(const char *path, std::string &text);
// "unrecognized option" and the command's help; returns CMD_USAGE.
int unrecognized(const cmd_desc *cmd);
// Set by `--json': the commands that offer it print a JSON object instead of
// their text, and device failures are reported as JSON on standard error.
void set_json_output(bool on);
bool json_output();

// Whether the word is the given word or its short form.
bool word_is(const char *word, const char *full, const char *short_form = nullptr);

// The receivers on the bus, in bus order; with details, each one's version,
// variant and buttons are read (nothing is written). Empty when the bus
// cannot be scanned.
std::vector<zk_receiver> list_receivers(bool details);
// One line each, as `list' prints them: index, bus position, mode and
// version, variant, buttons recorded and free.
void print_receivers(FILE *out, const std::vector<zk_receiver> &found, const char *indent);
