// What a program run by a test left behind: its two output files and its
// exit status.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace zk::test {

struct ProgramOutput {
  std::string out, err;
  int status = -1;
};

// A whole file as bytes; empty when it cannot be read.
inline std::string ReadFile(const std::filesystem::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace zk::test
