// Several receivers on one bus: the session keeps to one of them by its bus
// position, so that it never acts on another by itself, and keeps the list
// the Receiver menu shows.
#include <QTimer>
#include <algorithm>
#include <optional>

#include "receiver_session.h"
#include "zirko.h"

namespace {

using Listed = ReceiverSession::Listed;

// Receivers one listing holds; more are left out of the menu.
constexpr int kListRoom = 16;
// The bus is scanned for the list at most this often by the poll: a scan
// opens every device of the vendor.
constexpr qint64 kListEveryMs = 2000;

// Positions and modes only (no request reaches a receiver), or with each
// receiver's version; nothing when the bus cannot be scanned.
std::optional<QList<Listed>> scan(bool versions) {
  zk_receiver found[kListRoom];
  const int n = zk_list_receivers(ZK_VENDOR_ID, found, kListRoom, versions ? 1 : 0);
  if (n < 0) return std::nullopt;
  QList<Listed> listed;
  for (int i = 0; i < std::min(n, kListRoom); ++i) {
    const zk_receiver &r = found[i];
    const bool read = versions && r.major >= 0 && r.minor >= 0;
    listed.append(
        {QString::fromUtf8(r.position), r.state, read ? r.major : -1, read ? r.minor : -1});
  }
  return listed;
}

// Versions already known for a receiver at the same position in the same
// mode are kept: only a new or changed receiver needs asking.
void keepVersions(QList<Listed> &now, const QList<Listed> &before) {
  for (Listed &l : now) {
    if (l.major >= 0) continue;
    for (const Listed &b : before)
      if (b.position == l.position && b.state == l.state) {
        l.major = b.major;
        l.minor = b.minor;
      }
  }
}

bool versionsMissing(const QList<Listed> &list) {
  return std::any_of(list.begin(), list.end(), [](const Listed &l) { return l.major < 0; });
}

}  // namespace

// The receiver chosen; before the session has taken one, the preferred one
// when it is on the bus, else the first found. The one taken is kept from
// then on: every later open, and an upgrade's re-opens, take only it.
int ReceiverSession::openChosen() {
  const bool taken = !m_position.isEmpty();
  zk_choose_device((taken ? m_position : m_preferred).toUtf8().constData());
  int r = zk_open_device(ZK_VENDOR_ID, ZK_MANUFACTURER);
  if (r == ZK_ERR_NO_RECEIVER && !taken && !m_preferred.isEmpty()) {
    zk_choose_device(nullptr);
    r = zk_open_device(ZK_VENDOR_ID, ZK_MANUFACTURER);
  }
  if (r >= 0 && !taken) {
    m_position = QString::fromUtf8(zk_current_position());
    zk_choose_device(m_position.toUtf8().constData());
    ZK_LOGI("using the receiver at %s", qUtf8Printable(m_position));
  }
  return r;
}

bool ReceiverSession::libraryFree() const {
  return !working() && !workerWaiting() && m_activity == Activity::kIdle;
}

bool ReceiverSession::chooseReceiver(const QString &position) {
  // A generation-1 wait holds the receiver's handle until a button comes.
  if (working() || workerWaiting()) return false;
  if (position == m_position) return true;
  ZK_LOGI("receiver chosen: %s", qUtf8Printable(position));
  stop();
  zk_close_device();
  m_position = position;
  zk_choose_device(position.toUtf8().constData());
  m_ownBootloader = false;
  m_bootloaderFree.invalidate();
  // Shown as gone first, so that a receiver of the same version is shown
  // anew with its own buttons.
  dropReceiver(State::kAbsent);
  m_nothingFound = false;
  lookForReceiver();
  if (!working() && !workerWaiting()) m_poll->start();
  listReceivers();
  return true;
}

void ReceiverSession::listReceivers() {
  if (!libraryFree()) return;  // the last list stands
  m_listedAt.start();
  std::optional<QList<Listed>> now = scan(false);
  if (!now) return;
  keepVersions(*now, m_receivers);
  showInUse(*now);
  if (versionsMissing(*now)) {
    const std::optional<QList<Listed>> read = scan(true);
    if (read) {
      keepVersions(*now, *read);
      // Still unread: the receiver did not answer; it is asked again next time.
    }
  }
  if (*now == m_receivers) return;
  m_receivers = *now;
  emit receiversListed();
}

// Between the menu's showings, the list follows receivers that come and go
// (positions and modes only; a version is asked when the menu shows).
void ReceiverSession::watchBus() {
  if (!libraryFree()) return;
  if (m_listedAt.isValid() && m_listedAt.elapsed() < kListEveryMs) return;
  // With a receiver in use, hotplug events say when looking is worth it.
  if ((m_state == State::kConnected || m_state == State::kRefused) && !zk_bus_changed(ZK_VENDOR_ID))
    return;
  m_listedAt.start();
  std::optional<QList<Listed>> now = scan(false);
  if (!now) return;
  keepVersions(*now, m_receivers);
  showInUse(*now);
  if (*now == m_receivers) return;
  m_receivers = *now;
  emit receiversListed();
}

// The receiver in use is listed with the version its open read.
void ReceiverSession::showInUse(QList<Listed> &list) const {
  if (m_state == State::kAbsent || m_facts.major < 0) return;
  for (Listed &l : list)
    if (l.position == m_position) {
      l.major = m_facts.major;
      l.minor = m_facts.minor;
    }
}

QString ReceiverSession::bootloaderText() const {
  if (m_position.isEmpty()) return QString();
  return tr("zirko at %1 was found in its bootloader: installing firmware v%2")
      .arg(m_position, embeddedVersion());
}
