// Backing up the receiver's configuration image to a file and restoring it.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "commands.h"

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

int saveconfig(int argc, char **argv, const cmd_desc *, void *, dict *) {
  size_t longest = kPathSize - 1 - strlen(kExtension);
  if (strlen(argv[0]) > longest) {
    printf("Error, file name too long (at most %zu characters)\n", longest);
    return CMD_FAILED;
  }
  const std::string path = argv[0] + std::string(kExtension);
  if (int error = write_error(path)) return file_failed(path.c_str(), error);
  printf("\nSaving Configuration File '%s' to Disk\n", path.c_str());
  fflush(stdout);
  int rc = zk_save_config(path.c_str());
  if (rc != 0) return device_failed(rc);
  printf("\n\nConfiguration File saved\n");
  return argc;
}

// The file is the name as typed or, when there is no such file, the name with
// the extension that saveconfig adds.
int loadconfig(int argc, char **argv, const cmd_desc *, void *, dict *) {
  std::string path = argv[0];
  int error = read_error(path);
  if (error == ENOENT && read_error(path + kExtension) == 0) {
    path += kExtension;
    error = 0;
  }
  if (error) return file_failed(argv[0], error);
  printf("\nLoading Configuration File '%s' to Device\n", path.c_str());
  fflush(stdout);
  int rc = zk_load_config(path.c_str());
  if (rc != 0) return device_failed(rc);
  printf("\n\nConfiguration File Loaded Successfully\n");
  return argc;
}

const cmd_desc kCommands[] = {
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
