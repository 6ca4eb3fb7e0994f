// Upgrades from the embedded firmware against the virtual receiver: when the
// window offers or forces one, which image it picks, and what a failure or a
// real receiver changes.
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <fstream>

#include "advancedwindow.h"
#include "firmware_images.h"
#include "image.h"
#include "internal.h"
#include "window_harness.h"

namespace {

const QString kStandardNew = ":/firmware/zirko.bl.2.0.bin";

std::vector<uint8_t> imageOf(int major, int minor, size_t size) {
  zk::virt::ImageInfo info;
  info.version = {uint8_t(major), uint8_t(minor), {2, 2, 25}};
  info.scm_hash = 0xF11E0000u | uint32_t(major << 8 | minor);
  return zk::virt::make_image(info, size);
}

QString writeImage(const QTemporaryDir &dir, const std::vector<uint8_t> &image) {
  const QString path = dir.filePath("picked.bin");
  std::ofstream(path.toStdString(), std::ios::binary)
      .write(reinterpret_cast<const char *>(image.data()), std::streamsize(image.size()));
  return path;
}

// The library's waits run twenty times faster than the wall clock: a
// receiver that stays away ends the upgrade after 1.5 s, not 30.
class QuickWaitClock {
 public:
  QuickWaitClock() { zk::set_wait_clock(&kClock); }
  ~QuickWaitClock() { zk::set_wait_clock(nullptr); }

 private:
  static inline std::atomic<int64_t> now_us{0};
  static constexpr zk::WaitClock kClock{[] { return now_us.load(); },
                                        [](int ms) {
                                          QThread::msleep(ms / 20);
                                          now_us += int64_t(ms) * 1000;
                                        }};
};

}  // namespace

class FirmwareUpgradeTest : public QObject {
  Q_OBJECT

  std::unique_ptr<WindowHarness> h;

  // The receiver runs the embedded firmware from this image, and the window
  // shows it connected.
  void expectUpgradedFrom(const QString &image) {
    QCOMPARE(h->status(), QString("Firmware successfully upgraded"));
    QCOMPARE(h->title(), QString("Zirko v" ZIRKO_VERSION " - Connected"));
    QCOMPARE(h->version(), QString("Firmware v3.8"));
    QVERIFY(h->flash() == WindowHarness::resource(image));
    const auto firmware = h->rig->receiver().snapshot().firmware;
    QCOMPARE(int(firmware.major), 3);
    QCOMPARE(int(firmware.minor), 8);
    QVERIFY(h->window->widgets().progressBar->isHidden());
  }

 private slots:
  void initTestCase() {
    if (!firmware::placeholderImages())
      QSKIP("this build carries real receiver firmware, which the virtual receiver refuses");
    QCOMPARE(firmware::readVersionText(":/firmware/version.txt"), 3.8f);
    QCOMPARE(firmware::readVersionText(":/firmware/cv_version.txt"), 3.8f);
  }
  void init() { h = std::make_unique<WindowHarness>(); }
  void cleanup() { h.reset(); }

  void usableOrNotWithoutUpgrade_data() {
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<QString>("title");
    QTest::newRow("same as embedded") << 3 << 8 << "Zirko v" ZIRKO_VERSION " - Connected";
    QTest::newRow("newer than embedded") << 3 << 9 << "Zirko v" ZIRKO_VERSION " - Newer firmware";
    QTest::newRow("release candidate past 14")
        << 255 << 15 << "Zirko v" ZIRKO_VERSION " - Newer firmware";
  }
  void usableOrNotWithoutUpgrade() {
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(QString, title);
    h->rig->SetFirmwareVersion(major, minor);
    h->poll();
    QCOMPARE(h->title(), title);
    QVERIFY(h->asked.isEmpty());
    QCOMPARE(h->bootloaderRequests(), 0);
  }

