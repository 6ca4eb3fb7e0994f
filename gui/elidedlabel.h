#ifndef ZIRKO_GUI_ELIDEDLABEL_H
#define ZIRKO_GUI_ELIDEDLABEL_H

#include <QFont>
#include <QLabel>

// A label for a status text that must be readable at a glance: a text too
// wide for it is drawn in a smaller font, then on two lines, and only then
// shortened in the middle, with the whole text as the tooltip. text() stays
// the whole text.
class ElidedLabel : public QLabel {
  Q_OBJECT

 public:
  using QLabel::QLabel;

  void setText(const QString &text);
  // The text as drawn (shortened or whole).
  QString shownText() const;

 protected:
  void paintEvent(QPaintEvent *event) override;
  void resizeEvent(QResizeEvent *event) override;

 private:
  struct Look {
    QFont font;
    QString text;
    int flags;
  };
  Look look() const;
  void updateToolTip();
};

#endif  // ZIRKO_GUI_ELIDEDLABEL_H
