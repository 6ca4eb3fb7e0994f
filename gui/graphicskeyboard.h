#ifndef ZIRKO_GUI_GRAPHICSKEYBOARD_H
#define ZIRKO_GUI_GRAPHICSKEYBOARD_H

#include <QGraphicsItem>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include "graphicskey.h"

class QGraphicsSvgItem;
class QSvgRenderer;

// One layout: the picture's background plus its keys, the selected key and
// the latched modifier keys. Clicks are reported through `clicked`.
class GraphicsKeyboard : public QObject, public QGraphicsItem {
  Q_OBJECT
  Q_INTERFACES(QGraphicsItem)

 public:
  // HID modifier bits of the computer keyboard's modifiers.
  static constexpr int kControlBit = 0x01;
  static constexpr int kShiftBit = 0x02;
  static constexpr int kAltBit = 0x04;
  static constexpr int kMetaBit = 0x08;

  GraphicsKeyboard(const QString &image, const QString &name, const QString &menu, bool sequenced,
                   QGraphicsItem *parentItem = nullptr);

  void addKey(const QString &name, const QString &tooltip, const QString &highlight,
              const QString &dark, bool isModifier, int usb, int modifier, int sequence);

  void keyClicked(GraphicsKey *key);
  void clearSelection();
  void clearHeldModifiers();
  void blinkSelection();
  bool selectNextSequenced();
  bool highlightForKeyEvent(int keyCode, Qt::KeyboardModifiers modifiers);
  // The key that sends this report: the key with this key code and second
  // byte, else (on a layout with modifier keys) the plain key of that key
  // code, which the modifiers are held with; null when the layout lacks it.
  GraphicsKey *keyFor(int usage, int modifier) const;

  // ---- the keyboard focus, for use without a mouse ----
  enum class Direction { kLeft, kRight, kUp, kDown };
  GraphicsKey *getFocusedKey() const { return focusedKey; }
  // Null clears it; a key of another layout is refused.
  void setFocusedKey(GraphicsKey *key);
  // To the next key in reading order (rows top to bottom, each left to
  // right); false, focus unchanged, past the last one. With no key
  // focused, the first (or last) key takes it.
  bool focusNext(bool forward);
  // To the nearest key in that direction; false when there is none.
  bool focusToward(Direction direction);
  // The ring shows only while the picture has the keyboard focus.
  void setFocusShown(bool shown);
  bool isFocusShown() const { return focusShown; }
  QList<GraphicsKey *> keysInReadingOrder() const;

  QString getName() const { return name; }
  QString getMenu() const { return menu; }
  bool getSequenced() const { return sequenced; }
  // False when the picture could not be loaded; the keys then have no looks.
  bool hasPicture() const;

  const QList<GraphicsKey *> &getKeys() const { return keys; }
  const QList<GraphicsKey *> &getHeldModifiers() const { return heldModifiers; }
  GraphicsKey *getSelectedKey() const { return selectedKey; }
  const QList<GraphicsKey *> &getPreviewKeys() const { return previewKeys; }
  const QHash<int, int> &getKeyMap() const { return keyMap; }
  QSvgRenderer *getRenderer() const { return m_renderer; }

  QRectF boundingRect() const override;
  void paint(QPainter *painter, const QStyleOptionGraphicsItem *option,
             QWidget *widget = nullptr) override;

 signals:
  void clicked(GraphicsKey *gk, QList<GraphicsKey *> modifiers, bool autoclicked);
  void focusMoved(GraphicsKey *key);

 private:
  void select(GraphicsKey *key);
  void restoreLook(GraphicsKey *key);
  void clearPreview();
  void fillKeyMap();

  QList<GraphicsKey *> keys;
  QList<GraphicsKey *> heldModifiers;
  QSvgRenderer *m_renderer = nullptr;
  GraphicsKey *selectedKey = nullptr;
  QList<GraphicsKey *> previewKeys;
  QString name;
  QString menu;
  bool sequenced = false;
  QHash<int, int> keyMap;
  QGraphicsSvgItem *m_background = nullptr;
  GraphicsKey *focusedKey = nullptr;
  bool focusShown = false;
};

#endif  // ZIRKO_GUI_GRAPHICSKEYBOARD_H
