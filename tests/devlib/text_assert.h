// Text assertions for captured output (the suites link GoogleTest without gmock).
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace zk::test {

inline testing::AssertionResult Contains(const std::string &text, const std::string &part) {
  if (text.find(part) != std::string::npos) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "\"" << part << "\" not in:\n" << text;
}

inline testing::AssertionResult Lacks(const std::string &text, const std::string &part) {
  if (text.find(part) == std::string::npos) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "\"" << part << "\" unexpectedly in:\n" << text;
}

}  // namespace zk::test
