#include "elidedlabel.h"

#include <QPainter>

namespace {

// Smaller than this is no longer read at a glance.
constexpr int kSmallestPointSize = 13;

}  // namespace

void ElidedLabel::setText(const QString &text) {
  QLabel::setText(text);
  updateToolTip();
}

QString ElidedLabel::shownText() const {
  return look().text;
}

ElidedLabel::Look ElidedLabel::look() const {
  const QRect box = contentsRect();
  QFont smaller = font();
  for (int size = font().pointSize(); size >= kSmallestPointSize; --size) {
    smaller.setPointSize(size);
    if (QFontMetrics(smaller).horizontalAdvance(text()) <= box.width()) return {smaller, text(), 0};
  }
  const QFontMetrics metrics(smaller);
  const QRect wrapped = metrics.boundingRect(box, Qt::TextWordWrap, text());
  if (wrapped.width() <= box.width() && wrapped.height() <= box.height())
    return {smaller, text(), Qt::TextWordWrap};
  return {smaller, metrics.elidedText(text(), Qt::ElideMiddle, box.width()), 0};
}

void ElidedLabel::paintEvent(QPaintEvent *) {
  const Look shown = look();
  QPainter painter(this);
  painter.setFont(shown.font);
  painter.setPen(palette().color(foregroundRole()));
  painter.drawText(contentsRect(), int(alignment()) | shown.flags, shown.text);
}

void ElidedLabel::resizeEvent(QResizeEvent *event) {
  QLabel::resizeEvent(event);
  updateToolTip();
}

void ElidedLabel::updateToolTip() {
  setToolTip(shownText() == text() ? QString() : text());
}
