// The recorded buttons on the picture and test mode, on the virtual
// receiver: what connecting reads, what the window's own changes read, and
// the keys a remote's buttons type.
#include <QElapsedTimer>
#include <QMenu>
#include <QToolButton>
#include <QtTest>

#include "graphicskey.h"
#include "graphicskeyboard.h"
#include "keyboardgview.h"
#include "window_harness.h"
#include "zirko.h"

namespace {

constexpr uint8_t kVendorIn = 0xC0;
constexpr uint8_t kRecordRequest = 1;

}  // namespace

class WindowMapTest : public QObject {
  Q_OBJECT

  std::unique_ptr<WindowHarness> h;

  GraphicsKey *key(const QString &name) const {
    for (GraphicsKey *k : h->window->shownKeyboard()->getKeys())
      if (k->getName() == name) return k;
    return nullptr;
  }
  QStringList taught() const {
    QStringList names;
    for (GraphicsKey *k : h->window->shownKeyboard()->getKeys())
      if (k->isTaught()) names << k->getName();
    return names;
  }
  QString count() const { return h->window->widgets().taughtCount->text(); }

 private slots:
  void init() {
    h = std::make_unique<WindowHarness>();
    h->rig->SetFirmwareVersion(3, 8);
  }
  void cleanup() { h.reset(); }

  // The map is read once, at connect; each button is six bytes.
  void connectingReadsTheMapOnce_data() {
    QTest::addColumn<int>("buttons");
    for (int n : {0, 1, 7}) QTest::addRow("%d buttons", n) << n;
  }
  void connectingReadsTheMapOnce() {
    QFETCH(int, buttons);
    for (int i = 0; i < buttons; ++i) h->rig->AddEntry(0xA000 + i, 0, 0x04 + i);
    h->rig->ClearTranscript();
    h->poll();
    QVERIFY(h->window->isConnected());
    const size_t connect = 3, map = 2 + 6 * buttons;
    QVERIFY2(h->rig->Transcript().size() == connect + map, h->rig->DescribeTranscript().c_str());
    QCOMPARE(int(h->session()->buttons().size()), buttons);
    QCOMPARE(count(), QString("%1 buttons taught, %2 free").arg(buttons).arg(169 - buttons));
    h->rig->ClearTranscript();
    h->poll();
    QVERIFY2(h->rig->Transcript().size() == 1, h->rig->DescribeTranscript().c_str());
  }

  // The window's own record and erase show at once, and read only what
  // they changed: far less than the image of twenty buttons.
  void ownChangesShowWithoutReadingTheImage() {
    for (int i = 0; i < 20; ++i) h->rig->AddEntry(0xB000 + i, 0, 0x1E + (i % 10));
    h->rig->AddEntry(0xCAFE0002, 0x01, 0x05);  // Ctrl+b
    h->poll();
    h->window->selectKeyboard("Windows_us101");
    QVERIFY(!key("a")->isTaught());
    QVERIFY(key("b")->isTaught());
    QVERIFY2(key("b")->toolTip().contains("button 20: CAFE0002 left_ctrl"),
             qPrintable(key("b")->toolTip()));

    h->rig->ClearTranscript();
    h->window->shownKeyboard()->keyClicked(key("a"));
    h->rig->Press(0xCAFE0001);
    h->poll();
    QCOMPARE(h->status(), QString("Recorded successfully"));
    QVERIFY(key("a")->isTaught());
    QVERIFY(key("a")->toolTip().contains("button 21: CAFE0001 a"));
    QCOMPARE(count(), QString("22 buttons taught, 147 free"));
    QVERIFY2(h->rig->Transcript().size() < 30, h->rig->DescribeTranscript().c_str());

    h->rig->ClearTranscript();
    h->window->on_erase_clicked();
    h->rig->Press(0xB000 + 3);
    h->poll();
    QCOMPARE(h->status(), QString("Erased button"));
    QVERIFY2(h->rig->Transcript().size() < 60, h->rig->DescribeTranscript().c_str());
    std::vector<uint32_t> hashes;
    for (const zk::map::Button &b : h->session()->buttons()) hashes.push_back(b.hash);
    std::vector<uint32_t> expected;
    for (int i = 0; i < 20; ++i)
      if (i != 3) expected.push_back(0xB000 + i);
    expected.push_back(0xCAFE0002);
    expected.push_back(0xCAFE0001);
    QCOMPARE(hashes, expected);
    QCOMPARE(count(), QString("21 buttons taught, 148 free"));

    h->answers << "OK";
    h->window->menuFormatDevice();
    QVERIFY(h->awaitJob());
    QVERIFY(taught().isEmpty());
    QCOMPARE(count(), QString("0 buttons taught, 169 free"));
  }

