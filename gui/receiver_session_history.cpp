// The session's side of the history of configurations: the configuration
// is kept before each change this application makes, undo and restore put
// one back, and a bulk write that was cut off is offered back once the
// receiver is there again. The image kept is built from the map the session
// already holds, so a change costs five transfers more, not the whole image.
#include <QThread>

#include "receiver_session.h"
#include "zirko.h"
#include "zirko_history.h"

namespace {

using zk::layout::kEntrySize;
using zk::layout::kHeaderSize;
using zk::layout::kMaxImageSize;

// The configuration image: the size header and the settings bytes read now,
// the buttons from the map held; read whole when the size disagrees with the
// map (another program changed it meanwhile). 0, ZK_ERR_INVALID for a
// corrupt size, or the read's failure code.
int imageOf(const ReceiverSession::Buttons &map, std::vector<unsigned char> &image) {
  const zk::EepromSnapshot snapshot;  // a whole read below reuses the header
  unsigned char header[kHeaderSize];
  for (int i = 0; i < kHeaderSize; ++i) {
    const int byte = zk_eeprom_peek(i);
    if (byte < 0 || byte > 0xFF) return ZK_ERR_USB;
    header[i] = static_cast<unsigned char>(byte);
  }
  const size_t size = size_t(header[0]) << 8 | header[1];
  if (size != kHeaderSize + kEntrySize * map.size()) return zk::map::read_receiver_image(image);
  image.assign(header, header + kHeaderSize);
  for (const zk::map::Button &b : map)
    image.insert(image.end(), {uint8_t(b.hash), uint8_t(b.hash >> 8), uint8_t(b.hash >> 16),
                               uint8_t(b.hash >> 24), b.modifier, b.usage});
  return 0;
}

// The number of the entry kept in `file`, newest first; 0 when it is gone.
int entryNumber(const QString &file) {
  const int count = zk_history_count();
  for (int n = 1; n <= count; ++n) {
    zk_history_entry e;
    if (zk_history_entry_at(n, &e) == 0 && file == QString::fromLocal8Bit(e.file)) return n;
  }
  return 0;
}

}  // namespace

// A job's write result: false, and for another program's change meanwhile
// the reason, which also keeps the configuration from before from being
// offered back over that program's buttons.
bool ReceiverSession::written(int rc) {
  if (rc == ZK_ERR_BUSY)
    m_jobFailure = tr("Another program changed zirko meanwhile; its buttons were kept");
  return rc == 0;
}

bool ReceiverSession::keepBefore(const QString &change) {
  if (m_state != State::kConnected) return true;
  return keepFromMap(m_buttons, change);
}

bool ReceiverSession::keepFromMap(const Buttons &map, const QString &change) {
  std::vector<unsigned char> image;
  // A corrupt or unreadable image has nothing to keep; the change itself
  // reports a receiver that does not answer, and may mend a corrupt one.
  if (imageOf(map, image) != 0) {
    m_kept = {};
    return true;
  }
  return keepImage(image, change);
}

bool ReceiverSession::keepImage(const std::vector<unsigned char> &image, const QString &change) {
  m_kept = {};
  if (zk_history_keep(image.data(), int(image.size()), change.toUtf8().constData()) < 0) {
    m_historyProblem = QString::fromLocal8Bit(zk_history_error());
    ZK_LOGE("the configuration could not be kept: %s", qUtf8Printable(m_historyProblem));
    return false;
  }
  m_kept.change = change;
  noteKept();
  return true;
}

// The newest entry is the configuration just kept (or its equal, kept once).
void ReceiverSession::noteKept() {
  zk_history_entry e;
  if (zk_history_entry_at(1, &e) != 0) return;
  m_kept.file = QString::fromLocal8Bit(e.file);
  m_kept.position = QString::fromLocal8Bit(e.position);
}

