// zirko-virtual: acts on the virtual receiver that every program naming the
// same state file shares, as a person would on a real one.
//
//   zirko-virtual [--state FILE] unplug | plug | press [HASH] | show | reset
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "state_file.h"
#include "state_file_bus.h"
#include "zirko.h"

namespace {

using zk::virt::Receiver;
using zk::virt::ReceiverState;
using zk::virt::RunState;

constexpr const char *kUsage =
    "usage: zirko-virtual [--state FILE] COMMAND\n"
    "Acts on the virtual receiver kept in FILE (default: $ZIRKO_VIRTUAL), which\n"
    "every program started with the same ZIRKO_VIRTUAL shares. When ZIRKO_VIRTUAL\n"
    "names several files (a:b), --state chooses the receiver.\n"
    "  unplug        pull the receiver out of the USB port\n"
    "  plug          plug it in again\n"
    "  press [HASH]  press a remote button, its hash in hexadecimal as `keys'\n"
    "                shows it (default: one never recorded); a receiver\n"
    "                waiting for a button takes it at once, a recorded\n"
    "                one sends its key to every program monitoring the receiver,\n"
    "                others are queued for the next wait\n"
    "  show          mode, versions, settings and recorded buttons\n"
    "  reset         replace it with a new receiver (firmware 3.8, empty memory)\n";

// A hash as `zirko_util keys` and `monitor` print it: hexadecimal, with or
// without 0x, so a user can paste it.
std::optional<uint32_t> parse_hash(std::string_view text) {
  if (text.starts_with("0x") || text.starts_with("0X")) text.remove_prefix(2);
  uint32_t hash = 0;
  const char *last = text.data() + text.size();
  const auto [end, error] = std::from_chars(text.data(), last, hash, 16);
  if (text.empty() || error != std::errc() || end != last) return std::nullopt;
  return hash;
}

int usage_error(const std::string &message) {
  std::fprintf(stderr, "zirko-virtual: %s\n%s", message.c_str(), kUsage);
  return 2;
}

std::string version_text(const zk::virt::Version &v, int generation) {
  char text[64];
  std::snprintf(text, sizeof text, "%d.%d (%02d-%02d-%02d), generation %d", v.major, v.minor,
                v.date[0], v.date[1], v.date[2], generation);
  return text;
}

const char *on_off(bool on) {
  return on ? "on" : "off";
}

std::string presence_text(const ReceiverState &s, const RunState &run) {
  const std::string mode = s.mode == zk::virt::Mode::kFirmware ? "firmware" : "bootloader";
  if (run.present) return "on the bus, " + mode + " mode" + (run.leave_at >= 0 ? ", leaving" : "");
  if (!s.plugged) return "unplugged";
  return "re-enumerating, in " + mode + " mode";
}

void print_settings(const ReceiverState &s) {
  const uint8_t a = s.eeprom[2], b = s.eeprom[3];
  const int variant = b >> 1 & 3;
  std::printf("Settings:    inter-key delay %d, sensitivity %d, noise canceler %s,\n", a & 0x0F,
              a >> 4 & 3, on_off(b & 0x40));
  std::printf("             sleep detect %s, sequence modifiers %s, built-in profiles %s,\n",
              on_off(b & 0x80), on_off(!(b & 0x10)), on_off(!(b & 0x20)));
  std::printf("             variant %s%s\n",
              variant == 3   ? "Zirko"
              : variant == 2 ? "Corvane"
                             : "unknown",
              a & 0x80 ? "; upgrade flag set" : "");
}

void print_wait(const ReceiverState &s, const RunState &run) {
  if (run.wait == zk::virt::Wait::kRecord)
    std::printf("Waiting:     for a button to record (key 0x%02X, modifier 0x%02X)\n",
                run.record_key, run.record_modifier);
  if (run.wait == zk::virt::Wait::kDelete) std::printf("Waiting:     for a button to delete\n");
  if (s.presses.empty()) return;
  std::printf("Queued:     ");
  for (uint32_t hash : s.presses) std::printf(" %08X", hash);
  std::printf("\n");
}

int show(Receiver &receiver) {
  const RunState run = receiver.run_snapshot();
  const ReceiverState s = receiver.snapshot();
  std::printf("Receiver:    %s\n", presence_text(s, run).c_str());
  std::printf("Firmware:    %s, source hash %08X\n",
              version_text(s.firmware, s.fw_generation()).c_str(), s.scm_hash);
  std::printf("Bootloader:  %s\n", version_text(s.bootloader, s.bl_generation()).c_str());
  print_settings(s);
  print_wait(s, run);
  const int size = s.image_size();
  if (size < zk::virt::kHeaderSize || size > zk::virt::kImageRoom) {
    std::printf("The configuration's size reads %d: not a valid image.\n", size);
    return 0;
  }
  std::fflush(stdout);
  zk_print_config(s.eeprom.data(), size);
  return 0;
}

int press(Receiver &receiver, std::optional<uint32_t> hash) {
  const auto [pressed, outcome] = receiver.press_button(hash);
  switch (outcome) {
    case Receiver::Pressed::kTaken:
      std::printf("Pressed button %08X: the receiver took it.\n", pressed);
      break;
    case Receiver::Pressed::kTyped:
      std::printf("Pressed button %08X: the receiver sent its key.\n", pressed);
      break;
    case Receiver::Pressed::kQueued:
      std::printf("Button %08X queued: the receiver takes it when it next waits for one.\n",
                  pressed);
      break;
  }
  return 0;
}

int reset(Receiver &receiver) {
  receiver.edit([](ReceiverState &s) { s = ReceiverState(); });
  // A new receiver: the old one leaves the bus and the new one arrives.
  receiver.unplug();
  receiver.plug();
  std::printf("The receiver is a new one: firmware 3.8, empty memory.\n");
  return 0;
}

int run(Receiver &receiver, const std::string &command, std::optional<uint32_t> hash) {
  if (command == "unplug") {
    receiver.unplug();
    std::printf("The receiver is unplugged.\n");
  } else if (command == "plug") {
    receiver.plug();
    std::printf("The receiver is plugged in.\n");
  } else if (command == "press") {
    return press(receiver, hash);
  } else if (command == "show") {
    return show(receiver);
  } else if (command == "reset") {
    return reset(receiver);
  }
  return 0;
}

bool known_command(const std::string &command) {
  for (const char *known : {"unplug", "plug", "press", "show", "reset"})
    if (command == known) return true;
  return false;
}

}  // namespace

