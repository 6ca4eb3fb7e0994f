#include "settings.h"

#include <ini.h>

#include <cstdlib>
#include <cstring>

#include "zirko.h"

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

int loadSettings(const std::string &exeDir, const std::string &homeDir, FILE **logFile) {
  *logFile = nullptr;
  const std::string path = exeDir + "/zirko.ini";
  LogSettings settings;
  // Error lines (positive results) don't stop the settings from applying.
  if (ini_parse(path.c_str(), settingsIniHandler, &settings) < 0) return -1;

  if (!settings.append) settings.append = "false";
  if (!settings.desktop) settings.desktop = "false";
  if (!settings.file) settings.file = "zirko_log.txt";
  if (!settings.libusb) settings.libusb = "false";

  if (settingOn(settings.libusb)) zk_set_libusb_debug(1);

  // The file name may carry further directories.
  const std::string logPath =
      (settingOn(settings.desktop) ? homeDir + "/Desktop" : exeDir) + "/" + *settings.file;
  if (settingOn(settings.logtofile)) {
    // Every log level writes to standard error, so all lines now land here.
    // A path that can't be opened leaves no log for the rest of the run.
    *logFile = std::freopen(logPath.c_str(), settingOn(settings.append) ? "a" : "w", stderr);
    // A reopened stream is block-buffered: lines would show late and a crash
    // would lose the last block.
    if (*logFile) std::setvbuf(*logFile, nullptr, _IOLBF, 0);
  }
  zk_set_log_level(settings.loglevel);
  return 0;
}
