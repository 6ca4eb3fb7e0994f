#include "upgrade_worker.h"

#include <QFile>

#include "firmware_images.h"
#include "zirko.h"

namespace {

// zk_enter_bootloader results besides ZK_STATE_BOOTLOADER.
constexpr int kNotBack = -6;

void reportProgress(int percent, void *worker) {
  emit static_cast<UpgradeWorker *>(worker)->progress(percent);
}

// A receiver that left the bus during an upload comes back within moments
// when it survived; it is waited for before anything is said about it.
constexpr int kReturnWaitMs = 5000;
constexpr int kReturnPollMs = 100;

// The receiver after a failed upload: its state when one is open, else
// once it is back (negative: it did not come back).
int receiverAfterFailure() {
  const int state = zk_fw_state();
  if (state > 0) return state;
  int opened = zk_open_device(ZK_VENDOR_ID, ZK_MANUFACTURER);
  for (int waited = 0; opened < 0 && waited < kReturnWaitMs; waited += kReturnPollMs) {
    QThread::msleep(kReturnPollMs);
    opened = zk_open_device(ZK_VENDOR_ID, ZK_MANUFACTURER);
  }
  return opened;
}

}  // namespace

UpgradeWorker::UpgradeWorker(QObject *parent) : QThread(parent) {
  qRegisterMetaType<UpgradeResult>();
}

void UpgradeWorker::startJob(const UpgradeJob &job) {
  m_job = job;
  start(QThread::InheritPriority);
}

void UpgradeWorker::run() {
  zk_read_version(&m_before.majorBefore, &m_before.minorBefore);
  UpgradeResult result = m_job.image.isEmpty() ? installBuiltIn() : installChosen();
  result.majorBefore = m_before.majorBefore;
  result.minorBefore = m_before.minorBefore;
  if (zk_fw_state() == ZK_STATE_FIRMWARE) zk_read_version(&result.majorAfter, &result.minorAfter);
  ZK_LOGI("done with upgrade");
  emit ended(result);
}

int UpgradeWorker::upload(const QByteArray &image) {
  return zk_upgrade_fw_ext(reinterpret_cast<const unsigned char *>(image.constData()),
                           int(image.size()), ZK_VENDOR_ID, ZK_MANUFACTURER, this, reportProgress);
}

UpgradeResult UpgradeWorker::installBuiltIn() {
  ZK_LOGD("trying upgrade");
  UpgradeResult result;
  // The library waits for the receiver to leave and come back in its
  // bootloader, so the image is chosen by the bootloader's version.
  const int entered = zk_enter_bootloader(ZK_VENDOR_ID);
  if (entered != ZK_STATE_BOOTLOADER) {
    ZK_LOGE("receiver did not enter its bootloader");
    result.outcome = entered == kNotBack ? UpgradeResult::kNotBack : UpgradeResult::kSwitchRefused;
    return result;
  }
  int major, minor;
  zk_read_version(&major, &minor);
  emit inBootloader(major, minor);

  const float bootloader = zk_version_number(major, minor);
  if (firmware::takesLegacyImage(bootloader))
    ZK_LOGD("using legacy image");
  else
    ZK_LOGD("using new image");
  const int product = zk_product_type();
  QFile file(firmware::imagePath(product, bootloader));
  const QByteArray image = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  if (!image.isEmpty() && upload(image) >= 0) {
    result.outcome = UpgradeResult::kInstalled;
    result.builtInVersion = firmware::readVersionText(firmware::versionTextPath(product));
    return result;
  }
  // Closed, so that the next look for a receiver starts anew.
  result.outcome = receiverAfterFailure() < 0 ? UpgradeResult::kNotBack : UpgradeResult::kFailed;
  zk_close_device();
  return result;
}

UpgradeResult UpgradeWorker::installChosen() {
  UpgradeResult result;
  if (upload(m_job.image) >= 0) {
    result.outcome = UpgradeResult::kInstalled;
    return result;
  }
  // The library refuses an image and a switch while the receiver still runs
  // its firmware: then nothing changed.
  if (zk_fw_state() == ZK_STATE_FIRMWARE) {
    result.outcome = UpgradeResult::kSwitchRefused;
    return result;
  }
  // Still open in its bootloader: the upload went through, but the receiver
  // would not start the image.
  result.cause = zk_fw_state() == ZK_STATE_BOOTLOADER ? UpgradeResult::kImageNotStarted
                                                      : UpgradeResult::kUploadFailed;
  const int state = receiverAfterFailure();
  if (state < 0) {
    result.outcome = UpgradeResult::kNotBack;
    return result;
  }
  if (state != ZK_STATE_BOOTLOADER || !m_job.recoverWithBuiltIn) return result;

  UpgradeResult recovered = installBuiltIn();
  if (recovered.outcome == UpgradeResult::kInstalled) recovered.outcome = UpgradeResult::kRecovered;
  recovered.cause = result.cause;
  return recovered;
}
