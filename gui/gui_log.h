// Log lines of the desktop application in the library's line format:
// "[E] function(line): message\n". Messages are lowercase, as printed.
#ifndef ZIRKO_GUI_GUI_LOG_H
#define ZIRKO_GUI_GUI_LOG_H

#include "zirko.h"

#define ZK_GUI_LOG(level, letter, fmt, ...) \
  ZK_LOG_AT(level, letter, __func__, fmt __VA_OPT__(, ) __VA_ARGS__)
#define ZK_GUI_LOGE(fmt, ...) ZK_GUI_LOG(ZK_LOG_ERROR, "E", fmt __VA_OPT__(, ) __VA_ARGS__)
#define ZK_GUI_LOGI(fmt, ...) ZK_GUI_LOG(ZK_LOG_INFO, "I", fmt __VA_OPT__(, ) __VA_ARGS__)
#define ZK_GUI_LOGD(fmt, ...) ZK_GUI_LOG(ZK_LOG_DEBUG, "D", fmt __VA_OPT__(, ) __VA_ARGS__)
#define ZK_GUI_LOGV(fmt, ...) ZK_GUI_LOG(ZK_LOG_VERBOSE, "V", fmt __VA_OPT__(, ) __VA_ARGS__)

#endif  // ZIRKO_GUI_GUI_LOG_H
