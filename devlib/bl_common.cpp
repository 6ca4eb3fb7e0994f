// Preparation, page loop and progress, shared by both bootloader generations.
#include "bl_common.h"

#include <cstdint>
#include <cstdio>

#include "zirko_history.h"

namespace zk::bl {

namespace {

struct DeviceInfo {
  int returned = 0;  // bytes of the reply, or the transfer's error
  int page_size = 0;
  int64_t device_size = 0;
};

// Request 0xC2/1 into a 10-byte buffer; the fields are little-endian.
DeviceInfo read_info(const Generation &g) {
  unsigned char reply[10] = {};
  DeviceInfo info;
  info.returned =
      zk_send_msg(0xC2, 1 /* device information */, 0, 0, reply, sizeof reply, kInfoTimeoutMs);
  const unsigned char *p = reply + g.info_offset;
  info.page_size = p[0] | p[1] << 8;
  info.device_size =
      int64_t(uint32_t(p[2]) | uint32_t(p[3]) << 8 | uint32_t(p[4]) << 16 | uint32_t(p[5]) << 24);
  ZK_LOGD_AS(g.info_fn, "size of data returned: %d", info.returned);
  ZK_LOGD_AS(g.info_fn, "page size: %d", info.page_size);
  ZK_LOGD_AS(g.info_fn, "device size: %d", int(info.device_size));
  return info;
}

// 0, or -13 after the reason; nothing has been written when it fails.
int pre_boot(const Generation &g, const unsigned char *image, int size) {
  DeviceInfo info = read_info(g);
  if (info.returned != g.info_length) {
    ZK_LOGE_AS(g.pre_boot_fn, "did not receive expected number of bytes");
    info = read_info(g);
    ZK_LOGD_AS(g.pre_boot_fn, "received: %d expected: %d", info.returned, g.info_length);
    return ZK_ERR_UPGRADE;
  }
  if (info.page_size != kPageSize) {
    ZK_LOGE_AS(g.pre_boot_fn, "page size not correct");
    return ZK_ERR_UPGRADE;
  }
  if (size > info.device_size - kBootloaderSize) {
    ZK_LOGE_AS(g.pre_boot_fn, "Not enough size on device");
    return ZK_ERR_UPGRADE;
  }
  // An empty image would leave the receiver with nothing to run, and has no
  // pages to show progress over.
  if (!image || size <= 0 || size % kPageSize != 0) {
    ZK_LOGE_AS(g.pre_boot_fn, "image provided is incorrect size");
    return ZK_ERR_UPGRADE;
  }
  int settings = zk_eeprom_peek(kFlagAddress);
  if (settings < 0) {
    ZK_LOGE_AS(g.pre_boot_fn, "could not read zirko memory");
    return ZK_ERR_UPGRADE;
  }
  ZK_LOGI_AS(g.pre_boot_fn, "settings: %02X", settings);
  if (zk_eeprom_poke(kFlagAddress, settings | kUpgradeFlag) < 0) return ZK_ERR_UPGRADE;
  return 0;
}

void report_progress(int done, int pages, void *callback_arg, zk_progress_cb callback) {
  if (callback) callback(done * 100 / pages, callback_arg);
  if (zk_progress_shown()) {
    fputs("\r\r", stdout);
    fflush(stdout);
  }
  zk_progress_bar(float(done), float(pages));
}

int write_buf(const Generation &g, const unsigned char *image, int size, void *callback_arg,
              zk_progress_cb callback) {
  const int pages = size / kPageSize;
  for (int i = 0; i < pages; ++i) {
    // Stopped between pages, the receiver stays in its bootloader with the
    // upgrade flag set, and the next upgrade completes it.
    if (zk_stop_requested()) {
      ZK_LOGE_AS(g.write_fn, "stopped before page %d of %d", i, pages);
      return ZK_ERR_UPGRADE;
    }
    if (g.send_page(image + i * kPageSize, i) < 0) {
      ZK_LOGE_AS(g.write_fn, "sending packet failed");
      return ZK_ERR_UPGRADE;
    }
    report_progress(i, pages, callback_arg, callback);
  }
  report_progress(pages, pages, callback_arg, callback);
  if (zk_progress_shown()) fputs("\n", stdout);
  return 0;
}

}  // namespace

int upload(const Generation &g, const unsigned char *image, int size, void *callback_arg,
           zk_progress_cb callback) {
  if (pre_boot(g, image, size) < 0) {
    ZK_LOGE_AS(g.upload_fn, "could not prep device");
    return ZK_ERR_UPGRADE;
  }
  if (write_buf(g, image, size, callback_arg, callback) < 0) return ZK_ERR_UPGRADE;
  if (g.post_boot() < 0) {
    ZK_LOGE_AS(g.upload_fn, "could not finish post boot ops");
    return ZK_ERR_UPGRADE;
  }
  return 0;
}

}  // namespace zk::bl
