#include "console.h"

#include <errno.h>
#include <stdio.h>
#include <unistd.h>

namespace {

char last_byte = '\n';
int first_error = 0;  // errno of the first write that failed

ssize_t write_stdout(void *, const char *data, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = write(STDOUT_FILENO, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (!first_error) first_error = errno;
      return done > 0 ? ssize_t(done) : -1;
    }
    done += size_t(n);
  }
  if (size > 0) last_byte = data[size - 1];
  return ssize_t(size);
}

}  // namespace

void track_stdout() {
  cookie_io_functions_t io = {nullptr, write_stdout, nullptr, nullptr};
  FILE *tracked = fopencookie(nullptr, "w", io);
  if (!tracked) return;  // untracked, a failure message may only overwrite a bar
  setvbuf(tracked, nullptr, isatty(STDOUT_FILENO) ? _IOLBF : _IOFBF, BUFSIZ);
  fflush(stdout);
  stdout = tracked;  // every printf of the program and the library now goes here
}

int close_stdout() {
  errno = 0;
  const bool failed = fflush(stdout) != 0 || ferror(stdout);
  int error = failed ? (first_error ? first_error : errno ? errno : EIO) : 0;
  if (fclose(stdout) != 0 && !error) error = errno ? errno : EIO;
  if (!error && close(STDOUT_FILENO) != 0 && errno != EBADF) error = errno;
  return error;
}

void end_progress_line() {
  fflush(stdout);
  if (last_byte != '\r') return;
  fputc('\n', stdout);
  fflush(stdout);
}
