// The history of the receiver's configurations: listing it, undoing the last
// change, putting back any entry, and comparing the receiver with a backup.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>
#include <vector>

#include "commands.h"
#include "history_keep.h"
#include "json_output.h"
#include "zirko_history.h"
#include "zirko_map.h"

namespace {

using zk::layout::kEntrySize;
using zk::layout::kHeaderSize;
using zk::layout::kImageRoom;

std::string local_time(int64_t seconds, const char *format) {
  const time_t t = time_t(seconds);
  tm local{};
  localtime_r(&t, &local);
  char text[32];
  strftime(text, sizeof text, format, &local);
  return text;
}

std::string folder() {
  char path[4096];
  return zk_history_folder(path, sizeof path) < 0 ? "" : path;
}

int history_failed() {
  print_error("Error: %s", zk_history_error());
  return CMD_FAILED;
}

int history_json(int count, int argc) {
  json_result result;
  result.object["folder"] = folder();
  result.object["history"] = nlohmann::ordered_json::array();
  for (int n = 1; n <= count; ++n) {
    zk_history_entry e;
    if (zk_history_entry_at(n, &e) < 0) return history_failed();
    result.object["history"].push_back({{"number", n},
                                        {"time", local_time(e.time, "%Y-%m-%dT%H:%M:%S")},
                                        {"change", e.change},
                                        {"buttons", e.buttons},
                                        {"firmware", e.firmware},
                                        {"position", e.position}});
  }
  return print_json(result, argc);
}

int history(int argc, char **, const cmd_desc *, void *, dict *) {
  const int count = zk_history_count();
  if (count < 0) return history_failed();
  if (json_output()) return history_json(count, argc);
  if (count == 0) {
    printf("The history is empty (%s)\n", folder().c_str());
    return argc;
  }
  printf("Configurations before each change, newest first (%s):\n", folder().c_str());
  for (int n = 1; n <= count; ++n) {
    zk_history_entry e;
    if (zk_history_entry_at(n, &e) < 0) return history_failed();
    printf("%4d  %s  %-22s %3d %-7s  firmware %s%s%s\n", n,
           local_time(e.time, "%Y-%m-%d %H:%M:%S").c_str(), e.change, e.buttons,
           e.buttons == 1 ? "button" : "buttons", e.firmware, e.position[0] ? "  at " : "",
           e.position);
  }
  return argc;
}

// The receiver's image, empty when its size header is corrupt (then every
// byte is written): 0 or the read's failure code.
int read_now(std::vector<unsigned char> &now) {
  const int rc = zk::map::read_receiver_image(now);
  if (rc == ZK_ERR_INVALID) now.clear();
  return rc == ZK_ERR_INVALID ? 0 : rc;
}

// Puts entry n back over the image read just before, keeping that first.
int put_back(int n, const std::vector<unsigned char> &now, const std::string &change) {
  zk_history_entry e;
  std::vector<unsigned char> image(kImageRoom);
  const int length = zk_history_image(n, image.data(), kImageRoom);
  if (length < 0 || zk_history_entry_at(n, &e) < 0) return history_failed();
  image.resize(size_t(length));
  if (!now.empty() && !keep_before_change(change.c_str(), &now)) return CMD_FAILED;
  printf("Restoring the configuration from before `%s' (%s, %d %s)\n", e.change,
         local_time(e.time, "%Y-%m-%d %H:%M:%S").c_str(), e.buttons,
         e.buttons == 1 ? "button" : "buttons");
  fflush(stdout);
  const StopGuard guard;
  const int rc = zk_write_config_image_over(image.data(), length,
                                            now.empty() ? nullptr : now.data(), int(now.size()));
  if (rc != 0) return write_failed(rc);
  printf("Configuration restored\n");
  return 0;
}

int undo(int argc, char **, const cmd_desc *cmd, void *, dict *) {
  std::vector<unsigned char> now;
  if (int rc = read_now(now)) return device_failed(rc);
  // The newest entry that differs: a change that failed left nothing to undo.
  const int n = zk_history_undo_entry(now.data(), int(now.size()));
  if (n < 0) return history_failed();
  if (n == 0) {
    print_error("Nothing to undo: the history holds no configuration other than the receiver's");
    return CMD_FAILED;
  }
  return put_back(n, now, cmd->name) < 0 ? CMD_FAILED : argc;
}

int restore(int argc, char **argv, const cmd_desc *cmd, void *, dict *) {
  int n;
  if (!parse_int(cmd->name, argv[0], 10, &n)) return CMD_USAGE;
  if (n < 1 || n > ZK_HISTORY_MAX_ENTRIES) {
    ZK_LOGE_AS(cmd->name, "an entry is numbered 1 to %d, as `history' lists them",
               ZK_HISTORY_MAX_ENTRIES);
    return CMD_USAGE;
  }
  std::vector<unsigned char> now;
  if (int rc = read_now(now)) return device_failed(rc);
  return put_back(n, now, change_name(cmd->name, 1, argv)) < 0 ? CMD_FAILED : argc;
}

// ---- verify ----

// The settings a backup holds besides its buttons, as `settings' names them.
struct setting {
  const char *name;
  int address;
  unsigned char mask;
};
constexpr setting kSettings[] = {
    {"inter-key delay", 2, 0x0F}, {"sensitivity", 2, 0x30},       {"sleep detection", 3, 0x80},
    {"noise canceler", 3, 0x40},  {"builtin profiles", 3, 0x20},  {"seq. modifiers", 3, 0x10},
    {"variant", 3, 0x06},         {"factory test mark", 3, 0x01},
};

int field(const std::vector<unsigned char> &image, const setting &s) {
  int value = image[size_t(s.address)] & s.mask;
  for (unsigned char m = s.mask; !(m & 1); m >>= 1) value >>= 1;
  return value;
}

struct comparison {
  int missing = 0, extra = 0, changed = 0, settings = 0;
  bool reordered = false;
  int differences() const { return missing + extra + changed + settings + (reordered ? 1 : 0); }
};

void compare_buttons(const std::vector<zk::map::Button> &receiver,
                     const std::vector<zk::map::Button> &file, comparison &c) {
  auto find = [](const std::vector<zk::map::Button> &in, uint32_t hash) {
    for (const zk::map::Button &b : in)
      if (b.hash == hash) return &b;
    return static_cast<const zk::map::Button *>(nullptr);
  };
  for (const zk::map::Button &b : file) {
    const zk::map::Button *held = find(receiver, b.hash);
    if (!held) {
      printf("missing  %08X  %s\n", b.hash, zk::map::key_text(b.modifier, b.usage).c_str());
      ++c.missing;
    } else if (!(*held == b)) {
      printf("changed  %08X  %s (the file has %s)\n", b.hash,
             zk::map::key_text(held->modifier, held->usage).c_str(),
             zk::map::key_text(b.modifier, b.usage).c_str());
      ++c.changed;
    }
  }
  for (const zk::map::Button &b : receiver) {
    if (find(file, b.hash)) continue;
    printf("extra    %08X  %s\n", b.hash, zk::map::key_text(b.modifier, b.usage).c_str());
    ++c.extra;
  }
}

void compare_settings(const std::vector<unsigned char> &receiver,
                      const std::vector<unsigned char> &file, comparison &c) {
  for (const setting &s : kSettings) {
    if (field(receiver, s) == field(file, s)) continue;
    printf("setting  %s: %d (the file has %d)\n", s.name, field(receiver, s), field(file, s));
    ++c.settings;
  }
}

// A file whose length its own size header gives is a backup; anything else
// is read as a button map.
bool is_backup(const std::string &text) {
  const size_t n = text.size();
  return n >= size_t(kHeaderSize) && n <= size_t(kImageRoom) &&
         (n - kHeaderSize) % kEntrySize == 0 &&
         size_t((uint8_t(text[0]) << 8) | uint8_t(text[1])) == n;
}

int verify(int argc, char **argv, const cmd_desc *, void *, dict *) {
  const char *path = argv[0];
  std::string text;
  if (int error = read_text(path, text)) return file_failed(path, error);
  std::vector<unsigned char> now;
  if (int rc = zk::map::read_receiver_image(now)) return device_failed(rc);
  const std::vector<zk::map::Button> held = zk::map::buttons_of(now);
  comparison c;
  if (is_backup(text)) {
    const std::vector<unsigned char> image(text.begin(), text.end());
    const std::vector<zk::map::Button> kept = zk::map::buttons_of(image);
    compare_buttons(held, kept, c);
    if (c.differences() == 0 && held != kept) {
      printf("order    the same buttons in another order\n");
      c.reordered = true;
    }
    compare_settings(now, image, c);
  } else {
    const zk::map::Parsed map = zk::map::parse(text);
    for (const zk::map::Problem &p : map.problems)
      ZK_LOGE_AS("verify", "%s", zk::map::describe(p, path).c_str());
    if (!map.problems.empty()) {
      print_error("Error: %s is neither a configuration backup nor a button map", path);
      return CMD_FAILED;
    }
    compare_buttons(held, map.buttons, c);
  }
  if (c.differences() == 0) {
    printf("The receiver matches %s\n", path);
    return argc;
  }
  printf("The receiver differs from %s: %d missing, %d extra, %d changed, %d settings%s\n", path,
         c.missing, c.extra, c.changed, c.settings, c.reordered ? ", another order" : "");
  return CMD_FAILED;
}

const cmd_desc kCommands[] = {
    {"history",
     history,
     "List the configurations kept before each change",
     "usage: \n  history\n"
     "  lists, newest first, the receiver's configuration as it was before each\n"
     "  change: when, what changed it, its buttons, the firmware and the bus\n"
     "  position. `undo' and `restore <number>' put one back.",
     nullptr,
     {0, 0},
     CMD_NO_RECEIVER | CMD_JSON},
    {"restore",
     restore,
     "Put back a configuration from the history",
     "usage: \n  restore <number>\n"
     "  writes the configuration numbered so in `history' back to the receiver;\n"
     "  the one it replaces is kept first, so a restore can be undone.\n"
     "example:\n  zirko_util restore 3",
     nullptr,
     {1, 1},
     CMD_WRITES},
    {"undo",
     undo,
     "Put back the configuration from before the last change",
     "usage: \n  undo\n"
     "  writes back the newest configuration in `history' that differs from the\n"
     "  receiver's; an undo is a change too, so a second undo takes it back.",
     nullptr,
     {0, 0},
     CMD_WRITES},
    {"verify",
     verify,
     "Compare the receiver with a backup or a button map",
     "usage: \n  verify <file>\n"
     "  lists the buttons missing, extra or changed on the receiver and, for a\n"
     "  .zcfg backup, the settings that differ; exits 0 when they match.\n"
     "example:\n  zirko_util verify ~/living-room.zcfg",
     nullptr,
     {1, 1, CMD_ENDS_LINE, CMD_COMPLETE_FILES}},
};
const bool registered = register_cmds(kCommands, sizeof kCommands / sizeof kCommands[0]);

}  // namespace
