#include "keyboard_accessible.h"

#include <QGraphicsScene>

#include "graphicskey.h"
#include "graphicskeyboard.h"
#include "keyboardgview.h"

namespace {

QAccessibleInterface *pictureInterfaces(const QString &className, QObject *object) {
  if (className == QLatin1String("KeyboardGView"))
    if (auto *view = qobject_cast<KeyboardGView *>(object)) return new KeyboardViewAccessible(view);
  if (className == QLatin1String("GraphicsKey"))
    if (auto *key = qobject_cast<GraphicsKey *>(object)) return new KeyAccessible(key);
  return nullptr;
}

AccessibleListener listener = nullptr;

// The keyboard whose key this is, when it is the one a view shows.
GraphicsKeyboard *layoutOf(const GraphicsKey *key) {
  return key ? dynamic_cast<GraphicsKeyboard *>(key->parentItem()) : nullptr;
}

}  // namespace

void installKeyboardAccessibility() {
  static const bool installed = [] {
    QAccessible::installFactory(pictureInterfaces);
    return true;
  }();
  (void)installed;
}

void reportAccessible(QAccessibleEvent *event) {
  if (listener)
    listener(event);
  else if (QAccessible::isActive())
    QAccessible::updateAccessibility(event);
}

void setAccessibleListener(AccessibleListener l) {
  listener = l;
}

// ---- the view ----

KeyboardViewAccessible::KeyboardViewAccessible(KeyboardGView *view)
    : QAccessibleWidget(view, QAccessible::Grouping) {}

KeyboardGView *KeyboardViewAccessible::view() const {
  return static_cast<KeyboardGView *>(widget());
}

QString KeyboardViewAccessible::text(QAccessible::Text t) const {
  if (t != QAccessible::Name || !view()->accessibleName().isEmpty())
    return QAccessibleWidget::text(t);
  const GraphicsKeyboard *keyboard = view()->keyboard();
  return keyboard ? QObject::tr("Keys of %1").arg(keyboard->getMenu()) : QObject::tr("Keys");
}

int KeyboardViewAccessible::childCount() const {
  return view()->keyboard() ? int(view()->keyboard()->getKeys().size()) : 0;
}

QAccessibleInterface *KeyboardViewAccessible::child(int index) const {
  const GraphicsKeyboard *keyboard = view()->keyboard();
  if (!keyboard || index < 0 || index >= keyboard->getKeys().size()) return nullptr;
  return QAccessible::queryAccessibleInterface(keyboard->getKeys().at(index));
}

int KeyboardViewAccessible::indexOfChild(const QAccessibleInterface *child) const {
  const GraphicsKeyboard *keyboard = view()->keyboard();
  if (!keyboard || !child) return -1;
  auto *key = qobject_cast<GraphicsKey *>(child->object());
  return key ? int(keyboard->getKeys().indexOf(key)) : -1;
}

QAccessibleInterface *KeyboardViewAccessible::childAt(int x, int y) const {
  const GraphicsKeyboard *keyboard = view()->keyboard();
  if (!keyboard) return nullptr;
  for (GraphicsKey *key : keyboard->getKeys())
    if (view()->screenRect(key).contains(x, y)) return QAccessible::queryAccessibleInterface(key);
  return nullptr;
}

QAccessibleInterface *KeyboardViewAccessible::focusChild() const {
  const GraphicsKeyboard *keyboard = view()->keyboard();
  if (!keyboard || !view()->hasFocus() || !keyboard->getFocusedKey()) return nullptr;
  return QAccessible::queryAccessibleInterface(keyboard->getFocusedKey());
}

// ---- one key ----

KeyAccessible::KeyAccessible(GraphicsKey *key) : QAccessibleObject(key) {}

GraphicsKey *KeyAccessible::key() const {
  return static_cast<GraphicsKey *>(object());
}

// The view that shows the key's layout, if any does.
KeyboardGView *KeyAccessible::view() const {
  const GraphicsKey *k = key();
  if (!k || !k->scene()) return nullptr;
  for (QGraphicsView *view : k->scene()->views())
    if (auto *picture = qobject_cast<KeyboardGView *>(view))
      if (picture->keyboard() == layoutOf(k)) return picture;
  return nullptr;
}

QAccessibleInterface *KeyAccessible::parent() const {
  KeyboardGView *v = view();
  return v ? QAccessible::queryAccessibleInterface(v) : nullptr;
}

QString KeyAccessible::text(QAccessible::Text t) const {
  if (!key()) return {};
  switch (t) {
    case QAccessible::Name:
      return key()->accessibleName();
    case QAccessible::Description:
      return key()->taughtButtons().join("; ");
    case QAccessible::Help:
      return QObject::tr("Enter records it; the Menu key forgets it or teaches another button");
    default:
      return {};
  }
}

QAccessible::State KeyAccessible::state() const {
  QAccessible::State s;
  const GraphicsKey *k = key();
  const KeyboardGView *v = view();
  if (!k || !v) {
    s.invisible = true;
    return s;
  }
  const GraphicsKeyboard *layout = layoutOf(k);
  s.focusable = true;
  s.focused = v->hasFocus() && layout->getFocusedKey() == k;
  s.hasPopup = true;
  // A modifier key latches: a checked button. The key being recorded is pressed.
  s.checkable = k->getIsModifier();
  s.checked = k->getIsModifier() && layout->getHeldModifiers().contains(k);
  s.pressed = layout->getSelectedKey() == k;
  return s;
}

QRect KeyAccessible::rect() const {
  const KeyboardGView *v = view();
  return v ? v->screenRect(key()) : QRect();
}

void *KeyAccessible::interface_cast(QAccessible::InterfaceType type) {
  if (type == QAccessible::ActionInterface) return static_cast<QAccessibleActionInterface *>(this);
  return nullptr;
}

QStringList KeyAccessible::actionNames() const {
  return {pressAction(), showMenuAction(), setFocusAction()};
}

void KeyAccessible::doAction(const QString &actionName) {
  GraphicsKey *k = key();
  KeyboardGView *v = view();
  if (!k || !v) return;
  GraphicsKeyboard *layout = layoutOf(k);
  if (actionName == pressAction()) {
    layout->keyClicked(k);
  } else if (actionName == showMenuAction()) {
    layout->setFocusedKey(k);
    v->requestMenu(k, v->screenRect(k).center());
  } else if (actionName == setFocusAction()) {
    v->setFocus(Qt::OtherFocusReason);
    layout->setFocusedKey(k);
  }
}

QStringList KeyAccessible::keyBindingsForAction(const QString &actionName) const {
  if (actionName == pressAction()) return {QStringLiteral("Return"), QStringLiteral("Space")};
  if (actionName == showMenuAction()) return {QStringLiteral("Menu"), QStringLiteral("Shift+F10")};
  return {};
}
