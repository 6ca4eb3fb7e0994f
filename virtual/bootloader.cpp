#include "bootloader.h"

#include <algorithm>
#include <cstring>

#include "clock.h"
#include "image.h"
#include "receiver.h"
#include "usb_backend.h"

namespace zk::virt {

namespace {

constexpr int kV1PacketSize = 132;  // 4 unused bytes, then the page
constexpr int kV1PageOffset = 4;
constexpr int kV2PacketSize = 131;  // page, page number, CRC-8
constexpr int kV2NumberOffset = 128;
constexpr int kV2CrcOffset = 130;
constexpr int kFlagAddress = 2;         // upgrade flag: bit 7 of settings byte A
constexpr uint8_t kUpgradeFlag = 0x80;  // set by the host while an upload is unfinished
constexpr int kLeaveMarkAddress = 4;    // the host's "leave" mark, in the reserved byte
constexpr uint8_t kLeaveMark = 0x50;
constexpr int kPages = kApplicationSize / kFlashPageSize;

// Polynomial 0x07, initial 0, no reflection: what the host puts in byte 130.
uint8_t crc8(const unsigned char *bytes, int size) {
  uint8_t crc = 0;
  for (int i = 0; i < size; ++i) {
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; ++bit)
      crc = crc & 0x80 ? uint8_t(crc << 1 ^ 0x07) : uint8_t(crc << 1);
  }
  return crc;
}

}  // namespace

bool uploaded_firmware_sound(const ReceiverState &state) {
  return state.flash.empty() || check_image(state.flash).has_value();
}

bool start_uploaded_firmware(ReceiverState &state) {
  if (state.flash.empty()) return true;  // never upgraded: the factory firmware
  const auto image = check_image(state.flash);
  if (!image) return false;
  state.firmware = image->version;
  state.firmware_generation = image->generation;
  state.scm_hash = image->scm_hash;
  return true;
}

int Bootloader::control(Receiver &receiver, const Setup &setup, const unsigned char *out,
                        unsigned char *reply) {
  const int generation = receiver.state_.bl_generation();
  if (setup.request_type == 0x42) {
    if (setup.request != 9 /* page packet */) return kUsbErrorPipe;
    return generation == 1 ? page_v1(receiver, setup, out) : page_v2(receiver, setup, out);
  }
  if (setup.request_type != 0xC2) return kUsbErrorPipe;
  switch (setup.request) {
    case 1 /* device information */:
      return device_info(receiver, reply);
    case 2 /* EEPROM read */:
      return receiver.eeprom_read(setup, reply);
    case 3 /* EEPROM write */:
      return receiver.eeprom_write(setup, reply);
    case 4 /* bootloader version */:
      return receiver.version_reply(receiver.state_.bootloader, reply);
    case 6 /* restart */:
      return restart(receiver, reply);
    case 9 /* generation 1: leave */:
      if (generation != 1 || setup.value != 11) return kUsbErrorPipe;
      return leave(receiver);
    case 10 /* generation 2: page status */:
      if (generation != 2) return kUsbErrorPipe;
      return page_status(receiver, reply);
    case 11 /* generation 2: leave */:
      if (generation != 2) return kUsbErrorPipe;
      return leave(receiver);
    default:
      return kUsbErrorPipe;
  }
}

int Bootloader::device_info(Receiver &receiver, unsigned char *reply) {
  const int generation = receiver.state_.bl_generation();
  // Generation 1 leads with a byte of no meaning.
  unsigned char *p = reply + (generation == 1 ? 1 : 0);
  const int page_size = receiver.state_.bootloader_faults.info_page_size;
  const int reported = page_size > 0 ? page_size : kFlashPageSize;
  p[0] = static_cast<uint8_t>(reported);
  p[1] = static_cast<uint8_t>(reported >> 8);
  for (int i = 0; i < 4; ++i) p[2 + i] = static_cast<uint8_t>(kFlashSize >> (8 * i));
  const int wanted = receiver.state_.bootloader_faults.info_length;
  if (wanted > 0) return std::min(wanted, kReplyCapacity);
  return generation == 1 ? 7 : 6;
}

bool Bootloader::pulled_out_at(Receiver &receiver, int page) {
  BootloaderFaults &faults = receiver.state_.bootloader_faults;
  if (faults.unplug_at_page < 0 || faults.unplug_at_page != page) return false;
  faults.unplug_at_page = -1;
  // Plugged in again at once: it starts its bootloader, as the flag is set.
  receiver.leave_now_locked(Mode::kBootloader, now_ms());
  return true;
}

