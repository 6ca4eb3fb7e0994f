// The main window's menus against the virtual receiver: clearing, backup and
// restore through real files, refusals, the Controllers menu, the about box
// and the support page.
#include <QAction>
#include <QDesktopServices>
#include <QMenu>
#include <QSettings>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include "graphicskey.h"
#include "graphicskeyboard.h"
#include "window_harness.h"

class MenusTest : public QObject {
  Q_OBJECT

  std::unique_ptr<WindowHarness> h;
  QList<QUrl> openedUrls;

  void connectReceiver() {
    h->poll();
    QVERIFY(h->window->isConnected());
  }
  QAction *controllerEntry(const QString &layout) {
    for (QAction *action : h->window->widgets().menuController->actions())
      if (action->data().toString() == layout) return action;
    return nullptr;
  }

 public slots:
  void captureUrl(const QUrl &url) { openedUrls.append(url); }

 private slots:
  void init() {
    h = std::make_unique<WindowHarness>();
    openedUrls.clear();
  }
  void cleanup() { h.reset(); }

  void clearConfiguration_data() {
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("statusAfter");
    QTest::addColumn<int>("sizeAfter");
    QTest::newRow("ok") << "OK"
                        << "Clear finished" << 5;
    QTest::newRow("cancel") << "Cancel"
                            << "Canceled" << 5 + 2 * 6;
    QTest::newRow("closed") << ""
                            << "Canceled" << 5 + 2 * 6;
  }
  void clearConfiguration() {
    QFETCH(QString, answer);
    QFETCH(QString, statusAfter);
    QFETCH(int, sizeAfter);
    h->rig->AddEntry(0xA1, 0, 0x04);
    h->rig->AddEntry(0xA2, 0x02, 0x05);
    connectReceiver();
    h->answers << answer;
    h->window->menuFormatDevice();
    QVERIFY(h->awaitJob());
    QCOMPARE(h->asked.size(), 1);
    QCOMPARE(h->asked[0].text, QString("Are you sure you want to remove all saved data?"));
    QCOMPARE(h->asked[0].informativeText, QString("\nThis will remove all saved remote keys\n"));
    QCOMPARE(h->asked[0].buttons, (QStringList{"OK", "Cancel"}));
    QCOMPARE(h->asked[0].defaultButton, QString("Cancel"));
    QCOMPARE(h->status(), statusAfter);
    QCOMPARE(h->rig->ImageSize(), sizeAfter);
  }

  // Backup, clear and restore bring the same buttons back, through a folder
  // whose name is neither ASCII nor Latin-1.
  void backupClearRestoreRoundTrip() {
    h->rig->AddEntry(0xB1, 0, 0x04);
    h->rig->AddEntry(0xB2, 0x02, 0x1E);
    h->rig->AddEntry(0xB3, 0, 0x28);
    const auto before = h->rig->Entries();
    connectReceiver();
    QTemporaryDir dir;
    const QString folder = dir.filePath(QString::fromUtf8("Рабочий стол 設定"));
    QVERIFY(QDir().mkpath(folder));
    const QString file = folder + "/my_zirko_config.zcfg";

    h->chosenFiles << folder + "/my_zirko_config";  // typed without its extension
    h->window->menuSaveConfig();
    QCOMPARE(h->status(), QString("File saved"));
    QCOMPARE(h->fileRequests.last().mode, FileRequest::kSave);
    QCOMPARE(h->fileRequests.last().title, QString("Save File"));
    QCOMPARE(h->fileRequests.last().filter, QString("Zirko Config (*.zcfg)"));
    QFile saved(file);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.size(), qint64(5 + 3 * 6));

    h->answers << "OK";
    h->window->menuFormatDevice();
    QVERIFY(h->awaitJob());
    QVERIFY(h->rig->Entries().empty());

