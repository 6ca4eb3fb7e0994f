#include "receiver.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>

#include "clock.h"
#include "usb_backend.h"

namespace zk::virt {

namespace {

// How often a waiting interrupt read looks at a shared receiver: other
// programs cannot wake it.
constexpr int64_t kSharedPollMs = 20;
// Bytes a stored button takes: the entry and the two size bytes.
constexpr int kRecordBytes = kEntrySize + 2;

// Generation 1 reports outcomes with its own numbering.
uint8_t outcome_of(uint8_t code) {
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

// The earlier of two times, -1 standing for none.
int64_t earlier(int64_t a, int64_t b) {
  if (a < 0) return b;
  if (b < 0) return a;
  return std::min(a, b);
}

}  // namespace

// One step of the receiver: its lock (and the shared state's) held, with
// what other programs stored taken up first and what this one changed
// stored last.
class Receiver::Session {
 public:
  explicit Session(Receiver &receiver) : r_(receiver), lock_(receiver.mu_) { r_.open_locked(); }
  ~Session() { r_.close_locked(); }
  Session(const Session &) = delete;
  Session &operator=(const Session &) = delete;

  // Lets other threads and programs at the receiver for up to `ms` (-1:
  // until this program changes it).
  void pause(int64_t ms) {
    r_.close_locked();
    if (ms < 0) {
      r_.cv_.wait(lock_);
    } else if (wall_clock_in_use()) {
      r_.cv_.wait_for(lock_, std::chrono::milliseconds(ms));
    } else {
      lock_.unlock();
      clock().sleep_ms(ms);
      lock_.lock();
    }
    r_.open_locked();
  }

