// The Receiver menu over several virtual receivers, each in a state file of
// its own: what it lists, that a choice acts on that receiver only, that the
// choice outlives the window, and that a receiver gone is waited for.
#include <QAction>
#include <QDeadlineTimer>
#include <QMenu>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "graphicskey.h"
#include "graphicskeyboard.h"
#include "mainwindow.h"
#include "quiet_receiver.h"
#include "state_file.h"
#include "state_file_bus.h"
#include "usb_backend.h"
#include "zirko.h"
#include "zirko_interrupt.h"

namespace {
const QString kTitle = "Zirko v" ZIRKO_VERSION " - ";
}

class ReceiverMenuTest : public QObject {
  Q_OBJECT

  QTemporaryDir tmp;
  std::unique_ptr<zk::virt::StateFileBus> files;
  std::unique_ptr<zirko_interrupt> worker;
  std::unique_ptr<MainWindow> window;
  QStringList asked;

  // One receiver per kind ("fw", "fw2" for firmware 2.6, "boot"), at 1-1, 1-2...
  void plugIn(const QStringList &kinds) {
    std::vector<std::string> paths;
    for (int i = 0; i < kinds.size(); ++i) {
      zk::virt::ReceiverState s = zk::test::QuietReceiverState();
      if (kinds[i] == "boot") s.mode = zk::virt::Mode::kBootloader;
      if (kinds[i] == "fw2") s.firmware = {2, 6, {1, 2, 24}};
      paths.push_back(tmp.filePath(QString("%1.state").arg(i)).toStdString());
      QVERIFY(zk::virt::write_file_atomically(paths.back(), zk::virt::format_state(s)));
    }
    files = std::make_unique<zk::virt::StateFileBus>(paths);
    zk::set_usb_backend(&files->bus());
  }
  void start(std::chrono::milliseconds grace = ReceiverSession::kBootloaderGrace) {
    window.reset();
    window = std::make_unique<MainWindow>(worker.get(), nullptr, settings());
    window->setAsker([this](QWidget *, const Question &q) {
      asked << q.text;
      return QString();
    });
    window->session()->setBootloaderGrace(grace);
    window->show();
    poll();
  }
  // One poll, and the map read it may start (off the window's thread).
  void poll() {
    window->checkHardwareStatus();
    awaitMapRead();
  }
  void awaitMapRead() {
    QDeadlineTimer deadline(20000);
    while (window->session()->readingMap() && !deadline.hasExpired())
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  std::shared_ptr<QSettings> settings() {
    return std::make_shared<QSettings>(tmp.filePath("zirko_gui.conf"), QSettings::IniFormat);
  }
  // The menu as it shows: entry texts, the checked one marked "*".
  QStringList menu() {
    emit window->receiverMenu()->aboutToShow();
    QStringList shown;
    for (QAction *a : window->receiverMenu()->actions())
      shown << (a->isChecked() ? "*" : "") + a->text() + (a->isEnabled() ? "" : " (off)");
    return shown;
  }
  void choose(int entry) {
    emit window->receiverMenu()->aboutToShow();
    window->receiverMenu()->actions().at(entry)->trigger();
    QCoreApplication::processEvents();
    awaitMapRead();  // the chosen receiver's buttons, read off the window's thread
  }
  QString title() const { return window->windowTitle(); }

 private slots:
  void initTestCase() {
    QVERIFY(tmp.isValid());
    worker = std::make_unique<zirko_interrupt>();
  }
  void cleanup() {
    window.reset();
    zk_close_device();
    zk_choose_device(nullptr);
    zk::set_usb_backend(nullptr);
    files.reset();
    QFile::remove(tmp.filePath("zirko_gui.conf"));
    asked.clear();
  }

  void listsEveryReceiverWithTheOneInUseChecked_data() {
    QTest::addColumn<QStringList>("kinds");
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("firmware, bootloader")
        << QStringList{"fw", "boot"}
        << QStringList{"*&1  1-1  firmware 3.8", "&2  1-2  bootloader 2.1"};
    // The first found is the first running its firmware.
    QTest::newRow("bootloader first")
        << QStringList{"boot", "fw2", "fw"}
        << QStringList{"&1  1-1  bootloader 2.1", "*&2  1-2  firmware 2.6",
                       "&3  1-3  firmware 3.8"};
  }
  void listsEveryReceiverWithTheOneInUseChecked() {
    QFETCH(QStringList, kinds);
    QFETCH(QStringList, shown);
    plugIn(kinds);
    start();
    QCOMPARE(menu(), shown);
  }

  void choosingTheSecondRecordsOnItAndLeavesTheFirstAlone() {
    plugIn({"fw", "fw"});
    files->receiver(0)->edit([](zk::virt::ReceiverState &s) {
      s.eeprom[1] = 11;  // one button: 5 header bytes and one entry
      s.eeprom[5] = 0xA1;
    });
    start();
    const auto firstBefore = files->receiver(0)->snapshot().eeprom;
    choose(1);
    QCOMPARE(window->session()->position(), QString("1-2"));
    QCOMPARE(title(), kTitle + "Connected");
    QCOMPARE(menu(), (QStringList{"&1  1-1  firmware 3.8", "*&2  1-2  firmware 3.8"}));
    QCOMPARE(settings()->value("receiver/position").toString(), QString("1-2"));

    QVERIFY(window->selectKeyboard("Windows_us101"));
    for (GraphicsKey *k : window->shownKeyboard()->getKeys())
      if (k->getName() == "a") window->shownKeyboard()->keyClicked(k);
    QCOMPARE(window->currentOperation(), int(MainWindow::kRecording));
    files->receiver(1)->press(0xAAAA0001);
    poll();
    QCOMPARE(window->widgets().Notification->text(), QString("Recorded successfully"));
    QCOMPARE(files->receiver(1)->snapshot().image_size(), 5 + 6);
    QVERIFY(files->receiver(0)->snapshot().eeprom == firstBefore);
  }

  void theChoiceIsTakenAtTheNextStartWhenItIsThere_data() {
    QTest::addColumn<QString>("kept");
    QTest::addColumn<QString>("taken");
    QTest::newRow("none kept") << ""
                               << "1-1";
    QTest::newRow("kept, there") << "1-2"
                                 << "1-2";
    QTest::newRow("kept, away") << "1-3"
                                << "1-1";
  }
  void theChoiceIsTakenAtTheNextStartWhenItIsThere() {
    QFETCH(QString, kept);
    QFETCH(QString, taken);
    plugIn({"fw", "fw2"});
    if (!kept.isEmpty()) settings()->setValue("receiver/position", kept);
    start();
    QCOMPARE(window->session()->position(), taken);
    QCOMPARE(window->widgets().version->text(),
             QString(taken == "1-1" ? "Firmware v3.8" : "Firmware v2.6"));
    // Taking the first in its place does not forget the choice.
    QCOMPARE(settings()->value("receiver/position").toString(), kept);
  }

  void theReceiverInUseGoneIsWaitedForNotReplaced() {
    plugIn({"fw", "fw", "fw"});
    files->receiver(2)->unplug();
    start();
    QCOMPARE(window->session()->position(), QString("1-1"));
    files->receiver(0)->unplug();
    for (int i = 0; i < 3; ++i) poll();
    QCOMPARE(title(), kTitle + "Disconnected");
    QCOMPARE(window->widgets().Notification->text(),
             QString("zirko at 1-1 is not plugged in; the Receiver menu chooses another"));
    // Another plugged in meanwhile is listed, not taken.
    files->receiver(2)->plug();
    poll();
    QCOMPARE(title(), kTitle + "Disconnected");
    QCOMPARE(menu(), (QStringList{"&1  1-2  firmware 3.8", "&2  1-3  firmware 3.8",
                                  "*1-1  not plugged in (off)"}));
    files->receiver(0)->plug();
    poll();
    QCOMPARE(title(), kTitle + "Connected");
    QCOMPARE(window->session()->position(), QString("1-1"));
  }

  // Found in its bootloader, the chosen receiver is named while it gets the
  // built-in firmware, and the other receiver gets nothing.
  void aBootloaderUpgradeNamesItsReceiver() {
    plugIn({"fw", "boot"});
    settings()->setValue("receiver/position", "1-2");
    const auto otherFlash = files->receiver(0)->snapshot().flash;
    start(std::chrono::milliseconds(0));
    poll();
    QVERIFY(window->isUpgrading());
    QCOMPARE(window->widgets().Notification->text(),
             QString("zirko at 1-2 was found in its bootloader: installing firmware v3.8"));
    QTRY_VERIFY_WITH_TIMEOUT(!window->isUpgrading(), 20000);
    QCOMPARE(title(), kTitle + "Connected");
    QVERIFY(files->receiver(1)->snapshot().mode == zk::virt::Mode::kFirmware);
    QVERIFY(files->receiver(0)->snapshot().flash == otherFlash);
  }
};

QTEST_MAIN(ReceiverMenuTest)
#include "receiver_menu_test.moc"