  // Declined, the offer is not repeated when the receiver comes back.
  void olderFirmwareIsOfferedOnce() {
    h->rig->SetFirmwareVersion(3, 7);
    h->answers << "No";
    h->poll();
    QCOMPARE(h->asked.size(), 1);
    const Question &offer = h->asked[0];
    QCOMPARE(offer.text, QString("Firmware Upgrade Available"));
    QCOMPARE(offer.informativeText, QString("\nDo you want to upgrade?"));
    QCOMPARE(offer.buttons, (QStringList{"Yes", "No"}));
    QCOMPARE(offer.defaultButton, QString("No"));
    QCOMPARE(offer.iconPath, QString(":/images/exclamation.png"));
    QCOMPARE(h->title(), QString("Zirko v" ZIRKO_VERSION " - Connected"));
    QCOMPARE(h->version(), QString("Firmware v3.7"));

    h->rig->receiver().unplug();
    h->poll();
    h->rig->receiver().plug();
    h->poll();
    QCOMPARE(h->title(), QString("Zirko v" ZIRKO_VERSION " - Connected"));
    QCOMPARE(h->asked.size(), 1);
    QCOMPARE(h->bootloaderRequests(), 0);
  }

  void acceptedOfferUpgradesToEmbedded() {
    h->rig->SetFirmwareVersion(3, 7);
    h->answers << "Yes";
    QSignalSpy progress(h->window->widgets().progressBar, &QProgressBar::valueChanged);
    h->poll();
    QVERIFY(h->awaitUpgrade());
    expectUpgradedFrom(kStandardNew);
    QCOMPARE(h->bootloaderRequests(), 1);
    QVERIFY(progress.size() > 2);
    QCOMPARE(progress.last().at(0).toInt(), 100);
    QVERIFY(h->window->advancedWindow()->isEnabled());
  }

  // Release candidates up to 255.14 and the mislabelled 1.4 are replaced
  // without a question, which either answer would have ended in; the
  // status says why while it runs.
  void replacedFirmwareIsUpgraded_data() {
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("questions");
    QTest::addColumn<QString>("why");
    const QString testRelease = "is a test release that must be replaced: installing firmware v3.8";
    QTest::newRow("255.14") << 255 << 14 << 0 << "Firmware v255.14 " + testRelease;
    QTest::newRow("255.0") << 255 << 0 << 0 << "Firmware v255.0 " + testRelease;
    QTest::newRow("1.4, never asked")
        << 1 << 4 << 0
        << "Firmware v1.4 is older firmware numbered wrongly and must be replaced: installing "
           "firmware v3.8";
  }
  void replacedFirmwareIsUpgraded() {
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(int, questions);
    QFETCH(QString, why);
    h->rig->SetFirmwareVersion(major, minor);
    h->answers << "No";
    h->poll();
    QCOMPARE(h->status(), why);
    QVERIFY(h->awaitUpgrade());
    QCOMPARE(h->asked.size(), questions);
    expectUpgradedFrom(kStandardNew);
  }

  // A receiver found in its bootloader is upgraded by the second poll that
  // finds it, with the image for its variant and bootloader generation.
  void bootloaderAtStartPicksItsImage_data() {
    QTest::addColumn<int>("bootloaderMajor");
    QTest::addColumn<int>("bootloaderMinor");
    QTest::addColumn<bool>("corvane");
    QTest::addColumn<QString>("image");
    QTest::newRow("1.4 standard") << 1 << 4 << false << ":/firmware/zirko.bl.1.4.bin";
    QTest::newRow("1.9 corvane") << 1 << 9 << true << ":/firmware/zirko.cv.bl.1.4.bin";
    QTest::newRow("2.0 corvane") << 2 << 0 << true << ":/firmware/zirko.cv.bl.2.0.bin";
    QTest::newRow("2.1 standard") << 2 << 1 << false << ":/firmware/zirko.bl.2.0.bin";
  }
  void bootloaderAtStartPicksItsImage() {
    QFETCH(int, bootloaderMajor);
    QFETCH(int, bootloaderMinor);
    QFETCH(bool, corvane);
    QFETCH(QString, image);
    h->rig->SetBootloaderVersion(bootloaderMajor, bootloaderMinor);
    if (corvane) h->rig->SetCorvane();
    h->rig->receiver().reenumerate(zk::virt::Mode::kBootloader);
    h->poll();
    QCOMPARE(h->title(), QString("Zirko v" ZIRKO_VERSION " - Bootloader"));
    QCOMPARE(h->pagesSent(), 0);
    h->poll();
    QVERIFY(h->awaitUpgrade());
    expectUpgradedFrom(image);
    QCOMPARE(h->pagesSent(), 12288 / 128);
    QVERIFY(h->asked.isEmpty());
  }

