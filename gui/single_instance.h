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
  // The id names the lock file and the socket, both in the temporary folder.
  explicit SingleInstance(const QString &id = defaultId(), QObject *parent = nullptr);
  ~SingleInstance() override;

  // Per user, so that two users of one machine each get their copy.
  static QString defaultId();

  // True when another copy runs; otherwise this copy becomes the one.
  bool isRunning();
  // Asks the running copy to activate its window; false when it can't be reached.
  bool sendActivate(int timeoutMs = 1000);
  // The window brought to the front when another copy starts.
  void setActivationWindow(QWidget *window, bool activateOnMessage = true);

 signals:
  void activationRequested();

 private:
  void acceptConnection();
  void activateWindow();

  QString m_id;
  QLockFile m_lock;
  QLocalServer *m_server = nullptr;
  QPointer<QWidget> m_window;
  bool m_activateOnMessage = false;
};

#endif  // ZIRKO_GUI_SINGLE_INSTANCE_H
