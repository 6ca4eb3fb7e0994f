// The receiver as its firmware sees the world: a control setup plus a data
// buffer in, a reply or a stall out; remote buttons; an interrupt endpoint
// that reports outcomes on generation 1; leaving and rejoining the bus. It
// knows nothing of handles or transcripts, so that any transport (the
// virtual bus, an emulated kernel interface) can serve the same model.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "bootloader.h"
#include "receiver_state.h"

namespace zk::virt {

// Largest reply any request produces.
inline constexpr int kReplyCapacity = 256;

struct Setup {
  uint8_t request_type = 0;
  uint8_t request = 0;
  uint16_t value = 0;
  uint16_t index = 0;
  uint16_t length = 0;
};

// The two bytes a recorded button types, with the button that typed them.
struct KeyReport {
  uint32_t hash = 0;
  uint8_t key = 0;
  uint8_t modifier = 0;
  bool operator==(const KeyReport &) const = default;
};

// Outcome bytes of generation 1 on the interrupt endpoint.
enum OutcomeByte : uint8_t {
  kOutcomeSuccess = 0,
  kOutcomeNoSpace = 1,
  kOutcomeExists = 2,
  kOutcomeNotFound = 3,
};

// State codes of generation 2 and later.
enum StateCode : uint8_t {
  kStateIdle = 0,
  kStateWaiting = 1,
  kStateBusy = 2,
  kStateDone = 3,
  kStateNoSpace = 4,
  kStateExists = 5,
  kStateNotFound = 6,
};

class Receiver {
 public:
  using Clock = std::chrono::steady_clock;

  explicit Receiver(ReceiverState state = {});
  ~Receiver();
  Receiver(const Receiver &) = delete;
  Receiver &operator=(const Receiver &) = delete;

  // One control transfer. IN requests fill `data` with at most setup.length
  // bytes, as firmware honours wLength; OUT requests read it. Returns the
  // bytes transferred or a libusb error code.
  int control(const Setup &setup, unsigned char *data);
  // Blocks until an outcome byte is due, the receiver leaves the bus, or
  // timeout_ms (0: no limit) passes. Returns 0 with *transferred set, or
  // kUsbErrorNoDevice / kUsbErrorTimeout / kUsbErrorPipe.
  int interrupt_read(uint8_t endpoint, unsigned char *data, int length, int *transferred,
                     unsigned int timeout_ms);

  // A remote button. In record or delete mode it completes the operation;
  // in normal mode a recorded button types its key.
  void press(uint32_t hash);
  // Appends to the queue of presses delivered while the receiver waits.
  void queue_press(uint32_t hash);

  // Presence on the bus. Each arrival starts a new enumeration; a handle
  // opened during an earlier one has lost its device.
  void unplug();
  void plug();
  bool present();
  uint64_t enumeration();
  // Leaves the bus now and comes back after the re-enumeration delay in
  // `next` mode. The bootloader uses it to start the uploaded firmware.
  void reenumerate(Mode next);

  // Copies for transports, tests and the state file.
  ReceiverState snapshot();
  void replace_state(const ReceiverState &state);
  std::vector<KeyReport> key_reports();
  uint8_t state_code();
  bool waiting_for_button();
  // Settings bytes the firmware runs with (taken at start and on apply).
  std::pair<uint8_t, uint8_t> active_settings();

  // Runs `change` on the state under the lock (configuration by tests).
  void edit(const std::function<void(ReceiverState &)> &change);

 private:
  friend class Bootloader;
  enum class Wait { kNone, kRecord, kDelete };

  int firmware_control(const Setup &setup, unsigned char *reply);
  int eeprom_read(const Setup &setup, unsigned char *reply);
  int eeprom_write(const Setup &setup, unsigned char *reply);
  int version_reply(const Version &version, unsigned char *reply);
  int restart(unsigned char *reply);
  void start_wait(Wait wait);
  void finish(StateCode code);
  void press_locked(uint32_t hash);
  void record_locked(uint32_t hash);
  void delete_locked(uint32_t hash);
  int find_entry(uint32_t hash) const;
  int delete_by_key(uint8_t key, uint8_t modifier);
  void remove_entry(int index, int size);
  void leave_locked(Mode next);
  void update_presence_locked();
  // Delivers the press that is due while the receiver waits, if any.
  void deliver_due_press_locked();
  std::optional<Clock::time_point> next_press_time_locked() const;
  bool image_valid() const;

  std::mutex mu_;
  std::condition_variable cv_;
  ReceiverState state_;
  Bootloader bootloader_;
  Wait wait_ = Wait::kNone;
  uint8_t record_key_ = 0;
  uint8_t record_modifier_ = 0;
  Clock::time_point wait_started_{};
  uint8_t state_code_ = kStateIdle;
  std::optional<uint8_t> outcome_;  // generation 1, not yet read
  std::vector<KeyReport> reports_;
  uint8_t active_a_ = 0;
  uint8_t active_b_ = 0;
  bool present_ = false;
  uint64_t enumeration_ = 0;
  std::optional<Clock::time_point> return_at_;  // re-enumeration under way
};

}  // namespace zk::virt
