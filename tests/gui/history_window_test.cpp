// The window's history on the virtual receiver: each change it makes can be
// undone, the History dialog puts back an older configuration, an import
// that removes buttons asks first, a write cut off by an unplug is offered
// back, and the file menus refuse files that are not plain files.
#include <sys/stat.h>

#include <QAction>
#include <QCheckBox>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>
#include <atomic>
#include <thread>

#include "advancedwindow.h"
#include "graphicskey.h"
#include "graphicskeyboard.h"
#include "history_dialog.h"
#include "image.h"
#include "window_harness.h"
#include "zirko_history.h"

class HistoryWindowTest : public QObject {
  Q_OBJECT

  std::unique_ptr<QTemporaryDir> state;
  std::unique_ptr<WindowHarness> h;
  QByteArray oldState;

  QString file(const QString &name) const { return state->filePath(name); }
  void write(const QString &name, const QByteArray &bytes) {
    QFile f(file(name));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
  }
  GraphicsKey *key(const QString &name) const {
    for (GraphicsKey *k : h->window->shownKeyboard()->getKeys())
      if (k->getName() == name) return k;
    return nullptr;
  }
  void triggerFile(const QString &text) {
    for (QAction *action : h->window->widgets().menuFile->actions())
      if (action->text() == text) return action->trigger();
    QFAIL(qPrintable("no File entry " + text));
  }
  // Polls until the window shows the receiver connected and idle.
  bool pollUntilConnected() {
    for (int i = 0; i < 20 && !(h->window->isConnected() && !h->window->isUpgrading()); ++i) {
      h->poll();
      QCoreApplication::processEvents();
    }
    return h->window->isConnected();
  }
  static QString newestChange(int n = 1) {
    zk_history_entry e;
    return zk_history_entry_at(n, &e) == 0 ? QString(e.change) : QString();
  }

  // The three buttons every test starts with: a, b and Ctrl+c.
  void threeButtons() {
    h->rig->AddEntry(0xA1, 0, 0x04);
    h->rig->AddEntry(0xA2, 0, 0x05);
    h->rig->AddEntry(0xA3, 0x01, 0x06);
    QVERIFY(pollUntilConnected());
    h->window->selectKeyboard("Windows_us101");
  }

  // One change the window makes, named as the history names it; `more`
  // answers the questions after the change's own.
  void change(const QString &which, const QStringList &more = {}) {
    if (which == "clear") {
      h->answers << "OK" << more;
      h->window->menuFormatDevice();
    } else if (which == "load") {
      write("one.zcfg", QByteArray::fromHex("000b030000b10000000007"));
      h->chosenFiles << file("one.zcfg");
      h->answers << more;
      h->window->menuLoadConfig();
    } else if (which == "import") {
      write("two.zmap", "000000A1 a\n000000B2 d\n");
      h->chosenFiles << file("two.zmap");
      h->answers << "Replace"
                 << "Import" << more;
      triggerFile("Import Button Map...");
    } else if (which == "forget") {
      h->answers << "Yes" << more;
      h->window->forgetKey(key("b"));
    } else if (which == "record") {
      h->answers << more;
      h->window->shownKeyboard()->keyClicked(key("e"));
      h->rig->Press(0xC0FFEE);
      h->poll();
    } else if (which == "setting") {
      AdvancedWindow *advanced = h->window->advancedWindow();
      advanced->refreshSettings(true);
      h->answers << more;
      advanced->findChild<QCheckBox *>("noiseBox")->click();
    } else if (which == "erase") {
      h->window->on_erase_clicked();
      h->rig->Press(0xA2);
      h->poll();
    }
    QVERIFY(h->awaitJob());
  }

 private slots:
  void init() {
    oldState = qgetenv("XDG_STATE_HOME");
    state = std::make_unique<QTemporaryDir>();
    qputenv("XDG_STATE_HOME", QFile::encodeName(state->filePath("state")));
    h = std::make_unique<WindowHarness>();
    h->rig->SetFirmwareVersion(3, 8);
  }
  void cleanup() {
    h.reset();
    qputenv("XDG_STATE_HOME", oldState);
  }

