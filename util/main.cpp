// zirko_util: opens the receiver once and runs the commands named by the
// arguments, or, started through a link named after a command, that command.
#include <libgen.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "cmd.h"
#include "commands.h"
#include "console.h"
#include "history_keep.h"
#include "json_output.h"

namespace {

// Exit statuses besides 0.
constexpr int kFailed = 1;  // a device operation failed, or no receiver
constexpr int kUsage = 2;   // missing, extra or invalid words or options

struct appdata_priv {
  int reserved;  // commands receive the record but none reads it yet
};
appdata_priv appdata;

int opened = -1;  // the result of opening the receiver at the start

void init_appdata_priv(appdata_priv *data) {
  CMD_LOGV("initializing application data: %p", static_cast<void *>(data));
}

// Reports a failure of the whole line on standard error: as JSON under
// --json, else as a line.
void line_failed(const std::string &text, int code) {
  if (json_output())
    print_json_error(text.c_str(), code);
  else
    print_error("%s", text.c_str());
}

// Stops a checked line whose first command needs the receiver we have not.
bool receiver_ready(const cmd_desc *first) {
  if (opened >= 0 || (first->flags & CMD_NO_RECEIVER)) return true;
  line_failed("device disconnected, can't run command", CMD_ENODEV);
  return false;
}

// Under --json a script reads standard output: a command that would print
// text there is refused before anything runs.
bool json_allowed(const cmd_desc *cmd) {
  if (cmd->flags & CMD_JSON) return true;
  print_json_error(("`" + std::string(cmd->name) + "' has no JSON output").c_str(), CMD_EINVAL);
  return false;
}

struct program_options {
  bool help = false;
  bool version = false;
  bool json = false;
  bool no_history = false;
  int verbose = 0;
};

// Reads the program's own options, in front of the first command; the index
// of the first other word, or -1 after reporting a word that is none of them.
int read_program_options(int argc, char **argv, program_options &options) {
  int i = 1;
  for (; i < argc && argv[i][0] == '-' && argv[i][1] != '\0'; ++i) {
    const char *word = argv[i];
    if (strcmp(word, "--help") == 0) {
      options.help = true;
    } else if (strcmp(word, "--version") == 0) {
      options.version = true;
    } else if (strcmp(word, "--json") == 0) {
      options.json = true;
    } else if (strcmp(word, "--no-history") == 0) {
      options.no_history = true;
    } else if (strcmp(word, "--verbose") == 0) {
      ++options.verbose;
    } else if (word[1] != '-' && word[1 + strspn(word + 1, "hv")] == '\0') {
      for (const char *c = word + 1; *c; ++c) {
        if (*c == 'h')
          options.help = true;
        else
          ++options.verbose;
      }
    } else {
      CMD_LOGE("unknown option '%s'; see `zirko_util --help'", word);
      return -1;
    }
  }
  return i;
}

void print_usage() {
  printf(
      "usage: zirko_util [-v|--verbose]... [--json] [--no-history] [command [arguments]]...\n"
      "       zirko_util command -h|--help\n"
      "       zirko_util -h|--help|--version\n\n");
  run_cmd_line("help", nullptr);
}

int run(const char *base, int argc, char **argv) {
  const bool multi_call = strcmp(base, "zirko_util") != 0;
  int first = 1;
  if (!multi_call) {
    program_options options;
    first = read_program_options(argc, argv, options);
    if (first < 0) return kUsage;
    if (options.help) print_usage();
    if (options.version && !options.help) print_program_version();
    if (options.help || options.version) return 0;
    // Before the receiver is opened, so that the open is in the log too.
    if (options.verbose > 0) zk_set_log_level(ZK_LOG_WARNING + options.verbose);
    set_json_output(options.json);
    set_history_kept(!options.no_history);
  }
  const cmd_hooks hooks{json_output() ? json_allowed : nullptr, receiver_ready};
  opened = zk_open_device(ZK_VENDOR_ID, ZK_MANUFACTURER);
  int status = 0;
  if (multi_call) {
    int rc = run_cmd(base, argc - 1, argv + 1, &appdata, &hooks);
    status = rc == 2 ? kUsage : rc != 0 ? kFailed : 0;
  } else if (first == argc) {
    run_cmd_line("version", &appdata);
    if (!json_output()) run_cmd_line("help", &appdata);
  } else {
    int failed_at = 0;
    int rc = run_cmds(argc - first, argv + first, &appdata, &failed_at, &hooks);
    if (rc == CMD_ENOSYS)
      line_failed(std::string("command not found: ") + argv[first + failed_at], CMD_ENOSYS);
    status = rc == CMD_EINVAL ? kUsage : rc != 0 ? kFailed : 0;
  }
  // `wait` and `upgrade` may have opened a receiver that the start did not.
  zk_close_device();
  // Stopped by a signal: the status a shell expects of a program it ended.
  if (stop_signal()) status = 128 + stop_signal();
  return status;
}

}  // namespace

int main(int argc, char **argv) {
  track_stdout();
  install_stop_handlers();
  const char *arg0 = argc > 0 && argv[0] ? argv[0] : "zirko_util";
  char *copy = strdup(arg0);
  if (!copy) {
    CMD_LOGE("Could not allocate arg0");
    return kFailed;
  }
  const char *base = basename(copy);
  if (!base || !*base) {
    CMD_LOGE("Could not get basename of command");
    free(copy);
    return kFailed;
  }
  CMD_LOGV("Command: %s", base);
  init_appdata_priv(&appdata);
  int status = run(base, argc, argv);
  free(copy);
  if (int error = close_stdout()) {
    fprintf(stderr, "zirko_util: write error: %s\n", strerror(error));
    status = kFailed;
  }
  return status;
}
