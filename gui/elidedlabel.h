#ifndef ZIRKO_GUI_ELIDEDLABEL_H
#define ZIRKO_GUI_ELIDEDLABEL_H

#include <QLabel>

// A one-line label whose text, when it does not fit, is drawn shortened in
// the middle and given whole as the tooltip. text() stays the whole text.
class ElidedLabel : public QLabel {
  Q_OBJECT

 public:
  using QLabel::QLabel;

  void setText(const QString &text);
  // The text as drawn.
  QString shownText() const;

 protected:
  void paintEvent(QPaintEvent *event) override;
  void resizeEvent(QResizeEvent *event) override;

 private:
  void updateToolTip();
};

#endif  // ZIRKO_GUI_ELIDEDLABEL_H
