// Bootloader generation 2 (bootloader 2.0 and 2.1): numbered pages with a
// CRC-8, a status per page with retries, and an upgrade flag that the host
// clears once every page is in.
#include <cstdio>
#include <cstring>

#include "bl_common.h"

namespace {

using namespace zk::bl;

constexpr int kPacketSize = 131;  // page, page number (2 bytes), CRC-8
constexpr int kNumberOffset = 128;
constexpr int kCrcOffset = 130;
constexpr int kStatusSize = 5;
constexpr int kMaxRetries = 100;  // so a page is sent at most 101 times
constexpr int kLeaveMarkAddress = zk::layout::kReservedAddr;
using zk::layout::kLeaveMark;

int zk_ver2_leave_bootloader() {
  if (zk_eeprom_poke(kLeaveMarkAddress, kLeaveMark) < 0) {
    ZK_LOGD("could not write memory");
    return ZK_ERR_UPGRADE;
  }
  unsigned char reply[1] = {0};
  // Ignored: the receiver restarts rather than answering.
  zk_send_msg(0xC2, 11 /* leave bootloader */, 0, 0, reply, 1, kTimeoutMs);
  return 0;
}

int zk_ver2_last_upgrade_attempt() {
  if (zk_eeprom_peek(kFlagAddress) < 0) return ZK_ERR_FAILED;
  int settings = zk_eeprom_peek(kFlagAddress);
  if (settings < 0) return ZK_ERR_FAILED;
  return settings & kUpgradeFlag ? 1 : 0;
}

// True when the status was read and byte 4 says the page was taken.
bool zk_ver2_check_boot_status() {
  unsigned char status[kStatusSize] = {};
  int read = zk_send_msg(0xC2, 10 /* page status */, 0, 0, status, kStatusSize, kTimeoutMs);
  // A short reply has no byte 4 to trust.
  if (read < kStatusSize) return false;
  if (status[4] == 0) return true;
  ZK_LOGD("Output Dump:");
  for (unsigned char byte : status) zk_log(ZK_LOG_DEBUG, "%02X ", byte);
  zk_log(ZK_LOG_DEBUG, "\n");
  return false;
}

// "CRC mismatch" when the whole packet went out, else what did.
const char *rejection(int sent, char (&text)[32]) {
  if (sent == kPacketSize) return "CRC mismatch";
  snprintf(text, sizeof text, "%d != %d", kPacketSize, sent);
  return text;
}

// Every page starts with no retries: a refused page ends the upload.
int zk_ver2_send_packet(const unsigned char *packet, int number) {
  int retries = 0;
  for (;;) {
    int sent = zk_send_msg(0x42, 9 /* page packet */, 0, 0, const_cast<unsigned char *>(packet),
                           kPacketSize, 0 /* no limit */);
    bool taken = zk_ver2_check_boot_status();
    if (taken && sent == kPacketSize) break;
    char text[32];
    ZK_LOGI("%s", rejection(sent, text));
    if (retries < kMaxRetries) {
      ++retries;
      continue;
    }
    ZK_LOGE("Page %d Error: ", number);
    ZK_LOGE("%s", rejection(sent, text));
    ZK_LOGE("Page failed");
    return ZK_ERR_FAILED;
  }
  ZK_LOGI("retried this many times: %d", retries);
  // Only an acceptance within the first 100 sends counts.
  if (retries == kMaxRetries) {
    ZK_LOGE("Page failed");
    return ZK_ERR_FAILED;
  }
  return 0;
}

int send_page(const unsigned char *page, int number) {
  unsigned char packet[kPacketSize];
  memcpy(packet, page, kPageSize);
  packet[kNumberOffset] = uint8_t(number);
  packet[kNumberOffset + 1] = uint8_t(number >> 8);
  packet[kCrcOffset] = zk_crc8(packet, kCrcOffset);
  return zk_ver2_send_packet(packet, number);
}

int zk_ver2_post_boot() {
  int settings = zk_eeprom_peek(kFlagAddress);
  if (settings < 0) return ZK_ERR_UPGRADE;
  if (zk_eeprom_poke(kFlagAddress, settings & ~kUpgradeFlag) < 0) {
    ZK_LOGE("crc error, wont leave bootloader");
    return ZK_ERR_UPGRADE;
  }
  if (zk_ver2_leave_bootloader() < 0) {
    ZK_LOGE("could not leave bootloader");
    return ZK_ERR_UPGRADE;
  }
  return 0;
}

constexpr Generation kVer2{
    .upload_fn = "zk_ver2_upload_fw",
    .pre_boot_fn = "zk_ver2_pre_boot",
    .info_fn = "zk_ver2_get_dev_info",
    .write_fn = "zk_ver2_write_buf",
    .info_length = 6,
    .info_offset = 0,
    .send_page = send_page,
    .post_boot = zk_ver2_post_boot,
};

int zk_ver2_upload_fw(const unsigned char *image, int size, void *callback_arg,
                      zk_progress_cb callback) {
  return upload(kVer2, image, size, callback_arg, callback);
}

}  // namespace

zk_ops *zk_bl_ver2_init() {
  zk_ops *ops = zk_new_ops(__func__);
  if (!ops) return nullptr;
  ops->version_str = zk_bl_version_str;
  ops->leave_bootloader = zk_ver2_leave_bootloader;
  ops->reboot = zk::restart;
  ops->last_upgrade_attempt = zk_ver2_last_upgrade_attempt;
  ops->upload_fw = zk_ver2_upload_fw;
  return ops;
}
