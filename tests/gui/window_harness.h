// A shown main window on a virtual receiver whose questions and file dialogs
// are answered by the test: each question pops the next answer (none left:
// closed without a choice), each file dialog the next chosen path (none
// left: cancelled).
#ifndef ZIRKO_TESTS_GUI_WINDOW_HARNESS_H
#define ZIRKO_TESTS_GUI_WINDOW_HARNESS_H

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QLabel>
#include <QStringList>
#include <memory>

#include "mainwindow.h"
#include "receiver_rig.h"
#include "zirko_interrupt.h"

struct WindowHarness {
  std::unique_ptr<zk::test::VirtualRig> rig = std::make_unique<zk::test::VirtualRig>();
  std::unique_ptr<zirko_interrupt> worker = std::make_unique<zirko_interrupt>();
  std::unique_ptr<MainWindow> window = std::make_unique<MainWindow>(worker.get());
  QList<Question> asked;
  QStringList answers;
  QList<FileRequest> fileRequests;
  QStringList chosenFiles;

  WindowHarness() {
    window->setAsker([this](QWidget *, const Question &q) {
      asked.append(q);
      return answers.isEmpty() ? QString() : answers.takeFirst();
    });
    window->setFileChooser([this](QWidget *, const FileRequest &request) {
      fileRequests.append(request);
      return chosenFiles.isEmpty() ? QString() : chosenFiles.takeFirst();
    });
    // A bootloader found is taken on the next poll, as nobody else uses it.
    window->session()->setBootloaderGrace(std::chrono::milliseconds(0));
    window->show();
  }
  ~WindowHarness() {
    window.reset();
    worker.reset();
    rig.reset();
  }

  // A poll, and the map read it may start off the window's thread.
  void poll() {
    window->checkHardwareStatus();
    awaitMapRead();
  }
  bool awaitMapRead(int timeoutMs = 20000) {
    QDeadlineTimer deadline(timeoutMs);
    while (session()->readingMap() && !deadline.hasExpired())
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return !session()->readingMap();
  }
  ReceiverSession *session() const { return window->session(); }
  // Lets a running upgrade end and its result reach the window; false when
  // it is still running after the time given.
  bool awaitUpgrade(int timeoutMs = 20000) {
    QDeadlineTimer deadline(timeoutMs);
    while (window->isUpgrading() && !deadline.hasExpired())
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return !window->isUpgrading();
  }
  // Lets a clear or a restore, which run off the window's thread, end.
  bool awaitJob(int timeoutMs = 20000) { return awaitUpgrade(timeoutMs); }
  QString status() const { return window->widgets().Notification->text(); }
  QString title() const { return window->windowTitle(); }
  QString version() const { return window->widgets().version->text(); }
  int pagesSent() { return rig->RequestCount(0x42, 9); }
  int bootloaderRequests() { return rig->RequestCount(0xC2, 5); }
  std::vector<uint8_t> flash() { return rig->receiver().snapshot().flash; }
  static std::vector<uint8_t> resource(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = file.readAll();
    return {bytes.begin(), bytes.end()};
  }
};

#endif  // ZIRKO_TESTS_GUI_WINDOW_HARNESS_H
