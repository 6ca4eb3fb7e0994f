// The window and its receiver session on the virtual receiver: each
// operation while the receiver is unplugged or replaced under it, a
// question about a receiver that went away, and a slow receiver's erase.
#include "receiver_session.h"

#include <QProgressBar>
#include <QSignalSpy>
#include <QtTest>

#include "advancedwindow.h"
#include "graphicskey.h"
#include "graphicskeyboard.h"
#include "window_harness.h"

namespace {

constexpr uint8_t kVendorIn = 0xC0;
constexpr uint8_t kRecordRequest = 1;
const QString kTitle = "Zirko v" ZIRKO_VERSION " - ";

}  // namespace

class ReceiverSessionTest : public QObject {
  Q_OBJECT

  std::unique_ptr<WindowHarness> h;

  GraphicsKey *key(const QString &name) const {
    for (GraphicsKey *k : h->window->shownKeyboard()->getKeys())
      if (k->getName() == name) return k;
    return nullptr;
  }
  // Lets a generation-1 wait end and its queued outcome arrive.
  void settle() {
    QVERIFY(h->worker->wait(5000));
    QCoreApplication::processEvents();
  }
  void setVersion(const QString &version) {
    const QStringList numbers = version.split('.');
    h->rig->SetFirmwareVersion(numbers[0].toInt(), numbers[1].toInt());
  }

 private slots:
  void init() { h = std::make_unique<WindowHarness>(); }
  void cleanup() {
    if (h->worker->isRunning()) h->rig->Unplug();  // ends a wait nobody answered
    QVERIFY(h->worker->wait(5000));
    h.reset();
  }

  // Generation 1 (0.x and 1.x) waits for outcomes on its interrupt
  // endpoint; 3 reports them in its state. Whatever runs when the receiver
  // leaves or is replaced by one this application cannot use ends, nothing
  // stays lit, and the receiver plugged in again records at once.
  void operationsFollowTheReceiver_data() {
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("event");
    for (const char *version : {"0.9", "1.2", "3.8"})
      for (const char *operation : {"idle", "record", "erase"})
        for (const char *event : {"unplug", "newer"})
          QTest::addRow("%s %s %s", version, operation, event) << version << operation << event;
  }
  void operationsFollowTheReceiver() {
    QFETCH(QString, version);
    QFETCH(QString, operation);
    QFETCH(QString, event);
    const bool interruptOutcome = !version.startsWith("3");
    setVersion(version);
    h->poll();
    QVERIFY(h->window->isConnected());
    QCOMPARE(h->session()->facts().outcomeOnInterrupt, interruptOutcome);
    h->window->selectKeyboard("Windows_us101");
    if (operation == "record") h->window->shownKeyboard()->keyClicked(key("a"));
    if (operation == "erase") h->window->on_erase_clicked();
    QCOMPARE(h->worker->isRunning(), operation != "idle" && interruptOutcome);

    h->rig->Unplug();
    if (event == "newer") {
      h->rig->SetFirmwareVersion(3, 9);
      h->rig->Plug();
    }
    settle();
    h->poll();
    const bool unplugged = event == "unplug";
    QCOMPARE(h->title(), kTitle + (unplugged ? "Disconnected" : "Newer firmware"));
    QCOMPARE(h->version(), unplugged ? QString() : QString("Firmware v3.9"));
    QCOMPARE(h->window->currentOperation(), int(MainWindow::kIdle));
    QVERIFY(!key("a")->getHighlighted());
    QVERIFY(h->window->shownKeyboard()->getSelectedKey() == nullptr);
    if (operation != "idle")
      QCOMPARE(h->status(), unplugged
                                ? QString("Unplugged: plug zirko in to go on")
                                : QString("Firmware v3.9 is newer than this application; update "
                                          "Zirko"));

    h->rig->Unplug();
    setVersion(version);
    h->rig->Plug();
    h->poll();
    h->poll();
    QCOMPARE(h->title(), kTitle + "Connected");
    QCOMPARE(h->version(), "Firmware v" + version);
    h->window->shownKeyboard()->keyClicked(key("b"));
    QCOMPARE(h->status(), QString("Press the button to be paired with 'b'"));
    h->rig->Press(0xB0B0);
    if (interruptOutcome) settle();
    h->poll();
    QCOMPARE(h->status(), QString("Recorded successfully"));
    QCOMPARE(h->rig->Entries(), (std::vector<std::pair<int, int>>{{0, 0x05}}));
  }

