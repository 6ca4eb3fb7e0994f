// The desktop application and other programs on one virtual receiver,
// shared through its state file: what the window records, zirko_util lists
// while the window runs, and zirko-virtual pulls the receiver out from
// under the window and plugs it in again.
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "graphicskey.h"
#include "graphicskeyboard.h"
#include "image.h"
#include "mainwindow.h"
#include "quiet_receiver.h"
#include "state_file.h"
#include "zirko.h"
#include "zirko_interrupt.h"

class SharedReceiverTest : public QObject {
  Q_OBJECT

  QTemporaryDir tmp;
  std::unique_ptr<zirko_interrupt> worker;
  std::unique_ptr<MainWindow> window;

  // A poll, and the map read it may start off the window's thread.
  void poll() {
    window->checkHardwareStatus();
    QDeadlineTimer deadline(20000);
    while (window->session()->readingMap() && !deadline.hasExpired())
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  // Runs another program on the same receiver; its standard output.
  static QString run(const QString &program, const QStringList &args) {
    QProcess process;
    process.start(program, args);
    if (!process.waitForFinished(10000)) return "<did not finish>";
    return QString::fromUtf8(process.readAllStandardOutput());
  }
  static QString tool(const QString &command, const QStringList &args = {}) {
    return run(ZIRKO_VIRTUAL_TOOL, QStringList{command} + args);
  }
  GraphicsKey *key(const QString &name) const {
    for (GraphicsKey *k : window->shownKeyboard()->getKeys())
      if (k->getName() == name) return k;
    return nullptr;
  }

 private slots:
  void initTestCase() {
    QVERIFY(tmp.isValid());
    const QString state = tmp.filePath("receiver.state");
    QVERIFY(zk::virt::write_file_atomically(
        state.toStdString(), zk::virt::format_state(zk::test::QuietReceiverState())));
    qputenv("ZIRKO_VIRTUAL", state.toUtf8());
    worker = std::make_unique<zirko_interrupt>();
    window = std::make_unique<MainWindow>(worker.get());
    window->show();
    poll();
    QVERIFY(window->isConnected());
  }

  void cleanupTestCase() {
    window.reset();
    worker.reset();
    zk_close_device();
    qunsetenv("ZIRKO_VIRTUAL");
  }

  void utilityListsWhatTheWindowRecords() {
    QVERIFY(window->selectKeyboard("Windows_us101"));
    window->shownKeyboard()->keyClicked(key("a"));
    QCOMPARE(window->currentOperation(), int(MainWindow::kRecording));
    QCOMPARE(tool("press", {"0xAAAA0001"}),
             QString("Pressed button AAAA0001: the receiver took it.\n"));
    poll();
    QCOMPARE(window->widgets().Notification->text(), QString("Recorded successfully"));
    QVERIFY(run(ZIRKO_UTIL_BIN, {"keys"}).contains("    0  AAAA0001    a\n"));
  }

  void anotherProgramUnplugsAndPlugsTheWindowsReceiver() {
    QCOMPARE(tool("unplug"), QString("The receiver is unplugged.\n"));
    poll();
    QVERIFY(!window->isConnected());
    QCOMPARE(window->windowTitle(), QString("Zirko v" ZIRKO_VERSION " - Disconnected"));
    QCOMPARE(tool("plug"), QString("The receiver is plugged in.\n"));
    poll();
    QVERIFY(window->isConnected());
    QCOMPARE(window->windowTitle(), QString("Zirko v" ZIRKO_VERSION " - Connected"));
  }

  // zirko_util's upgrade while the window polls on its own: the window
  // takes neither the receiver the utility holds nor its bootloader between
  // the utility's switch and its next open, and the receiver ends with the
  // utility's image.
  void anotherProgramsUpgradeEndsWithItsImage() {
    zk::virt::ImageInfo info;
    info.version = {3, 7, {2, 2, 25}};
    info.scm_hash = 0xF11E0307u;
    const auto image = zk::virt::make_image(info, 4096);
    QFile file(tmp.filePath("fw37.bin"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char *>(image.data()), qint64(image.size()));
    file.close();
    // A receiver that takes its time to leave and come back, as real ones do.
    zk::virt::ReceiverState slow = zk::test::QuietReceiverState();
    slow.leave_delay_ms = 300;
    slow.reenumerate_delay_ms = 100;
    QVERIFY(zk::virt::write_file_atomically(tmp.filePath("receiver.state").toStdString(),
                                            zk::virt::format_state(slow)));
    int offers = 0;
    window->setAsker([&](QWidget *, const Question &) {
      ++offers;
      return QString("No");
    });

    QProcess upgrade;
    upgrade.start(ZIRKO_UTIL_BIN, {"upgrade", file.fileName()});
    while (!upgrade.waitForFinished(10)) QCoreApplication::processEvents();
    QCOMPARE(upgrade.exitCode(), 0);
    // Longer than the window takes to find the receiver again.
    QElapsedTimer after;
    after.start();
    while (after.elapsed() < 1500) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);

    QVERIFY(run(ZIRKO_UTIL_BIN, {"version"}).contains("Firmware: v3.7 [F11E0307]"));
    QCOMPARE(window->windowTitle(), QString("Zirko v" ZIRKO_VERSION " - Connected"));
    QCOMPARE(window->widgets().version->text(), QString("Firmware v3.7"));
    QCOMPARE(offers, 1);
  }
};

QTEST_MAIN(SharedReceiverTest)
#include "shared_receiver_test.moc"
