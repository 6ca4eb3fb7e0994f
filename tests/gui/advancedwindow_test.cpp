#include "advancedwindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>
#include <memory>

#include "receiver_rig.h"
#include "zirkobutton.h"

namespace {

constexpr uint8_t kEepromRead = 2;   // 0xC2/2: one settings byte
constexpr uint8_t kEepromWrite = 3;  // 0xC2/3: one settings byte

}  // namespace

class AdvancedWindowTest : public QObject {
  Q_OBJECT

  std::unique_ptr<zk::test::VirtualRig> rig;
  std::unique_ptr<AdvancedWindow> window;

  template <typename T>
  T *control(const char *name) {
    return window->findChild<T *>(name);
  }
  QCheckBox *box(const char *name) { return control<QCheckBox>(name); }
  QComboBox *combo() { return control<QComboBox>("delayCombo"); }
  int writes() { return rig->RequestCount(0xC2, kEepromWrite); }
  void open(int major, int minor) {
    rig->SetFirmwareVersion(major, minor);
    QCOMPARE(zk_open_device(ZK_VENDOR_ID, ZK_MANUFACTURER), ZK_STATE_FIRMWARE);
  }

 private slots:
  void init() {
    rig = std::make_unique<zk::test::VirtualRig>();
    window = std::make_unique<AdvancedWindow>();
  }
  void cleanup() {
    window.reset();
    rig.reset();
  }

  void comboListsDelaysLongestFirst() {
    QStringList items;
    for (int i = 0; i < combo()->count(); ++i) items << combo()->itemText(i);
    QCOMPARE(items, (QStringList{"7", "6", "5", "4", "3", "2", "1", "0"}));
    QVERIFY(!window->isEnabled());

    open(3, 8);
    QCOMPARE(zk_set_interkey_delay(0), 0);
    window->refreshSettings(true);
    QCOMPARE(combo()->currentIndex(), 7);
    combo()->setCurrentIndex(0);
    QCOMPARE(zk_get_interkey_delay(), 7);
    combo()->setCurrentIndex(7);
    QCOMPARE(zk_get_interkey_delay(), 0);
  }

  void refreshWritesNothingAndEachChangeWritesOnce() {
    open(3, 8);
    for (int i = 0; i < 3; ++i) window->refreshSettings(true);
    window->refreshSettings(false);
    window->refreshSettings(true);
    QCOMPARE(writes(), 0);
    QVERIFY(window->isEnabled());
    rig->ClearTranscript();
    window->refreshSettings(true);
    QCOMPARE(rig->RequestCount(0xC2, kEepromRead), 2);  // bytes A and B, once each

    const bool noise = box("noiseBox")->isChecked();
    box("noiseBox")->click();
    QCOMPARE(writes(), 1);
    QCOMPARE(zk_get_noise_cancel() != 0, !noise);
    box("sleepBox")->click();
    QCOMPARE(writes(), 2);
    QCOMPARE(zk_get_sleep_detect() != 0, box("sleepBox")->isChecked());
    combo()->setCurrentIndex(2);
    QCOMPARE(writes(), 3);
  }

  // A setting the firmware lacks is refused with a negative reading: it
  // shows unchecked and can't be changed, instead of looking switched on.
  void settingsTheFirmwareLacksAreShownAsUnsupported_data() {
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<bool>("profiles");
    QTest::addColumn<bool>("sequence");
    QTest::newRow("generation 3") << 3 << 8 << true << true;
    QTest::newRow("generation 2") << 2 << 6 << true << false;
    QTest::newRow("generation 1") << 1 << 2 << false << false;
  }
  void settingsTheFirmwareLacksAreShownAsUnsupported() {
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(bool, profiles);
    QFETCH(bool, sequence);
    open(major, minor);
    window->refreshSettings(true);
    QCOMPARE(box("profilesBox")->isEnabled(), profiles);
    QCOMPARE(box("sequenceBox")->isEnabled(), sequence);
    // The shipped defaults switch both on where the firmware has them.
    QCOMPARE(box("profilesBox")->isChecked(), profiles);
    QCOMPARE(box("sequenceBox")->isChecked(), sequence);
    QVERIFY(box("sleepBox")->isEnabled());
    QVERIFY(box("noiseBox")->isEnabled());
    QVERIFY(combo()->isEnabled());

    // A receiver of a later generation gets them back.
    zk_close_device();
    open(3, 8);
    window->refreshSettings(true);
    QVERIFY(box("profilesBox")->isEnabled());
    QVERIFY(box("sequenceBox")->isEnabled());
  }

  // Settings changed by another program show when the window is shown
  // again, and while it is shown.
  void shownWindowFollowsChangesElsewhere() {
    open(3, 8);
    window->refreshSettings(true);
    QVERIFY(!box("sleepBox")->isChecked());
    QCOMPARE(zk_set_sleep_detect(1), 0);  // as zirko_util would
    window->show();
    QVERIFY(box("sleepBox")->isChecked());
    QCOMPARE(zk_set_sleep_detect(0), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!box("sleepBox")->isChecked(), 5000);
    const int writes = this->writes();
    window->hide();
    QCOMPARE(this->writes(), writes);  // reading writes nothing back
  }

  void forcedUpgradeClosesTheWindowFirst() {
    window->setEnabled(true);
    window->show();
    bool visibleAtSignal = true;
    connect(window.get(), &AdvancedWindow::do_forced_update, this,
            [&] { visibleAtSignal = window->isVisible(); });
    QSignalSpy spy(window.get(), &AdvancedWindow::do_forced_update);
    control<QPushButton>("upgradeButton")->click();
    QCOMPARE(spy.count(), 1);
    QVERIFY(!visibleAtSignal);
  }

  void pictureButtonHoversAndClicksOnPress() {
    zirkoButton button;
    button.setImages(":/images/Buttons/goButtonGreen.png", ":/images/Buttons/goButtonGray.png",
                     false);
    QCOMPARE(button.shownImage(), QString(":/images/Buttons/goButtonGray.png"));
    QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QCoreApplication::sendEvent(&button, &enter);
    QCOMPARE(button.shownImage(), QString(":/images/Buttons/goButtonGreen.png"));
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&button, &leave);
    QCOMPARE(button.shownImage(), QString(":/images/Buttons/goButtonGray.png"));

    QSignalSpy clicks(&button, &zirkoButton::clicked);
    QTest::mousePress(&button, Qt::LeftButton);
    QCOMPARE(clicks.count(), 1);
    QTest::mouseRelease(&button, Qt::LeftButton);
    QCOMPARE(clicks.count(), 1);

    button.setImages(":/images/Buttons/stopButtonGreen.png", ":/images/Buttons/stopButtonGray.png",
                     true);
    QCOMPARE(button.shownImage(), QString(":/images/Buttons/stopButtonGreen.png"));
    QVERIFY(!button.pixmap().isNull());
  }
};

QTEST_MAIN(AdvancedWindowTest)
#include "advancedwindow_test.moc"
