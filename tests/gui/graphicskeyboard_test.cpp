#include "graphicskeyboard.h"

#include <QGraphicsScene>
#include <QGraphicsSceneHoverEvent>
#include <QGraphicsSceneMouseEvent>
#include <QSvgRenderer>
#include <QtTest>
#include <memory>

#include "layout_fixture.h"

namespace {

struct Click {
  GraphicsKey *key;
  QList<GraphicsKey *> modifiers;
  bool autoclicked;
};

// The pair a recording made from a click stores: the key's usage with its own
// modifier byte and the bits of every held modifier key.
int modifierByte(const Click &click) {
  int bits = click.key->getModifier();
  for (GraphicsKey *held : click.modifiers) bits |= held->getModifier();
  return bits;
}

}  // namespace

class GraphicsKeyboardTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<GraphicsKeyboard> layout;
  QGraphicsScene *scene = nullptr;
  QList<Click> clicks;

  GraphicsKey *key(const QString &name) { return findKey(layout.get(), name); }
  void watch(GraphicsKeyboard *l) {
    connect(l, &GraphicsKeyboard::clicked, this,
            [this](GraphicsKey *gk, QList<GraphicsKey *> modifiers, bool autoclicked) {
              clicks.append({gk, modifiers, autoclicked});
            });
  }
  void press(GraphicsKey *k) {
    QGraphicsSceneMouseEvent event(QEvent::GraphicsSceneMousePress);
    event.setButton(Qt::LeftButton);
    scene->sendEvent(k, &event);
  }

 private slots:
  void init() {
    layout = std::make_unique<GraphicsKeyboard>(QStringLiteral(ZIRKO_GUI_TEST_DATA "/keys.svg"),
                                                QStringLiteral("Test"), QStringLiteral("Test menu"),
                                                false);
    layout->addKey("lshift", "left shift", "lshift_h", "lshift_g", true, 0x00, 0x02, 0);
    layout->addKey("rshift", "right shift", "rshift_h", "rshift_g", true, 0x00, 0x20, 0);
    layout->addKey("a", "a", "a_h", "a_g", false, 0x04, 0, 0);
    layout->addKey("b", "b", "b_h", "b_g", false, 0x05, 0, 0);
    layout->addKey("c", "c", "c_h", "c_g", false, 0x06, 0x01, 0);
    scene = new QGraphicsScene(this);
    scene->addItem(layout.get());
    clicks.clear();
    watch(layout.get());
  }
  void cleanup() {
    scene->removeItem(layout.get());
    delete scene;
    layout.reset();
  }

  void keysLandOnTheirDarkElementThroughTransforms() {
    QVERIFY(layout->hasPicture());
    QCOMPARE(key("lshift")->pos(), QPointF(10, 10));
    QCOMPARE(key("a")->pos(), QPointF(110, 70));   // inside a moved group
    QCOMPARE(key("b")->pos(), QPointF(210, 10));   // element's own transform
    QCOMPARE(key("c")->pos(), QPointF(300, 100));  // the element is a moved group
    QCOMPARE(key("c")->boundingRect().size(), QSizeF(30, 10));
    QCOMPARE(key("a")->elementId(), QStringLiteral("a_g"));
    QCOMPARE(key("a")->toolTip(), QStringLiteral("a"));
    QCOMPARE(layout->boundingRect(), QRectF(0, 0, 400, 200));
    for (GraphicsKey *k : layout->getKeys()) QCOMPARE(k->renderer(), layout->getRenderer());
  }

  void hoverLightsOnlyWhileOverAndNeverDarkensALitKey() {
    GraphicsKey *a = key("a");
    QGraphicsSceneHoverEvent enter(QEvent::GraphicsSceneHoverEnter);
    QGraphicsSceneHoverEvent leave(QEvent::GraphicsSceneHoverLeave);
    scene->sendEvent(a, &enter);
    QCOMPARE(a->elementId(), QStringLiteral("a_h"));
    QVERIFY(!a->getHighlighted());
    scene->sendEvent(a, &leave);
    QCOMPARE(a->elementId(), QStringLiteral("a_g"));

    a->setHighlighted(true);
    scene->sendEvent(a, &enter);
    scene->sendEvent(a, &leave);
    QCOMPARE(a->elementId(), QStringLiteral("a_h"));
  }

  void mouseClicksReachTheLayoutOnlyForClickableKeys() {
    press(key("a"));
    QCOMPARE(clicks.size(), 1);
    QCOMPARE(clicks[0].key, key("a"));
    QVERIFY(!clicks[0].autoclicked);
    QCOMPARE(layout->getSelectedKey(), key("a"));

    key("b")->setClickable(false);
    press(key("b"));
    QCOMPARE(clicks.size(), 1);
    QCOMPARE(layout->getSelectedKey(), key("a"));
  }

  void heldModifierTravelsWithTheClickAndLatchesOff() {
    press(key("lshift"));
    QVERIFY(clicks.isEmpty());  // modifiers only latch
    QVERIFY(key("lshift")->getHighlighted());
    press(key("a"));
    QCOMPARE(clicks.size(), 1);
    QCOMPARE(clicks[0].modifiers, QList<GraphicsKey *>{key("lshift")});
    QCOMPARE(clicks[0].key->getUsb(), 0x04);
    QCOMPARE(modifierByte(clicks[0]), 0x02);

    // A key's own modifier byte joins the held bits.
    press(key("a"));
    press(key("rshift"));
    press(key("c"));
    QCOMPARE(modifierByte(clicks.last()), 0x01 | 0x02 | 0x20);
    QCOMPARE(clicks.last().modifiers, (QList<GraphicsKey *>{key("lshift"), key("rshift")}));
  }

  void modifierClickedTwiceIsReleased() {
    press(key("lshift"));
    press(key("lshift"));
    press(key("a"));
    QVERIFY(!key("lshift")->getHighlighted());
    QCOMPARE(clicks.size(), 1);
    QVERIFY(clicks[0].modifiers.isEmpty());
    QCOMPARE(modifierByte(clicks[0]), 0);
  }

  void secondClickClearsTheSelection() {
    press(key("a"));
    QVERIFY(key("a")->getHighlighted());
    press(key("b"));
    QCOMPARE(clicks.size(), 2);
    QCOMPARE(clicks[1].key, key("b"));
    QCOMPARE(layout->getSelectedKey(), nullptr);
    QVERIFY(!key("b")->getHighlighted());
    // The earlier selection must not stay lit without being selected.
    QVERIFY(!key("a")->getHighlighted());

    press(key("a"));
    press(key("a"));
    QCOMPARE(layout->getSelectedKey(), nullptr);
    QVERIFY(!key("a")->getHighlighted());
  }

  void blinkingTogglesSelectionAndHeldModifiers() {
    press(key("lshift"));
    press(key("a"));
    layout->blinkSelection();
    QVERIFY(!key("a")->getHighlighted());
    QVERIFY(!key("lshift")->getHighlighted());
    QVERIFY(!key("b")->getHighlighted());
    layout->blinkSelection();
    QVERIFY(key("a")->getHighlighted());
    QVERIFY(key("lshift")->getHighlighted());

    // Clicking a held modifier in its dark blink phase still releases it.
    layout->blinkSelection();
    press(key("lshift"));
    QVERIFY(layout->getHeldModifiers().isEmpty());
    QVERIFY(!key("lshift")->getHighlighted());

    layout->clearSelection();
    layout->clearHeldModifiers();
    for (GraphicsKey *k : layout->getKeys()) QVERIFY(!k->getHighlighted());
    layout->blinkSelection();  // nothing selected or held: nothing lights
    for (GraphicsKey *k : layout->getKeys()) QVERIFY(!k->getHighlighted());
  }

  void clearSelectionKeepsHeldModifiers() {
    press(key("rshift"));
    press(key("b"));
    layout->clearSelection();
    QCOMPARE(layout->getSelectedKey(), nullptr);
    QVERIFY(!key("b")->getHighlighted());
    QVERIFY(key("rshift")->getHighlighted());
    QCOMPARE(layout->getHeldModifiers(), QList<GraphicsKey *>{key("rshift")});
  }

  void unnumberedSequencedLayoutHasNoFirstKey() {
    GraphicsKeyboard sequenced(QStringLiteral(ZIRKO_GUI_TEST_DATA "/keys.svg"), "Seq", "Seq", true);
    watch(&sequenced);
    sequenced.addKey("a", "a", "a_h", "a_g", false, 0x04, 0, 0);
    sequenced.addKey("b", "b", "b_h", "b_g", false, 0x05, 0, 0);
    QVERIFY(!sequenced.selectNextSequenced());
    QVERIFY(clicks.isEmpty());
    QCOMPARE(sequenced.getSelectedKey(), nullptr);
  }

  void keyEventPreviewOnLayoutWithoutThatModifier() {
    // c carries modifier byte 0x01 itself, so Control+C finds it; no key
    // carries 0x08 for Meta+C.
    QVERIFY(layout->highlightForKeyEvent(Qt::Key_C, Qt::ControlModifier));
    QCOMPARE(layout->getPreviewKeys(), QList<GraphicsKey *>{key("c")});
    QVERIFY(!layout->highlightForKeyEvent(Qt::Key_C, Qt::MetaModifier));
    QVERIFY(layout->getPreviewKeys().isEmpty());
    QVERIFY(!key("c")->getHighlighted());
  }

  void previewNeverDarkensHeldOrSelectedKeys() {
    press(key("lshift"));
    press(key("a"));
    QVERIFY(layout->highlightForKeyEvent(Qt::Key_A, Qt::ShiftModifier));
    QVERIFY(layout->highlightForKeyEvent(Qt::Key_B, Qt::NoModifier));
    QVERIFY(key("a")->getHighlighted());  // still selected
    layout->clearSelection();
    QVERIFY(!key("a")->getHighlighted());
    QVERIFY(key("lshift")->getHighlighted());  // still held
    press(key("lshift"));
    QVERIFY(layout->getHeldModifiers().isEmpty());
  }
};

