// The one owner of the receiver in the desktop application: it opens and
// closes it, polls it, reads what it is once when it takes it into use, runs
// the generation-1 outcome worker, and carries out what UpgradePolicy
// decides. The window only asks it and draws what its signals say.
#ifndef ZIRKO_GUI_RECEIVER_SESSION_H
#define ZIRKO_GUI_RECEIVER_SESSION_H

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
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

  void close();

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