  void failedUpgradeIsRetriedByTheNextPoll() {
    h->rig->receiver().edit([](zk::virt::ReceiverState &s) {
      s.bootloader_faults.reject_page = 5;
      s.bootloader_faults.reject_times = 101;  // beyond the library's retries
    });
    h->rig->receiver().reenumerate(zk::virt::Mode::kBootloader);
    h->poll();
    h->poll();
    QVERIFY(h->awaitUpgrade());
    QCOMPARE(h->status(), QString("Could not upgrade firmware. Contact support."));
    QCOMPARE(h->title(), QString("Zirko v" ZIRKO_VERSION " - Disconnected"));
    QCOMPARE(h->rig->bus().open_handles(), 0);
    QVERIFY(h->window->widgets().progressBar->isHidden());

    h->poll();
    QVERIFY(h->awaitUpgrade());
    expectUpgradedFrom(kStandardNew);
  }

  // A receiver that stays in its firmware is never given an image chosen by
  // its firmware version; it is shown as it is.
  void receiverThatStaysInFirmwareIsNotFlashed() {
    h->rig->SetFirmwareVersion(3, 7);
    h->rig->bus().fail_request(0xC2, 5, zk::kUsbErrorPipe);
    h->answers << "Yes";
    h->poll();
    QVERIFY(h->awaitUpgrade());
    QCOMPARE(h->status(),
             QString("Could not upgrade firmware: zirko did not switch to its bootloader"));
    QCOMPARE(h->title(), QString("Zirko v" ZIRKO_VERSION " - Connected"));
    QCOMPARE(h->bootloaderRequests(), 1);  // no upgrade was started on it
    QCOMPARE(h->pagesSent(), 0);

    h->rig->bus().clear_faults();
    h->poll();
    QCOMPARE(h->title(), QString("Zirko v" ZIRKO_VERSION " - Connected"));
    QCOMPARE(h->version(), QString("Firmware v3.7"));
    QCOMPARE(h->asked.size(), 1);
  }

  // The advanced window's button: the window is gone before the question.
  void forcedUpgradeFromTheAdvancedWindow() {
    h->rig->SetFirmwareVersion(3, 7);
    h->answers << "No";
    h->poll();
    AdvancedWindow *advanced = h->window->advancedWindow();
    auto *button = advanced->findChild<QPushButton *>("upgradeButton");
    QList<bool> shownWhenAsked;
    h->window->setAsker([&](QWidget *, const Question &q) {
      h->asked.append(q);
      shownWhenAsked.append(advanced->isVisible());
      return h->answers.isEmpty() ? QString() : h->answers.takeFirst();
    });

    advanced->show();
    h->answers << "No";
    button->click();
    QCOMPARE(shownWhenAsked, QList<bool>{false});
    const Question &ask = h->asked.last();
    QCOMPARE(ask.text, QString("Firmware Upgrade"));
    QCOMPARE(ask.informativeText,
             QString("Upgrading to latest firmware?\n\nYour firmware version is: 3.7\nThe latest "
                     "firmware version is: 3.8\n\nThis will force a firmware update with the "
                     "latest stable firmware release. You may have to re-learn your keys, do you "
                     "want to continue?\n"));
    QCOMPARE(ask.defaultButton, QString("No"));
    QCOMPARE(ask.minimumWidth, 350);
    QCOMPARE(h->bootloaderRequests(), 0);
    QCOMPARE(h->version(), QString("Firmware v3.7"));

    advanced->show();
    h->answers << "Yes";
    button->click();
    QCOMPARE(shownWhenAsked, (QList<bool>{false, false}));
    QVERIFY(h->awaitUpgrade());
    expectUpgradedFrom(kStandardNew);
    QVERIFY(h->window->pollTimer()->isActive());
  }

