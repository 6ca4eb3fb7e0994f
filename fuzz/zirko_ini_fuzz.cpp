// The desktop application's zirko.ini, through the same handler that
// loadSettings gives the INI reader.
#include <ini.h>

#include <cstdint>
#include <string>

#include "settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  LogSettings settings;
  ini_parse_string(text.c_str(), settingsIniHandler, &settings);
  for (const auto *value :
       {&settings.logtofile, &settings.file, &settings.append, &settings.desktop, &settings.libusb})
    settingOn(*value);
  return 0;
}
