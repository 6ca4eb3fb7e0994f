#include "graphicskey.h"

#include <QAccessible>
#include <QGraphicsSceneMouseEvent>
#include <QPainter>
#include <QSvgRenderer>

#include "keyboard_accessible.h"

namespace {

// Screen pixels, whatever the scale: a thin ring vanishes on a small window.
constexpr qreal kRingPixels = 3;

}  // namespace

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
  QAccessibleEvent event(this, QAccessible::NameChanged);
  reportAccessible(&event);
}

void GraphicsKey::setFocusRing(bool on) {
  if (on == m_focusRing) return;
  m_focusRing = on;
  update();
}

// The layout's words for the key, each capitalised ("volume_up" reads
// "Volume Up"), then whether it is taught and by how many buttons.
QString GraphicsKey::accessibleName() const {
  QString words = (tooltip.isEmpty() ? name : tooltip).simplified().replace('_', ' ');
  for (qsizetype i = 0; i < words.size(); ++i)
    if (i == 0 || words[i - 1] == ' ') words[i] = words[i].toUpper();
  const qsizetype n = m_taught.size();
  if (n == 0) return QObject::tr("%1, not taught").arg(words);
  return n == 1 ? QObject::tr("%1, taught, 1 button").arg(words)
                : QObject::tr("%1, taught, %2 buttons").arg(words).arg(n);
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
  if (m_taught.isEmpty() && !m_lit && !m_focusRing) return;
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
  if (m_focusRing) paintFocusRing(painter, r, radius);
  painter->restore();
}

// A dark ring inside a light one, so that the focus shows on light and on
// dark artwork alike; both stay inside the key's bounds.
void GraphicsKey::paintFocusRing(QPainter *painter, const QRectF &r, qreal radius) {
  const qreal scale = std::max<qreal>(1e-3, std::abs(painter->worldTransform().m11()));
  const qreal px = 1 / scale;  // one screen pixel in item units
  painter->setBrush(Qt::NoBrush);
  QPen light(QColor(255, 255, 255), kRingPixels * px);
  QPen dark(QColor(20, 110, 255), kRingPixels * px);
  const qreal inset = kRingPixels * px / 2;
  painter->setPen(light);
  painter->drawRoundedRect(r.adjusted(inset, inset, -inset, -inset), radius, radius);
  painter->setPen(dark);
  const qreal inner = inset + kRingPixels * px;
  painter->drawRoundedRect(r.adjusted(inner, inner, -inner, -inner), radius, radius);
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
