#include "receiver.h"

#include <algorithm>
#include <cstring>

#include "usb_backend.h"

namespace zk::virt {

namespace {

// Generation 1 reports outcomes with its own numbering.
uint8_t outcome_of(StateCode code) {
  switch (code) {
    case kStateNoSpace:
      return kOutcomeNoSpace;
    case kStateExists:
      return kOutcomeExists;
    case kStateNotFound:
      return kOutcomeNotFound;
    default:
      return kOutcomeSuccess;
  }
}

uint32_t entry_hash(const uint8_t *entry) {
  return entry[0] | entry[1] << 8 | entry[2] << 16 | static_cast<uint32_t>(entry[3]) << 24;
}

}  // namespace

Receiver::Receiver(ReceiverState state) : state_(std::move(state)) {
  present_ = state_.plugged;
  if (present_) enumeration_ = 1;
  active_a_ = state_.eeprom[2];
  active_b_ = state_.eeprom[3];
}

Receiver::~Receiver() = default;

int Receiver::control(const Setup &setup, unsigned char *data) {
  std::lock_guard lock(mu_);
  update_presence_locked();
  if (!present_) return kUsbErrorNoDevice;
  for (const auto &failing : state_.failing_requests)
    if (failing.request_type == setup.request_type && failing.request == setup.request)
      return failing.error;
  unsigned char reply[kReplyCapacity] = {};
  int n = state_.mode == Mode::kBootloader ? bootloader_.control(*this, setup, data, reply)
                                           : firmware_control(setup, reply);
  cv_.notify_all();
  if (n <= 0 || !(setup.request_type & 0x80)) return n;
  n = std::min<int>(n, setup.length);
  if (n > 0) std::memcpy(data, reply, n);
  return n;
}

int Receiver::firmware_control(const Setup &setup, unsigned char *reply) {
  deliver_due_press_locked();
  const int generation = state_.fw_generation();
  if (setup.request_type == 0xC0) {
    switch (setup.request) {
      case 0 /* normal mode */:
        // A generation-1 outcome the host did not read yet is dropped with
        // the operation: the host has given up on it.
        if (wait_ != Wait::kNone) state_code_ = kStateIdle;
        wait_ = Wait::kNone;
        outcome_.reset();
        return 1;
      case 1 /* record mode */:
        record_key_ = static_cast<uint8_t>(setup.value);
        record_modifier_ = static_cast<uint8_t>(setup.index);
        start_wait(Wait::kRecord);
        return 1;
      case 2 /* delete mode */:
        start_wait(Wait::kDelete);
        return 1;
      case 3 /* format */: {
        const int size = std::clamp(state_.image_size(), kHeaderSize, kEepromSize);
        std::fill(state_.eeprom.begin() + kHeaderSize, state_.eeprom.begin() + size, 0xFF);
        state_.set_image_size(kHeaderSize);
        return 1;
      }
      case 4 /* delete by key */:
        reply[0] = static_cast<uint8_t>(
            delete_by_key(static_cast<uint8_t>(setup.value), static_cast<uint8_t>(setup.index)));
        return 2;
      case 5 /* read state */:
        if (generation == 1) return kUsbErrorPipe;
        reply[0] = state_code_;
        return 1;
      case 6 /* clear state */:
        state_code_ = kStateIdle;
        return 1;
      case 7 /* sleep detect */:
        if (setup.value > 1) return kUsbErrorPipe;
        state_.eeprom[3] = static_cast<uint8_t>((state_.eeprom[3] & 0x7F) | setup.value << 7);
        active_b_ = static_cast<uint8_t>((active_b_ & 0x7F) | setup.value << 7);
        return 1;
      default:
        return kUsbErrorPipe;
    }
  }
  if (setup.request_type != 0xC2) return kUsbErrorPipe;
  switch (setup.request) {
    case 1 /* firmware version */:
      return version_reply(state_.firmware, reply);
    case 2 /* EEPROM read */:
      return eeprom_read(setup, reply);
    case 3 /* EEPROM write */:
      return eeprom_write(setup, reply);
    case 4 /* bootloader version */:
      return version_reply(state_.bootloader, reply);
    case 5 /* enter bootloader */:
      if (setup.value != 0x5A) return kUsbErrorPipe;
      // The receiver resets at once: the host's request dies with it.
      leave_locked(Mode::kBootloader);
      return kUsbErrorNoDevice;
    case 6 /* restart */:
      return restart(reply);
    case 7 /* apply settings */:
      active_a_ = state_.eeprom[2];
      active_b_ = state_.eeprom[3];
      return 1;
    case 12 /* source-control hash */:
      for (int i = 0; i < 4; ++i) reply[i] = static_cast<uint8_t>(state_.scm_hash >> (8 * i));
      return 8;
    default:
      return kUsbErrorPipe;
  }
}

int Receiver::eeprom_read(const Setup &setup, unsigned char *reply) {
  if (setup.value >= kEepromSize) return kUsbErrorPipe;
  reply[0] = state_.eeprom[setup.value];
  return 1;
}

int Receiver::eeprom_write(const Setup &setup, unsigned char *reply) {
  if (setup.value >= kEepromSize || setup.index > 0xFF) return kUsbErrorPipe;
  state_.eeprom[setup.value] = static_cast<uint8_t>(setup.index);
  reply[0] = 0;
  return 1;
}

int Receiver::version_reply(const Version &version, unsigned char *reply) {
  reply[0] = version.major;
  reply[1] = version.minor;
  std::copy(version.date.begin(), version.date.end(), reply + 2);
  return 8;
}

int Receiver::restart(unsigned char *reply) {
  reply[0] = 0;
  Mode next = state_.mode;
  // A bootloader restarts into the firmware unless an upload was left
  // unfinished (upgrade flag, bit 7 of settings byte A).
  if (next == Mode::kBootloader && !(state_.eeprom[2] & 0x80)) next = Mode::kFirmware;
  leave_locked(next);
  return 1;
}

void Receiver::start_wait(Wait wait) {
  wait_ = wait;
  state_code_ = kStateWaiting;
  outcome_.reset();
  wait_started_ = Clock::now();
}

void Receiver::finish(StateCode code) {
  wait_ = Wait::kNone;
  state_code_ = code;
  if (state_.fw_generation() == 1) outcome_ = outcome_of(code);
}

void Receiver::press_locked(uint32_t hash) {
  if (!present_ || state_.mode != Mode::kFirmware) return;
  switch (wait_) {
    case Wait::kRecord:
      record_locked(hash);
      return;
    case Wait::kDelete:
      delete_locked(hash);
      return;
    case Wait::kNone:
      break;
  }
  if (!image_valid()) return;
  const int index = find_entry(hash);
  if (index < 0) return;
  const uint8_t *entry = &state_.eeprom[kHeaderSize + kEntrySize * index];
  reports_.push_back({hash, entry[5], entry[4]});
}

void Receiver::record_locked(uint32_t hash) {
  // A corrupt size leaves no room that could be trusted.
  if (!image_valid()) return finish(kStateNoSpace);
  if (find_entry(hash) >= 0) return finish(kStateExists);
  const int size = state_.image_size();
  if (size + kEntrySize > kImageRoom) return finish(kStateNoSpace);
  const int count = (size - kHeaderSize) / kEntrySize;
  uint8_t *entry = &state_.eeprom[kHeaderSize + kEntrySize * count];
  for (int i = 0; i < 4; ++i) entry[i] = static_cast<uint8_t>(hash >> (8 * i));
  entry[4] = record_modifier_;
  entry[5] = record_key_;
  state_.set_image_size(kHeaderSize + kEntrySize * (count + 1));
  finish(kStateDone);
}

void Receiver::delete_locked(uint32_t hash) {
  const int index = image_valid() ? find_entry(hash) : -1;
  if (index < 0) return finish(kStateNotFound);
  remove_entry(index, state_.image_size());
  finish(kStateDone);
}

bool Receiver::image_valid() const {
  const int size = state_.image_size();
  return size >= kHeaderSize && size <= kImageRoom;
}

int Receiver::find_entry(uint32_t hash) const {
  const int count = (state_.image_size() - kHeaderSize) / kEntrySize;
  for (int i = 0; i < count; ++i) {
    if (entry_hash(&state_.eeprom[kHeaderSize + kEntrySize * i]) == hash) return i;
  }
  return -1;
}

int Receiver::delete_by_key(uint8_t key, uint8_t modifier) {
  if (!image_valid()) return 0;
  int removed = 0;
  int count = (state_.image_size() - kHeaderSize) / kEntrySize;
  for (int i = 0; i < count;) {
    const uint8_t *entry = &state_.eeprom[kHeaderSize + kEntrySize * i];
    if (entry[5] == key && entry[4] == modifier) {
      remove_entry(i, state_.image_size());
      --count;
      ++removed;
    } else {
      ++i;
    }
  }
  return removed;
}

void Receiver::remove_entry(int index, int size) {
  auto begin = state_.eeprom.begin();
  const int at = kHeaderSize + kEntrySize * index;
  std::copy(begin + at + kEntrySize, begin + size, begin + at);
  std::fill(begin + size - kEntrySize, begin + size, 0xFF);
  state_.set_image_size(size - kEntrySize);
}

void Receiver::leave_locked(Mode next) {
  present_ = false;
  state_.mode = next;
  wait_ = Wait::kNone;
  state_code_ = kStateIdle;
  outcome_.reset();
  return_at_ = Clock::now() + std::chrono::milliseconds(std::max(0, state_.reenumerate_delay_ms));
  cv_.notify_all();
}

void Receiver::update_presence_locked() {
  if (!return_at_ || Clock::now() < *return_at_) return;
  return_at_.reset();
  present_ = true;
  ++enumeration_;
  active_a_ = state_.eeprom[2];
  active_b_ = state_.eeprom[3];
}

std::optional<Receiver::Clock::time_point> Receiver::next_press_time_locked() const {
  if (wait_ == Wait::kNone || !present_) return std::nullopt;
  if (state_.presses.empty() && !state_.auto_press) return std::nullopt;
  return wait_started_ + std::chrono::milliseconds(std::max(0, state_.press_delay_ms));
}

void Receiver::deliver_due_press_locked() {
  const auto due = next_press_time_locked();
  if (!due || Clock::now() < *due) return;
  uint32_t hash;
  if (!state_.presses.empty()) {
    hash = state_.presses.front();
    state_.presses.pop_front();
  } else {
    // A fresh button: spread the counter so hashes look like real ones, and
    // never repeat a stored one (that would read as "exists").
    do {
      uint32_t n = state_.next_fresh_hash++;
      hash = (n * 0x9E3779B1u) ^ (n >> 7);
    } while (hash == 0 || (image_valid() && find_entry(hash) >= 0));
  }
  press_locked(hash);
}

int Receiver::interrupt_read(uint8_t endpoint, unsigned char *data, int length, int *transferred,
                             unsigned int timeout_ms) {
  *transferred = 0;
  std::unique_lock lock(mu_);
  update_presence_locked();
  if (!present_) return kUsbErrorNoDevice;
  if (state_.mode != Mode::kFirmware || endpoint != kInterruptEndpoint) return kUsbErrorPipe;
  const uint64_t enumeration = enumeration_;
  std::optional<Clock::time_point> deadline;
  if (timeout_ms != 0) deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    if (!present_ || enumeration_ != enumeration) return kUsbErrorNoDevice;
    deliver_due_press_locked();
    if (outcome_ && length > 0) {
      data[0] = *outcome_;
      outcome_.reset();
      *transferred = 1;
      return kUsbSuccess;
    }
    if (deadline && Clock::now() >= *deadline) return kUsbErrorTimeout;
    auto wake = next_press_time_locked();
    if (deadline && (!wake || *deadline < *wake)) wake = deadline;
    if (wake) {
      cv_.wait_until(lock, *wake);
    } else {
      cv_.wait(lock);
    }
  }
}

