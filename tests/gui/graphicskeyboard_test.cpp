#include <QGraphicsScene>
#include <QGraphicsSceneHoverEvent>
#include <QGraphicsSceneMouseEvent>
#include <QtTest>
#include <memory>

#include "layout_fixture.h"

namespace {

struct Click {
  GraphicsKey *key;
  QList<GraphicsKey *> modifiers;
  bool autoclicked;
};

// The modifier byte a recording made from a click stores: the key's own byte
// and the bits of every held modifier key.
int modifierByte(const Click &click) {
  int bits = click.key->getModifier();
  for (GraphicsKey *held : click.modifiers) bits |= held->getModifier();
  return bits;
}

}  // namespace

class GraphicsKeyboardTest : public QObject {
  Q_OBJECT

  std::unique_ptr<GraphicsKeyboard> layout;
  std::unique_ptr<QGraphicsScene> scene;
  QList<Click> clicks;

  GraphicsKey *key(const QString &name) { return findKey(layout.get(), name); }
  void watch(GraphicsKeyboard *l) {
    connect(l, &GraphicsKeyboard::clicked, this,
            [this](GraphicsKey *gk, QList<GraphicsKey *> modifiers, bool autoclicked) {
              clicks.append({gk, modifiers, autoclicked});
            });
  }
  void press(const QString &name) {
    QGraphicsSceneMouseEvent event(QEvent::GraphicsSceneMousePress);
    event.setButton(Qt::LeftButton);
    scene->sendEvent(key(name), &event);
  }
  void hover(const QString &name, QEvent::Type type) {
    QGraphicsSceneHoverEvent event(type);
    scene->sendEvent(key(name), &event);
  }

 private slots:
  void init() {
    layout =
        std::make_unique<GraphicsKeyboard>(ZIRKO_GUI_TEST_DATA "/keys.svg", "Test", "Menu", false);
    layout->addKey("lshift", "left shift", "lshift_h", "lshift_g", true, 0x00, 0x02, 0);
    layout->addKey("rshift", "right shift", "rshift_h", "rshift_g", true, 0x00, 0x20, 0);
    layout->addKey("a", "a", "a_h", "a_g", false, 0x04, 0, 0);
    layout->addKey("b", "b", "b_h", "b_g", false, 0x05, 0, 0);
    layout->addKey("c", "c", "c_h", "c_g", false, 0x06, 0x01, 0);
    scene = std::make_unique<QGraphicsScene>();
    scene->addItem(layout.get());
    clicks.clear();
    watch(layout.get());
  }
  void cleanup() {
    scene->removeItem(layout.get());
    scene.reset();
    layout.reset();
  }

  void keysLandOnTheirDarkElementThroughTransforms() {
    QVERIFY(layout->hasPicture());
    QCOMPARE(key("lshift")->pos(), QPointF(10, 10));
    QCOMPARE(key("a")->pos(), QPointF(110, 70));   // inside a moved group
    QCOMPARE(key("b")->pos(), QPointF(210, 10));   // element's own transform
    QCOMPARE(key("c")->pos(), QPointF(300, 100));  // the element is a moved group
    QCOMPARE(key("c")->boundingRect().size(), QSizeF(30, 10));
    QCOMPARE(layout->boundingRect(), QRectF(0, 0, 400, 200));
  }

  void hoverLightsOnlyWhileOverAndNeverDarkensALitKey() {
    hover("a", QEvent::GraphicsSceneHoverEnter);
    QCOMPARE(key("a")->elementId(), QStringLiteral("a_h"));
    hover("a", QEvent::GraphicsSceneHoverLeave);
    QCOMPARE(key("a")->elementId(), QStringLiteral("a_g"));
    key("a")->setHighlighted(true);
    hover("a", QEvent::GraphicsSceneHoverEnter);
    hover("a", QEvent::GraphicsSceneHoverLeave);
    QCOMPARE(key("a")->elementId(), QStringLiteral("a_h"));
  }

  void heldModifierTravelsWithTheClick() {
    press("lshift");
    QVERIFY(clicks.isEmpty());  // modifiers only latch
    press("a");
    QCOMPARE(clicks.size(), 1);
    QCOMPARE(clicks[0].key, key("a"));
    QVERIFY(!clicks[0].autoclicked);
    QCOMPARE(clicks[0].modifiers, QList<GraphicsKey *>{key("lshift")});
    QCOMPARE(clicks[0].key->getUsb(), 0x04);
    QCOMPARE(modifierByte(clicks[0]), 0x02);

    press("a");  // deselects
    press("rshift");
    press("c");  // carries 0x01 itself
    QCOMPARE(modifierByte(clicks.last()), 0x01 | 0x02 | 0x20);

    key("b")->setClickable(false);
    press("b");
    QCOMPARE(clicks.size(), 3);
  }

