#include "receiver_session.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>
#include <QTimer>
#include <cstdlib>

#include "firmware_images.h"
#include "upgrade_worker.h"
#include "zirko.h"
#include "zirko_interrupt.h"

namespace {

using std::chrono::milliseconds;
constexpr milliseconds kFirstPoll{1};
constexpr milliseconds kPollInterval{250};
// Failed state reads in a row before the receiver shows as not answering:
// fewer would take a passing glitch for a fault.
constexpr int kFailedReadsShown = 3;
// A receiver that erases more slowly than its request may last goes on
// erasing and answers again once done; it is given this long.
constexpr int kEraseWaitMs = 30000;
constexpr unsigned long kEraseRetryMs = 250;

bool clearAndWait() {
  if (zk_format_config() >= 0) return true;
  QDeadlineTimer deadline(kEraseWaitMs);
  while (!deadline.hasExpired()) {
    const int recorded = zk_keys_recorded();
    if (recorded >= 0) return recorded == 0;
    QThread::msleep(kEraseRetryMs);
  }
  return false;
}

}  // namespace

ReceiverSession::ReceiverSession(zirko_interrupt *worker, QObject *parent)
    : QObject(parent),
      m_worker(worker),
      m_upgrader(new UpgradeWorker(this)),
      m_poll(new QTimer(this)),
      m_policy(firmware::placeholderImages()) {
  connect(m_poll, &QTimer::timeout, this, &ReceiverSession::poll, Qt::DirectConnection);
  // Emitted on the worker thread, so every delivery is queued to this one.
  connect(worker, &zirko_interrupt::record_success, this, [this] { workerEnded(Outcome::kDone); });
  connect(worker, &zirko_interrupt::record_failed_no_space, this,
          [this] { workerEnded(Outcome::kNoSpace); });
  connect(worker, &zirko_interrupt::record_failed_exists, this,
          [this] { workerEnded(Outcome::kExists); });
  connect(worker, &zirko_interrupt::erase_failed_nobutton, this,
          [this] { workerEnded(Outcome::kNotFound); });
  connect(worker, &zirko_interrupt::transfer_failed, this, [this] { workerEnded(Outcome::kGone); });
  connect(m_upgrader, &UpgradeWorker::progress, this, &ReceiverSession::upgradeProgress);
  connect(m_upgrader, &UpgradeWorker::inBootloader, this, [this](int major, int minor) {
    m_facts = Facts{.major = major, .minor = minor};
    setState(State::kBootloader);
  });
  connect(m_upgrader, &UpgradeWorker::ended, this, &ReceiverSession::upgradeFinished);
}

ReceiverSession::~ReceiverSession() {
  stopMapRead();
  closeKeys();
  // Every wait of an upgrade and a job is bounded.
  m_upgrader->wait();
  if (m_job) m_job->wait();
  // The library's choice was this session's; it ends with it.
  zk_choose_device(nullptr);
}

void ReceiverSession::start() {
  m_poll->start(kFirstPoll);
}

QString ReceiverSession::versionText() const {
  if (m_facts.major < 0 || m_facts.minor < 0) return QString();
  return QString::number(m_facts.major) + "." + QString::number(m_facts.minor);
}

bool ReceiverSession::workerWaiting() const {
  return m_worker->isRunning();
}

void ReceiverSession::setState(State state) {
  if (state != m_state && m_offerId) withdrawOffer();
  // Asked again when the receiver is back.
  if (state != m_state && m_recoveryId) {
    m_recoveryId = 0;
    emit questionWithdrawn();
  }
  // The same state with another version is another receiver to show.
  if (state == m_state && versionText() == m_shownVersion) return;
  if (state != m_state) m_refusedShown = false;
  m_state = state;
  m_shownVersion = versionText();
  emit stateChanged(state);
}

void ReceiverSession::withdrawOffer() {
  m_offerId = 0;
  m_offerDue = false;
  emit questionWithdrawn();
}

