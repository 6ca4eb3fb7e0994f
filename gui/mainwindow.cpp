#include "mainwindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QHash>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>

#include "advancedwindow.h"
#include "graphicskey.h"
#include "graphicskeyboard.h"
#include "keyboardgview.h"
#include "mainwindow_pictures.h"
#include "zirko.h"
#include "zirkobutton.h"

namespace {

using std::chrono::milliseconds;
constexpr milliseconds kBlinkInterval{400};
constexpr milliseconds kAdvanceDelay{800};

using namespace window_pictures;

}  // namespace

void MainWindow::setTitle(const QString &state) {
  setWindowTitle(QString("Zirko v" ZIRKO_VERSION " - ") + state);
}

// The poll shows the same state four times a second: the picture is loaded
// only when it changes.
void MainWindow::setIndicator(const QString &picture) {
  if (picture == m_indicatorPicture) return;
  m_indicatorPicture = picture;
  ui.indicator->setPixmap(QPixmap(picture));
}

void MainWindow::showStatus(const QString &text) {
  ui.Notification->setText(text);
  ui.Notification->repaint();
  QCoreApplication::processEvents();
}

// ---- recording workflow ----

// Nothing stays lit that will not be recorded, and go starts at the first key.
void MainWindow::clearLayoutSelection() {
  if (!currentKeyboard) return;
  currentKeyboard->clearSelection();
  currentKeyboard->clearHeldModifiers();
}

void MainWindow::refuseWithoutReceiver() {
  clearLayoutSelection();
  showStatus(notReadyText());
}

bool MainWindow::refuseWhileWorking() {
  if (!m_session->working()) return false;
  clearLayoutSelection();
  showStatus(m_session->upgrading() ? tr("Firmware being upgraded, please wait...")
                                    : tr("zirko is busy, please wait..."));
  return true;
}

void MainWindow::recordKey(GraphicsKey *key, const QList<GraphicsKey *> &modifiers) {
  ZK_LOGV("record key");
  recordingKey = key;
  recordingModifiers = modifiers;
  QString prefix;
  int held = 0;
  for (GraphicsKey *modifier : modifiers) {
    prefix += printedKeyName(modifier->getName()) + "+";
    held |= modifier->getModifier();
  }
  // An automated run was kept once, when it started.
  if (operation != kAutomatedRun &&
      !keptOrAgreed("record " + prefix + printedKeyName(key->getName()))) {
    stopCurrentOperation();
    return;
  }
  if (m_session->record(key->getModifier() | held, key->getUsb()) < 0) {
    // Nothing stays lit that is not being recorded.
    stopCurrentOperation();
    showStatus(notReadyText());
    return;
  }
  showStatus(tr("Press the button to be paired with '") + prefix + printedKeyName(key->getName()) +
             "'");
  blinkTimer->start(kBlinkInterval);
  // A bounded wait, shown counting down on the bar.
  m_secondsLeft = m_recordWait;
  ui.progressBar->setRange(0, m_recordWait);
  ui.progressBar->setValue(m_secondsLeft);
  ui.progressBar->setFormat(tr("%v s left to press the remote's button"));
  ui.progressBar->setTextVisible(true);
  ui.progressBar->show();
  m_countdown->start();
}

void MainWindow::countDown() {
  if (--m_secondsLeft > 0) {
    ui.progressBar->setValue(m_secondsLeft);
    return;
  }
  stopCurrentOperation();
  showStatus(tr("No button was pressed in time; click the key to try again"));
}

void MainWindow::endCountdown() {
  if (!m_countdown->isActive()) return;
  m_countdown->stop();
  if (!m_session->working()) ui.progressBar->hide();
}

void MainWindow::cancelOperation() {
  if (operation == kErasing) {
    stopCurrentOperation();
    showStatus(tr("Erasing cancelled"));
  } else if (operation == kRecording || operation == kAutomatedRun) {
    stopCurrentOperation();
    showStatus(tr("Recording stopped"));
  }
}

QString MainWindow::printedKeyName(const QString &name) {
  static const QHash<QString, QString> kPrinted = {
      {"lcontrol", "Ctrl"}, {"rcontrol", "Ctrl"}, {"lshift", "Shift"},   {"rshift", "Shift"},
      {"lalt", "Alt"},      {"ralt", "Alt"},      {"lwindows", "Win"},   {"rwindows", "Win"},
      {"lcommand", "Cmd"},  {"rcommand", "Cmd"},  {"loption", "Option"}, {"roption", "Option"},
  };
  // Words as the picture shows them: "volume_up" reads "volume up".
  return kPrinted.value(name, QString(name).replace('_', ' '));
}

