// Watching what the receiver types: one line per key it sends, with the
// recorded buttons that send it, so a user can check what a button does.
#include <signal.h>
#include <stdio.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "commands.h"
#include "json_output.h"
#include "zirko_keys.h"
#include "zirko_map.h"

namespace {

using Clock = std::chrono::steady_clock;
using json = nlohmann::ordered_json;

constexpr const char *kTimeKey = "time";
constexpr int kLongestRun = 86400;  // seconds: -t takes up to a day
// Each wait is this short, so that Ctrl-C and the end of -t are seen at once.
constexpr int kStepMs = 200;
constexpr auto kReopenPause = std::chrono::milliseconds(250);

const cmd_option kMonitorOptions[] = {
    {kTimeKey, "stop after this many seconds, 1 to 86400 (default: at Ctrl-C)", 't', "time",
     "SECONDS"},
    {nullptr, nullptr, 0, nullptr},
};

volatile sig_atomic_t interrupted = 0;
void on_interrupt(int) {
  interrupted = 1;
}

// Ctrl-C ends the monitor as a success for as long as it runs.
class InterruptStops {
 public:
  InterruptStops() {
    interrupted = 0;
    struct sigaction stop {};
    stop.sa_handler = on_interrupt;
    sigemptyset(&stop.sa_mask);
    sigaction(SIGINT, &stop, &old_int_);
    sigaction(SIGTERM, &stop, &old_term_);
  }
  ~InterruptStops() {
    sigaction(SIGINT, &old_int_, nullptr);
    sigaction(SIGTERM, &old_term_, nullptr);
  }

