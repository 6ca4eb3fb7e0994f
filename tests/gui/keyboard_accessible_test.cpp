// What a screen reader learns of the picture on the virtual receiver: each
// key's name says whether it is taught and by how many buttons, its state
// follows the focus and the latched modifiers, and the focus moving across
// the keys is reported.
#include "keyboard_accessible.h"

#include <QAccessible>
#include <QtTest>

#include "graphicskey.h"
#include "graphicskeyboard.h"
#include "keyboardgview.h"
#include "window_harness.h"

namespace {

struct Reported {
  QAccessible::Event type;
  QObject *object;
  int child;
};
QList<Reported> reported;

void keepEvent(QAccessibleEvent *event) {
  reported.append({event->type(), event->object(), event->child()});
}

}  // namespace

class KeyboardAccessibleTest : public QObject {
  Q_OBJECT

  std::unique_ptr<WindowHarness> h;

  KeyboardGView *view() const { return h->window->widgets().KeyboardView; }
  GraphicsKey *key(const QString &name) const {
    for (GraphicsKey *k : h->window->shownKeyboard()->getKeys())
      if (k->getName() == name) return k;
    return nullptr;
  }

 private slots:
  void initTestCase() { setAccessibleListener(keepEvent); }
  void init() {
    h = std::make_unique<WindowHarness>();
    h->rig->AddEntry(0xC1, 0xE9, 0x66);  // volume up, twice
    h->rig->AddEntry(0xC2, 0xE9, 0x66);
    h->rig->AddEntry(0xC3, 0x00, 0x04);  // a
    h->poll();
    QVERIFY(h->window->isConnected());
    reported.clear();
  }
  void cleanup() { h.reset(); }

  void namesSayWhatIsTaught_data() {
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("name");
    QTest::newRow("two buttons") << "MediaKeys"
                                 << "volume_up"
                                 << "Volume Up, taught, 2 buttons";
    QTest::newRow("one button") << "Windows_us101"
                                << "a"
                                << "A, taught, 1 button";
    QTest::newRow("not taught") << "Windows_us101"
                                << "b"
                                << "B, not taught";
    QTest::newRow("words of the layout") << "Windows_us101"
                                         << "lshift"
                                         << "Left Shift, not taught";
  }
  void namesSayWhatIsTaught() {
    QFETCH(QString, layout);
    QFETCH(QString, key);
    QFETCH(QString, name);
    QVERIFY(h->window->selectKeyboard(layout));
    QAccessibleInterface *picture = QAccessible::queryAccessibleInterface(view());
    QVERIFY(picture);
    QCOMPARE(picture->childCount(), int(h->window->shownKeyboard()->getKeys().size()));
    const int index = int(h->window->shownKeyboard()->getKeys().indexOf(this->key(key)));
    QAccessibleInterface *k = picture->child(index);
    QVERIFY(k);
    QCOMPARE(k->text(QAccessible::Name), name);
    QCOMPARE(k->role(), QAccessible::Button);
    QCOMPARE(picture->indexOfChild(k), index);
    QCOMPARE(k->parent(), picture);
    QVERIFY(view()->rect().translated(view()->mapToGlobal(QPoint())).contains(k->rect()));
    QCOMPARE(picture->childAt(k->rect().center().x(), k->rect().center().y()), k);
  }

  // After "Forget" the name says so at once, and readers are told.
  void nameFollowsTheMap() {
    QVERIFY(h->window->selectKeyboard("Windows_us101"));
    QAccessibleInterface *a = QAccessible::queryAccessibleInterface(key("a"));
    QCOMPARE(a->text(QAccessible::Name), QString("A, taught, 1 button"));
    h->answers << "Yes";
    h->window->forgetKey(key("a"));
    QCOMPARE(a->text(QAccessible::Name), QString("A, not taught"));
    bool told = false;
    for (const Reported &r : reported)
      told = told || (r.type == QAccessible::NameChanged && r.object == key("a"));
    QVERIFY(told);
  }

  // The focused key is focused for readers too, and each move is reported
  // as the picture's child; a latched modifier is a checked button.
  void focusAndStates() {
    QVERIFY(h->window->selectKeyboard("Windows_us101"));
    h->window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(h->window.get()));
    view()->setFocus();
    h->window->shownKeyboard()->setFocusedKey(key("s"));
    reported.clear();
    QTest::keyClick(view(), Qt::Key_Left);
    QAccessibleInterface *picture = QAccessible::queryAccessibleInterface(view());
    QAccessibleInterface *a = QAccessible::queryAccessibleInterface(key("a"));
    QVERIFY(!reported.isEmpty());
    const Reported last = reported.last();
    QCOMPARE(last.type, QAccessible::Focus);
    QCOMPARE(last.object, view());
    QCOMPARE(picture->child(last.child), a);
    QCOMPARE(picture->focusChild(), a);
    QVERIFY(a->state().focused);
    QVERIFY(!QAccessible::queryAccessibleInterface(key("s"))->state().focused);

    QAccessibleInterface *shift = QAccessible::queryAccessibleInterface(key("lshift"));
    QVERIFY(shift->state().checkable);
    QVERIFY(!shift->state().checked);
    h->window->shownKeyboard()->keyClicked(key("lshift"));
    QVERIFY(shift->state().checked);
    // The key's press action is a click: it starts recording Shift+a.
    a->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QCOMPARE(h->window->currentOperation(), int(MainWindow::kRecording));
    QCOMPARE(h->status(), QString("Press the button to be paired with 'Shift+a'"));
  }
};

QTEST_MAIN(KeyboardAccessibleTest)
#include "keyboard_accessible_test.moc"
