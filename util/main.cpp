// zirko_util: opens the receiver once and runs the commands named by the
// arguments, or, started through a link named after a command, that command.
#include <libgen.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "cmd.h"

namespace {

struct appdata_priv {
  int reserved;  // commands receive the record but none reads it yet
};
appdata_priv appdata;

void init_appdata_priv(appdata_priv *data) {
  CMD_LOGV("initializing application data: %p", static_cast<void *>(data));
}

// Commands that work with no receiver attached: they wait for one themselves.
bool runs_without_receiver(const char *name) {
  return strcmp(name, "help") == 0 || strcmp(name, "upgrade") == 0 || strcmp(name, "wait") == 0;
}

int run(const char *base, int argc, char **argv) {
  bool multi_call = strcmp(base, "zirko_util") != 0;
  int opened = zk_open_device(ZK_VENDOR_ID, ZK_MANUFACTURER);
  // Under a command's own name the command is the program name itself.
  const char *command = multi_call ? base : (argc > 1 ? argv[1] : nullptr);
  if (opened < 0 && command && !runs_without_receiver(command)) {
    printf("device disconnected, can't run command\n");
    return 1;
  }
  int status = 0;
  if (multi_call) {
    status = run_cmd(base, argc - 1, argv + 1, &appdata) != 0;
  } else if (argc == 1) {
    run_cmd_line("version", &appdata);
    run_cmd_line("help", &appdata);
  } else {
    int failed_at = 0;
    int rc = run_cmds(argc - 1, argv + 1, &appdata, &failed_at);
    if (rc == CMD_ENOSYS) printf("command not found: %s\n", argv[1 + failed_at]);
    status = rc != 0;
  }
  // `wait` and `upgrade` may have opened a receiver that the start did not.
  zk_close_device();
  return status;
}

}  // namespace

int main(int argc, char **argv) {
  const char *arg0 = argc > 0 && argv[0] ? argv[0] : "zirko_util";
  char *copy = strdup(arg0);
  if (!copy) {
    CMD_LOGE("Could not allocate arg0");
    return 1;
  }
  const char *base = basename(copy);
  if (!base || !*base) {
    CMD_LOGE("Could not get basename of command");
    free(copy);
    return 1;
  }
  CMD_LOGV("Command: %s", base);
  init_appdata_priv(&appdata);
  int status = run(base, argc, argv);
  free(copy);
  return status;
}