  void modifierClickedTwiceIsReleased() {
    press("lshift");
    press("lshift");
    press("a");
    QVERIFY(!key("lshift")->getHighlighted());
    QVERIFY(clicks[0].modifiers.isEmpty());
  }

  void secondClickClearsTheSelection() {
    press("a");
    QCOMPARE(layout->getSelectedKey(), key("a"));
    QVERIFY(key("a")->getHighlighted());
    press("b");
    QCOMPARE(clicks.size(), 2);
    QCOMPARE(clicks[1].key, key("b"));
    QCOMPARE(layout->getSelectedKey(), nullptr);
    QVERIFY(!key("b")->getHighlighted());
    QVERIFY(!key("a")->getHighlighted());  // no lit key without a selection
  }

  void blinkingTogglesSelectionAndHeldModifiers() {
    press("lshift");
    press("a");
    layout->blinkSelection();
    QVERIFY(!key("a")->getHighlighted());
    QVERIFY(!key("lshift")->getHighlighted());
    layout->blinkSelection();
    QVERIFY(key("a")->getHighlighted());
    QVERIFY(key("lshift")->getHighlighted());
    QVERIFY(!key("b")->getHighlighted());

    // A held modifier clicked in its dark phase is released, not held twice.
    layout->blinkSelection();
    press("lshift");
    QVERIFY(layout->getHeldModifiers().isEmpty());
    QVERIFY(!key("lshift")->getHighlighted());
  }

  void previewAndClearingKeepHeldModifiersLit() {
    press("lshift");
    press("a");
    QVERIFY(layout->highlightForKeyEvent(Qt::Key_A, Qt::ShiftModifier));
    QVERIFY(layout->highlightForKeyEvent(Qt::Key_B, Qt::NoModifier));
    QVERIFY(key("a")->getHighlighted());  // still selected
    layout->clearSelection();
    QVERIFY(!key("a")->getHighlighted());
    QVERIFY(!key("b")->getHighlighted());
    QVERIFY(key("lshift")->getHighlighted());  // still held
    layout->clearHeldModifiers();
    for (GraphicsKey *k : layout->getKeys()) QVERIFY(!k->getHighlighted());
  }

  void keyEventMatchesAKeyCarryingTheModifierByte() {
    QVERIFY(layout->highlightForKeyEvent(Qt::Key_C, Qt::ControlModifier));
    QCOMPARE(layout->getPreviewKeys(), QList<GraphicsKey *>{key("c")});
    QVERIFY(!layout->highlightForKeyEvent(Qt::Key_C, Qt::MetaModifier));
    QVERIFY(!key("c")->getHighlighted());
    QVERIFY(clicks.isEmpty());
  }

  void unnumberedSequencedLayoutHasNoFirstKey() {
    GraphicsKeyboard sequenced(ZIRKO_GUI_TEST_DATA "/keys.svg", "Seq", "Seq", true);
    watch(&sequenced);
    sequenced.addKey("a", "a", "a_h", "a_g", false, 0x04, 0, 0);
    QVERIFY(!sequenced.selectNextSequenced());
    QVERIFY(clicks.isEmpty());
    QCOMPARE(sequenced.getSelectedKey(), nullptr);
  }

  void vistroStepsBySequenceNumberNotFileOrder() {
    Layouts layouts;
    layouts.parseShipped();
    GraphicsKeyboard *vistro = layouts.layout("Vistro");
    QVERIFY(vistro != nullptr);
    watch(vistro);
    while (vistro->selectNextSequenced()) QVERIFY(clicks.size() <= 11);
    QStringList visited;
    for (const Click &c : clicks) {
      visited << c.key->getName();
      QVERIFY(c.autoclicked);
    }
    QCOMPARE(visited, QStringList({"up", "left", "down", "right", "enter", "return", "home", "info",
                                   "rewind", "play", "ff"}));
    QCOMPARE(vistro->getSelectedKey()->getName(), QStringLiteral("ff"));
    for (GraphicsKey *k : vistro->getKeys()) QCOMPARE(k->getHighlighted(), k->getName() == "ff");
  }

