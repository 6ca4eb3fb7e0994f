#include "keyboardgview.h"

#include <QGraphicsScene>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QtTest>
#include <memory>

#include "graphicskeyboard.h"

namespace {

// The picture without a mouse, on the test picture (reading order lshift,
// b, a, c, rshift): Tab enters at the first key and walks the keys, then
// leaves for the next control; Enter and Space click the focused key; the
// Menu key and Shift+F10 ask for its menu once.
struct Picture {
  QWidget window;
  QGraphicsScene scene;
  KeyboardGView *view = new KeyboardGView(&window);
  QPushButton *after = new QPushButton("after", &window);
  GraphicsKeyboard layout{ZIRKO_GUI_TEST_DATA "/keys.svg", "Test", "Test", false};

  Picture() {
    for (const char *name : {"lshift", "rshift", "a", "b", "c"}) {
      const QString n = name;
      layout.addKey(n, n, n + "_h", n + "_g", n.endsWith("shift"), n == "a" ? 0x04 : 0, 0, 0);
    }
    auto *column = new QVBoxLayout(&window);
    column->addWidget(view);
    column->addWidget(after);
    scene.addItem(&layout);
    view->setScene(&scene);
    view->setKeyboard(&layout);
    window.resize(400, 300);
  }
  ~Picture() {
    view->setKeyboard(nullptr);
    scene.removeItem(&layout);
  }
  QString focused() const {
    return layout.getFocusedKey() ? layout.getFocusedKey()->getName() : QString();
  }
};

}  // namespace

// The picture must not move under the wheel or the arrow and page keys. A
// plain view given the same input scrolls, which shows the input is real.
class KeyboardGViewTest : public QObject {
  Q_OBJECT

  static void scrollAttempts(QGraphicsView &view) {
    QWheelEvent wheel(QPointF(50, 50), view.viewport()->mapToGlobal(QPointF(50, 50)), QPoint(),
                      QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view.viewport(), &wheel);
    for (Qt::Key key : {Qt::Key_Down, Qt::Key_Right, Qt::Key_PageDown}) QTest::keyClick(&view, key);
  }

  static QPoint scrollPosition(const QGraphicsView &view) {
    return {view.horizontalScrollBar()->value(), view.verticalScrollBar()->value()};
  }

 private slots:
  void wheelAndArrowKeysNeverScroll() {
    QGraphicsScene scene(0, 0, 2000, 2000);
    scene.addRect(0, 0, 2000, 2000);

    QGraphicsView plain(&scene);
    plain.resize(200, 200);
    plain.show();
    QVERIFY(QTest::qWaitForWindowExposed(&plain));
    const QPoint plainStart = scrollPosition(plain);
    scrollAttempts(plain);
    QVERIFY(scrollPosition(plain) != plainStart);

    KeyboardGView view;
    view.setScene(&scene);
    view.resize(200, 200);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    const QPoint start = scrollPosition(view);
    scrollAttempts(view);
    QCOMPARE(scrollPosition(view), start);
    for (Qt::Key key : {Qt::Key_Up, Qt::Key_Left, Qt::Key_PageUp}) QTest::keyClick(&view, key);
    QCOMPARE(scrollPosition(view), start);
  }

  void keysWithoutAMouse() {
    Picture p;
    p.window.show();
    QVERIFY(QTest::qWaitForWindowActive(&p.window));
    QList<GraphicsKey *> clicked;
    connect(&p.layout, &GraphicsKeyboard::clicked, this,
            [&clicked](GraphicsKey *k, QList<GraphicsKey *>, bool) { clicked << k; });
    QList<GraphicsKey *> menus;
    connect(p.view, &KeyboardGView::keyMenuRequested, this,
            [&menus](GraphicsKey *k, const QPoint &) { menus << k; });

    p.after->setFocus();
    QTest::keyClick(p.after, Qt::Key_Tab);  // round to the picture
    QCOMPARE(QApplication::focusWidget(), p.view);
    QCOMPARE(p.focused(), QString("lshift"));
    QVERIFY(p.layout.getFocusedKey()->hasFocusRing());
    QStringList walked;
    for (int i = 0; i < 4; ++i) {
      QTest::keyClick(p.view, Qt::Key_Tab);
      walked << p.focused();
    }
    QCOMPARE(walked, (QStringList{"b", "a", "c", "rshift"}));
    QTest::keyClick(p.view, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), p.after);
    QVERIFY(!p.layout.getFocusedKey()->hasFocusRing());
    QTest::keyClick(p.after, Qt::Key_Backtab);
    QCOMPARE(QApplication::focusWidget(), p.view);
    QCOMPARE(p.focused(), QString("rshift"));

    QTest::keyClick(p.view, Qt::Key_Right);
    QCOMPARE(p.focused(), QString("a"));
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) QTest::keyClick(p.view, key);
    QCOMPARE(clicked, (QList<GraphicsKey *>(3, p.layout.getFocusedKey())));

    QTest::keyClick(p.view, Qt::Key_Menu);
    // A platform that follows the Menu key with a context menu event of its
    // own must not open a second menu.
    QContextMenuEvent echo(QContextMenuEvent::Keyboard, QPoint(1, 1),
                           p.view->mapToGlobal(QPoint(1, 1)));
    QApplication::sendEvent(p.view, &echo);
    QTest::keyClick(p.view, Qt::Key_F10, Qt::ShiftModifier);
    QCOMPARE(menus, (QList<GraphicsKey *>(2, p.layout.getFocusedKey())));
    // The arrows never scroll, and F10 alone asks for nothing.
    QTest::keyClick(p.view, Qt::Key_F10);
    QCOMPARE(menus.size(), 2);
  }

  // A mouse user's click does not light the ring; the keyboard does.
  void ringShowsOnlyOnceTheKeyboardIsUsed() {
    Picture p;
    p.window.show();
    QVERIFY(QTest::qWaitForWindowActive(&p.window));
    p.after->setFocus();
    const QPoint onA = p.view->mapFromScene(p.layout.getKeys().at(2)->sceneBoundingRect().center());
    QTest::mouseClick(p.view->viewport(), Qt::LeftButton, {}, onA);
    QCOMPARE(p.focused(), QString("a"));
    QVERIFY(!p.layout.getFocusedKey()->hasFocusRing());
    QTest::keyClick(p.view, Qt::Key_Right);
    QCOMPARE(p.focused(), QString("b"));
    QVERIFY(p.layout.getFocusedKey()->hasFocusRing());
  }
};

QTEST_MAIN(KeyboardGViewTest)
#include "keyboardgview_test.moc"
