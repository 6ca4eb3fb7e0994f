#include <QSvgRenderer>
#include <QtTest>
#include <map>
#include <set>

#include "graphicskey.h"
#include "layout_fixture.h"
#include "window_harness.h"

namespace {

// Keys that record the same key on purpose: one toggle for play and pause,
// and two names for the remote's one Enter.
const std::set<std::tuple<QString, QString, QString>> kMeantAlike = {
    {"Boxee", "pause", "play"},
    {"Kodi", "pause", "play"},
    {"WMCE", "pause", "play"},
    {"WMCE", "enter", "okay"},
};

}  // namespace

// Checks the layout file against the artwork it names; fails until every
// picture is in gui/resources/images/.
class ShippedLayoutsTest : public QObject {
  Q_OBJECT

  Layouts layouts;

 private slots:
  void initTestCase() { layouts.parseShipped(); }

  void allNineLoadInOrderWithoutMessages() {
    QVERIFY(layouts.parsed);
    QCOMPARE(layouts.messages, QString());
    struct Expected {
      const char *name, *menu;
      bool sequenced;
      int keys;
    };
    const Expected expected[] = {
        {"Minimalist", "Minimalist", true, 6},
        {"Windows_us101", "Full Keyboard", false, 87},
        {"Mac_us101", "Full Keyboard", false, 87},
        {"Boxee", "Boxee", false, 30},
        {"Kodi", "Kodi", false, 33},
        {"WMCE", "Windows Media", false, 40},
        {"MediaKeys", "Media Keys", false, 10},
        {"Vistro", "Vistro", true, 11},
        {"XB0X", "XBOX 360", true, 40},
    };
    QCOMPARE(layouts.list.size(), int(std::size(expected)));
    for (int i = 0; i < layouts.list.size(); ++i) {
      const GraphicsKeyboard *layout = layouts.list[i];
      QCOMPARE(layout->getName(), QString::fromLatin1(expected[i].name));
      QCOMPARE(layout->getMenu(), QString::fromLatin1(expected[i].menu));
      QCOMPARE(layout->getSequenced(), expected[i].sequenced);
      QCOMPARE(layout->getKeys().size(), expected[i].keys);
    }
  }

  void everyPictureHasItsElements() {
    for (const GraphicsKeyboard *layout : layouts.list) {
      QSvgRenderer *renderer = layout->getRenderer();
      QVERIFY2(layout->hasPicture(), qPrintable(layout->getName()));
      QVERIFY2(renderer->elementExists("background"), qPrintable(layout->getName()));
      for (const GraphicsKey *key : layout->getKeys()) {
        const QString where = layout->getName() + "/" + key->getName();
        QVERIFY2(renderer->elementExists(key->getHighlight()), qPrintable(where + " highlight"));
        QVERIFY2(renderer->elementExists(key->getDark()), qPrintable(where + " dark"));
      }
    }
  }

  // Two keys that record the same usage cannot be told apart by the
  // receiver: a mistake in the data, unless meant, or the same button
  // drawn twice.
  void everyLayoutGivesDistinctUsages() {
    for (const GraphicsKeyboard *layout : layouts.list) {
      std::map<std::pair<int, int>, const GraphicsKey *> byUsage;
      for (const GraphicsKey *key : layout->getKeys()) {
        const auto [it, fresh] = byUsage.emplace(std::pair(key->getUsb(), key->getModifier()), key);
        if (fresh || it->second->getDark() == key->getDark()) continue;
        const QString first = std::min(it->second->getName(), key->getName());
        const QString second = std::max(it->second->getName(), key->getName());
        QVERIFY2(kMeantAlike.count({layout->getName(), first, second}),
                 qPrintable(layout->getName() + ": " + first + " and " + second +
                            " record the same key"));
      }
    }
    const GraphicsKeyboard *xbox = layouts.list.last();
    QCOMPARE(xbox->getName(), QString("XB0X"));
    const GraphicsKey *a = xbox->getKeys().at(21);
    QCOMPARE(a->getName(), QString("a"));
    QCOMPARE(a->getUsb(), 0x04);
    QCOMPARE(a->getModifier(), 0);
  }

  // Go records every key of a sequenced layout in its order, one remote
  // button each, and ends with the last.
  void everySequencedLayoutRunsGo_data() {
    QTest::addColumn<QString>("name");
    for (const GraphicsKeyboard *layout : layouts.list)
      if (layout->getSequenced()) QTest::newRow(qPrintable(layout->getName())) << layout->getName();
  }
  void everySequencedLayoutRunsGo() {
    QFETCH(QString, name);
    WindowHarness h;
    h.poll();
    QVERIFY(h.window->selectKeyboard(name));
    std::map<int, std::pair<int, int>> wanted;  // by sequence number
    for (const GraphicsKey *key : h.window->shownKeyboard()->getKeys())
      if (key->getSequence() > 0) wanted[key->getSequence()] = {key->getModifier(), key->getUsb()};
    QVERIFY(!wanted.empty());
    h.window->on_go_clicked();
    uint32_t button = 0xC0DE0000;
    while (h.window->currentOperation() == MainWindow::kAutomatedRun) {
      h.rig->Press(++button);
      h.poll();
      QCOMPARE(h.status(), QString("Recorded successfully"));
      h.window->delayTimerTop();
      QVERIFY(int(button - 0xC0DE0000) <= int(wanted.size()));
    }
    QCOMPARE(h.status(), QString("Congratulations, you're all done!"));
    std::vector<std::pair<int, int>> inOrder;
    for (const auto &[sequence, usage] : wanted) inOrder.push_back(usage);
    QCOMPARE(h.rig->Entries(), inOrder);
  }

  void noTwoKeysOverlap() {
    // Strokes of neighbouring keys may touch; only a real overlap counts.
    static constexpr qreal kToleranceUnits = 1.0;
    for (const GraphicsKeyboard *layout : layouts.list) {
      const QList<GraphicsKey *> &keys = layout->getKeys();
      for (int i = 0; i < keys.size(); ++i) {
        const QRectF mine = GraphicsKey::elementRect(layout->getRenderer(), keys[i]->getDark());
        QVERIFY2(!mine.isEmpty(), qPrintable(layout->getName() + "/" + keys[i]->getName()));
        for (int j = i + 1; j < keys.size(); ++j) {
          // The same element listed twice (the second guide button) is one key.
          if (keys[j]->getDark() == keys[i]->getDark()) continue;
          const QRectF overlap =
              mine & GraphicsKey::elementRect(layout->getRenderer(), keys[j]->getDark());
          QVERIFY2(overlap.width() <= kToleranceUnits || overlap.height() <= kToleranceUnits,
                   qPrintable(layout->getName() + ": " + keys[i]->getName() + " overlaps " +
                              keys[j]->getName()));
        }
      }
    }
  }
};

QTEST_MAIN(ShippedLayoutsTest)
#include "shipped_layouts_test.moc"
