// Upgrades from the firmware the application carries: the rules that decide
// when, the explicit upgrade of the advanced window, and the one routine that
// hands an image to the library and shows its progress.
#include "firmware_upgrade.h"

#include <QCoreApplication>
#include <QFile>
#include <QProgressBar>
#include <QThread>
#include <QTimer>
#include <chrono>

#include "advancedwindow.h"
#include "gui_log.h"
#include "mainwindow.h"
#include "zirko.h"

#ifndef ZIRKO_PLACEHOLDER_FIRMWARE
#define ZIRKO_PLACEHOLDER_FIRMWARE 1
#endif

namespace {

using std::chrono::milliseconds;
// The receiver settles after the mode change before the image goes out.
constexpr milliseconds kBeforeUpload{1000};
constexpr milliseconds kAfterUpload{100};
constexpr milliseconds kLeaveBus{500};
// Waits for a receiver that was asked into its bootloader but showed up
// still running its firmware.
constexpr int kBootloaderAttempts = 3;
// Bootloaders from this version on take the newer image.
constexpr float kNewBootloader = 2.0f;
constexpr int kVersionLineBytes = 100;

const char *const kExclamation = ":/images/exclamation.png";

void sleepFor(milliseconds pause) {
  QThread::msleep(static_cast<unsigned long>(pause.count()));
}

// Keeps the window repainting while the library uploads page by page.
void reportProgress(int percent, void *arg) {
  static_cast<MainWindowUi *>(arg)->progressBar->setValue(percent);
  QCoreApplication::processEvents();
}

}  // namespace

namespace firmware {

QString versionTextPath(int productType) {
  return productType == ZK_PRODUCT_CORVANE ? ":/firmware/cv_version.txt" : ":/firmware/version.txt";
}

QString imagePath(int productType, float bootloaderVersion) {
  const bool corvane = productType == ZK_PRODUCT_CORVANE;
  if (bootloaderVersion < kNewBootloader)
    return corvane ? ":/firmware/zirko.cv.bl.1.4.bin" : ":/firmware/zirko.bl.1.4.bin";
  return corvane ? ":/firmware/zirko.cv.bl.2.0.bin" : ":/firmware/zirko.bl.2.0.bin";
}

float readVersionText(const QString &path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return 0;
  char line[kVersionLineBytes];
  const qint64 read = file.readLine(line, sizeof line);
  if (read < 1) return 0;
  file.close();
  // toFloat gives 0 for a text that isn't a number.
  return QString::fromLatin1(line, int(read)).trimmed().toFloat();
}

bool placeholderImages() {
  return ZIRKO_PLACEHOLDER_FIRMWARE != 0;
}

}  // namespace firmware

float MainWindow::GetEmbeddedFirmwareVersion() {
  ZK_GUI_LOGV("getting embedded firmware version");
  return firmware::readVersionText(firmware::versionTextPath(zk_product_type()));
}

bool MainWindow::embeddedImagesFit() {
  return !firmware::placeholderImages() || m_busIsVirtual();
}

void MainWindow::refuseEmbeddedUpgrade() {
  ZK_GUI_LOG(ZK_LOG_WARNING, "W",
             "built-in firmware is made for the virtual receiver, not offered to a real one");
  showStatus(tr("No built-in firmware for this receiver"));
}

bool MainWindow::CheckFirmwareVersion() {
  ZK_GUI_LOGV("checking firmware version");
  const float hw = zk_version();
  const int major = zk_major_version();
  const int minor = zk_minor_version();
  const float emb = GetEmbeddedFirmwareVersion();
  ZK_GUI_LOGI("hw version: %d.%d", major, minor);
  ZK_GUI_LOGI("emb version: %f", emb);

  const bool releaseCandidate = major == 255 && minor <= 14;
  const bool mislabeled = major == 1 && minor == 4;  // shipped as 1.4, is older firmware
  if (!embeddedImagesFit()) {
    if (emb > hw || releaseCandidate || mislabeled) refuseEmbeddedUpgrade();
    return hw <= emb;
  }

  if (offerUpgrade && zk_fw_state() == ZK_STATE_BOOTLOADER) {
    ZK_GUI_LOGD("bootloader detected on first boot, forcing upgrade");
    return do_embedded_upgrade();
  }
  if (emb > hw && offerUpgrade) {
    offerUpgrade = false;  // asked once per run of the application
    Question box;
    box.text = tr("Firmware Upgrade Available");
    box.informativeText = tr("\nDo you want to upgrade?");
    box.buttons = QStringList{"Yes", "No"};
    box.defaultButton = "No";
    box.standardButtons = true;
    box.iconPath = kExclamation;
    if (m_ask(this, box) == "Yes") return do_embedded_upgrade();
  }
  if (releaseCandidate) {
    ZK_GUI_LOGI("supported rc fw detected, upgrading");
    return do_embedded_upgrade();
  }
  if (mislabeled) {
    ZK_GUI_LOGI("mislabeled fw found, upgrading");
    return do_embedded_upgrade();
  }
  // Firmware newer than ours may speak a protocol we don't know.
  return hw <= emb;
}

