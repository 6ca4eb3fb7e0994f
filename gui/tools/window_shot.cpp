// Takes a picture of the main window on whatever receiver ZIRKO_VIRTUAL
// names, without a display: for the pictures in docs/.
// Usage: zirko_window_shot <out.png> <seconds> [test|history]
// With "test" the window is in test mode; keys pressed meanwhile (with
// zirko-virtual press HASH) light up as they do for a user. With "history"
// the picture is of the Edit → History… dialog, over the history that
// XDG_STATE_HOME holds.
#include <QAction>
#include <QApplication>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>

#include "history_dialog.h"
#include "mainwindow.h"
#include "zirko_interrupt.h"

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: zirko_window_shot <out.png> <seconds> [test|history]\n");
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  const int seconds = std::clamp(QString(argv[2]).toInt(), 1, 60);
  const bool test = argc > 3 && QString(argv[3]) == "test";
  const bool history = argc > 3 && QString(argv[3]) == "history";
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
  int result = 1;
  QTimer::singleShot(seconds * 1000, &window, [&] {
    QWidget *shown = window.historyDialog() ? static_cast<QWidget *>(window.historyDialog())
                                            : static_cast<QWidget *>(&window);
    result = shown->grab().save(out) ? 0 : 1;
    app.quit();
  });
  app.exec();
  return result;
}