// Behaviour on the shipped layouts (works without their pictures).
class ShippedLayoutBehaviourTest : public QObject {
  Q_OBJECT

 private slots:
  void vistroStepsBySequenceNumberNotFileOrder() {
    Layouts layouts;
    layouts.parseShipped();
    GraphicsKeyboard *vistro = layouts.layout("Vistro");
    QVERIFY(vistro != nullptr);
    QStringList visited;
    bool allAuto = true;
    connect(vistro, &GraphicsKeyboard::clicked, this,
            [&](GraphicsKey *gk, QList<GraphicsKey *>, bool autoclicked) {
              visited << gk->getName();
              allAuto = allAuto && autoclicked;
            });
    while (vistro->selectNextSequenced()) {
      QVERIFY(vistro->getSelectedKey()->getHighlighted());
      QVERIFY(visited.size() <= 11);
    }
    QCOMPARE(visited, QStringList({"up", "left", "down", "right", "enter", "return", "home", "info",
                                   "rewind", "play", "ff"}));
    QVERIFY(allAuto);
    QCOMPARE(vistro->getSelectedKey()->getName(), QStringLiteral("ff"));
    int lit = 0;
    for (GraphicsKey *k : vistro->getKeys()) lit += k->getHighlighted() ? 1 : 0;
    QCOMPARE(lit, 1);
  }

