#include "keyboardgview.h"

#include <QGraphicsScene>
#include <QScrollBar>
#include <QtTest>

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
};

QTEST_MAIN(KeyboardGViewTest)
#include "keyboardgview_test.moc"
