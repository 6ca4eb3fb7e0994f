#include <QApplication>
#include <QDir>
#include <cstdio>

#include "mainwindow.h"
#include "settings.h"
#include "single_instance.h"
#include "zirko_interrupt.h"

int main(int argc, char *argv[]) {
  QApplication app(argc, argv);
  SingleInstance instance;

  // Hand over before the settings are read: opening the log file would
  // empty the running copy's log under its feet.
  if (instance.isRunning()) {
    instance.sendActivate();
    return 0;
  }

  FILE *logFile = nullptr;
  loadSettings(QCoreApplication::applicationDirPath().toStdString(), QDir::homePath().toStdString(),
               &logFile);

  // Never deleted: a generation-1 wait may still block in it at the end.
  auto *worker = new zirko_interrupt();
  auto *window = new MainWindow(worker);
  instance.setActivationWindow(window, true);
  window->show();
  app.exec();

  delete window;
  // Closed last, so that nothing logs into a closed stream.
  if (logFile) std::fclose(logFile);
  return 0;
}
