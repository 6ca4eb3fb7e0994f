#include "mainwindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QGraphicsScene>
#include <QHash>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QSignalMapper>
#include <QThread>
#include <QTimer>

#include "advancedwindow.h"
#include "graphicskey.h"
#include "graphicskeyboard.h"
#include "gui_log.h"
#include "keyboardgview.h"
#include "keyboardxmlhandler.h"
#include "mainwindow_pictures.h"
#include "zirko.h"
#include "zirko_interrupt.h"
#include "zirkobutton.h"

namespace {

using std::chrono::milliseconds;
constexpr milliseconds kPollInterval{250};
constexpr milliseconds kBlinkInterval{400};
constexpr milliseconds kAdvanceDelay{800};
constexpr unsigned long kTransferErrorPauseMs = 300;
// Failed state reads in a row before the receiver shows as not answering:
// fewer would take a passing glitch for a fault.
constexpr int kFailedReadsShown = 3;

using namespace window_pictures;

const char *const kSequencedStart = "Press go to start the automated process";
const char *const kClickToRecord = "Click a key to start recording";
const char *const kPleaseConnect = "Please connect zirko";

}  // namespace

void MainWindow::setTitle(const char *state) {
  setWindowTitle(QString("Zirko v" ZIRKO_VERSION " - ") + tr(state));
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

// ---- the poll ----

void MainWindow::checkHardwareStatus() {
  ZK_GUI_LOGV("checking status");
  statusTimer->setInterval(kPollInterval);
  statusTimer->stop();
  if (m_upgrading) return;  // the upgrade's end starts the poll again
  if (connected)
    followReceiverState();
  else if (deviceMode == kNewerFirmware)
    followNewerReceiver();
  else
    lookForReceiver();
  if (!currentKeyboard) selectKeyboard("Minimalist");
  if (!m_upgrading) statusTimer->start();
}

// Turns the state of the receiver in use into the outcome of a recording or
// deletion.
void MainWindow::followReceiverState() {
  const int s = zk_get_state();
  if (s >= ZK_RX_NORMAL && s <= ZK_RX_NOT_FOUND) m_failedReads = 0;
  switch (s) {
    case ZK_RX_NORMAL:
      ZK_GUI_LOGD("state: normal");
      break;
    case ZK_RX_RECORDING:
      ZK_GUI_LOGD("state: record");
      break;
    case ZK_RX_DELETING:
      ZK_GUI_LOGD("state: delete");
      break;
    case ZK_RX_DONE:
      ZK_GUI_LOGD("success");
      zk_clear_state();
      recordSuccess();
      break;
    case ZK_RX_NO_SPACE:
      ZK_GUI_LOGD("err: no space");
      zk_clear_state();
      record_failed_no_space();
      break;
    case ZK_RX_EXISTS:
      ZK_GUI_LOGD("err: button exists");
      zk_clear_state();
      record_failed_exists();
      break;
    case ZK_RX_NOT_FOUND:
      ZK_GUI_LOGD("key not found");
      zk_clear_state();
      erase_failed_nobutton();
      break;
    default:
      ZK_GUI_LOGI("state: %d", s);
      ZK_GUI_LOGE("error, unknown status: %d", s);
      if (operation == kRecording || operation == kAutomatedRun || operation == kErasing) {
        zk_close_device();
        transfer_failed();
      } else {
        receiverStoppedAnswering();
      }
      break;
  }
  firstPoll = false;
}

// A failed state read while idle: a receiver that is gone shows so at once;
// one that is still there is opened anew and shows as not answering only
// after a few failures in a row, once, instead of flipping between states.
void MainWindow::receiverStoppedAnswering() {
  closeReceiver();
  if (zk_open_device(ZK_VENDOR_ID, ZK_MANUFACTURER) != ZK_STATE_FIRMWARE) {
    closeReceiver();
    showDisconnected();
    return;
  }
  deviceMode = ZK_STATE_FIRMWARE;  // usable again once a read succeeds
  decideInterruptWorker(zk_major_version());
  if (++m_failedReads >= kFailedReadsShown) showNotAnswering();
}

// A receiver with newer firmware is held open, not used: only its leaving
// is watched for.
void MainWindow::followNewerReceiver() {
  if (zk_major_version() >= 0) return;
  closeReceiver();
  showDisconnected();
}

void MainWindow::lookForReceiver() {
  // An idle window with nothing plugged in scans only when the bus may have
  // changed (every poll on a bus that sends no hotplug events).
  if (m_nothingFound && !zk_bus_changed(ZK_VENDOR_ID)) return;
  // A receiver an earlier poll opened but didn't take into use (a
  // bootloader on its first finding, an unusable firmware) is still open:
  // opening it again on top would pile up handles every 250 ms.
  closeReceiver();
  const int r = zk_open_device(ZK_VENDOR_ID, ZK_MANUFACTURER);
  m_nothingFound = r < 0;
  if (r < 0) {
    showDisconnected();
    return;
  }
  // Still not answering: it stays shown so, without a word.
  if (r == ZK_STATE_FIRMWARE && m_notAnswering && zk_get_state() < 0) return;
  if (zk_product_type() == ZK_PRODUCT_CORVANE || !currentKeyboard) selectKeyboard("Minimalist");
  if (r == ZK_STATE_FIRMWARE) {
    showStatus(tr(ui.go->isHidden() ? kClickToRecord : kSequencedStart));
    const FirmwareVerdict verdict = CheckFirmwareVersion();
    if (verdict == kUsable)
      showConnected();
    else if (verdict == kNewer)
      showNewerFirmware();
  } else if (r == ZK_STATE_BOOTLOADER) {
    takeBootloader(m_upgradePolicy.onBootloader(firstPoll));
  }
  firstPoll = false;
}

void MainWindow::takeBootloader(UpgradePolicy::BootloaderStep step) {
  switch (step) {
    case UpgradePolicy::BootloaderStep::kWait:
      break;
    case UpgradePolicy::BootloaderStep::kHold:
      if (deviceMode != ZK_STATE_BOOTLOADER) {
        showBootloader();
        refuseEmbeddedUpgrade();
      }
      break;
    case UpgradePolicy::BootloaderStep::kUpgrade:
      showBootloader();
      do_embedded_upgrade();
      break;
  }
}

// The receiver as an upgrade left it.
void MainWindow::showReceiverAsFound() {
  const int state = zk_fw_state();
  if (state == ZK_STATE_FIRMWARE && firmwareNewerThanOurs())
    showNewerFirmware();
  else if (state == ZK_STATE_FIRMWARE)
    showConnected();
  else if (state == ZK_STATE_BOOTLOADER)
    showBootloader();
  else
    showDisconnected();
}

// Decided once for each receiver taken into use: every check of the version
// is a request to the receiver.
void MainWindow::decideInterruptWorker(int major) {
  m_needsInterruptWorker = major == 1;
}

void MainWindow::closeReceiver() {
  zk_close_device();
  m_needsInterruptWorker = false;
}

int MainWindow::display_fw_version() {
  const int f = zk_fw_state();
  ZK_GUI_LOGD("fw state %d", f);
  int major, minor;
  zk_read_version(&major, &minor);
  showVersion(f, major, minor);
  return major;
}

void MainWindow::showVersion(int state, int major, int minor) {
  const QString number = QString::number(major, 'g', 5) + "." + QString::number(minor, 'g', 5);
  ui.version->setStyleSheet("QLabel { color : rgb(200,200,200); }");
  if (state == ZK_STATE_FIRMWARE)
    ui.version->setText("Firmware v" + number);
  else if (state == ZK_STATE_BOOTLOADER)
    ui.version->setText("Bootldr v" + number);
  else
    ui.version->setText(QString());
}

// During an upgrade, from the worker: the library is not to be asked.
void MainWindow::showInBootloader(int major, int minor) {
  deviceMode = ZK_STATE_BOOTLOADER;
  setTitle("Connected [DFU]");
  setIndicator(kBootloaderPicture);
  showVersion(ZK_STATE_BOOTLOADER, major, minor);
}

void MainWindow::showConnected() {
  connected = true;
  deviceMode = ZK_STATE_FIRMWARE;
  m_failedReads = 0;
  m_notAnswering = false;
  advanced->refreshSettings(true);
  setTitle("Connected");
  setIndicator(kConnectedPicture);
  decideInterruptWorker(display_fw_version());  // one version read for both
}

void MainWindow::showDisconnected() {
  connected = false;
  deviceMode = 0;
  m_failedReads = 0;
  m_notAnswering = false;
  advanced->refreshSettings(false);
  setTitle("Disconnected");
  setIndicator(kDisconnectedPicture);
  display_fw_version();
}

void MainWindow::showBootloader() {
  connected = false;
  deviceMode = ZK_STATE_BOOTLOADER;
  advanced->refreshSettings(false);
  setTitle("Connected [DFU]");
  setIndicator(kBootloaderPicture);
  showStatus(tr("Bootloader detected"));
  display_fw_version();
}

void MainWindow::showNewerFirmware() {
  const bool entering = deviceMode != kNewerFirmware;
  connected = false;
  deviceMode = kNewerFirmware;
  advanced->refreshSettings(false);
  setTitle("Newer firmware");
  setIndicator(kNewerPicture);
  display_fw_version();
  if (entering) showStatus(notReadyText());
}

void MainWindow::showNotAnswering() {
  closeReceiver();
  connected = false;
  deviceMode = 0;
  m_notAnswering = true;
  advanced->refreshSettings(false);
  setTitle("Not answering");
  setIndicator(kNotAnsweringPicture);
  ui.version->clear();
  showStatus(notReadyText());
}

// Why device operations are refused: the receiver's state when one is
// there, else that none is.
QString MainWindow::notReadyText() const {
  if (deviceMode == kNewerFirmware)
    return tr("%1 is newer than this application; update Zirko").arg(ui.version->text());
  if (m_notAnswering) return tr("zirko is not answering; unplug it and plug it in again");
  return tr(kPleaseConnect);
}

// ---- layouts ----

bool MainWindow::loadKeyboards(const QString &path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return false;
  KeyboardXmlHandler handler;
  handler.setKeyboardList(&keyboardList);
  const bool parsed = parseKeyboards(file, handler);
  file.close();
  if (!parsed) {
    Question box = standardQuestion(tr("Error parsing ") + path + ".", {"OK"}, kExclamation);
    box.detailedText = handler.errorString();
    m_ask(this, box);
  }
  return parsed;
}

bool MainWindow::selectKeyboard(const QString &name) {
  GraphicsKeyboard *found = nullptr;
  for (GraphicsKeyboard *keyboard : keyboardList) {
    if (keyboard->getName() == name) {
      found = keyboard;
      break;
    }
  }
  if (!found) return false;
  if (currentKeyboard) {
    disconnect(currentKeyboard, &GraphicsKeyboard::clicked, nullptr, nullptr);
    scene->removeItem(currentKeyboard);
  }
  currentKeyboard = found;
  connect(currentKeyboard, &GraphicsKeyboard::clicked, this, &MainWindow::keyboard_clicked);
  scene->addItem(currentKeyboard);
  fitKeyboard();
  // The Controllers menu ticks the layout on show, whoever chose it.
  for (QAction *action : ui.menuController->actions())
    action->setChecked(action->data().toString() == name);
  // During an upgrade the status line tells the upgrade's progress.
  const bool sequenced = currentKeyboard->getSequenced();
  ui.go->setVisible(sequenced);
  if (!m_upgrading) showStatus(tr(sequenced ? kSequencedStart : kClickToRecord));
  return true;
}

void MainWindow::fitKeyboard() {
  if (!currentKeyboard) return;
  const QRectF bounds = currentKeyboard->sceneBoundingRect();
  scene->setSceneRect(bounds);
  ui.KeyboardView->fitInView(bounds, Qt::KeepAspectRatio);
}

void MainWindow::buildControllerMenu() {
  controllerMapper = new QSignalMapper(this);
  bool first = true;
  for (GraphicsKeyboard *keyboard : keyboardList) {
    // The Mac layout shares its picture and menu title with the Windows one.
    if (keyboard->getName() == "Mac_us101") continue;
    auto *action = new QAction(keyboard->getMenu(), this);
    action->setCheckable(true);
    action->setData(keyboard->getName());
    action->setChecked(first);
    first = false;
    controllerMapper->setMapping(action, action);
    connect(action, &QAction::triggered, controllerMapper, qOverload<>(&QSignalMapper::map));
    ui.menuController->addAction(action);
  }
  connect(controllerMapper, &QSignalMapper::mappedObject, this, &MainWindow::menuControllerItem);
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

bool MainWindow::refuseWhileUpgrading() {
  if (!m_upgrading) return false;
  clearLayoutSelection();
  showStatus(tr("Firmware being upgraded, please wait..."));
  return true;
}

void MainWindow::startWorker() {
  worker->start(QThread::InheritPriority);
  statusTimer->stop();
}

void MainWindow::recordKey(GraphicsKey *key, const QList<GraphicsKey *> &modifiers) {
  ZK_GUI_LOGV("record key");
  recordingKey = key;
  recordingModifiers = modifiers;
  QString prefix;
  int held = 0;
  for (GraphicsKey *modifier : modifiers) {
    prefix += printedKeyName(modifier->getName()) + "+";
    held |= modifier->getModifier();
  }
  showStatus(tr("Press the button to be paired with '") + prefix + printedKeyName(key->getName()) +
             "'");
  // Timeout 0: only start recording; the poll or the worker reads the outcome.
  zk_set_record_api(key->getModifier() | held, key->getUsb(), 0);
  if (needsInterruptWorker()) {
    ZK_GUI_LOGD("version 1.0");
    startWorker();
  } else {
    ZK_GUI_LOGD("not version 1.0");
  }
  blinkTimer->start(kBlinkInterval);
}

QString MainWindow::printedKeyName(const QString &name) {
  static const QHash<QString, QString> kPrinted = {
      {"lcontrol", "Ctrl"}, {"rcontrol", "Ctrl"}, {"lshift", "Shift"},   {"rshift", "Shift"},
      {"lalt", "Alt"},      {"ralt", "Alt"},      {"lwindows", "Win"},   {"rwindows", "Win"},
      {"lcommand", "Cmd"},  {"rcommand", "Cmd"},  {"loption", "Option"}, {"roption", "Option"},
  };
  return kPrinted.value(name, name);
}

void MainWindow::on_go_clicked() {
  ZK_GUI_LOGV("stop button clicked");
  if (refuseWhileUpgrading()) return;
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
      if (deviceMode != ZK_STATE_FIRMWARE || !currentKeyboard) {
        refuseWithoutReceiver();
        break;
      }
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
  if (refuseWhileUpgrading()) return;
  if (operation == kIdle && deviceMode == ZK_STATE_FIRMWARE) {
    showStatus(tr("Click the button on your remote to be erased"));
    operation = kErasing;
    ui.erase->setImages(kStopHover, kStopNormal, true);
    if (needsInterruptWorker()) {
      ZK_GUI_LOGI("version 1.0");
      startWorker();
    }
    zk_set_delete(0);
  } else if (operation == kIdle) {
    refuseWithoutReceiver();
  } else if (operation == kErasing) {
    showStatus(tr("Erasing cancelled"));
    stopCurrentOperation();
  }
}

void MainWindow::keyboard_clicked(GraphicsKey *gk, QList<GraphicsKey *> modifiers,
                                  bool autoclicked) {
  ZK_GUI_LOGV("starting process for key");
  if (refuseWhileUpgrading()) return;
  const bool ready = deviceMode == ZK_STATE_FIRMWARE;
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
  ZK_GUI_LOGV("sucessfully recorded key");
  blinkTimer->stop();
  if (needsInterruptWorker()) {
    ZK_GUI_LOGI("version 1.0 firmware, starting thread");
    statusTimer->start();
  }
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
      ZK_GUI_LOGE("unknown status: %d", operation);
      break;
  }
}

void MainWindow::record_failed_no_space() {
  ZK_GUI_LOGV("no space left on device");
  if (needsInterruptWorker()) {
    ZK_GUI_LOGI("version 1.0");
    statusTimer->start();
  }
  showStatus(tr("No more space for new buttons"));
  stopCurrentOperation();
}

void MainWindow::transfer_failed() {
  ZK_GUI_LOGV("transfer failed");
  if (needsInterruptWorker()) {
    ZK_GUI_LOGI("version 1.0");
    statusTimer->start();
  }
  showStatus(tr("Transfer error"));
  // Device operations answer "Please connect zirko" until the poll reconnects.
  deviceMode = kTransferError;
  operation = kIdle;
  QThread::msleep(kTransferErrorPauseMs);
  stopCurrentOperation();
}

void MainWindow::erase_failed_nobutton() {
  ZK_GUI_LOGV("erase failed");
  if (needsInterruptWorker()) {
    ZK_GUI_LOGI("version 1.0");
    statusTimer->start();
  }
  if (operation == kErasing) {
    showStatus(tr("Button already erased"));
    stopCurrentOperation();
  }
}

void MainWindow::record_failed_exists() {
  ZK_GUI_LOGV("failed, key exists");
  if (needsInterruptWorker()) {
    ZK_GUI_LOGI("version 1.0");
    statusTimer->start();
  }
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
  ZK_GUI_LOGV("timer top");
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
  if (operation == kIdle && event->type() == QEvent::KeyPress && currentKeyboard) {
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
  ZK_GUI_LOGV("stopping current operation");
  if (currentKeyboard) {
    currentKeyboard->clearSelection();
    currentKeyboard->clearHeldModifiers();
  }
  if (operation != kIdle && deviceMode == ZK_STATE_FIRMWARE) zk_set_normal();
  ui.go->setImages(kGoHover, kGoNormal, false);
  ui.erase->setImages(kEraseHover, kEraseNormal, false);
  operation = kIdle;
  // The poll stays off while a generation-1 wait runs; a stopped wait may go
  // on until the next button press, so the poll resumes now.
  if (worker->isRunning() && !m_upgrading) statusTimer->start();
  ZK_GUI_LOGV("got to the end");
}

// ---- window events ----

void MainWindow::closeEvent(QCloseEvent *event) {
  ZK_GUI_LOGV("Closing and exiting gui");
  // The upgrade owns the receiver until it ends, which is never long.
  if (m_upgrading) {
    showStatus(tr("Firmware being upgraded, please wait..."));
    event->ignore();
    return;
  }
  zk_set_normal();
  statusTimer->stop();
  closeReceiver();
  // A shown settings window would otherwise keep the application running.
  advanced->close();
  event->accept();
}

void MainWindow::changeEvent(QEvent *event) {
  if (event->type() == QEvent::LanguageChange) ui.retranslateUi(this);
  QMainWindow::changeEvent(event);
}

void MainWindow::showEvent(QShowEvent *event) {
  QMainWindow::showEvent(event);
  // The view has its final size only once shown.
  fitKeyboard();
}
