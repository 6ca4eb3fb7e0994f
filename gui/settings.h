#ifndef ZIRKO_GUI_SETTINGS_H
#define ZIRKO_GUI_SETTINGS_H

#include <cstdio>
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

// A switch is on only for exactly "true" or "True".
bool settingOn(const std::optional<std::string> &value);

// inih handler: stores the known keys of "logging" and returns 1; anything
// else returns 0 (counted as an error line, parsing goes on).
int settingsIniHandler(void *user, const char *section, const char *name, const char *value);

// Reads <exeDir>/zirko.ini and applies it to the library's log: threshold,
// USB library debug, and standard error reopened onto the log file (beside
// the program, or in <homeDir>/Desktop). Returns 0 when applied, -1 when the
// file could not be read (nothing changes then). *logFile receives the
// reopened stream, or null.
int loadSettings(const std::string &exeDir, const std::string &homeDir, FILE **logFile);

#endif  // ZIRKO_GUI_SETTINGS_H
