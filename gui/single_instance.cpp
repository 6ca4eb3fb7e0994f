#include "single_instance.h"

#include <unistd.h>

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QWidget>

namespace {

const QByteArray kActivate = "activate\n";

}  // namespace

SingleInstance::SingleInstance(const QString &id, QObject *parent)
    : QObject(parent), m_id(id), m_lock(QDir::temp().filePath(id + ".lock")) {
  // Only a lock whose owner no longer runs is stale, however old it is.
  m_lock.setStaleLockTime(0);
}

SingleInstance::~SingleInstance() {
  if (m_server) m_server->close();
}

QString SingleInstance::defaultId() {
  return QString("zirko_gui-%1").arg(getuid());
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

bool SingleInstance::sendActivate(int timeoutMs) {
  QLocalSocket socket;
  socket.connectToServer(m_id);
  if (!socket.waitForConnected(timeoutMs)) return false;
  socket.write(kActivate);
  const bool sent = socket.waitForBytesWritten(timeoutMs);
  socket.disconnectFromServer();
  return sent;
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
        if (socket->readLine() == kActivate) {
          activateWindow();
          emit activationRequested();
        }
      }
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
