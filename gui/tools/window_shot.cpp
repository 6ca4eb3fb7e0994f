// Takes a picture of the main window on whatever receiver ZIRKO_VIRTUAL
// names, without a display: for the pictures in docs/.
// Usage: zirko_window_shot <out.png> <seconds> [test]
// With "test" the window is in test mode; keys pressed meanwhile (with
// zirko-virtual press HASH) light up as they do for a user.
#include <QAction>
#include <QApplication>
#include <QTimer>
#include <cstdio>

#include "mainwindow.h"
#include "zirko_interrupt.h"

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: zirko_window_shot <out.png> <seconds> [test]\n");
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  const int seconds = std::clamp(QString(argv[2]).toInt(), 1, 60);
  const bool test = argc > 3 && QString(argv[3]) == "test";
  // The layout last chosen in zirko_gui is shown.
  QCoreApplication::setApplicationName("zirko_gui");
  zirko_interrupt worker;
  MainWindow window(&worker, nullptr, MainWindow::programMemory());
  window.show();
  if (test)
    QTimer::singleShot(500, &window, [&] { window.widgets().actionTestMode->setChecked(true); });
  int result = 1;
  QTimer::singleShot(seconds * 1000, &window, [&] {
    result = window.grab().save(out) ? 0 : 1;
    app.quit();
  });
  app.exec();
  return result;
}