 private:
  struct sigaction old_int_ {
  }, old_term_{};
};

// The end of the run: -t, or none (Clock::time_point::max()); false after
// saying what is wrong with the value.
bool run_end(const cmd_desc *cmd, dict *opts, Clock::time_point *end) {
  *end = Clock::time_point::max();
  if (!dict_has(opts, kTimeKey)) return true;
  uint32_t length = 0;
  const char *value = static_cast<const char *>(dict_get(opts, kTimeKey, &length));
  int seconds = 0;
  if (length > 0 && parse_int(cmd->name, value, 10, &seconds) && seconds >= 1 &&
      seconds <= kLongestRun) {
    *end = Clock::now() + std::chrono::seconds(seconds);
    return true;
  }
  ZK_LOGE_AS(cmd->name, "the time is a number of seconds from 1 to %d", kLongestRun);
  return false;
}

bool running(Clock::time_point end) {
  return !interrupted && Clock::now() < end;
}

int failed(const std::string &text, int code) {
  if (json_output())
    print_json_error(text.c_str(), code);
  else
    print_error("Error: %s", text.c_str());
  return CMD_FAILED;
}

// What a user reads when the receiver's input node is closed to them.
std::string access_advice(const std::string &problem) {
  return "cannot read the receiver's keys: " + problem +
         ". The udev rule 70-zirko.rules gives the logged-in user access to the receiver's "
         "input nodes (TAG+=\"uaccess\"): install it, then unplug the receiver and plug it in "
         "again";
}

// A change of the receiver: a line of text, or {"receiver": state} with the
// source of the keys when they can be read.
void say(const std::string &text, const char *json_state, const zk_key_monitor *keys = nullptr) {
  if (json_output()) {
    json line{{"receiver", json_state}};
    if (keys) line["source"] = zk_key_monitor_source(keys);
    printf("%s\n", line.dump().c_str());
  } else {
    printf("%s\n", text.c_str());
  }
  fflush(stdout);
}

std::string hex8(uint32_t value) {
  char text[9];
  snprintf(text, sizeof text, "%08X", value);
  return text;
}

// One line for a key: its name, and the recorded buttons whose key report it is.
void print_key(const zk_key_event &key, const std::vector<zk::map::Button> &buttons) {
  const std::string name = zk::map::key_text(key.modifier, key.usage);
  json found = json::array();
  std::string listed;
  for (size_t i = 0; i < buttons.size(); ++i) {
    if (buttons[i].usage != key.usage || buttons[i].modifier != key.modifier) continue;
    found.push_back({{"index", i}, {"hash", hex8(buttons[i].hash)}});
    listed += (listed.empty() ? "" : ", ") + std::to_string(i) + " (" + hex8(buttons[i].hash) + ")";
  }
  if (json_output()) {
    json line{{"key", name}, {"usage", key.usage}, {"modifier", key.modifier}, {"buttons", found}};
    printf("%s\n", line.dump().c_str());
  } else {
    const char *which = found.size() == 1 ? "button " : "buttons ";
    printf("%-24s %s\n", name.c_str(),
           found.empty() ? "(no recorded button)" : (which + listed).c_str());
  }
  fflush(stdout);
}

// Opens the receiver again once it is back, until the run ends; true when
// it is open.
bool wait_for_receiver(Clock::time_point end) {
  zk_close_device();
  while (running(end)) {
    if (zk_open_device(ZK_VENDOR_ID, ZK_MANUFACTURER) == ZK_STATE_FIRMWARE) return true;
    zk_close_device();
    std::this_thread::sleep_for(kReopenPause);
  }
  return false;
}

int open_monitor(zk_key_monitor **keys) {
  char problem[512];
  const int rc = zk_key_monitor_open(keys, problem, sizeof problem);
  if (rc == ZK_ERR_ACCESS) return failed(access_advice(problem), rc);
  if (rc < 0) return failed(std::string("cannot read the receiver's keys: ") + problem, rc);
  return 0;
}

int monitor(int argc, char **, const cmd_desc *cmd, void *, dict *opts) {
  Clock::time_point end;
  if (!run_end(cmd, opts, &end)) return CMD_USAGE;
  if (zk_fw_state() != ZK_STATE_FIRMWARE)
    return failed("the receiver runs its bootloader: it sends no keys", ZK_ERR_NOT_USABLE);
  std::vector<unsigned char> image;
  const int read = zk::map::read_receiver_image(image);
  if (read < 0) return device_failed(read);
  const std::vector<zk::map::Button> buttons = zk::map::buttons_of(image);
  InterruptStops interrupt_stops;
  zk_key_monitor *keys = nullptr;
  if (open_monitor(&keys) < 0) return CMD_FAILED;
  say(std::string("Keys from ") + zk_key_monitor_source(keys) + " (Ctrl-C ends):", "listening",
      keys);
  int result = argc;
  while (running(end)) {
    zk_key_event key{};
    const int rc = zk_key_monitor_next(keys, &key, kStepMs);
    if (rc == 1) {
      print_key(key, buttons);
    } else if (rc == ZK_ERR_NOT_USABLE) {
      zk_key_monitor_close(keys);
      keys = nullptr;
      say("The receiver was unplugged; waiting for it to come back", "unplugged");
      if (!wait_for_receiver(end)) break;
      if (open_monitor(&keys) < 0) return CMD_FAILED;
      say("The receiver is back", "back", keys);
    } else if (rc < 0) {
      result = failed(zk_key_monitor_problem(keys), rc);
      break;
    }
  }
  zk_key_monitor_close(keys);
  return result;
}

const cmd_desc kCommands[] = {
    {"monitor",
     monitor,
     "Show each key the receiver sends, and the buttons that send it",
     "usage: \n  monitor [-t SECONDS]\n"
     "Prints one line per key the receiver types: the key, then the recorded\n"
     "buttons (index and hash) that send it. Ctrl-C or the end of -t stops it.\n"
     "example: \n  zirko monitor -t 30",
     kMonitorOptions,
     {0, 0},
     CMD_JSON},
};
const bool registered = register_cmds(kCommands, sizeof kCommands / sizeof kCommands[0]);

}  // namespace
