// The main window's File, Controllers and Help menus.
#include <QAction>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QSettings>
#include <QSignalMapper>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <cstdlib>

#include "advancedwindow.h"
#include "button_map_menu.h"
#include "mainwindow.h"
#include "mainwindow_pictures.h"
#include "zirko.h"

#ifndef ZIRKO_GIT_VERSION
#define ZIRKO_GIT_VERSION "unknown"
#endif
#ifndef ZIRKO_SUPPORT_URL
#define ZIRKO_SUPPORT_URL "https://zirko.example.org/support"
#endif

namespace {

using window_pictures::kExclamation;
const char *const kConfigFilter = "Zirko Config (*.zcfg)";
const char *const kFirmwareFilter = "Zirko Config (*.bin)";

}  // namespace

void MainWindow::connectMenus() {
  connect(ui.actionClearConfiguration, &QAction::triggered, this, &MainWindow::menuFormatDevice);
  connect(ui.actionLoadConfiguration, &QAction::triggered, this, &MainWindow::menuLoadConfig);
  connect(ui.actionSaveConfiguration, &QAction::triggered, this, &MainWindow::menuSaveConfig);
  connect(ui.actionAbout, &QAction::triggered, this, &MainWindow::menuAbout);
  connect(ui.actionAdvanced, &QAction::triggered, this, &MainWindow::menuAdvanced);
  connect(ui.actionUploadFirmware, &QAction::triggered, this, &MainWindow::menuUploadFirmware);
  connect(ui.actionSupport, &QAction::triggered, this, &MainWindow::menuSupport);
  connect(ui.actionCheck_For_Upgrades, &QAction::triggered, this,
          &MainWindow::menuCheckForUpgrades);
  // The window's asker and chooser are looked up at each use: tests replace them.
  const ButtonMapHost host{
      [this](const Question &q) { return m_ask(this, q); },
      [this](const FileRequest &r) { return m_chooseFile(this, r); },
      [this](const QString &name) { return proposedFile(name); },
      [this](const QString &text) { showStatus(text); },
      [this] { return receiverReady() && !m_session->working(); },
      [this](const std::vector<unsigned char> &image) { m_session->mapWritten(image); },
      [this] { return m_session->buttons(); },
      [this](const std::vector<unsigned char> &current, const QString &change) {
        return m_session->keepImage(current, change);
      },
      [this] { return agreeUnkept(m_session->historyProblem()); },
      [this](const std::vector<unsigned char> &image, const std::vector<unsigned char> &current,
             const QString &change) { return m_session->writeImage(image, current, change); }};
  addButtonMapActions(ui.menuFile, ui.actionClearConfiguration, host);
  addEditMenu();
}

// The Desktop folder as the desktop names it (it is not called "Desktop" in
// every language), else the home folder.
QString MainWindow::proposedFile(const QString &baseName) const {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
  if (folder.isEmpty() || !QDir(folder).exists()) folder = QDir::homePath();
  return folder + QDir::separator() + baseName;
}

void MainWindow::menuFormatDevice() {
  if (refuseWhileWorking()) return;
  if (!receiverReady()) {
    refuseWithoutReceiver();
    return;
  }
  if (!confirmErasingAll()) return;
  stopCurrentOperation();
  eraseAll();
}

// Asks before every recorded button goes; a refusal says "Canceled".
bool MainWindow::confirmErasingAll() {
  Question box = standardQuestion(tr("Are you sure you want to remove all saved data?"),
                                  {"OK", "Cancel"}, kExclamation);
  box.informativeText = tr("\nThis will remove all saved remote keys\n");
  if (m_ask(this, box) == "OK") return true;
  showStatus(tr("Canceled"));
  return false;
}

// Off the window's thread; the end arrives in jobEnded.
void MainWindow::eraseAll() {
  m_session->clearMemory();
}

void MainWindow::menuSaveConfig() {
  if (refuseWhileWorking()) return;
  if (!receiverReady()) {
    refuseWithoutReceiver();
    return;
  }
  showStatus(tr("Backup Configuration File"));
  QString chosen = m_chooseFile(this, {FileRequest::kSave, tr("Save File"),
                                       proposedFile(tr("my_zirko_config")), tr(kConfigFilter)});
  if (chosen.isEmpty()) {
    showStatus(tr("Canceled"));
    return;
  }
  // A name typed without an extension gets the one Load Configuration looks for.
  if (QFileInfo(chosen).suffix().isEmpty()) chosen += ".zcfg";
  // The library opens the path with the C library: it takes the file
  // system's encoding, not Latin-1, or non-Latin folder names are mangled.
  const QByteArray path = QFile::encodeName(chosen);
  showStatus(tr("File being saved, please wait..."));
  const int rc = m_session->saveConfig(path);
  showStatus(rc < 0 ? tr("Could not save file") : tr("File saved"));
}