int ReceiverSession::writeImage(const std::vector<unsigned char> &image,
                                const std::vector<unsigned char> &current, const QString &change) {
  if (m_state != State::kConnected || working()) return ZK_ERR_NOT_USABLE;
  const KeptEntry kept = m_kept;
  const int rc =
      zk_write_config_image_over(image.data(), int(image.size()),
                                 current.empty() ? nullptr : current.data(), int(current.size()));
  if (rc == 0) {
    mapWritten(image);
    return 0;
  }
  // Another program that moved the size meanwhile keeps its buttons: the
  // configuration from before would take them away again.
  if (!kept.file.isEmpty() && rc != ZK_ERR_BUSY)
    m_recovery = KeptEntry{kept.file, change, kept.position};
  readMap();
  return rc;
}

bool ReceiverSession::loadImage(const std::vector<unsigned char> &image, const QString &change) {
  if (zk_check_config_image(image.data(), long(image.size())) != 0) {
    emit notice(tr("Not a configuration file; zirko was not changed"));
    return false;
  }
  if (!startJob()) return false;
  runKeptJob(
      {change, tr("File being restored, please wait..."), tr("File restored"),
       tr("Could not restore file"),
       [image] { return zk_write_config_image_over(image.data(), int(image.size()), nullptr, 0); },
       image});
  return true;
}

// The job keeps the configuration first, under the writer lock, then
// writes; a keep that fails writes nothing and asks through historyUnkept.
void ReceiverSession::runKeptJob(const KeptJob &job) {
  const Buttons map = m_buttons;
  const bool waived = std::exchange(m_waiveHistory, false);
  runJob(
      job.text,
      [this, map, waived, job] {
        const zk::WriteLock lock;
        if (!lock.held()) {
          m_jobFailure = tr("Another program is changing zirko; nothing was changed");
          return false;
        }
        m_kept = {};
        if (!waived && !keepFromMap(map, job.change)) {
          m_jobUnkept = true;
          m_jobFailure = tr("Nothing was changed");
          return false;
        }
        return written(job.write());
      },
      job.done, job.failed,
      [this, job](bool ok) {
        if (m_jobUnkept) {
          m_retry = [this, job] {
            if (!startJob()) return;
            m_waiveHistory = true;
            runKeptJob(job);
          };
          return;
        }
        if (ok) {
          mapWritten(job.image);
          return;
        }
        // Cut off part way: what it left is read back, and the
        // configuration from before is offered once the receiver is there.
        if (!m_kept.file.isEmpty() && m_jobFailure.isEmpty())
          m_recovery = KeptEntry{m_kept.file, job.change, m_kept.position};
        readMap();
      });
}

void ReceiverSession::answerUnkept(bool changeAnyway) {
  auto retry = std::exchange(m_retry, {});
  if (changeAnyway && retry) retry();
}

// Undo: the newest entry that differs from the receiver's image.
bool ReceiverSession::undo() {
  return putBack(tr("Undoing the last change, please wait..."), tr("Last change undone"),
                 [this](const std::vector<unsigned char> &now, QString &change) {
                   const int n = zk_history_undo_entry(now.data(), int(now.size()));
                   if (n < 0) m_jobFailure = QString::fromLocal8Bit(zk_history_error());
                   if (n == 0) m_jobFailure = tr("Nothing to undo");
                   change = "undo";
                   return n;
                 });
}

bool ReceiverSession::restoreEntry(const QString &file) {
  if (entryNumber(file) == 0) {
    emit notice(tr("That configuration is no longer in the history"));
    return false;
  }
  return putBack(tr("Restoring the configuration, please wait..."), tr("Configuration restored"),
                 [this, file](const std::vector<unsigned char> &, QString &change) {
                   const int n = entryNumber(file);
                   if (n == 0) m_jobFailure = tr("That configuration is no longer in the history");
                   change = QString("restore %1").arg(n);
                   return n;
                 });
}