void MainWindow::on_go_clicked() {
  ZK_LOGV("stop button clicked");
  if (refuseWhileWorking() || refuseWhileTesting()) return;
  switch (operation) {
    case kRecording:
    case kAutomatedRun:
      stopCurrentOperation();
      showStatus(tr("Recording stopped, hit go to start again"));
      break;
    case kErasing:
      stopCurrentOperation();
      showStatus(tr("Erasing cancelled"));
      break;
    case kKeyPreview:
      break;
    default:
      if (!receiverReady() || !currentKeyboard) {
        refuseWithoutReceiver();
        break;
      }
      if (!keptOrAgreed("record run " + currentKeyboard->getName())) break;
      operation = kAutomatedRun;
      // Selects the first key of the sequence, whose click records it.
      if (!currentKeyboard->selectNextSequenced()) {
        operation = kIdle;
        break;
      }
      ui.go->setImages(kStopHover, kStopNormal, true);
      break;
  }
}

void MainWindow::on_erase_clicked() {
  if (refuseWhileWorking() || refuseWhileTesting()) return;
  if (operation == kIdle && receiverReady()) {
    if (!keptOrAgreed("delete")) return;
    if (m_session->erase() < 0) {
      showStatus(notReadyText());
      return;
    }
    showStatus(tr("Click the button on your remote to be erased"));
    operation = kErasing;
    ui.erase->setImages(kStopHover, kStopNormal, true);
  } else if (operation == kIdle) {
    refuseWithoutReceiver();
  } else if (operation == kErasing) {
    showStatus(tr("Erasing cancelled"));
    stopCurrentOperation();
  }
}

void MainWindow::keyboard_clicked(GraphicsKey *gk, QList<GraphicsKey *> modifiers,
                                  bool autoclicked) {
  ZK_LOGV("starting process for key");
  if (refuseWhileWorking() || refuseWhileTesting()) return;
  const bool ready = receiverReady();
  switch (operation) {
    case kIdle:
      if (ready) {
        operation = kRecording;
        ui.go->setImages(kStopHover, kStopNormal, false);
        recordKey(gk, modifiers);
      } else {
        refuseWithoutReceiver();
      }
      break;
    case kRecording:
      stopCurrentOperation();
      // Another key: the recording switches to it.
      if (gk != recordingKey && !gk->getIsModifier()) {
        currentKeyboard->keyClicked(gk);
        break;
      }
      showStatus(tr("Recording stopped"));
      break;
    case kAutomatedRun:
      if (!autoclicked) {
        // A click of the user's own ends the run.
        stopCurrentOperation();
        showStatus(tr("Recording stopped"));
      } else if (ready) {
        recordKey(gk, modifiers);
      } else {
        stopCurrentOperation();
        showStatus(notReadyText());
      }
      break;
    case kErasing:
      if (ready) {
        showStatus(tr("Erasing cancelled"));
        stopCurrentOperation();
      } else {
        refuseWithoutReceiver();
      }
      break;
    default:
      break;
  }
}

// ---- results ----

void MainWindow::recordSuccess() {
  ZK_LOGV("sucessfully recorded key");
  blinkTimer->stop();
  switch (operation) {
    case kAutomatedRun:
      advanceTimer->start(kAdvanceDelay);
      showStatus(tr("Recorded successfully"));
      break;
    case kErasing:
      stopCurrentOperation();
      showStatus(tr("Erased button"));
      break;
    case kRecording:
      stopCurrentOperation();
      showStatus(tr("Recorded successfully"));
      break;
    default:
      ZK_LOGE("unknown status: %d", operation);
      break;
  }
}

void MainWindow::record_failed_no_space() {
  ZK_LOGV("no space left on device");
  showStatus(tr("No more space for new buttons"));
  stopCurrentOperation();
}

// The receiver stopped answering during an operation: gone, or changed.
void MainWindow::transfer_failed() {
  ZK_LOGV("transfer failed");
  stopCurrentOperation();
  const auto state = m_session->state();
  showStatus(state == ReceiverSession::State::kAbsent      ? tr("Unplugged: plug zirko in to go on")
             : state == ReceiverSession::State::kConnected ? tr("Transfer error")
                                                           : notReadyText());
}

