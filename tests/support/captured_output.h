// What the code under test prints: one standard stream (stdout or stderr)
// goes to a temporary file from construction until text() is first taken,
// then comes back. It works on the file descriptor, so output written by C
// stdio, iostreams and plain write() is all caught, and it restores the
// stream even when the code reopened it onto a file of its own. Plain C++,
// so that the GoogleTest and the Qt Test suites share it.
//
//   zk::test::CapturedOutput out(stdout);
//   EXPECT_EQ(zk_display_config(), 0);
//   EXPECT_EQ(out.text(), "No Keys Found\n");
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace zk::test {

class CapturedOutput {
 public:
  explicit CapturedOutput(FILE *stream) : stream_(stream), file_(std::tmpfile()) {
    if (!file_) {
      std::perror("CapturedOutput: tmpfile");
      std::abort();
    }
    std::fflush(stream_);
    saved_ = dup(fileno(stream_));
    dup2(fileno(file_), fileno(stream_));
  }
  ~CapturedOutput() { text(); }
  CapturedOutput(const CapturedOutput &) = delete;
  CapturedOutput &operator=(const CapturedOutput &) = delete;

  // Everything written to the stream while it was captured; the first call
  // ends the capture.
  const std::string &text() {
    if (saved_ >= 0) restore();
    return text_;
  }

 private:
  void restore() {
    std::fflush(stream_);
    dup2(saved_, fileno(stream_));
    close(saved_);
    saved_ = -1;
    std::clearerr(stream_);
    std::rewind(file_);
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, file_)) > 0;) text_.append(buf, n);
    std::fclose(file_);
  }

  FILE *stream_;
  FILE *file_;
  int saved_ = -1;
  std::string text_;
};

}  // namespace zk::test
