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

// A box of the toolkit's standard buttons; the last, the cautious one, is
// the default.
inline Question standardQuestion(const QString &text, const QStringList &buttons,
                                 const QString &iconPath = {}) {
  Question box;
  box.text = text;
  box.iconPath = iconPath;
  box.buttons = buttons;
  box.defaultButton = buttons.last();
  box.standardButtons = true;
  return box;
}

// The text of the chosen button, or an empty text when the box was closed
// without a choice.
using Asker = std::function<QString(QWidget *parent, const Question &question)>;

// Asks with a modal QMessageBox.
QString askWithMessageBox(QWidget *parent, const Question &question);

// A file to open or save, chosen by the user.
struct FileRequest {
  enum Mode { kOpen, kSave };
  Mode mode = kOpen;
  QString title;
  QString proposedFile;
  QString filter;
};

// The chosen path, or an empty text when the dialog was cancelled.
using FileChooser = std::function<QString(QWidget *parent, const FileRequest &request)>;

// Chooses with the modal file dialogs of the toolkit.
QString chooseWithFileDialog(QWidget *parent, const FileRequest &request);

#endif  // ZIRKO_GUI_QUESTION_H
