// The one owner of the receiver in the desktop application: it opens and
// closes it, polls it, reads what it is once when it takes it into use, runs
// the generation-1 outcome worker, and carries out what UpgradePolicy
// decides. The window only asks it and draws what its signals say.
#ifndef ZIRKO_GUI_RECEIVER_SESSION_H
#define ZIRKO_GUI_RECEIVER_SESSION_H

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "upgrade_policy.h"
#include "zirko_map.h"

class QThread;
class QTimer;
class UpgradeWorker;
class zirko_interrupt;
struct UpgradeJob;
struct UpgradeResult;
struct zk_key_monitor;

class ReceiverSession : public QObject {
  Q_OBJECT

 public:
  // What the receiver is to the application; exactly one at a time.
  enum class State {
    kAbsent,        // none on the bus
    kConnected,     // firmware this application knows, ready for use
    kBootloader,    // in its bootloader
    kBusy,          // another program holds it
    kNotAnswering,  // there, but its requests keep failing
    kRefused,       // firmware newer than this application knows: not used
  };
  // How a recording or an erase ended.
  enum class Outcome { kDone, kNoSpace, kExists, kNotFound, kGone, kInUse };

  // What the receiver in use is, read once when it was taken into use.
  struct Facts {
    int major = -1;
    int minor = -1;
    int product = 0;
    bool outcomeOnInterrupt = false;
    float builtIn = 0;  // version of the built-in firmware for its variant
  };

  // How long a receiver found in its bootloader, which this application did
  // not send there, is left to whoever did before it is recovered.
  static constexpr std::chrono::milliseconds kBootloaderGrace{6000};

  explicit ReceiverSession(zirko_interrupt *worker, QObject *parent = nullptr);
  ~ReceiverSession() override;

  // The first poll comes a moment later.
  void start();

  State state() const { return m_state; }
  const Facts &facts() const { return m_facts; }
  // The version as the user reads it ("3.8"), or empty with no receiver.
  QString versionText() const;
  // An upgrade or a long job owns the library until it ends.
  bool working() const { return m_upgrading || m_job != nullptr || m_mapReader != nullptr; }
  // The recorded buttons are being read off the window's thread; the
  // library is the reader's until it ends (mapReadEnded).
  bool readingMap() const { return m_mapReader != nullptr; }
  bool upgrading() const { return m_upgrading; }
  QTimer *pollTimer() const { return m_poll; }
  bool workerWaiting() const;
  // The poll that opened the receiver in use.
  void setBusProbe(std::function<bool()> isVirtual) { m_policy.setBusProbe(std::move(isVirtual)); }
  void setBootloaderGrace(std::chrono::milliseconds grace) { m_grace = grace; }
  bool builtInFits() const { return m_policy.builtInFits(); }

  // ---- recording and erasing (the outcome arrives as `outcome`) ----
  // 0, or ZK_ERR_IN_USE / a failure code when it could not start.
  int record(int modifier, int usage);
  int erase();
  // Ends a recording or an erase; the receiver goes back to normal.
  void stop();

  // ---- the recorded buttons, read once at connect and kept up to date
  // with this application's own changes (mapChanged tells) ----
  using Buttons = std::vector<zk::map::Button>;
  const Buttons &buttons() const { return m_buttons; }
  // Deletes every button that sends this key: how many went, or a failure
  // code; kMapChanged when another program changed the map meanwhile (it is
  // read again, and nothing more is deleted).
  static constexpr int kMapChanged = -1000;
  int forget(int modifier, int usage);
  // Image bytes of a configuration that was written, as the map now is.
  void mapWritten(const std::vector<unsigned char> &image);

  // ---- test mode: the keys the receiver types arrive as keyTyped, read on
  // the poll; nothing is recorded meanwhile ----
  // False (with `notice`) when the keys cannot be read.
  bool startTesting();
  void stopTesting();
  bool testing() const { return m_testing; }

  // ---- long jobs off the window's thread; `jobEnded` gives the result ----
  bool clearMemory();
  bool loadConfig(const QByteArray &path);
  int saveConfig(const QByteArray &path);

  // ---- upgrades ----
  // Answers the offer `id` (from `upgradeOffered`); a withdrawn one is ignored.
  void answerOffer(int id, bool upgrade);
  // The built-in firmware, asked for by the user.
  bool upgradeBuiltIn();
  // A chosen image, checked first; false (with `notice`) when refused.
  bool upgradeFromImage(const QByteArray &image, const QString &name);
  // Compares the receiver with the built-in firmware, in words.
  QString upgradeCheck() const;

