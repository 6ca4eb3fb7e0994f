#ifndef ZIRKO_GUI_QUESTION_H
#define ZIRKO_GUI_QUESTION_H

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

// A modal question with its buttons, kept apart from the box that asks it
// so that tests can answer without a modal event loop.
struct Question {
  QString text;
  QString informativeText;
  QString detailedText;
  QString iconPath;
  // Button texts in order. With `standardButtons`, "Yes", "No", "OK" and
  // "Cancel" become the toolkit's standard buttons of that name.
  QStringList buttons;
  QString defaultButton;
  bool standardButtons = false;
  // Widens the box with a spacer of this many pixels (0: natural width).
  int minimumWidth = 0;
};

// The text of the chosen button, or an empty text when the box was closed
// without a choice.
using Asker = std::function<QString(QWidget *parent, const Question &question)>;

// Asks with a modal QMessageBox.
QString askWithMessageBox(QWidget *parent, const Question &question);

#endif  // ZIRKO_GUI_QUESTION_H
