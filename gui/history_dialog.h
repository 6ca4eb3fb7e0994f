// Edit → History…: the configurations kept before each change, newest
// first, with the time, the change and the button count; Restore puts the
// chosen one back on the receiver.
#ifndef ZIRKO_GUI_HISTORY_DIALOG_H
#define ZIRKO_GUI_HISTORY_DIALOG_H

#include <QDateTime>
#include <QDialog>
#include <QList>
#include <QString>

class QLabel;
class QPushButton;
class QTreeWidget;

class HistoryDialog : public QDialog {
  Q_OBJECT

 public:
  struct Entry {
    QDateTime time;
    QString change;
    int buttons = 0;
    QString firmware;
    QString file;  // names the entry while newer ones are added
  };

  explicit HistoryDialog(QWidget *parent = nullptr);

  // The entries in the history folder, newest first; false with `problem`
  // when the history cannot be read.
  static bool readEntries(QList<Entry> &entries, QString &problem);
  // Reads the history again and shows it; the chosen entry stays chosen.
  void refresh();
  // Restore is offered only while a receiver can take it.
  void setRestoreAllowed(bool allowed);

  QTreeWidget *list() const { return m_list; }
  QPushButton *restoreButton() const { return m_restore; }
  // The file of the chosen entry, or empty.
  QString chosenFile() const;

 signals:
  void restoreRequested(const QString &file);

 private:
  void updateButtons();

  QLabel *m_where;
  QTreeWidget *m_list;
  QPushButton *m_restore;
  bool m_allowed = false;
};

#endif  // ZIRKO_GUI_HISTORY_DIALOG_H