  // ---- the history: the configuration is kept before each change, so
  // that every change can be undone (receiver_session_history.cpp) ----
  // Keeps it now, on this thread, for the changes that start here (record,
  // erase, forget, upgrade): false, with historyProblem(), when it could not
  // be kept. A receiver whose image cannot be read has nothing to keep.
  bool keepBefore(const QString &change);
  // Keeps an image this application has just read whole (an import).
  bool keepImage(const std::vector<unsigned char> &image, const QString &change);
  QString historyProblem() const { return m_historyProblem; }
  // Writes an image over `current`, read whole just before; a write cut off
  // is offered back (recoveryOffered) once the receiver is there again.
  int writeImage(const std::vector<unsigned char> &image, const std::vector<unsigned char> &current,
                 const QString &change);
  // Off the window's thread; jobEnded tells. The history is kept first, and
  // historyUnkept asks when it cannot be.
  bool loadImage(const std::vector<unsigned char> &image, const QString &change);
  bool undo();
  // The entry kept in this file of the history folder.
  bool restoreEntry(const QString &file);
  // The answer to historyUnkept: the change goes on without being kept, or
  // is dropped.
  void answerUnkept(bool changeAnyway);
  // The change an upgrade is kept under; a configuration it lost or changed
  // is offered back under this name.
  static constexpr const char *kUpgradeChange = "upgrade";
  // The answer to recoveryOffered `id`; a withdrawn one is ignored.
  void answerRecovery(int id, bool restore);

  void close();

  // ---- several receivers (receiver_session_choice.cpp) ----
  // One receiver on the bus, as the Receiver menu shows it.
  struct Listed {
    QString position;
    int state = 0;               // ZK_STATE_BOOTLOADER or ZK_STATE_FIRMWARE
    int major = -1, minor = -1;  // negative: not read
    bool operator==(const Listed &) const = default;
  };
  // In bus order, as last listed.
  const QList<Listed> &receivers() const { return m_receivers; }
  // The bus position of the receiver this session uses, or waits for once it
  // went away; empty until it has taken one.
  QString position() const { return m_position; }
  // Before start: the receiver to take when it is on the bus (else the first).
  void preferReceiver(const QString &position) { m_preferred = position; }
  // From now on only the receiver at `position` is used; false (nothing
  // changes) while an upgrade, a job or a generation-1 wait runs.
  bool chooseReceiver(const QString &position);
  // Lists the receivers again, asking each for its version only when the
  // bus changed since (`receiversListed` tells when the list changed).
  void listReceivers();

 public slots:
  void poll();

 signals:
  void stateChanged(ReceiverSession::State state);
  void outcome(ReceiverSession::Outcome outcome);
  // A status text the window shows as it is.
  void notice(const QString &text);
  // The window asks; the answer goes to answerOffer.
  void upgradeOffered(int id);
  // The receiver the open question was about went away or changed.
  void questionWithdrawn();
  // `why`: the status while it runs (empty: the usual one).
  void upgradeStarted(const QString &installing, const QString &why);
  void upgradeProgress(int percent);
  void upgradeEnded(const QString &text);
  void jobStarted(const QString &text);
  void jobEnded(bool ok, const QString &text);
  void mapChanged();
  void mapReadStarted();
  // `connecting`: the read that took a receiver into use.
  void mapReadEnded(bool connecting);
  void keyTyped(int usage, int modifier);
  void receiversListed();
  // A change did not start: its configuration could not be kept (`reason`).
  // The answer goes to answerUnkept.
  void historyUnkept(const QString &reason);
  // A bulk write was cut off; the configuration from before `change` can be
  // put back. The answer goes to answerRecovery.
  void recoveryOffered(int id, const QString &change);

 private:
  enum class Activity { kIdle, kRecording, kErasing };

