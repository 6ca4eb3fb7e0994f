// Receiver settings: the on/off switches, the inter-key delay, and `settings`,
// which shows them all.
#include <stdio.h>

#include <initializer_list>
#include <string>

#include "commands.h"
#include "history_keep.h"
#include "json_output.h"

namespace {

// One on/off firmware setting and how its command words behave.
struct toggle {
  const char *label;  // padded so the values line up under `settings`
  const char *on_text;
  const char *off_text;
  int (*get)();
  int (*set)(int value);
  const char *enabling;
  const char *disabling;
  int set_consumed;  // words reported after enable or disable
};

// "NA" for a value that could not be read; a failed read fails the command,
// a setting the generation lacks does not.
int show_value(const char *label, int value, const char *text) {
  if (value >= 0) {
    printf("%s%s\n", label, text);
    return 0;
  }
  printf("%sNA\n", label);
  return read_failed(value) ? CMD_FAILED : 0;
}

int run_toggle(const toggle &t, int argc, char **argv, const cmd_desc *cmd) {
  if (argc == 0) {
    int v = t.get();
    return show_value(t.label, v, v ? t.on_text : t.off_text);
  }
  const bool enable = word_is(argv[0], "enable", "en");
  if (!enable && !word_is(argv[0], "disable", "dis")) return unrecognized(cmd);
  if (!keep_before_change(change_name(cmd->name, 1, argv).c_str())) return CMD_FAILED;
  printf("%s\n", enable ? t.enabling : t.disabling);
  fflush(stdout);
  int rc = t.set(enable ? 1 : 0);
  if (rc < 0) return device_failed(rc);
  return t.set_consumed;
}

const toggle kNoiseCanceler = {"  noise canceler:   ",
                               "Enabled",
                               "Disabled",
                               zk_get_noise_cancel,
                               zk_set_noise_cancel,
                               "enabling noise canceler",
                               "disabling noise canceler",
                               2};
const toggle kProfiles = {"  builtin profiles: ",
                          "Enable",
                          "Disable",
                          zk_get_builtin_profile_support,
                          zk_set_builtin_profile_support,
                          "enabling built in profiles",
                          "disabling built in profiles",
                          1};
const toggle kSeqModifiers = {"  seq. modifiers:   ",
                              "Enabled",
                              "Disabled",
                              zk_get_sequence_modifiers,
                              zk_set_sequence_modifiers,
                              "enabling sequencing modifiers",
                              "disabling sequencing modifiers",
                              2};
const toggle kSleepDetect = {"  sleep detection:  ",
                             "Enabled",
                             "Disabled",
                             zk_get_sleep_detect,
                             zk_set_sleep_detect,
                             "enabling sleep/suspend detection",
                             "disabling sleep/suspend detection",
                             2};

int noise_canceler(int argc, char **argv, const cmd_desc *cmd, void *, dict *) {
  return run_toggle(kNoiseCanceler, argc, argv, cmd);
}

int profiles(int argc, char **argv, const cmd_desc *cmd, void *, dict *) {
  return run_toggle(kProfiles, argc, argv, cmd);
}

int seq_modifiers(int argc, char **argv, const cmd_desc *cmd, void *, dict *) {
  return run_toggle(kSeqModifiers, argc, argv, cmd);
}

int sleep_detect(int argc, char **argv, const cmd_desc *cmd, void *, dict *) {
  return run_toggle(kSleepDetect, argc, argv, cmd);
}

constexpr int kLongestDelay = 7;  // what every firmware generation takes

int interkey_delay(int argc, char **argv, const cmd_desc *cmd, void *, dict *) {
  if (argc == 0) {
    int d = zk_get_interkey_delay();
    return show_value("  inter-key delay:  ", d, std::to_string(d).c_str());
  }
  int n;
  if (!parse_in_range(cmd, argv[0], "the inter-key delay", 0, kLongestDelay, &n)) return CMD_USAGE;
  if (!keep_before_change(change_name(cmd->name, 1, argv).c_str())) return CMD_FAILED;
  int rc = zk_set_interkey_delay(n);
  if (rc < 0) return device_failed(rc);
  if (rc == 0) printf("interkey delay set: %d\n", n);
  return 1;
}

// Every line shows what it can, a setting the receiver lacks reading NA; the
// command fails when any of them could not read the receiver.
int settings(int argc, char **, const cmd_desc *, void *, dict *) {
  const zk::EepromSnapshot snapshot;
  if (json_output()) return print_json(settings_json(), argc);
  const int failures_before = device_failures();
  run_cmd_line("version", nullptr);
  printf("\nSettings:\n");
  for (const char *line : {"sleep_detect", "noise_canceler", "interkey_delay", "seq_modifiers"})
    run_cmd_line(line, nullptr);
  int state = zk_get_state();
  if (state < 0) read_failed(state);
  printf("  state:            %d\n", state);
  int product = zk_product_type();
  if (product < 0) read_failed(product);
  if (product == ZK_PRODUCT_CORVANE)
    printf("  variant:          Corvane\n");
  else if (product == ZK_PRODUCT_ZIRKO)
    printf("  variant:          Zirko\n");
  for (const char *line : {"profiles", "space", "keys"}) run_cmd_line(line, nullptr);
  return device_failures() > failures_before ? CMD_FAILED : argc;
}

constexpr const char *kToggleWords = "enable disable";
// A toggle reports two words after enable or disable, so only its bare form
// can be followed by another command.
constexpr cmd_args kToggleArgs = {0, 1, CMD_CHAINS_BARE, kToggleWords};

const cmd_desc kCommands[] = {
    {"interkey_delay",
     interkey_delay,
     "set the interkey delay",
     "This adjusts the sensitivity of botton pressing. If keys\n"
     "feel sticky, try decreasing this. If keys are to responsive,\n"
     "try increasing this. A sweet spot is 3\n"
     "usage:\n  interkey_delay 0-7\n"
     "examples:\n  interkey_delay 0\n  interkey_delay 3\n",
     nullptr,
     {0, 1, CMD_CHAINS},
     CMD_WRITES_WITH_ARGS},
    {"noise_canceler", noise_canceler, "Noise canceler to prevent phantom presses",
     "usage: enable|disable", nullptr, kToggleArgs, CMD_WRITES_WITH_ARGS},
    {"profiles",
     profiles,
     "enable or disable built in profiles",
     "usage: enable|disable (no args get the current setting)",
     nullptr,
     {0, 1, CMD_CHAINS, kToggleWords},
     CMD_WRITES_WITH_ARGS},
    {"seq_modifiers", seq_modifiers, "enable or disable sequencing the modifiers",
     "Enable this for windows media center\n"
     "usage: seq_modifiers enable|disable\n"
     "example: \n  seq_modifiers enable\n  seq_modifiers disable",
     nullptr, kToggleArgs, CMD_WRITES_WITH_ARGS},
    {"settings",
     settings,
     "Displays all the devices current settings",
     "usage: \n  settings\n",
     nullptr,
     {0, 0},
     CMD_JSON},
    {"sleep_detect", sleep_detect, "Turns on sleep/suspend detection",
     "usage: \n  sleep_detect enable|disable\n"
     "example: \n  sleep_detect enable\n  sleep_detect disable",
     nullptr, kToggleArgs, CMD_WRITES_WITH_ARGS},
};
const bool registered = register_cmds(kCommands, sizeof kCommands / sizeof kCommands[0]);

}  // namespace