// ---- the poll ----

void ReceiverSession::poll() {
  ZK_LOGV("checking status");
  m_poll->setInterval(kPollInterval);
  m_poll->stop();
  if (working()) return;  // its end starts the poll again
  if (m_state == State::kConnected) {
    followReceiver();
    if (m_keys) readKeys();
    // A map that may be wrong is read again once the receiver is idle.
    if (m_state == State::kConnected && m_mapStale && m_receiverIdle &&
        m_activity == Activity::kIdle && !working() && !workerWaiting())
      startMapRead(false);
  } else if (m_state == State::kRefused)
    followRefused();
  else
    lookForReceiver();
  if (!working() && !workerWaiting()) {
    watchBus();
    m_poll->start();
  }
  // Asked last, with the poll running: a receiver that goes away while the
  // question is open withdraws it.
  if (m_offerDue && !readingMap()) {
    m_offerDue = false;
    emit upgradeOffered(m_offerId);
  }
  offerRecovery();
}

// Turns the state of the receiver in use into the outcome of a recording or
// deletion. Firmware that reports outcomes on its interrupt endpoint has no
// state to read: its version read tells that it is still there.
void ReceiverSession::followReceiver() {
  int s = ZK_RX_NORMAL;
  if (m_facts.outcomeOnInterrupt) {
    int major, minor;
    if (zk_read_version(&major, &minor) < 0) s = ZK_ERR_USB;
  } else {
    s = zk_get_state();
  }
  if (s >= ZK_RX_NORMAL && s <= ZK_RX_NOT_FOUND) m_failedReads = 0;
  // Recording or deleting while this application is not: another program
  // is changing the map, which is read again once it is done.
  m_receiverIdle = s == ZK_RX_NORMAL;
  if (!m_receiverIdle && m_activity == Activity::kIdle && s > ZK_RX_NORMAL && s <= ZK_RX_NOT_FOUND)
    m_mapStale = true;
  switch (s) {
    case ZK_RX_NORMAL:
      ZK_LOGD("state: normal");
      break;
    case ZK_RX_RECORDING:
      ZK_LOGD("state: record");
      break;
    case ZK_RX_DELETING:
      ZK_LOGD("state: delete");
      break;
    case ZK_RX_DONE:
      ZK_LOGD("success");
      finish(Outcome::kDone);
      break;
    case ZK_RX_NO_SPACE:
      ZK_LOGD("err: no space");
      finish(Outcome::kNoSpace);
      break;
    case ZK_RX_EXISTS:
      ZK_LOGD("err: button exists");
      finish(Outcome::kExists);
      break;
    case ZK_RX_NOT_FOUND:
      ZK_LOGD("key not found");
      finish(Outcome::kNotFound);
      break;
    default: {
      ZK_LOGI("state: %d", s);
      ZK_LOGE("error, unknown status: %d", s);
      const bool active = m_activity != Activity::kIdle;
      m_activity = Activity::kIdle;
      failedRead();
      if (active) emit outcome(Outcome::kGone);
      break;
    }
  }
}

void ReceiverSession::finish(Outcome result) {
  zk_clear_state();
  const bool active = m_activity != Activity::kIdle;
  if (result == Outcome::kDone && m_activity == Activity::kRecording) readAddedButton();
  if (result == Outcome::kDone && m_activity == Activity::kErasing) findErasedButton();
  m_activity = Activity::kIdle;
  release();
  // An outcome nobody waits for (a stopped recording's) changes nothing.
  if (active) emit outcome(result);
}