  void followReceiver();
  void followRefused();
  void lookForReceiver();
  int openReceiver();
  void takeFirmware();
  void takeBootloader();
  void setState(State state);
  void withdrawOffer();
  void readFacts();
  void release();
  bool claim();
  void startWorker();
  void finish(Outcome result);
  void workerEnded(Outcome result);
  void dropReceiver(State next);
  void failedRead();
  void refuseBuiltIn();
  QString forcedText(const FirmwareDecision &decision) const;
  void beginUpgrade(const UpgradeJob &job, const QString &installing, const QString &why = {});
  void upgradeFinished(const UpgradeResult &result);
  QString outcomeText(const UpgradeResult &result) const;
  bool startJob();
  void runJob(const QString &text, std::function<bool()> job, const QString &done,
              const QString &failed, std::function<void(bool)> then = {});
  void readMap();
  void startMapRead(bool connecting);
  void mapReadDone(QThread *reader, int generation, bool connecting);
  void stopMapRead();
  void mapReadFailed();
  void readAddedButton();
  void findErasedButton();
  bool openKeys();
  void closeKeys();
  void readKeys();
  QString embeddedVersion() const;
  int openChosen();
  void watchBus();
  void showInUse(QList<Listed> &list) const;
  bool libraryFree() const;
  QString bootloaderText() const;
  // A write of many transfers run off this thread with the history kept
  // first, under the writer lock; `write` gives 0 or a failure code.
  struct KeptJob {
    QString change, text, done, failed;
    std::function<int()> write;
    std::vector<unsigned char> image;  // what the receiver holds after it
  };
  void runKeptJob(const KeptJob &job);
  bool keepFromMap(const Buttons &map, const QString &change);
  void noteKept();
  bool written(int rc);
  void offerRecovery();
  void checkKeptAcrossUpgrade();
  // Chooses the entry to put back for the receiver's image `now` and names
  // the change: its number, or 0 with m_jobFailure saying why.
  using Pick = std::function<int(const std::vector<unsigned char> &now, QString &change)>;
  bool putBack(const QString &text, const QString &done, const Pick &pick);

  zirko_interrupt *m_worker;
  UpgradeWorker *m_upgrader;
  QTimer *m_poll;
  UpgradePolicy m_policy;
  State m_state = State::kAbsent;
  Facts m_facts;
  Activity m_activity = Activity::kIdle;
  bool m_upgrading = false;
  QThread *m_job = nullptr;
  bool m_jobResult = false;
  QString m_installing;
  // Failed state reads in a row; past a few the receiver shows as not answering.
  int m_failedReads = 0;
  // The last scan found nothing: the next waits for the bus to change.
  bool m_nothingFound = false;
  // The open offer's number (0: none), and whether it is still to be asked.
  int m_offerId = 0;
  int m_offers = 0;
  bool m_offerDue = false;
  bool m_refusedShown = false;
  QString m_shownVersion;
  // The receiver's bootloader is where this application's upgrade left it.
  bool m_ownBootloader = false;
  // Since when a bootloader nobody holds has been seen, for the grace.
  QElapsedTimer m_bootloaderFree;
  std::chrono::milliseconds m_grace = kBootloaderGrace;
  Buttons m_buttons;
  int m_recordModifier = 0;
  int m_recordUsage = 0;
  bool m_testing = false;
  zk_key_monitor *m_keys = nullptr;
  // The receiver in use (or waited for) by position, the one to take first,
  // and the bus as last listed.
  QString m_position;
  QString m_preferred;
  QList<Listed> m_receivers;
  QElapsedTimer m_listedAt;
  // The history: why the last keep failed; the change that waits for the
  // user's word after one; the next change made without keeping.
  QString m_historyProblem;
  std::function<void()> m_retry;
  bool m_waiveHistory = false;
  // Set by a job on its thread, read once it has ended.
  bool m_jobUnkept = false;
  QString m_jobFailure;
  std::vector<unsigned char> m_jobImage;
  // The entry kept before the running write, and one to offer back after a
  // write that was cut off.
  struct KeptEntry {
    QString file, change, position;
  };
  KeptEntry m_kept;
  std::optional<KeptEntry> m_recovery;
  int m_recoveryId = 0;
  int m_recoveries = 0;
  // The map read off the window's thread: the reader, what it found, the
  // flag that stops it, and the receiver it was for (a read for an earlier
  // one is dropped).
  struct MapRead;
  QThread *m_mapReader = nullptr;
  std::shared_ptr<MapRead> m_mapRead;
  int m_mapGeneration = 0;
  // The map may differ from the receiver's: read again on the next idle poll.
  bool m_mapStale = false;
  int m_mapReadFailures = 0;
  // Whether the last state read found the receiver idle.
  bool m_receiverIdle = true;
  // The built-in firmware's refusal, told once the map is read.
  bool m_refuseDue = false;
};

#endif  // ZIRKO_GUI_RECEIVER_SESSION_H
