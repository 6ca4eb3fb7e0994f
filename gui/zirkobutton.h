#ifndef ZIRKO_GUI_ZIRKOBUTTON_H
#define ZIRKO_GUI_ZIRKOBUTTON_H

#include <QLabel>
#include <QPixmap>
#include <QString>

// A picture that acts as a button: green while the pointer is over it, grey
// otherwise, and clicked on the press (not the release) of a mouse button.
class zirkoButton : public QLabel {
  Q_OBJECT

 public:
  explicit zirkoButton(QWidget *parent = nullptr);

  void setImages(const QString &hover, const QString &normal, bool showHover);

  QString hoverImage() const { return m_hoverPath; }
  QString normalImage() const { return m_normalPath; }
  // Path of the picture on show.
  QString shownImage() const { return m_showingHover ? m_hoverPath : m_normalPath; }

 signals:
  void clicked();

 protected:
  void mousePressEvent(QMouseEvent *event) override;
  // Space and Enter press it too, once Tab has brought the focus to it.
  void keyPressEvent(QKeyEvent *event) override;
  void enterEvent(QEnterEvent *event) override;
  void leaveEvent(QEvent *event) override;

 private:
  void showPicture(bool hover);

  QString m_hoverPath;
  QString m_normalPath;
  QPixmap m_hover;
  QPixmap m_normal;
  bool m_showingHover = false;
};

#endif  // ZIRKO_GUI_ZIRKOBUTTON_H
