// A bus with one receiver whose state lives in a file, shared with every
// other program (and every other bus) that names the same file.
#pragma once

#include <memory>
#include <string>

#include "bus.h"
#include "shared_state_file.h"

namespace zk::virt {

class StateFileBus {
 public:
  // Creates the file with a default receiver when missing. A path that is
  // or leads to anything but a regular file is refused on stderr and
  // leaves the bus without a receiver; a malformed file is reported
  // ("<path>:<line>: ...") and keeps the receiver off the bus, unwritten,
  // until it is mended.
  explicit StateFileBus(const std::string &path);
  Bus &bus() { return bus_; }
  // Null when the path was refused.
  Receiver *receiver() { return receiver_; }
  // False when the path was refused or the file could not be used the last
  // time the receiver looked at it.
  bool usable() const { return file_ && file_->usable(); }

 private:
  std::unique_ptr<SharedStateFile> file_;
  Bus bus_;
  Receiver *receiver_ = nullptr;
};

}  // namespace zk::virt
