#include "graphicskey.h"

#include <QGraphicsSceneMouseEvent>
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

void GraphicsKey::paint(QPainter *painter, const QStyleOptionGraphicsItem *option,
                        QWidget *widget) {
  QGraphicsSvgItem::paint(painter, option, widget);
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
