// What every fuzz target shares: a way to report a broken invariant that
// survives libFuzzer's -close_fd_mask (which silences the library's own
// output), and scratch files of the process's own.
#pragma once

#include <unistd.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace zk::fuzz {

// Standard error as it was before main, before libFuzzer may discard fd 2.
inline FILE *const report_stream = [] {
  FILE *stream = fdopen(dup(2), "w");
  return stream ? stream : stderr;
}();

// Reports why the input is a finding and aborts, so that libFuzzer keeps it.
[[noreturn]] inline void fail(const char *format, ...) __attribute__((format(printf, 1, 2)));
inline void fail(const char *format, ...) {
  va_list args;
  va_start(args, format);
  std::fputs("==zirko-fuzz== ", report_stream);
  std::vfprintf(report_stream, format, args);
  std::fputc('\n', report_stream);
  va_end(args);
  std::fflush(report_stream);
  std::abort();
}

// Under -close_fd_mask the library's output goes nowhere; buffered, it costs
// no write per line. Run by hand, its lines show as they come.
inline void buffer_discarded_output(int argc, char **argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "-close_fd_mask=", 15) != 0) continue;
    std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
    std::setvbuf(stderr, nullptr, _IOFBF, 1 << 16);
  }
}

// A path in the temporary folder that no other process uses, removed at exit.
inline std::string scratch_path(const std::string &name) {
  static std::vector<std::string> paths;
  if (paths.empty())
    std::atexit([] {
      for (const std::string &path : paths) std::remove(path.c_str());
    });
  const char *dir = std::getenv("TMPDIR");
  paths.push_back(std::string(dir && *dir ? dir : "/tmp") + "/zirko-fuzz-" +
                  std::to_string(getpid()) + "-" + name);
  return paths.back();
}

// Writes the input to `path` whole; a failure here is the harness's, not a finding.
inline void write_file(const std::string &path, const uint8_t *data, size_t size) {
  FILE *file = std::fopen(path.c_str(), "wb");
  if (!file || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0)
    fail("cannot write the scratch file %s", path.c_str());
}

}  // namespace zk::fuzz
