#include "history_dialog.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "zirko_history.h"

namespace {

constexpr int kFileRole = Qt::UserRole;

}  // namespace

HistoryDialog::HistoryDialog(QWidget *parent)
    : QDialog(parent),
      m_where(new QLabel(this)),
      m_list(new QTreeWidget(this)),
      m_restore(new QPushButton(tr("&Restore"), this)) {
  setWindowTitle(tr("History"));
  m_where->setWordWrap(true);
  m_where->setTextInteractionFlags(Qt::TextSelectableByMouse);
  m_list->setColumnCount(3);
  m_list->setHeaderLabels({tr("Time"), tr("Change"), tr("Buttons")});
  m_list->setRootIsDecorated(false);
  m_list->setSelectionMode(QAbstractItemView::SingleSelection);
  m_list->setAlternatingRowColors(true);
  m_list->header()->setStretchLastSection(false);
  m_list->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  m_list->header()->setSectionResizeMode(1, QHeaderView::Stretch);
  m_list->header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
  m_restore->setToolTip(
      tr("Put the chosen configuration back on zirko; the one it replaces is "
         "kept, so a restore can be undone"));

  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  buttons->addButton(m_restore, QDialogButtonBox::ActionRole);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(m_restore, &QPushButton::clicked, this, [this] {
    const QString file = chosenFile();
    if (!file.isEmpty()) emit restoreRequested(file);
  });
  connect(m_list, &QTreeWidget::itemSelectionChanged, this, &HistoryDialog::updateButtons);

  auto *layout = new QVBoxLayout(this);
  layout->addWidget(m_where);
  layout->addWidget(m_list);
  layout->addWidget(buttons);
  resize(560, 360);
  updateButtons();
}

bool HistoryDialog::readEntries(QList<Entry> &entries, QString &problem) {
  entries.clear();
  const int count = zk_history_count();
  if (count < 0) {
    problem = QString::fromLocal8Bit(zk_history_error());
    return false;
  }
  for (int n = 1; n <= count; ++n) {
    zk_history_entry e;
    if (zk_history_entry_at(n, &e) != 0) {
      problem = QString::fromLocal8Bit(zk_history_error());
      return false;
    }
    entries.append({QDateTime::fromSecsSinceEpoch(e.time), QString::fromUtf8(e.change), e.buttons,
                    QString::fromLocal8Bit(e.firmware), QString::fromLocal8Bit(e.file)});
  }
  return true;
}

void HistoryDialog::refresh() {
  const QString chosen = chosenFile();
  QList<Entry> entries;
  QString problem;
  const bool read = readEntries(entries, problem);
  char path[4096] = "";
  zk_history_folder(path, sizeof path);
  // The home folder as people write it.
  QString folder = QString::fromLocal8Bit(path);
  const QString home = QDir::homePath();
  if (home != "/" && folder.startsWith(home + '/')) folder = "~" + folder.mid(home.size());
  if (!read)
    m_where->setText(tr("The history cannot be read: %1").arg(problem));
  else if (entries.isEmpty())
    m_where->setText(tr("No change has been kept yet (%1)").arg(folder));
  else
    m_where->setText(tr("zirko's configuration before each change, newest first (%1)").arg(folder));
  m_list->clear();
  bool reselected = false;
  for (const Entry &e : std::as_const(entries)) {
    auto *item = new QTreeWidgetItem(
        m_list, {e.time.toString("yyyy-MM-dd HH:mm:ss"), e.change, QString::number(e.buttons)});
    item->setData(0, kFileRole, e.file);
    item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
    item->setToolTip(1, tr("firmware %1").arg(e.firmware));
    if (!reselected && e.file == chosen) item->setSelected(reselected = true);
  }
  updateButtons();
}

void HistoryDialog::setRestoreAllowed(bool allowed) {
  m_allowed = allowed;
  updateButtons();
}

QString HistoryDialog::chosenFile() const {
  const QList<QTreeWidgetItem *> chosen = m_list->selectedItems();
  return chosen.isEmpty() ? QString() : chosen.first()->data(0, kFileRole).toString();
}

void HistoryDialog::updateButtons() {
  m_restore->setEnabled(m_allowed && !chosenFile().isEmpty());
}