  void shiftAOnTheFullKeyboardLightsLeftShiftAndA() {
    Layouts layouts;
    layouts.parseShipped();
    GraphicsKeyboard *full = layouts.layout("Windows_us101");
    QVERIFY(full != nullptr);
    QSignalSpy spy(full, &GraphicsKeyboard::clicked);
    QVERIFY(full->highlightForKeyEvent(Qt::Key_A, Qt::ShiftModifier));
    QCOMPARE(full->getPreviewKeys(),
             (QList<GraphicsKey *>{findKey(full, "lshift"), findKey(full, "a")}));
    QVERIFY(!findKey(full, "rshift")->getHighlighted());
    QCOMPARE(spy.count(), 0);

    // Unknown or unmapped codes leave the last preview alone.
    for (int code : {0, int(Qt::Key_unknown), int(Qt::Key_Menu)})
      QVERIFY(!full->highlightForKeyEvent(code, Qt::ShiftModifier));
    QCOMPARE(full->getPreviewKeys().size(), 2);

    // Shifted symbols preview the digit key producing them.
    QVERIFY(full->highlightForKeyEvent(Qt::Key_Exclam, Qt::ShiftModifier));
    QCOMPARE(full->getPreviewKeys().last()->getName(), QStringLiteral("1"));
    QVERIFY(!findKey(full, "a")->getHighlighted());
    QVERIFY(full->highlightForKeyEvent(Qt::Key_F13, Qt::NoModifier));
    QCOMPARE(full->getPreviewKeys(), QList<GraphicsKey *>{findKey(full, "f13")});

    full->clearSelection();
    for (GraphicsKey *k : full->getKeys()) QVERIFY(!k->getHighlighted());
    QCOMPARE(full->getKeyMap().size(), 104);
  }

  void keyEventsOnALayoutWithoutModifierKeys() {
    Layouts layouts;
    layouts.parseShipped();
    GraphicsKeyboard *wmce = layouts.layout("WMCE");
    QVERIFY(wmce != nullptr);
    QVERIFY(wmce->highlightForKeyEvent(Qt::Key_R, Qt::ControlModifier));
    QCOMPARE(wmce->getPreviewKeys(), QList<GraphicsKey *>{findKey(wmce, "record")});
    QVERIFY(!wmce->highlightForKeyEvent(Qt::Key_A, Qt::ShiftModifier));
    QVERIFY(wmce->getPreviewKeys().isEmpty());
  }

  void unnumberedShippedLayoutDoesNotStep() {
    Layouts layouts;
    layouts.parseShipped();
    GraphicsKeyboard *xbox = layouts.layout("XB0X");
    QVERIFY(xbox != nullptr);
    QVERIFY(xbox->getSequenced());
    QVERIFY(!xbox->selectNextSequenced());
    QCOMPARE(xbox->getSelectedKey(), nullptr);
  }
};

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  int status = 0;
  {
    GraphicsKeyboardTest test;
    status |= QTest::qExec(&test, argc, argv);
  }
  {
    ShippedLayoutBehaviourTest test;
    status |= QTest::qExec(&test, argc, argv);
  }
  return status;
}

#include "graphicskeyboard_test.moc"