void MainWindow::menuLoadConfig() {
  if (refuseWhileWorking()) return;
  if (!receiverReady()) {
    refuseWithoutReceiver();
    return;
  }
  showStatus(tr("Restore configuration file"));
  const QString chosen =
      m_chooseFile(this, {FileRequest::kOpen, tr("Open File"), proposedFile(tr("my_zirko_config")),
                          tr(kConfigFilter)});
  if (chosen.isEmpty()) {
    showStatus(tr("Canceled"));
    return;
  }
  m_session->loadConfig(QFile::encodeName(chosen));
}

void MainWindow::menuUploadFirmware() {
  if (refuseWhileWorking()) return;
  // Also for a receiver whose firmware is newer than ours: it may be brought
  // back to a version we know.
  const auto state = m_session->state();
  if (state != ReceiverSession::State::kConnected && state != ReceiverSession::State::kBootloader &&
      state != ReceiverSession::State::kRefused) {
    refuseWithoutReceiver();
    return;
  }
  showStatus(tr("Upload firmware"));
  QCoreApplication::processEvents();
  const QString chosen = m_chooseFile(
      this, {FileRequest::kOpen, tr("Open File"), proposedFile(tr("zirko")), tr(kFirmwareFilter)});
  if (chosen.isEmpty()) {
    showStatus(tr("Canceled"));
    return;
  }
  // Through the library's reader: a FIFO, a device or a huge file is
  // refused at once, and nothing is sent to the receiver.
  unsigned char *bytes = nullptr;
  char reason[160] = "";
  const long length = zk_read_input_file(QFile::encodeName(chosen).constData(),
                                         ZK_FIRMWARE_FILE_MAX, &bytes, reason, sizeof reason);
  if (length < 0) {
    showStatus(tr("Could not read the firmware file: %1: %2")
                   .arg(QFileInfo(chosen).fileName(), QString::fromLocal8Bit(reason)));
    return;
  }
  const QByteArray image(reinterpret_cast<const char *>(bytes), int(length));
  free(bytes);
  if (image.isEmpty()) {
    showStatus(tr("Could not read the firmware file"));
    return;
  }
  if (!keptOrAgreed("upgrade " + QFileInfo(chosen).fileName())) return;
  m_session->upgradeFromImage(image, QFileInfo(chosen).fileName());
}

void MainWindow::menuCheckForUpgrades() {
  if (refuseWhileWorking()) return;
  showStatus(m_session->upgradeCheck());
}

void MainWindow::menuAdvanced() {
  advanced->refreshSettings(receiverReady() && !m_session->working());
  advanced->show();
}

void MainWindow::menuControllerItem(QObject *item) {
  auto *chosen = qobject_cast<QAction *>(item);
  if (!chosen) return;
  ZK_LOGD("menu item %s", qUtf8Printable(chosen->text()));
  for (QAction *action : ui.menuController->actions()) {
    if (action != chosen) {
      action->setChecked(false);
      continue;
    }
    // Triggering the entry already selected unchecks it: keep it, change nothing.
    if (!action->isChecked()) {
      action->setChecked(true);
      return;
    }
    stopCurrentOperation();
    selectKeyboard(action->data().toString());
    if (m_memory) m_memory->setValue("window/layout", action->data().toString());
  }
}

void MainWindow::menuAbout() {
  Question box =
      standardQuestion(tr("Zirko GUI Version: v" ZIRKO_VERSION), {"OK"}, ":/images/logo_small.png");
  box.informativeText =
      tr("Git Version: %1\n"
         "Based on Qt %2\n\n"
         "Written by the Zirko maintainers\n\n"
         "Tips and tricks on the forum and the blog:\n%3\n%4\n"
         "Support: %5\n\n"
         "Thanks to everyone who reported a remote, tested a layout or sent a fix.")
          .arg(ZIRKO_GIT_VERSION, qVersion(), "https://zirko.example.org/forum",
               "https://zirko.example.org/blog", "support@zirko.example.org");
  box.minimumWidth = 350;
  m_ask(this, box);
}

void MainWindow::menuSupport() {
  if (QDesktopServices::openUrl(QUrl(ZIRKO_SUPPORT_URL))) return;
  // No browser to open it: the address, to be typed or copied.
  Question box = standardQuestion(tr("Open the support page in your web browser:"), {"OK"});
  box.informativeText = ZIRKO_SUPPORT_URL;
  m_ask(this, box);
}
