// The recorded buttons on the picture, and test mode: what the receiver
// learned, and what each of its buttons types, at a glance.
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QTimer>
#include <set>

#include "graphicskeyboard.h"
#include "mainwindow.h"
#include "zirko.h"
#include "zirko_map.h"

namespace {

QString hashText(uint32_t hash) {
  return QString("%1").arg(hash, 8, 16, QChar('0')).toUpper();
}

QString keyText(int usage, int modifier) {
  return QString::fromStdString(zk::map::key_text(uint8_t(modifier), uint8_t(usage)));
}

}  // namespace

// Every layout is marked, so that another layout chosen later shows the
// same buttons at once.
void MainWindow::showMap() {
  const ReceiverSession::Buttons &buttons = m_session->buttons();
  for (GraphicsKeyboard *layout : std::as_const(keyboardList)) {
    QHash<GraphicsKey *, QStringList> taught;
    for (size_t i = 0; i < buttons.size(); ++i) {
      const zk::map::Button &b = buttons[i];
      if (GraphicsKey *key = layout->keyFor(b.usage, b.modifier))
        taught[key]
            << tr("button %1: %2 %3").arg(i).arg(hashText(b.hash), keyText(b.usage, b.modifier));
    }
    for (GraphicsKey *key : layout->getKeys()) key->setTaught(taught.value(key));
  }
  const bool shown = isConnected();
  const int n = int(buttons.size());
  ui.taughtCount->setText(
      shown ? tr("%1 buttons taught, %2 free").arg(n).arg(zk::map::kMaxButtons - n) : QString());
}

void MainWindow::setTesting(bool on) {
  if (on == m_session->testing()) return;
  if (!on) {
    m_session->stopTesting();
    showStatus(tr("Test mode off"));
  } else if (refuseWhileWorking()) {
  } else if (!receiverReady()) {
    refuseWithoutReceiver();
  } else {
    stopCurrentOperation();
    if (m_session->startTesting()) showStatus(tr("Test mode: press a button on your remote"));
  }
  // A refused start leaves the toggle off.
  const QSignalBlocker quiet(ui.actionTestMode);
  ui.actionTestMode->setChecked(m_session->testing());
}

bool MainWindow::refuseWhileTesting() {
  if (!m_session->testing()) return false;
  if (currentKeyboard) currentKeyboard->clearSelection();
  showStatus(tr("Recording is off while testing"));
  return true;
}

// The key lights for a moment; the status line names it and the buttons
// that send it, also when the picture has no such key.
void MainWindow::showTypedKey(int usage, int modifier) {
  QStringList sources;
  const ReceiverSession::Buttons &buttons = m_session->buttons();
  for (size_t i = 0; i < buttons.size(); ++i)
    if (buttons[i].usage == usage && buttons[i].modifier == modifier)
      sources << tr("button %1 (%2)").arg(i).arg(hashText(buttons[i].hash));
  const QString from = sources.isEmpty() ? tr("no recorded button") : sources.join(", ");
  GraphicsKey *key = currentKeyboard ? currentKeyboard->keyFor(usage, modifier) : nullptr;
  if (key) {
    key->setLit(true);
    m_unlight->start();
  }
  showStatus(key ? tr("%1: %2").arg(keyText(usage, modifier), from)
                 : tr("%1 (not on this picture): %2").arg(keyText(usage, modifier), from));
}

QMenu *MainWindow::keyMenu(GraphicsKey *key) {
  auto *menu = new QMenu(this);
  QAction *forget = menu->addAction(tr("Forget this key"), this, [this, key] { forgetKey(key); });
  forget->setEnabled(key->isTaught());
  menu->addAction(tr("Teach another button"), this, [this, key] { teachAnother(key); });
  return menu;
}

// Deletes every recorded button that sends this key, once the user agrees.
void MainWindow::forgetKey(GraphicsKey *key) {
  if (refuseWhileWorking() || refuseWhileTesting() || !currentKeyboard) return;
  if (!receiverReady()) {
    refuseWithoutReceiver();
    return;
  }
  const QString name = printedKeyName(key->getName());
  std::set<std::pair<int, int>> reports;
  for (const zk::map::Button &b : m_session->buttons())
    if (currentKeyboard->keyFor(b.usage, b.modifier) == key) reports.insert({b.modifier, b.usage});
  if (reports.empty()) {
    showStatus(tr("No button is taught to '%1'").arg(name));
    return;
  }
  Question box = standardQuestion(tr("Forget '%1'?").arg(name), {"Yes", "No"});
  box.informativeText =
      tr("\nThe buttons of your remote that send '%1' are deleted from zirko.\n").arg(name);
  if (m_ask(this, box) != "Yes") {
    showStatus(tr("Canceled"));
    return;
  }
  stopCurrentOperation();
  if (!keptOrAgreed("forget " + name)) return;
  int gone = 0;
  for (const auto &[modifier, usage] : reports) {
    const int rc = m_session->forget(modifier, usage);
    if (rc < 0) {
      showStatus(rc == ZK_ERR_IN_USE ? notReadyText()
                 : rc == ReceiverSession::kMapChanged
                     ? tr("Another program changed zirko's buttons; look again, then forget '%1'")
                           .arg(name)
                     : tr("Could not forget '%1'").arg(name));
      return;
    }
    gone += rc;
  }
  showStatus(tr("Forgot '%1' (%n button(s))", nullptr, gone).arg(name));
}

// As a click on the key: it records one more button for it.
void MainWindow::teachAnother(GraphicsKey *key) {
  if (!currentKeyboard) return;
  if (operation != kIdle) stopCurrentOperation();
  currentKeyboard->keyClicked(key);
}
