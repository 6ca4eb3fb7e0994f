#include "question.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QGridLayout>
#include <QHash>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpacerItem>
#include <QWidget>

namespace {

QMessageBox::StandardButton standardButton(const QString &text) {
  static const QHash<QString, QMessageBox::StandardButton> kButtons = {
      {"Yes", QMessageBox::Yes},
      {"No", QMessageBox::No},
      {"OK", QMessageBox::Ok},
      {"Cancel", QMessageBox::Cancel},
  };
  return kButtons.value(text, QMessageBox::NoButton);
}

}  // namespace

QString askWithMessageBox(QWidget *parent, const Question &question) {
  QMessageBox box(parent);
  box.setText(question.text);
  if (!question.informativeText.isEmpty()) box.setInformativeText(question.informativeText);
  if (!question.detailedText.isEmpty()) box.setDetailedText(question.detailedText);
  if (!question.iconPath.isEmpty()) box.setIconPixmap(QPixmap(question.iconPath));
  // Addresses and versions in a box can be copied.
  box.setTextInteractionFlags(Qt::TextSelectableByMouse);

  QHash<QAbstractButton *, QString> texts;
  for (const QString &text : question.buttons) {
    QPushButton *button = nullptr;
    const auto standard = question.standardButtons ? standardButton(text) : QMessageBox::NoButton;
    if (standard != QMessageBox::NoButton)
      button = box.addButton(standard);
    else
      button = box.addButton(text, QMessageBox::ActionRole);
    texts.insert(button, text);
    if (text == question.defaultButton) box.setDefaultButton(button);
  }
  if (question.minimumWidth > 0) {
    if (auto *grid = qobject_cast<QGridLayout *>(box.layout())) {
      grid->addItem(
          new QSpacerItem(question.minimumWidth, 0, QSizePolicy::Minimum, QSizePolicy::Expanding),
          grid->rowCount(), 0, 1, grid->columnCount());
    }
  }
  // Over the window, even before the window manager has placed it.
  if (parent) {
    box.adjustSize();
    box.move(parent->window()->geometry().center() - box.rect().center());
  }
  box.exec();
  return texts.value(box.clickedButton());
}

QString chooseWithFileDialog(QWidget *parent, const FileRequest &request) {
  if (request.mode != FileRequest::kSave)
    return QFileDialog::getOpenFileName(parent, request.title, request.proposedFile,
                                        request.filter);
  // The dialog adds the filter's extension itself, before it asks whether to
  // replace an existing file: a name typed without it must meet that question.
  QFileDialog dialog(parent, request.title, request.proposedFile, request.filter);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  const QRegularExpressionMatch suffix =
      QRegularExpression(QStringLiteral("\\*\\.(\\w+)")).match(request.filter);
  if (suffix.hasMatch()) dialog.setDefaultSuffix(suffix.captured(1));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
  return dialog.selectedFiles().first();
}
