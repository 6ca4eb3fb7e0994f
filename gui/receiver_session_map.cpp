// The session's copy of the recorded buttons, and the keys the receiver
// types in test mode. The whole image is read once when the receiver is
// taken into use; after this application's own changes only what changed
// is read, since each byte is a USB transfer of its own.
#include <QThread>
#include <QTimer>
#include <atomic>
#include <utility>

#include "receiver_session.h"
#include "zirko.h"
#include "zirko_keys.h"

namespace {

using zk::layout::kEntrySize;
constexpr int kFirstEntry = zk::layout::kHeaderSize;
// Keys taken from the monitor on one poll; more wait for the next.
constexpr int kKeysPerPoll = 32;
// Failed reads of the whole map in a row before the map is given up.
constexpr int kMapReadTries = 3;
// How long forgetting waits for another program's change to end.
constexpr int kForgetLockWaitMs = 1000;

int entryAddress(int index) {
  return kFirstEntry + kEntrySize * index;
}

// `count` bytes of the entry at `index`, from its start; false on a failed read.
bool readEntryBytes(int index, int count, unsigned char *bytes) {
  for (int i = 0; i < count; ++i) {
    const int value = zk_eeprom_peek(entryAddress(index) + i);
    if (value < 0 || value > 0xFF) return false;
    bytes[i] = static_cast<unsigned char>(value);
  }
  return true;
}

uint32_t hashOf(const unsigned char *e) {
  return e[0] | e[1] << 8 | e[2] << 16 | uint32_t(e[3]) << 24;
}

}  // namespace

// The size header, then the buttons only: the settings bytes between them
// are not the map's. Runs on the reader's thread; `stop` ends it between
// two transfers.
struct ReceiverSession::MapRead {
  std::atomic<bool> stop{false};
  bool ok = false;
  Buttons buttons;

  void run() {
    const int count = zk_keys_recorded();
    if (count < 0 || count > zk::map::kMaxButtons) {
      ZK_LOGE("could not read the recorded buttons: %d", count);
      return;
    }
    for (int i = 0; i < count; ++i) {
      unsigned char e[kEntrySize];
      if (stop) return;
      if (!readEntryBytes(i, kEntrySize, e)) {
        ZK_LOGE("could not read recorded button %d", i);
        return;
      }
      buttons.push_back({hashOf(e), e[4], e[5]});
    }
    ok = true;
  }
};

// The whole map is read again on the next idle poll, off the window's
// thread: up to a thousand transfers must not freeze the window.
void ReceiverSession::readMap() {
  m_mapStale = true;
}

// The library belongs to the reader until it ends: the poll waits, and the
// window refuses what would use the receiver. `connecting` keeps the
// snapshot that takeFirmware opened, so the settings and the map are one
// moment of the receiver and no byte is read twice.
void ReceiverSession::startMapRead(bool connecting) {
  if (!connecting) zk_begin_snapshot();
  m_poll->stop();
  m_mapRead = std::make_shared<MapRead>();
  const int generation = m_mapGeneration;
  auto *reader = QThread::create([read = m_mapRead] { read->run(); });
  m_mapReader = reader;
  connect(reader, &QThread::finished, this,
          [this, reader, generation, connecting] { mapReadDone(reader, generation, connecting); });
  emit mapReadStarted();
  reader->start();
}

void ReceiverSession::mapReadDone(QThread *reader, int generation, bool connecting) {
  if (reader != m_mapReader) return;  // stopped and cleaned up already
  reader->wait();
  delete reader;
  m_mapReader = nullptr;
  const std::shared_ptr<MapRead> read = std::exchange(m_mapRead, nullptr);
  // A read for a receiver that went or was replaced meanwhile tells nothing.
  const bool current = generation == m_mapGeneration && m_state == State::kConnected;
  if (current && read->ok) {
    m_buttons = std::move(read->buttons);
    m_mapStale = false;
    m_mapReadFailures = 0;
    emit mapChanged();
  }
  emit mapReadEnded(connecting);
  zk_end_snapshot();
  if (std::exchange(m_refuseDue, false)) refuseBuiltIn();
  if (current && !read->ok) mapReadFailed();
  if (!working() && !workerWaiting()) {
    watchBus();  // the poll that started the read could not list the bus
    m_poll->start();
  }
  // An offer found at connect is asked once the receiver is free again.
  if (m_offerDue && !working()) {
    m_offerDue = false;
    emit upgradeOffered(m_offerId);
  }
  // So is the way back from a write that was cut off.
  offerRecovery();
}

// A failed read is tried again on later polls, a few times; a receiver that
// stays there but cannot be read shows no map rather than a wrong one.
void ReceiverSession::mapReadFailed() {
  if (++m_mapReadFailures >= kMapReadTries) {
    m_mapStale = false;
    m_buttons.clear();
    emit mapChanged();
    emit notice(tr("Could not read the buttons zirko learned"));
  }
  failedRead();
}