// A receiver still in its firmware after the wait (it missed the request or
// has not left the bus yet) would get an image chosen by its firmware
// version, and the library would then wait for its bootloader without end.
bool MainWindow::enterBootloader() {
  if (zk_device_set_dfu() > 0) return true;
  for (int attempt = 0; attempt < kBootloaderAttempts; ++attempt) {
    ZK_GUI_LOGD("device was not in bootloader, closing");
    zk_close_device();
    if (attempt > 0) sleepFor(kLeaveBus);
    if (zk_wait_for_device(ZK_VENDOR_ID, ZK_MANUFACTURER) == ZK_STATE_BOOTLOADER) return true;
  }
  return false;
}

bool MainWindow::do_embedded_upgrade() {
  ZK_GUI_LOGV("do embedded upgrade");
  ZK_GUI_LOGD("trying upgrade");
  if (!embeddedImagesFit()) {
    refuseEmbeddedUpgrade();
    return false;
  }
  showStatus(tr("Firmware being upgraded, please wait..."));
  if (!enterBootloader()) {
    ZK_GUI_LOGE("receiver did not enter its bootloader");
    zk_close_device();
    showStatus(tr("Could not upgrade firmware. Contact support."));
    return false;
  }
  display_fw_version();

  const float bootloader = zk_version();
  if (bootloader < kNewBootloader)
    ZK_GUI_LOGD("using legacy image");
  else
    ZK_GUI_LOGD("using new image");
  const bool result = upgradeFromImage(firmware::imagePath(zk_product_type(), bootloader));
  ZK_GUI_LOGI("done with upgrade");
  return result;
}

void MainWindow::force_update() {
  ZK_GUI_LOGV("force update slot");
  // Without a receiver in use the upgrade would wait for one without end.
  if (deviceMode != ZK_STATE_FIRMWARE) {
    showStatus(tr("Please connect zirko"));
    return;
  }
  if (!embeddedImagesFit()) {
    refuseEmbeddedUpgrade();
    return;
  }
  const QString major = QString::number(zk_major_version(), 'g', 5);
  const QString minor = QString::number(zk_minor_version(), 'g', 5);
  const QString emb = QString::number(GetEmbeddedFirmwareVersion(), 'f', 1);

  Question box;
  box.text = tr("Firmware Upgrade");
  box.informativeText = tr("Upgrading to latest firmware?\n\nYour firmware version is: ") + major +
                        "." + minor + tr("\nThe latest firmware version is: ") + emb +
                        tr("\n\nThis will force a firmware update with the latest stable firmware "
                           "release. You may have to re-learn your keys, do you want to "
                           "continue?\n");
  box.buttons = QStringList{"Yes", "No"};
  box.defaultButton = "No";
  box.standardButtons = true;
  box.iconPath = kExclamation;
  box.minimumWidth = 350;
  if (m_ask(this, box) != "Yes") return;

  advanced->close();
  statusTimer->stop();
  QCoreApplication::processEvents();
  if (do_embedded_upgrade())
    showConnected();
  else
    showDisconnected();
  statusTimer->start();
}

bool MainWindow::upgradeFromImage(const QString &path) {
  sleepFor(kBeforeUpload);
  ui.progressBar->setValue(0);
  ui.progressBar->show();
  ui.progressBar->setTextVisible(false);

  QFile file(path);
  QByteArray image;
  if (file.open(QIODevice::ReadOnly) && file.size() > 0) image = file.readAll();
  file.close();
  if (image.isEmpty()) {
    // Nothing was sent; the receiver is as it was.
    ui.progressBar->hide();
    showStatus(tr("Could not read the firmware file"));
    return false;
  }
  QCoreApplication::processEvents();

  const int rc =
      zk_upgrade_fw_ext(reinterpret_cast<const unsigned char *>(image.constData()),
                        int(image.size()), ZK_VENDOR_ID, ZK_MANUFACTURER, &ui, reportProgress);
  sleepFor(kAfterUpload);
  ui.progressBar->hide();
  if (rc < 0) {
    zk_close_device();
    showStatus(tr("Could not upgrade firmware. Contact support."));
    return false;
  }
  showStatus(tr("Firmware successfully upgraded"));
  return true;
}