void MainWindow::erase_failed_nobutton() {
  ZK_LOGV("erase failed");
  if (operation == kErasing) {
    showStatus(tr("That button is not recorded"));
    stopCurrentOperation();
  }
}

void MainWindow::record_failed_exists() {
  ZK_LOGV("failed, key exists");
  const QString startOver = tr("Start over"), skip = tr("Skip"), redo = tr("Redo"),
                cancel = tr("Cancel");
  Question box;
  box.text = tr("Button already exists.");
  box.iconPath = kExclamation;
  box.buttons =
      operation == kAutomatedRun ? QStringList{startOver, skip, redo} : QStringList{cancel, redo};
  box.defaultButton = redo;
  const QString answer = m_ask(this, box);

  if (answer == startOver) {
    stopCurrentOperation();
    showStatus(tr("Canceled"));
    // Every recorded button goes: asked first, as Clear Configuration does.
    if (confirmErasingAll()) eraseAll();
  } else if (answer == skip) {
    recordSuccess();  // the run goes on with the next key
    showStatus(tr("Skipped"));
  } else if (answer == cancel) {
    showStatus(tr("Canceled"));
    stopCurrentOperation();
  } else if (answer == redo && recordingKey) {
    recordKey(recordingKey, recordingModifiers);
  }
}

// ---- timers and key preview ----

void MainWindow::timerTop() {
  ZK_LOGV("timer top");
  if (operation == kIdle) {
    blinkTimer->stop();
  } else if (operation == kKeyPreview) {
    // The timer stops itself on the next tick, now that the window is idle.
    if (currentKeyboard) currentKeyboard->clearSelection();
    operation = kIdle;
  } else if (currentKeyboard) {
    currentKeyboard->blinkSelection();
  }
}

void MainWindow::delayTimerTop() {
  advanceTimer->stop();
  if (operation != kAutomatedRun || !currentKeyboard) return;
  if (!currentKeyboard->selectNextSequenced()) {
    showStatus(tr("Congratulations, you're all done!"));
    stopCurrentOperation();
  }
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event) {
  // The keys that move about the picture and click its keys are the view's own.
  if (operation == kIdle && event->type() == QEvent::KeyPress && currentKeyboard &&
      !KeyboardGView::isNavigationKey(static_cast<QKeyEvent *>(event))) {
    auto *key = static_cast<QKeyEvent *>(event);
    stopCurrentOperation();
    if (currentKeyboard->highlightForKeyEvent(key->key(), key->modifiers())) {
      operation = kKeyPreview;
      blinkTimer->start(kBlinkInterval);
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void MainWindow::stopCurrentOperation() {
  ZK_LOGV("stopping current operation");
  if (currentKeyboard) {
    currentKeyboard->clearSelection();
    currentKeyboard->clearHeldModifiers();
  }
  if (operation != kIdle && operation != kKeyPreview) m_session->stop();
  blinkTimer->stop();
  endCountdown();
  ui.go->setImages(kGoHover, kGoNormal, false);
  ui.erase->setImages(kEraseHover, kEraseNormal, false);
  operation = kIdle;
  ZK_LOGV("got to the end");
}

// ---- window events ----

void MainWindow::closeEvent(QCloseEvent *event) {
  ZK_LOGV("Closing and exiting gui");
  // An upgrade owns the receiver until it ends, which is never long; a map
  // being read stops at once.
  if (!m_session->readingMap() && refuseWhileWorking()) {
    event->ignore();
    return;
  }
  stopCurrentOperation();
  m_session->close();
  // A shown settings window would otherwise keep the application running.
  advanced->close();
  event->accept();
}

void MainWindow::changeEvent(QEvent *event) {
  if (event->type() == QEvent::LanguageChange) ui.retranslateUi(this);
  QMainWindow::changeEvent(event);
}

void MainWindow::resizeEvent(QResizeEvent *event) {
  QMainWindow::resizeEvent(event);
  ui.scaleTo(ui.centralWidget->size());
  fitKeyboard();
}

void MainWindow::showEvent(QShowEvent *event) {
  QMainWindow::showEvent(event);
  // The view has its final size only once shown.
  fitKeyboard();
}
