#include "keyboardgview.h"

#include <QKeyEvent>

KeyboardGView::KeyboardGView(QWidget *parent) : QGraphicsView(parent) {}

void KeyboardGView::wheelEvent(QWheelEvent *) {}

void KeyboardGView::keyPressEvent(QKeyEvent *event) {
  switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Left:
    case Qt::Key_Down:
    case Qt::Key_Right:
    case Qt::Key_PageDown:
    case Qt::Key_PageUp:
      return;
    default:
      QGraphicsView::keyPressEvent(event);
  }
}
