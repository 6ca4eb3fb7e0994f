// The layouts the main window offers: loading them, putting one on show,
// and the Controllers menu that chooses among them.
#include <QFile>
#include <QGraphicsScene>
#include <QMenu>
#include <QSignalMapper>

#include "graphicskeyboard.h"
#include "keyboardgview.h"
#include "keyboardxmlhandler.h"
#include "mainwindow.h"
#include "mainwindow_pictures.h"
#include "zirkobutton.h"

bool MainWindow::loadKeyboards(const QString &path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return false;
  KeyboardXmlHandler handler;
  handler.setKeyboardList(&keyboardList);
  const bool parsed = parseKeyboards(file, handler);
  file.close();
  if (!parsed) {
    Question box =
        standardQuestion(tr("Error parsing ") + path + ".", {"OK"}, window_pictures::kExclamation);
    box.detailedText = handler.errorString();
    m_ask(this, box);
  }
  return parsed;
}

bool MainWindow::selectKeyboard(const QString &name) {
  GraphicsKeyboard *found = nullptr;
  for (GraphicsKeyboard *keyboard : keyboardList) {
    if (keyboard->getName() == name) {
      found = keyboard;
      break;
    }
  }
  if (!found) return false;
  if (currentKeyboard) {
    disconnect(currentKeyboard, &GraphicsKeyboard::clicked, nullptr, nullptr);
    scene->removeItem(currentKeyboard);
  }
  currentKeyboard = found;
  connect(currentKeyboard, &GraphicsKeyboard::clicked, this, &MainWindow::keyboard_clicked);
  scene->addItem(currentKeyboard);
  ui.KeyboardView->setKeyboard(currentKeyboard);
  fitKeyboard();
  // The Controllers menu ticks the layout on show, whoever chose it.
  for (QAction *action : ui.menuController->actions())
    action->setChecked(action->data().toString() == name);
  // During an upgrade the status line tells the upgrade's progress.
  const bool sequenced = currentKeyboard->getSequenced();
  ui.go->setVisible(sequenced);
  if (!m_session->working()) showStatus(receiverReady() ? readyText() : notReadyText());
  return true;
}

void MainWindow::fitKeyboard() {
  if (!currentKeyboard) return;
  const QRectF bounds = currentKeyboard->sceneBoundingRect();
  scene->setSceneRect(bounds);
  ui.KeyboardView->fitInView(bounds, Qt::KeepAspectRatio);
}

void MainWindow::buildControllerMenu() {
  controllerMapper = new QSignalMapper(this);
  bool first = true;
  for (GraphicsKeyboard *keyboard : keyboardList) {
    // The Mac layout shares its picture and menu title with the Windows one.
    if (keyboard->getName() == "Mac_us101") continue;
    auto *action = new QAction(keyboard->getMenu(), this);
    action->setCheckable(true);
    action->setData(keyboard->getName());
    action->setChecked(first);
    first = false;
    controllerMapper->setMapping(action, action);
    connect(action, &QAction::triggered, controllerMapper, qOverload<>(&QSignalMapper::map));
    ui.menuController->addAction(action);
  }
  connect(controllerMapper, &QSignalMapper::mappedObject, this, &MainWindow::menuControllerItem);
}
