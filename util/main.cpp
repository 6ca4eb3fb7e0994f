// zirko_util: checks the command line, opens the receiver it acts on and runs
// the commands named by the arguments, or, started through a link named
// after a command, that command.
#include <libgen.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

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

int opened = ZK_ERR_NO_RECEIVER;  // the result of opening the receiver

void init_appdata_priv(appdata_priv *data) {
  ZK_LOGV("initializing application data: %p", static_cast<void *>(data));
}

// Reports a failure of the whole line on standard error: as JSON under
// --json, else as a line.
void line_failed(const std::string &text, int code) {
  if (json_output())
    print_json_error(text.c_str(), code);
  else
    print_error("%s", text.c_str());
}

// ---- the program's own options ----

struct program_options {
  bool help = false;
  bool version = false;
  bool json = false;
  bool no_history = false;
  int verbose = 0;
  const char *device = nullptr;  // -d/--device
};

// Whether the command takes an option of that short (or, when 0, long) name
// itself: then the word is the command's.
bool claimed(const cmd_desc *cmd, char short_name, const char *long_name) {
  for (const cmd_option *opt = cmd ? cmd->options : nullptr; opt && opt->key; ++opt)
    if (short_name ? opt->short_name == short_name
                   : opt->long_name && strcmp(opt->long_name, long_name) == 0)
      return true;
  return false;
}

// The value of -d/--device: after `=' or in the word, else the next word.
// Null after saying that it is missing.
const char *device_value(const char *typed, const char *inline_value, const char *next,
                         int &taken) {
  taken = 1;
  if (inline_value && *inline_value) return inline_value;
  if (!inline_value && next && next[0] != '-') {
    taken = 2;
    return next;
  }
  ZK_LOGE("option '%s' needs a value (an index from `zirko_util list', or a bus position)", typed);
  return nullptr;
}

// A long program option, and maybe the next word as its value: the words
// taken (0 when the word is none of them), or -1 after saying what is wrong.
int take_long_option(const char *word, const char *next, bool front, const cmd_desc *cmd,
                     program_options &options) {
  std::string name = word + 2;
  const size_t equals = name.find('=');
  const char *value = equals == std::string::npos ? nullptr : word + 2 + equals + 1;
  name = name.substr(0, equals);
  if (claimed(cmd, 0, name.c_str())) return 0;
  if (front && !value && (name == "help" || name == "version")) {
    (name == "help" ? options.help : options.version) = true;
    return 1;
  }
  if (name == "device") {
    int taken = 0;
    options.device = device_value("--device", value, next, taken);
    return options.device ? taken : -1;
  }
  if (name != "json" && name != "verbose" && name != "no-history") return 0;
  if (value) {
    ZK_LOGE("option '--%s' takes no value", name.c_str());
    return -1;
  }
  if (name == "json")
    options.json = true;
  else if (name == "no-history")
    options.no_history = true;
  else
    ++options.verbose;
  return 1;
}

// A cluster of -v (and in front of the first command, -h), maybe ending in
// -d and its value; results as take_long_option.
int take_short_options(const char *word, const char *next, bool front, const cmd_desc *cmd,
                       program_options &options) {
  const char *c = word + 1;
  for (; *c && *c != 'd'; ++c)
    if ((*c != 'v' && !(front && *c == 'h')) || claimed(cmd, *c, nullptr)) return 0;
  if (*c == 'd' && claimed(cmd, 'd', nullptr)) return 0;
  for (const char *v = word + 1; v < c; ++v) {
    if (*v == 'h')
      options.help = true;
    else
      ++options.verbose;
  }
  if (*c != 'd') return 1;
  int taken = 0;
  options.device = device_value("-d", c[1] ? c + 1 : nullptr, next, taken);
  return options.device ? taken : -1;
}

