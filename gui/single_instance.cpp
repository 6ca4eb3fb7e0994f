#include "single_instance.h"

#include <unistd.h>

#include <QDir>
#include <QGuiApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QWidget>

namespace {

// A later copy sends "activate <its display>"; the running copy answers
// "raised" or "display <its own display>", one line each.
const QByteArray kActivate = "activate ";
const QByteArray kRaised = "raised\n";
const QByteArray kDisplay = "display ";
// Longer lines are not ours: a peer can't make the running copy buffer more.
constexpr qint64 kMaxLine = 1024;

}  // namespace

SingleInstance::SingleInstance(const QString &id, const QString &display, QObject *parent)
    : QObject(parent), m_id(id), m_display(display), m_lock(QDir::temp().filePath(id + ".lock")) {
  // Only a lock whose owner no longer runs is stale, however old it is.
  m_lock.setStaleLockTime(0);
}

SingleInstance::~SingleInstance() {
  if (m_server) m_server->close();
}

QString SingleInstance::defaultId() {
  return QString("zirko_gui-%1").arg(getuid());
}

QString SingleInstance::currentDisplay() {
  const QString platform = QGuiApplication::platformName();
  const QString name = platform == "wayland" ? qEnvironmentVariable("WAYLAND_DISPLAY")
                                             : qEnvironmentVariable("DISPLAY");
  return name.isEmpty() ? platform : platform + " " + name;
}

bool SingleInstance::isRunning() {
  if (m_server) return false;
  if (!m_lock.tryLock(0)) {
    // Only a lock held by a live copy counts; a lock that can't be written at
    // all must not keep the program from starting.
    return m_lock.error() == QLockFile::LockFailedError;
  }
  m_server = new QLocalServer(this);
  // A socket left behind by a crashed copy would block listening.
  QLocalServer::removeServer(m_id);
  m_server->setSocketOptions(QLocalServer::UserAccessOption);
  m_server->listen(m_id);
  connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnection);
  return false;
}

SingleInstance::Answer SingleInstance::sendActivate(int timeoutMs, QString *runningDisplay) {
  QLocalSocket socket;
  socket.connectToServer(m_id);
  if (!socket.waitForConnected(timeoutMs)) return Answer::Unreachable;
  socket.write(kActivate + m_display.toUtf8() + "\n");
  if (!socket.waitForBytesWritten(timeoutMs)) return Answer::Unreachable;
  while (!socket.canReadLine() && socket.bytesAvailable() < kMaxLine) {
    if (!socket.waitForReadyRead(timeoutMs)) return Answer::Unreachable;
  }
  const QByteArray answer = socket.readLine(kMaxLine);
  socket.disconnectFromServer();
  if (answer == kRaised) return Answer::Raised;
  if (!answer.startsWith(kDisplay) || !answer.endsWith('\n')) return Answer::Unreachable;
  if (runningDisplay) *runningDisplay = QString::fromUtf8(answer.mid(kDisplay.size()).chopped(1));
  return Answer::OtherDisplay;
}

void SingleInstance::setActivationWindow(QWidget *window, bool activateOnMessage) {
  m_window = window;
  m_activateOnMessage = activateOnMessage;
}

void SingleInstance::acceptConnection() {
  while (QLocalSocket *socket = m_server->nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
      while (socket->canReadLine()) {
        const QByteArray line = socket->readLine(kMaxLine);
        if (!line.startsWith(kActivate) || !line.endsWith('\n')) continue;
        const QString display = QString::fromUtf8(line.mid(kActivate.size()).chopped(1));
        if (display != m_display) {
          socket->write(kDisplay + m_display.toUtf8() + "\n");
          continue;
        }
        socket->write(kRaised);
        activateWindow();
        emit activationRequested();
      }
      if (!socket->canReadLine() && socket->bytesAvailable() >= kMaxLine) socket->abort();
    });
  }
}

void SingleInstance::activateWindow() {
  if (!m_window || !m_activateOnMessage) return;
  m_window->setWindowState(m_window->windowState() & ~Qt::WindowMinimized);
  m_window->show();
  m_window->raise();
  m_window->activateWindow();
}