 private:
  Receiver &r_;
  std::unique_lock<std::mutex> lock_;
};

Receiver::Receiver(ReceiverState state, SharedState *shared)
    : shared_(shared), state_(std::move(state)) {}

Receiver::~Receiver() = default;

void Receiver::open_locked() {
  if (shared_) usable_ = shared_->lock_and_load(state_, run_);
  follow_time_locked();
}

void Receiver::close_locked() {
  if (shared_) shared_->store_and_unlock(state_, run_);
  cv_.notify_all();
}

// Everything that happened since the last step: by hand (an edited state),
// by the clock (leaving, coming back, finished work, a due press).
void Receiver::follow_time_locked() {
  const int64_t now = now_ms();
  if (!usable_) {
    run_.present = false;
    run_.return_at = run_.leave_at = -1;
    return;
  }
  // What the receiver is was changed by hand: as if pulled out and plugged
  // in again.
  if (run_.present && run_.identity != identity_hash(state_)) arrive_locked(now);
  if (run_.leave_at >= 0 && now >= run_.leave_at) leave_now_locked(run_.leave_to, run_.leave_at);
  if (!state_.plugged) {
    if (run_.present || run_.return_at >= 0 || run_.leave_at >= 0) go_off_locked();
  } else if (!run_.present && run_.leave_at < 0 && now >= run_.return_at) {
    arrive_locked(now);
  }
  settle_outcome_locked();
  deliver_due_press_locked();
}

int64_t Receiver::next_event_locked() const {
  int64_t next = earlier(next_press_time_locked(), run_.final_at);
  return earlier(next, run_.leave_at);
}

int Receiver::control(const Setup &setup, unsigned char *data, unsigned int timeout_ms,
                      uint64_t enumeration) {
  Session session(*this);
  const int64_t deadline = timeout_ms ? now_ms() + timeout_ms : -1;
  auto gone = [&] { return !run_.present || (enumeration && run_.enumeration != enumeration); };
  int ended = 0;
  // Waits until the receiver is done with its work (`busy` is read again
  // after each pause: another program may have given it more); false when
  // the transfer ended first, its result in `ended`.
  auto wait_for = [&](const int64_t &busy) {
    for (int64_t now = now_ms(); now < busy && !gone(); now = now_ms()) {
      if (deadline >= 0 && now >= deadline) break;
      session.pause((deadline >= 0 ? std::min(busy, deadline) : busy) - now);
    }
    ended = gone() ? kUsbErrorNoDevice : now_ms() < busy ? kUsbErrorTimeout : 0;
    return ended == 0;
  };
  // One request at a time: the EEPROM work of an earlier one delays this one.
  if (!wait_for(run_.busy_until)) return ended;
  unsigned char reply[kReplyCapacity] = {};
  work_ms_ = 0;
  int n = serve(setup, data, reply);
  if (work_ms_ > 0) {
    const int64_t done = now_ms() + work_ms_;
    run_.busy_until = done;
    if (!wait_for(done)) return ended;
  }
  if (n <= 0 || !(setup.request_type & 0x80)) return n;
  n = std::min<int>(n, setup.length);
  if (n > 0) std::memcpy(data, reply, n);
  return n;
}

int Receiver::serve(const Setup &setup, unsigned char *data, unsigned char *reply) {
  for (const auto &failing : state_.failing_requests)
    if (failing.request_type == setup.request_type && failing.request == setup.request)
      return failing.error;
  return state_.mode == Mode::kBootloader ? bootloader_.control(*this, setup, data, reply)
                                          : firmware_control(setup, reply);
}

int Receiver::firmware_control(const Setup &setup, unsigned char *reply) {
  if (setup.request_type == 0xC0) {
    switch (setup.request) {
      case 0 /* normal mode */:
        // A generation-1 outcome the host did not read yet is dropped with
        // the operation: the host has given up on it.
        if (run_.wait != Wait::kNone) run_.state_code = kStateIdle;
        run_.wait = Wait::kNone;
        run_.outcome_ready = run_.outcome_due = false;
        return 1;
      case 1 /* record mode */:
        run_.record_key = static_cast<uint8_t>(setup.value);
        run_.record_modifier = static_cast<uint8_t>(setup.index);
        start_wait(Wait::kRecord);
        return 1;
      case 2 /* delete mode */:
        start_wait(Wait::kDelete);
        return 1;
      case 3 /* format */: {
        const int size = std::clamp(state_.image_size(), kHeaderSize, kEepromSize);
        std::fill(state_.eeprom.begin() + kHeaderSize, state_.eeprom.begin() + size, 0xFF);
        state_.set_image_size(kHeaderSize);
        work(state_.format_ms);
        return 1;
      }
      case 4 /* delete by key */:
        reply[0] = static_cast<uint8_t>(
            delete_by_key(static_cast<uint8_t>(setup.value), static_cast<uint8_t>(setup.index)));
        return 2;
      case 5 /* read state */:
        return read_state(reply);
      case 6 /* clear state */:
        run_.state_code = kStateIdle;
        return 1;
      case 7 /* sleep detect */:
        if (setup.value > 1) return kUsbErrorPipe;
        state_.eeprom[3] = static_cast<uint8_t>((state_.eeprom[3] & 0x7F) | setup.value << 7);
        run_.active_b = static_cast<uint8_t>((run_.active_b & 0x7F) | setup.value << 7);
        work(state_.eeprom_write_ms);
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
      return switch_mode_locked(Mode::kBootloader);
    case 6 /* restart */:
      return restart(reply);
    case 7 /* apply settings */:
      run_.active_a = state_.eeprom[2];
      run_.active_b = state_.eeprom[3];
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
  work(state_.eeprom_write_ms);
  reply[0] = 0;
  return 1;
}

int Receiver::version_reply(const Version &version, unsigned char *reply) {
  reply[0] = version.major;
  reply[1] = version.minor;
  std::copy(version.date.begin(), version.date.end(), reply + 2);
  return 8;
}

int Receiver::read_state(unsigned char *reply) {
  if (state_.fw_generation() == 1) return kUsbErrorPipe;
  const int forced = state_.report_state_code;
  reply[0] = forced >= 0 ? static_cast<uint8_t>(forced) : run_.state_code;
  return 1;
}

int Receiver::restart(unsigned char *reply) {
  if (leaving()) return kUsbErrorIo;
  reply[0] = 0;
  switch_mode_locked(Mode::kFirmware);
  return 1;
}

void Receiver::start_wait(Wait wait) {
  forget_operation_locked();
  run_.wait = wait;
  run_.state_code = kStateWaiting;
  run_.wait_started = now_ms();
}

void Receiver::finish(StateCode code, int bytes_written) {
  run_.wait = Wait::kNone;
  run_.state_code = kStateBusy;
  run_.final_code = code;
  run_.final_at = now_ms() + int64_t{bytes_written} * std::max(0, state_.eeprom_write_ms);
  run_.outcome_due = state_.fw_generation() == 1;
  settle_outcome_locked();
}

void Receiver::settle_outcome_locked() {
  if (run_.final_at < 0 || now_ms() < run_.final_at) return;
  run_.state_code = run_.final_code;
  if (run_.outcome_due) {
    run_.outcome = outcome_of(run_.final_code);
    run_.outcome_ready = true;
  }
  run_.final_at = -1;
  run_.outcome_due = false;
}

void Receiver::press_locked(uint32_t hash) {
  if (!run_.present || state_.mode != Mode::kFirmware) return;
  switch (run_.wait) {
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
  send_key_locked({hash, entry[5], entry[4]});
}

void Receiver::send_key_locked(const KeyReport &report) {
  run_.sent_keys.push_back(report);
  while (run_.sent_keys.size() > kSentKeysKept) run_.sent_keys.pop_front();
  ++run_.keys_sent;
}

void Receiver::record_locked(uint32_t hash) {
  // A corrupt size leaves no room that could be trusted.
  if (!image_valid()) return finish(kStateNoSpace, 0);
  if (find_entry(hash) >= 0) return finish(kStateExists, 0);
  const int size = state_.image_size();
  if (size + kEntrySize > kImageRoom) return finish(kStateNoSpace, 0);
  const int count = (size - kHeaderSize) / kEntrySize;
  uint8_t *entry = &state_.eeprom[kHeaderSize + kEntrySize * count];
  for (int i = 0; i < 4; ++i) entry[i] = static_cast<uint8_t>(hash >> (8 * i));
  entry[4] = run_.record_modifier;
  entry[5] = run_.record_key;
  state_.set_image_size(kHeaderSize + kEntrySize * (count + 1));
  finish(kStateDone, kRecordBytes);
}

void Receiver::delete_locked(uint32_t hash) {
  const int index = image_valid() ? find_entry(hash) : -1;
  if (index < 0) return finish(kStateNotFound, 0);
  finish(kStateDone, remove_entry(index, state_.image_size()));
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
      work(int64_t{remove_entry(i, state_.image_size())} * state_.eeprom_write_ms);
      --count;
      ++removed;
    } else {
      ++i;
    }
  }
  return removed;
}

int Receiver::remove_entry(int index, int size) {
  auto begin = state_.eeprom.begin();
  const int at = kHeaderSize + kEntrySize * index;
  std::copy(begin + at + kEntrySize, begin + size, begin + at);
  std::fill(begin + size - kEntrySize, begin + size, 0xFF);
  state_.set_image_size(size - kEntrySize);
  return size - at + 2;  // the entries moved down, the freed place, the size
}

// The receiver restarts instead of answering the request that switches it:
// the host's transfer fails, at once with the device gone when it leaves at
// once, else as a request nobody answered while it stays a while longer.
int Receiver::switch_mode_locked(Mode next, bool stay_away) {
  if (leaving()) return kUsbErrorIo;  // already on its way out
  const int64_t now = now_ms();
  run_.leave_to = next;
  run_.stay_away = stay_away;
  run_.leave_at = now + std::max(0, state_.leave_delay_ms);
  if (run_.leave_at > now) return kUsbErrorIo;
  leave_now_locked(next, now);
  return kUsbErrorNoDevice;
}

void Receiver::leave_now_locked(Mode next, int64_t at) {
  // Leaving the bootloader for firmware starts the uploaded image, if sound.
  if (state_.mode == Mode::kBootloader && next == Mode::kFirmware &&
      !start_uploaded_firmware(state_))
    next = Mode::kBootloader;
  state_.mode = next;
  run_.present = false;
  run_.leave_at = -1;
  forget_operation_locked();
  run_.return_at = at + std::max(0, state_.reenumerate_delay_ms);
  if (run_.stay_away) {
    state_.plugged = false;
    run_.return_at = -1;
    run_.stay_away = false;
  }
}

// Unplugged: a mode switch under way is done (the receiver had restarted),
// and it comes back only when plugged in.
void Receiver::go_off_locked() {
  if (leaving()) leave_now_locked(run_.leave_to, now_ms());
  run_.present = false;
  run_.return_at = -1;
}

void Receiver::arrive_locked(int64_t at) {
  run_.present = true;
  run_.enumeration = std::max<uint64_t>(run_.enumeration + 1, static_cast<uint64_t>(at));
  run_.identity = identity_hash(state_);
  run_.return_at = run_.leave_at = -1;
  run_.busy_until = 0;
  forget_operation_locked();
  run_.active_a = state_.eeprom[2];
  run_.active_b = state_.eeprom[3];
  run_.boot = {};
}

void Receiver::forget_operation_locked() {
  run_.wait = Wait::kNone;
  run_.state_code = kStateIdle;
  run_.final_at = -1;
  run_.outcome_due = run_.outcome_ready = false;
}

int64_t Receiver::next_press_time_locked() const {
  if (run_.wait == Wait::kNone || !run_.present) return -1;
  if (state_.presses.empty() && !state_.auto_press) return -1;
  return run_.wait_started + std::max(0, state_.press_delay_ms);
}

void Receiver::deliver_due_press_locked() {
  const int64_t due = next_press_time_locked();
  if (due < 0 || now_ms() < due || state_.mode != Mode::kFirmware) return;
  uint32_t hash;
  if (!state_.presses.empty()) {
    hash = state_.presses.front();
    state_.presses.pop_front();
  } else {
    hash = fresh_hash_locked();
  }
  press_locked(hash);
}

// A fresh button: spread the counter so hashes look like real ones, and
// never repeat a stored one (that would read as "exists").
uint32_t Receiver::fresh_hash_locked() {
  uint32_t hash;
  do {
    uint32_t n = state_.next_fresh_hash++;
    hash = (n * 0x9E3779B1u) ^ (n >> 7);
  } while (hash == 0 || (image_valid() && find_entry(hash) >= 0));
  return hash;
}

int Receiver::interrupt_read(uint8_t endpoint, unsigned char *data, int length, int *transferred,
                             unsigned int timeout_ms, uint64_t enumeration) {
  *transferred = 0;
  Session session(*this);
  if (!run_.present || (enumeration && run_.enumeration != enumeration)) return kUsbErrorNoDevice;
  if (state_.mode != Mode::kFirmware || endpoint != kInterruptEndpoint) return kUsbErrorPipe;
  const uint64_t arrived = run_.enumeration;
  const int64_t deadline = timeout_ms ? now_ms() + timeout_ms : -1;
  for (;;) {
    if (!run_.present || run_.enumeration != arrived) return kUsbErrorNoDevice;
    if (run_.outcome_ready && length > 0) {
      data[0] = run_.outcome;
      run_.outcome_ready = false;
      *transferred = 1;
      return kUsbSuccess;
    }
    const int64_t now = now_ms();
    if (deadline >= 0 && now >= deadline) return kUsbErrorTimeout;
    int64_t wake = earlier(next_event_locked(), deadline);
    if (shared_) wake = earlier(wake, now + kSharedPollMs);
    session.pause(wake < 0 ? -1 : std::max<int64_t>(1, wake - now));
  }
}

void Receiver::press(uint32_t hash) {
  Session session(*this);
  press_locked(hash);
}

void Receiver::queue_press(uint32_t hash) {
  Session session(*this);
  state_.presses.push_back(hash);
}

Receiver::Press Receiver::press_button(std::optional<uint32_t> hash) {
  Session session(*this);
  const uint32_t pressed = hash ? *hash : fresh_hash_locked();
  const bool listening = run_.present && state_.mode == Mode::kFirmware;
  if (listening && run_.wait != Wait::kNone) {
    press_locked(pressed);
    return {pressed, Pressed::kTaken};
  }
  if (listening && image_valid() && find_entry(pressed) >= 0) {
    press_locked(pressed);
    return {pressed, Pressed::kTyped};
  }
  state_.presses.push_back(pressed);
  return {pressed, Pressed::kQueued};
}

void Receiver::unplug() {
  Session session(*this);
  state_.plugged = false;
  go_off_locked();
}

void Receiver::plug() {
  Session session(*this);
  state_.plugged = true;
  if (usable_ && !run_.present && run_.leave_at < 0) arrive_locked(now_ms());
}

namespace {

bool holder_alive(uint64_t holder) {
  const auto pid = static_cast<pid_t>(holder >> 32);
  return ::kill(pid, 0) == 0 || errno == EPERM;
}

}  // namespace

bool Receiver::claim(uint64_t holder) {
  Session session(*this);
  const bool held = run_.claim_holder != 0 && run_.claim_holder != holder &&
                    run_.claim_enumeration == run_.enumeration && holder_alive(run_.claim_holder);
  if (held) return false;
  run_.claim_holder = holder;
  run_.claim_enumeration = run_.enumeration;
  return true;
}

void Receiver::release(uint64_t holder) {
  Session session(*this);
  if (run_.claim_holder == holder) run_.claim_holder = 0;
}

bool Receiver::present() {
  Session session(*this);
  return run_.present;
}

uint64_t Receiver::enumeration() {
  Session session(*this);
  return run_.enumeration;
}

std::optional<uint64_t> Receiver::arrival() {
  Session session(*this);
  if (!run_.present) return std::nullopt;
  return run_.enumeration;
}

void Receiver::reenumerate(Mode next) {
  Session session(*this);
  leave_now_locked(next, now_ms());
}

ReceiverState Receiver::snapshot() {
  Session session(*this);
  return state_;
}

RunState Receiver::run_snapshot() {
  Session session(*this);
  return run_;
}

std::vector<KeyReport> Receiver::key_reports() {
  Session session(*this);
  return {run_.sent_keys.begin(), run_.sent_keys.end()};
}

Receiver::SentKeys Receiver::keys_sent_after(uint64_t seen) {
  Session session(*this);
  SentKeys sent{run_.present, run_.enumeration, run_.keys_sent, {}};
  // A count below `seen` is a receiver that lost its RAM: all it kept is new.
  const uint64_t fresh = seen <= run_.keys_sent ? run_.keys_sent - seen : run_.keys_sent;
  const size_t kept = run_.sent_keys.size();
  const auto first = run_.sent_keys.end() - static_cast<long>(std::min<uint64_t>(fresh, kept));
  sent.reports.assign(first, run_.sent_keys.end());
  return sent;
}

uint8_t Receiver::state_code() {
  Session session(*this);
  return run_.state_code;
}

bool Receiver::waiting_for_button() {
  Session session(*this);
  return run_.wait != Wait::kNone;
}

std::pair<uint8_t, uint8_t> Receiver::active_settings() {
  Session session(*this);
  return {run_.active_a, run_.active_b};
}

void Receiver::edit(const std::function<void(ReceiverState &)> &change) {
  Session session(*this);
  change(state_);
  if (run_.present) run_.identity = identity_hash(state_);
}

}  // namespace zk::virt
