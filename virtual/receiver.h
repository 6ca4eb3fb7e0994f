// The receiver as its firmware sees the world: a control setup plus a data
// buffer in, a reply or a stall out; remote buttons; an interrupt endpoint
// that reports outcomes on generation 1; leaving and rejoining the bus. It
// knows nothing of handles or transcripts, so that any transport (the
// virtual bus, an emulated kernel interface) can serve the same model.
//
// A receiver may be shared: then every step it takes (a transfer, a press,
// a look at its state) first takes up what other programs stored and stores
// what it changed, under a lock that all of them hold for each step, so that
// they all meet one device.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <utility>
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

// Where a shared receiver keeps its state between steps.
class SharedState {
 public:
  virtual ~SharedState() = default;
  // Takes the lock and brings `state` and `run` up to what was stored last.
  // False while the stored state cannot be used: the receiver is then off
  // the bus.
  virtual bool lock_and_load(ReceiverState &state, RunState &run) = 0;
  // Stores what changed since loading and releases the lock.
  virtual void store_and_unlock(const ReceiverState &state, const RunState &run) = 0;
};

class Receiver {
 public:
  // `shared` (not owned) keeps the state when other programs use the
  // receiver too; `state` is then replaced by what it holds.
  explicit Receiver(ReceiverState state = {}, SharedState *shared = nullptr);
  ~Receiver();
  Receiver(const Receiver &) = delete;
  Receiver &operator=(const Receiver &) = delete;

  // One control transfer. IN requests fill `data` with at most setup.length
  // bytes, as firmware honours wLength; OUT requests read it. A request
  // whose EEPROM work outlasts timeout_ms (0: no limit) times out, though
  // the work goes on. `enumeration` (0: any) is the one the host's handle
  // was opened on: an older one has lost its device. Returns the bytes
  // transferred or a libusb error code.
  int control(const Setup &setup, unsigned char *data, unsigned int timeout_ms = 0,
              uint64_t enumeration = 0);
  // Blocks until an outcome byte is due, the receiver leaves the bus, or
  // timeout_ms (0: no limit) passes. Returns 0 with *transferred set, or
  // kUsbErrorNoDevice / kUsbErrorTimeout / kUsbErrorPipe.
  int interrupt_read(uint8_t endpoint, unsigned char *data, int length, int *transferred,
                     unsigned int timeout_ms, uint64_t enumeration = 0);

  // A remote button. In record or delete mode it completes the operation;
  // in normal mode a recorded button types its key.
  void press(uint32_t hash);
  // Appends to the queue of presses delivered while the receiver waits.
  void queue_press(uint32_t hash);
  // A button a person presses: taken at once by a waiting record or delete;
  // in normal mode a recorded button types its key; anything else is queued
  // for the next wait. No hash: a button never stored.
  enum class Pressed { kTaken, kTyped, kQueued };
  struct Press {
    uint32_t hash;
    Pressed outcome;
  };
  Press press_button(std::optional<uint32_t> hash);

  // Presence on the bus. Each arrival starts a new enumeration; a handle
  // opened during an earlier one has lost its device.
  void unplug();
  void plug();
  bool present();
  uint64_t enumeration();
  // The current enumeration, or nothing while off the bus.
  std::optional<uint64_t> arrival();
  // Leaves the bus now and comes back after the re-enumeration delay in
  // `next` mode.
  void reenumerate(Mode next);

  // The interface claim, which one host handle at a time may hold, as
  // usbfs grants it: `holder` names the handle and its process. False when
  // a live other holder has it on this enumeration; a holder whose process
  // ended, or whose enumeration is gone, has lost it.
  bool claim(uint64_t holder);
  void release(uint64_t holder);

  // Copies for transports, tests and the state file.
  ReceiverState snapshot();
  RunState run_snapshot();
  // The key reports sent and still kept, oldest first.
  std::vector<KeyReport> key_reports();
  // What a program following the keys sees: the receiver's presence, and
  // the reports sent after the first `seen` ones (those still kept).
  struct SentKeys {
    bool present = false;
    uint64_t enumeration = 0;
    uint64_t total = 0;  // reports sent so far: the next call's `seen`
    std::vector<KeyReport> reports;
  };
  SentKeys keys_sent_after(uint64_t seen);
  uint8_t state_code();
  bool waiting_for_button();
  // Settings bytes the firmware runs with (taken at start and on apply).
  std::pair<uint8_t, uint8_t> active_settings();

  // Runs `change` on the state (configuration by tests and tools). The
  // receiver stays on the bus as it is, whatever changed.
  void edit(const std::function<void(ReceiverState &)> &change);

 private:
  friend class Bootloader;
  class Session;

  // Session steps: take up what is stored, then what time brought.
  void open_locked();
  void close_locked();
  void follow_time_locked();
  int64_t next_event_locked() const;

  int serve(const Setup &setup, unsigned char *data, unsigned char *reply);
  int firmware_control(const Setup &setup, unsigned char *reply);
  int eeprom_read(const Setup &setup, unsigned char *reply);
  int eeprom_write(const Setup &setup, unsigned char *reply);
  int version_reply(const Version &version, unsigned char *reply);
  int read_state(unsigned char *reply);
  int restart(unsigned char *reply);
  void start_wait(Wait wait);
  // Ends a record or delete with `code` once `bytes_written` are stored.
  void finish(StateCode code, int bytes_written);
  void settle_outcome_locked();
  void press_locked(uint32_t hash);
  void send_key_locked(const KeyReport &report);
  void record_locked(uint32_t hash);
  void delete_locked(uint32_t hash);
  int find_entry(uint32_t hash) const;
  int delete_by_key(uint8_t key, uint8_t modifier);
  // Returns the bytes written.
  int remove_entry(int index, int size);
  void work(int64_t ms) { work_ms_ += ms; }

  // Leaving the bus: after a mode switch (the leave delay passes first; the
  // request that caused it gets the result returned), at once, or for good.
  int switch_mode_locked(Mode next, bool stay_away = false);
  bool leaving() const { return run_.leave_at >= 0; }
  void leave_now_locked(Mode next, int64_t at);
  void go_off_locked();
  void arrive_locked(int64_t at);
  void forget_operation_locked();

  // Delivers the press that is due while the receiver waits, if any.
  void deliver_due_press_locked();
  int64_t next_press_time_locked() const;
  uint32_t fresh_hash_locked();
  bool image_valid() const;

  std::mutex mu_;
  std::condition_variable cv_;
  SharedState *shared_;
  bool usable_ = true;
  ReceiverState state_;
  RunState run_;
  Bootloader bootloader_;
  int64_t work_ms_ = 0;  // EEPROM work of the request being served
};

}  // namespace zk::virt
