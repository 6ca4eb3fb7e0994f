#include "keyboardgview.h"

#include <QAccessible>
#include <QContextMenuEvent>
#include <QHash>
#include <QKeyEvent>

#include "graphicskey.h"
#include "graphicskeyboard.h"
#include "keyboard_accessible.h"

namespace {

// A platform's own context menu event follows the Menu key within this.
constexpr qint64 kMenuEchoMs = 500;

bool opensMenu(const QKeyEvent *event) {
  return event->key() == Qt::Key_Menu ||
         (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier);
}

}  // namespace

KeyboardGView::KeyboardGView(QWidget *parent) : QGraphicsView(parent) {
  installKeyboardAccessibility();
  setFocusPolicy(Qt::StrongFocus);
}

void KeyboardGView::setKeyboard(GraphicsKeyboard *keyboard) {
  if (m_keyboard == keyboard) return;
  if (m_keyboard) {
    disconnect(m_keyboard, &GraphicsKeyboard::focusMoved, this, nullptr);
    m_keyboard->setFocusShown(false);
  }
  m_keyboard = keyboard;
  if (!m_keyboard) return;
  connect(m_keyboard, &GraphicsKeyboard::focusMoved, this, &KeyboardGView::focusMoved);
  showFocus(hasFocus());
  QAccessibleEvent event(this, QAccessible::NameChanged);
  reportAccessible(&event);
}

bool KeyboardGView::isNavigationKey(const QKeyEvent *event) {
  switch (event->key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
      return true;
    default:
      return opensMenu(event);
  }
}

QRect KeyboardGView::screenRect(const GraphicsKey *key) const {
  if (!key || key->scene() != scene()) return {};
  const QRect inView = mapFromScene(key->sceneBoundingRect()).boundingRect();
  return QRect(viewport()->mapToGlobal(inView.topLeft()), inView.size());
}

void KeyboardGView::requestMenu(GraphicsKey *key, const QPoint &globalPos) {
  if (key && key->getClickable()) emit keyMenuRequested(key, globalPos);
}

void KeyboardGView::wheelEvent(QWheelEvent *) {}

void KeyboardGView::keyPressEvent(QKeyEvent *event) {
  using Direction = GraphicsKeyboard::Direction;
  if (isNavigationKey(event)) {
    m_ringWanted = true;
    showFocus(true);
  }
  GraphicsKey *focused = m_keyboard ? m_keyboard->getFocusedKey() : nullptr;
  switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Left:
    case Qt::Key_Down:
    case Qt::Key_Right: {
      static const QHash<int, Direction> kDirections = {{Qt::Key_Up, Direction::kUp},
                                                        {Qt::Key_Down, Direction::kDown},
                                                        {Qt::Key_Left, Direction::kLeft},
                                                        {Qt::Key_Right, Direction::kRight}};
      if (m_keyboard) m_keyboard->focusToward(kDirections.value(event->key()));
      return;  // never scrolls
    }
    case Qt::Key_PageDown:
    case Qt::Key_PageUp:
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
      // The same path as a click with the mouse.
      if (focused && focused->getClickable()) m_keyboard->keyClicked(focused);
      return;
    default:
      if (opensMenu(event)) {
        m_menuKeyPressed.start();
        const QRect at = screenRect(focused);
        requestMenu(focused, at.center());
        return;
      }
      QGraphicsView::keyPressEvent(event);
  }
}

// Tab walks the keys from the focused one; past the last (or before the
// first), or with no key focused, it leaves the picture for the window's
// other controls.
bool KeyboardGView::focusNextPrevChild(bool next) {
  if (hasFocus() && m_keyboard && m_keyboard->getFocusedKey() && m_keyboard->focusNext(next)) {
    m_ringWanted = true;
    showFocus(true);
    return true;
  }
  return QGraphicsView::focusNextPrevChild(next);
}

// The ring shows once the keyboard is used, not for a mouse user's click.
void KeyboardGView::focusInEvent(QFocusEvent *event) {
  QGraphicsView::focusInEvent(event);
  const bool tab = event->reason() == Qt::TabFocusReason;
  const bool backtab = event->reason() == Qt::BacktabFocusReason;
  if (tab || backtab) m_ringWanted = true;
  if (event->reason() == Qt::MouseFocusReason) m_ringWanted = false;
  // Entering by Tab starts at the first key, by Shift+Tab at the last;
  // otherwise no key has the focus until one is clicked or an arrow pressed.
  if (m_keyboard && (tab || backtab)) {
    m_keyboard->setFocusedKey(nullptr);
    m_keyboard->focusNext(tab);
  }
  showFocus(true);
}

void KeyboardGView::mousePressEvent(QMouseEvent *event) {
  // The next arrow key goes on from the key clicked.
  auto *key = dynamic_cast<GraphicsKey *>(itemAt(event->pos()));
  if (m_keyboard && key) m_keyboard->setFocusedKey(key);
  m_ringWanted = false;
  showFocus(hasFocus());
  QGraphicsView::mousePressEvent(event);
}

void KeyboardGView::focusOutEvent(QFocusEvent *event) {
  QGraphicsView::focusOutEvent(event);
  // A menu of the key keeps its ring, so it is clear which key it is about.
  if (event->reason() != Qt::PopupFocusReason) showFocus(false);
}

void KeyboardGView::contextMenuEvent(QContextMenuEvent *event) {
  event->accept();
  if (event->reason() != QContextMenuEvent::Mouse) {
    if (m_menuKeyPressed.isValid() && m_menuKeyPressed.elapsed() < kMenuEchoMs) return;
    GraphicsKey *focused = m_keyboard ? m_keyboard->getFocusedKey() : nullptr;
    requestMenu(focused, screenRect(focused).center());
    return;
  }
  auto *key = dynamic_cast<GraphicsKey *>(itemAt(event->pos()));
  if (!key) return;
  if (m_keyboard) m_keyboard->setFocusedKey(key);
  requestMenu(key, event->globalPos());
}

void KeyboardGView::showFocus(bool shown) {
  if (m_keyboard) m_keyboard->setFocusShown(shown && m_ringWanted);
  if (shown) focusMoved(m_keyboard ? m_keyboard->getFocusedKey() : nullptr);
}

// Screen readers follow the focused key as they would a list's current item.
void KeyboardGView::focusMoved(GraphicsKey *key) {
  if (!key || !hasFocus()) return;
  QAccessibleEvent event(this, QAccessible::Focus);
  event.setChild(m_keyboard->getKeys().indexOf(key));
  reportAccessible(&event);
}