  // Forget deletes every button behind the key (plain and with modifiers),
  // only when agreed; the other keys stay taught.
  void forgetTakesTheKeysButtons_data() {
    QTest::addColumn<QString>("answer");
    QTest::newRow("agreed") << "Yes";
    QTest::newRow("declined") << "No";
  }
  void forgetTakesTheKeysButtons() {
    QFETCH(QString, answer);
    h->rig->AddEntry(0xA1, 0, 0x04);     // a
    h->rig->AddEntry(0xB1, 0, 0x05);     // b
    h->rig->AddEntry(0xA2, 0x01, 0x04);  // Ctrl+a
    h->poll();
    h->window->selectKeyboard("Windows_us101");
    QCOMPARE(taught(), (QStringList{"a", "b"}));
    QCOMPARE(key("a")->taughtButtons().size(), 2);
    h->answers << answer;
    h->window->keyMenu(key("a"))->actions().first()->trigger();
    QCOMPARE(h->asked.size(), 1);
    const bool agreed = answer == "Yes";
    QCOMPARE(taught(), agreed ? QStringList{"b"} : (QStringList{"a", "b"}));
    using Entries = std::vector<std::pair<int, int>>;
    const Entries left = agreed ? Entries{{0, 0x05}} : Entries{{0, 0x04}, {0, 0x05}, {1, 0x04}};
    QCOMPARE(h->rig->Entries(), left);
    QCOMPARE(int(h->session()->buttons().size()), agreed ? 1 : 3);
    QCOMPARE(h->status(), agreed ? QString("Forgot 'a' (2 button(s))") : QString("Canceled"));
  }

  // Each key typed lights its key for a moment and is named with its
  // buttons; a key the picture lacks is named too; nothing records.
  void testModeLightsTypedKeys_data() {
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QString>("lit");
    QTest::addColumn<QString>("status");
    QTest::newRow("full keyboard") << "Windows_us101"
                                   << "a"
                                   << "a: button 1 (CAFE0001)";
    QTest::newRow("not on the picture") << "Minimalist"
                                        << ""
                                        << "a (not on this picture): button 1 (CAFE0001)";
  }
  void testModeLightsTypedKeys() {
    QFETCH(QString, layout);
    QFETCH(QString, lit);
    QFETCH(QString, status);
    h->rig->AddEntry(0xCAFE0009, 0, 0x52);
    h->rig->AddEntry(0xCAFE0001, 0, 0x04);
    h->poll();
    h->window->selectKeyboard(layout);
    h->window->widgets().actionTestMode->trigger();
    QVERIFY(h->window->isTesting());
    QVERIFY(h->window->widgets().testButton->isChecked());

    h->rig->Press(0xCAFE0001);
    h->poll();
    QCOMPARE(h->status(), status);
    QStringList litKeys;
    for (GraphicsKey *k : h->window->shownKeyboard()->getKeys())
      if (k->isLit()) litKeys << k->getName();
    QCOMPARE(litKeys, lit.isEmpty() ? QStringList() : QStringList{lit});
    if (!lit.isEmpty()) QTRY_VERIFY_WITH_TIMEOUT(!key(lit)->isLit(), 3 * MainWindow::kLitMs);

    h->window->shownKeyboard()->keyClicked(h->window->shownKeyboard()->getKeys().first());
    QCOMPARE(h->status(), QString("Recording is off while testing"));
    QCOMPARE(h->window->currentOperation(), int(MainWindow::kIdle));
    QCOMPARE(h->rig->RequestCount(kVendorIn, kRecordRequest), 0);

    h->window->widgets().actionTestMode->trigger();
    QVERIFY(!h->window->isTesting());
    h->rig->Press(0xCAFE0009);
    h->poll();
    QCOMPARE(h->status(), QString("Test mode off"));
  }

