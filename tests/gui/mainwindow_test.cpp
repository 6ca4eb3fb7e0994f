#include "mainwindow.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "advancedwindow.h"
#include "graphicskey.h"
#include "graphicskeyboard.h"
#include "keyboardgview.h"
#include "receiver_rig.h"
#include "zirko_interrupt.h"
#include "zirkobutton.h"

namespace {

constexpr uint8_t kVendorIn = 0xC0;
constexpr uint8_t kRecordRequest = 1;
constexpr uint8_t kNormalRequest = 0;
constexpr uint8_t kDeleteRequest = 2;
constexpr uint8_t kStateRequest = 5;
constexpr uint8_t kVendorInFirmware = 0xC2;
constexpr uint8_t kVersionRequest = 1;
constexpr int kShift = 0x02;

const QStringList kMinimalistUsages = {"up", "left", "down", "right", "enter", "back"};

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

  std::unique_ptr<zk::test::VirtualRig> rig;
  std::unique_ptr<zirko_interrupt> worker;
  std::unique_ptr<MainWindow> window;
  QList<Question> asked;
  QStringList answers;  // popped per question; none left: closed without a choice

  // A poll, and the map read it may start off the window's thread.
  void poll() {
    window->checkHardwareStatus();
    QDeadlineTimer deadline(20000);
    while (window->session()->readingMap() && !deadline.hasExpired())
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  QString status() const { return window->widgets().Notification->text(); }
  QString version() const { return window->widgets().version->text(); }
  GraphicsKeyboard *layout() const { return window->shownKeyboard(); }
  GraphicsKey *key(const QString &name) const {
    for (GraphicsKey *k : layout()->getKeys())
      if (k->getName() == name) return k;
    return nullptr;
  }
  void connectReceiver() {
    poll();
    QVERIFY(window->isConnected());
  }
  void expectIdleWith(const QString &text) {
    QCOMPARE(status(), text);
    QCOMPARE(window->currentOperation(), int(MainWindow::kIdle));
    QCOMPARE(window->widgets().go->shownImage(), QString(":/images/Buttons/goButtonGray.png"));
  }
  void expectDisconnected() {
    QCOMPARE(window->windowTitle(), QString("Zirko v" ZIRKO_VERSION " - Disconnected"));
    QCOMPARE(version(), QString());
    QVERIFY(!window->isConnected());
    QCOMPARE(window->currentDeviceMode(), 0);
    QVERIFY(!window->advancedWindow()->isEnabled());
  }
  // Lets a generation-1 worker finish and its queued signal arrive.
  void settleWorker() {
    QVERIFY(worker->wait(5000));
    QCoreApplication::processEvents();
  }

 private slots:
  void init() {
    rig = std::make_unique<zk::test::VirtualRig>();
    worker = std::make_unique<zirko_interrupt>();
    window = std::make_unique<MainWindow>(worker.get());
    window->session()->setBootloaderGrace(std::chrono::milliseconds(0));
    asked.clear();
    answers.clear();
    window->setAsker([this](QWidget *, const Question &q) {
      asked.append(q);
      return answers.isEmpty() ? QString() : answers.takeFirst();
    });
    window->show();
  }

  void cleanup() {
    if (worker->isRunning()) rig->receiver().unplug();  // ends a wait nobody answered
    QVERIFY(worker->wait(5000));
    QCoreApplication::processEvents();
    window.reset();
    worker.reset();
    rig.reset();
  }

  void startsDisconnectedAndRefusesDeviceOperations() {
    QCOMPARE(window->pollTimer()->interval(), 1);
    QVERIFY(window->pollTimer()->isActive());
    rig->receiver().unplug();
    poll();
    expectDisconnected();
    QCOMPARE(window->pollTimer()->interval(), 250);
    QVERIFY(window->pollTimer()->isActive());
    QCOMPARE(layout()->getName(), QString("Minimalist"));

    window->on_go_clicked();
    QCOMPARE(status(), QString("Please connect zirko"));
    window->selectKeyboard("Windows_us101");
    window->keyboard_clicked(key("a"), {}, false);
    QCOMPARE(status(), QString("Please connect zirko"));
    window->on_erase_clicked();
    QCOMPARE(status(), QString("Please connect zirko"));
    QCOMPARE(window->currentOperation(), int(MainWindow::kIdle));
    QCOMPARE(rig->RequestCount(kVendorIn, kRecordRequest), 0);
  }

  void attachedReceiverShowsConnectedAndControllersMenu() {
    poll();
    QCOMPARE(window->windowTitle(), QString("Zirko v" ZIRKO_VERSION " - Connected"));
    QCOMPARE(version(), QString("Firmware v3.8"));
    QCOMPARE(window->currentDeviceMode(), 2);
    QVERIFY(window->advancedWindow()->isEnabled());
    QCOMPARE(layout()->getName(), QString("Minimalist"));
    QVERIFY(!window->widgets().go->isHidden());
    QCOMPARE(status(), QString("Press go to start the automated process"));

    QStringList names, checked;
    for (QAction *action : window->widgets().menuController->actions()) {
      names << action->data().toString();
      if (action->isChecked()) checked << action->data().toString();
    }
    QStringList expected;
    for (GraphicsKeyboard *k : window->keyboards())
      if (k->getName() != "Mac_us101") expected << k->getName();
    QCOMPARE(names, expected);
    QCOMPARE(checked, QStringList{window->keyboards().first()->getName()});
  }

  void recordsOneKeyWithHeldModifier() {
    connectReceiver();
    QVERIFY(window->selectKeyboard("Windows_us101"));
    QVERIFY(window->widgets().go->isHidden());
    QCOMPARE(status(), QString("Click a key to start recording"));

    layout()->keyClicked(key("lshift"));
    layout()->keyClicked(key("a"));
    QCOMPARE(window->currentOperation(), int(MainWindow::kRecording));
    QCOMPARE(status(), QString("Press the button to be paired with 'Shift+a'"));
    auto record = rig->Requests(kVendorIn, kRecordRequest);
    QCOMPARE(record.size(), size_t(1));
    QCOMPARE(int(record[0].value), 0x04);
    QCOMPARE(int(record[0].index), kShift);
    QVERIFY(window->blinkingTimer()->isActive());

    poll();  // still waiting for the remote
    QCOMPARE(window->currentOperation(), int(MainWindow::kRecording));
    rig->receiver().press(0xA1);
    poll();
    expectIdleWith("Recorded successfully");
    QCOMPARE(rig->Entries(), (std::vector<std::pair<int, int>>{{kShift, 0x04}}));
    QVERIFY(!key("lshift")->getHighlighted());
    QVERIFY(!window->blinkingTimer()->isActive());
  }

  void existingButtonBoxOutcomes_data() {
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("statusAfter");
    QTest::addColumn<int>("operationAfter");
    QTest::addColumn<int>("recordRequests");
    QTest::newRow("cancel") << "Cancel"
                            << "Canceled" << int(MainWindow::kIdle) << 1;
    QTest::newRow("redo") << "Redo"
                          << "Press the button to be paired with 'a'" << int(MainWindow::kRecording)
                          << 2;
    QTest::newRow("closed") << ""
                            << "Press the button to be paired with 'a'"
                            << int(MainWindow::kRecording) << 1;
  }
  void existingButtonBoxOutcomes() {
    QFETCH(QString, answer);
    QFETCH(QString, statusAfter);
    QFETCH(int, operationAfter);
    QFETCH(int, recordRequests);
    rig->AddEntry(0xA1, 0, 0x05);
    connectReceiver();
    window->selectKeyboard("Windows_us101");
    layout()->keyClicked(key("a"));
    rig->receiver().press(0xA1);
    answers << answer;
    poll();

    QCOMPARE(asked.size(), 1);
    QCOMPARE(asked[0].text, QString("Button already exists."));
    QCOMPARE(asked[0].buttons, (QStringList{"Cancel", "Redo"}));
    QCOMPARE(asked[0].defaultButton, QString("Redo"));
    QCOMPARE(asked[0].iconPath, QString(":/images/exclamation.png"));
    QCOMPARE(status(), statusAfter);
    QCOMPARE(window->currentOperation(), operationAfter);
    QCOMPARE(rig->RequestCount(kVendorIn, kRecordRequest), recordRequests);
    QCOMPARE(rig->ImageSize(), 5 + 6);
  }

  // A generation-1 receiver answers through the worker thread; whether it
  // needs one is asked when it is taken into use, not at every recording,
  // erase or outcome.
  // Three version reads (open, upgrade check, label and worker decision),
  // the variant byte for the layout and for the built-in image, and the
  // advanced window's two settings bytes; it took 14.
  void connectingTakesAtMostSevenTransfers() {
    rig->ClearTranscript();
    connectReceiver();
    QVERIFY2(rig->Transcript().size() <= 7, rig->DescribeTranscript().c_str());
  }

  void generationOneAsksItsVersionOncePerConnection() {
    rig->SetFirmwareVersion(1, 2);
    connectReceiver();
    const int versionReads = rig->RequestCount(kVendorInFirmware, kVersionRequest);
    window->selectKeyboard("Windows_us101");
    layout()->keyClicked(key("a"));
    QVERIFY(worker->isRunning());
    QVERIFY(!window->pollTimer()->isActive());
    rig->receiver().press(0xA1);
    settleWorker();
    expectIdleWith("Recorded successfully");

    window->on_erase_clicked();
    QVERIFY(worker->isRunning());
    rig->receiver().press(0xA1);
    settleWorker();
    expectIdleWith("Erased button");
    QVERIFY(window->pollTimer()->isActive());
    QCOMPARE(rig->RequestCount(kVendorInFirmware, kVersionRequest), versionReads);
  }

  void fullMemoryReportsNoSpace() {
    const int room = (zk::virt::kImageRoom - zk::virt::kHeaderSize) / zk::virt::kEntrySize;
    for (int i = 0; i < room; ++i) rig->AddEntry(0x100 + i, 0, 0x04);
    connectReceiver();
    window->selectKeyboard("Windows_us101");
    layout()->keyClicked(key("b"));
    rig->receiver().press(0xFFFF);
    poll();
    expectIdleWith("No more space for new buttons");
  }

  // The run records every key of the sequence; a button that already exists
  // is skipped like a success and the run goes on with the next key.
  void automatedRunOverMinimalist() {
    connectReceiver();
    window->on_go_clicked();
    QCOMPARE(window->currentOperation(), int(MainWindow::kAutomatedRun));
    QCOMPARE(window->widgets().go->shownImage(), QString(":/images/Buttons/stopButtonGreen.png"));

    for (int i = 0; i < kMinimalistUsages.size(); ++i) {
      QCOMPARE(status(), "Press the button to be paired with '" + kMinimalistUsages[i] + "'");
      QCOMPARE(layout()->getSelectedKey()->getName(), kMinimalistUsages[i]);
      const bool duplicate = i == 3;  // the remote's first button again
      if (duplicate) answers << "Skip";
      rig->receiver().press(duplicate ? 0xC0 : 0xC0 + i);
      poll();
      QCOMPARE(status(), QString(duplicate ? "Skipped" : "Recorded successfully"));
      QCOMPARE(window->currentOperation(), int(MainWindow::kAutomatedRun));
      QVERIFY(window->advancingTimer()->isActive());
      QCOMPARE(window->advancingTimer()->interval(), 800);
      window->delayTimerTop();
    }
    expectIdleWith("Congratulations, you're all done!");
    QCOMPARE(asked.size(), 1);
    QCOMPARE(asked[0].buttons, (QStringList{"Start over", "Skip", "Redo"}));
    QCOMPARE(rig->Entries(), (std::vector<std::pair<int, int>>{
                                 {0, 0x52}, {0, 0x50}, {0, 0x51}, {0, 0x28}, {0, 0x29}}));
    QVERIFY(layout()->getSelectedKey() == nullptr);
  }

  // "Start over" erases every recorded button only once confirmed.
  void startOverClearsTheMemoryWhenConfirmed_data() {
    QTest::addColumn<QString>("confirmation");
    QTest::addColumn<QString>("statusAfter");
    QTest::addColumn<int>("sizeAfter");
    QTest::newRow("confirmed") << "OK"
                               << "Clear finished" << zk::virt::kHeaderSize;
    QTest::newRow("declined") << "Cancel"
                              << "Canceled" << zk::virt::kHeaderSize + 2 * zk::virt::kEntrySize;
  }
  void startOverClearsTheMemoryWhenConfirmed() {
    QFETCH(QString, confirmation);
    QFETCH(QString, statusAfter);
    QFETCH(int, sizeAfter);
    rig->AddEntry(0xD1, 0, 0x04);
    rig->AddEntry(0xD2, 0, 0x05);
    connectReceiver();
    window->on_go_clicked();
    answers << "Start over" << confirmation;
    rig->receiver().press(0xD2);
    poll();
    QTRY_VERIFY(!window->isUpgrading());
    expectIdleWith(statusAfter);
    QCOMPARE(asked.size(), 2);
    QCOMPARE(asked[1].text, QString("Are you sure you want to remove all saved data?"));
    QCOMPARE(rig->ImageSize(), sizeAfter);
  }

  // Modifiers read as keyboards print them, and a status too long for the
  // box is shown whole when a smaller font or a second line will do, else
  // shortened in the middle with the whole text in the tooltip.
  void statusTextsFitTheBox() {
    connectReceiver();
    window->selectKeyboard("Windows_us101");
    for (const char *name : {"lcontrol", "lshift", "lalt", "lwindows", "rcontrol", "rshift"})
      layout()->keyClicked(key(name));
    layout()->keyClicked(key("a"));
    const QString pairing = "Press the button to be paired with 'Ctrl+Shift+Alt+Win+Ctrl+Shift+a'";
    QCOMPARE(status(), pairing);
    ElidedLabel *box = window->widgets().Notification;
    QCOMPARE(box->shownText(), pairing);
    QCOMPARE(box->toolTip(), QString());

    const QString endless = "Begin " + QString("and so on ").repeated(30) + "end";
    window->showStatus(endless);
    const QString shown = box->shownText();
    QVERIFY(shown.startsWith("Begin and so on"));
    QVERIFY(shown.endsWith("so on end"));
    QVERIFY(shown.size() < endless.size());
    QCOMPARE(box->toolTip(), endless);
  }

  // Title, indicator picture and version label tell one state.
  void titlePictureAndVersionAgree_data() {
    QTest::addColumn<QString>("receiver");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("picture");
    QTest::addColumn<QString>("version");
    QTest::newRow("firmware") << "3.8"
                              << "Connected"
                              << "connected"
                              << "Firmware v3.8";
    QTest::newRow("newer") << "3.9"
                           << "Newer firmware"
                           << "newer"
                           << "Firmware v3.9";
    QTest::newRow("bootloader") << "bootloader"
                                << "Bootloader"
                                << "bootloader"
                                << "Bootloader v2.1";
    QTest::newRow("unplugged") << "none"
                               << "Disconnected"
                               << "disconnected"
                               << "";
  }
  void titlePictureAndVersionAgree() {
    QFETCH(QString, receiver);
    QFETCH(QString, title);
    QFETCH(QString, picture);
    QFETCH(QString, version);
    if (receiver == "3.9") rig->SetFirmwareVersion(3, 9);
    if (receiver == "none") rig->receiver().unplug();
    if (receiver == "bootloader") {
      // On the real bus the bootloader is held, not upgraded with our images.
      window->setBusProbe([] { return false; });
      rig->SetBootloaderVersion(2, 1);
      rig->receiver().reenumerate(zk::virt::Mode::kBootloader);
      poll();
    }
    poll();
    poll();
    QCOMPARE(window->windowTitle(), "Zirko v" ZIRKO_VERSION " - " + title);
    QCOMPARE(window->indicatorPicture(), ":/images/bottom_" + picture + ".png");
    QVERIFY(!window->widgets().indicator->pixmap().isNull());
    QCOMPARE(this->version(), version);
  }

  // A receiver whose state reads fail shows as not answering after three in
  // a row, once, and as connected again once it answers.
  void failedStateReadsShowNotAnsweringOnce() {
    connectReceiver();
    QSignalSpy titles(window.get(), &QWidget::windowTitleChanged);
    rig->bus().fail_request(kVendorIn, kStateRequest, zk::kUsbErrorPipe);
    poll();
    poll();
    QCOMPARE(titles.size(), 0);
    for (int i = 0; i < 5; ++i) poll();
    QCOMPARE(titles.size(), 1);
    QCOMPARE(window->windowTitle(), QString("Zirko v" ZIRKO_VERSION " - Not answering"));
    QCOMPARE(status(), QString("zirko is not answering; unplug it and plug it in again"));
    window->on_go_clicked();
    QCOMPARE(status(), QString("zirko is not answering; unplug it and plug it in again"));

    rig->bus().clear_faults();
    poll();
    QCOMPARE(window->windowTitle(), QString("Zirko v" ZIRKO_VERSION " - Connected"));
    QCOMPARE(window->indicatorPicture(), QString(":/images/bottom_connected.png"));
  }

  // A key clicked while no receiver is there is not left lit, and go then
  // starts at the first key of the sequence.
  void refusedClickLeavesNothingSelected() {
    rig->receiver().unplug();
    poll();
    layout()->keyClicked(key("up"));
    QCOMPARE(status(), QString("Please connect zirko"));
    QVERIFY(layout()->getSelectedKey() == nullptr);
    QVERIFY(!key("up")->getHighlighted());

    rig->receiver().plug();
    connectReceiver();
    window->on_go_clicked();
    QCOMPARE(layout()->getSelectedKey()->getName(), QString("up"));
    QCOMPARE(status(), QString("Press the button to be paired with 'up'"));
    rig->receiver().press(0xB7);
    poll();
    QCOMPARE(rig->Entries(), (std::vector<std::pair<int, int>>{{0, 0x52}}));
  }

  void keyPreviewLightsForOneTick() {
    connectReceiver();
    window->selectKeyboard("Windows_us101");
    QTest::keyClick(window->widgets().KeyboardView, Qt::Key_A, Qt::ShiftModifier);
    QCOMPARE(window->currentOperation(), int(MainWindow::kKeyPreview));
    QVERIFY(key("lshift")->getHighlighted());
    QVERIFY(key("a")->getHighlighted());
    QVERIFY(window->blinkingTimer()->isActive());

    window->timerTop();
    QCOMPARE(window->currentOperation(), int(MainWindow::kIdle));
    QVERIFY(!key("lshift")->getHighlighted());
    QVERIFY(!key("a")->getHighlighted());
    window->timerTop();
    QVERIFY(!window->blinkingTimer()->isActive());

    // While a recording waits, key presses change nothing.
    layout()->keyClicked(key("b"));
    QTest::keyClick(window->widgets().KeyboardView, Qt::Key_C);
    QCOMPARE(window->currentOperation(), int(MainWindow::kRecording));
    QVERIFY(!key("c")->getHighlighted());
  }

  // From the keyboard and the clock: Esc ends what runs, a click on
  // another key switches the recording to it, and a wait nobody answers
  // ends by itself with the countdown.
  void recordingEndsOrSwitches_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("statusAfter");
    QTest::addColumn<int>("operationAfter");
    QTest::addColumn<int>("recordRequests");
    QTest::newRow("esc while recording") << "esc record"
                                         << "Recording stopped" << int(MainWindow::kIdle) << 1;
    QTest::newRow("esc while erasing") << "esc erase"
                                       << "Erasing cancelled" << int(MainWindow::kIdle) << 0;
    QTest::newRow("another key") << "other key"
                                 << "Press the button to be paired with 'b'"
                                 << int(MainWindow::kRecording) << 2;
    QTest::newRow("the same key") << "same key"
                                  << "Recording stopped" << int(MainWindow::kIdle) << 1;
    QTest::newRow("nobody presses") << "timeout"
                                    << "No button was pressed in time; click the key to try again"
                                    << int(MainWindow::kIdle) << 1;
  }
  void recordingEndsOrSwitches() {
    QFETCH(QString, how);
    QFETCH(QString, statusAfter);
    QFETCH(int, operationAfter);
    QFETCH(int, recordRequests);
    connectReceiver();
    window->selectKeyboard("Windows_us101");
    window->setRecordWait(1);
    if (how == "esc erase")
      window->on_erase_clicked();
    else
      layout()->keyClicked(key("a"));
    QVERIFY(window->widgets().progressBar->isVisible() || how == "esc erase");
    if (how.startsWith("esc")) QTest::keyClick(window.get(), Qt::Key_Escape);
    if (how == "other key") layout()->keyClicked(key("b"));
    if (how == "same key") layout()->keyClicked(key("a"));
    if (how == "timeout") QTRY_COMPARE_WITH_TIMEOUT(status(), statusAfter, 3000);
    QCOMPARE(status(), statusAfter);
    QCOMPARE(window->currentOperation(), operationAfter);
    QCOMPARE(rig->RequestCount(kVendorIn, kRecordRequest), recordRequests);
    QCOMPARE(rig->receiver().waiting_for_button(), operationAfter != MainWindow::kIdle);
    QCOMPARE(key("a")->getHighlighted(), false);
    QCOMPARE(window->widgets().progressBar->isVisible(), operationAfter != MainWindow::kIdle);
  }