  // Images made for the virtual receiver never go to a real one, and the
  // user can still upgrade it from a file.
  void realReceiverIsNeverGivenPlaceholderImages() {
    h->window->setBusProbe([] { return false; });
    h->rig->SetFirmwareVersion(3, 7);
    h->poll();
    QVERIFY(h->asked.isEmpty());
    QCOMPARE(h->status(), QString("No built-in firmware for this receiver"));
    QCOMPARE(h->title(), QString("Zirko v" ZIRKO_VERSION " - Connected"));
    h->window->force_update();
    QVERIFY(h->asked.isEmpty());
    QCOMPARE(h->bootloaderRequests(), 0);

    h->rig->receiver().reenumerate(zk::virt::Mode::kBootloader);
    for (int i = 0; i < 3; ++i) h->poll();
    QCOMPARE(h->title(), QString("Zirko v" ZIRKO_VERSION " - Bootloader"));
    QCOMPARE(h->status(), QString("No built-in firmware for this receiver"));
    QCOMPARE(h->pagesSent(), 0);
    h->window->menuSaveConfig();
    QCOMPARE(h->status(), QString("Please connect zirko"));
    h->window->menuFormatDevice();
    QCOMPARE(h->status(), QString("Please connect zirko"));
    QVERIFY(h->fileRequests.isEmpty());

    QTemporaryDir dir;
    const auto image = imageOf(3, 9, 4096);
    h->chosenFiles << writeImage(dir, image);
    h->window->menuUploadFirmware();
    QVERIFY(h->awaitUpgrade());
    QCOMPARE(h->fileRequests.size(), 1);
    QCOMPARE(h->fileRequests[0].filter, QString("Zirko Config (*.bin)"));
    // Newer than the firmware this application knows: said so, and shown
    // with the version it now runs.
    QCOMPARE(h->status(), QString("Firmware v3.9 is newer than this application; update Zirko"));
    QCOMPARE(h->title(), QString("Zirko v" ZIRKO_VERSION " - Newer firmware"));
    QCOMPARE(h->version(), QString("Firmware v3.9"));
    QVERIFY(h->flash() == image);
    QVERIFY(h->window->pollTimer()->isActive());
  }