  // Without a mouse: the focused key records with Enter or Space, as a
  // click does, and its menu opens from the keyboard; the navigation keys
  // are not taken for a preview of the computer's keys.
  void keyboardRecordsAndOpensTheMenu_data() {
    QTest::addColumn<int>("activate");
    QTest::addColumn<int>("menuKey");
    QTest::addColumn<int>("menuModifiers");
    QTest::newRow("return, menu") << int(Qt::Key_Return) << int(Qt::Key_Menu) << 0;
    QTest::newRow("space, shift+f10")
        << int(Qt::Key_Space) << int(Qt::Key_F10) << int(Qt::ShiftModifier);
  }
  void keyboardRecordsAndOpensTheMenu() {
    QFETCH(int, activate);
    QFETCH(int, menuKey);
    QFETCH(int, menuModifiers);
    h->poll();
    h->window->selectKeyboard("Windows_us101");
    KeyboardGView *view = h->window->widgets().KeyboardView;
    view->setFocus();
    h->window->shownKeyboard()->setFocusedKey(key("s"));
    QTest::keyClick(view, Qt::Key_Left);
    QCOMPARE(h->window->shownKeyboard()->getFocusedKey(), key("a"));
    QCOMPARE(h->window->currentOperation(), int(MainWindow::kIdle));
    QTest::keyClick(view, Qt::Key(activate));
    QCOMPARE(h->window->currentOperation(), int(MainWindow::kRecording));
    h->rig->Press(0xCAFE0001);
    h->poll();
    QCOMPARE(h->status(), QString("Recorded successfully"));
    QCOMPARE(h->rig->Entries(), (std::vector<std::pair<int, int>>{{0, 0x04}}));
    QVERIFY(key("a")->isTaught());

    QStringList shown;
    bool forgetEnabled = false;
    QTimer::singleShot(0, this, [&] {
      auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
      if (!menu) return;
      for (QAction *action : menu->actions()) shown << action->text();
      forgetEnabled = menu->actions().first()->isEnabled();
      menu->close();
    });
    QTest::keyClick(view, Qt::Key(menuKey), Qt::KeyboardModifiers(menuModifiers));
    QCOMPARE(shown, (QStringList{"Forget this key", "Teach another button"}));
    QVERIFY(forgetEnabled);
  }

  // The map is read off the window's thread: the poll that connects comes
  // back before it is read, the window's events run meanwhile, and the
  // read costs what it cost before.
  void mapIsReadOffTheWindowsThread() {
    constexpr int kButtons = 20;
    for (int i = 0; i < kButtons; ++i) h->rig->AddEntry(0xA000 + i, 0, 0x04 + i);
    h->rig->bus().set_latency(std::chrono::milliseconds(4));
    h->rig->ClearTranscript();
    QElapsedTimer clock;
    clock.start();
    h->window->checkHardwareStatus();
    const qint64 pollMs = clock.elapsed();
    QVERIFY(h->session()->readingMap());
    QVERIFY(h->window->isConnected());
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
    ticker.start(5);
    QVERIFY(h->awaitMapRead());
    const qint64 readMs = clock.elapsed();
    QVERIFY2(pollMs * 4 < readMs, qPrintable(QString("%1 of %2 ms").arg(pollMs).arg(readMs)));
    QVERIFY(ticks >= 5);
    QCOMPARE(int(h->session()->buttons().size()), kButtons);
    QCOMPARE(count(), QString("20 buttons taught, 149 free"));
    QVERIFY2(h->rig->Transcript().size() == size_t(3 + 2 + 6 * kButtons),
             h->rig->DescribeTranscript().c_str());
    QCOMPARE(h->status(), QString("Press go to start the automated process"));
  }