  // Tab reaches go and erase from the picture; Space presses them.
  void tabReachesGoAndErase() {
    connectReceiver();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    window->widgets().KeyboardView->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), window->widgets().go);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), window->widgets().erase);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    QCOMPARE(window->currentOperation(), int(MainWindow::kErasing));
  }

  // Down to a 1024 x 600 screen and to scale 2 on 1280 x 900 (640 x 450
  // of room), the status, go, erase and the whole picture stay in view.
  void everythingStaysInViewOnSmallScreens_data() {
    QTest::addColumn<QSize>("size");
    QTest::newRow("1024x600") << QSize(1024, 560);
    QTest::newRow("scale 2 on 1280x900") << QSize(640, 410);
    QTest::newRow("as drawn") << QSize(800, 600);
  }
  void everythingStaysInViewOnSmallScreens() {
    QFETCH(QSize, size);
    window->resize(size);
    QCoreApplication::processEvents();
    QCOMPARE(window->size(), size);
    const MainWindowUi &ui = window->widgets();
    const QRect area = ui.centralWidget->rect();
    for (QWidget *widget : std::initializer_list<QWidget *>{ui.go, ui.erase, ui.Notification,
                                                            ui.indicator, ui.KeyboardView}) {
      const QRect shown(widget->mapTo(ui.centralWidget, QPoint(0, 0)), widget->size());
      QVERIFY2(!shown.isEmpty() && area.contains(shown), qPrintable(widget->objectName()));
    }
    const QRect picture =
        ui.KeyboardView->mapFromScene(layout()->sceneBoundingRect()).boundingRect();
    QVERIFY(ui.KeyboardView->viewport()->rect().adjusted(-2, -2, 2, 2).contains(picture));
  }

  void checkForUpgradesComparesWithTheBuiltInFirmware_data() {
    QTest::addColumn<int>("minor");
    QTest::addColumn<QString>("said");
    QTest::newRow("older") << 7
                           << "Firmware v3.7 can be upgraded to v3.8: Advanced > Force FW Upgrade";
    QTest::newRow("same") << 8 << "Firmware v3.8 is the latest this application carries";
    QTest::newRow("newer") << 9 << "Firmware v3.9 is newer than the v3.8 this application carries";
  }
  void checkForUpgradesComparesWithTheBuiltInFirmware() {
    QFETCH(int, minor);
    QFETCH(QString, said);
    rig->SetFirmwareVersion(3, minor);
    poll();
    window->widgets().actionCheck_For_Upgrades->trigger();
    QCOMPARE(status(), said);
  }

  void closingSetsNormalAndReleasesTheReceiver() {
    connectReceiver();
    layout()->keyClicked(key("up"));
    window->advancedWindow()->show();
    window->close();
    QVERIFY(!rig->receiver().waiting_for_button());
    QVERIFY(!window->pollTimer()->isActive());
    QCOMPARE(rig->bus().open_handles(), 0);
    QVERIFY(!window->advancedWindow()->isVisible());
  }
};

QTEST_MAIN(MainWindowTest)
#include "mainwindow_test.moc"
