#include "commands.h"

#include <errno.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "console.h"
#include "json_output.h"

namespace {

int failures = 0;
bool json_mode = false;

}  // namespace

void print_program_version() {
  printf("zirko_util version %s [%s]\n", ZIRKO_UTIL_RELEASE, ZIRKO_UTIL_BUILD_TAG);
}

bool parse_int(const char *cmd_name, const char *text, int base, int *value) {
  char *end = nullptr;
  errno = 0;
  long v = strtol(text, &end, base);
  if (end == text || *end != '\0' || errno == ERANGE || v < INT_MIN || v > INT_MAX) {
    ZK_LOGE_AS(cmd_name, "invalid number: %s", text);
    return false;
  }
  *value = static_cast<int>(v);
  return true;
}

bool parse_in_range(const cmd_desc *cmd, const char *word, const char *what, int low, int high,
                    int *value) {
  if (!parse_int(cmd->name, word, 10, value)) return false;
  if (*value >= low && *value <= high) return true;
  ZK_LOGE_AS(cmd->name, "%s must be %d to %d: %s", what, low, high, word);
  return false;
}

bool read_failed(int code) {
  if (code == ZK_ERR_UNSUPPORTED) return false;
  ++failures;
  return true;
}

int device_failures() {
  return failures;
}

bool report_bootloader(int code) {
  if (code != ZK_ERR_UNSUPPORTED || zk_fw_state() != ZK_STATE_BOOTLOADER) return false;
  end_progress_line();
  fprintf(stderr, "Error: %s\n", kInBootloader);
  return true;
}

int device_failed(int code) {
  read_failed(code);
  if (json_mode) {
    print_json_error(zk_result_text(code), code);
    return CMD_FAILED;
  }
  if (report_bootloader(code)) return CMD_FAILED;
  end_progress_line();
  fprintf(stderr, "Error: %s (%d)\n", zk_result_text(code), code);
  return CMD_FAILED;
}

int file_failed(const char *path, int error) {
  return file_refused(path, strerror(error));
}

int file_refused(const char *path, const std::string &reason) {
  ++failures;
  end_progress_line();
  fprintf(stderr, "Error: %s: %s\n", path, reason.c_str());
  return CMD_FAILED;
}

std::string read_input_file(const char *path, long max_bytes, std::vector<unsigned char> &data) {
  unsigned char *bytes = nullptr;
  char reason[160] = "";
  const long length = zk_read_input_file(path, max_bytes, &bytes, reason, sizeof reason);
  if (length < 0) return reason;
  data.assign(bytes, bytes + length);
  free(bytes);
  return {};
}

void print_error(const char *format, ...) {
  end_progress_line();
  va_list args;
  va_start(args, format);
  vfprintf(stderr, format, args);
  va_end(args);
  fputc('\n', stderr);
}

int unrecognized(const cmd_desc *cmd) {
  fflush(stdout);
  fprintf(stderr, "unrecognized option\n");
  show_usage(cmd->name);
  return CMD_USAGE;
}

void set_json_output(bool on) {
  json_mode = on;
}

bool json_output() {
  return json_mode;
}

bool word_is(const char *word, const char *full, const char *short_form) {
  return strcmp(word, full) == 0 || (short_form && strcmp(word, short_form) == 0);
}

int read_text(const char *path, std::string &text) {
  constexpr size_t kLongest = 1 << 20;  // a map is small: anything beyond is not one
  FILE *file = strcmp(path, "-") == 0 ? stdin : fopen(path, "rb");
  if (!file) return errno;
  char chunk[4096];
  size_t n;
  while (text.size() <= kLongest && (n = fread(chunk, 1, sizeof chunk, file)) > 0)
    text.append(chunk, n);
  int error = ferror(file) ? (errno ? errno : EIO) : text.size() > kLongest ? EFBIG : 0;
  if (file != stdin) fclose(file);
  return error;
}
