// The receiver's state as a text file a person can read and edit:
// `key = value` lines, `#` comment lines, `press = <hash>` lines (queued
// button presses, in order), and memory as hex rows of up to 16 bytes:
// `eeprom 03F0: FF FF ...` and `flash 00000: ...`.
#pragma once

#include <optional>
#include <string>

#include "receiver_state.h"

namespace zk::virt {

struct StateFileError {
  int line = 0;  // 1-based
  std::string message;
};

std::string format_state(const ReceiverState &state);
// Keys left out keep their defaults. On failure returns nothing and tells
// which line is wrong.
std::optional<ReceiverState> parse_state(const std::string &text, StateFileError *error);

// Whole-file helpers. Reading a missing file returns nothing with line 0.
std::optional<std::string> read_text_file(const std::string &path);
// Writes a sibling temporary file and renames it over `path`, so that a
// reader never sees half a state. False (and errno) on failure.
bool write_file_atomically(const std::string &path, const std::string &text);

}  // namespace zk::virt