int main(int argc, char **argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  const char *env = std::getenv("ZIRKO_VIRTUAL");
  const std::vector<std::string> named = zk::virt::split_state_paths(env ? env : "");
  std::string path = named.empty() ? "" : named[0];
  if (!args.empty() && args[0] == "--state") {
    if (args.size() < 2) return usage_error("--state needs a file");
    path = args[1];
    args.erase(args.begin(), args.begin() + 2);
  } else if (named.size() > 1) {
    // Pulling out or resetting the wrong one is what this tool must not do.
    return usage_error("ZIRKO_VIRTUAL names " + std::to_string(named.size()) +
                       " receivers; choose one with --state FILE");
  }
  if (path.empty()) return usage_error("no state file: set ZIRKO_VIRTUAL or give --state");
  if (args.empty()) return usage_error("no command");
  const std::string command = args[0];
  args.erase(args.begin());
  if (!known_command(command))
    return usage_error("unknown command \"" + command.substr(0, 40) + "\"");
  if (args.size() > (command == "press" ? 1u : 0u)) return usage_error("too many arguments");
  std::optional<uint32_t> hash;
  if (!args.empty()) {
    hash = parse_hash(args[0]);
    if (!hash) return usage_error("bad hash \"" + args[0].substr(0, 40) + "\"");
  }
  zk::virt::StateFileBus bus(path);
  if (!bus.usable()) return 1;  // said why on stderr
  return run(*bus.receiver(), command, hash);
}