    h->chosenFiles << file;
    h->window->menuLoadConfig();
    QVERIFY(h->awaitJob());
    QCOMPARE(h->status(), QString("File restored"));
    QCOMPARE(h->fileRequests.last().mode, FileRequest::kOpen);
    QCOMPARE(h->fileRequests.last().title, QString("Open File"));
    QCOMPARE(h->rig->Entries(), before);
  }

  void failedOrCancelledFilesAreReported() {
    connectReceiver();
    QTemporaryDir dir;
    h->chosenFiles << dir.filePath("missing folder/backup.zcfg");
    h->window->menuSaveConfig();
    QCOMPARE(h->status(), QString("Could not save file"));

    h->rig->AddEntry(0xC1, 0, 0x04);
    h->chosenFiles << dir.filePath("no such backup.zcfg");
    h->window->menuLoadConfig();
    QVERIFY(h->awaitJob());
    QCOMPARE(h->status(),
             QString("Could not restore file: no such backup.zcfg: No such file or directory"));
    QCOMPARE(h->rig->ImageSize(), 5 + 6);

    h->window->menuLoadConfig();
    QCOMPARE(h->status(), QString("Canceled"));

    h->chosenFiles << dir.filePath("no such image.bin");
    h->window->menuUploadFirmware();
    QCOMPARE(h->status(), QString("Could not read the firmware file: no such image.bin: No such "
                                  "file or directory"));
    QCOMPARE(h->bootloaderRequests(), 0);
    QVERIFY(h->window->isConnected());
  }

  // The Desktop folder as the desktop names it, or home when there is none.
  void proposedFileIsOnTheDesktopOrAtHome() {
    connectReceiver();
    QTemporaryDir home;
    const QByteArray oldHome = qgetenv("HOME"), oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(".config")));

    h->window->menuSaveConfig();
    QVERIFY(QDir().mkpath(home.filePath("Desktop")));
    h->window->menuLoadConfig();
    h->window->menuUploadFirmware();

    qputenv("HOME", oldHome);
    qputenv("XDG_CONFIG_HOME", oldConfig);
    QCOMPARE(h->fileRequests.size(), 3);
    QCOMPARE(h->fileRequests[0].proposedFile, home.filePath("my_zirko_config"));
    QCOMPARE(h->fileRequests[1].proposedFile, home.filePath("Desktop/my_zirko_config"));
    QCOMPARE(h->fileRequests[2].proposedFile, home.filePath("Desktop/zirko"));
  }

  // The layout chosen from the Controllers menu is the one shown at the
  // next start; one that no longer exists gives the first layout.
  void chosenLayoutIsRememberedForTheNextStart() {
    QTemporaryDir dir;
    auto memory = std::make_shared<QSettings>(dir.filePath("zirko_gui.ini"), QSettings::IniFormat);
    {
      MainWindow first(h->worker.get(), nullptr, memory);
      for (QAction *action : first.widgets().menuController->actions())
        if (action->data().toString() == "Kodi") action->trigger();
      QCOMPARE(first.shownKeyboard()->getName(), QString("Kodi"));
    }
    MainWindow second(h->worker.get(), nullptr, memory);
    QCOMPARE(second.shownKeyboard()->getName(), QString("Kodi"));
    memory->setValue("window/layout", "Gone");
    MainWindow third(h->worker.get(), nullptr, memory);
    QCOMPARE(third.shownKeyboard()->getName(), QString("Minimalist"));
    QVERIFY(MainWindow::programMemory() == nullptr);  // this suite keeps nothing
  }

  void everyDeviceItemRefusesWithoutAReceiver() {
    h->rig->receiver().unplug();
    h->poll();
    h->chosenFiles << "/tmp/unused.zcfg";
    for (auto item : {&MainWindow::menuFormatDevice, &MainWindow::menuSaveConfig,
                      &MainWindow::menuLoadConfig, &MainWindow::menuUploadFirmware}) {
      h->window->widgets().Notification->clear();
      (h->window.get()->*item)();
      QCOMPARE(h->status(), QString("Please connect zirko"));
    }
    QVERIFY(h->asked.isEmpty());
    QVERIFY(h->fileRequests.isEmpty());
  }

  void controllerSelection() {
    connectReceiver();
    QAction *current = controllerEntry("Windows_us101");
    QAction *other = controllerEntry("Kodi");
    QVERIFY(current && other);
    current->trigger();
    QCOMPARE(h->window->shownKeyboard()->getName(), QString("Windows_us101"));
    GraphicsKeyboard *layout = h->window->shownKeyboard();
    for (GraphicsKey *k : layout->getKeys())
      if (k->getName() == "a") layout->keyClicked(k);
    QCOMPARE(h->window->currentOperation(), int(MainWindow::kRecording));
    const int normalBefore = h->rig->RequestCount(0xC0, 0);

    current->trigger();  // the entry already chosen
    QVERIFY(current->isChecked());
    QCOMPARE(h->window->shownKeyboard(), layout);
    QCOMPARE(h->window->currentOperation(), int(MainWindow::kRecording));
    QCOMPARE(h->rig->RequestCount(0xC0, 0), normalBefore);

    other->trigger();
    QList<QAction *> checked;
    for (QAction *action : h->window->widgets().menuController->actions())
      if (action->isChecked()) checked << action;
    QCOMPARE(checked, QList<QAction *>{other});
    QCOMPARE(h->window->currentOperation(), int(MainWindow::kIdle));
    QCOMPARE(h->rig->RequestCount(0xC0, 0), normalBefore + 1);
    QVERIFY(!h->rig->receiver().waiting_for_button());
    QCOMPARE(h->window->shownKeyboard()->getName(), QString("Kodi"));
  }

  void aboutBoxAndSupportPage() {
    h->window->menuAbout();
    QCOMPARE(h->asked.size(), 1);
    const Question &about = h->asked[0];
    QCOMPARE(about.text, QString("Zirko GUI Version: v" ZIRKO_VERSION));
    QVERIFY(about.informativeText.startsWith("Git Version: "));
    QVERIFY(about.informativeText.contains("\nBased on Qt " + QString(qVersion()) + "\n"));
    QVERIFY(about.informativeText.contains("the Zirko maintainers"));
    QCOMPARE(about.iconPath, QString(":/images/logo_small.png"));
    QCOMPARE(about.minimumWidth, 350);

    QDesktopServices::setUrlHandler("https", this, "captureUrl");
    h->window->widgets().actionSupport->trigger();
    QDesktopServices::unsetUrlHandler("https");
    QCOMPARE(openedUrls.size(), 1);
    QVERIFY(openedUrls[0].isValid());
    QCOMPARE(h->asked.size(), 1);

    // The offscreen platform opens no browser: the address is shown instead.
    h->window->widgets().actionSupport->trigger();
    QCOMPARE(h->asked.size(), 2);
    QCOMPARE(QUrl(h->asked[1].informativeText), openedUrls[0]);
  }
};

QTEST_MAIN(MenusTest)
#include "menus_test.moc"