// A failed read: a receiver that is gone shows so at once; one that is
// still there is opened anew, and shows as not answering only after a few
// failures in a row. Another receiver in its place is taken anew.
void ReceiverSession::failedRead() {
  zk_close_device();
  const int r = openReceiver();
  if (r != ZK_STATE_FIRMWARE) {
    if (r == ZK_STATE_BOOTLOADER) {
      takeBootloader();
      return;
    }
    zk_close_device();
    dropReceiver(r == ZK_ERR_IN_USE ? State::kBusy : State::kAbsent);
    return;
  }
  int major, minor;
  zk_opened_version(&major, &minor);
  if (major != m_facts.major || minor != m_facts.minor) {
    takeFirmware();
    return;
  }
  zk_claim_receiver(0);
  if (++m_failedReads < kFailedReadsShown) return;
  zk_close_device();
  dropReceiver(State::kNotAnswering);
}

void ReceiverSession::dropReceiver(State next) {
  stopMapRead();
  m_mapStale = false;
  m_mapReadFailures = 0;
  closeKeys();
  if (!m_buttons.empty()) {
    m_buttons.clear();
    emit mapChanged();
  }
  m_activity = Activity::kIdle;
  m_failedReads = 0;
  m_facts = Facts{};
  setState(next);
}

// A receiver with newer firmware is held open, not used: only its leaving
// or its change is watched for.
void ReceiverSession::followRefused() {
  int major, minor;
  if (zk_read_version(&major, &minor) >= 0 && major == m_facts.major && minor == m_facts.minor)
    return;
  failedRead();
}

void ReceiverSession::lookForReceiver() {
  // With nothing plugged in, scans only when the bus may have changed
  // (every poll on a bus that sends no hotplug events).
  if (m_nothingFound && !zk_bus_changed(ZK_VENDOR_ID)) return;
  zk_close_device();
  const int r = openReceiver();
  m_nothingFound = r == ZK_ERR_NO_RECEIVER;
  if (r != ZK_STATE_BOOTLOADER) m_bootloaderFree.invalidate();
  if (r == ZK_ERR_IN_USE) {
    dropReceiver(State::kBusy);
  } else if (r < 0) {
    dropReceiver(State::kAbsent);
  } else if (r == ZK_STATE_BOOTLOADER) {
    takeBootloader();
  } else if (m_state == State::kNotAnswering && zk_get_state() < 0) {
    zk_close_device();  // still not answering: it stays shown so, without a word
  } else {
    takeFirmware();
  }
}

// Opens the receiver when no other program holds it: ZK_ERR_IN_USE (and
// nothing open) when one does.
int ReceiverSession::openReceiver() {
  const int r = openChosen();
  if (r < 0 || zk_claim_receiver(1) != ZK_ERR_IN_USE) return r;
  ZK_LOGI("receiver in use by another program");
  zk_close_device();
  return ZK_ERR_IN_USE;
}

void ReceiverSession::readFacts() {
  int major, minor;
  zk_opened_version(&major, &minor);
  m_facts = Facts{.major = major, .minor = minor};
  if (zk_fw_state() != ZK_STATE_FIRMWARE) return;
  m_facts.product = zk_product_type();
  m_facts.outcomeOnInterrupt = zk_outcome_on_interrupt() == 1;
  m_facts.builtIn = firmware::readVersionText(firmware::versionTextPath(m_facts.product));
}

