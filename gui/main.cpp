#include <QApplication>
#include <QMessageBox>
#include <cstdio>

#include "command_line.h"
#include "mainwindow.h"
#include "settings.h"
#include "single_instance.h"
#include "zirko_interrupt.h"

namespace {

QStringList arguments(int argc, char *argv[]) {
  QStringList list;
  for (int i = 0; i < argc; ++i) list << QString::fromLocal8Bit(argv[i]);
  return list;
}

// A later copy says so, and when the running window is on another display,
// where raising it would show nothing here, it says so in a window too.
void handOver(SingleInstance &instance) {
  std::fputs("Zirko is already running\n", stderr);
  QString display;
  if (instance.sendActivate(1000, &display) != SingleInstance::Answer::OtherDisplay) return;
  QMessageBox::information(nullptr, "Zirko",
                           QString("Zirko is already running on %1.\n"
                                   "Close it there before starting it here.")
                               .arg(display));
}

}  // namespace

int main(int argc, char *argv[]) {
  // Before QApplication, which needs a display.
  if (const auto status = answerCommandLine(arguments(argc, argv))) return *status;

  QApplication app(argc, argv);
  SingleInstance instance;

  // Hand over before the settings are read: opening the log file would
  // empty the running copy's log under its feet.
  if (instance.isRunning()) {
    handOver(instance);
    return 0;
  }

  loadSettings(
      SettingsPaths::fromEnvironment(QCoreApplication::applicationDirPath().toStdString()));

  // Never deleted: a generation-1 wait may still block in it at the end.
  auto *worker = new zirko_interrupt();
  auto *window = new MainWindow(worker);
  instance.setActivationWindow(window, true);
  window->show();
  app.exec();

  delete window;
  return 0;
}
