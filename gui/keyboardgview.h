#ifndef ZIRKO_GUI_KEYBOARDGVIEW_H
#define ZIRKO_GUI_KEYBOARDGVIEW_H

#include <QElapsedTimer>
#include <QGraphicsView>
#include <QPointer>

#include "graphicskeyboard.h"

class GraphicsKey;

// Shows one layout fitted to the view; the picture never scrolls, so the
// wheel and the page keys are swallowed here. Without a mouse, Tab and the
// arrow keys move a focus ring across the keys, Enter or Space clicks the
// focused key, and the Menu key (or Shift+F10) asks for its menu.
class KeyboardGView : public QGraphicsView {
  Q_OBJECT

 public:
  explicit KeyboardGView(QWidget *parent = nullptr);

  // The layout on show, whose keys the focus moves across (null: none).
  void setKeyboard(GraphicsKeyboard *keyboard);
  GraphicsKeyboard *keyboard() const { return m_keyboard; }
  // The keys this view acts on itself; the window leaves them alone.
  static bool isNavigationKey(const QKeyEvent *event);
  // Where on the screen a key is, for its menu and for screen readers.
  QRect screenRect(const GraphicsKey *key) const;
  // Asks for a key's menu at a place on the screen.
  void requestMenu(GraphicsKey *key, const QPoint &globalPos);

 signals:
  void keyMenuRequested(GraphicsKey *key, const QPoint &globalPos);

 protected:
  void wheelEvent(QWheelEvent *event) override;
  void keyPressEvent(QKeyEvent *event) override;
  bool focusNextPrevChild(bool next) override;
  void focusInEvent(QFocusEvent *event) override;
  void focusOutEvent(QFocusEvent *event) override;
  void contextMenuEvent(QContextMenuEvent *event) override;
  void mousePressEvent(QMouseEvent *event) override;

 private:
  void showFocus(bool shown);
  void focusMoved(GraphicsKey *key);

  QPointer<GraphicsKeyboard> m_keyboard;
  // The Menu key's own press opens the menu; the context menu event some
  // platforms send after it must not open a second one.
  QElapsedTimer m_menuKeyPressed;
  // The keyboard was used since the last click: the ring shows.
  bool m_ringWanted = false;
};

#endif  // ZIRKO_GUI_KEYBOARDGVIEW_H