  // A read whose receiver went (unplugged, or the window closing) is
  // dropped: the view never shows half a map.
  void staleReadIsDropped_data() {
    QTest::addColumn<bool>("unplug");
    QTest::newRow("unplugged while read") << true;
    QTest::newRow("closed while read") << false;
  }
  void staleReadIsDropped() {
    QFETCH(bool, unplug);
    for (int i = 0; i < 10; ++i) h->rig->AddEntry(0xA000 + i, 0, 0x04 + i);
    h->rig->bus().set_latency(std::chrono::milliseconds(2));
    if (unplug) h->rig->DisconnectAt(3 + 2 + 6 * 4);  // in the fifth button
    h->window->checkHardwareStatus();
    QVERIFY(h->session()->readingMap());
    if (!unplug) {
      QElapsedTimer clock;
      clock.start();
      h->session()->close();
      QVERIFY(!h->session()->readingMap());
      QVERIFY(clock.elapsed() < 500);
    }
    QVERIFY(h->awaitMapRead());
    QCoreApplication::processEvents();
    QVERIFY(h->session()->buttons().empty());
    // Chosen only now: choosing runs the window's events, and with them the
    // first poll, which must be the one this test counts transfers from.
    h->window->selectKeyboard("Windows_us101");
    QVERIFY(taught().isEmpty());
    if (unplug) {
      QVERIFY(!h->window->isConnected());
      QCOMPARE(count(), QString());
    }
  }

  // Another program records while the window is idle: the receiver's state
  // shows it, and the map is read again within two polls.
  void anotherProgramsRecordingIsShown() {
    h->rig->AddEntry(0xA1, 0, 0x04);
    h->poll();
    h->window->selectKeyboard("Windows_us101");
    QCOMPARE(taught(), QStringList{"a"});
    // The test stands in for the other program, through the library.
    QCOMPARE(zk_set_record_api(0, 0x05, 0), 0);
    h->poll();
    h->rig->Press(0xB1);
    h->poll();
    h->poll();
    QCOMPARE(taught(), (QStringList{"a", "b"}));
    QCOMPARE(count(), QString("2 buttons taught, 167 free"));
  }

  // A map changed behind the window's back is never acted on: forgetting
  // deletes nothing, says so, and the map is read again.
  void forgetRefusesAChangedMap() {
    h->rig->AddEntry(0xA1, 0, 0x04);  // a
    h->rig->AddEntry(0xB1, 0, 0x05);  // b
    h->poll();
    h->window->selectKeyboard("Windows_us101");
    // Another program swapped the two buttons' places.
    std::vector<uint8_t> image = h->rig->Image();
    std::swap_ranges(image.begin() + 5, image.begin() + 11, image.begin() + 11);
    h->rig->SetImage(image);
    h->answers << "Yes";
    h->window->forgetKey(key("b"));
    QCOMPARE(h->status(),
             QString("Another program changed zirko's buttons; look again, then forget 'b'"));
    QCOMPARE(h->rig->Entries(), (std::vector<std::pair<int, int>>{{0, 0x05}, {0, 0x04}}));
    h->poll();
    QCOMPARE(h->session()->buttons().front().hash, 0xB1u);
    QCOMPARE(taught(), (QStringList{"a", "b"}));
  }
};

QTEST_MAIN(WindowMapTest)
#include "window_map_test.moc"
