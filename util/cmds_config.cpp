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

// Why the file cannot be read, as an errno value; 0 when it can.
int read_error(const std::string &path) {
  FILE *file = fopen(path.c_str(), "rb");
  if (!file) return errno;
  fclose(file);
  return is_directory(path.c_str()) ? EISDIR : 0;
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

// The file is the name as typed or, when there is no such file, the name with
// the extension that saveconfig adds.
int loadconfig(int argc, char **argv, const cmd_desc *cmd, void *, dict *) {
  std::string path = argv[0];
  int error = read_error(path);
  if (error == ENOENT && read_error(path + kExtension) == 0) {
    path += kExtension;
    error = 0;
  }
  if (error) return file_failed(argv[0], error);
  unsigned char *data = nullptr;
  const long length = file_to_buf(path.c_str(), &data, "rb");
  if (length < 0) return device_failed(ZK_ERR_FILE);
  const std::vector<unsigned char> image(data, data + length);
  free(data);
  printf("\nLoading Configuration File '%s' to Device\n", path.c_str());
  fflush(stdout);
  std::vector<unsigned char> current;
  if (int rc = read_current(current)) return device_failed(rc);
  if (int rc = write_over(change_name(cmd->name, 1, argv).c_str(), image, current)) return rc;
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
    ZK_LOG_AT(1, "E", "import", "%s", zk::map::describe(p, shown).c_str());
  print_error("Error: %s", zk::map::refusal(shown).c_str());
  return CMD_FAILED;
}

void report_kept(const zk::map::Plan &plan) {
  for (const zk::map::Kept &kept : plan.kept) printf("  %s\n", zk::map::describe(kept).c_str());
}

constexpr const char *kMergeKey = "merge";

// Every line is checked before the receiver is touched; the image is then
// written as loadconfig writes one.
int import_map(int argc, char **argv, const cmd_desc *cmd, void *, dict *opts) {
  const char *shown = shown_name(argv[0]);
  std::string text;
  if (int error = read_text(argv[0], text)) return file_failed(shown, error);
  const zk::map::Parsed map = zk::map::parse(text);
  if (!map.problems.empty()) return refuse_map(shown, map.problems);
  std::vector<unsigned char> current;  // its settings bytes are the ones written
  if (int rc = zk::map::read_receiver_image(current)) return device_failed(rc);
  const zk::map::Plan plan = zk::map::plan_import(map, current, dict_has(opts, kMergeKey));
  if (!plan.problems.empty()) return refuse_map(shown, plan.problems);
  report_kept(plan);
  printf("\nImporting Button Map '%s' to Device\n", shown);
  fflush(stdout);
  if (int rc = write_over(change_name(cmd->name, 1, argv).c_str(), plan.image, current)) return rc;
  printf("\n\nButton Map Imported: %zu buttons\n", zk::map::buttons_of(plan.image).size());
  return argc;
}

const cmd_option kImportOptions[] = {
    {kMergeKey, "add the map's buttons to those on the receiver", 0, "merge"},
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
     "usage: \n  import [--merge] <file>\n"
     "  replaces the recorded buttons with those of the map (- reads standard\n"
     "  input); the settings stay. Every line is checked first: a map with a\n"
     "  bad line is refused whole.\n"
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
