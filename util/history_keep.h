// What the commands that change the receiver share: its configuration kept
// in the history before the first change of a run, and stopping cleanly on
// SIGINT, SIGTERM or SIGHUP.
#pragma once

#include <string>
#include <vector>

// --no-history: change the receiver even when its configuration cannot be
// kept.
void set_history_kept(bool on);
bool history_kept();

// Keeps the receiver's configuration before the first change of this run,
// under `change` (the command and its words). image: the caller's own read of
// it, so that it is not read twice; null reads it here. False after saying
// on standard error why nothing may change: the caller fails.
bool keep_before_change(const char *change, const std::vector<unsigned char> *image = nullptr);
// A new command line: its first change is kept again. The program runs one
// line; a caller running several calls this between them.
void history_new_line();
// The command's name and words as a history entry names the change.
std::string change_name(const char *command, int argc, char **argv);

// Installs the handlers: a signal while an operation is guarded asks the
// library to stop at its next safe point; at any other time it ends the
// program as it would have.
void install_stop_handlers();
// While alive, a signal stops the operation instead of the program.
class StopGuard {
 public:
  StopGuard();
  ~StopGuard();
  StopGuard(const StopGuard &) = delete;
  StopGuard &operator=(const StopGuard &) = delete;
};
// The signal that stopped an operation, or 0.
int stop_signal();
// What an interrupted image write tells the user: where the configuration
// from before is. Returns CMD_FAILED.
int report_stopped_write();
// A bulk write that failed: stopped, or cut off part way, with where the
// configuration from before is. Returns CMD_FAILED.
int write_failed(int code);