void Receiver::press(uint32_t hash) {
  std::lock_guard lock(mu_);
  update_presence_locked();
  press_locked(hash);
  cv_.notify_all();
}

void Receiver::queue_press(uint32_t hash) {
  std::lock_guard lock(mu_);
  state_.presses.push_back(hash);
  cv_.notify_all();
}

void Receiver::unplug() {
  std::lock_guard lock(mu_);
  state_.plugged = false;
  leave_locked(state_.mode);
  return_at_.reset();
}

void Receiver::plug() {
  std::lock_guard lock(mu_);
  state_.plugged = true;
  update_presence_locked();
  if (present_) return;
  return_at_ = Clock::now();
  update_presence_locked();
  cv_.notify_all();
}

bool Receiver::present() {
  std::lock_guard lock(mu_);
  update_presence_locked();
  return present_;
}

uint64_t Receiver::enumeration() {
  std::lock_guard lock(mu_);
  update_presence_locked();
  return enumeration_;
}

void Receiver::reenumerate(Mode next) {
  std::lock_guard lock(mu_);
  leave_locked(next);
}

ReceiverState Receiver::snapshot() {
  std::lock_guard lock(mu_);
  return state_;
}

void Receiver::replace_state(const ReceiverState &state) {
  std::lock_guard lock(mu_);
  state_ = state;
  if (state_.plugged) {
    update_presence_locked();
    if (!present_) {
      return_at_ = Clock::now();
      update_presence_locked();
    }
  } else if (present_ || return_at_) {
    leave_locked(state_.mode);
    return_at_.reset();
  }
  cv_.notify_all();
}

std::vector<KeyReport> Receiver::key_reports() {
  std::lock_guard lock(mu_);
  return reports_;
}

uint8_t Receiver::state_code() {
  std::lock_guard lock(mu_);
  return state_code_;
}

bool Receiver::waiting_for_button() {
  std::lock_guard lock(mu_);
  return wait_ != Wait::kNone;
}

std::pair<uint8_t, uint8_t> Receiver::active_settings() {
  std::lock_guard lock(mu_);
  return {active_a_, active_b_};
}

void Receiver::edit(const std::function<void(ReceiverState &)> &change) {
  std::lock_guard lock(mu_);
  change(state_);
  cv_.notify_all();
}

}  // namespace zk::virt
