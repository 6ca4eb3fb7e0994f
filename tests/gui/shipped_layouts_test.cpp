#include <QSvgRenderer>
#include <QtTest>

#include "layout_fixture.h"

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
