// When the firmware the application carries goes to a receiver, and what an
// upgrade installs. The window reads the receiver and asks; the policy asks
// the receiver nothing itself.
#ifndef ZIRKO_GUI_UPGRADE_POLICY_H
#define ZIRKO_GUI_UPGRADE_POLICY_H

#include <QByteArray>
#include <functional>

// What an upgrade installs.
struct UpgradeJob {
  // The image the user chose; empty: the built-in image that suits the
  // receiver's variant and bootloader.
  QByteArray image;
  // A receiver left in its bootloader by a failed upload of `image` is
  // given the built-in image instead.
  bool recoverWithBuiltIn = false;
};

// A receiver found running its firmware, as the window read it.
struct FoundFirmware {
  float version = 0;  // as zk_version gives it
  int major = 0;
  int minor = 0;
  bool inBootloader = false;  // the library holds it in its bootloader after all
  float builtIn = 0;          // version of the built-in firmware for its variant
};

// What becomes of a receiver found running its firmware.
struct FirmwareDecision {
  bool newer = false;    // newer than the built-in firmware: held, not used
  bool refuse = false;   // due for the built-in firmware, which doesn't fit it
  bool offer = false;    // the user is asked whether to install the built-in firmware
  bool upgrade = false;  // the built-in firmware is installed, without asking
  // Why an upgrade is not asked for but needed.
  enum Forced { kNotForced, kReleaseCandidate, kMislabeled };
  Forced forced = kNotForced;
};

class UpgradePolicy {
 public:
  // What becomes of a receiver found in its bootloader.
  enum class BootloaderStep {
    kWait,     // it may be passing through on its way to its firmware
    kUpgrade,  // given the built-in firmware
    kHold,     // kept as it is, for an upgrade from a file
  };

  // `placeholderImages`: the built-in images are made for the virtual
  // receiver, not real firmware.
  explicit UpgradePolicy(bool placeholderImages);

  // Tells whether the receiver sits on the virtual bus.
  void setBusProbe(std::function<bool()> isVirtual) { m_busIsVirtual = std::move(isVirtual); }

  // Images made for the virtual receiver never go to a real one.
  bool builtInFits() const;
  // Firmware newer than ours may speak a protocol we don't know.
  static bool isNewer(float version, float builtIn) { return version > builtIn; }

  // The offer of an older receiver's upgrade is made once per run.
  FirmwareDecision onFirmware(const FoundFirmware &found);
  // `waiting`: someone else may still be busy with it (see ReceiverSession).
  BootloaderStep onBootloader(bool waiting) const;

  // The built-in image that suits the receiver's variant and bootloader.
  static UpgradeJob builtInJob();
  // A chosen image, whose failed upload is made good with the built-in
  // image where that fits.
  UpgradeJob chosenImageJob(const QByteArray &image) const;

 private:
  bool m_placeholderImages;
  bool m_offerPending = true;
  std::function<bool()> m_busIsVirtual;
};

#endif  // ZIRKO_GUI_UPGRADE_POLICY_H