  void keyEventsOnTheShippedLayouts() {
    Layouts layouts;
    layouts.parseShipped();
    GraphicsKeyboard *full = layouts.layout("Windows_us101");
    QVERIFY(full != nullptr);
    QVERIFY(full->highlightForKeyEvent(Qt::Key_A, Qt::ShiftModifier));
    QCOMPARE(full->getPreviewKeys(),
             (QList<GraphicsKey *>{findKey(full, "lshift"), findKey(full, "a")}));
    // Unknown or unmapped codes leave the last preview alone.
    for (int code : {0, int(Qt::Key_unknown), int(Qt::Key_Menu)})
      QVERIFY(!full->highlightForKeyEvent(code, Qt::ShiftModifier));
    QCOMPARE(full->getPreviewKeys().size(), 2);
    QCOMPARE(full->getKeyMap().size(), 104);

    GraphicsKeyboard *wmce = layouts.layout("WMCE");  // no modifier keys
    QVERIFY(wmce->highlightForKeyEvent(Qt::Key_R, Qt::ControlModifier));
    QCOMPARE(wmce->getPreviewKeys(), QList<GraphicsKey *>{findKey(wmce, "record")});
    QVERIFY(!wmce->highlightForKeyEvent(Qt::Key_A, Qt::ShiftModifier));
    QVERIFY(wmce->getPreviewKeys().isEmpty());
  }

  // The focus moves in reading order with Tab and to the nearest key in a
  // direction with the arrows, never off the picture. On the test picture:
  // lshift (30,20), b (220,20), a (120,80), c (315,105), rshift (30,160).
  void focusMovesAcrossTheKeys_data() {
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("move");
    QTest::addColumn<QString>("to");
    QTest::addColumn<bool>("moved");
    QTest::newRow("tab with none") << ""
                                   << "next"
                                   << "lshift" << true;
    QTest::newRow("shift+tab with none") << ""
                                         << "previous"
                                         << "rshift" << true;
    QTest::newRow("tab along a row") << "lshift"
                                     << "next"
                                     << "b" << true;
    QTest::newRow("tab to the next row") << "b"
                                         << "next"
                                         << "a" << true;
    QTest::newRow("tab past the last") << "rshift"
                                       << "next"
                                       << "rshift" << false;
    QTest::newRow("shift+tab before the first") << "lshift"
                                                << "previous"
                                                << "lshift" << false;
    QTest::newRow("right stays in its row") << "lshift"
                                            << "right"
                                            << "b" << true;
    QTest::newRow("down stays in its column") << "lshift"
                                              << "down"
                                              << "rshift" << true;
    QTest::newRow("down to the nearest below") << "b"
                                               << "down"
                                               << "a" << true;
    QTest::newRow("left from the far side") << "c"
                                            << "left"
                                            << "a" << true;
    QTest::newRow("up from the top row") << "lshift"
                                         << "up"
                                         << "lshift" << false;
    QTest::newRow("right from the right edge") << "c"
                                               << "right"
                                               << "c" << false;
    QTest::newRow("arrow with none") << ""
                                     << "left"
                                     << "lshift" << true;
  }
  void focusMovesAcrossTheKeys() {
    QFETCH(QString, from);
    QFETCH(QString, move);
    QFETCH(QString, to);
    QFETCH(bool, moved);
    using Direction = GraphicsKeyboard::Direction;
    layout->setFocusShown(true);
    layout->setFocusedKey(from.isEmpty() ? nullptr : key(from));
    QList<GraphicsKey *> told;
    connect(layout.get(), &GraphicsKeyboard::focusMoved, this,
            [&told](GraphicsKey *k) { told << k; });
    const QHash<QString, Direction> directions = {{"left", Direction::kLeft},
                                                  {"right", Direction::kRight},
                                                  {"up", Direction::kUp},
                                                  {"down", Direction::kDown}};
    const bool result = move == "next"       ? layout->focusNext(true)
                        : move == "previous" ? layout->focusNext(false)
                                             : layout->focusToward(directions.value(move));
    QCOMPARE(result, moved);
    QCOMPARE(layout->getFocusedKey(), key(to));
    QCOMPARE(told, moved ? QList<GraphicsKey *>{key(to)} : QList<GraphicsKey *>{});
    // One ring, on the focused key.
    for (GraphicsKey *k : layout->getKeys()) QCOMPARE(k->hasFocusRing(), k == key(to));
    // Moving the focus never selects or clicks.
    QVERIFY(clicks.isEmpty());
    QCOMPARE(layout->getSelectedKey(), nullptr);
  }

  // The ring shows only while the picture has the focus; a key of another
  // layout is refused.
  void focusRingFollowsTheShownFocus() {
    layout->setFocusedKey(key("a"));
    QVERIFY(!key("a")->hasFocusRing());
    layout->setFocusShown(true);
    QVERIFY(key("a")->hasFocusRing());
    GraphicsKeyboard other(ZIRKO_GUI_TEST_DATA "/keys.svg", "Other", "Other", false);
    other.addKey("a", "a", "a_h", "a_g", false, 0x04, 0, 0);
    layout->setFocusedKey(other.getKeys().first());
    QCOMPARE(layout->getFocusedKey(), key("a"));
    layout->setFocusShown(false);
    QVERIFY(!key("a")->hasFocusRing());
  }
};

QTEST_MAIN(GraphicsKeyboardTest)
#include "graphicskeyboard_test.moc"