  // The offer open while the receiver goes away, or comes back as another,
  // is withdrawn: its answer changes nothing, and the receiver is shown as
  // it now is.
  void questionIsWithdrawnWhenItsReceiverGoes_data() {
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("change");
    for (const char *answer : {"Yes", "No"})
      for (const char *change : {"unplug", "newer"})
        QTest::addRow("%s after %s", answer, change) << answer << change;
  }
  void questionIsWithdrawnWhenItsReceiverGoes() {
    QFETCH(QString, answer);
    QFETCH(QString, change);
    h->rig->SetFirmwareVersion(3, 7);
    QSignalSpy withdrawn(h->session(), &ReceiverSession::questionWithdrawn);
    h->window->setAsker([&](QWidget *, const Question &q) {
      h->asked.append(q);
      h->rig->Unplug();
      h->poll();
      if (change == "newer") {
        h->rig->SetFirmwareVersion(3, 9);
        h->rig->Plug();
        h->poll();
      }
      return answer;
    });
    h->poll();
    QCOMPARE(h->asked.size(), 1);
    QCOMPARE(h->asked[0].text, QString("Firmware Upgrade Available"));
    QCOMPARE(withdrawn.size(), 1);
    QVERIFY(!h->window->isUpgrading());
    QCOMPARE(h->bootloaderRequests(), 0);
    const bool newer = change == "newer";
    QCOMPARE(h->title(), kTitle + (newer ? "Newer firmware" : "Disconnected"));
    QCOMPARE(h->version(), newer ? QString("Firmware v3.9") : QString());

    h->window->selectKeyboard("Windows_us101");
    h->window->shownKeyboard()->keyClicked(key("a"));
    QCOMPARE(h->window->currentOperation(), int(MainWindow::kIdle));
    QCOMPARE(h->rig->RequestCount(kVendorIn, kRecordRequest), 0);
  }

  // A receiver that erases for longer than its request may last answers
  // again once done: the clear waits for it, off the window's thread.
  void clearWaitsForASlowReceiver() {
    h->rig->AddEntry(0xA1, 0, 0x04);
    h->rig->AddEntry(0xA2, 0, 0x05);
    h->rig->receiver().edit([](zk::virt::ReceiverState &s) { s.format_ms = 6000; });
    h->poll();
    h->answers << "OK";
    h->window->menuFormatDevice();
    QCOMPARE(h->status(), QString("Clearing zirko memory, please wait..."));
    QVERIFY(h->window->widgets().progressBar->isVisible());
    QVERIFY(h->awaitJob(40000));
    QCOMPARE(h->status(), QString("Clear finished"));
    QVERIFY(h->rig->Entries().empty());
    QVERIFY(h->window->widgets().progressBar->isHidden());
    QVERIFY(h->window->pollTimer()->isActive());
    QVERIFY(h->window->isConnected());
  }

  // Connecting reads the version once (at the open), the two settings
  // bytes, which also hold the product variant, once each, and the map's
  // two size bytes (no buttons here).
  void connectingTakesFiveTransfers() {
    h->rig->ClearTranscript();
    h->poll();
    QVERIFY(h->window->isConnected());
    QVERIFY(h->window->advancedWindow()->isEnabled());
    QVERIFY2(h->rig->Transcript().size() == 5, h->rig->DescribeTranscript().c_str());
  }
};

QTEST_MAIN(ReceiverSessionTest)
#include "receiver_session_test.moc"
