// Text assertions and log capture for the device library suites (they link
// GoogleTest without gmock).
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "captured_output.h"
#include "zirko.h"

namespace zk::test {

inline testing::AssertionResult Contains(const std::string &text, const std::string &part) {
  if (text.find(part) != std::string::npos) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "\"" << part << "\" not in:\n" << text;
}

inline testing::AssertionResult Lacks(const std::string &text, const std::string &part) {
  if (text.find(part) == std::string::npos) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "\"" << part << "\" unexpectedly in:\n" << text;
}

// Captures standard error at a raised log threshold until text() is taken;
// the default threshold (warnings) comes back with it.
class CapturedLog {
 public:
  explicit CapturedLog(int level = ZK_LOG_VERBOSE) { zk_set_log_level(level); }
  ~CapturedLog() { text(); }
  CapturedLog(const CapturedLog &) = delete;
  CapturedLog &operator=(const CapturedLog &) = delete;

  const std::string &text() {
    if (!taken_) {
      err_.text();
      zk_set_log_level(ZK_LOG_WARNING);
      taken_ = true;
    }
    return err_.text();
  }

 private:
  CapturedOutput err_{stderr};
  bool taken_ = false;
};

}  // namespace zk::test