// Takes the program's options out of the words, wherever they stand up to a
// `--': in front of the first command, and among any command's words unless
// that command takes an option of the same name. `link` is the command a
// link runs, or null. The other words stay in `words`, in order; false after
// saying what is wrong.
bool read_program_options(int argc, char **argv, const cmd_desc *link, program_options &options,
                          std::vector<char *> &words) {
  bool front = link == nullptr;
  const cmd_desc *cmd = link;  // the command whose words these are
  for (int i = 1; i < argc; ++i) {
    const char *word = argv[i];
    if (strcmp(word, "--") == 0) {
      // In front of the first command it only ends the program's options;
      // after one, the command's option parsing passes over it.
      words.insert(words.end(), argv + i + (front ? 1 : 0), argv + argc);
      return true;
    }
    if (word[0] != '-' || word[1] == '\0') {
      if (const cmd_desc *named = find_cmd(word)) cmd = named;
      front = false;
      words.push_back(argv[i]);
      continue;
    }
    const char *next = i + 1 < argc ? argv[i + 1] : nullptr;
    const int taken = word[1] == '-' ? take_long_option(word, next, front, cmd, options)
                                     : take_short_options(word, next, front, cmd, options);
    if (taken < 0) return false;
    if (taken == 0 && front) {
      ZK_LOGE("unknown option '%s'; see `zirko_util --help'", word);
      return false;
    }
    if (taken == 0) words.push_back(argv[i]);
    i += taken > 1 ? taken - 1 : 0;
  }
  return true;
}

void print_usage() {
  printf(
      "usage: zirko_util [-v|--verbose]... [--json] [--no-history] [-d|--device RECEIVER]\n"
      "                  [--] [command [arguments]]...\n"
      "       zirko_util command -h|--help\n"
      "       zirko_util -h|--help|--version\n"
      "RECEIVER is an index or a bus position from `zirko_util list' (default:\n"
      "$ZIRKO_DEVICE); the options may also follow a command.\n\n");
  run_cmd_line("help", nullptr);
}

// ---- the receiver the line acts on ----

struct receiver_choice {
  const char *asked = nullptr;  // --device, or ZIRKO_DEVICE
  bool needed = false;          // a command of the line acts on one receiver
  bool scanned = false;
  std::vector<zk_receiver> found;  // positions and modes only
};
receiver_choice choice;

const std::vector<zk_receiver> &receivers_found() {
  if (!choice.scanned) choice.found = list_receivers(false);
  choice.scanned = true;
  return choice.found;
}

// With several receivers and none chosen, a command that would change one
// is refused before anything runs.
bool choice_allows(const cmd_desc *cmd, bool changes) {
  if (cmd->flags & CMD_NO_CHOICE) return true;
  choice.needed = true;
  if (choice.asked || !changes || receivers_found().size() < 2) return true;
  fprintf(stderr, "%zu receivers found; `%s' changes a receiver, so choose one with --device:\n",
          receivers_found().size(), cmd->name);
  print_receivers(stderr, list_receivers(true), "  ");
  return false;
}

// Under --json a script reads standard output: a command that would print
// text there is refused before anything runs.
bool json_allowed(const cmd_desc *cmd) {
  if (cmd->flags & CMD_JSON) return true;
  print_json_error(("`" + std::string(cmd->name) + "' has no JSON output").c_str(), CMD_EINVAL);
  return false;
}

bool line_allowed(const cmd_desc *cmd, bool changes) {
  return (!json_output() || json_allowed(cmd)) && choice_allows(cmd, changes);
}

bool all_digits(const char *text) {
  return *text && strspn(text, "0123456789") == strlen(text);
}

// The bus position asked for: an index of the listing, or a position as it
// stands. Empty after saying that no such receiver is there.
std::string asked_position() {
  if (!all_digits(choice.asked)) return choice.asked;
  const std::vector<zk_receiver> &found = receivers_found();
  const size_t index = strlen(choice.asked) < 4 ? strtoul(choice.asked, nullptr, 10) : 0;
  if (index >= 1 && index <= found.size()) return found[index - 1].position;
  line_failed("no receiver " + std::string(choice.asked) + ": " + std::to_string(found.size()) +
                  " found (see `zirko_util list')",
              ZK_ERR_NOT_USABLE);
  return {};
}

