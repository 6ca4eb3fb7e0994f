#include "history_keep.h"

#include <signal.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "commands.h"
#include "zirko_history.h"

namespace {

using zk::layout::kImageRoom;

bool keeping = true;
bool kept_this_run = false;
volatile sig_atomic_t guarded = 0;
volatile sig_atomic_t caught = 0;

void on_stop_signal(int sig) {
  if (!guarded) {
    signal(sig, SIG_DFL);
    raise(sig);
    return;
  }
  caught = sig;
  zk_request_stop();
}

}  // namespace

void set_history_kept(bool on) {
  keeping = on;
}

bool history_kept() {
  return keeping;
}

void history_new_line() {
  kept_this_run = false;
}

std::string change_name(const char *command, int argc, char **argv) {
  std::string name = command;
  for (int i = 0; i < argc; ++i) name += std::string(" ") + argv[i];
  return name;
}

bool keep_before_change(const char *change, const std::vector<unsigned char> *image) {
  if (!keeping || kept_this_run) return true;
  std::vector<unsigned char> read;
  if (!image) {
    const zk::EepromSnapshot snapshot;  // the size header below is read once
    // A corrupt size has no image to keep, and the change may be what
    // mends it: it is passed over without a word.
    const int high = zk_eeprom_peek(0), low = zk_eeprom_peek(1);
    if (high < 0 || low < 0 || high * 256 + low >= kImageRoom) return true;
    read.resize(kImageRoom);
    const int length = zk_read_config_image(read.data(), kImageRoom);
    // A receiver whose image cannot be read has nothing to keep; the change
    // itself reports a receiver that does not answer.
    if (length < 0) return true;
    read.resize(size_t(length));
    image = &read;
  }
  if (zk_history_keep(image->data(), int(image->size()), change) < 0) {
    print_error("Error: the configuration could not be kept in the history: %s",
                zk_history_error());
    print_error("Nothing was changed; --no-history changes the receiver without keeping it");
    return false;
  }
  kept_this_run = true;
  return true;
}

void install_stop_handlers() {
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
}

StopGuard::StopGuard() {
  guarded = guarded + 1;
}

StopGuard::~StopGuard() {
  guarded = guarded - 1;
}

int stop_signal() {
  return caught;
}

int report_stopped_write() {
  if (keeping)
    print_error(
        "Interrupted: stopped between two buttons. The previous configuration is in the "
        "history: `zirko_util undo' restores it");
  else
    print_error("Interrupted: stopped between two buttons (no history was kept)");
  return CMD_FAILED;
}

int write_failed(int code) {
  if (code == ZK_ERR_INTERRUPTED) return report_stopped_write();
  device_failed(code);
  if (keeping && kept_this_run && code == ZK_ERR_USB)
    print_error("The configuration from before is in the history: `zirko_util undo' restores it");
  return CMD_FAILED;
}