// Puts back the entry `pick` chooses: the receiver's image is read once
// under the writer lock, kept, and only the bytes that differ are written,
// the size header last.
bool ReceiverSession::putBack(const QString &text, const QString &done, const Pick &pick) {
  // Taken first: a refused start must not leave the next change unkept.
  const bool waived = std::exchange(m_waiveHistory, false);
  if (!startJob()) return false;
  runJob(
      text,
      [this, waived, pick] {
        const zk::WriteLock lock;
        if (!lock.held()) {
          m_jobFailure = tr("Another program is changing zirko; nothing was changed");
          return false;
        }
        m_kept = {};
        std::vector<unsigned char> now;
        const int read = zk::map::read_receiver_image(now);
        // A corrupt image is rewritten whole; there is nothing to keep.
        if (read == ZK_ERR_INVALID) now.clear();
        if (read != 0 && read != ZK_ERR_INVALID) return false;
        QString change;
        const int n = pick(now, change);
        if (n <= 0) return false;
        m_jobImage.assign(kMaxImageSize, 0);
        const int length = zk_history_image(n, m_jobImage.data(), kMaxImageSize);
        if (length < 0) {
          m_jobFailure = QString::fromLocal8Bit(zk_history_error());
          return false;
        }
        m_jobImage.resize(size_t(length));
        if (!waived && !now.empty() && !keepImage(now, change)) {
          m_jobUnkept = true;
          m_jobFailure = tr("Nothing was changed");
          return false;
        }
        return written(zk_write_config_image_over(
            m_jobImage.data(), length, now.empty() ? nullptr : now.data(), int(now.size())));
      },
      done, tr("Could not restore the configuration"),
      [this, text, done, pick](bool ok) {
        if (m_jobUnkept) {
          m_retry = [this, text, done, pick] {
            m_waiveHistory = true;
            putBack(text, done, pick);
          };
          return;
        }
        if (ok) {
          mapWritten(m_jobImage);
          return;
        }
        if (!m_kept.file.isEmpty() && m_jobFailure.isEmpty()) m_recovery = m_kept;
        if (m_jobFailure.isEmpty()) readMap();
      });
  return true;
}

// Asked on the poll, with the receiver connected and idle, and only for
// the receiver the write was cut off on.
void ReceiverSession::offerRecovery() {
  if (!m_recovery || m_recoveryId || m_state != State::kConnected || working()) return;
  const QString here = QString::fromLocal8Bit(zk_current_position());
  if (!m_recovery->position.isEmpty() && !here.isEmpty() && here != m_recovery->position) return;
  m_recoveryId = ++m_recoveries;
  emit recoveryOffered(m_recoveryId, m_recovery->change);
}

// After an upgrade, the configuration kept before the switch is compared
// with the new firmware's; one that was lost or changed is offered back.
void ReceiverSession::checkKeptAcrossUpgrade() {
  const KeptEntry kept = std::exchange(m_kept, KeptEntry{});
  const int n = kept.change == kUpgradeChange ? entryNumber(kept.file) : 0;
  std::vector<unsigned char> before(kMaxImageSize), now;
  const int length = n > 0 ? zk_history_image(n, before.data(), kMaxImageSize) : -1;
  if (length < 0) return;
  before.resize(size_t(length));
  if (zk::map::read_receiver_image(now) == 0 &&
      zk::map::without_upgrade_marks(now) == zk::map::without_upgrade_marks(before))
    return;
  ZK_LOGW("the upgrade lost or changed the configuration");
  m_recovery = KeptEntry{kept.file, kUpgradeChange, kept.position};
}

void ReceiverSession::answerRecovery(int id, bool restore) {
  if (id == 0 || id != m_recoveryId || !m_recovery) return;
  m_recoveryId = 0;
  const KeptEntry entry = *std::exchange(m_recovery, std::nullopt);
  if (!restore) return;
  restoreEntry(entry.file);
}
