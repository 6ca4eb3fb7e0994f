// What the main window shows of the receiver, as its session tells it: one
// state drives the title, the picture, the version label, the status and
// the advanced window, so that none of them can disagree.
#include <QAction>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QTimer>

#include "advancedwindow.h"
#include "graphicskeyboard.h"
#include "keyboardgview.h"
#include "mainwindow.h"
#include "mainwindow_pictures.h"
#include "zirko.h"
#include "zirkobutton.h"

namespace {

using namespace window_pictures;
using State = ReceiverSession::State;

struct StateLook {
  const char *title;
  const char *picture;
  const char *label;  // before the version; null: no label
};

StateLook lookOf(State state) {
  switch (state) {
    case State::kConnected:
      return {QT_TRANSLATE_NOOP("MainWindow", "Connected"), kConnectedPicture, "Firmware v"};
    case State::kBootloader:
      return {QT_TRANSLATE_NOOP("MainWindow", "Bootloader"), kBootloaderPicture, "Bootloader v"};
    case State::kBusy:
      return {QT_TRANSLATE_NOOP("MainWindow", "In use by another program"), kNotAnsweringPicture,
              nullptr};
    case State::kNotAnswering:
      return {QT_TRANSLATE_NOOP("MainWindow", "Not answering"), kNotAnsweringPicture, nullptr};
    case State::kRefused:
      return {QT_TRANSLATE_NOOP("MainWindow", "Newer firmware"), kNewerPicture, "Firmware v"};
    case State::kAbsent:
    default:
      return {QT_TRANSLATE_NOOP("MainWindow", "Disconnected"), kDisconnectedPicture, nullptr};
  }
}

}  // namespace

void MainWindow::connectSession() {
  connect(m_session, &ReceiverSession::stateChanged, this, &MainWindow::showState);
  connect(m_session, &ReceiverSession::outcome, this, &MainWindow::showOutcome);
  connect(m_session, &ReceiverSession::notice, this, &MainWindow::showStatus);
  connect(m_session, &ReceiverSession::upgradeOffered, this, &MainWindow::askOffer);
  connect(m_session, &ReceiverSession::questionWithdrawn, this, &MainWindow::withdrawQuestion);
  connect(m_session, &ReceiverSession::upgradeStarted, this, &MainWindow::upgradeStarted);
  connect(m_session, &ReceiverSession::upgradeProgress, ui.progressBar, &QProgressBar::setValue);
  connect(m_session, &ReceiverSession::upgradeEnded, this, &MainWindow::upgradeEnded);
  connect(m_session, &ReceiverSession::jobStarted, this, &MainWindow::jobStarted);
  connect(m_session, &ReceiverSession::mapChanged, this, &MainWindow::showMap);
  // The reader has the receiver: the settings window waits for it.
  connect(m_session, &ReceiverSession::mapReadStarted, this,
          [this] { advanced->refreshSettings(false); });
  connect(m_session, &ReceiverSession::mapReadEnded, this, [this](bool connecting) {
    if (connecting)
      showState(m_session->state());
    else
      advanced->refreshSettings(isConnected() && !m_session->working());
  });
  connect(m_session, &ReceiverSession::keyTyped, this, &MainWindow::showTypedKey);
  connect(ui.actionTestMode, &QAction::toggled, this, &MainWindow::setTesting);
  // The right button, the Menu key and Shift+F10 alike.
  connect(ui.KeyboardView, &KeyboardGView::keyMenuRequested, this,
          [this](GraphicsKey *key, const QPoint &at) {
            QMenu *menu = keyMenu(key);
            menu->exec(at);
            menu->deleteLater();
          });
  connect(m_unlight, &QTimer::timeout, this, [this] {
    for (GraphicsKeyboard *layout : std::as_const(keyboardList))
      for (GraphicsKey *key : layout->getKeys()) key->setLit(false);
  });
  connect(m_session, &ReceiverSession::jobEnded, this,
          [this](bool, const QString &text) { jobEnded(text); });
}

int MainWindow::currentDeviceMode() const {
  switch (m_session->state()) {
    case State::kConnected:
      return ZK_STATE_FIRMWARE;
    case State::kBootloader:
      return ZK_STATE_BOOTLOADER;
    case State::kRefused:
      return 3;
    default:
      return 0;
  }
}

void MainWindow::showState(State state) {
  const StateLook look = lookOf(state);
  showMap();
  setTitle(tr(look.title));
  setIndicator(look.picture);
  const QString version = m_session->versionText();
  ui.version->setStyleSheet("QLabel { color : rgb(200,200,200); }");
  ui.version->setText(look.label && !version.isEmpty() ? look.label + version : QString());
  // Whatever ran on the receiver before is over.
  if (operation != kIdle && state != State::kConnected) stopCurrentOperation();
  advanced->refreshSettings(state == State::kConnected && !m_session->working());
  const bool corvane = m_session->facts().product == ZK_PRODUCT_CORVANE;
  if (state == State::kConnected && (corvane || !currentKeyboard)) selectKeyboard("Minimalist");
  if (m_session->working()) return;  // the status tells the upgrade's progress
  if (state == State::kConnected)
    showStatus(readyText());
  else if (state == State::kBootloader)
    showStatus(tr("Bootloader detected"));
  else
    showStatus(notReadyText());
}

