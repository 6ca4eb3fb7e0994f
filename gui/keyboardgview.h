#ifndef ZIRKO_GUI_KEYBOARDGVIEW_H
#define ZIRKO_GUI_KEYBOARDGVIEW_H

#include <QGraphicsView>

// Shows one layout fitted to the view; the picture never scrolls, so the
// wheel and the arrow and page keys are swallowed here.
class KeyboardGView : public QGraphicsView {
  Q_OBJECT

 public:
  explicit KeyboardGView(QWidget *parent = nullptr);

 protected:
  void wheelEvent(QWheelEvent *event) override;
  void keyPressEvent(QKeyEvent *event) override;
};

#endif  // ZIRKO_GUI_KEYBOARDGVIEW_H
