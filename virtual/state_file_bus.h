// A bus with one receiver whose state lives in a file, so that separate
// runs of the programs meet one consistent receiver.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "bus.h"

namespace zk::virt {

class StateFileBus {
 public:
  // Loads `path`, creating it with a default receiver when missing. A
  // malformed file is reported on stderr ("<path>:<line>: ...") and leaves
  // the bus without a receiver; such a file is never overwritten.
  explicit StateFileBus(std::string path);
  Bus &bus() { return bus_; }
  // Writes the receiver's state (nothing while the file is malformed).
  void save();
  // Re-reads the file when it changed since it was last read or written.
  void reload();

 private:
  bool load(const std::string &text);

  std::mutex mu_;
  Bus bus_;
  std::string path_;
  Receiver *receiver_ = nullptr;
  bool valid_ = false;
  std::string last_text_;  // file contents as last read or written
};

}  // namespace zk::virt
