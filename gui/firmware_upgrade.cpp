// Upgrades as the window carries out what UpgradePolicy decides: the offer,
// the explicit upgrade of the advanced window, the check of a chosen image,
// and the window's side of an upgrade that runs on its worker: its start,
// its progress and what it ended with.
#include "firmware_upgrade.h"

#include <QFile>
#include <QFileInfo>
#include <QProgressBar>
#include <QTimer>

#include "advancedwindow.h"
#include "gui_log.h"
#include "mainwindow.h"
#include "mainwindow_pictures.h"
#include "upgrade_policy.h"
#include "upgrade_worker.h"
#include "zirko.h"

#ifndef ZIRKO_PLACEHOLDER_FIRMWARE
#define ZIRKO_PLACEHOLDER_FIRMWARE 1
#endif

namespace {

// Bootloaders from this version on take the newer image.
constexpr float kNewBootloader = 2.0f;
constexpr int kVersionLineBytes = 100;
// Firmware images are whole pages of this many bytes.
constexpr int kPageSize = 128;

using window_pictures::kExclamation;

}  // namespace

namespace firmware {

QString versionTextPath(int productType) {
  return productType == ZK_PRODUCT_CORVANE ? ":/firmware/cv_version.txt" : ":/firmware/version.txt";
}

bool takesLegacyImage(float bootloaderVersion) {
  return bootloaderVersion < kNewBootloader;
}

QString imagePath(int productType, float bootloaderVersion) {
  const bool corvane = productType == ZK_PRODUCT_CORVANE;
  if (takesLegacyImage(bootloaderVersion))
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

void MainWindow::refuseEmbeddedUpgrade() {
  ZK_GUI_LOG(ZK_LOG_WARNING, "W",
             "built-in firmware is made for the virtual receiver, not offered to a real one");
  showStatus(tr("No built-in firmware for this receiver"));
}

bool MainWindow::firmwareNewerThanOurs() {
  return UpgradePolicy::isNewer(zk_version(), GetEmbeddedFirmwareVersion());
}

MainWindow::FirmwareVerdict MainWindow::CheckFirmwareVersion() {
  ZK_GUI_LOGV("checking firmware version");
  int major, minor;
  zk_read_version(&major, &minor);  // one request gives all three
  const FoundFirmware found{.version = zk_version_number(major, minor),
                            .major = major,
                            .minor = minor,
                            .inBootloader = zk_fw_state() == ZK_STATE_BOOTLOADER,
                            .builtIn = GetEmbeddedFirmwareVersion()};
  ZK_GUI_LOGI("hw version: %d.%d", found.major, found.minor);
  ZK_GUI_LOGI("emb version: %f", found.builtIn);
  const FirmwareDecision decision = m_upgradePolicy.onFirmware(found);
  if (decision.refuse) refuseEmbeddedUpgrade();
  const bool accepted = decision.offer && offerEmbeddedUpgrade();
  if ((accepted || decision.upgrade) && do_embedded_upgrade()) return kUpgrading;
  return decision.newer ? kNewer : kUsable;
}

bool MainWindow::offerEmbeddedUpgrade() {
  Question box = standardQuestion(tr("Firmware Upgrade Available"), {"Yes", "No"}, kExclamation);
  box.informativeText = tr("\nDo you want to upgrade?");
  return m_ask(this, box) == "Yes";
}

bool MainWindow::do_embedded_upgrade() {
  ZK_GUI_LOGV("do embedded upgrade");
  if (!m_upgradePolicy.builtInFits()) {
    refuseEmbeddedUpgrade();
    return false;
  }
  const QString version = QString::number(GetEmbeddedFirmwareVersion(), 'f', 1);
  beginUpgrade(UpgradePolicy::builtInJob(), tr("firmware v%1").arg(version));
  return true;
}

void MainWindow::force_update() {
  ZK_GUI_LOGV("force update slot");
  if (refuseWhileUpgrading()) return;
  // Without a receiver in use the upgrade would have nothing to switch.
  if (deviceMode != ZK_STATE_FIRMWARE) {
    refuseWithoutReceiver();
    return;
  }
  if (!m_upgradePolicy.builtInFits()) {
    refuseEmbeddedUpgrade();
    return;
  }
  int majorNumber, minorNumber;
  zk_read_version(&majorNumber, &minorNumber);
  const QString major = QString::number(majorNumber, 'g', 5);
  const QString minor = QString::number(minorNumber, 'g', 5);
  const QString emb = QString::number(GetEmbeddedFirmwareVersion(), 'f', 1);

  Question box = standardQuestion(tr("Firmware Upgrade"), {"Yes", "No"}, kExclamation);
  box.informativeText = tr("Upgrading to latest firmware?\n\nYour firmware version is: ") + major +
                        "." + minor + tr("\nThe latest firmware version is: ") + emb +
                        tr("\n\nThis will force a firmware update with the latest stable firmware "
                           "release. You may have to re-learn your keys, do you want to "
                           "continue?\n");
  box.minimumWidth = 350;
  if (m_ask(this, box) != "Yes") return;

  advanced->close();
  do_embedded_upgrade();
}

// Why the receiver would not take an image, or an empty text when it fits.
QString MainWindow::imageProblem(const QByteArray &image) {
  if (zk_check_fw_image(reinterpret_cast<const unsigned char *>(image.constData()), image.size()) ==
      0)
    return QString();
  if (image.size() % kPageSize != 0)
    return tr("its size is not a multiple of %1 bytes").arg(kPageSize);
  return tr("it is larger than the receiver's memory");
}

bool MainWindow::upgradeFromImage(const QString &path) {
  QFile file(path);
  QByteArray image;
  if (file.open(QIODevice::ReadOnly) && file.size() > 0) image = file.readAll();
  file.close();
  if (image.isEmpty()) {
    // Nothing was sent; the receiver is as it was.
    showStatus(tr("Could not read the firmware file"));
    return false;
  }
  // Checked here, while the receiver still runs as it was: a bootloader
  // may not leave again without a good image.
  const QString name = QFileInfo(path).fileName();
  const QString problem = imageProblem(image);
  if (!problem.isEmpty()) {
    showStatus(tr("%1 was not installed: %2").arg(name, problem));
    return false;
  }
  beginUpgrade(m_upgradePolicy.chosenImageJob(image), name);
  return true;
}

void MainWindow::beginUpgrade(const UpgradeJob &job, const QString &installing) {
  if (operation != kIdle) stopCurrentOperation();
  statusTimer->stop();
  m_upgrading = true;
  m_needsInterruptWorker = false;  // the upgrade may bring back another firmware
  m_installing = installing;
  advanced->refreshSettings(false);
  ui.progressBar->setValue(0);
  ui.progressBar->setFormat(tr("Installing %1: %p%").arg(installing));
  ui.progressBar->setTextVisible(true);
  ui.progressBar->show();
  showStatus(tr("Firmware being upgraded, please wait..."));
  m_upgrader->startJob(job);
}

void MainWindow::upgradeEnded(const UpgradeResult &result) {
  // Its last library call is behind it; the window may use the library again.
  m_upgrader->wait();
  m_upgrading = false;
  ui.progressBar->hide();
  const int modeBefore = deviceMode;
  showReceiverAsFound();
  // A newer firmware's own message says what was installed.
  if (deviceMode != kNewerFirmware || modeBefore == kNewerFirmware) showStatus(outcomeText(result));
  firstPoll = false;
  statusTimer->start();
}

QString MainWindow::outcomeText(const UpgradeResult &result) const {
  const QString cause = result.cause == UpgradeResult::kImageNotStarted
                            ? tr("zirko did not start it")
                            : tr("zirko refused the upload");
  switch (result.outcome) {
    case UpgradeResult::kInstalled:
      return tr("Firmware successfully upgraded");
    case UpgradeResult::kRecovered:
      return tr("%1 was not installed (%2); the built-in firmware v%3 was installed instead")
          .arg(m_installing, cause, QString::number(result.builtInVersion, 'f', 1));
    case UpgradeResult::kSwitchRefused:
      return tr("Could not upgrade firmware: zirko did not switch to its bootloader");
    case UpgradeResult::kNotBack:
      return tr(
          "Could not upgrade firmware: zirko did not come back. Unplug it and plug it in "
          "again.");
    default:
      return tr("Could not upgrade firmware. Contact support.");
  }
}
