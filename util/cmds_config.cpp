// Backing up the receiver's configuration image to a file and restoring it,
// as the image itself or as a button map people can read.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "commands.h"
#include "history_keep.h"
#include "zirko_history.h"
#include "zirko_map.h"

namespace {

constexpr size_t kPathSize = 300;  // the library's limit on a path, NUL included
constexpr const char *kExtension = ".zcfg";

bool is_directory(const char *path) {
  struct stat st;
  return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// Why the file cannot be written, as an errno value; 0 when it can. Asked
// before the receiver is read, so that a bad path costs nothing.
int write_error(const std::string &path) {
  if (access(path.c_str(), F_OK) == 0) {
    if (is_directory(path.c_str())) return EISDIR;
    return access(path.c_str(), W_OK) == 0 ? 0 : errno;
  }
  if (errno != ENOENT) return errno;
  size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? "." : path.substr(0, slash ? slash : 1);
  return access(folder.c_str(), W_OK | X_OK) == 0 ? 0 : errno;
}

// The words of a configuration copy's heading and closing line.
struct config_move {
  const char *verb;
  const char *destination;
  const char *outcome;
  bool writes_file = false;  // a file failure then has the system's reason in errno
};

// Copies the whole configuration between the receiver and a file, between a
// heading and a closing line; the progress bar runs in between.
int move_config(int (*copy)(const char *path), const std::string &path, const config_move &words,
                int argc) {
  printf("\n%s Configuration File '%s' to %s\n", words.verb, path.c_str(), words.destination);
  fflush(stdout);
  errno = 0;
  if (int rc = copy(path.c_str()); rc != 0) {
    // The library has named the file; the reason is the system's.
    if (rc == ZK_ERR_FILE && words.writes_file && errno != 0)
      return file_failed(path.c_str(), errno);
    return device_failed(rc);
  }
  printf("\n\nConfiguration File %s\n", words.outcome);
  return argc;
}

int saveconfig(int argc, char **argv, const cmd_desc *, void *, dict *) {
  size_t longest = kPathSize - 1 - strlen(kExtension);
  if (strlen(argv[0]) > longest) {
    print_error("Error, file name too long (at most %zu characters)", longest);
    return CMD_FAILED;
  }
  const std::string path = argv[0] + std::string(kExtension);
  if (int error = write_error(path)) return file_failed(path.c_str(), error);
  return move_config(zk_save_config, path, {"Saving", "Disk", "saved", true}, argc);
}

// The receiver's image as one read gives it, for the history and for
// writing only what differs: 0, or the read's failure code. A corrupt image
// leaves `current` empty: it is rewritten whole and there is nothing to keep.
int read_current(std::vector<unsigned char> &current) {
  const int rc = zk::map::read_receiver_image(current);
  if (rc == ZK_ERR_INVALID) current.clear();
  return rc == ZK_ERR_INVALID ? 0 : rc;
}

// Writes an image over the current one, after keeping that in the history.
int write_over(const char *change, const std::vector<unsigned char> &image,
               const std::vector<unsigned char> &current) {
  if (!current.empty() && !keep_before_change(change, &current)) return CMD_FAILED;
  const StopGuard guard;
  const int rc =
      zk_write_config_image_over(image.data(), int(image.size()),
                                 current.empty() ? nullptr : current.data(), int(current.size()));
  return rc == 0 ? 0 : write_failed(rc);
}

bool exists(const std::string &path) {
  return access(path.c_str(), F_OK) == 0;
}

// The file is the name as typed or, when there is no such file, the name with
// the extension that saveconfig adds. It is read and checked whole before
// the receiver is touched, and written from that one reading.
int loadconfig(int argc, char **argv, const cmd_desc *cmd, void *, dict *) {
  std::string path = argv[0];
  std::vector<unsigned char> image;
  std::string reason = read_input_file(path.c_str(), ZK_CONFIG_FILE_MAX, image);
  if (!reason.empty() && !exists(path) && exists(path + kExtension)) {
    path += kExtension;
    reason = read_input_file(path.c_str(), ZK_CONFIG_FILE_MAX, image);
  }
  if (!reason.empty()) return file_refused(path.c_str(), reason);
  if (zk_check_config_image(image.data(), long(image.size())) < 0) {
    print_error("Error: %s is not a configuration file; the receiver was not changed",
                path.c_str());
    return CMD_FAILED;
  }
  printf("\nLoading Configuration File '%s' to Device\n", path.c_str());
  fflush(stdout);
  // Locked from the read that the history keeps to the last write.
  int rc;
  {
    const zk::WriteLock lock;
    if (!lock.held()) return device_failed(lock.result());
    // One read of each byte: the size checked before it is written comes
    // from it too, unless something was written since.
    const zk::EepromSnapshot snapshot;
    std::vector<unsigned char> current;
    rc = read_current(current);
    if (rc == 0)
      rc = write_over(change_name(cmd->name, 1, argv).c_str(), image, current);
    else
      rc = device_failed(rc);
  }
  if (rc != 0) return rc;
  printf("\n\nConfiguration File Loaded Successfully\n");
  return argc;
}

// A button map named "-" is standard input or output.
bool is_standard_stream(const char *path) {
  return strcmp(path, "-") == 0;
}

const char *shown_name(const char *path) {
  return is_standard_stream(path) ? "standard input" : path;
}

// A map is small: anything beyond a megabyte is not one.
constexpr long kLongestMap = 1 << 20;

// The whole text of standard input: empty, or why it was not read.
std::string read_stdin(std::string &text) {
  char chunk[4096];
  size_t n;
  while (text.size() <= size_t(kLongestMap) && (n = fread(chunk, 1, sizeof chunk, stdin)) > 0)
    text.append(chunk, n);
  if (ferror(stdin)) return strerror(errno ? errno : EIO);
  if (text.size() > size_t(kLongestMap)) return strerror(EFBIG);
  return {};
}

// The whole map: empty, or why it was not read.
std::string read_map(const char *path, std::string &text) {
  if (is_standard_stream(path)) return read_stdin(text);
  std::vector<unsigned char> bytes;
  std::string reason = read_input_file(path, kLongestMap, bytes);
  text.assign(bytes.begin(), bytes.end());
  return reason;
}

// 0, or the errno value of the failed write.
int write_text(FILE *file, const std::string &text) {
  return fwrite(text.data(), 1, text.size(), file) == text.size() && fflush(file) == 0 ? 0 : errno;
}

int write_text(const char *path, const std::string &text) {
  if (is_standard_stream(path)) return write_text(stdout, text);
  return zk_save_file(path, text.data(), text.size()) == 0 ? 0 : errno;
}

int export_map(int argc, char **argv, const cmd_desc *, void *, dict *) {
  const char *path = argv[0];
  if (!is_standard_stream(path))
    if (int error = write_error(path)) return file_failed(path, error);
  std::vector<unsigned char> image;
  if (int rc = zk::map::read_receiver_image(image)) return device_failed(rc);
  const std::vector<zk::map::Button> buttons = zk::map::buttons_of(image);
  if (int error = write_text(path, zk::map::format(buttons, zk::map::receiver_header())))
    return file_failed(is_standard_stream(path) ? "standard output" : path, error);
  if (!is_standard_stream(path)) printf("Exported %zu buttons to '%s'\n", buttons.size(), path);
  return argc;
}

// Every problem on standard error, then why nothing was written.
int refuse_map(const char *shown, const std::vector<zk::map::Problem> &problems) {
  for (const zk::map::Problem &p : problems)
    ZK_LOGE_AS("import", "%s", zk::map::describe(p, shown).c_str());
  print_error("Error: %s", zk::map::refusal(shown).c_str());
  return CMD_FAILED;
}

constexpr const char *kMergeKey = "merge";
constexpr const char *kAllowEmptyKey = "allow-empty";

void report_kept(const zk::map::Plan &plan) {
  for (const zk::map::Kept &kept : plan.kept) printf("  %s\n", zk::map::describe(kept).c_str());
  if (plan.removed > 0)
    printf("  removes %d button%s that the map does not have\n", plan.removed,
           plan.removed == 1 ? "" : "s");
}

int import_locked(const char *shown, const zk::map::Parsed &map, const std::string &change,
                  dict *opts, int argc) {
  std::vector<unsigned char> current;  // its settings bytes are the ones written
  if (int rc = zk::map::read_receiver_image(current)) return device_failed(rc);
  const zk::map::Plan plan =
      zk::map::plan_import(map, current, dict_has(opts, kMergeKey), dict_has(opts, kAllowEmptyKey));
  if (!plan.problems.empty()) return refuse_map(shown, plan.problems);
  report_kept(plan);
  printf("\nImporting Button Map '%s' to Device\n", shown);
  fflush(stdout);
  if (int rc = write_over(change.c_str(), plan.image, current)) return rc;
  printf("\n\nButton Map Imported: %zu buttons\n", zk::map::buttons_of(plan.image).size());
  return argc;
}

// Every line is checked before the receiver is touched; the image is then
// written as loadconfig writes one, the receiver locked from the read that
// plans it to the last write.
int import_map(int argc, char **argv, const cmd_desc *cmd, void *, dict *opts) {
  const char *shown = shown_name(argv[0]);
  std::string text;
  if (std::string reason = read_map(argv[0], text); !reason.empty())
    return file_refused(shown, reason);
  const zk::map::Parsed map = zk::map::parse(text);
  if (!map.problems.empty()) return refuse_map(shown, map.problems);
  const zk::WriteLock lock;
  if (!lock.held()) return device_failed(lock.result());
  const zk::EepromSnapshot snapshot;  // as loadconfig: every byte read once
  return import_locked(shown, map, change_name(cmd->name, 1, argv), opts, argc);
}

const cmd_option kImportOptions[] = {
    {kMergeKey, "add the map's buttons to those on the receiver", 0, "merge"},
    {kAllowEmptyKey, "import a map with no buttons, erasing every button", 0, "allow-empty"},
    {nullptr, nullptr, 0, nullptr},
};

const cmd_desc kCommands[] = {
    {"export",
     export_map,
     "Write the recorded buttons to a button map file",
     "usage: \n  export <file>\n"
     "  writes one line per recorded button: its hash and its key; - writes\n"
     "  to standard output\n"
     "example:\n  zirko_util export ~/living-room.zmap",
     nullptr,
     {1, 1, CMD_ENDS_LINE, CMD_COMPLETE_FILES}},
    {"import",
     import_map,
     "Load a button map file into zirko",
     "usage: \n  import [--merge] [--allow-empty] <file>\n"
     "  replaces the recorded buttons with those of the map (- reads standard\n"
     "  input); the settings stay. Every line is checked first: a map with a\n"
     "  bad line, or one shorter than its closing line says, is refused whole;\n"
     "  so is a map with no buttons, unless --allow-empty is given.\n"
     "example:\n  zirko_util import ~/living-room.zmap\n"
     "  zirko_util import --merge ~/extra-buttons.zmap",
     kImportOptions,
     {1, 1, CMD_ENDS_LINE, CMD_COMPLETE_FILES},
     CMD_WRITES},
    {"loadconfig",
     loadconfig,
     "Load configuration file from disk to zirko",
     "usage: \n  loadconfig '<filename>'\nexample:\n  zirko loadconfig ~/Desktop/boxee.zcfg",
     nullptr,
     {1, 1, CMD_ENDS_LINE, CMD_COMPLETE_CONFIGS},
     CMD_WRITES},
    {"saveconfig",
     saveconfig,
     "Save configuration file to disk",
     "usage: \n  saveconfig '<filname>'\nexample:\n  zirko saveconfig ~/Desktop/boxee",
     nullptr,
     {1, 1, CMD_ENDS_LINE, CMD_COMPLETE_FILES}},
};
const bool registered = register_cmds(kCommands, sizeof kCommands / sizeof kCommands[0]);

}  // namespace
