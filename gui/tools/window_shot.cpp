// Takes a picture of the main window on whatever receiver ZIRKO_VIRTUAL
// names, without a display: for the pictures in docs/.
// Usage: zirko_window_shot <out.png> <seconds> [test|receivers|history|focus=KEY]
// With "test" the window is in test mode; keys pressed meanwhile (with
// zirko-virtual press HASH) light up as they do for a user. With
// "receivers" the Receiver menu is drawn open over the window. With
// "history" the picture is of the Edit → History… dialog, over the history
// that XDG_STATE_HOME holds. With "focus=KEY" the picture has the keyboard
// focus, on the key named KEY.
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>

#include "graphicskey.h"
#include "graphicskeyboard.h"
#include "history_dialog.h"
#include "keyboardgview.h"
#include "mainwindow.h"
#include "zirko_interrupt.h"

namespace {

// A menu is a window of its own, which a grab of the main window leaves
// out (and which closes at once on a display without a window manager):
// it is opened, grabbed and drawn where it shows.
QPixmap withReceiverMenu(MainWindow &window) {
  QMenuBar *bar = window.widgets().menuBar;
  QMenu *menu = window.receiverMenu();
  menu->popup(bar->mapToGlobal(bar->actionGeometry(menu->menuAction()).bottomLeft()));
  QCoreApplication::processEvents();
  QPixmap shot = window.grab();
  QPainter painter(&shot);
  painter.drawPixmap(window.mapFromGlobal(menu->pos()), menu->grab());
  menu->close();
  return shot;
}

}  // namespace

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  if (argc < 3) {
    std::fprintf(
        stderr,
        "usage: zirko_window_shot <out.png> <seconds> [test|receivers|history|focus=KEY]\n");
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  const int seconds = std::clamp(QString(argv[2]).toInt(), 1, 60);
  const QString mode = argc > 3 ? QString(argv[3]) : QString();
  const bool test = mode == "test";
  const bool receivers = mode == "receivers";
  const bool history = mode == "history";
  const QString focus = mode.startsWith("focus=") ? mode.mid(6) : QString();
  // The layout last chosen in zirko_gui is shown.
  QCoreApplication::setApplicationName("zirko_gui");
  zirko_interrupt worker;
  MainWindow window(&worker, nullptr, MainWindow::programMemory());
  window.show();
  if (test)
    QTimer::singleShot(500, &window, [&] { window.widgets().actionTestMode->setChecked(true); });
  if (history)
    QTimer::singleShot(500, &window, [&] {
      window.historyAction()->trigger();
      // An older entry chosen, as for a restore.
      if (QTreeWidgetItem *older = window.historyDialog()->list()->topLevelItem(1))
        older->setSelected(true);
    });
  if (!focus.isEmpty())
    // Once the window is active, which takes a moment under Xvfb.
    QTimer::singleShot(1500, &window, [&] {
      QApplication::setActiveWindow(&window);
      KeyboardGView *view = window.widgets().KeyboardView;
      // Entered as by Tab, which shows the ring.
      view->clearFocus();
      view->setFocus(Qt::TabFocusReason);
      GraphicsKeyboard *layout = window.shownKeyboard();
      for (GraphicsKey *key : layout ? layout->getKeys() : QList<GraphicsKey *>())
        if (key->getName() == focus) layout->setFocusedKey(key);
    });
  int result = 1;
  QTimer::singleShot(seconds * 1000, &window, [&] {
    if (window.historyDialog())
      result = window.historyDialog()->grab().save(out) ? 0 : 1;
    else
      result = (receivers ? withReceiverMenu(window) : window.grab()).save(out) ? 0 : 1;
    app.quit();
  });
  app.exec();
  return result;
}