  // Each change is kept under its name; Undo puts the image back byte for
  // byte and the picture follows, and a second Undo takes the undo back.
  void undoPutsBackWhatEachChangeReplaced_data() {
    QTest::addColumn<QString>("which");
    QTest::addColumn<QString>("kept");
    QTest::newRow("Undo after Clear Configuration restores the buttons") << "clear"
                                                                         << "format";
    QTest::newRow("load configuration") << "load"
                                        << "loadconfig one.zcfg";
    QTest::newRow("import replacing") << "import"
                                      << "import two.zmap";
    QTest::newRow("forget a key") << "forget"
                                  << "forget b";
    QTest::newRow("record a key") << "record"
                                  << "record e";
    QTest::newRow("erase a button") << "erase"
                                    << "delete";
    QTest::newRow("a setting in the advanced window") << "setting"
                                                      << "noise_canceler 1";
  }
  void undoPutsBackWhatEachChangeReplaced() {
    QFETCH(QString, which);
    QFETCH(QString, kept);
    threeButtons();
    const std::vector<uint8_t> before = h->rig->Image();
    change(which);
    const std::vector<uint8_t> after = h->rig->Image();
    QVERIFY(after != before);
    QCOMPARE(newestChange(), kept);
    QCOMPARE(int(h->session()->buttons().size()), int(after.size() - 5) / 6);

    QCOMPARE(h->window->undoAction()->shortcut(), QKeySequence(QKeySequence::Undo));
    h->window->undoAction()->trigger();
    QVERIFY(h->awaitJob());
    QCOMPARE(h->status(), QString("Last change undone"));
    QCOMPARE(h->rig->Image(), before);
    QCOMPARE(int(h->session()->buttons().size()), 3);
    QVERIFY(key("a")->isTaught());
    QCOMPARE(newestChange(), QString("undo"));

    h->window->undoAction()->trigger();
    QVERIFY(h->awaitJob());
    QCOMPARE(h->rig->Image(), after);
  }

  void undoWithNothingKeptChangesNothing() {
    threeButtons();
    const std::vector<uint8_t> before = h->rig->Image();
    h->window->undoAction()->trigger();
    QVERIFY(h->awaitJob());
    QCOMPARE(h->status(), QString("Nothing to undo"));
    QCOMPARE(h->rig->Image(), before);
  }

  // Newest first, with time, change and button count; Restore puts back
  // the chosen older entry, and is itself kept.
  void historyDialogRestoresAnOlderEntry() {
    threeButtons();
    const std::vector<uint8_t> original = h->rig->Image();
    change("load");
    change("clear");
    h->window->historyAction()->trigger();
    HistoryDialog *dialog = h->window->historyDialog();
    QVERIFY(dialog && dialog->isVisible());
    QTreeWidget *list = dialog->list();
    QCOMPARE(list->topLevelItemCount(), 2);
    QCOMPARE(list->topLevelItem(0)->text(1), QString("format"));
    QCOMPARE(list->topLevelItem(0)->text(2), QString("1"));
    QCOMPARE(list->topLevelItem(1)->text(1), QString("loadconfig one.zcfg"));
    QCOMPARE(list->topLevelItem(1)->text(2), QString("3"));
    QVERIFY(QDateTime::fromString(list->topLevelItem(1)->text(0), "yyyy-MM-dd HH:mm:ss").isValid());
    QVERIFY(!dialog->restoreButton()->isEnabled());  // nothing chosen yet

    list->topLevelItem(1)->setSelected(true);
    QVERIFY(dialog->restoreButton()->isEnabled());
    dialog->restoreButton()->click();
    QVERIFY(h->awaitJob());
    QCOMPARE(h->status(), QString("Configuration restored"));
    QCOMPARE(h->rig->Image(), original);
    QCOMPARE(int(h->session()->buttons().size()), 3);
    QCOMPARE(list->topLevelItemCount(), 3);
    QCOMPARE(list->topLevelItem(0)->text(1), QString("restore 2"));
    QCOMPARE(list->topLevelItem(0)->text(2), QString("0"));

    h->rig->receiver().unplug();
    h->poll();
    QVERIFY(!dialog->restoreButton()->isEnabled());
  }

