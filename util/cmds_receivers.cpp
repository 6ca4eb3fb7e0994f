// Several receivers on one computer: `list' shows them, and the helpers the
// entry uses to name them when it must choose.
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "commands.h"
#include "json_output.h"

namespace {

std::string version_text(const zk_receiver &r) {
  const char *mode = r.state == ZK_STATE_BOOTLOADER ? "bootloader" : "firmware";
  if (r.major < 0 || r.minor < 0) return std::string(mode) + " ?";
  return std::string(mode) + " " + std::to_string(r.major) + "." + std::to_string(r.minor);
}

const char *variant_text(int product) {
  if (product == ZK_PRODUCT_ZIRKO) return "Zirko";
  if (product == ZK_PRODUCT_CORVANE) return "Corvane";
  return product < 0 ? "?" : "unknown";
}

std::string buttons_text(const zk_receiver &r) {
  if (r.recorded < 0 || r.remaining < 0) return "buttons unreadable";
  return std::to_string(r.recorded) + " recorded, " + std::to_string(r.remaining) + " free";
}

// Takes no words, so another command may follow.
int list(int, char **, const cmd_desc *, void *, dict *) {
  const std::vector<zk_receiver> found = list_receivers(true);
  if (json_output()) return print_json(receivers_json(found), 0);
  if (found.empty()) printf("No receiver found\n");
  print_receivers(stdout, found, "");
  return 0;
}

const cmd_desc kCommands[] = {
    {"list",
     list,
     "List the receivers plugged in, to choose one with --device",
     "usage: \n  list\n"
     "  one line per receiver: its index and bus position (either chooses it\n"
     "  with --device or ZIRKO_DEVICE), its mode and version, its variant, and\n"
     "  the buttons recorded and free\n"
     "example:\n  zirko_util list\n  zirko_util --device 2 keys",
     nullptr,
     {0, 0, CMD_CHAINS},
     CMD_NO_RECEIVER | CMD_JSON | CMD_NO_CHOICE},
};
const bool registered = register_cmds(kCommands, sizeof kCommands / sizeof kCommands[0]);

}  // namespace

std::vector<zk_receiver> list_receivers(bool details) {
  std::vector<zk_receiver> found(8);
  // More than there was room for: once more with room for them all, as long
  // as receivers keep arriving between two scans; then those that fitted.
  for (int tries = 1;; ++tries) {
    const int n = zk_list_receivers(ZK_VENDOR_ID, found.data(), int(found.size()), details);
    if (n < 0) return {};
    if (size_t(n) <= found.size() || tries == 3) {
      found.resize(std::min(size_t(n), found.size()));
      return found;
    }
    found.resize(n);
  }
}

void print_receivers(FILE *out, const std::vector<zk_receiver> &found, const char *indent) {
  size_t width = 0;
  for (const zk_receiver &r : found) width = std::max(width, strlen(r.position));
  int index = 0;
  for (const zk_receiver &r : found)
    fprintf(out, "%s%d  %-*s  %-15s  %-7s  %s\n", indent, ++index, int(width),
            r.position[0] ? r.position : "?", version_text(r).c_str(), variant_text(r.product),
            buttons_text(r).c_str());
}
