#include "upgrade_policy.h"

#include "zirko.h"

UpgradePolicy::UpgradePolicy(bool placeholderImages)
    : m_placeholderImages(placeholderImages),
      m_busIsVirtual([] { return zk_backend_is_virtual() != 0; }) {}

bool UpgradePolicy::builtInFits() const {
  return !m_placeholderImages || m_busIsVirtual();
}

FirmwareDecision UpgradePolicy::onFirmware(const FoundFirmware &found) {
  FirmwareDecision decision;
  decision.newer = isNewer(found.version, found.builtIn);
  const bool older = found.builtIn > found.version;
  const bool releaseCandidate = found.major == 255 && found.minor <= 14;
  // Shipped as 1.4, but older firmware.
  const bool mislabeled = found.major == 1 && found.minor == 4;
  if (!builtInFits()) {
    decision.refuse = older || releaseCandidate || mislabeled;
    return decision;
  }
  if (m_offerPending && found.inBootloader) {
    ZK_LOGD("bootloader detected on first boot, forcing upgrade");
    decision.upgrade = true;
    return decision;
  }
  if (releaseCandidate) ZK_LOGI("supported rc fw detected, upgrading");
  if (mislabeled) ZK_LOGI("mislabeled fw found, upgrading");
  decision.upgrade = releaseCandidate || mislabeled;
  // A needed upgrade is not asked for: either answer would end in it.
  if (decision.upgrade) {
    decision.forced =
        releaseCandidate ? FirmwareDecision::kReleaseCandidate : FirmwareDecision::kMislabeled;
    return decision;
  }
  if (older && m_offerPending) {
    m_offerPending = false;
    decision.offer = true;
  }
  return decision;
}

UpgradePolicy::BootloaderStep UpgradePolicy::onBootloader(bool waiting) const {
  if (waiting) return BootloaderStep::kWait;
  return builtInFits() ? BootloaderStep::kUpgrade : BootloaderStep::kHold;
}

UpgradeJob UpgradePolicy::builtInJob() {
  return UpgradeJob{};
}

UpgradeJob UpgradePolicy::chosenImageJob(const QByteArray &image) const {
  return UpgradeJob{image, builtInFits()};
}