  // A replacing map that leaves buttons out says how many first; a merge
  // removes none and does not ask.
  void importThatRemovesButtonsAsksFirst_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("question");
    QTest::addColumn<int>("buttonsAfter");
    QTest::newRow("cancel keeps the buttons") << "Replace"
                                              << "Cancel"
                                              << "The map removes 2 buttons that zirko has" << 3;
    QTest::newRow("closed keeps the buttons") << "Replace"
                                              << ""
                                              << "The map removes 2 buttons that zirko has" << 3;
    QTest::newRow("import replaces them") << "Replace"
                                          << "Import"
                                          << "The map removes 2 buttons that zirko has" << 2;
    QTest::newRow("merge asks nothing") << "Merge"
                                        << ""
                                        << "" << 4;
  }
  void importThatRemovesButtonsAsksFirst() {
    QFETCH(QString, how);
    QFETCH(QString, answer);
    QFETCH(QString, question);
    QFETCH(int, buttonsAfter);
    threeButtons();
    const int keptBefore = zk_history_count();
    write("two.zmap", "000000A1 a\n000000B2 d\n");
    h->chosenFiles << file("two.zmap");
    h->answers << how << answer;
    triggerFile("Import Button Map...");
    QCOMPARE(h->rig->ImageSize(), 5 + 6 * buttonsAfter);
    if (question.isEmpty()) {
      QCOMPARE(h->asked.size(), 1);
      return;
    }
    QCOMPARE(h->asked.size(), 2);
    QCOMPARE(h->asked[1].text, question);
    QCOMPARE(h->asked[1].defaultButton, QString("Cancel"));
    // Cancelled: nothing written, and nothing kept either.
    if (buttonsAfter == 3) {
      QCOMPARE(h->status(), QString("Canceled"));
      QCOMPARE(zk_history_count(), keptBefore);
    }
  }

  // Every file menu reads through the library's reader: a FIFO does not
  // block and a huge file is not read; the status says why.
  void fileMenusRefuseFilesThatAreNotPlain_data() {
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("status");
    const QString fifo = "not a regular file (a FIFO)";
    QTest::newRow("load a FIFO") << "load"
                                 << "fifo"
                                 << "Could not restore file: f: " + fifo;
    QTest::newRow("load a folder") << "load"
                                   << "folder"
                                   << "Could not restore file: f: not a regular file (a folder)";
    QTest::newRow("load a huge file")
        << "load"
        << "huge"
        << "Could not restore file: f: File too large: 300000000 bytes, at most 1019";
    QTest::newRow("import a FIFO") << "import"
                                   << "fifo"
                                   << "Could not open file: f: " + fifo;
    QTest::newRow("upgrade from a FIFO") << "upgrade"
                                         << "fifo"
                                         << "Could not read the firmware file: f: " + fifo;
    QTest::newRow("upgrade from a huge file")
        << "upgrade"
        << "huge"
        << "Could not read the firmware file: f: File too large: 300000000 bytes, at most 16384";
  }
  void fileMenusRefuseFilesThatAreNotPlain() {
    QFETCH(QString, menu);
    QFETCH(QString, kind);
    QFETCH(QString, status);
    threeButtons();
    const QByteArray path = QFile::encodeName(file("f"));
    if (kind == "fifo") QCOMPARE(mkfifo(path.constData(), 0600), 0);
    if (kind == "folder") QVERIFY(QDir().mkpath(file("f")));
    if (kind == "huge") {
      QFile f(file("f"));
      QVERIFY(f.open(QIODevice::WriteOnly) && f.resize(300000000));  // sparse
    }
    const std::vector<uint8_t> before = h->rig->Image();
    h->chosenFiles << file("f");
    QElapsedTimer took;
    took.start();
    if (menu == "load") h->window->menuLoadConfig();
    if (menu == "import") triggerFile("Import Button Map...");
    if (menu == "upgrade") h->window->menuUploadFirmware();
    QVERIFY(took.elapsed() < 1000);
    QVERIFY(!h->window->isUpgrading());
    QCOMPARE(h->status(), status);
    QCOMPARE(h->rig->Image(), before);
    QCOMPARE(h->bootloaderRequests(), 0);
  }

  // Cut off part way by an unplug: once the receiver is back, the window
  // offers the configuration from before the write.
  void cutOffWriteIsOfferedBack_data() {
    QTest::addColumn<QString>("answer");
    QTest::newRow("restore") << "Restore";
    QTest::newRow("not now") << "Not now";
  }
  void cutOffWriteIsOfferedBack() {
    QFETCH(QString, answer);
    threeButtons();
    const std::vector<uint8_t> before = h->rig->Image();
    // Five buttons over three: the unplug comes among the writes.
    write("five.zcfg", QByteArray::fromHex("0023030000"
                                           "b1000000000a"
                                           "b2000000000b"
                                           "b3000000000c"
                                           "b4000000000d"
                                           "b5000000000e"));
    h->chosenFiles << file("five.zcfg");
    h->rig->DisconnectAt(25);
    h->window->menuLoadConfig();
    QVERIFY(h->awaitJob());
    QCOMPARE(h->status(), QString("Could not restore file"));
    h->poll();
    QVERIFY(!h->window->isConnected());
    QVERIFY(h->asked.isEmpty());  // not while it is away

    h->rig->receiver().plug();
    h->answers << answer;
    QVERIFY(pollUntilConnected());
    QCOMPARE(h->asked.size(), 1);
    QCOMPARE(h->asked[0].text, QString("The last change to zirko was cut off"));
    QVERIFY(h->asked[0].informativeText.contains("'loadconfig five.zcfg' did not finish"));
    QVERIFY(h->awaitJob());
    if (answer == "Restore") {
      QCOMPARE(h->rig->Image(), before);
      QCOMPARE(int(h->session()->buttons().size()), 3);
    } else {
      QVERIFY(h->rig->Image() != before);
    }
    h->poll();
    QCOMPARE(h->asked.size(), 1);  // offered once
  }

  // An upgrade whose firmware comes up without the buttons is caught: the
  // window offers the configuration kept before the switch, once.
  void upgradeThatLosesTheButtonsOffersThemBack() {
    threeButtons();
    const std::vector<uint8_t> before = h->rig->Image();
    const auto image = zk::virt::make_image({{3, 8, {12, 1, 26}}, 0, 0x38383838}, 4 * 128);
    write("same.bin", QByteArray(reinterpret_cast<const char *>(image.data()), int(image.size())));
    h->chosenFiles << file("same.bin");
    h->answers << "Restore";
    // The buttons are wiped while the receiver sits in its bootloader, which
    // its slow EEPROM writes (the upgrade flag) keep it in for a while.
    h->rig->receiver().edit([](zk::virt::ReceiverState &s) { s.eeprom_write_ms = 30; });
    std::atomic<bool> wiped{false}, done{false};
    std::thread wiper([&] {
      while (!wiped && !done) {
        if (h->rig->receiver().snapshot().mode == zk::virt::Mode::kBootloader) {
          h->rig->SetEeprom(1, 5);
          wiped = true;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(100));
      }
    });
    h->window->menuUploadFirmware();
    const bool ended = h->awaitUpgrade();
    done = true;
    wiper.join();
    QVERIFY(ended);
    QVERIFY(wiped);
    h->rig->receiver().edit([](zk::virt::ReceiverState &s) { s.eeprom_write_ms = 0; });
    h->poll();
    QVERIFY(h->awaitJob());
    QStringList texts;
    for (const Question &q : std::as_const(h->asked)) texts << q.text;
    QCOMPARE(texts.count("The upgrade lost or changed zirko's configuration"), 1);
    QCOMPARE(h->rig->Image(), before);
    QCOMPARE(int(h->session()->buttons().size()), 3);
  }

  // When the history cannot be written the window asks, and Cancel leaves
  // the receiver untouched.
  void unkeptConfigurationAsksFirst_data() {
    QTest::addColumn<QString>("which");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("changed");
    QTest::newRow("clear, cancelled") << "clear"
                                      << "Cancel" << false;
    QTest::newRow("clear anyway") << "clear"
                                  << "Change anyway" << true;
    QTest::newRow("forget, cancelled") << "forget"
                                       << "Cancel" << false;
    QTest::newRow("import anyway") << "import"
                                   << "Change anyway" << true;
    QTest::newRow("record, cancelled") << "record"
                                       << "Cancel" << false;
    QTest::newRow("setting, cancelled") << "setting"
                                        << "Cancel" << false;
  }
  void unkeptConfigurationAsksFirst() {
    QFETCH(QString, which);
    QFETCH(QString, answer);
    QFETCH(bool, changed);
    threeButtons();
    write("blocker", "a file where the history folder should be");
    qputenv("XDG_STATE_HOME", QFile::encodeName(file("blocker")));
    const std::vector<uint8_t> before = h->rig->Image();
    change(which, {answer});
    QVERIFY(h->answers.isEmpty());
    QList<Question> unkept;
    for (const Question &q : std::as_const(h->asked))
      if (q.text == "The configuration could not be kept in the history") unkept << q;
    QCOMPARE(unkept.size(), 1);
    QVERIFY2(unkept[0].informativeText.contains("blocker"), qPrintable(unkept[0].informativeText));
    QCOMPARE(unkept[0].defaultButton, QString("Cancel"));
    QCOMPARE(h->rig->Image() != before, changed);
    QCOMPARE(h->window->currentOperation(), int(MainWindow::kIdle));
    // A refused setting shows what the receiver still has.
    if (which == "setting")
      QVERIFY(!h->window->advancedWindow()->findChild<QCheckBox *>("noiseBox")->isChecked());
  }
};

QTEST_MAIN(HistoryWindowTest)
#include "history_window_test.moc"
