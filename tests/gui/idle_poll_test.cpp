// What the session's poll costs while no receiver is on the bus: a bus that
// sends no hotplug events is looked at once a poll, and no more; on a bus
// of state files each look reads the state file once.
#include <QtTest>

#include "receiver_rig.h"
#include "receiver_session.h"
#include "zirko.h"
#include "zirko_interrupt.h"

namespace {

// Counts the looks at the bus.
class CountingBus : public zk::virt::Bus {
 public:
  int looks = 0;
  int get_device_list(std::vector<zk_usb_device *> &devices) override {
    ++looks;
    return Bus::get_device_list(devices);
  }
};

class CountingRig : public zk::test::ReceiverRig<CountingBus> {
 public:
  CountingRig() { zk::set_usb_backend(&bus()); }
  ~CountingRig() {
    zk_close_device();
    zk::set_usb_backend(nullptr);
  }
};

constexpr int kIdlePolls = 8;

}  // namespace

class IdlePollTest : public QObject {
  Q_OBJECT

 private slots:
  void idlePollLooksAtTheBusOnce_data() {
    QTest::addColumn<bool>("connectFirst");
    QTest::newRow("never plugged in") << false;
    QTest::newRow("unplugged after connecting") << true;
  }
  void idlePollLooksAtTheBusOnce() {
    QFETCH(bool, connectFirst);
    CountingRig rig;
    zirko_interrupt worker;
    ReceiverSession session(&worker);
    if (connectFirst) {
      session.poll();
      QDeadlineTimer deadline(20000);
      while (session.readingMap() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
      QCOMPARE(session.state(), ReceiverSession::State::kConnected);
    }
    rig.Unplug();
    session.poll();  // finds it gone
    QCOMPARE(session.state(), ReceiverSession::State::kAbsent);
    rig.ClearTranscript();
    rig.bus().looks = 0;
    for (int i = 0; i < kIdlePolls; ++i) session.poll();
    QCOMPARE(session.state(), ReceiverSession::State::kAbsent);
    QVERIFY2(rig.Transcript().empty(), rig.DescribeTranscript().c_str());
    // One look a poll to find a receiver, and the Receiver menu's list at
    // most once in these polls (it is renewed every 2 s).
    QVERIFY2(rig.bus().looks >= kIdlePolls && rig.bus().looks <= kIdlePolls + 1,
             qPrintable(QString::number(rig.bus().looks)));
  }
};

QTEST_MAIN(IdlePollTest)
#include "idle_poll_test.moc"
