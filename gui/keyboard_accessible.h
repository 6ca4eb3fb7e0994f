// What screen readers learn of the picture: the view is a group whose
// children are the keys of the layout on show, each a button named with
// its words and whether it is taught ("Volume Up, taught, 2 buttons").
#ifndef ZIRKO_GUI_KEYBOARD_ACCESSIBLE_H
#define ZIRKO_GUI_KEYBOARD_ACCESSIBLE_H

#include <QAccessibleObject>
#include <QAccessibleWidget>

class GraphicsKey;
class KeyboardGView;

// Registers the interfaces below with QAccessible, once per process.
void installKeyboardAccessibility();
// Tells screen readers of a change in the picture. Qt drops events while no
// reader listens; tests put their own listener in its place.
void reportAccessible(QAccessibleEvent *event);
using AccessibleListener = void (*)(QAccessibleEvent *event);
void setAccessibleListener(AccessibleListener listener);

class KeyboardViewAccessible : public QAccessibleWidget {
 public:
  explicit KeyboardViewAccessible(KeyboardGView *view);

  QString text(QAccessible::Text t) const override;
  int childCount() const override;
  QAccessibleInterface *child(int index) const override;
  int indexOfChild(const QAccessibleInterface *child) const override;
  QAccessibleInterface *childAt(int x, int y) const override;
  QAccessibleInterface *focusChild() const override;

 private:
  KeyboardGView *view() const;
};

class KeyAccessible : public QAccessibleObject, public QAccessibleActionInterface {
 public:
  explicit KeyAccessible(GraphicsKey *key);

  QAccessibleInterface *parent() const override;
  QAccessibleInterface *child(int) const override { return nullptr; }
  int childCount() const override { return 0; }
  int indexOfChild(const QAccessibleInterface *) const override { return -1; }
  QString text(QAccessible::Text t) const override;
  QAccessible::Role role() const override { return QAccessible::Button; }
  QAccessible::State state() const override;
  QRect rect() const override;
  void *interface_cast(QAccessible::InterfaceType type) override;

  QStringList actionNames() const override;
  void doAction(const QString &actionName) override;
  QStringList keyBindingsForAction(const QString &actionName) const override;

 private:
  GraphicsKey *key() const;
  KeyboardGView *view() const;
};

#endif  // ZIRKO_GUI_KEYBOARD_ACCESSIBLE_H
