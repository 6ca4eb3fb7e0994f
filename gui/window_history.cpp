// The window's side of the history: Edit → Undo and Edit → History…, and
// the questions the session raises when a configuration cannot be kept or
// a bulk write was cut off. The session keeps and writes; the window asks.
#include <QAction>
#include <QMenu>
#include <QMenuBar>

#include "history_dialog.h"
#include "mainwindow.h"
#include "mainwindow_pictures.h"

void MainWindow::addEditMenu() {
  m_menuEdit = new QMenu(tr("&Edit"), ui.menuBar);
  m_menuEdit->setObjectName("menuEdit");
  m_actionUndo = m_menuEdit->addAction(tr("&Undo"), this, &MainWindow::menuUndo);
  m_actionUndo->setObjectName("actionUndo");
  m_actionUndo->setShortcut(QKeySequence::Undo);
  m_actionUndo->setToolTip(tr("Put back zirko's configuration from before the last change"));
  m_actionHistory = m_menuEdit->addAction(tr("&History…"), this, &MainWindow::menuHistory);
  m_actionHistory->setObjectName("actionHistory");
  ui.menuBar->insertMenu(ui.menuController->menuAction(), m_menuEdit);

  connect(m_session, &ReceiverSession::historyUnkept, this,
          [this](const QString &reason) { m_session->answerUnkept(agreeUnkept(reason)); });
  connect(m_session, &ReceiverSession::recoveryOffered, this, &MainWindow::askRecovery);
  connect(m_session, &ReceiverSession::mapChanged, this, &MainWindow::refreshHistory);
  connect(m_session, &ReceiverSession::stateChanged, this, &MainWindow::refreshHistory);
  connect(m_session, &ReceiverSession::jobEnded, this, &MainWindow::refreshHistory);
}

// Keeps the configuration before a change that starts on this thread; when
// it cannot be kept, the user decides.
bool MainWindow::keptOrAgreed(const QString &change) {
  if (m_session->keepBefore(change)) return true;
  return agreeUnkept(m_session->historyProblem());
}

bool MainWindow::agreeUnkept(const QString &reason) {
  Question box;
  box.text = tr("The configuration could not be kept in the history");
  box.informativeText =
      tr("%1\n\nChange zirko anyway? This change could not be undone.").arg(reason);
  box.iconPath = window_pictures::kExclamation;
  box.buttons = QStringList{"Change anyway", "Cancel"};
  box.defaultButton = "Cancel";
  if (m_ask(this, box) == "Change anyway") return true;
  showStatus(tr("Canceled"));
  return false;
}

void MainWindow::askRecovery(int id, const QString &change) {
  Question box;
  if (change == ReceiverSession::kUpgradeChange) {
    box.text = tr("The upgrade lost or changed zirko's configuration");
    box.informativeText =
        tr("The configuration from before the upgrade is in the history.\n\nRestore it now?");
  } else {
    box.text = tr("The last change to zirko was cut off");
    box.informativeText =
        tr("'%1' did not finish, so zirko may hold part of it. The configuration from before "
           "it is in the history.\n\nRestore it now?")
            .arg(change);
  }
  box.iconPath = window_pictures::kExclamation;
  box.buttons = QStringList{"Restore", "Not now"};
  box.defaultButton = "Restore";
  const bool restore = m_ask(this, box) == "Restore";
  if (!restore) showStatus(tr("Edit → History… can restore it later"));
  m_session->answerRecovery(id, restore);
}

void MainWindow::menuUndo() {
  if (refuseWhileWorking()) return;
  if (!receiverReady()) {
    refuseWithoutReceiver();
    return;
  }
  stopCurrentOperation();
  m_session->undo();
}

void MainWindow::menuHistory() {
  if (!m_history) {
    m_history = new HistoryDialog(this);
    connect(m_history, &HistoryDialog::restoreRequested, this, &MainWindow::restoreFromHistory);
  }
  m_history->show();
  refreshHistory();
  m_history->raise();
  m_history->activateWindow();
}

void MainWindow::restoreFromHistory(const QString &file) {
  if (refuseWhileWorking()) return;
  if (!receiverReady()) {
    refuseWithoutReceiver();
    return;
  }
  stopCurrentOperation();
  m_session->restoreEntry(file);
}

// The shown list follows every change; a job running owns the library, and
// its end refreshes it.
void MainWindow::refreshHistory() {
  if (!m_history || !m_history->isVisible()) return;
  m_history->setRestoreAllowed(receiverReady() && !m_session->working());
  if (!m_session->working()) m_history->refresh();
}
