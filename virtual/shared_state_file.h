// One receiver shared by every program that names the same state file.
//
// Each step of the receiver (a transfer, a press, a look at it) holds an
// advisory lock on "<state file>.lock", re-reads the state file when its
// text changed, and writes it back (a sibling renamed over it) when the step
// changed it. The receiver's running state (on the bus or not, the button it
// waits for, its outcome) lives in the lock file itself: it is what the
// receiver's RAM would hold, and no person edits it.
#pragma once

#include <optional>
#include <string>

#include "receiver.h"

namespace zk::virt {

// The file a state path names: symbolic links are followed to their end (a
// missing end is where the file will be created). Empty, with `problem`
// set, when the path is or leads to anything but a regular file.
std::string resolve_state_path(const std::string &path, std::string *problem);

class SharedStateFile : public SharedState {
 public:
  // `path` as resolve_state_path gave it. Problems are reported on stderr
  // as "zirko virtual: ...", each once while it lasts.
  explicit SharedStateFile(std::string path);
  ~SharedStateFile() override;
  SharedStateFile(const SharedStateFile &) = delete;
  SharedStateFile &operator=(const SharedStateFile &) = delete;

  // Writes a default receiver when the file does not exist yet.
  void create_if_missing();
  // Whether the file could be used at the last load.
  bool usable() const { return usable_; }
  const std::string &path() const { return path_; }

  bool lock_and_load(ReceiverState &state, RunState &run) override;
  void store_and_unlock(const ReceiverState &state, const RunState &run) override;

 private:
  void lock();
  void unlock();
  bool load_state(ReceiverState &state);
  void load_run(RunState &run);
  void store_state(const ReceiverState &state);
  void store_run(const RunState &run);
  void report(const std::string &problem);

  std::string path_;
  int lock_fd_ = -1;
  bool usable_ = false;
  // The state file's text as last read or written (nothing before the first
  // read and while the file is missing), and what it holds (nothing while
  // it is malformed).
  std::optional<std::string> text_;
  std::optional<ReceiverState> state_;
  std::string run_text_;
  RunState run_;
  std::string problem_;  // the one reported last
};

// The running state as the lock file holds it, one "name value" line each;
// nothing for a text that is not one.
std::string format_run(const RunState &run);
std::optional<RunState> parse_run(const std::string &text);

}  // namespace zk::virt
