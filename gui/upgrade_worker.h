// Firmware upgrades off the window's thread: the library's upgrade blocks
// for as long as the receiver takes to leave the bus and come back (bounded
// by the library's waits), and the window must keep answering meanwhile.
#ifndef ZIRKO_GUI_UPGRADE_WORKER_H
#define ZIRKO_GUI_UPGRADE_WORKER_H

#include <QByteArray>
#include <QMetaType>
#include <QThread>

#include "upgrade_policy.h"

struct UpgradeResult {
  enum Outcome {
    kInstalled,      // the job's image runs
    kRecovered,      // the chosen image failed; the built-in one runs
    kSwitchRefused,  // the receiver kept running its firmware, unchanged
    kNotBack,        // the receiver did not come back within the wait
    kFailed,         // nothing was installed
  };
  // Why a chosen image failed.
  enum Cause { kUploadFailed, kImageNotStarted };

  Outcome outcome = kFailed;
  Cause cause = kUploadFailed;
  // Version of the built-in firmware that was installed (0: none).
  float builtInVersion = 0;
  // What the receiver ran before, and runs now (negative: unknown).
  int majorBefore = -1, minorBefore = -1;
  int majorAfter = -1, minorAfter = -1;
};
Q_DECLARE_METATYPE(UpgradeResult)

// Runs one upgrade per start and answers only through its signals. While it
// runs nothing else may call the library, which keeps one device state and
// takes no locks. The receiver must be open when it starts; it leaves the
// library with whatever receiver the upgrade ended with.
class UpgradeWorker : public QThread {
  Q_OBJECT

 public:
  explicit UpgradeWorker(QObject *parent = nullptr);

  void startJob(const UpgradeJob &job);

 signals:
  // The receiver runs its bootloader of this version.
  void inBootloader(int major, int minor);
  void progress(int percent);
  void ended(UpgradeResult result);

 protected:
  void run() override;

 private:
  UpgradeResult installBuiltIn();
  UpgradeResult installChosen();
  int upload(const QByteArray &image);

  UpgradeJob m_job;
  UpgradeResult m_before;
};

#endif  // ZIRKO_GUI_UPGRADE_WORKER_H
