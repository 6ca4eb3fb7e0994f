// Text assertions and log capture for the device library suites (they link
// GoogleTest without gmock).
#pragma once

#include <gtest/gtest.h>

#include <string>

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
  explicit CapturedLog(int level = ZK_LOG_VERBOSE) {
    zk_set_log_level(level);
    testing::internal::CaptureStderr();
  }
  ~CapturedLog() { text(); }
  CapturedLog(const CapturedLog &) = delete;
  CapturedLog &operator=(const CapturedLog &) = delete;

  const std::string &text() {
    if (!taken_) {
      text_ = testing::internal::GetCapturedStderr();
      zk_set_log_level(ZK_LOG_WARNING);
      taken_ = true;
    }
    return text_;
  }

 private:
  bool taken_ = false;
  std::string text_;
};

}  // namespace zk::test
