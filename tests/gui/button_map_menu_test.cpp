// File → Export Button Map… and Import Button Map… on the virtual receiver.
#include <QAction>
#include <QMenu>
#include <QTemporaryDir>
#include <QtTest>

#include "window_harness.h"

class ButtonMapMenuTest : public QObject {
  Q_OBJECT

  std::unique_ptr<WindowHarness> h;
  QTemporaryDir dir;

  void trigger(const QString &text) {
    for (QAction *action : h->window->widgets().menuFile->actions()) {
      if (action->text() == text) {
        action->trigger();
        return;
      }
    }
    QFAIL(qPrintable("no File entry " + text));
  }
  void writeMap(const QString &name, const QByteArray &text) {
    QFile file(dir.filePath(name));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
  }

 private slots:
  void init() {
    h = std::make_unique<WindowHarness>();
    h->rig->AddEntry(0xA1, 0, 0x04);     // a
    h->rig->AddEntry(0xA2, 0x01, 0x28);  // control with return
    h->rig->AddEntry(0xA3, 0x05, 0x66);  // a raw consumer usage
    h->poll();
    QVERIFY(h->window->isConnected());
  }
  void cleanup() { h.reset(); }

  void exportClearImportBringsTheButtonsBack() {
    const auto before = h->rig->Entries();
    h->chosenFiles << dir.filePath("remote.zmap");
    trigger("Export Button Map...");
    QCOMPARE(h->status(), QString("Exported 3 buttons"));
    QCOMPARE(h->fileRequests.last().filter, QString("Zirko Button Map (*.zmap)"));

    h->answers << "OK";
    h->window->menuFormatDevice();
    QVERIFY(h->awaitJob());
    QVERIFY(h->rig->Entries().empty());

    h->chosenFiles << dir.filePath("remote.zmap");
    h->answers << "Replace";
    trigger("Import Button Map...");
    QCOMPARE(h->asked.last().buttons, (QStringList{"Replace", "Merge", "Cancel"}));
    QCOMPARE(h->status(), QString("Button map imported"));
    QCOMPARE(h->rig->Entries(), before);
  }

  // The same checks and messages as zirko_util import.
  void mapWithABadLineIsRefusedWhole() {
    writeMap("bad.zmap", "000000A4 b\n000000A5 left_ctrl retrun\n");
    h->chosenFiles << dir.filePath("bad.zmap");
    trigger("Import Button Map...");
    QCOMPARE(h->asked.size(), 1);
    QCOMPARE(h->asked[0].text, QString("bad.zmap was not imported; the receiver was not changed"));
    QCOMPARE(h->asked[0].detailedText, QString("bad.zmap:2: unknown key name: 'retrun'"));
    QCOMPARE(h->status(), QString("Button map not imported"));
    QCOMPARE(h->rig->ImageSize(), 5 + 3 * 6);
  }

  void mergeKeepsTheReceiversKeysAndSaysSo() {
    writeMap("more.zmap", "000000A1 b\n000000A6 F5\n");
    h->chosenFiles << dir.filePath("more.zmap");
    h->answers << "Merge";
    trigger("Import Button Map...");
    QCOMPARE(h->status(), QString("Button map imported"));
    QCOMPARE(h->asked.last().detailedText, QString("kept 000000A1 as a (the map has b)"));
    QCOMPARE(h->rig->Entries().back(), (std::pair<int, int>{0, 0x3E}));
    QCOMPARE(h->rig->Entries().front(), (std::pair<int, int>{0, 0x04}));
  }
};

QTEST_MAIN(ButtonMapMenuTest)
#include "button_map_menu_test.moc"
