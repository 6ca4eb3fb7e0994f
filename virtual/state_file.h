// The receiver's state as a text file a person can read and edit:
// `key = value` lines, `#` comment lines, `press = <hash>` lines (queued
// button presses, in order), and memory as hex rows of up to 16 bytes:
// `eeprom 03F0: FF FF ...` and `flash 00000: ...`.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "receiver_state.h"

namespace zk::virt {

struct StateFileError {
  int line = 0;  // 1-based
  std::string message;
};

// One `key = value` key of the file. Reading and writing both go through the
// table of them, so that no key is read but never written, or the reverse.
struct StateKey {
  const char *name;
  const char *comment;   // `#` lines written above the key, or null
  const char *expected;  // what a bad value is told it should have been
  // Takes the value into the state; false when it is bad.
  bool (*parse)(const std::string &value, ReceiverState &state);
  // One line's value each; a repeated key writes as many as the state holds.
  std::vector<std::string> (*values)(const ReceiverState &state);
};
// Every key, in the order the file is written.
std::span<const StateKey> state_keys();

std::string format_state(const ReceiverState &state);
// A number as the file writes them: decimal, or hexadecimal after 0x; the
// whole text must be the number, at most `max`.
std::optional<uint64_t> parse_number(const std::string &text, uint64_t max);
// Keys left out keep their defaults. On failure returns nothing and tells
// which line is wrong.
std::optional<ReceiverState> parse_state(const std::string &text, StateFileError *error);

// Whole-file helpers. Reading gives nothing, with errno set, for a missing
// file, one that is not a regular file (EISDIR; ENODEV for a device, FIFO or
// socket, which is never waited on), or one larger than any state (EFBIG).
std::optional<std::string> read_text_file(const std::string &path);
// Writes a sibling temporary file and renames it over `path`, keeping the
// permissions of the file it replaces, so that no reader (and no program
// dying meanwhile) ever leaves half a state. False (and errno) on failure.
bool write_file_atomically(const std::string &path, const std::string &text);

}  // namespace zk::virt
