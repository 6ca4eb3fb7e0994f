// What a program run by a test left behind: its two output files and its
// exit status.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

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

// The words that start a program. A cross build's own programs (those under
// ZIRKO_TEST_BINARY_DIR) run through its emulator, ZIRKO_TEST_EMULATOR, since
// the kernel can't start them; others, a shell for example, run as they are.
inline std::vector<std::string> CommandWords(const std::string &program) {
  std::vector<std::string> words;
#ifdef ZIRKO_TEST_EMULATOR
  if (program.rfind(ZIRKO_TEST_BINARY_DIR "/", 0) == 0) {
    std::istringstream emulator(ZIRKO_TEST_EMULATOR);
    for (std::string word; emulator >> word;) words.push_back(word);
  }
#endif
  words.push_back(program);
  return words;
}

}  // namespace zk::test