void ReceiverSession::takeFirmware() {
  if (m_offerId) withdrawOffer();
  m_failedReads = 0;
  // The variant and the settings, which share EEPROM bytes, are read once
  // for the facts and for whoever shows the receiver as connected.
  closeKeys();
  stopMapRead();
  m_mapStale = false;
  m_mapReadFailures = 0;
  // Ended once the map is read, or below when none is.
  zk_begin_snapshot();
  readFacts();
  // Idle, the receiver is left to other programs until it is used.
  zk_claim_receiver(0);
  ZK_LOGV("checking firmware version");
  ZK_LOGI("hw version: %d.%d", m_facts.major, m_facts.minor);
  ZK_LOGI("emb version: %f", m_facts.builtIn);
  const FirmwareDecision decision =
      m_policy.onFirmware({.version = zk_version_number(m_facts.major, m_facts.minor),
                           .major = m_facts.major,
                           .minor = m_facts.minor,
                           .builtIn = m_facts.builtIn});
  if (decision.upgrade) {
    zk_end_snapshot();
    setState(State::kConnected);
    beginUpgrade(UpgradeJob{}, tr("firmware v%1").arg(embeddedVersion()), forcedText(decision));
    return;
  }
  // The buttons come from the same snapshot as the settings bytes; the
  // reader starts last, when nothing else here calls the library.
  m_ownBootloader = false;
  if (m_testing && !decision.newer) openKeys();
  if (decision.newer)
    zk_end_snapshot();
  else
    startMapRead(true);
  setState(decision.newer ? State::kRefused : State::kConnected);
  // Said after the state, which the end of the read shows again.
  m_refuseDue = decision.refuse && readingMap();
  if (decision.refuse && !m_refuseDue) refuseBuiltIn();
  if (decision.offer) {
    m_offerId = ++m_offers;
    m_offerDue = true;
  }
}

QString ReceiverSession::forcedText(const FirmwareDecision &decision) const {
  const QString installing = embeddedVersion();
  if (decision.forced == FirmwareDecision::kReleaseCandidate)
    return tr("Firmware v%1 is a test release that must be replaced: installing firmware v%2")
        .arg(versionText(), installing);
  return tr("Firmware v%1 is older firmware numbered wrongly and must be replaced: installing "
            "firmware v%2")
      .arg(versionText(), installing);
}

// A bootloader this application did not send the receiver into may belong
// to another program's upgrade, between its switch and its next open: it is
// recovered only once nobody has used it for the grace period.
void ReceiverSession::takeBootloader() {
  readFacts();
  setState(State::kBootloader);
  const bool first = !m_bootloaderFree.isValid();
  if (first) m_bootloaderFree.start();
  // One this application left there itself needs no grace.
  const bool waiting = !m_ownBootloader && (first || m_bootloaderFree.elapsed() < m_grace.count());
  switch (m_policy.onBootloader(waiting)) {
    case UpgradePolicy::BootloaderStep::kWait:
      zk_close_device();  // its claim would keep the other program out
      break;
    case UpgradePolicy::BootloaderStep::kHold:
      zk_close_device();
      if (m_refusedShown) break;
      refuseBuiltIn();
      break;
    case UpgradePolicy::BootloaderStep::kUpgrade:
      beginUpgrade(UpgradeJob{}, tr("firmware v%1").arg(embeddedVersion()), bootloaderText());
      break;
  }
}

void ReceiverSession::refuseBuiltIn() {
  ZK_LOGW("built-in firmware is made for the virtual receiver, not offered to a real one");
  m_refusedShown = true;
  emit notice(tr("No built-in firmware for this receiver"));
}

QString ReceiverSession::embeddedVersion() const {
  const float builtIn = m_facts.builtIn > 0
                            ? m_facts.builtIn
                            : firmware::readVersionText(firmware::versionTextPath(m_facts.product));
  return QString::number(builtIn, 'f', 1);
}

// ---- recording and erasing ----

bool ReceiverSession::claim() {
  return zk_claim_receiver(1) != ZK_ERR_IN_USE;
}

void ReceiverSession::release() {
  if (m_state == State::kConnected) zk_claim_receiver(0);
}

int ReceiverSession::record(int modifier, int usage) {
  if (m_state != State::kConnected || working() || m_testing) return ZK_ERR_NOT_USABLE;
  if (!claim()) return ZK_ERR_IN_USE;
  // Timeout 0: only starts recording; the poll or the worker reads the outcome.
  zk_set_record_api(modifier, usage, 0);
  m_recordModifier = modifier;
  m_recordUsage = usage;
  m_activity = Activity::kRecording;
  if (m_facts.outcomeOnInterrupt) startWorker();
  return ZK_OK;
}