  // File → Upgrade Firmware on a receiver running 3.8: an image the
  // receiver can't take is refused before it leaves its firmware; one it
  // won't start is replaced by the built-in image, and the status says both.
  void fileUpgradeOutcomes_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("version");
    QTest::addColumn<int>("bootloaderRequests");
    QTest::newRow("partial page") << "partial page"
                                  << "picked.bin was not installed: its size is not a multiple "
                                     "of 128 bytes"
                                  << "Firmware v3.8" << 0;
    QTest::newRow("too large") << "too large"
                               << "picked.bin was not installed: it is larger than the "
                                  "receiver's memory"
                               << "Firmware v3.8" << 0;
    QTest::newRow("corrupt") << "corrupt"
                             << "picked.bin was not installed (zirko did not start it); the "
                                "built-in firmware v3.8 was installed instead"
                             << "Firmware v3.8" << 1;
    QTest::newRow("older, sound") << "sound"
                                  << "Firmware v3.7 installed in place of v3.8"
                                  << "Firmware v3.7" << 1;
  }
  void fileUpgradeOutcomes() {
    QFETCH(QString, kind);
    QFETCH(QString, status);
    QFETCH(QString, version);
    QFETCH(int, bootloaderRequests);
    auto image = imageOf(3, 7, 4096);
    if (kind == "partial page") image.resize(4096 + 64);
    if (kind == "too large") image = std::vector<uint8_t>(16384, 0xFF);
    if (kind == "corrupt") image[2000] ^= 0xFF;
    h->poll();
    QTemporaryDir dir;
    h->chosenFiles << writeImage(dir, image);
    h->window->menuUploadFirmware();
    QVERIFY(h->awaitUpgrade());

    QCOMPARE(h->status(), status);
    QCOMPARE(h->bootloaderRequests(), bootloaderRequests);
    QCOMPARE(h->title(), QString("Zirko v" ZIRKO_VERSION " - Connected"));
    QCOMPARE(h->version(), version);
    QCOMPARE(h->rig->receiver().snapshot().mode, zk::virt::Mode::kFirmware);
    QVERIFY(h->window->pollTimer()->isActive());
    if (kind == "corrupt") QVERIFY(h->flash() == WindowHarness::resource(kStandardNew));
  }

  // Pulled out in the middle of a file's upload, the receiver comes back in
  // its bootloader a moment later: waited for, given the built-in firmware,
  // and the status says that the file was not installed and why.
  void fileUploadCutOffIsReportedAsWhatHappened() {
    h->poll();
    h->rig->receiver().edit([](zk::virt::ReceiverState &s) {
      s.bootloader_faults.unplug_at_page = 20;
      s.reenumerate_delay_ms = 250;
    });
    QTemporaryDir dir;
    h->chosenFiles << writeImage(dir, imageOf(3, 7, 4096));
    h->window->menuUploadFirmware();
    QVERIFY(h->awaitUpgrade());
    QCOMPARE(h->status(), QString("picked.bin was not installed (the upload did not finish); the "
                                  "built-in firmware v3.8 was installed instead"));
    QCOMPARE(h->title(), QString("Zirko v" ZIRKO_VERSION " - Connected"));
    QCOMPARE(h->version(), QString("Firmware v3.8"));
    QVERIFY(h->flash() == WindowHarness::resource(kStandardNew));
  }

  // A receiver newer than this application says so, stays so from poll to
  // poll, and can be brought back to a known version from a file.
  void newerFirmwareCanBeUpgradedFromAFile() {
    const QString newer = "Firmware v3.9 is newer than this application; update Zirko";
    h->rig->SetFirmwareVersion(3, 9);
    h->poll();
    QSignalSpy titles(h->window.get(), &QWidget::windowTitleChanged);
    h->window->menuSaveConfig();
    QCOMPARE(h->status(), newer);
    for (int i = 0; i < 3; ++i) h->poll();
    QCOMPARE(titles.size(), 0);
    QCOMPARE(h->status(), newer);

    QTemporaryDir dir;
    h->chosenFiles << writeImage(dir, imageOf(3, 8, 4096));
    h->window->menuUploadFirmware();
    QVERIFY(h->awaitUpgrade());
    QCOMPARE(h->status(), QString("Firmware v3.8 installed in place of v3.9"));
    QCOMPARE(h->title(), QString("Zirko v" ZIRKO_VERSION " - Connected"));
    QCOMPARE(h->version(), QString("Firmware v3.8"));
    QCOMPARE(h->window->indicatorPicture(), QString(":/images/bottom_connected.png"));
  }

  // A receiver that never comes back after an upgrade: the window's event
  // loop runs all along, shows the progress, and the wait ends in a message.
  void windowAnswersWhileTheReceiverStaysAway() {
    QuickWaitClock clock;
    h->rig->SetFirmwareVersion(3, 7);
    h->rig->receiver().edit(
        [](zk::virt::ReceiverState &s) { s.bootloader_faults.stay_away_after_leave = true; });
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(20);
    h->answers << "Yes";
    QElapsedTimer pollTime;
    pollTime.start();
    h->poll();
    QVERIFY(pollTime.elapsed() < 500);
    QVERIFY(h->window->isUpgrading());
    QVERIFY(!h->window->pollTimer()->isActive());
    QVERIFY(h->window->widgets().progressBar->isVisible());
    QCOMPARE(h->window->widgets().progressBar->format(), QString("Installing firmware v3.8: %p%"));
    // Nothing else reaches the receiver meanwhile.
    h->window->menuSaveConfig();
    QCOMPARE(h->status(), QString("Firmware being upgraded, please wait..."));
    QVERIFY(h->fileRequests.isEmpty());

    QTRY_COMPARE_WITH_TIMEOUT(h->window->widgets().progressBar->value(), 100, 10000);
    const int ticksAtFullBar = ticks;
    QVERIFY(h->awaitUpgrade());
    QVERIFY(ticks > ticksAtFullBar + 10);
    QCOMPARE(h->status(), QString("Could not upgrade firmware: zirko did not come back. Unplug "
                                  "it and plug it in again."));
    QCOMPARE(h->title(), QString("Zirko v" ZIRKO_VERSION " - Disconnected"));
    QCOMPARE(h->version(), QString());
    QVERIFY(h->window->pollTimer()->isActive());

    h->rig->receiver().plug();
    h->poll();
    QCOMPARE(h->title(), QString("Zirko v" ZIRKO_VERSION " - Connected"));
    QCOMPARE(h->version(), QString("Firmware v3.8"));
  }
};

QTEST_MAIN(FirmwareUpgradeTest)
#include "firmware_upgrade_test.moc"
