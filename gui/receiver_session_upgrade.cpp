// The session's upgrades: the offer's answer, the explicit upgrade, a chosen
// image, and an upgrade's start and end as the session carries them out on
// its worker.
#include <QTimer>

#include "firmware_images.h"
#include "receiver_session.h"
#include "upgrade_worker.h"
#include "zirko.h"

namespace {

// Firmware images are whole pages of this many bytes.
constexpr int kPageSize = 128;

// Why the receiver would not take an image, or an empty text when it fits.
QString imageProblem(const QByteArray &image) {
  if (zk_check_fw_image(reinterpret_cast<const unsigned char *>(image.constData()), image.size()) ==
      0)
    return QString();
  if (image.size() % kPageSize != 0)
    return ReceiverSession::tr("its size is not a multiple of %1 bytes").arg(kPageSize);
  return ReceiverSession::tr("it is larger than the receiver's memory");
}

QString versionOf(int major, int minor) {
  return QString::number(major) + "." + QString::number(minor);
}

}  // namespace

void ReceiverSession::answerOffer(int id, bool upgrade) {
  // Withdrawn meanwhile: the answer was about a receiver that is not there.
  if (id == 0 || id != m_offerId) return;
  m_offerId = 0;
  if (upgrade) upgradeBuiltIn();
}

bool ReceiverSession::upgradeBuiltIn() {
  ZK_LOGV("do embedded upgrade");
  if (working() || (m_state != State::kConnected && m_state != State::kBootloader)) return false;
  if (!m_policy.builtInFits()) {
    refuseBuiltIn();
    return false;
  }
  beginUpgrade(UpgradeJob{}, tr("firmware v%1").arg(embeddedVersion()));
  return true;
}

bool ReceiverSession::upgradeFromImage(const QByteArray &image, const QString &name) {
  if (working()) return false;
  // Checked here, while the receiver still runs as it was: a bootloader
  // may not leave again without a good image.
  const QString problem = imageProblem(image);
  if (!problem.isEmpty()) {
    emit notice(tr("%1 was not installed: %2").arg(name, problem));
    return false;
  }
  beginUpgrade(m_policy.chosenImageJob(image), name);
  return true;
}

QString ReceiverSession::upgradeCheck() const {
  if (m_state != State::kConnected && m_state != State::kRefused)
    return tr("Connect zirko to check for upgrades");
  const QString builtIn = embeddedVersion();
  const float version = zk_version_number(m_facts.major, m_facts.minor);
  if (UpgradePolicy::isNewer(version, builtIn.toFloat()))
    return tr("Firmware v%1 is newer than the v%2 this application carries")
        .arg(versionText(), builtIn);
  if (builtIn.toFloat() > version)
    return tr("Firmware v%1 can be upgraded to v%2: Advanced > Force FW Upgrade")
        .arg(versionText(), builtIn);
  return tr("Firmware v%1 is the latest this application carries").arg(versionText());
}

void ReceiverSession::beginUpgrade(const UpgradeJob &job, const QString &installing,
                                   const QString &why) {
  if (m_activity != Activity::kIdle) stop();
  if (m_state == State::kConnected && !claim()) {
    emit notice(tr("zirko is in use by another program"));
    return;
  }
  // The window asked already when the configuration could not be kept; an
  // upgrade it did not ask for goes on, as the firmware must be replaced.
  if (m_state == State::kConnected) keepBefore(kUpgradeChange);
  m_poll->stop();
  m_upgrading = true;
  m_installing = installing;
  emit upgradeStarted(installing, why);
  m_upgrader->startJob(job);
}

void ReceiverSession::upgradeFinished(const UpgradeResult &result) {
  // Its last library call is behind it; the library is the session's again.
  m_upgrader->wait();
  m_upgrading = false;
  m_bootloaderFree.invalidate();
  QString text = outcomeText(result);
  const int state = zk_fw_state();
  m_ownBootloader = state != ZK_STATE_FIRMWARE;
  if (state == ZK_STATE_FIRMWARE) {
    // Shown as it came back; no offer is made for what was just installed.
    const zk::EepromSnapshot snapshot;
    readFacts();
    checkKeptAcrossUpgrade();
    m_facts.major = result.majorAfter;
    m_facts.minor = result.minorAfter;
    zk_claim_receiver(0);
    const bool newer =
        UpgradePolicy::isNewer(zk_version_number(m_facts.major, m_facts.minor), m_facts.builtIn);
    setState(newer ? State::kRefused : State::kConnected);
  } else if (state == ZK_STATE_BOOTLOADER) {
    readFacts();
    setState(State::kBootloader);
  } else {
    dropReceiver(State::kAbsent);
  }
  emit upgradeEnded(text);
  m_poll->start();
}

QString ReceiverSession::outcomeText(const UpgradeResult &result) const {
  const QString cause = result.cause == UpgradeResult::kImageNotStarted
                            ? tr("zirko did not start it")
                            : tr("the upload did not finish");
  switch (result.outcome) {
    case UpgradeResult::kInstalled: {
      const float before = zk_version_number(result.majorBefore, result.minorBefore);
      const float after = zk_version_number(result.majorAfter, result.minorAfter);
      // What was installed, when it is no upgrade (a test release, 255.x,
      // is replaced by any release).
      constexpr int kTestRelease = 255;
      if (result.majorBefore >= 0 && result.majorBefore != kTestRelease && result.majorAfter >= 0 &&
          after < before)
        return tr("Firmware v%1 installed in place of v%2")
            .arg(versionOf(result.majorAfter, result.minorAfter),
                 versionOf(result.majorBefore, result.minorBefore));
      return tr("Firmware successfully upgraded");
    }
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
