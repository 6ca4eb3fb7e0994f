// The upgrade rules on their own: which receivers are offered, given or
// refused the built-in firmware, and what an upgrade installs.
#include "upgrade_policy.h"

#include <QtTest>

#include "upgrade_worker.h"

namespace {

constexpr float kBuiltIn = 3.8f;

UpgradePolicy policyOn(bool placeholderImages, bool virtualBus) {
  UpgradePolicy policy(placeholderImages);
  policy.setBusProbe([virtualBus] { return virtualBus; });
  return policy;
}

FoundFirmware found(float version, int major, int minor, bool inBootloader = false) {
  return {version, major, minor, inBootloader, kBuiltIn};
}

// The decision's set flags, joined by "+".
QString flags(const FirmwareDecision &d) {
  QStringList set;
  if (d.newer) set << "newer";
  if (d.refuse) set << "refuse";
  if (d.offer) set << "offer";
  if (d.upgrade) set << "upgrade";
  return set.join('+');
}

}  // namespace

class UpgradePolicyTest : public QObject {
  Q_OBJECT

 private slots:
  void firmwareFoundFirstTime_data() {
    QTest::addColumn<float>("version");
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<bool>("inBootloader");
    QTest::addColumn<bool>("fits");
    QTest::addColumn<QString>("decision");
    QTest::newRow("same as built-in") << 3.8f << 3 << 8 << false << true << "";
    QTest::newRow("older") << 3.7f << 3 << 7 << false << true << "offer";
    QTest::newRow("newer") << 3.9f << 3 << 9 << false << true << "newer";
    QTest::newRow("release candidate") << 255.14f << 255 << 14 << false << true << "newer+upgrade";
    QTest::newRow("release candidate past 14") << 255.15f << 255 << 15 << false << true << "newer";
    QTest::newRow("mislabeled 1.4") << 1.4f << 1 << 4 << false << true << "upgrade";
    QTest::newRow("held in bootloader") << 3.7f << 3 << 7 << true << true << "upgrade";
    QTest::newRow("older, no fit") << 3.7f << 3 << 7 << false << false << "refuse";
    QTest::newRow("rc, no fit") << 255.14f << 255 << 14 << false << false << "newer+refuse";
    QTest::newRow("newer, no fit") << 3.9f << 3 << 9 << false << false << "newer";
  }
  void firmwareFoundFirstTime() {
    QFETCH(float, version);
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(bool, inBootloader);
    QFETCH(bool, fits);
    QFETCH(QString, decision);
    UpgradePolicy policy = policyOn(true, fits);
    QCOMPARE(flags(policy.onFirmware(found(version, major, minor, inBootloader))), decision);
  }

  // Only an offer made uses up the one offer of the run.
  void olderFirmwareIsOfferedOncePerRun() {
    bool virtualBus = false;
    UpgradePolicy policy(true);
    policy.setBusProbe([&virtualBus] { return virtualBus; });
    QCOMPARE(flags(policy.onFirmware(found(3.7f, 3, 7))), QString("refuse"));
    virtualBus = true;
    QCOMPARE(flags(policy.onFirmware(found(3.7f, 3, 7, true))), QString("upgrade"));
    QCOMPARE(flags(policy.onFirmware(found(3.7f, 3, 7))), QString("offer"));
    QCOMPARE(flags(policy.onFirmware(found(3.7f, 3, 7))), QString());
    QCOMPARE(flags(policy.onFirmware(found(3.7f, 3, 7, true))), QString());
    QCOMPARE(flags(policy.onFirmware(found(1.4f, 1, 4))), QString("upgrade"));
  }

  void bootloadersAndChosenImages_data() {
    QTest::addColumn<bool>("placeholderImages");
    QTest::addColumn<bool>("virtualBus");
    QTest::addColumn<bool>("fits");
    QTest::addColumn<UpgradePolicy::BootloaderStep>("later");
    QTest::newRow("real images, real bus")
        << false << false << true << UpgradePolicy::BootloaderStep::kUpgrade;
    QTest::newRow("placeholder images, virtual bus")
        << true << true << true << UpgradePolicy::BootloaderStep::kUpgrade;
    QTest::newRow("placeholder images, real bus")
        << true << false << false << UpgradePolicy::BootloaderStep::kHold;
  }
  // A bootloader is left be when first found; the built-in image, also as
  // the recovery from a failed chosen one, goes only where it fits.
  void bootloadersAndChosenImages() {
    QFETCH(bool, placeholderImages);
    QFETCH(bool, virtualBus);
    QFETCH(bool, fits);
    QFETCH(UpgradePolicy::BootloaderStep, later);
    const UpgradePolicy policy = policyOn(placeholderImages, virtualBus);
    QCOMPARE(policy.builtInFits(), fits);
    QCOMPARE(policy.onBootloader(true), UpgradePolicy::BootloaderStep::kWait);
    QCOMPARE(policy.onBootloader(false), later);
    const QByteArray image(256, '\x5A');
    const UpgradeJob chosen = policy.chosenImageJob(image);
    QCOMPARE(chosen.image, image);
    QCOMPARE(chosen.recoverWithBuiltIn, fits);
    QVERIFY(UpgradePolicy::builtInJob().image.isEmpty());
  }
};

QTEST_MAIN(UpgradePolicyTest)
#include "upgrade_policy_test.moc"
