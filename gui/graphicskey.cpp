#include "graphicskey.h"

#include <QGraphicsSceneMouseEvent>
#include <QPainter>
#include <QSvgRenderer>

GraphicsKey::GraphicsKey(QGraphicsItem *parentItem) : QGraphicsSvgItem(parentItem) {
  setAcceptHoverEvents(true);
}

void GraphicsKey::init(const QString &name, const QString &tooltip, const QString &highlight,
                       const QString &dark, bool isModifier, int usb, int modifier, int sequence) {
  this->name = name;
  this->tooltip = tooltip;
  this->highlight = highlight;
  this->dark = dark;
  this->isModifier = isModifier;
  this->usb = usb;
  this->modifier = modifier;
  this->sequence = sequence;
  highlighted = false;
  setToolTip(tooltip);
  showElement(dark);
  setPos(elementRect(renderer(), dark).topLeft());
}

QRectF GraphicsKey::elementRect(QSvgRenderer *renderer, const QString &id) {
  if (renderer == nullptr || !renderer->isValid() || !renderer->elementExists(id)) return {};
  return renderer->transformForElement(id).mapRect(renderer->boundsOnElement(id));
}

void GraphicsKey::setHighlighted(bool on) {
  highlighted = on;
  refreshLook();
}

// Hover shows the highlight only on a key that is not already lit for another
// reason; a lit key stays lit when the mouse leaves.
void GraphicsKey::refreshLook() {
  showElement(highlighted || m_hovered ? highlight : dark);
}

void GraphicsKey::showElement(const QString &id) {
  // Switching the element re-lays out the item; skip it when nothing changes.
  if (elementId() != id) setElementId(id);
}

QRectF GraphicsKey::boundingRect() const {
  return QGraphicsSvgItem::boundingRect();
}

void GraphicsKey::setTaught(const QStringList &buttons) {
  if (buttons == m_taught) return;
  m_taught = buttons;
  setToolTip(buttons.isEmpty() ? tooltip
                               : tooltip + "\n" + QObject::tr("Taught: ") + buttons.join("\n"));
  update();
}

void GraphicsKey::setLit(bool on) {
  if (on == m_lit) return;
  m_lit = on;
  update();
}

// A taught key wears a green wash and a dot in its corner, so that it
// stands out on any artwork; a key typed in test mode glows amber.
void GraphicsKey::paint(QPainter *painter, const QStyleOptionGraphicsItem *option,
                        QWidget *widget) {
  QGraphicsSvgItem::paint(painter, option, widget);
  if (m_taught.isEmpty() && !m_lit) return;
  const QRectF r = boundingRect();
  const qreal radius = std::min(r.width(), r.height()) / 6;
  painter->save();
  painter->setRenderHint(QPainter::Antialiasing);
  if (!m_taught.isEmpty()) {
    painter->setPen(QPen(QColor(31, 191, 122), std::max<qreal>(1.5, radius / 3)));
    painter->setBrush(QColor(31, 191, 122, 70));
    painter->drawRoundedRect(r.adjusted(1, 1, -1, -1), radius, radius);
    const qreal dot = std::max<qreal>(3, radius);
    painter->setPen(Qt::NoPen);
    painter->setBrush(QColor(31, 191, 122));
    painter->drawEllipse(QPointF(r.right() - dot * 1.2, r.top() + dot * 1.2), dot / 2, dot / 2);
  }
  if (m_lit) {
    painter->setPen(QPen(QColor(255, 176, 32), std::max<qreal>(2, radius / 2)));
    painter->setBrush(QColor(255, 176, 32, 140));
    painter->drawRoundedRect(r.adjusted(1, 1, -1, -1), radius, radius);
  }
  painter->restore();
}

void GraphicsKey::hoverEnterEvent(QGraphicsSceneHoverEvent *event) {
  m_hovered = true;
  refreshLook();
  QGraphicsSvgItem::hoverEnterEvent(event);
}

void GraphicsKey::hoverLeaveEvent(QGraphicsSceneHoverEvent *event) {
  m_hovered = false;
  refreshLook();
  QGraphicsSvgItem::hoverLeaveEvent(event);
}

void GraphicsKey::mousePressEvent(QGraphicsSceneMouseEvent *event) {
  // Only a key of a layout is clickable; the layout hears of it.
  if (!clickable || parentItem() == nullptr) {
    event->ignore();
    return;
  }
  event->accept();
  emit pressed(this);
}
