// The session's copy of the recorded buttons, and the keys the receiver
// types in test mode. The whole image is read once when the receiver is
// taken into use; after this application's own changes only what changed
// is read, since each byte is a USB transfer of its own.
#include "gui_log.h"
#include "receiver_session.h"
#include "zirko.h"
#include "zirko_keys.h"

namespace {

// The image: a 5-byte header, then 6 bytes a button (hash little-endian,
// second byte, key code).
constexpr int kFirstEntry = 5;
constexpr int kEntrySize = 6;
// Keys taken from the monitor on one poll; more wait for the next.
constexpr int kKeysPerPoll = 32;

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
// are not the map's.
void ReceiverSession::readMap() {
  m_buttons.clear();
  const int count = zk_keys_recorded();
  if (count < 0 || count > zk::map::kMaxButtons)
    ZK_GUI_LOGE("could not read the recorded buttons: %d", count);
  for (int i = 0; i >= 0 && i < count && count <= zk::map::kMaxButtons; ++i) {
    unsigned char e[kEntrySize];
    if (!readEntryBytes(i, kEntrySize, e)) {
      ZK_GUI_LOGE("could not read recorded button %d", i);
      break;
    }
    m_buttons.push_back({hashOf(e), e[4], e[5]});
  }
  emit mapChanged();
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

int ReceiverSession::forget(int modifier, int usage) {
  if (m_state != State::kConnected || working() || m_activity != Activity::kIdle)
    return ZK_ERR_NOT_USABLE;
  if (!claim()) return ZK_ERR_IN_USE;
  int gone = 0;
  // From the last one, so that the indexes still to delete do not move.
  for (int i = int(m_buttons.size()) - 1; i >= 0; --i) {
    if (m_buttons[i].modifier != modifier || m_buttons[i].usage != usage) continue;
    if (zk_delete_index(i) < 0) {
      readMap();
      release();
      return ZK_ERR_USB;
    }
    m_buttons.erase(m_buttons.begin() + i);
    ++gone;
  }
  release();
  if (gone) emit mapChanged();
  return gone;
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
  ZK_GUI_LOGE("cannot read the receiver's keys: %s", problem);
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