int ReceiverSession::erase() {
  if (m_state != State::kConnected || working() || m_testing) return ZK_ERR_NOT_USABLE;
  if (!claim()) return ZK_ERR_IN_USE;
  m_activity = Activity::kErasing;
  if (m_facts.outcomeOnInterrupt) startWorker();
  zk_set_delete(0);
  return ZK_OK;
}

void ReceiverSession::startWorker() {
  ZK_LOGD("outcome on the interrupt endpoint");
  m_worker->start(QThread::InheritPriority);
  m_poll->stop();
}

void ReceiverSession::stop() {
  if (m_activity != Activity::kIdle && m_state == State::kConnected) zk_set_normal();
  m_activity = Activity::kIdle;
  release();
  // A stopped generation-1 wait may go on until the next button press.
  if (workerWaiting() && !working()) m_poll->start();
}

void ReceiverSession::workerEnded(Outcome result) {
  if (!working()) m_poll->start();
  const bool active = m_activity != Activity::kIdle;
  if (result == Outcome::kDone && m_activity == Activity::kRecording) readAddedButton();
  if (result == Outcome::kDone && m_activity == Activity::kErasing) findErasedButton();
  m_activity = Activity::kIdle;
  release();
  if (!active) return;
  if (result == Outcome::kGone) failedRead();
  emit outcome(result);
}

// ---- long jobs ----

void ReceiverSession::runJob(const QString &text, std::function<bool()> job, const QString &done,
                             const QString &failed, std::function<void(bool)> then) {
  m_poll->stop();
  m_jobUnkept = false;
  m_jobFailure.clear();
  m_job = QThread::create([this, job = std::move(job)] { m_jobResult = job(); });
  connect(m_job, &QThread::finished, this, [this, done, failed, then] {
    m_job->wait();
    delete m_job;
    m_job = nullptr;
    if (then) then(m_jobResult);
    release();
    m_poll->start();
    // A job may say better why it failed (nothing to undo, nothing kept).
    emit jobEnded(m_jobResult, m_jobResult ? done : m_jobFailure.isEmpty() ? failed : m_jobFailure);
    if (m_jobUnkept) emit historyUnkept(m_historyProblem);
  });
  emit jobStarted(text);
  m_job->start();
}

bool ReceiverSession::startJob() {
  if (m_state != State::kConnected || working()) return false;
  if (claim()) return true;
  emit notice(tr("zirko is in use by another program"));
  return false;
}

bool ReceiverSession::clearMemory() {
  if (!startJob()) return false;
  zk_set_normal();
  runKeptJob({"format",
              tr("Clearing zirko memory, please wait..."),
              tr("Clear finished"),
              tr("Could not clear zirko memory"),
              [] { return clearAndWait() ? 0 : ZK_ERR_USB; },
              {0, 5, 0, 0, 0}});
  return true;
}

// The file is read through the library's reader, which refuses a FIFO, a
// device or a huge file at once.
bool ReceiverSession::loadConfig(const QByteArray &path) {
  unsigned char *bytes = nullptr;
  char reason[160] = "";
  const long length =
      zk_read_input_file(path.constData(), ZK_CONFIG_FILE_MAX, &bytes, reason, sizeof reason);
  if (length < 0) {
    emit notice(tr("Could not restore file: %1: %2")
                    .arg(QFile::decodeName(path).section('/', -1), QString::fromLocal8Bit(reason)));
    return false;
  }
  const std::vector<unsigned char> image(bytes, bytes + length);
  free(bytes);
  return loadImage(image, "loadconfig " + QFile::decodeName(path).section('/', -1));
}

int ReceiverSession::saveConfig(const QByteArray &path) {
  if (m_state != State::kConnected || working()) return ZK_ERR_NOT_USABLE;
  return zk_save_config(path.constData());
}

void ReceiverSession::close() {
  m_poll->stop();
  stopMapRead();
  closeKeys();
  if (m_job) m_job->wait();
  if (m_state == State::kConnected) zk_set_normal();
  zk_close_device();
}