// Opens the receiver chosen, or the one found first as ever (after a warning
// when there are several); false when the one asked for is not there.
bool open_receiver() {
  if (choice.asked) {
    const std::string position = asked_position();
    if (position.empty()) return false;
    zk_choose_device(position.c_str());
  }
  opened = zk_open_device(ZK_VENDOR_ID, ZK_MANUFACTURER);
  if (!choice.asked && opened >= 0 && receivers_found().size() >= 2)
    fprintf(stderr, "%zu receivers found; using %s (choose one with --device)\n",
            receivers_found().size(), zk_current_position());
  return true;
}

// Once the line is checked: opens the receiver if a command needs one, and
// stops a line whose first command needs the receiver we have not.
bool receiver_ready(const cmd_desc *first) {
  if (!choice.needed) return true;
  if (!open_receiver()) return false;
  if (opened >= 0 || (first->flags & CMD_NO_RECEIVER)) return true;
  if (choice.asked)
    line_failed("no receiver at " + std::string(zk_chosen_device()) + " (see `zirko_util list')",
                ZK_ERR_NOT_USABLE);
  else
    line_failed("device disconnected, can't run command", CMD_ENODEV);
  return false;
}

int run(const char *base, int argc, char **argv) {
  const cmd_desc *link = strcmp(base, "zirko_util") != 0 ? find_cmd(base) : nullptr;
  const bool multi_call = strcmp(base, "zirko_util") != 0;
  program_options options;
  std::vector<char *> words;
  if (!read_program_options(argc, argv, multi_call ? link : nullptr, options, words)) return kUsage;
  if (!multi_call && (options.help || options.version)) {
    if (options.help) print_usage();
    if (options.version && !options.help) print_program_version();
    return 0;
  }
  // Before the receiver is opened, so that the open is in the log too.
  if (options.verbose > 0) zk_set_log_level(ZK_LOG_WARNING + options.verbose);
  set_json_output(options.json);
  set_history_kept(!options.no_history);
  const char *env = getenv("ZIRKO_DEVICE");
  choice.asked = options.device ? options.device : env && *env ? env : nullptr;
  words.push_back(nullptr);
  const int count = int(words.size()) - 1;
  const cmd_hooks hooks{line_allowed, receiver_ready};
  int status = 0;
  if (multi_call) {
    int rc = run_cmd(base, count, words.data(), &appdata, &hooks);
    status = rc == 2 ? kUsage : rc != 0 ? kFailed : 0;
  } else if (count == 0) {
    choice.needed = true;
    if (!open_receiver()) status = kFailed;
    if (status == 0) run_cmd_line("version", &appdata);
    if (status == 0 && !json_output()) run_cmd_line("help", &appdata);
  } else {
    int failed_at = 0;
    int rc = run_cmds(count, words.data(), &appdata, &failed_at, &hooks);
    if (rc == CMD_ENOSYS)
      line_failed(std::string("command not found: ") + words[failed_at], CMD_ENOSYS);
    status = rc == CMD_EINVAL ? kUsage : rc != 0 ? kFailed : 0;
  }
  finish_json_output(status == 0);
  // `wait' and `upgrade' may have opened a receiver that the start did not.
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
    ZK_LOGE("Could not allocate arg0");
    return kFailed;
  }
  const char *base = basename(copy);
  if (!base || !*base) {
    ZK_LOGE("Could not get basename of command");
    free(copy);
    return kFailed;
  }
  ZK_LOGV("Command: %s", base);
  init_appdata_priv(&appdata);
  int status = run(base, argc, argv);
  free(copy);
  if (int error = close_stdout()) {
    fprintf(stderr, "zirko_util: write error: %s\n", strerror(error));
    status = kFailed;
  }
  return status;
}
