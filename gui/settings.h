#ifndef ZIRKO_GUI_SETTINGS_H
#define ZIRKO_GUI_SETTINGS_H

#include <optional>
#include <string>

// The "logging" section of zirko.ini. Values are kept as the text read;
// a key that occurs twice keeps its later value.
struct LogSettings {
  int loglevel = 0;  // missing: 0, which turns the log off
  std::optional<std::string> logtofile;
  std::optional<std::string> file;
  std::optional<std::string> append;
  std::optional<std::string> desktop;
  std::optional<std::string> libusb;
};

// The folders the settings file and the log file are looked for in.
struct SettingsPaths {
  std::string exeDir;      // the program's folder: a zirko.ini there wins
  std::string configHome;  // $XDG_CONFIG_HOME, or ~/.config
  std::string stateHome;   // $XDG_STATE_HOME, or ~/.local/state
  std::string homeDir;     // desktop=true puts the log in its Desktop folder

  // From the environment; unset, empty or relative XDG folders take their
  // defaults under the home folder.
  static SettingsPaths fromEnvironment(const std::string &exeDir);
};

// A switch is on only for exactly "true" or "True".
bool settingOn(const std::optional<std::string> &value);

// inih handler: stores the known keys of "logging" and returns 1; anything
// else returns 0 (counted as an error line, parsing goes on).
int settingsIniHandler(void *user, const char *section, const char *name, const char *value);

// <exeDir>/zirko.ini when there is one (a portable install), otherwise
// <configHome>/zirko/zirko.ini.
std::string settingsFilePath(const SettingsPaths &paths);

// Where the log goes: <homeDir>/Desktop/<file> with desktop=true, the file
// name itself when absolute, otherwise <stateHome>/zirko/<file>.
std::string logFilePath(const SettingsPaths &paths, const LogSettings &settings);

// Reads the settings file and applies it to the library's log: threshold,
// USB library debug, and standard error pointed at the log file. A log file
// that can't be written, or that is not a regular file, gets one warning on
// standard error, which stays the log. Returns 0 when applied, -1 when the
// settings file could not be read (nothing changes then).
int loadSettings(const SettingsPaths &paths);

#endif  // ZIRKO_GUI_SETTINGS_H