QString MainWindow::readyText() const {
  return ui.go->isHidden() ? tr("Click a key to start recording")
                           : tr("Press go to start the automated process");
}

// Why device operations are refused: the receiver's state when one is
// there, else that none is.
QString MainWindow::notReadyText() const {
  switch (m_session->state()) {
    case State::kRefused:
      return tr("%1 is newer than this application; update Zirko").arg(ui.version->text());
    case State::kNotAnswering:
      return tr("zirko is not answering; unplug it and plug it in again");
    case State::kBusy:
      return tr("zirko is in use by another program");
    case State::kConnected:
      return tr("zirko is in use by another program");
    default:
      return absentText();
  }
}

void MainWindow::showOutcome(ReceiverSession::Outcome outcome) {
  endCountdown();
  switch (outcome) {
    case ReceiverSession::Outcome::kDone:
      recordSuccess();
      break;
    case ReceiverSession::Outcome::kNoSpace:
      record_failed_no_space();
      break;
    case ReceiverSession::Outcome::kExists:
      record_failed_exists();
      break;
    case ReceiverSession::Outcome::kNotFound:
      erase_failed_nobutton();
      break;
    default:
      transfer_failed();
      break;
  }
}

void MainWindow::askOffer(int id) {
  Question box = standardQuestion(tr("Firmware Upgrade Available"), {"Yes", "No"}, kExclamation);
  box.informativeText = tr("\nDo you want to upgrade?");
  const bool yes = m_ask(this, box) == "Yes" && keptOrAgreed("upgrade");
  m_session->answerOffer(id, yes);
}

// The box closes as if nobody chose; the session ignores a late answer.
void MainWindow::withdrawQuestion() {
  for (QMessageBox *box : findChildren<QMessageBox *>()) box->done(QMessageBox::NoButton);
}

void MainWindow::force_update() {
  ZK_LOGV("force update slot");
  if (refuseWhileWorking()) return;
  // Without a receiver in use the upgrade would have nothing to switch.
  if (!receiverReady()) {
    refuseWithoutReceiver();
    return;
  }
  if (!m_session->builtInFits()) {
    showStatus(tr("No built-in firmware for this receiver"));
    return;
  }
  const ReceiverSession::Facts &facts = m_session->facts();
  const QString emb = QString::number(facts.builtIn, 'f', 1);
  Question box = standardQuestion(tr("Firmware Upgrade"), {"Yes", "No"}, kExclamation);
  box.informativeText = tr("Upgrading to latest firmware?\n\nYour firmware version is: ") +
                        m_session->versionText() + tr("\nThe latest firmware version is: ") + emb +
                        tr("\n\nThis will force a firmware update with the latest stable firmware "
                           "release. You may have to re-learn your keys, do you want to "
                           "continue?\n");
  box.minimumWidth = 350;
  if (m_ask(this, box) != "Yes" || !keptOrAgreed("upgrade")) return;
  advanced->close();
  m_session->upgradeBuiltIn();
}

void MainWindow::upgradeStarted(const QString &installing, const QString &why) {
  if (operation != kIdle) stopCurrentOperation();
  advanced->refreshSettings(false);
  ui.progressBar->setRange(0, 100);
  ui.progressBar->setValue(0);
  ui.progressBar->setFormat(tr("Installing %1: %p%").arg(installing));
  ui.progressBar->setTextVisible(true);
  ui.progressBar->show();
  showStatus(why.isEmpty() ? tr("Firmware being upgraded, please wait...") : why);
}

void MainWindow::upgradeEnded(const QString &text) {
  hideProgress();
  advanced->refreshSettings(isConnected());
  // A newer firmware's own message says what was installed.
  showStatus(m_session->state() == State::kRefused ? notReadyText() : text);
}

// A job of unknown length: the bar moves without a percentage.
void MainWindow::jobStarted(const QString &text) {
  advanced->refreshSettings(false);  // the job has the receiver
  ui.progressBar->setRange(0, 0);
  ui.progressBar->setTextVisible(false);
  ui.progressBar->show();
  showStatus(text);
}

void MainWindow::jobEnded(const QString &text) {
  hideProgress();
  advanced->refreshSettings(isConnected());
  stopCurrentOperation();
  showStatus(text);
}

void MainWindow::hideProgress() {
  ui.progressBar->hide();
  ui.progressBar->setRange(0, 100);
}
