#ifndef ZIRKO_GUI_GRAPHICSKEY_H
#define ZIRKO_GUI_GRAPHICSKEY_H

#include <QGraphicsSvgItem>
#include <QString>
#include <QStringList>

// One clickable key of a layout, drawn from two elements of the layout's
// picture: `dark` normally, `highlight` when hovered, selected or held.
class GraphicsKey : public QGraphicsSvgItem {
  Q_OBJECT

 public:
  explicit GraphicsKey(QGraphicsItem *parentItem = nullptr);

  // The key's renderer must be set (shared) before, since placement reads
  // the position of the dark element from it.
  void init(const QString &name, const QString &tooltip, const QString &highlight,
            const QString &dark, bool isModifier, int usb, int modifier, int sequence);

  void setHighlighted(bool on);
  // The recorded buttons that send this key, one line each (none: not
  // taught); they are drawn over the key and listed in its tool tip.
  void setTaught(const QStringList &buttons);
  bool isTaught() const { return !m_taught.isEmpty(); }
  const QStringList &taughtButtons() const { return m_taught; }
  // Lit while the receiver types this key in test mode.
  void setLit(bool on);
  bool isLit() const { return m_lit; }
  // The keyboard focus of the picture: drawn as a ring that keeps its
  // width on screen whatever the picture's scale.
  void setFocusRing(bool on);
  bool hasFocusRing() const { return m_focusRing; }
  // What a screen reader says of the key: "Volume Up, taught, 2 buttons".
  QString accessibleName() const;
  void setClickable(bool on) { clickable = on; }

  QString getName() const { return name; }
  QString getTooltip() const { return tooltip; }
  QString getHighlight() const { return highlight; }
  QString getDark() const { return dark; }
  bool getIsModifier() const { return isModifier; }
  int getUsb() const { return usb; }
  int getModifier() const { return modifier; }
  bool getHighlighted() const { return highlighted; }
  bool getClickable() const { return clickable; }
  int getSequence() const { return sequence; }

  QRectF boundingRect() const override;
  void paint(QPainter *painter, const QStyleOptionGraphicsItem *option,
             QWidget *widget = nullptr) override;

  // Position of an element in picture coordinates: its bounds mapped through
  // the transforms of its parents, so grouped or moved artwork lands right.
  static QRectF elementRect(QSvgRenderer *renderer, const QString &id);

 signals:
  // The mouse went down on a clickable key.
  void pressed(GraphicsKey *key);

 protected:
  void hoverEnterEvent(QGraphicsSceneHoverEvent *event) override;
  void hoverLeaveEvent(QGraphicsSceneHoverEvent *event) override;
  void mousePressEvent(QGraphicsSceneMouseEvent *event) override;

 private:
  void showElement(const QString &id);
  void refreshLook();
  static void paintFocusRing(QPainter *painter, const QRectF &r, qreal radius);

  QString name;
  QString tooltip;
  QString highlight;
  QString dark;
  bool isModifier = false;
  int usb = 0;
  int modifier = 0;
  bool highlighted = false;
  bool clickable = false;
  int sequence = 0;
  bool m_hovered = false;
  QStringList m_taught;
  bool m_lit = false;
  bool m_focusRing = false;
};

#endif  // ZIRKO_GUI_GRAPHICSKEY_H