// Bounded: the reader stops before its next transfer.
void ReceiverSession::stopMapRead() {
  ++m_mapGeneration;
  if (!m_mapReader) return;
  m_mapRead->stop = true;
  m_mapReader->wait();
  delete m_mapReader;
  m_mapReader = nullptr;
  m_mapRead.reset();
  zk_end_snapshot();
}

void ReceiverSession::mapWritten(const std::vector<unsigned char> &image) {
  m_buttons = zk::map::buttons_of(image);
  emit mapChanged();
}

// A recording appends its button: only the count and that entry are read.
// Anything else than the key recorded means another program changed the
// map meanwhile, and it is read whole.
void ReceiverSession::readAddedButton() {
  const int count = zk_keys_recorded();
  unsigned char e[kEntrySize];
  if (count != int(m_buttons.size()) + 1 || !readEntryBytes(count - 1, kEntrySize, e) ||
      e[4] != m_recordModifier || e[5] != m_recordUsage) {
    readMap();
    return;
  }
  m_buttons.push_back({hashOf(e), e[4], e[5]});
  emit mapChanged();
}

// An erase takes out one button and moves those after it down by one, so
// the first place whose hash differs is the erased button's; hashes are
// unique, so a binary search over the hashes finds it.
void ReceiverSession::findErasedButton() {
  const int count = zk_keys_recorded();
  if (count < 0 || count != int(m_buttons.size()) - 1) {
    readMap();
    return;
  }
  int low = 0, high = count;
  while (low < high) {
    const int middle = low + (high - low) / 2;
    unsigned char e[4];
    if (!readEntryBytes(middle, 4, e)) {
      readMap();
      return;
    }
    if (hashOf(e) == m_buttons[middle].hash)
      low = middle + 1;
    else
      high = middle;
  }
  m_buttons.erase(m_buttons.begin() + low);
  emit mapChanged();
}

// Deletes by position, so each position is checked first under the writer
// lock: a map another program changed since it was read would otherwise
// lose the wrong buttons. A changed map is read again and nothing more goes.
int ReceiverSession::forget(int modifier, int usage) {
  if (m_state != State::kConnected || working() || m_activity != Activity::kIdle)
    return ZK_ERR_NOT_USABLE;
  if (!claim()) return ZK_ERR_IN_USE;
  int gone = 0;
  int result = 0;
  {
    const zk::WriteLock lock(kForgetLockWaitMs);
    if (!lock.held()) {
      release();
      return ZK_ERR_IN_USE;
    }
    const int count = zk_keys_recorded();
    if (count != int(m_buttons.size())) result = kMapChanged;
    // From the last one, so that the indexes still to delete do not move.
    for (int i = int(m_buttons.size()) - 1; i >= 0 && result == 0; --i) {
      if (m_buttons[i].modifier != modifier || m_buttons[i].usage != usage) continue;
      unsigned char e[4];
      if (!readEntryBytes(i, 4, e)) {
        result = ZK_ERR_USB;
      } else if (hashOf(e) != m_buttons[i].hash) {
        result = kMapChanged;
      } else if (zk_delete_index(i) < 0) {
        result = ZK_ERR_USB;
      } else {
        m_buttons.erase(m_buttons.begin() + i);
        ++gone;
      }
    }
  }
  release();
  if (result < 0) readMap();
  if (gone) emit mapChanged();
  return result < 0 ? result : gone;
}

// ---- test mode ----

bool ReceiverSession::startTesting() {
  if (m_state != State::kConnected || working()) return false;
  stop();  // nothing is recorded or erased while testing
  m_testing = true;
  if (openKeys()) return true;
  m_testing = false;
  return false;
}

void ReceiverSession::stopTesting() {
  m_testing = false;
  closeKeys();
}

bool ReceiverSession::openKeys() {
  closeKeys();
  char problem[512] = "";
  const int rc = zk_key_monitor_open(&m_keys, problem, sizeof problem);
  if (rc >= 0) return true;
  m_keys = nullptr;
  ZK_LOGE("cannot read the receiver's keys: %s", problem);
  emit notice(rc == ZK_ERR_ACCESS
                  ? tr("Cannot read the receiver's keys: %1. Install the udev rule "
                       "70-zirko.rules, then plug zirko in again")
                        .arg(QString::fromLocal8Bit(problem))
                  : tr("Cannot read the receiver's keys: %1").arg(QString::fromLocal8Bit(problem)));
  return false;
}

void ReceiverSession::closeKeys() {
  zk_key_monitor_close(m_keys);
  m_keys = nullptr;
}

// Never waits: whatever arrived since the last poll.
void ReceiverSession::readKeys() {
  for (int i = 0; i < kKeysPerPoll && m_keys; ++i) {
    zk_key_event key{};
    const int rc = zk_key_monitor_next(m_keys, &key, 0);
    if (rc == 0) return;
    if (rc == 1) {
      emit keyTyped(key.usage, key.modifier);
      continue;
    }
    // The receiver left (the poll shows it) or a node failed: reopened
    // when the receiver is taken into use again.
    if (rc != ZK_ERR_NOT_USABLE)
      emit notice(QString::fromLocal8Bit(zk_key_monitor_problem(m_keys)));
    closeKeys();
  }
}
