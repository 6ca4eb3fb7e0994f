#include "elidedlabel.h"

#include <QPainter>

void ElidedLabel::setText(const QString &text) {
  QLabel::setText(text);
  updateToolTip();
}

QString ElidedLabel::shownText() const {
  return fontMetrics().elidedText(text(), Qt::ElideMiddle, contentsRect().width());
}

void ElidedLabel::paintEvent(QPaintEvent *) {
  QPainter painter(this);
  painter.setPen(palette().color(foregroundRole()));
  painter.drawText(contentsRect(), int(alignment()), shownText());
}

void ElidedLabel::resizeEvent(QResizeEvent *event) {
  QLabel::resizeEvent(event);
  updateToolTip();
}

void ElidedLabel::updateToolTip() {
  setToolTip(shownText() == text() ? QString() : text());
}
