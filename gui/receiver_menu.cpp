// The Receiver menu: the receivers on the bus, the one in use checked.
// Choosing one makes the session use it and nothing else, and the choice is
// kept by bus position for the next start.
#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>

#include "mainwindow.h"
#include "zirko.h"

namespace {

constexpr char kReceiverKey[] = "receiver/position";

QString modeText(const ReceiverSession::Listed &r) {
  const QString mode =
      r.state == ZK_STATE_BOOTLOADER ? MainWindow::tr("bootloader") : MainWindow::tr("firmware");
  if (r.major < 0 || r.minor < 0) return mode + " ?";
  return mode + " " + QString::number(r.major) + "." + QString::number(r.minor);
}

}  // namespace

// "&1  1-4.1  firmware 3.8": the index (its own mnemonic up to 9), the bus
// position and what runs, as `zirko_util list` names them.
QString MainWindow::receiverEntryText(int index, const ReceiverSession::Listed &receiver) {
  const QString number = index < 10 ? "&" + QString::number(index) : QString::number(index);
  const QString position = receiver.position.isEmpty() ? "?" : receiver.position;
  return number + "  " + position + "  " + modeText(receiver);
}

void MainWindow::setupReceiverMenu() {
  m_receiverMenu = new QMenu(tr("&Receiver"), ui.menuBar);
  m_receiverMenu->setObjectName("menuReceiver");
  ui.menuBar->insertMenu(ui.menuHelp->menuAction(), m_receiverMenu);
  connect(m_receiverMenu, &QMenu::aboutToShow, this, [this] {
    m_session->listReceivers();
    fillReceiverMenu();
  });
  // Queued: the list may change while an entry's own trigger runs.
  connect(m_session, &ReceiverSession::receiversListed, this, &MainWindow::fillReceiverMenu,
          Qt::QueuedConnection);
  connect(m_session, &ReceiverSession::stateChanged, this, &MainWindow::fillReceiverMenu);
  if (m_memory) m_session->preferReceiver(m_memory->value(kReceiverKey).toString());
  fillReceiverMenu();
}

void MainWindow::fillReceiverMenu() {
  // Later, not now: the entry being triggered may be among them.
  for (QAction *old : m_receiverMenu->actions()) {
    m_receiverMenu->removeAction(old);
    old->deleteLater();
  }
  const QString inUse = m_session->position();
  bool inUseListed = false;
  int index = 0;
  for (const ReceiverSession::Listed &receiver : m_session->receivers()) {
    QAction *entry = m_receiverMenu->addAction(receiverEntryText(++index, receiver));
    entry->setData(receiver.position);
    entry->setCheckable(true);
    entry->setChecked(receiver.position == inUse);
    inUseListed |= receiver.position == inUse;
    connect(entry, &QAction::triggered, this, [this, entry] { chooseReceiverEntry(entry); });
  }
  // The one chosen stays shown while it is away: it is the one waited for.
  if (!inUse.isEmpty() && !inUseListed) {
    QAction *away = m_receiverMenu->addAction(tr("%1  not plugged in").arg(inUse));
    away->setCheckable(true);
    away->setChecked(true);
    away->setEnabled(false);
  }
  if (m_receiverMenu->actions().isEmpty())
    m_receiverMenu->addAction(tr("No receiver found"))->setEnabled(false);
}

void MainWindow::chooseReceiverEntry(QAction *entry) {
  const QString position = entry->data().toString();
  // The one in use again: it stays checked and nothing changes.
  if (position == m_session->position()) {
    entry->setChecked(true);
    return;
  }
  entry->setChecked(false);
  if (refuseWhileWorking()) return;
  stopCurrentOperation();
  if (!m_session->chooseReceiver(position)) {
    showStatus(tr("zirko is waiting for a button; press one, then choose again"));
    return;
  }
  if (m_memory) m_memory->setValue(kReceiverKey, position);
  fillReceiverMenu();
}

// With the receiver in use away and others on the bus, says how to take
// another instead of waiting.
QString MainWindow::absentText() const {
  const QString chosen = m_session->position();
  for (const ReceiverSession::Listed &receiver : m_session->receivers())
    if (!chosen.isEmpty() && receiver.position != chosen)
      return tr("zirko at %1 is not plugged in; the Receiver menu chooses another").arg(chosen);
  return tr("Please connect zirko");
}
