// Running under the umockdev preload, which routes a process's device
// accesses to the testbed.
#pragma once

namespace zk::emu {

// Puts the preload first in LD_PRELOAD (keeping what was there) and lets a
// sanitizer runtime start behind it.
void set_preload_environment();
// Restarts this program under the preload unless it already runs under it;
// returns only when it does. `who` names the program in the error message.
void restart_under_preload(char **argv, const char *who);

}  // namespace zk::emu
