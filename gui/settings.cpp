#include "settings.h"

#include <fcntl.h>
#include <ini.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "zirko.h"

namespace {

std::string homeFolder() {
  if (const char *home = std::getenv("HOME"); home && *home) return home;
  const passwd *user = getpwuid(getuid());
  return user && user->pw_dir ? user->pw_dir : "/";
}

// XDG folders given as relative paths are ignored, as XDG asks.
std::string xdgFolder(const char *variable, const std::string &fallback) {
  const char *value = std::getenv(variable);
  return value && value[0] == '/' ? std::string(value) : fallback;
}

void warnLogFile(const std::string &path, const char *why) {
  ZK_LOGW("cannot log to %s: %s; logging to standard error\n", path.c_str(), why);
}

// Points standard error at the log file. Nothing but a regular file is
// taken: opening a FIFO would block the start-up until a reader came, and a
// device would take the log elsewhere. Anything refused leaves standard error
// as it was, with one warning.
bool redirectStandardError(const std::string &path, bool append) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    warnLogFile(path, "not a regular file");
    return false;
  }
  // Non-blocking, so that a FIFO put there since the check can't block either.
  const int fd = open(path.c_str(),
                      O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC | (append ? O_APPEND : 0), 0666);
  if (fd < 0) {
    warnLogFile(path, std::strerror(errno));
    return false;
  }
  const char *refused = nullptr;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
    refused = "not a regular file";
  else if (!append && ftruncate(fd, 0) != 0)
    refused = std::strerror(errno);
  if (refused) {
    close(fd);
    warnLogFile(path, refused);
    return false;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::fflush(stderr);
  const bool moved = dup2(fd, STDERR_FILENO) >= 0;
  const int error = errno;
  close(fd);
  if (!moved) warnLogFile(path, std::strerror(error));
  return moved;
}

// A log under the state folder gets its folders made, private to the user
// as XDG asks of the state folder; one that can't be made shows when the log
// file is opened.
void makeStateFolders(const SettingsPaths &paths, const std::string &logPath) {
  const std::filesystem::path folder = paths.stateHome + "/zirko";
  if (logPath.rfind(folder.string() + "/", 0) != 0) return;
  std::error_code error;
  std::filesystem::create_directories(paths.stateHome, error);
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return;
  std::filesystem::create_directories(std::filesystem::path(logPath).parent_path(), error);
}

}  // namespace

SettingsPaths SettingsPaths::fromEnvironment(const std::string &exeDir) {
  const std::string home = homeFolder();
  return {exeDir, xdgFolder("XDG_CONFIG_HOME", home + "/.config"),
          xdgFolder("XDG_STATE_HOME", home + "/.local/state"), home};
}

bool settingOn(const std::optional<std::string> &value) {
  return value && (*value == "true" || *value == "True");
}

int settingsIniHandler(void *user, const char *section, const char *name, const char *value) {
  auto *settings = static_cast<LogSettings *>(user);
  if (std::strcmp(section, "logging") != 0) return 0;
  if (std::strcmp(name, "loglevel") == 0)
    settings->loglevel = std::atoi(value);
  else if (std::strcmp(name, "logtofile") == 0)
    settings->logtofile = value;
  else if (std::strcmp(name, "file") == 0)
    settings->file = value;
  else if (std::strcmp(name, "append") == 0)
    settings->append = value;
  else if (std::strcmp(name, "desktop") == 0)
    settings->desktop = value;
  else if (std::strcmp(name, "libusb") == 0)
    settings->libusb = value;
  else
    return 0;
  return 1;
}

std::string settingsFilePath(const SettingsPaths &paths) {
  const std::string beside = paths.exeDir + "/zirko.ini";
  std::error_code error;
  if (std::filesystem::exists(beside, error)) return beside;
  return paths.configHome + "/zirko/zirko.ini";
}

std::string logFilePath(const SettingsPaths &paths, const LogSettings &settings) {
  const std::string file = settings.file.value_or("zirko_log.txt");
  if (settingOn(settings.desktop)) return paths.homeDir + "/Desktop/" + file;
  if (!file.empty() && file[0] == '/') return file;
  return paths.stateHome + "/zirko/" + file;
}

int loadSettings(const SettingsPaths &paths) {
  LogSettings settings;
  // Error lines (positive results) don't stop the settings from applying.
  if (ini_parse(settingsFilePath(paths).c_str(), settingsIniHandler, &settings) < 0) return -1;

  if (!settings.append) settings.append = "false";
  if (!settings.desktop) settings.desktop = "false";
  if (!settings.file) settings.file = "zirko_log.txt";
  if (!settings.libusb) settings.libusb = "false";

  if (settingOn(settings.libusb)) zk_set_libusb_debug(1);

  if (settingOn(settings.logtofile)) {
    const std::string path = logFilePath(paths, settings);
    makeStateFolders(paths, path);
    // Every log level writes to standard error, so all lines now land there.
    redirectStandardError(path, settingOn(settings.append));
  }
  zk_set_log_level(settings.loglevel);
  return 0;
}
