// Bootloader generation 1 (bootloader 1.x and unknown versions): unnumbered
// pages written in order, no page status, and no way back to the firmware
// but a finished upload.
#include <cstring>

#include "bl_common.h"

namespace {

using namespace zk::bl;

constexpr int kPacketSize = 132;  // 4 header bytes, then the page
constexpr int kPageOffset = 4;

int zk_ver1_leave_bootloader() {
  ZK_LOGE("invalid command, please upload a new image");
  return ZK_ERR_UNSUPPORTED;
}

// This generation never clears the upgrade flag, so it cannot tell.
int zk_ver1_last_upgrade_attempt() {
  return 1;
}

int zk_ver1_send_packet(const unsigned char *page, int) {
  // The header bytes mean nothing to the bootloader; zeros keep stale stack
  // memory off the bus.
  unsigned char packet[kPacketSize] = {};
  memcpy(packet + kPageOffset, page, kPageSize);
  int sent = zk_send_msg(0x42, 9 /* page packet */, 2, 0, packet, kPacketSize, 0 /* no limit */);
  // There is no page status to catch a short transfer later: it fails here.
  if (sent == kPacketSize) return 0;
  ZK_LOGI("error, stopping");
  return ZK_ERR_UPGRADE;
}

int zk_ver1_post_boot() {
  unsigned char reply[1] = {0};
  // The receiver restarts into the new firmware instead of answering.
  if (zk_send_msg(0xC2, 9 /* leave bootloader */, 11, 0, reply, 1, kTimeoutMs) < 0) return 0;
  ZK_LOGE("could not leave bootloader");
  return ZK_ERR_UPGRADE;
}

constexpr Generation kVer1{
    .upload_fn = "zk_ver1_upload_fw",
    .pre_boot_fn = "zk_ver1_pre_boot",
    .info_fn = "zk_ver1_get_dev_info",
    .write_fn = "zk_ver1_write_buf",
    .info_length = 7,
    .info_offset = 1,  // byte 0 is not used
    .send_page = zk_ver1_send_packet,
    .post_boot = zk_ver1_post_boot,
};

int zk_ver1_upload_fw(const unsigned char *image, int size, void *callback_arg,
                      zk_progress_cb callback) {
  return upload(kVer1, image, size, callback_arg, callback);
}

}  // namespace

zk_ops *zk_bl_ver1_init() {
  zk_ops *ops = zk_new_ops(__func__);
  if (!ops) return nullptr;
  ops->version_str = zk_bl_version_str;
  ops->leave_bootloader = zk_ver1_leave_bootloader;
  ops->reboot = zk::restart;
  ops->last_upgrade_attempt = zk_ver1_last_upgrade_attempt;
  ops->upload_fw = zk_ver1_upload_fw;
  return ops;
}
