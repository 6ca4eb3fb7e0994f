#include "zirkobutton.h"

#include <QMouseEvent>

zirkoButton::zirkoButton(QWidget *parent) : QLabel(parent) {
  setFocusPolicy(Qt::StrongFocus);
  setStyleSheet("zirkoButton:focus { border: 2px solid #1fbf7a; border-radius: 8px; }");
}

void zirkoButton::setImages(const QString &hover, const QString &normal, bool showHover) {
  m_hoverPath = hover;
  m_normalPath = normal;
  m_hover = QPixmap(hover);
  m_normal = QPixmap(normal);
  showPicture(showHover);
}

void zirkoButton::showPicture(bool hover) {
  m_showingHover = hover;
  setPixmap(hover ? m_hover : m_normal);
}

void zirkoButton::mousePressEvent(QMouseEvent *event) {
  emit clicked();
  event->accept();
}

void zirkoButton::keyPressEvent(QKeyEvent *event) {
  const int key = event->key();
  if (key != Qt::Key_Space && key != Qt::Key_Return && key != Qt::Key_Enter) {
    QLabel::keyPressEvent(event);
    return;
  }
  emit clicked();
  event->accept();
}

void zirkoButton::enterEvent(QEnterEvent *event) {
  showPicture(true);
  QLabel::enterEvent(event);
}

void zirkoButton::leaveEvent(QEvent *event) {
  showPicture(false);
  QLabel::leaveEvent(event);
}
