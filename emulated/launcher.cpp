// zirko-virtual-run: runs an unmodified program, linked against the system
// libusb, with a virtual receiver from a state file behind the kernel's USB
// interface as the program's libusb sees it. The receiver is the one every
// program naming the state file shares; its changes are stored as they happen.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "emulated_bus.h"
#include "preload.h"
#include "state_file_bus.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: zirko-virtual-run [--state FILE] PROGRAM [ARGS...]\n"
               "The state file defaults to $ZIRKO_VIRTUAL; it is created when missing.\n");
  return 2;
}

// The program must use real libusb, under the preload that routes its device
// accesses to the testbed.
void prepare_child_environment() {
  unsetenv("ZIRKO_VIRTUAL");
  zk::emu::set_preload_environment();
}

// Runs the program as system() would: the terminal's interrupt goes to the
// program, and this process waits for its end.
int run(char **argv) {
  struct sigaction ignore {
  }, old_int{}, old_quit{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGINT, &ignore, &old_int);
  sigaction(SIGQUIT, &ignore, &old_quit);
  const pid_t pid = fork();
  if (pid < 0) {
    std::perror("zirko-virtual-run: fork");
    return 127;
  }
  if (pid == 0) {
    sigaction(SIGINT, &old_int, nullptr);
    sigaction(SIGQUIT, &old_quit, nullptr);
    prepare_child_environment();
    execvp(argv[0], argv);
    std::fprintf(stderr, "zirko-virtual-run: cannot run %s: %s\n", argv[0], std::strerror(errno));
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  sigaction(SIGINT, &old_int, nullptr);
  sigaction(SIGQUIT, &old_quit, nullptr);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WEXITSTATUS(status);
}

}  // namespace

int main(int argc, char **argv) {
  // The testbed announces devices arriving and leaving through the preload's
  // emulated sysfs, so this process needs the preload as well as the program.
  zk::emu::restart_under_preload(argv, "zirko-virtual-run");
  int first = 1;
  // Every receiver ZIRKO_VIRTUAL names, or the one after --state.
  std::vector<std::string> paths =
      zk::virt::split_state_paths(getenv("ZIRKO_VIRTUAL") ? getenv("ZIRKO_VIRTUAL") : "");
  if (first < argc && std::strcmp(argv[first], "--state") == 0) {
    if (first + 1 >= argc) return usage();
    paths = {argv[first + 1]};
    first += 2;
  }
  if (first >= argc || paths.empty() || argv[first][0] == '-') return usage();

  zk::virt::StateFileBus states(paths);
  zk::emu::EmulatedBus bus;
  for (size_t i = 0; i < states.size(); ++i)
    if (zk::virt::Receiver *receiver = states.receiver(i)) bus.attach_receiver(*receiver);
  return run(argv + first);
}