void Bootloader::write_page(Receiver &receiver, int page, const unsigned char *bytes) {
  std::vector<uint8_t> &flash = receiver.state_.flash;
  int &next_page = receiver.run_.boot.next_page;
  // A new upload erases the application first, so that a half-written image
  // can never pass for the old one.
  if (page == 0 && next_page != 1) flash.clear();
  const size_t end = static_cast<size_t>(page + 1) * kFlashPageSize;
  if (flash.size() < end) flash.resize(end, 0xFF);  // erased cells read 0xFF
  std::memcpy(flash.data() + end - kFlashPageSize, bytes, kFlashPageSize);
  next_page = std::max(next_page, page + 1);
}

int Bootloader::page_v1(Receiver &receiver, const Setup &setup, const unsigned char *out) {
  if (setup.value != 2) return kUsbErrorPipe;
  const int page = receiver.run_.boot.next_page;
  if (pulled_out_at(receiver, page)) return kUsbErrorNoDevice;
  if (page >= kPages) return kUsbErrorPipe;  // would overwrite the bootloader
  // Part of a page cannot be written; the host hears how much arrived.
  if (setup.length >= kV1PacketSize) write_page(receiver, page, out + kV1PageOffset);
  return setup.length;
}

int Bootloader::page_v2(Receiver &receiver, const Setup &setup, const unsigned char *out) {
  if (setup.value != 0) return kUsbErrorPipe;
  auto &status = receiver.run_.boot.status;
  status.fill(0);
  if (setup.length < kV2PacketSize) {
    status[4] = kPageShort;
    return setup.length;
  }
  const int page = out[kV2NumberOffset] | out[kV2NumberOffset + 1] << 8;
  status[0] = out[kV2NumberOffset];
  status[1] = out[kV2NumberOffset + 1];
  status[2] = out[kV2CrcOffset];
  status[3] = crc8(out, kV2CrcOffset);
  if (pulled_out_at(receiver, page)) return kUsbErrorNoDevice;
  BootloaderFaults &faults = receiver.state_.bootloader_faults;
  if (faults.reject_page == page && faults.reject_times > 0) {
    --faults.reject_times;
    status[3] = static_cast<uint8_t>(~status[2]);  // as a corrupted packet would read
  }
  if (status[2] != status[3]) {
    status[4] = kPageCrcMismatch;
  } else if (page > receiver.run_.boot.next_page || page >= kPages) {
    status[4] = kPageOutOfOrder;
  } else {
    write_page(receiver, page, out);
    status[4] = kPageTaken;
  }
  return setup.length;
}

int Bootloader::page_status(Receiver &receiver, unsigned char *reply) {
  const auto &status = receiver.run_.boot.status;
  std::copy(status.begin(), status.end(), reply);
  return static_cast<int>(status.size());
}

int Bootloader::restart(Receiver &receiver, unsigned char *reply) {
  const ReceiverState &state = receiver.state_;
  if (receiver.leaving()) return kUsbErrorIo;
  reply[0] = 0;
  // Generation 2 keeps its bootloader after an unfinished upload (upgrade
  // flag set); generation 1, whose hosts never clear the flag, goes by the
  // image alone.
  const bool unfinished = state.bl_generation() == 2 && state.eeprom[kFlagAddress] & kUpgradeFlag;
  const bool boots = !unfinished && uploaded_firmware_sound(state);
  receiver.switch_mode_locked(boots ? Mode::kFirmware : Mode::kBootloader);
  return 1;
}

// The receiver restarts instead of answering; the upgrade flag is the
// host's to clear.
int Bootloader::leave(Receiver &receiver) {
  ReceiverState &state = receiver.state_;
  const bool boots = uploaded_firmware_sound(state);
  // The mark has served its purpose; the reserved byte reads 0 again.
  if (boots && state.eeprom[kLeaveMarkAddress] == kLeaveMark) state.eeprom[kLeaveMarkAddress] = 0;
  return receiver.switch_mode_locked(boots ? Mode::kFirmware : Mode::kBootloader,
                                     state.bootloader_faults.stay_away_after_leave);
}

}  // namespace zk::virt
