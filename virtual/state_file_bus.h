// A bus of receivers whose states live in files, each shared with every
// other program (and every other bus) that names the same file.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "bus.h"
#include "shared_state_file.h"

namespace zk::virt {

// The state files a ZIRKO_VIRTUAL value names: separated by ':', empty
// names left out.
std::vector<std::string> split_state_paths(const std::string &text);

class StateFileBus {
 public:
  // One receiver per file, on the bus in this order (ports 1, 2...). A file
  // is created with a default receiver when missing. A path that is or
  // leads to anything but a regular file, or to a file named before, is
  // refused on stderr and leaves its port empty; a malformed file is
  // reported ("<path>:<line>: ...") and keeps its receiver off the bus,
  // unwritten, until it is mended.
  explicit StateFileBus(const std::vector<std::string> &paths);
  // One receiver, kept in `path` exactly as given (a ':' in it is no
  // separator).
  explicit StateFileBus(const std::string &path) : StateFileBus(std::vector<std::string>{path}) {}
  Bus &bus() { return bus_; }
  // The receiver of the i-th path; null when that path was refused.
  Receiver *receiver(size_t i = 0) { return i < receivers_.size() ? receivers_[i] : nullptr; }
  size_t size() const { return receivers_.size(); }
  // False when a path was refused or its file could not be used the last
  // time its receiver looked at it.
  bool usable() const;

 private:
  Receiver *add(const std::string &path);

  std::vector<std::unique_ptr<SharedStateFile>> files_;  // outlive the bus's receivers
  Bus bus_;
  std::vector<Receiver *> receivers_;
};

}  // namespace zk::virt
