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
