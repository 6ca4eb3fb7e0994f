#ifndef ZIRKO_GUI_SINGLE_INSTANCE_H
#define ZIRKO_GUI_SINGLE_INSTANCE_H

#include <QLockFile>
#include <QObject>
#include <QPointer>
#include <QString>

class QLocalServer;
class QWidget;

// One running copy per user: the first copy holds a lock file and listens on
// a local socket; a later copy finds the lock taken and asks the first one
// to bring its window to the front. A lock left by a crashed copy is stale
// and taken over.
class SingleInstance : public QObject {
  Q_OBJECT

 public:
  // What the running copy answered a later copy.
  enum class Answer {
    Unreachable,   // no answer in time
    Raised,        // it brought its window to the front
    OtherDisplay,  // its window is on another display: raising would not show
  };
  Q_ENUM(Answer)

  // The id names the lock file and the socket, both in the temporary folder;
  // the display is the one this copy's window would open on.
  explicit SingleInstance(const QString &id = defaultId(),
                          const QString &display = currentDisplay(), QObject *parent = nullptr);
  ~SingleInstance() override;

  // Per user, so that two users of one machine each get their copy.
  static QString defaultId();
  // The platform and the display or Wayland socket the program was started on.
  static QString currentDisplay();

  // True when another copy runs; otherwise this copy becomes the one.
  bool isRunning();
  // Asks the running copy to activate its window. *runningDisplay receives
  // the running copy's display when it answers OtherDisplay.
  Answer sendActivate(int timeoutMs = 1000, QString *runningDisplay = nullptr);
  // The window brought to the front when another copy starts.
  void setActivationWindow(QWidget *window, bool activateOnMessage = true);

 signals:
  void activationRequested();

 private:
  void acceptConnection();
  void activateWindow();

  QString m_id;
  QString m_display;
  QLockFile m_lock;
  QLocalServer *m_server = nullptr;
  QPointer<QWidget> m_window;
  bool m_activateOnMessage = false;
};

#endif  // ZIRKO_GUI_SINGLE_INSTANCE_H
